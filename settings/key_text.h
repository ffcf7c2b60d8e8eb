// The link key as the user sees and types it. No <windows.h>: this builds
// natively for the tests.
#pragma once

#include <cstdint>

// Letters and digits without look-alikes (no I, L, O, U): a key read off one
// screen is typed right on the other.
constexpr char KEY_SYMBOLS[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
// A new key: 24 symbols of 5 bits, 120 bits, in six groups of four.
constexpr int32_t NEW_KEY_RANDOM_BYTES = 15;
constexpr int32_t NEW_KEY_TEXT = 30;  // "XXXX-" six times, the last dash a NUL
// Fewer letters and digits than this make a key too easy to guess.
constexpr int32_t LINK_KEY_MIN_SYMBOLS = 16;

// Writes a new key's text, groups of four joined by dashes, from 15 random bytes.
void formatNewKey(const uint8_t random[NEW_KEY_RANDOM_BYTES], char out[NEW_KEY_TEXT]);

// The key as it counts, whatever way it was typed: spaces and dashes are
// dropped, letters made capitals, O read as 0 and I and L as 1. Writes at
// most `room` bytes (no terminator) and returns how many; the rest is ignored.
int32_t normalizeLinkKey(const char* text, uint8_t* out, int32_t room);

// How many letters and digits the key counts.
int32_t linkKeySymbols(const uint8_t* key, int32_t n);
