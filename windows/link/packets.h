// Sending InputPackets on the control connection; link/receive.cpp reads them.
#pragma once

#include "windows/app/appstate.h"
#include "link/packet.h"

struct Link;

// The four senders, each on the control connection of one link. Button and
// key senders take the next pending entry of the link's queue into the
// packet; a failed send of theirs returns the Master to local control when
// that link has it. The wheel and plain senders report a failed send in a box.
void sendButtonPacket(HWND window, Link& link, int32_t type, int32_t x, int32_t y);
void sendKeyPacket(HWND window, Link& link, int32_t type, int32_t x, int32_t y);
void sendWheelPacket(HWND window, Link& link, int32_t type, int32_t delta);
void sendPlainPacket(HWND window, Link& link, int32_t type, int32_t a, int32_t b);

// The announcement, sent once as each control connection comes up (on the
// Slave after PKT_SCREEN_SIZE): what this side takes of the clipboard's
// richer transfers (x the version, y) and of input (offset 12). A partner
// that does not know the type ignores it; link/receive.cpp reads the
// partner's.
void announce(HWND window, Link& link);

// Whether (x, y) is the pointer position last sent to the link in a PKT_INPUT or PKT_ENTER.
bool lastSentPositionIs(const Link& link, int32_t x, int32_t y);

// How long the link's oldest packet that asks for a READY has waited for one
// (or a packet the socket could not take has waited to go), in milliseconds;
// 0 when none waits. noteReady: a READY came (false when no packet awaited
// one); forgetUnanswered: a new connection starts afresh, one packet at a
// time until the partner announces more.
DWORD unansweredFor(const Link& link);
bool noteReady(Link& link);
void forgetUnanswered(Link& link);
