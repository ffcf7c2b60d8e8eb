#include "input/key_rules.h"

#include "app/constants.h"

namespace {
constexpr uint32_t KEYDOWN_MESSAGE = 256;
constexpr uint32_t KEYUP_MESSAGE = 257;
constexpr uint32_t SYSKEYDOWN_MESSAGE = 260;
constexpr uint32_t SYSKEYUP_MESSAGE = 261;
constexpr uint32_t FLAG_EXTENDED = 1;
}  // namespace

bool keyEventFor(uint32_t message, uint32_t vkCode, uint32_t scanCode, uint32_t flags, KeyEvent* out)
{
    int32_t event = 0;
    if (message == KEYDOWN_MESSAGE || message == SYSKEYDOWN_MESSAGE) event = EV_KEY_DOWN;
    if (message == KEYUP_MESSAGE || message == SYSKEYUP_MESSAGE) event = EV_KEY_UP;
    if (event == 0 || (vkCode & 0xFF) == 0) return false;
    *out = {keyWord(vkCode, scanCode, (flags & FLAG_EXTENDED) != 0), event};
    return true;
}

bool extendedOnEveryKeyboard(uint32_t vk)
{
    switch (vk) {
    case 0x21: case 0x22: case 0x23: case 0x24:  // Page Up, Page Down, End, Home
    case 0x25: case 0x26: case 0x27: case 0x28:  // the arrows
    case 0x2D: case 0x2E:                        // Insert, Delete
    case 0x5B: case 0x5C: case 0x5D:             // left and right Windows, menu
    case 0x6F:                                   // numpad /
    case 0x90:                                   // Num Lock
    case 0xA3: case 0xA5:                        // right Ctrl, right Alt
        return true;
    default:
        return false;
    }
}
