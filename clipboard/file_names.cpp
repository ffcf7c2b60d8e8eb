#include "clipboard/file_names.h"

#include <cstring>

#include "clipboard/file_list.h"

namespace {

// One well-formed UTF-8 character at s (n bytes left): its code point and
// length in *bytes; -1 when the bytes there are no such character.
int32_t decodeUtf8(const uint8_t* s, size_t n, size_t* bytes)
{
    const uint8_t c = s[0];
    const size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || length > n) return -1;
    uint32_t point = length == 1 ? c : c & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return -1;
        point = (point << 6) | (s[i] & 0x3F);
    }
    static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < LEAST[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return -1;
    *bytes = length;
    return static_cast<int32_t>(point);
}

void appendUtf8(std::string& out, uint32_t point)
{
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// UTF-16 units of well-formed UTF-8.
int32_t units(const std::string& s, size_t from = 0, size_t to = std::string::npos)
{
    if (to > s.size()) to = s.size();
    int32_t count = 0;
    for (size_t at = from; at < to;) {
        size_t bytes = 1;
        const int32_t point = decodeUtf8(reinterpret_cast<const uint8_t*>(s.data()) + at, to - at, &bytes);
        count += point >= 0x10000 ? 2 : 1;
        at += bytes;
    }
    return count;
}

// The longest start of well-formed UTF-8 that is at most `most` UTF-16 units.
std::string cutToUnits(const std::string& s, int32_t most)
{
    int32_t count = 0;
    size_t at = 0;
    while (at < s.size()) {
        size_t bytes = 1;
        const int32_t point = decodeUtf8(reinterpret_cast<const uint8_t*>(s.data()) + at, s.size() - at, &bytes);
        const int32_t u = point >= 0x10000 ? 2 : 1;
        if (count + u > most) break;
        count += u;
        at += bytes;
    }
    return s.substr(0, at);
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Where a device name's base ends (before its first dot, trailing spaces
// included), or npos when the name is no device's.
size_t deviceBaseEnd(const std::string& name)
{
    size_t end = name.find('.');
    if (end == std::string::npos) end = name.size();
    size_t base = end;
    while (base > 0 && name[base - 1] == ' ') --base;
    if (base < 3 || base > 7) return std::string::npos;
    std::string word;
    for (size_t i = 0; i < base; ++i) word += upper(name[i]);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (word == device) return end;
    if (base == 4 && (word.compare(0, 3, "COM") == 0 || word.compare(0, 3, "LPT") == 0) && word[3] >= '1' &&
        word[3] <= '9')
        return end;
    return std::string::npos;
}

// Where the extension starts (at its dot): a dot after the first character,
// followed by at most 16 units; the end when there is none.
size_t extensionAt(const std::string& name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || units(name, dot) > 16) return name.size();
    return dot;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A file:// URI's local path, or "" when it names none.
std::string localPath(std::string uri)
{
    while (!uri.empty() && (uri.back() == '\r' || uri.back() == ' ' || uri.back() == '\t')) uri.pop_back();
    if (uri.size() < 6) return "";
    for (size_t i = 0; i < 5; ++i)
        if ((uri[i] | 0x20) != "file:"[i]) return "";
    std::string rest = uri.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        const size_t slash = rest.find('/', 2);
        if (slash == std::string::npos) return "";
        const std::string host = rest.substr(2, slash - 2);
        if (!host.empty() && host != "localhost") return "";
        rest.erase(0, slash);
    }
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '?' || rest[i] == '#') break;
        if (rest[i] == '%' && i + 2 < rest.size() && hexValue(rest[i + 1]) >= 0 && hexValue(rest[i + 2]) >= 0) {
            path += static_cast<char>(hexValue(rest[i + 1]) * 16 + hexValue(rest[i + 2]));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return "";
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
        at = end + 1;
    }
    return out;
}

}  // namespace

std::string windowsName(const std::string& name)
{
    std::string out;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(name.data());
    for (size_t at = 0; at < name.size();) {
        size_t bytes = 1;
        const int32_t point = decodeUtf8(s + at, name.size() - at, &bytes);
        if (point < 0x20 || (point < 0x80 && std::strchr("\\/:*?\"<>|", point))) out += '_';
        else out.append(name, at, bytes);
        at += bytes;
    }
    if (out.empty()) out = "_";
    if (out.back() == '.' || out.back() == ' ') out.back() = '_';
    const size_t device = deviceBaseEnd(out);
    if (device != std::string::npos) out.insert(device, "_");
    if (units(out) > FILE_NAME_MAX) {
        const size_t ext = extensionAt(out);
        const std::string extension = out.substr(ext);
        out = cutToUnits(out.substr(0, ext), FILE_NAME_MAX - units(extension)) + extension;
        if (out.back() == '.' || out.back() == ' ') out.back() = '_';
    }
    return out;
}

std::string foldedName(const std::string& name)
{
    std::string out;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(name.data());
    for (size_t at = 0; at < name.size();) {
        size_t bytes = 1;
        int32_t point = decodeUtf8(s + at, name.size() - at, &bytes);
        if (point < 0) {
            out += name[at++];
            continue;
        }
        if ((point >= 'a' && point <= 'z') || (point >= 0xE0 && point <= 0xFE && point != 0xF7) ||
            (point >= 0x3B1 && point <= 0x3C9 && point != 0x3C2) || (point >= 0x430 && point <= 0x44F))
            point -= 0x20;
        else if (point >= 0x450 && point <= 0x45F)
            point -= 0x50;
        appendUtf8(out, static_cast<uint32_t>(point));
        at += bytes;
    }
    return out;
}

std::string FolderNames::unique(const std::string& name)
{
    std::string candidate = name;
    for (int n = 2;; ++n) {
        const std::string folded = foldedName(candidate);
        bool taken = false;
        for (const std::string& t : taken_)
            if (t == folded) taken = true;
        if (!taken) {
            taken_.push_back(folded);
            return candidate;
        }
        const size_t ext = extensionAt(name);
        const std::string suffix = " (" + std::to_string(n) + ")" + name.substr(ext);
        candidate = cutToUnits(name.substr(0, ext), FILE_NAME_MAX - units(suffix)) + suffix;
    }
}

std::string fileUri(const std::string& path)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("-._~/", c)) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += HEX[c >> 4];
            uri += HEX[c & 15];
        }
    }
    return uri;
}

std::vector<std::string> pathsFromUriList(const std::string& text)
{
    std::vector<std::string> paths;
    for (const std::string& line : lines(text)) {
        if (line.empty() || line[0] == '#') continue;
        const std::string path = localPath(line);
        if (!path.empty()) paths.push_back(path);
    }
    return paths;
}

std::vector<std::string> pathsFromGnomeCopied(const std::string& text, bool* cut)
{
    std::vector<std::string> all = lines(text);
    if (cut) *cut = !all.empty() && all[0] == "cut";
    std::vector<std::string> paths;
    for (size_t i = 0; i < all.size(); ++i) {
        if (i == 0 && (all[0] == "copy" || all[0] == "cut")) continue;
        const std::string path = localPath(all[i]);
        if (!path.empty()) paths.push_back(path);
    }
    return paths;
}

std::string uriListOf(const std::vector<std::string>& paths)
{
    std::string out;
    for (const std::string& path : paths) out += fileUri(path) + "\r\n";
    return out;
}

std::string gnomeCopiedOf(const std::vector<std::string>& paths)
{
    std::string out = "copy";
    for (const std::string& path : paths) out += "\n" + fileUri(path);
    return out;
}
