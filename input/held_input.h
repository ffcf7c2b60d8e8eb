// What the Slave's replay has pressed and not yet released, so that nothing
// stays down when control leaves or the link drops. No <windows.h>.
#pragma once

#include <cstdint>

// The buttons a replay presses: left, right, middle and the two side buttons.
constexpr int32_t HELD_BUTTONS = 5;

struct HeldInput {
    uint8_t keys[256] = {};  // by the low 8 bits of the virtual-key code
    uint8_t buttons[HELD_BUTTONS] = {};
};

void noteKeyDown(HeldInput& held, int32_t vk);
void noteKeyUp(HeldInput& held, int32_t vk);
// Which of the HELD_BUTTONS (left, right, middle, X1, X2) a button event
// (EV_LEFT_DOWN ... EV_X2_UP) presses or releases; false for any other code.
bool buttonOf(int32_t code, int32_t* index, bool* down);
// A button's press or release (EV_LEFT_DOWN ... EV_X2_UP); other codes are ignored.
void noteButton(HeldInput& held, int32_t code);

// Fills vks with the keys still down (at most 256) and returns their number;
// fills buttonUps with the release codes of the buttons still down (left,
// right, middle, X1, X2 in that order) and sets *buttonCount. Forgets them all.
int32_t takeHeld(HeldInput& held, int32_t vks[256], int32_t buttonUps[HELD_BUTTONS], int32_t* buttonCount);
