// The control port as stored: decimal text. No <windows.h>.
#pragma once

#include <cstdint>

// Leading white space skipped, one optional sign, then decimal digits up to
// the first other character; no digits give 0. The value saturates at the
// 32-bit limits instead of overflowing.
int32_t parsePortText(const char* text);

// The ports a connection may use: the control connection takes the port and
// the clipboard connection the next one up, so 65535 is out as well as 0.
constexpr int32_t LOWEST_PORT = 1;
constexpr int32_t HIGHEST_PORT = 65534;

bool isUsablePort(int32_t port);

// Whether a typed port is a whole number the connections can use: decimal
// digits, with white space around them at most. "447x" or "4 47" is not,
// though parsePortText would read a number from it.
bool isUsablePortText(const char* text);
