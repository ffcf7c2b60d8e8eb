// The Master's event queues and the stop-and-wait handshake: one packet at a
// time awaits the partner's READY.
#pragma once

#include "app/appstate.h"

void onHookMouse(WPARAM message, const MSLLHOOKSTRUCT* record);
void onHookKeyboard(WPARAM message, const KBDLLHOOKSTRUCT* record);
void queueButton(int32_t code);
void queueKey(int32_t vkCode, int32_t event);
// A PKT_READY arrived.
void onPeerReady();
