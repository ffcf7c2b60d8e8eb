// The rules of a Master's desk as its settings are edited: where each Slave
// stands so far, and whether the desk can be used. The Windows More Slaves
// dialog and the Linux program's configuration file keep the same rules; each
// says what is wrong in its own words. No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

#include "input/layout.h"

// The partner and port texts of the settings: 254 characters and the terminator.
constexpr int TEXT_AREA = 255;
// Slaves 2 to 4, beside Slave 1 of the plain settings.
constexpr int32_t MORE_SLAVES = MAX_SLAVES - 1;

// One of Slaves 2 to 4 as the settings edit it. One is there once it has a
// name or a place.
struct DeskSlave {
    char host[TEXT_AREA];
    char port[TEXT_AREA];
    int32_t position;  // POS_*, or 0: not placed
    int32_t nextTo;    // 0 the Master, 1 to 3 the Slave of that number
};

struct DeskCopy {
    DeskSlave more[MORE_SLAVES];
    // Slave 1 as the plain settings have it.
    char host1[TEXT_AREA];
    char port1[TEXT_AREA];
    int32_t position1;  // or 0
};

bool isThere(const DeskSlave& slave);
// Not there, on the default port.
void clearSlave(DeskSlave* slave);

// The cell of every Slave that can be placed, as far as its neighbours can,
// without the desk's checks: a picture of a desk that is not right yet.
// Index 0 is Slave 1.
struct Cells {
    bool placed[MAX_SLAVES];
    int32_t x[MAX_SLAVES], y[MAX_SLAVES];
};
Cells cellsOf(const DeskCopy& desk);

// DESK_MASTER, a Slave's index or DESK_NONE.
int32_t whoIsAt(const Cells& cells, int32_t x, int32_t y);

// What Slave `self` in cell (x, y) stands next to: the Master when it
// touches it, else the lowest-numbered of Slaves 1 to 3 it touches (no Slave
// stands next to Slave 4). False when it touches none of them.
bool anchorFor(const Cells& cells, int32_t self, int32_t x, int32_t y, int32_t* position, int32_t* nextTo);

// Whether Slave `index` (1 to 3: Slave 2 to 4) stands, through the Slaves it
// stands next to, next to Slave `on`: it then moves with it.
bool standsOn(const DeskCopy& desk, int32_t index, int32_t on);

enum class DeskRule {
    Fine,
    NoHost,            // a Slave placed but not named
    BadPort,           // a port no connection can use
    NoPlace,           // a Slave named but not placed
    SamePartner,       // two Slaves on one computer and port
    PortsNextTo,       // one Slave's port is another's clipboard port
    SlaveOneUnplaced,  // Slave 1 has no side
    SameCell,          // two PCs in one cell
    NotJoined,         // a Slave next to no PC that leads to the Master
};

// The first thing wrong with a desk: which Slave (1 to 4) to correct, and
// for two that clash, the other one (the lower-numbered) and both ports.
struct DeskProblem {
    DeskRule rule;
    int32_t slave;
    int32_t other;
    int32_t port, otherPort;
};

// Every Slave there has a name, a port the connections can use and a place;
// no two clash; and the desk stands. Slave 1's own port is the plain
// settings' to check.
DeskProblem checkDesk(const DeskCopy& desk);
