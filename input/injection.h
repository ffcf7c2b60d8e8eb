// Replaying the partner's input with SendInput, and the dispatch of each
// received packet by its type.
#pragma once

#include "app/appstate.h"
#include "link/packet.h"

void dispatchPacket(HWND window, const InputPacket& packet);

// The gate that holds back the first two gated injections after start-up.
bool warmupGatePasses();

void injectAbsoluteMove(int32_t x, int32_t y);
void injectWheel(int16_t delta);
void injectLeftDown();
void injectLeftUp();
void injectRightDown();
void injectRightUp();
void injectKey(int32_t vk, int32_t keyEvent);

// Releases every key and button the replay pressed and has not released:
// when control goes back to the Master and when the control connection closes.
void releaseInjectedInput();
