// What a keyboard notification queues while a Slave has control, and how a
// key travels: its virtual-key code, its scan code and its extended bit.
// No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

// A key as it waits in the Master's queue: the virtual-key code in the low
// byte, the hook's scan code in the 16 bits above it (0 when unknown) and
// bit 24 for an extended key. A bare virtual-key code is a key with neither.
constexpr int32_t KEY_EXTENDED_BIT = 1 << 24;

inline int32_t keyWord(uint32_t vk, uint32_t scanCode, bool extended)
{
    return static_cast<int32_t>((vk & 0xFF) | ((scanCode & 0xFFFF) << 8)) | (extended ? KEY_EXTENDED_BIT : 0);
}
inline int32_t keyWordVk(int32_t word) { return word & 0xFF; }
inline int32_t keyWordScan(int32_t word) { return (word >> 8) & 0xFFFF; }
inline bool keyWordExtended(int32_t word) { return (word & KEY_EXTENDED_BIT) != 0; }

struct KeyEvent {
    int32_t key;    // a key word, as above
    int32_t event;  // EV_KEY_DOWN or EV_KEY_UP
};

// Every press (WM_KEYDOWN, WM_SYSKEYDOWN) and release (WM_KEYUP, WM_SYSKEYUP)
// is that key's own event, once, whatever the flags say: Alt and AltGr are
// keys like any other, and a key pressed with Alt held is that key. `flags`
// gives the extended bit (LLKHF_EXTENDED). False for any other message.
bool keyEventFor(uint32_t message, uint32_t vkCode, uint32_t scanCode, uint32_t flags, KeyEvent* out);

// The keys that carry the extended bit on every keyboard: right Ctrl and
// Alt, Insert, Delete, Home, End, Page Up and Down, the arrows, Num Lock,
// numpad /, the Windows and menu keys. (Numpad Enter shares Enter's
// virtual-key code: only a scan code from the Master's keyboard tells them apart.)
bool extendedOnEveryKeyboard(uint32_t vk);
