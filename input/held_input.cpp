#include "input/held_input.h"

#include "app/constants.h"

namespace {

struct ButtonCodes {
    int32_t down, up;
};
const ButtonCodes BUTTONS[HELD_BUTTONS] = {
    {EV_LEFT_DOWN, EV_LEFT_UP}, {EV_RIGHT_DOWN, EV_RIGHT_UP}, {EV_MIDDLE_DOWN, EV_MIDDLE_UP},
    {EV_X1_DOWN, EV_X1_UP},     {EV_X2_DOWN, EV_X2_UP},
};

}  // namespace

void noteKeyDown(HeldInput& held, int32_t vk) { held.keys[vk & 0xFF] = 1; }
void noteKeyUp(HeldInput& held, int32_t vk) { held.keys[vk & 0xFF] = 0; }

bool buttonOf(int32_t code, int32_t* index, bool* down)
{
    for (int32_t i = 0; i < HELD_BUTTONS; ++i) {
        if (code != BUTTONS[i].down && code != BUTTONS[i].up) continue;
        *index = i;
        *down = code == BUTTONS[i].down;
        return true;
    }
    return false;
}

void noteButton(HeldInput& held, int32_t code)
{
    int32_t i = 0;
    bool down = false;
    if (buttonOf(code, &i, &down)) held.buttons[i] = down ? 1 : 0;
}

int32_t takeHeld(HeldInput& held, int32_t vks[256], int32_t buttonUps[HELD_BUTTONS], int32_t* buttonCount)
{
    int32_t n = 0;
    for (int32_t vk = 0; vk < 256; ++vk)
        if (held.keys[vk]) vks[n++] = vk;
    *buttonCount = 0;
    for (int32_t i = 0; i < HELD_BUTTONS; ++i)
        if (held.buttons[i]) buttonUps[(*buttonCount)++] = BUTTONS[i].up;
    held = HeldInput{};
    return n;
}
