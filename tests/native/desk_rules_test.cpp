#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

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

// Each rule names the Slave to correct and, for two that clash, the other
// and both ports.
TEST(DeskRules, EachFaultNamesItsSlave)
{
    const auto said = [](std::initializer_list<Slave> more) {
        const DeskProblem p = checkDesk(deskOf(more));
        return std::make_tuple(p.rule, p.slave, p.other, p.otherPort, p.port);
    };
    // Onto the Master's cell; next to a Slave not there; two next to each other alone.
    EXPECT_EQ(said({{"pc-two", 447, POS_LEFT, 1}}), std::make_tuple(DeskRule::SameCell, 2, 0, 0, 0));
    EXPECT_EQ(said({{"pc-two", 450, POS_LEFT, 0}, {"pc-three", 452, POS_LEFT, 4}}),
              std::make_tuple(DeskRule::NotJoined, 3, 0, 0, 0));
    EXPECT_EQ(said({{"pc-two", 450, POS_LEFT, 3}, {"pc-three", 452, POS_RIGHT, 2}}),
              std::make_tuple(DeskRule::NotJoined, 2, 0, 0, 0));
    EXPECT_EQ(said({{"pc-two", 450, POS_LEFT, 0}, {"Pc-One", 447, POS_BELOW, 0}}),
              std::make_tuple(DeskRule::SamePartner, 3, 1, 447, 447));
    EXPECT_EQ(said({{"pc-two", 450, POS_LEFT, 0}, {"pc-three", 449, POS_BELOW, 0}}),
              std::make_tuple(DeskRule::PortsNextTo, 3, 2, 450, 449));
}
