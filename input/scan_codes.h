// Keys by their place on the keyboard: a key as it comes over the wire (its
// virtual-key code, its set-1 scan code and the E0 bit) as the Linux input
// code (KEY_* of linux/input-event-codes.h, KEY_A is 30) that a keyboard
// plugged into a Linux PC gives the same key, and back. One table for a whole
// 105-key keyboard, the international keys beside it and the media keys that
// have codes. No <windows.h> and no Linux header: built for either.
#pragma once

#include <cstdint>

// The input code for a key from the wire. `scanCode` is the set-1 make code
// as a Windows hook reports it (the E0 prefix in keyFlags' KEY_FLAG_EXTENDED,
// or as the high byte 0xE0); Pause, which a hook reports as 0x45 like Num
// Lock, is told apart by its virtual key. With no scan code, the virtual
// key's place on a US keyboard. 0 for a key that has no input code.
int32_t inputCodeOf(int32_t virtualKey, int32_t scanCode, int32_t keyFlags);

// The key a hook reports for an input code, for a Master on Linux: its scan
// code and whether it has the E0 prefix (Num Lock extended and Pause not, as
// a hook gives them). False for an input code the table lacks.
bool scanCodeOf(int32_t inputCode, int32_t* scanCode, bool* extended);

// The Windows virtual key of the key at an input code's place on a US
// keyboard, as a hook reports it with Num Lock on: left and right modifiers
// told apart (VK_LSHIFT 0xA0 ... VK_RMENU 0xA5, AltGr being the right Alt),
// the keypad's keys as its digits. 0 for a key a US keyboard does not have.
int32_t virtualKeyOf(int32_t inputCode);
