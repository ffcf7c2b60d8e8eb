#include <gtest/gtest.h>

#include <utility>

#include "app/constants.h"
#include "input/layout.h"

namespace {

constexpr SlavePlace NONE = {0, 0, 0};

DeskFault build(SlavePlace a, SlavePlace b, SlavePlace c, SlavePlace d, Desk* desk, int32_t* culprit)
{
    const SlavePlace places[MAX_SLAVES] = {a, b, c, d};
    return buildDesk(places, desk, culprit);
}

TEST(Desk, NeighboursOfARowAndOfASquare)
{
    Desk row{}, sq{};
    int32_t culprit = 7;
    ASSERT_EQ(build({1, POS_RIGHT, 0}, {1, POS_RIGHT, 1}, NONE, NONE, &row, &culprit), DeskFault::None);
    EXPECT_EQ(culprit, -1);
    EXPECT_EQ(deskNeighbour(row, DESK_MASTER, POS_RIGHT), 0);
    EXPECT_EQ(deskNeighbour(row, 0, POS_RIGHT), 1);
    EXPECT_EQ(deskNeighbour(row, 1, POS_LEFT), 0);
    EXPECT_EQ(deskNeighbour(row, DESK_MASTER, POS_LEFT), DESK_NONE);
    EXPECT_EQ(deskNeighbour(row, 2, POS_LEFT), DESK_NONE);  // absent Slave
    ASSERT_EQ(build({1, POS_RIGHT, 0}, {1, POS_BELOW, 0}, {1, POS_RIGHT, 2}, NONE, &sq, &culprit), DeskFault::None);
    EXPECT_EQ(deskNeighbour(sq, 2, POS_ABOVE), 0);
    EXPECT_EQ(deskNeighbour(sq, 1, POS_ABOVE), DESK_MASTER);
}

TEST(Desk, RefusesLayoutsNoDeskCanHoldButFollowsLaterNumbers)
{
    Desk desk{};
    int32_t culprit = -1;
    EXPECT_EQ(build({1, POS_RIGHT, 0}, {1, POS_LEFT, 1}, NONE, NONE, &desk, &culprit), DeskFault::SameCell);
    EXPECT_EQ(culprit, 1);  // back on the Master's cell
    EXPECT_EQ(desk.present[0], 0);  // nothing half-built to cross into
    EXPECT_EQ(build({1, POS_RIGHT, 0}, {1, POS_BELOW, 0}, {1, POS_BELOW, 1}, {1, POS_RIGHT, 2}, &desk, &culprit),
              DeskFault::SameCell);
    EXPECT_EQ(culprit, 3);  // both at (1, 1)
    EXPECT_EQ(build({1, POS_RIGHT, 0}, {1, POS_BELOW, 3}, NONE, NONE, &desk, &culprit), DeskFault::Unplaced);
    EXPECT_EQ(culprit, 1);  // Slave 3 is not set up
    EXPECT_EQ(build({1, POS_LEFT, 0}, {1, POS_LEFT, 3}, {1, POS_ABOVE, 2}, NONE, &desk, &culprit), DeskFault::Unplaced);
    EXPECT_EQ(culprit, 1);  // 2 and 3 lean on each other only
    EXPECT_EQ(build({1, 0, 0}, NONE, NONE, NONE, &desk, &culprit), DeskFault::Unplaced);
    ASSERT_EQ(build({1, POS_RIGHT, 0}, {1, POS_ABOVE, 3}, {1, POS_ABOVE, 1}, NONE, &desk, &culprit), DeskFault::None);
    EXPECT_EQ(deskNeighbour(desk, 2, POS_ABOVE), 1);  // Slave 2 above Slave 3, above Slave 1
}

TEST(Layout, EntryAcrossIsTheMastersRowScaled)
{
    const ScreenGeometry g = {1280, 1024, 0, 0, 1024, 768};
    for (auto [side, p] : {std::pair{POS_LEFT, Point{0, 1023}}, {POS_RIGHT, Point{1280, 512}},
                           {POS_ABOVE, Point{640, 0}}, {POS_BELOW, Point{1279, 1024}}}) {
        Point viaMaster{};
        ASSERT_TRUE(entersRemote(side, g, p, &viaMaster));
        const Point across = entryAcross(side, 1280, 1024, 1024, 768, p);
        EXPECT_EQ(across.x, viaMaster.x);
        EXPECT_EQ(across.y, viaMaster.y);
        EXPECT_FALSE(pushedPast(oppositeSide(side), 1024, 768, across));  // not straight back out
    }
    EXPECT_EQ(entryAcross(POS_RIGHT, 800, 600, 1920, 1200, {801, 599}).y, scaleCoordinate(599, 600, 1200));
    EXPECT_EQ(entryAcross(POS_ABOVE, 0, 0, 1920, 1200, {5, -1}).x, 0);  // a screen of no size
    EXPECT_TRUE(pushedPast(POS_RIGHT, 800, 600, {801, 10}));
}

}  // namespace
