#include <gtest/gtest.h>

#include <vector>

#include "app/constants.h"
#include "input/queues.h"

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
