// What arrives on the control connection, and where each packet goes: input
// to the replay, READY to the Master's queues, the partner's screen size and
// announcement to its link, LEAVE back to the clipboard.
#pragma once

#include "windows/app/appstate.h"

struct Link;

// What arrived on the link's control connection: each whole packet is
// dispatched by type; a packet split across reads waits until all 56 bytes are in.
void receiveControlBytes(HWND window, Link& link, const uint8_t* data, size_t n);

// Forgets the bytes of a partly received packet and of a batch not yet
// dispatched: a new connection starts on a packet boundary.
void resetControlInbox(Link& link);
