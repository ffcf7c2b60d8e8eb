// The control port as stored: decimal text. No <windows.h>.
#pragma once

#include <cstdint>

// Leading white space skipped, one optional sign, then decimal digits up to
// the first other character; no digits give 0. The value saturates at the
// 32-bit limits instead of overflowing.
int32_t parsePortText(const char* text);
