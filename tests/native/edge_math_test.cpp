#include <gtest/gtest.h>

#include "app/constants.h"
#include "input/edge_math.h"

namespace {

// Master 1280 x 1024, Slave 1024 x 768.
const ScreenGeometry G = {1280, 1024, 0, 0, 1024, 768};

bool enters(int32_t position, int32_t x, int32_t y, Point* at, const ScreenGeometry& g = G)
{
    return entersRemote(position, g, {x, y}, at);
}

bool leaves(int32_t position, int32_t x, int32_t y, Point* at, const ScreenGeometry& g = G)
{
    return leavesRemote(position, g, {x, y}, at);
}

TEST(ScaleCoordinate, TruncatesInItsOwnOrder)
{
    EXPECT_EQ(scaleCoordinate(767, 768, 600), 598);
    EXPECT_EQ(scaleCoordinate(500, 768, 600), 390);
    EXPECT_EQ(scaleCoordinate(767, 768, 768), 766);
    EXPECT_EQ(scaleCoordinate(512, 1024, 768), 384);
    EXPECT_EQ(scaleCoordinate(400, 768, 1024), 532);
    EXPECT_EQ(scaleCoordinate(-2, 768, 1024), -2);  // toward zero, not down
    EXPECT_EQ(scaleCoordinate(100, 0, 768), 0);
    EXPECT_EQ(scaleCoordinate(100, -4, 768), 0);
}

TEST(Entry, EachRowHoldsFromItsBoundaryPixel)
{
    Point at{};
    EXPECT_TRUE(enters(POS_LEFT, 0, 1023, &at));
    EXPECT_EQ(at.x, 1024);  // one past the Slave's last column
    EXPECT_EQ(at.y, scaleCoordinate(1023, 1024, 768));
    EXPECT_FALSE(enters(POS_LEFT, 1, 500, &at));

    EXPECT_FALSE(enters(POS_RIGHT, 1279, 512, &at));
    EXPECT_TRUE(enters(POS_RIGHT, 1280, 512, &at));
    EXPECT_EQ(at.x, 1);
    EXPECT_EQ(at.y, 384);

    EXPECT_TRUE(enters(POS_ABOVE, 640, 0, &at));
    EXPECT_EQ(at.x, 512);
    EXPECT_EQ(at.y, 767);
    EXPECT_FALSE(enters(POS_ABOVE, 640, 1, &at));

    EXPECT_FALSE(enters(POS_BELOW, 640, 1023, &at));
    EXPECT_TRUE(enters(POS_BELOW, 640, 1024, &at));
    EXPECT_EQ(at.x, 512);
    EXPECT_EQ(at.y, 1);

    EXPECT_FALSE(enters(0, -50, -50, &at));  // no position: never crosses
}

TEST(Exit, EachRowHoldsOnePastTheSlavesEdge)
{
    Point at{};
    EXPECT_FALSE(leaves(POS_LEFT, 1024, 300, &at));
    EXPECT_TRUE(leaves(POS_LEFT, 1025, 300, &at));
    EXPECT_EQ(at.x, 3);
    EXPECT_EQ(at.y, scaleCoordinate(300, 768, 1024));

    EXPECT_FALSE(leaves(POS_RIGHT, 0, 400, &at));
    EXPECT_TRUE(leaves(POS_RIGHT, -2, 400, &at));
    EXPECT_EQ(at.x, 1277);
    EXPECT_EQ(at.y, 532);

    EXPECT_FALSE(leaves(POS_ABOVE, 100, 768, &at));
    EXPECT_TRUE(leaves(POS_ABOVE, 100, 769, &at));
    EXPECT_EQ(at.y, 3);

    EXPECT_FALSE(leaves(POS_BELOW, 100, 0, &at));
    EXPECT_TRUE(leaves(POS_BELOW, 100, -1, &at));
    EXPECT_EQ(at.y, 1021);
    EXPECT_EQ(at.x, scaleCoordinate(100, 1024, 1280));
}

TEST(Crossing, NeverWithAScreenOfNoSize)
{
    Point at{};
    for (ScreenGeometry g : {ScreenGeometry{0, 0, 0, 0, 1024, 768}, ScreenGeometry{1280, 1024, 0, 0, 0, 768},
                             ScreenGeometry{1280, 1024, 0, 0, 1024, -1}}) {
        for (int32_t position : {POS_LEFT, POS_RIGHT, POS_ABOVE, POS_BELOW})
            EXPECT_FALSE(enters(position, position == POS_RIGHT ? 5000 : -1, position == POS_BELOW ? 5000 : -1, &at, g));
    }
}

// A Slave larger than the Master in the exit direction: its far edge lies
// beyond the Master's own screen, so pushing past the Master's edge leaves.
TEST(Exit, ALargerSlaveOnTheLeftOrAboveStillLetsGo)
{
    const ScreenGeometry wide = {1024, 768, 0, 0, 1920, 1200};
    Point at{};
    EXPECT_FALSE(leaves(POS_LEFT, 1023, 100, &at, wide));
    EXPECT_TRUE(leaves(POS_LEFT, 1024, 100, &at, wide));
    EXPECT_EQ(at.x, 3);
    EXPECT_FALSE(leaves(POS_ABOVE, 100, 767, &at, wide));
    EXPECT_TRUE(leaves(POS_ABOVE, 100, 768, &at, wide));
    EXPECT_EQ(at.y, 3);
    // Where the Slave is not larger, the Slave's own edge decides as before.
    EXPECT_FALSE(leaves(POS_LEFT, 1024, 100, &at));
}

}  // namespace
