// Which key events a keyboard notification queues while the Slave has control.
// No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

struct KeyEvent {
    int32_t vkCode;
    int32_t event;  // EV_KEY_DOWN or EV_KEY_UP
};

// The four tests on one notification, in order: the whole flags word equal to
// 32 (Alt down) queues VK_MENU down, equal to 128 (key up) VK_MENU up; a
// WM_KEYDOWN queues the key down, a WM_KEYUP the key up. Fills out (at most
// two events) and returns their number.
int32_t keyEventsFor(uint32_t message, int32_t vkCode, uint32_t flags, KeyEvent out[2]);
