#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/packet.h"

namespace {

std::vector<uint8_t> bytesOf(const InputPacket& packet)
{
    std::vector<uint8_t> out(PACKET_SIZE);
    encodePacket(packet, out.data());
    return out;
}

std::vector<uint8_t> expected(std::initializer_list<uint8_t> head)
{
    std::vector<uint8_t> out(PACKET_SIZE, 0);
    std::copy(head.begin(), head.end(), out.begin());
    return out;
}

InputPacket packetOf(int32_t type, int32_t x, int32_t y, int32_t button = 0, int32_t key = 0, int32_t event = 0)
{
    InputPacket p;
    p.type = type;
    p.x = x;
    p.y = y;
    p.button = button;
    p.keyCode = key;
    p.keyEvent = event;
    return p;
}

TEST(PacketBytes, MatchTheWireExamples)
{
    EXPECT_EQ(bytesOf(packetOf(PKT_SCREEN_SIZE, 1024, 768)),
              expected({0x39, 0x23, 0, 0, 0x00, 0x04, 0, 0, 0x00, 0x03, 0, 0}));
    EXPECT_EQ(bytesOf(packetOf(PKT_INPUT, 100, 200, EV_LEFT_DOWN)),
              expected({0x36, 0x23, 0, 0, 0x64, 0, 0, 0, 0xC8, 0, 0, 0, 0xF2, 0x2E, 0, 0}));
    EXPECT_EQ(bytesOf(packetOf(PKT_INPUT, 100, 200, 0, 65, EV_KEY_DOWN)),
              expected({0x36, 0x23, 0, 0, 0x64, 0, 0, 0, 0xC8, 0, 0, 0, 0, 0, 0, 0, 0x41, 0, 0, 0, 0xF6, 0x2E, 0, 0}));
    InputPacket scanned = packetOf(PKT_INPUT, 100, 200, 0, 0xA5, EV_KEY_DOWN);  // right Alt, scan 0x38, extended
    scanned.keyScan = 0x38;
    scanned.keyFlags = KEY_FLAG_EXTENDED;
    EXPECT_EQ(bytesOf(scanned), expected({0x36, 0x23, 0, 0, 0x64, 0, 0, 0, 0xC8, 0, 0, 0, 0, 0, 0, 0, 0xA5, 0, 0, 0,
                                          0xF6, 0x2E, 0, 0, 0x38, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(decodePacket(bytesOf(scanned).data()).keyScan, 0x38);
    EXPECT_EQ(bytesOf(makeWheelPacket(PKT_WHEEL, -120)), expected({0x3C, 0x23, 0, 0, 0x88, 0xFF}));
    EXPECT_EQ(bytesOf(packetOf(PKT_READY, 0, 0)), expected({0x37, 0x23, 0, 0}));
}

TEST(PacketBytes, DecodeReadsWhatEncodeWrote)
{
    const InputPacket original = packetOf(PKT_LEAVE, -2, 400, EV_RIGHT_UP, 0x1B, EV_KEY_UP);
    uint8_t bytes[PACKET_SIZE];
    encodePacket(original, bytes);
    const InputPacket back = decodePacket(bytes);
    EXPECT_EQ(back.type, PKT_LEAVE);
    EXPECT_EQ(back.x, -2);
    EXPECT_EQ(back.y, 400);
    EXPECT_EQ(back.button, EV_RIGHT_UP);
    EXPECT_EQ(back.keyCode, 0x1B);
    EXPECT_EQ(back.keyEvent, EV_KEY_UP);

    // Wheel deltas keep their sign through bytes 4 and 5, both ways.
    for (int32_t delta : {120, -120, 240, -32768, 32767, 0}) {
        encodePacket(makeWheelPacket(PKT_WHEEL, delta), bytes);
        EXPECT_EQ(wheelDelta(decodePacket(bytes)), delta);
        EXPECT_EQ(bytes[6], 0);
        EXPECT_EQ(bytes[7], 0);
    }
}

// Three packets, cut into pieces of every size from 1 to beyond one packet:
// each comes out whole, once, in order, and a trailing part waits.
TEST(PacketInbox, ReassemblesSplitAndMergedReads)
{
    std::vector<uint8_t> stream;
    const InputPacket sent[] = {packetOf(PKT_ENTER, 1, 384), packetOf(PKT_INPUT, 5, 6, EV_LEFT_DOWN),
                                makeWheelPacket(PKT_WHEEL, -120)};
    for (const InputPacket& p : sent) {
        const auto b = bytesOf(p);
        stream.insert(stream.end(), b.begin(), b.end());
    }
    stream.insert(stream.end(), {0x36, 0x23, 0});  // start of a fourth packet

    for (int32_t chunk = 1; chunk <= 2 * PACKET_SIZE + 1; ++chunk) {
        PacketInbox inbox;
        std::vector<InputPacket> got;
        size_t at = 0;
        while (at < stream.size()) {
            const int32_t n = static_cast<int32_t>(std::min<size_t>(chunk, stream.size() - at));
            int32_t used = 0;
            while (used < n) {
                InputPacket p;
                bool complete = false;
                used += inboxFeed(inbox, stream.data() + at + used, n - used, &p, &complete);
                if (complete) got.push_back(p);
            }
            at += n;
        }
        ASSERT_EQ(got.size(), 3u) << "chunk " << chunk;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(bytesOf(got[i]), bytesOf(sent[i])) << "chunk " << chunk;
        EXPECT_EQ(inbox.filled, 3) << "chunk " << chunk;
    }
}

TEST(PacketInbox, CommitNeverCountsPastOnePacket)
{
    PacketInbox inbox;
    InputPacket p;
    EXPECT_FALSE(inboxCommit(inbox, 0, &p));
    EXPECT_FALSE(inboxCommit(inbox, -5, &p));
    EXPECT_EQ(inbox.filled, 0);
    std::memset(inboxSpace(inbox), 0, PACKET_SIZE);
    EXPECT_TRUE(inboxCommit(inbox, 1000, &p));
    EXPECT_EQ(inbox.filled, 0);
}

// Moves the Slave may place once, at the newest: never a packet with a button
// or key, nor anything but PKT_INPUT.
TEST(PacketBytes, OnlyAPlainMoveIsMoveOnly)
{
    EXPECT_TRUE(isMoveOnly(packetOf(PKT_INPUT, 5, 6)));
    EXPECT_TRUE(isMoveOnly(packetOf(PKT_INPUT, 5, 6, 0, 65, 0)));  // no key event: no key
    EXPECT_FALSE(isMoveOnly(packetOf(PKT_INPUT, 5, 6, EV_LEFT_UP)));
    EXPECT_FALSE(isMoveOnly(packetOf(PKT_INPUT, 5, 6, EV_MIDDLE_DOWN)));
    EXPECT_FALSE(isMoveOnly(packetOf(PKT_INPUT, 5, 6, EV_X2_UP)));
    EXPECT_FALSE(isMoveOnly(packetOf(PKT_INPUT, 5, 6, 0, 65, EV_KEY_UP)));
    EXPECT_FALSE(isMoveOnly(packetOf(PKT_ENTER, 5, 6)));
}

// Of moves read together from a windowed partner only the newest is placed;
// a click, a part-read packet or a plain partner keeps every one.
TEST(PacketBytes, AMoveIsPassedOverOnlyForAnotherMoveReadWithIt)
{
    const InputPacket move = packetOf(PKT_INPUT, 5, 6);
    const std::vector<uint8_t> nextMove = bytesOf(packetOf(PKT_INPUT, 7, 8));
    const std::vector<uint8_t> nextClick = bytesOf(packetOf(PKT_INPUT, 7, 8, EV_LEFT_DOWN));
    PacketInbox inbox;
    EXPECT_TRUE(supersededMove(INPUT_CAN_WINDOW, move, inbox, nextMove.data(), PACKET_SIZE));
    EXPECT_FALSE(supersededMove(INPUT_CAN_SCAN_CODES, move, inbox, nextMove.data(), PACKET_SIZE));
    EXPECT_FALSE(supersededMove(INPUT_CAN_WINDOW, move, inbox, nextClick.data(), PACKET_SIZE));
    EXPECT_FALSE(supersededMove(INPUT_CAN_WINDOW, move, inbox, nextMove.data(), PACKET_SIZE - 1));
    EXPECT_FALSE(supersededMove(INPUT_CAN_WINDOW, packetOf(PKT_INPUT, 5, 6, EV_LEFT_UP), inbox, nextMove.data(),
                                PACKET_SIZE));
    inbox.filled = 3;
    EXPECT_FALSE(supersededMove(INPUT_CAN_WINDOW, move, inbox, nextMove.data(), PACKET_SIZE));
}

}  // namespace
