#include "settings/desk_rules.h"

#include <cstring>

#include "app/constants.h"
#include "settings/port_text.h"

namespace {

void deskPlaces(const DeskCopy& desk, SlavePlace places[MAX_SLAVES])
{
    places[0] = SlavePlace{1, desk.position1, 0};
    for (int32_t i = 0; i < MORE_SLAVES; ++i)
        places[i + 1] = SlavePlace{isThere(desk.more[i]) ? 1 : 0, desk.more[i].position, desk.more[i].nextTo};
}

// The neighbour of a cell at (dx, dy) from it, and the side of that
// neighbour the cell is on.
const struct Around {
    int32_t dx, dy;
    int32_t side;
} AROUND[] = {{1, 0, POS_LEFT}, {-1, 0, POS_RIGHT}, {0, 1, POS_ABOVE}, {0, -1, POS_BELOW}};

// Computer names compare without regard to case.
bool sameHost(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        const char ca = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char cb = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (ca != cb) return false;
        if (!ca) return true;
    }
}

// Two Slaves clash when they are one partner (one computer, one port), or
// when the port of one is the other's clipboard port: a Master listens on
// the ports of every Slave it has not reached, whatever its computer.
bool portsClash(const char* hostA, int32_t portA, const char* hostB, int32_t portB, DeskProblem* problem, int32_t a,
                int32_t b)
{
    const bool onePartner = portA == portB && sameHost(hostA, hostB);
    if (!onePartner && portA - portB != 1 && portB - portA != 1) return false;
    *problem = DeskProblem{onePartner ? DeskRule::SamePartner : DeskRule::PortsNextTo, b, a, portB, portA};
    return true;
}

}  // namespace

bool isThere(const DeskSlave& slave)
{
    return slave.host[0] != '\0' || slave.position != 0;
}

void clearSlave(DeskSlave* slave)
{
    *slave = DeskSlave{};
    std::strcpy(slave->port, "447");
}

Cells cellsOf(const DeskCopy& desk)
{
    SlavePlace places[MAX_SLAVES];
    deskPlaces(desk, places);
    Cells cells = {};
    for (bool progress = true; progress;) {
        progress = false;
        for (int32_t i = 0; i < MAX_SLAVES; ++i) {
            const SlavePlace& place = places[i];
            if (!place.present || cells.placed[i] || place.nextTo < 0 || place.nextTo > MORE_SLAVES) continue;
            const int32_t anchor = place.nextTo - 1;
            if (anchor == i || (anchor >= 0 && !cells.placed[anchor])) continue;
            for (const Around& around : AROUND) {
                if (around.side != place.position) continue;
                cells.placed[i] = true;
                cells.x[i] = (anchor >= 0 ? cells.x[anchor] : 0) - around.dx;
                cells.y[i] = (anchor >= 0 ? cells.y[anchor] : 0) - around.dy;
                progress = true;
            }
        }
    }
    return cells;
}

int32_t whoIsAt(const Cells& cells, int32_t x, int32_t y)
{
    if (x == 0 && y == 0) return DESK_MASTER;
    for (int32_t i = 0; i < MAX_SLAVES; ++i)
        if (cells.placed[i] && cells.x[i] == x && cells.y[i] == y) return i;
    return DESK_NONE;
}

bool anchorFor(const Cells& cells, int32_t self, int32_t x, int32_t y, int32_t* position, int32_t* nextTo)
{
    for (int32_t who = DESK_MASTER; who < MORE_SLAVES; ++who) {
        if (who == self || (who >= 0 && !cells.placed[who])) continue;
        const int32_t whoX = who >= 0 ? cells.x[who] : 0, whoY = who >= 0 ? cells.y[who] : 0;
        for (const Around& around : AROUND) {
            if (x + around.dx != whoX || y + around.dy != whoY) continue;
            *position = around.side;
            *nextTo = who + 1;
            return true;
        }
    }
    return false;
}

bool standsOn(const DeskCopy& desk, int32_t index, int32_t on)
{
    for (int32_t step = 0; step < MAX_SLAVES && index > 0; ++step) {
        const int32_t nextTo = desk.more[index - 1].nextTo;
        if (nextTo < 0 || nextTo > MORE_SLAVES) return false;
        index = nextTo - 1;
        if (index == on) return true;
    }
    return false;
}

DeskProblem checkDesk(const DeskCopy& desk)
{
    for (int32_t i = 0; i < MORE_SLAVES; ++i) {
        const DeskSlave& slave = desk.more[i];
        if (!isThere(slave)) continue;
        if (!slave.host[0]) return DeskProblem{DeskRule::NoHost, i + 2, 0, 0, 0};
        if (!isUsablePortText(slave.port)) return DeskProblem{DeskRule::BadPort, i + 2, 0, 0, 0};
        if (!slave.position) return DeskProblem{DeskRule::NoPlace, i + 2, 0, 0, 0};
    }
    DeskProblem problem = {};
    for (int32_t b = 0; b < MORE_SLAVES; ++b) {
        if (!isThere(desk.more[b])) continue;
        const int32_t portB = parsePortText(desk.more[b].port);
        if (isUsablePortText(desk.port1) &&
            portsClash(desk.host1, parsePortText(desk.port1), desk.more[b].host, portB, &problem, 1, b + 2))
            return problem;
        for (int32_t a = 0; a < b; ++a)
            if (isThere(desk.more[a]) && portsClash(desk.more[a].host, parsePortText(desk.more[a].port),
                                                     desk.more[b].host, portB, &problem, a + 2, b + 2))
                return problem;
    }
    SlavePlace places[MAX_SLAVES];
    deskPlaces(desk, places);
    Desk built;
    int32_t culprit = -1;
    const DeskFault fault = buildDesk(places, &built, &culprit);
    if (fault == DeskFault::None) return DeskProblem{DeskRule::Fine, 0, 0, 0, 0};
    const DeskRule rule = culprit == 0                  ? DeskRule::SlaveOneUnplaced
                          : fault == DeskFault::SameCell ? DeskRule::SameCell
                                                         : DeskRule::NotJoined;
    return DeskProblem{rule, culprit + 1, 0, 0, 0};
}
