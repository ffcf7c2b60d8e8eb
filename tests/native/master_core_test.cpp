// The Master's decisions over a host that records what they ask, with a
// fake clock: a crossing through a desk of five, the guards and the lock,
// the keys that move control, and a window of packets under way when the
// Slave in control is lost.
#include <gtest/gtest.h>

#include <vector>

#include "input/master_core.h"

namespace {

struct Sent {
    int32_t slave;
    InputPacket packet;
};

struct Host final : MasterHost {
    uint32_t clock = 1000;
    std::vector<Sent> sent;
    bool linkUp[MAX_SLAVES] = {true, true, true, true};
    bool captured = false, held = false;
    std::vector<Point> placed;
    int64_t guardAt = -1;
    MasterState* m = nullptr;

    uint32_t now() override { return clock; }
    bool send(SlaveLine& line, const uint8_t packet[PACKET_SIZE]) override
    {
        if (!linkUp[line.index]) return false;
        sent.push_back({line.index, decodePacket(packet)});
        return true;
    }
    void unanswered(SlaveLine&, bool, uint32_t) override {}
    void sendRefused(SlaveLine&) override {}
    void wheelLater(SlaveLine& line) override { masterSendWheel(*m, line); }
    void capture(const SlaveLine&, bool hold, Point) override { captured = true, held = hold; }
    void release() override { captured = false; }
    // Placed later, as a front end's posted placement is.
    void place(Point at) override { placed.push_back(at); }
    Point pointerAt(Point reported) override { return reported; }
    void guardTimer(uint32_t ms) override { guardAt = clock + ms; }
    void controlMoved(ControlMove, SlaveLine*, SlaveLine*) override {}
    void lockChanged(bool) override {}
    void status(int32_t, const char*) override {}

    // The packets of a type sent since the last look, by Slave.
    std::vector<Sent> take(int32_t type)
    {
        std::vector<Sent> out;
        for (const Sent& s : sent)
            if (s.packet.type == type) out.push_back(s);
        sent.clear();
        return out;
    }
};

// The Master of 1024x768 with Slaves of 800x600: Slave 1 right of it, Slave 2
// right of Slave 1, Slave 3 below Slave 1, Slave 4 left of the Master.
struct MasterDesk : ::testing::Test {
    Host host;
    MasterState m;
    SlaveLine lines[MAX_SLAVES];

    void SetUp() override
    {
        host.m = &m;
        m.host = &host;
        m.desktop = singleScreen(1024, 768);
        m.localWidth = 1024;
        m.localHeight = 768;
        const SlavePlace places[MAX_SLAVES] = {{1, POS_RIGHT, 0}, {1, POS_RIGHT, 1}, {1, POS_BELOW, 1}, {1, POS_LEFT, 0}};
        int32_t culprit = -1;
        ASSERT_EQ(buildDesk(places, &m.desk, &culprit), DeskFault::None);
        for (int32_t i = 0; i < MAX_SLAVES; ++i) {
            lines[i].index = i;
            lines[i].remoteWidth = 800;
            lines[i].remoteHeight = 600;
            m.lines[i] = &lines[i];
            masterLinkUp(m, lines[i]);
        }
    }

    // The pointer placed, and every packet under way answered, as a prompt Slave does.
    void answer(int32_t slave)
    {
        masterPlaced(m);
        while (lines[slave].window.unanswered > 0) onPeerReady(m, lines[slave]);
    }
    int32_t inControl() const { return m.control ? m.control->index : -1; }
};

TEST_F(MasterDesk, APushCrossesThroughEveryCellOfTheDeskOfFiveAndComesHomeWhereItLeft)
{
    masterPointer(m, {1024, 384});  // past the right edge, at the middle
    ASSERT_EQ(inControl(), 0);
    std::vector<Sent> enters = host.take(PKT_ENTER);
    ASSERT_EQ(enters.size(), 1u);
    EXPECT_EQ(enters[0].packet.x, 1);
    EXPECT_EQ(enters[0].packet.y, 300);  // 384 of 768 is 300 of 600
    answer(0);
    // Past Slave 1's right edge onto Slave 2; past its left back to Slave 1;
    // past Slave 1's bottom onto Slave 3, and up again.
    masterPointer(m, {801, 100});
    EXPECT_EQ(inControl(), 1);
    answer(1);
    masterPointer(m, {-1, 100});
    EXPECT_EQ(inControl(), 0);
    answer(0);
    masterPointer(m, {400, 601});
    EXPECT_EQ(inControl(), 2);
    answer(2);
    masterPointer(m, {400, -1});
    EXPECT_EQ(inControl(), 0);
    answer(0);
    // Home across Slave 1's left edge: the pointer comes back 3 pixels inside
    // the Master's right edge, at the height it left; then to Slave 4 on the left.
    host.placed.clear();
    masterPointer(m, {-1, 300});
    EXPECT_EQ(m.controlState, STATE_LOCAL);
    EXPECT_FALSE(host.captured);
    ASSERT_FALSE(host.placed.empty());
    EXPECT_EQ(host.placed.back().x, 1021);
    EXPECT_EQ(host.placed.back().y, 384);
    masterPointer(m, {-1, 384});
    EXPECT_EQ(inControl(), 3);
    // Each Slave entered was sent one ENTER, and each left one LEAVE.
    std::vector<int32_t> order;
    for (const Sent& s : host.sent)
        if (s.packet.type == PKT_ENTER || s.packet.type == PKT_LEAVE) order.push_back(s.slave * 10 + (s.packet.type == PKT_ENTER));
    EXPECT_EQ(order, (std::vector<int32_t>{0, 11, 10, 1, 0, 21, 20, 1, 0, 31}));
}

TEST_F(MasterDesk, TheGuardsHoldAPushBackAndTheLockKeepsControlWhereItIs)
{
    m.guards.delayMs = 250;
    masterPointer(m, {1024, 384});
    EXPECT_EQ(m.controlState, STATE_LOCAL);
    ASSERT_EQ(host.guardAt, 1250 + 1);
    host.clock = 1100;
    masterGuardDue(m);  // too soon: still waiting
    EXPECT_EQ(m.controlState, STATE_LOCAL);
    host.clock = 1251;
    masterGuardDue(m);  // the pointer still against the edge
    EXPECT_EQ(inControl(), 0);
    answer(0);
    m.guards = {};
    masterHotkey(m, HOTKEY_LOCK);
    masterPointer(m, {-1, 300});
    EXPECT_EQ(inControl(), 0);  // locked: the edge does not cross
    masterHotkey(m, HOTKEY_LOCK);
    masterPointer(m, {-1, 300});
    EXPECT_EQ(m.controlState, STATE_LOCAL);
    // A held button keeps control where it is, too.
    masterButton(m, EV_LEFT_DOWN);
    masterPointer(m, {1024, 384});
    EXPECT_EQ(m.controlState, STATE_LOCAL);
}

TEST_F(MasterDesk, TheKeysMoveControlAndTheModifiersHeldForThemStayBehind)
{
    const KeyEvent ctrl = {keyWord(0xA2, 0x1D, false), EV_KEY_DOWN};
    masterKey(m, 0xA2, false, &ctrl);  // held in local state: not sent
    masterHotkey(m, HOTKEY_TO_SLAVE1 + 1);
    ASSERT_EQ(inControl(), 1);
    std::vector<Sent> enters = host.take(PKT_ENTER);
    ASSERT_EQ(enters.size(), 1u);
    EXPECT_EQ(enters[0].packet.x, 400);  // the middle the first time
    answer(1);
    const KeyEvent up = {keyWord(0xA2, 0x1D, false), EV_KEY_UP};
    masterKey(m, 0xA2, true, &up);  // the Ctrl held for the key goes up: not to Slave 2
    const KeyEvent a = {keyWord('A', 0x1E, false), EV_KEY_DOWN};
    masterKey(m, 'A', false, &a);
    answer(1);
    for (const Sent& s : host.sent) EXPECT_NE(s.packet.keyCode, 0xA2) << "Ctrl's release went to the Slave";
    // Home at once, whatever the Slave answers, to where the pointer was.
    host.linkUp[1] = false;  // a Slave that hangs takes nothing more
    masterHotkey(m, HOTKEY_TO_MASTER);
    EXPECT_EQ(m.controlState, STATE_LOCAL);
    EXPECT_FALSE(host.captured);
}

TEST_F(MasterDesk, ASlaveLostMidBurstFreesTheMasterAndNothingOfTheBurstIsTypedLater)
{
    masterAnnounced(lines[0], INPUT_CAN_WINDOW | INPUT_CAN_SCAN_CODES);
    masterPointer(m, {1024, 384});
    answer(0);
    host.sent.clear();
    for (int32_t i = 0; i < 300; ++i) {
        const KeyEvent key = {keyWord('A', 0x1E, false), i % 2 ? EV_KEY_UP : EV_KEY_DOWN};
        masterKey(m, 'A', i % 2 != 0, &key);
    }
    EXPECT_EQ(host.sent.size(), static_cast<size_t>(WINDOW_PACKETS));  // a window under way, the rest queued
    EXPECT_EQ(host.sent[0].packet.keyScan, 0x1E);
    host.linkUp[0] = false;
    masterLinkDown(m, lines[0]);
    EXPECT_EQ(m.controlState, STATE_LOCAL);
    EXPECT_FALSE(host.captured);
    // Linked again and entered: the old burst stays unsent.
    host.linkUp[0] = true;
    masterLinkUp(m, lines[0]);
    host.sent.clear();
    masterPointer(m, {1024, 384});
    answer(0);
    for (const Sent& s : host.sent) EXPECT_EQ(s.packet.keyCode, 0) << "a key of the lost burst was sent";
}

}  // namespace
