#include "clipboard/text_convert.h"

#include <cstdint>

namespace {

// Windows-1252 from 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr uint16_t HIGH_CONTROLS[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr uint32_t REPLACEMENT = 0xFFFD;

void putUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The character at text[*at], *at moved past it; REPLACEMENT and one byte
// for anything that is not a well formed character.
uint32_t nextCharacter(const uint8_t* text, size_t n, size_t* at)
{
    const uint8_t lead = text[*at];
    int length = 0;
    uint32_t c = 0, lowest = 0;
    if (lead < 0x80) {
        ++*at;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, lowest = 0x10000;
    }
    if (length == 0 || *at + length > n) {
        ++*at;
        return REPLACEMENT;
    }
    for (int i = 1; i < length; ++i) {
        const uint8_t next = text[*at + i];
        if ((next & 0xC0) != 0x80) {
            ++*at;
            return REPLACEMENT;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++*at;
        return REPLACEMENT;
    }
    *at += length;
    return c;
}

char cp1252Byte(uint32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i)
        if (HIGH_CONTROLS[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

std::string utf8FromCp1252(const char* text, size_t n)
{
    std::string out;
    out.reserve(n + n / 8);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t byte = static_cast<uint8_t>(text[i]);
        putUtf8(out, byte >= 0x80 && byte < 0xA0 ? HIGH_CONTROLS[byte - 0x80] : byte);
    }
    return out;
}

std::string cp1252FromUtf8(const char* text, size_t n)
{
    std::string out;
    out.reserve(n);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
    for (size_t at = 0; at < n;) out += cp1252Byte(nextCharacter(bytes, n, &at));
    return out;
}

std::string sanitizedUtf8(const char* text, size_t n)
{
    std::string out;
    out.reserve(n);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
    for (size_t at = 0; at < n;) {
        const size_t from = at;
        const uint32_t c = nextCharacter(bytes, n, &at);
        if (c == REPLACEMENT && at - from == 1) putUtf8(out, c);
        else out.append(text + from, at - from);  // well formed: as it came
    }
    return out;
}

std::string unixLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

std::string windowsLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}
