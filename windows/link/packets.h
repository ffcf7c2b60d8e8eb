// Sending InputPackets on the control connection beside the Master's own
// senders (input/master_core.h); link/receive.cpp reads them.
#pragma once

#include "windows/app/appstate.h"
#include "link/packet.h"

struct Link;

// PKT_READY, PKT_SCREEN_SIZE and the like: a failed send is said in a box.
void sendPlainPacket(HWND window, Link& link, int32_t type, int32_t a, int32_t b);

// The announcement, sent once as each control connection comes up (on the
// Slave after PKT_SCREEN_SIZE): what this side takes of the clipboard's
// richer transfers (x the version, y) and of input (offset 12). A partner
// that does not know the type ignores it; link/receive.cpp reads the
// partner's.
void announce(HWND window, Link& link);

// How long the link's oldest packet that asks for a READY has waited for one
// (or a packet the socket could not take has waited to go), in milliseconds;
// 0 when none waits. forgetUnanswered: a new connection starts afresh, one
// packet at a time until the partner announces more.
DWORD unansweredFor(const Link& link);
void forgetUnanswered(Link& link);
