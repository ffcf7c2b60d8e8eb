#include "settings/port_text.h"

#include <cstdint>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace

int32_t parsePortText(const char* text)
{
    const char* p = text;
    while (isSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX) value = int64_t{INT32_MAX} + 1;  // keeps the sign's limit reachable
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    return static_cast<int32_t>(value);
}

bool isUsablePort(int32_t port)
{
    return port >= LOWEST_PORT && port <= HIGHEST_PORT;
}

bool isUsablePortText(const char* text)
{
    const char* p = text;
    while (isSpace(*p)) ++p;
    const char* digits = p;
    while (*p >= '0' && *p <= '9') ++p;
    if (p == digits) return false;
    while (isSpace(*p)) ++p;
    return *p == '\0' && isUsablePort(parsePortText(digits));
}
