#include <gtest/gtest.h>

#include "input/inject_math.h"

namespace {

// The two ways a system turns a normalised coordinate into a pixel.
int32_t floorMapping(int32_t value, int32_t size) { return static_cast<int32_t>(int64_t{value} * size / 65536); }
int32_t nearestMapping(int32_t value, int32_t size)
{
    return static_cast<int32_t>((int64_t{value} * size + 65535 / 2) / 65535);
}

TEST(AbsoluteCoordinate, EveryPixelOfCommonScreensLandsOnItself)
{
    for (int32_t size : {1, 2, 600, 768, 800, 1024, 1050, 1080, 1200, 1280, 1366, 1440, 1600, 1920, 2560, 3840}) {
        int32_t previous = -1;
        for (int32_t pixel = 0; pixel < size; ++pixel) {
            int32_t value = -1;
            ASSERT_TRUE(absoluteCoordinate(pixel, size, &value));
            ASSERT_GE(value, 0);
            ASSERT_LE(value, 65535);
            ASSERT_GT(value, previous) << size << " " << pixel;
            ASSERT_EQ(floorMapping(value, size), pixel) << size << " " << pixel;
            ASSERT_EQ(nearestMapping(value, size), pixel) << size << " " << pixel;
            previous = value;
        }
    }
}

TEST(AbsoluteCoordinate, ReachesTheLastColumnWhereTheQuotientFirstFormulaCannot)
{
    int32_t value = 0;
    ASSERT_TRUE(absoluteCoordinate(1279, 1280, &value));
    EXPECT_EQ(floorMapping(value, 1280), 1279);       // (65536 / 1280) x 1279 lands on 1274
    ASSERT_TRUE(absoluteCoordinate(1023, 1024, &value));
    EXPECT_EQ(value, 65472);                           // where the sizes divide evenly, nothing changes
}

TEST(AbsoluteCoordinate, ClampsPointsOffTheScreenToItsEdge)
{
    int32_t value = 0;
    ASSERT_TRUE(absoluteCoordinate(-3, 1024, &value));
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(absoluteCoordinate(5000, 1024, &value));
    EXPECT_EQ(floorMapping(value, 1024), 1023);
    ASSERT_TRUE(absoluteCoordinate(INT32_MIN, 1024, &value));
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(absoluteCoordinate(INT32_MAX, 1024, &value));
    EXPECT_EQ(floorMapping(value, 1024), 1023);
}

TEST(AbsoluteCoordinate, RefusesAScreenWithoutSize)
{
    for (int32_t size : {0, -1, INT32_MIN}) {
        int32_t value = 777;
        EXPECT_FALSE(absoluteCoordinate(10, size, &value));
        EXPECT_EQ(value, 777);
    }
}

TEST(WarmupGate, RefusesTheFirstTwoAndPassesEveryLater)
{
    int32_t counter = 0;
    EXPECT_FALSE(warmupGate(counter));
    EXPECT_FALSE(warmupGate(counter));
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(warmupGate(counter));
    EXPECT_EQ(counter, 2);
}

}  // namespace
