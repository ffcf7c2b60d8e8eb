// Where a point pushed past an edge leads on the Master's desk, for the edge
// switching (input/edge.cpp), which acts on the answers: the crossing tests of
// one screen or of several monitors, and the desk's neighbours.
#pragma once

#include "windows/app/appstate.h"
#include "input/edge_math.h"

struct Link;

// One crossing candidate: the edge pushed, for the guards. `who` is the PC
// the edge belongs to (DESK_MASTER or a Slave's index), `side` the side of it
// pushed past, `span` that side's extent and `at` the point pushed.
struct Push {
    int32_t who = DESK_MASTER;
    int32_t side = 0;
    Rect span = {0, 0, 0, 0};
    Point at = {0, 0};
};

// The link of the Slave `n` (a desk answer) when it is linked; null otherwise.
Link* linkedSlave(int32_t n);
// In local state: the Slave the pushed point p enters (its entry point in
// *entry), or null.
Link* entered(Point p, Point* entry, Push* push);
// From the Slave in control: true when p leaves it, home (*to null) or to the
// next Slave (*to), with the point it arrives at in *target.
bool leaving(const Link& from, Point p, Link** to, Point* target, Push* push);
// The same for a Slave whose position *at follows the hand's steps.
bool steppedOut(const Link& from, bool mayLeave, Point step, Point* at, Link** to, Point* target, Push* push);
