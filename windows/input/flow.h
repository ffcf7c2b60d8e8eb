// The Master's event queues and the READY handshake: one packet at a time
// awaits the partner's READY, or, between two that announced it, a window
// of them.
#pragma once

#include "windows/app/appstate.h"

struct Link;

void onHookMouse(WPARAM message, const MSLLHOOKSTRUCT* record);
void onHookKeyboard(WPARAM message, const KBDLLHOOKSTRUCT* record);
// Queue an event for the link that has control; a key is a key word
// (input/key_rules.h), a bare virtual-key code included.
void queueButton(int32_t code);
void queueKey(int32_t key, int32_t event);
// A packet asking for a READY went out on the link: stop-and-wait waits for
// its answer, a window with room left lets the next go at once.
void packetSent(Link& link);
// A PKT_READY arrived on the link: its next pending packet goes out.
void onPeerReady(Link& link);
// WM_SEND_WHEEL: the wheel turns that added up while a packet awaited its answer.
void sendPendingWheel(HWND window, Link& link);
// A crossing or a drop: wheel turns not yet sent, and button releases still
// waiting for a slot, belong to the control period that ended.
void forgetPendingInput(Link& link);
// The link is gone: key events not yet sent are dropped, never replayed later
// into whatever window is active then (the Slave let go of its keys itself).
void forgetPendingKeys(Link& link);
// A hotkey is about to move control: the modifiers held for it stay with the
// PC they were pressed for. Their releases go to no other PC, and presses of
// them not yet sent to the Slave in control stay unsent (their releases would
// come on another PC, and leave them down there).
void modifiersStayBehind();
