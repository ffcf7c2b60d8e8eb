#include <gtest/gtest.h>

#include <cstdio>

#include "app/constants.h"
#include "settings/desk_rules.h"

namespace {

// Slave 1 on pc-one:447 right of the Master, and Slaves 2 to 4 as given.
struct Slave {
    const char* host;
    int port;
    int32_t position, nextTo;
};

DeskCopy deskOf(std::initializer_list<Slave> more)
{
    DeskCopy desk = {};
    std::snprintf(desk.host1, TEXT_AREA, "pc-one");
    std::snprintf(desk.port1, TEXT_AREA, "447");
    desk.position1 = POS_RIGHT;
    int32_t i = 0;
    for (const Slave& slave : more) {
        clearSlave(&desk.more[i]);
        std::snprintf(desk.more[i].host, TEXT_AREA, "%s", slave.host);
        std::snprintf(desk.more[i].port, TEXT_AREA, "%d", slave.port);
        desk.more[i].position = slave.position;
        desk.more[i++].nextTo = slave.nextTo;
    }
    for (; i < MORE_SLAVES; ++i) clearSlave(&desk.more[i]);
    return desk;
}

}  // namespace

// Five PCs: one port on two computers, a computer with two Slaves on ports
// apart, a Slave next to a later-numbered one.
TEST(DeskRules, AFivePcDeskStands)
{
    const DeskCopy desk =
        deskOf({{"pc-three", 450, POS_ABOVE, 3}, {"PC-ONE", 452, POS_RIGHT, 1}, {"pc-two", 447, POS_LEFT, 0}});
    EXPECT_EQ(checkDesk(desk).rule, DeskRule::Fine);
    const Cells cells = cellsOf(desk);
    EXPECT_EQ(whoIsAt(cells, 2, 0), 2);
    EXPECT_EQ(whoIsAt(cells, 2, -1), 1);
    EXPECT_EQ(whoIsAt(cells, -1, 0), 3);
    EXPECT_TRUE(standsOn(desk, 1, 2));
}

// Each rule names the Slave to correct and, for two that clash, the other.
TEST(DeskRules, EachFaultNamesItsSlave)
{
    DeskProblem p = checkDesk(deskOf({{"pc-two", 447, POS_LEFT, 1}}));  // onto the Master's cell
    EXPECT_EQ(p.rule, DeskRule::SameCell);
    EXPECT_EQ(p.slave, 2);
    p = checkDesk(deskOf({{"pc-two", 450, POS_LEFT, 0}, {"pc-three", 452, POS_LEFT, 4}}));  // Slave 4 is not there
    EXPECT_EQ(p.rule, DeskRule::NotJoined);
    EXPECT_EQ(p.slave, 3);
    p = checkDesk(deskOf({{"pc-two", 450, POS_LEFT, 3}, {"pc-three", 452, POS_RIGHT, 2}}));  // only each other
    EXPECT_EQ(p.rule, DeskRule::NotJoined);
    p = checkDesk(deskOf({{"pc-two", 450, POS_LEFT, 0}, {"Pc-One", 447, POS_BELOW, 0}}));
    EXPECT_EQ(p.rule, DeskRule::SamePartner);
    EXPECT_EQ(p.slave, 3);
    EXPECT_EQ(p.other, 1);
    p = checkDesk(deskOf({{"pc-two", 450, POS_LEFT, 0}, {"pc-three", 449, POS_BELOW, 0}}));
    EXPECT_EQ(p.rule, DeskRule::PortsNextTo);
    EXPECT_EQ(p.slave, 3);
    EXPECT_EQ(p.other, 2);
    EXPECT_EQ(p.otherPort, 450);
    EXPECT_EQ(p.port, 449);
}
