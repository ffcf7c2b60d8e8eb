#include "input/held_input.h"

void noteKeyDown(HeldInput& held, int32_t vk) { held.keys[vk & 0xFF] = 1; }
void noteKeyUp(HeldInput& held, int32_t vk) { held.keys[vk & 0xFF] = 0; }

int32_t takeHeld(HeldInput& held, int32_t vks[256], int32_t* leftButton, int32_t* rightButton)
{
    int32_t n = 0;
    for (int32_t vk = 0; vk < 256; ++vk)
        if (held.keys[vk]) vks[n++] = vk;
    *leftButton = held.leftButton;
    *rightButton = held.rightButton;
    held = HeldInput{};
    return n;
}
