// Replaying the partner's input with SendInput.
#pragma once

#include "windows/app/appstate.h"
#include "link/packet.h"

struct Link;

// A PKT_INPUT from the link's partner: its key, move and button.
void replayInput(const Link& link, const InputPacket& packet);

// The gate that holds back the first two gated injections after start-up.
bool warmupGatePasses();

// A point in the coordinates of the screen the partner knows this PC by.
void injectAbsoluteMove(const Link& link, int32_t x, int32_t y);
// The wheel, or with `sideways` the sideways wheel (positive to the right).
void injectWheel(int16_t delta, bool sideways = false);
// A button's press or release, EV_LEFT_DOWN ... EV_X2_UP.
void injectButton(int32_t code);
void injectKey(int32_t vk, int32_t keyEvent);

// Releases every key and button the replay pressed and has not released:
// when control goes back to the Master and when the control connection closes.
void releaseInjectedInput();
