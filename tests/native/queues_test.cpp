#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/constants.h"
#include "input/queues.h"
#include "link/send_window.h"

namespace {

std::vector<int32_t> drain(ButtonQueue& q)
{
    std::vector<int32_t> out;
    int32_t code;
    while (takeButton(q, &code)) out.push_back(code);
    return out;
}

TEST(Queues, SendOldestFirstAndStartAgainAtSlotZero)
{
    KeyQueue q;
    ASSERT_TRUE(pushKey(q, 65, EV_KEY_DOWN));
    ASSERT_TRUE(pushKey(q, 18, EV_KEY_UP));
    ASSERT_TRUE(pushKey(q, 65, EV_KEY_UP));
    int32_t vk = 0, ev = 0;
    ASSERT_TRUE(takeKey(q, &vk, &ev));
    EXPECT_EQ(vk, 65);
    EXPECT_EQ(ev, EV_KEY_DOWN);
    EXPECT_EQ(q.readIndex, 1);
    EXPECT_EQ(q.count, 3);
    ASSERT_TRUE(takeKey(q, &vk, &ev));
    EXPECT_EQ(vk, 18);
    ASSERT_TRUE(takeKey(q, &vk, &ev));
    EXPECT_EQ(ev, EV_KEY_UP);
    EXPECT_EQ(q.count, 0);
    EXPECT_EQ(q.readIndex, 0);
    EXPECT_FALSE(takeKey(q, &vk, &ev));

    ASSERT_TRUE(pushKey(q, 66, EV_KEY_DOWN));
    EXPECT_EQ(q.vkCodes[0], 66);
    EXPECT_EQ(q.count, 1);
}

// 255 slots written since the queue was last empty, some of them sent: the
// pending ones move to the front and the queue goes on, in order.
TEST(Queues, AFullQueueWithSentEntriesMakesRoomWithoutLosingAny)
{
    ButtonQueue q;
    for (int32_t i = 0; i < QUEUE_CAPACITY; ++i) ASSERT_TRUE(pushButton(q, i));
    int32_t code;
    for (int32_t i = 0; i < 100; ++i) ASSERT_TRUE(takeButton(q, &code));
    for (int32_t i = QUEUE_CAPACITY; i < QUEUE_CAPACITY + 100; ++i) ASSERT_TRUE(pushButton(q, i));
    EXPECT_LE(q.count, QUEUE_CAPACITY);
    const std::vector<int32_t> rest = drain(q);
    ASSERT_EQ(rest.size(), 255u);
    for (size_t i = 0; i < rest.size(); ++i) EXPECT_EQ(rest[i], static_cast<int32_t>(100 + i));
}

TEST(Queues, RefuseOnlyWhen255AreTrulyPending)
{
    KeyQueue q;
    for (int32_t i = 0; i < QUEUE_CAPACITY; ++i) ASSERT_TRUE(pushKey(q, i, EV_KEY_DOWN));
    EXPECT_FALSE(pushKey(q, 999, EV_KEY_DOWN));
    EXPECT_EQ(q.count, QUEUE_CAPACITY);
    EXPECT_EQ(q.readIndex, 0);
    int32_t vk, ev;
    ASSERT_TRUE(takeKey(q, &vk, &ev));
    EXPECT_TRUE(pushKey(q, 1000, EV_KEY_UP));
    EXPECT_FALSE(pushKey(q, 1001, EV_KEY_UP));
    int32_t last = -1;
    while (takeKey(q, &vk, &ev)) last = vk;
    EXPECT_EQ(last, 1000);
}

TEST(Queues, ClearEmptiesEverySlot)
{
    ButtonQueue q;
    pushButton(q, EV_LEFT_DOWN);
    pushButton(q, EV_LEFT_UP);
    clearQueue(q);
    EXPECT_EQ(q.count, 0);
    EXPECT_EQ(q.readIndex, 0);
    EXPECT_EQ(q.events[0], 0);
    EXPECT_EQ(q.events[1], 0);
    EXPECT_FALSE(hasPending(q));
}

}  // namespace

namespace {

std::vector<std::pair<int32_t, int32_t>> drainKeys(KeyQueue& q, EventBacklog& b)
{
    std::vector<std::pair<int32_t, int32_t>> out;
    int32_t vk, ev;
    while (takeKey(q, &vk, &ev)) {
        out.emplace_back(vk, ev);
        refillFromBacklog(q, b);
    }
    return out;
}

// Heap storage: a backlog is half a megabyte, too much for a test's stack.
std::unique_ptr<EventBacklog> newBacklog() { return std::make_unique<EventBacklog>(); }

TEST(Queues, ABurstBeyondTheSlotsWaitsInOrderAndOnlyPressesPastTheBacklogAreRefused)
{
    // An automated typist: 20,000 taps, far more than the 255 slots, all
    // queued before the first packet is answered, arrive whole and in order.
    KeyQueue q;
    auto b = newBacklog();
    std::vector<std::pair<int32_t, int32_t>> typed;
    for (int i = 0; i < 20000; ++i) {
        const int32_t vk = 0x41 + i % 26;
        for (int32_t ev : {EV_KEY_DOWN, EV_KEY_UP}) {
            ASSERT_TRUE(queueKeyEvent(q, *b, vk, ev));
            typed.emplace_back(vk, ev);
        }
        if (i % 1000 == 0) {  // now and then the partner answers one
            int32_t vk0, ev0;
            ASSERT_TRUE(takeKey(q, &vk0, &ev0));
            EXPECT_EQ(std::make_pair(vk0, ev0), typed.front());
            typed.erase(typed.begin());
            refillFromBacklog(q, *b);
        }
    }
    EXPECT_EQ(drainKeys(q, *b), typed);
    EXPECT_EQ(backlogSize(*b), 0);

    // Filled to the bound: a press is refused, a release waits once per key
    // and comes out after everything queued before it, before later presses.
    ASSERT_TRUE(queueKeyEvent(q, *b, 0x10, EV_KEY_DOWN));  // Shift held
    for (int i = 1; i < QUEUE_CAPACITY + BACKLOG_CAPACITY; ++i)
        ASSERT_TRUE(queueKeyEvent(q, *b, 65, i % 2 ? EV_KEY_DOWN : EV_KEY_UP));
    EXPECT_FALSE(queueKeyEvent(q, *b, 66, EV_KEY_DOWN));
    EXPECT_TRUE(queueKeyEvent(q, *b, 0x10, EV_KEY_UP));
    EXPECT_TRUE(queueKeyEvent(q, *b, 0x10, EV_KEY_UP));  // once
    EXPECT_TRUE(queueKeyEvent(q, *b, 65, EV_KEY_UP));
    EXPECT_EQ(b->releases.count, 2);
    int32_t vk, ev;
    ASSERT_TRUE(takeKey(q, &vk, &ev));
    refillFromBacklog(q, *b);
    // The freed room goes to the waiting releases, not to a later press.
    EXPECT_FALSE(queueKeyEvent(q, *b, 67, EV_KEY_DOWN));
    auto rest = drainKeys(q, *b);
    ASSERT_EQ(rest.size(), static_cast<size_t>(QUEUE_CAPACITY + BACKLOG_CAPACITY - 1 + 2));
    EXPECT_EQ(rest[rest.size() - 2], std::make_pair(0x10, EV_KEY_UP));
    EXPECT_EQ(rest.back(), std::make_pair(65, EV_KEY_UP));
    EXPECT_EQ(backlogSize(*b), 0);
    EXPECT_TRUE(queueKeyEvent(q, *b, 67, EV_KEY_DOWN));
    clearBacklog(*b);
    clearQueue(q);

    // Buttons the same way: clicks beyond the slots wait, a release is never lost.
    ButtonQueue bq;
    auto bb = newBacklog();
    for (int i = 0; i < QUEUE_CAPACITY + BACKLOG_CAPACITY; ++i)
        ASSERT_TRUE(queueButtonEvent(bq, *bb, i % 2 ? EV_LEFT_UP : EV_LEFT_DOWN));
    EXPECT_FALSE(queueButtonEvent(bq, *bb, EV_RIGHT_DOWN));
    EXPECT_TRUE(queueButtonEvent(bq, *bb, EV_RIGHT_UP));
    int32_t code = 0, n = 0;
    while (takeButton(bq, &code)) {
        refillFromBacklog(bq, *bb);
        ++n;
    }
    EXPECT_EQ(n, QUEUE_CAPACITY + BACKLOG_CAPACITY + 1);
    EXPECT_EQ(code, EV_RIGHT_UP);
}

TEST(Queues, AHotkeysUnsentModifierPressesAreTakenBackAndNothingElse)
{
    auto isModifier = [](uint32_t vk) { return vk == 0xA2 || vk == 0xA4; };
    KeyQueue q;
    auto b = newBacklog();
    // Ctrl+C typed, Ctrl sent already; then 300 taps, past the slots, and Ctrl and Alt for the hotkey.
    for (auto [vk, ev] : {std::pair{0xA2, EV_KEY_DOWN}, {0x43, EV_KEY_DOWN}, {0x43, EV_KEY_UP}, {0xA2, EV_KEY_UP}})
        ASSERT_TRUE(queueKeyEvent(q, *b, vk, ev));
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(queueKeyEvent(q, *b, 0x41, i % 2 ? EV_KEY_UP : EV_KEY_DOWN));
    for (int32_t vk : {0xA2, 0xA4, 0xA4}) ASSERT_TRUE(queueKeyEvent(q, *b, vk, EV_KEY_DOWN));
    int32_t vk0, ev0;
    ASSERT_TRUE(takeKey(q, &vk0, &ev0));
    EXPECT_EQ(dropNewestPresses(q, *b, EV_KEY_DOWN, isModifier), 3);
    EXPECT_EQ(drainKeys(q, *b).size(), 303u);
    EXPECT_EQ(dropNewestPresses(q, *b, EV_KEY_DOWN, isModifier), 0);
}

TEST(Queues, WheelTurnsAddUpAndGoOutWithinSixteenBits)
{
    int32_t pending = 0;
    for (int i = 0; i < 300; ++i) addWheel(&pending, -120);  // a fast spin: -36000 in all
    EXPECT_EQ(takeWheelStep(&pending), -32768);
    EXPECT_EQ(takeWheelStep(&pending), -3232);
    EXPECT_EQ(takeWheelStep(&pending), 0);
    addWheel(&pending, 2000000000);
    addWheel(&pending, 2000000000);  // bounded, never wraps around
    EXPECT_GT(pending, 0);
    EXPECT_EQ(takeWheelStep(&pending), 32767);
}

}  // namespace

// The packets under way: at most the window's width, each READY answering the
// oldest, a READY too many opening nothing, and the watch timing the oldest.
TEST(SendWindowTest, AtMostItsWidthUnderWayAndTheOldestTimed)
{
    SendWindow window;
    windowReset(window, WINDOW_PACKETS);
    uint32_t sent = 0;
    for (uint32_t now = 1000; windowOpen(window); now += 2) windowSent(window, now), ++sent;
    EXPECT_EQ(sent, static_cast<uint32_t>(WINDOW_PACKETS));
    EXPECT_EQ(windowWaited(window, 2000), 1000u);  // since the first went
    EXPECT_TRUE(windowAnswered(window));
    EXPECT_TRUE(windowOpen(window));
    EXPECT_EQ(windowWaited(window, 2000), 998u);   // the second is the oldest now
    for (int i = 1; i < WINDOW_PACKETS; ++i) EXPECT_TRUE(windowAnswered(window));
    EXPECT_EQ(windowWaited(window, 9000), 0u);
    // READYs beyond the packets sent open it no wider.
    EXPECT_FALSE(windowAnswered(window));
    EXPECT_FALSE(windowAnswered(window));
    for (int i = 0; i < WINDOW_PACKETS; ++i) windowSent(window, 3000);
    EXPECT_FALSE(windowOpen(window));
    // Stop-and-wait: one at a time, and a silent partner seen from the first.
    windowReset(window, 1);
    windowSent(window, 5000);
    EXPECT_FALSE(windowOpen(window));
    windowSent(window, 5100);  // an entry goes whatever is under way
    EXPECT_EQ(windowWaited(window, 13000), 8000u);
    EXPECT_TRUE(windowAnswered(window));
    EXPECT_EQ(windowWaited(window, 13000), 7900u);
}
