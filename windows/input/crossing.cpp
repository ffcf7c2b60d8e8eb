// Where a point pushed past an edge leads on the Master's desk: into the
// Slave beside the Master, home again, or on to the Slave in the next cell.
#include "windows/input/crossing.h"

#include "input/edge_math.h"
#include "windows/link/link.h"

namespace {

ScreenGeometry geometry(const Link& link)
{
    return {app.localWidth, app.localHeight, link.remoteLeft, link.remoteTop, link.remoteWidth, link.remoteHeight};
}

const int32_t SIDES[] = {POS_LEFT, POS_RIGHT, POS_ABOVE, POS_BELOW};

Rect slaveSpan(const Link& link)
{
    return {0, 0, link.remoteWidth, link.remoteHeight};
}

// Where the pointer stands, for a point reported past every monitor: the
// system has kept the pointer on the monitor it was pushed out of, and that
// monitor's edge is the one pushed against. Asked only then, as it costs a
// round trip.
Point pointerUnder(Point p)
{
    POINT cursor = {};
    if (onDesktop(app.desktop, p) || !GetCursorPos(&cursor)) return p;
    return {cursor.x, cursor.y};
}

// The crossing tests for a Slave standing at `position` of the Master: one
// screen's as they always were, or the desktop's outer edge where there are
// several monitors.
bool enters(const Link& link, int32_t position, Point under, Point p, Point* entry)
{
    if (app.desktop.count > 1)
        return entersRemoteAcross(position, app.desktop, link.remoteWidth, link.remoteHeight, under, p, entry);
    return entersRemote(position, geometry(link), p, entry);
}

bool leaves(const Link& link, int32_t position, Point p, Point* reentry)
{
    if (app.desktop.count > 1)
        return leavesRemoteAcross(position, app.desktop, link.remoteWidth, link.remoteHeight, pointerUnder(p), p,
                                  reentry);
    return leavesRemote(position, geometry(link), p, reentry);
}

}  // namespace

// The link of the Slave `n` (a desk answer), if it is linked: only then may
// control go there.
Link* linkedSlave(int32_t n)
{
    if (n < 0 || n >= MAX_SLAVES || !links[n].present || !links[n].controlLinked) return nullptr;
    return &links[n];
}

// In local state: the Slave the pushed point enters, each side of the
// Master's desktop tested against the Slave standing there; null when none.
Link* entered(Point p, Point* entry, Push* push)
{
    Point under = p;
    bool measured = false;
    for (int32_t side : SIDES) {
        Link* link = linkedSlave(deskNeighbour(app.desk, DESK_MASTER, side));
        if (!link) continue;
        if (!measured) {
            under = app.desktop.count > 1 ? pointerUnder(p) : p;
            measured = true;
        }
        if (enters(*link, side, under, p, entry)) {
            // The edge is that of the monitor the pointer is pushed out of.
            const int32_t monitor = nearestMonitor(app.desktop, under);
            push->who = DESK_MASTER;
            push->side = side;
            push->span = monitor >= 0 ? app.desktop.monitors[monitor] : Rect{0, 0, app.localWidth, app.localHeight};
            push->at = p;
            return link;
        }
    }
    return nullptr;
}

// Where a point pushed past the edge of the Slave in control goes: back to
// the Master (*to null, *target the point on the Master), to the Slave in
// the next cell (*to that link, *target its entry point), or nowhere (false).
// `held`: the point is the Slave's position moved by the hand's step.
bool leaving(const Link& from, Point p, Link** to, Point* target, Push* push)
{
    *push = {from.index, 0, slaveSpan(from), p};
    for (int32_t side : SIDES) {
        push->side = side;
        const int32_t n = deskNeighbour(app.desk, from.index, side);
        if (n == DESK_MASTER) {
            if (leaves(from, oppositeSide(side), p, target)) {
                *to = nullptr;
                return true;
            }
        } else if (Link* next = linkedSlave(n)) {
            if (pushedPast(side, from.remoteWidth, from.remoteHeight, p)) {
                *to = next;
                *target = entryAcross(side, from.remoteWidth, from.remoteHeight, next->remoteWidth, next->remoteHeight, p);
                return true;
            }
        }
    }
    return false;
}

// The same for a Slave whose position follows the hand's steps (the Master's
// pointer held): *at moves by the step, kept inside the Slave's desktop
// unless it leaves.
bool steppedOut(const Link& from, bool mayLeave, Point step, Point* at, Link** to, Point* target, Push* push)
{
    const Point start = *at;
    *push = {from.index, 0, slaveSpan(from), start};
    for (int32_t side : SIDES) {
        push->side = side;
        // The exit test of a Slave standing on the other side of the PC beyond.
        const int32_t n = deskNeighbour(app.desk, from.index, side);
        Link* next = linkedSlave(n);
        Point moved = start;
        if ((n == DESK_MASTER || next) && stepRemote(oppositeSide(side), app.desktop, from.remoteWidth,
                                                     from.remoteHeight, mayLeave, step, &moved, target)) {
            *at = moved;
            *to = next;
            if (next)
                *target = entryAcross(side, from.remoteWidth, from.remoteHeight, next->remoteWidth,
                                      next->remoteHeight, moved);
            return true;
        }
    }
    Point unused;
    stepRemote(0, app.desktop, from.remoteWidth, from.remoteHeight, false, step, at, &unused);
    return false;
}
