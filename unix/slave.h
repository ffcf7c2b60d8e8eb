// The Linux Slave's one link to its Master, as the Windows Slave keeps it:
// the two connections and how they heal, what the Master announced, the
// control connection's reader and the clipboard's transfers both ways.
#pragma once

#include <cstdint>
#include <string>

#include "link/packet.h"
#include "link/link_life.h"
#include "unix/clip_link.h"

// What this side takes of input: everything.
constexpr int32_t SLAVE_TAKES_INPUT = INPUT_CAN_SCAN_CODES | INPUT_CAN_WINDOW | INPUT_CAN_MORE_BUTTONS;

struct Slave {
    std::string partner;
    int32_t port = 447;
    bool plainNoticeGiven = false;  // the Master asked for a link key this side lacks

    // The control connection's reader and what the Master announced.
    PacketInbox inbox;
    int32_t partnerInput = 0;
    bool partnerDriving = false;    // entered and not left

    // The clipboard both ways.
    ClipSide clip;
};

extern Slave slave;

// unix/slave_link.cpp: the connections, run by the link engine.
// `stretched`: the link key, or null for the plain wire.
void startLink(const std::string& partner, int32_t port, const uint8_t* stretched);
void endLink();
// Before each wait: the engine's timers that are due, and how long the wait
// may last (ms, -1 for as long as it likes).
int32_t linkWaitMs();
// Bytes for the Master on a channel: queued, then written by partnerFlush
// (false when the connection is not up, or failed and ended).
bool partnerQueue(int channel, const void* data, size_t n);
bool partnerFlush(int channel);
size_t partnerPending(int channel);
// Whether the connection of the channel is up (proven, with a key), and
// whether it is there to queue for at all (with a key, until the proof).
bool partnerUp(int channel);
bool partnerOpen(int channel);
// The control connection's socket, or -1.
int controlFd();

// unix/replay.cpp: what the control connection carries.
void announceLink();
void onControlBytes(const uint8_t* data, size_t n);
void announceDesktop();
