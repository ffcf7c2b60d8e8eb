// What the Slave's replay has pressed and not yet released, so that nothing
// stays down when control leaves or the link drops. No <windows.h>.
#pragma once

#include <cstdint>

struct HeldInput {
    uint8_t keys[256] = {};  // by the low 8 bits of the virtual-key code
    int32_t leftButton = 0;
    int32_t rightButton = 0;
};

void noteKeyDown(HeldInput& held, int32_t vk);
void noteKeyUp(HeldInput& held, int32_t vk);

// Fills vks with the keys still down (at most 256) and returns their number;
// forgets them all, along with the buttons, whose state it reports.
int32_t takeHeld(HeldInput& held, int32_t vks[256], int32_t* leftButton, int32_t* rightButton);
