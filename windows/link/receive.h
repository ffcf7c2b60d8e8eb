// What arrives on the control connection, and where each packet goes: input
// to the replay, READY to the Master's queues, the partner's screen size and
// announcement to its link, LEAVE back to the clipboard.
#pragma once

#include "windows/app/appstate.h"

struct Link;

// Reads what has arrived on the link's control connection and dispatches each
// whole packet by type; a packet split across reads waits until all 56 bytes are in.
void receiveControlPacket(HWND window, Link& link);

// Forgets the bytes of a partly received packet and of a batch not yet
// dispatched: a new connection starts on a packet boundary.
void resetControlInbox(Link& link);
