#include <gtest/gtest.h>

#include "app/constants.h"
#include "input/desktop_math.h"

namespace {

// 1280 x 1024 with 1024 x 768 to its right: no monitor right of the primary
// below row 767.
Desktop lShaped()
{
    Desktop d = {};
    addMonitor(d, {0, 0, 1280, 1024});
    addMonitor(d, {1280, 0, 2304, 768});
    return d;
}

bool operator==(Point a, Point b) { return a.x == b.x && a.y == b.y; }

TEST(Desktop, BoundsAndNearestMonitor)
{
    const Desktop d = lShaped();
    EXPECT_EQ(desktopWidth(d), 2304);
    EXPECT_EQ(desktopHeight(d), 1024);
    EXPECT_TRUE(pointOnDesktop(d, {2000, 1000}) == (Point{2000, 767}));  // the uncovered corner
    EXPECT_TRUE(pointOnDesktop(d, {1300, 900}) == (Point{1279, 900}));   // nearer the primary
    EXPECT_TRUE(slavePixel(d, {2303, 767}) == (Point{2303, 767}));
    EXPECT_TRUE(slavePixel(d, {INT32_MIN, INT32_MAX}) == (Point{0, 1023}));

    Desktop left = {};  // a monitor left of the primary: the origin is negative
    addMonitor(left, {0, 0, 1024, 768});
    addMonitor(left, {-1280, -100, 0, 924});
    EXPECT_TRUE(slavePixel(left, {0, 0}) == (Point{-1280, -100}));
    EXPECT_TRUE(slavePixel(left, {2303, 0}) == (Point{1023, 0}));     // above the primary: onto it
    EXPECT_TRUE(slavePixel(left, {2303, 923}) == (Point{1023, 767}));
}

TEST(OuterEdge, OnlyTheDesktopsOuterEdgeEntersAndTheWayBackLandsOnItsMonitor)
{
    const Desktop d = lShaped();
    Point at{};
    // The primary's right edge faces the second monitor down to row 767.
    EXPECT_FALSE(entersRemoteAcross(POS_RIGHT, d, 1024, 768, {1279, 500}, {1310, 500}, &at));
    EXPECT_TRUE(entersRemoteAcross(POS_RIGHT, d, 1024, 768, {2303, 500}, {2310, 500}, &at));
    EXPECT_TRUE(at == (Point{1, scaleCoordinate(500, 1024, 768)}));
    // Below it the primary's edge is outer, even for a push that ends beside the second monitor.
    EXPECT_TRUE(entersRemoteAcross(POS_RIGHT, d, 1024, 768, {1279, 900}, {1310, 780}, &at));
    EXPECT_TRUE(at == (Point{1, scaleCoordinate(780, 1024, 768)}));
    // Pushing down out of the second monitor is not a push to the right.
    EXPECT_FALSE(entersRemoteAcross(POS_RIGHT, d, 1024, 768, {2000, 767}, {2000, 790}, &at));
    // Above the Slave: the top edge is outer everywhere, the column scaled over 2304.
    EXPECT_TRUE(entersRemoteAcross(POS_ABOVE, d, 1024, 768, {2000, 0}, {2000, 0}, &at));
    EXPECT_TRUE(at == (Point{scaleCoordinate(2000, 2304, 1024), 767}));
    // Below: the second monitor's bottom is outer, the primary's too.
    EXPECT_TRUE(entersRemoteAcross(POS_BELOW, d, 1024, 768, {2000, 767}, {2000, 770}, &at));
    EXPECT_TRUE(entersRemoteAcross(POS_BELOW, d, 1024, 768, {600, 1023}, {600, 1025}, &at));
    EXPECT_FALSE(entersRemoteAcross(POS_BELOW, d, 0, 768, {600, 1023}, {600, 1025}, &at));

    // Back from the Slave's left edge: the row decides the monitor.
    EXPECT_FALSE(leavesRemoteAcross(POS_RIGHT, d, 1024, 768, {0, 100}, {0, 100}, &at));
    EXPECT_TRUE(leavesRemoteAcross(POS_RIGHT, d, 1024, 768, {0, 100}, {-1, 100}, &at));
    EXPECT_TRUE(at == (Point{2301, scaleCoordinate(100, 768, 1024)}));
    EXPECT_TRUE(leavesRemoteAcross(POS_RIGHT, d, 1024, 768, {0, 700}, {-1, 700}, &at));
    EXPECT_TRUE(at == (Point{1277, scaleCoordinate(700, 768, 1024)}));
    EXPECT_TRUE(leavesRemoteAcross(POS_BELOW, d, 1024, 768, {900, 0}, {900, -2}, &at));
    EXPECT_TRUE(at == (Point{scaleCoordinate(900, 1024, 2304), 765}));
}

TEST(OuterEdge, ALargerSlaveLetsGoAtTheEdgeOfTheMonitorThePointerIsOn)
{
    const Desktop d = lShaped();
    Point at{};
    // Slave on the left, 3000 wide: the pointer stops at the second monitor's
    // right edge above row 768 and at the primary's below it.
    EXPECT_FALSE(leavesRemoteAcross(POS_LEFT, d, 3000, 1024, {2200, 100}, {2250, 100}, &at));
    EXPECT_TRUE(leavesRemoteAcross(POS_LEFT, d, 3000, 1024, {2303, 100}, {2310, 100}, &at));
    EXPECT_TRUE(leavesRemoteAcross(POS_LEFT, d, 3000, 1024, {1279, 900}, {1290, 900}, &at));
    EXPECT_TRUE(at == (Point{3, scaleCoordinate(900, 1024, 1024)}));
    EXPECT_FALSE(leavesRemoteAcross(POS_LEFT, d, 2000, 1024, {1279, 100}, {1290, 100}, &at));  // on a monitor
}

}  // namespace

TEST(Stepping, ASlaveTheMastersMonitorsDoNotCoverIsDrivenByStepsAndLeftOnlyPastItsOwnEdge)
{
    const Desktop one = singleScreen(1280, 1024), l = lShaped();
    EXPECT_TRUE(coversRemote(one, 1280, 1024) && coversRemote(l, 2304, 768));
    EXPECT_FALSE(coversRemote(one, 1600, 1024) || coversRemote(one, 1280, 1025) || coversRemote(l, 1300, 800));
    // Master 1280 x 1024, Slave 1600 x 1200 on its right, entered at (1, 600).
    Point at{1, 600}, back{};
    for (int i = 0; i < 60; ++i) EXPECT_FALSE(stepRemote(POS_RIGHT, one, 1600, 1200, true, {40, 40}, &at, &back));
    EXPECT_TRUE(at == (Point{1599, 1199}));  // the far corner, exactly
    EXPECT_FALSE(stepRemote(POS_RIGHT, one, 1600, 1200, true, {-100, -1200}, &at, &back));
    EXPECT_FALSE(stepRemote(POS_RIGHT, one, 1600, 1200, true, {-1499, 0}, &at, &back));
    EXPECT_FALSE(stepRemote(POS_RIGHT, one, 1600, 1200, false, {-5, 0}, &at, &back));  // a button held
    EXPECT_TRUE(at == (Point{0, 0}));
    EXPECT_TRUE(stepRemote(POS_RIGHT, one, 1600, 1200, true, {-5, 0}, &at, &back));
    EXPECT_TRUE(at == (Point{-5, 0}) && back == (Point{1277, 0}));
}
