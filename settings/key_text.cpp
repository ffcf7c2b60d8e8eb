#include "settings/key_text.h"

void formatNewKey(const uint8_t random[NEW_KEY_RANDOM_BYTES], char out[NEW_KEY_TEXT])
{
    int32_t written = 0;
    uint32_t bits = 0;
    int32_t held = 0;
    int32_t symbols = 0;
    for (int32_t i = 0; i < NEW_KEY_RANDOM_BYTES; ++i) {
        bits = (bits << 8) | random[i];
        held += 8;
        while (held >= 5) {
            held -= 5;
            if (symbols > 0 && symbols % 4 == 0) out[written++] = '-';
            out[written++] = KEY_SYMBOLS[(bits >> held) & 31];
            ++symbols;
        }
    }
    out[written] = '\0';
}

int32_t normalizeLinkKey(const char* text, uint8_t* out, int32_t room)
{
    int32_t n = 0;
    for (; *text && n < room; ++text) {
        char c = *text;
        if (c == ' ' || c == '\t' || c == '-' || c == '\r' || c == '\n') continue;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == 'O') c = '0';
        if (c == 'I' || c == 'L') c = '1';
        out[n++] = static_cast<uint8_t>(c);
    }
    return n;
}

int32_t linkKeySymbols(const uint8_t* key, int32_t n)
{
    int32_t symbols = 0;
    for (int32_t i = 0; i < n; ++i)
        if ((key[i] >= '0' && key[i] <= '9') || (key[i] >= 'A' && key[i] <= 'Z')) ++symbols;
    return symbols;
}
