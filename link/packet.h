// The control connection's record: a fixed 56-byte little-endian block.
//
//   offset 0  type      offset 12 button
//   offset 4  x         offset 16 keyCode
//   offset 8  y         offset 20 keyEvent
//   offset 24 keyScan   offset 28 keyFlags
//   offset 32..55 always zero
//
// keyScan and keyFlags (bit 0: an extended key) go with a key only to a
// partner that announced it takes them; to any other they stay zero, as
// every byte from offset 24 on was before. In the announcement
// (PKT_CLIPBOARD_CAPS) offset 12 says what the sender takes of input
// (INPUT_CAN_ bits).
//
// A wheel packet (PKT_WHEEL, PKT_HWHEEL) keeps its signed 16-bit delta in bytes 4 and 5 and zero in
// bytes 6 to 55: the same layout with x holding the delta's 16 bits
// zero-extended, so one codec serves every type.
//
// No <windows.h> here: this builds natively for the sanitizers and the fuzzer.
#pragma once

#include <cstdint>

#include "app/constants.h"

struct InputPacket {
    int32_t type = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t button = 0;
    int32_t keyCode = 0;
    int32_t keyEvent = 0;
    int32_t keyScan = 0;
    int32_t keyFlags = 0;
};

// What a side takes of input, announced at offset 12 of PKT_CLIPBOARD_CAPS.
constexpr int32_t INPUT_CAN_SCAN_CODES = 1;  // keyScan and keyFlags with each key
constexpr int32_t INPUT_CAN_WINDOW = 2;      // packets under way without awaiting each READY
constexpr int32_t INPUT_CAN_MORE_BUTTONS = 4;  // middle and side buttons (EV_MIDDLE_*, EV_X*), PKT_HWHEEL
constexpr int32_t INPUT_WE_TAKE = INPUT_CAN_SCAN_CODES | INPUT_CAN_WINDOW | INPUT_CAN_MORE_BUTTONS;
constexpr int32_t KEY_FLAG_EXTENDED = 1;

// The wheel delta of a PKT_WHEEL or PKT_HWHEEL: bytes 4 and 5 as a signed 16-bit value.
int16_t wheelDelta(const InputPacket& packet);
InputPacket makeWheelPacket(int32_t type, int32_t delta);

// A button's press or release: EV_LEFT_UP ... EV_RIGHT_DOWN, EV_MIDDLE_UP ... EV_X2_DOWN.
bool isButtonEvent(int32_t code);
// A PKT_INPUT that carries only the pointer's position: no button, no key.
bool isMoveOnly(const InputPacket& packet);

void encodePacket(const InputPacket& packet, uint8_t out[PACKET_SIZE]);
InputPacket decodePacket(const uint8_t in[PACKET_SIZE]);

// Bytes of the control stream collected until a whole packet is in hand. A
// read may bring part of a packet, or the end of one and the start of the next.
struct PacketInbox {
    uint8_t bytes[PACKET_SIZE] = {};
    int32_t filled = 0;
};

inline uint8_t* inboxSpace(PacketInbox& inbox) { return inbox.bytes + inbox.filled; }
inline int32_t inboxRoom(const PacketInbox& inbox) { return PACKET_SIZE - inbox.filled; }

// Counts n more bytes written at inboxSpace (n at most inboxRoom). When that
// completes a packet, decodes it into *out, empties the inbox and returns true.
bool inboxCommit(PacketInbox& inbox, int32_t n, InputPacket* out);

// Takes up to n bytes from data; returns how many were taken. Stops after a
// completed packet (then *complete is true and *out holds it), so the caller
// dispatches each packet before the next one is collected.
int32_t inboxFeed(PacketInbox& inbox, const uint8_t* data, int32_t n, InputPacket* out, bool* complete);

inline void inboxReset(PacketInbox& inbox) { inbox.filled = 0; }

// From a partner that sends a window of packets (partnerInput holds
// INPUT_CAN_WINDOW), a bare move read together with a bare move after it,
// nothing between them, is answered but not placed: a backlog never replays
// stale positions. `rest` is what was read after `packet`, `restBytes` long.
bool supersededMove(int32_t partnerInput, const InputPacket& packet, const PacketInbox& inbox, const uint8_t* rest,
                    int32_t restBytes);
