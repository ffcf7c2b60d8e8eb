#include "input/key_rules.h"

#include "app/constants.h"

namespace {
constexpr uint32_t KEYDOWN_MESSAGE = 256;
constexpr uint32_t KEYUP_MESSAGE = 257;
constexpr uint32_t FLAGS_ALT_DOWN = 32;
constexpr uint32_t FLAGS_KEY_UP = 128;
constexpr int32_t VK_ALT = 18;
}  // namespace

int32_t keyEventsFor(uint32_t message, int32_t vkCode, uint32_t flags, KeyEvent out[2])
{
    int32_t n = 0;
    if (flags == FLAGS_ALT_DOWN) out[n++] = {VK_ALT, EV_KEY_DOWN};
    if (flags == FLAGS_KEY_UP) out[n++] = {VK_ALT, EV_KEY_UP};
    if (message == KEYDOWN_MESSAGE) out[n++] = {vkCode, EV_KEY_DOWN};
    if (message == KEYUP_MESSAGE) out[n++] = {vkCode, EV_KEY_UP};
    return n;
}
