// Where a push against an edge leads on the Master's desk (into the Slave
// beside the Master, home again, or on to the Slave in the next cell), the
// guards, and control handed over, passed on and taken back.
#include "input/master_core.h"

namespace {

const int32_t SIDES[] = {POS_LEFT, POS_RIGHT, POS_ABOVE, POS_BELOW};

// One crossing candidate: the edge pushed, for the guards. `who` is the PC
// the edge belongs to (DESK_MASTER or a Slave's index), `side` the side of it
// pushed past, `span` that side's extent and `at` the point pushed.
struct Push {
    int32_t who = DESK_MASTER;
    int32_t side = 0;
    Rect span = {0, 0, 0, 0};
    Point at = {0, 0};
};

ScreenGeometry geometry(const MasterState& m, const SlaveLine& line)
{
    return {m.localWidth, m.localHeight, line.remoteLeft, line.remoteTop, line.remoteWidth, line.remoteHeight};
}

Rect slaveSpan(const SlaveLine& line)
{
    return {0, 0, line.remoteWidth, line.remoteHeight};
}

// Where the pointer stands, for a point reported past every monitor: the
// system has kept the pointer on the monitor it was pushed out of, and that
// monitor's edge is the one pushed against. Asked only then, as it may cost
// a round trip.
Point pointerUnder(MasterState& m, Point p)
{
    return onDesktop(m.desktop, p) ? p : m.host->pointerAt(p);
}

// The crossing tests for a Slave standing at `position` of the Master: one
// screen's as they always were, or the desktop's outer edge where there are
// several monitors.
bool enters(const MasterState& m, const SlaveLine& line, int32_t position, Point under, Point p, Point* entry)
{
    if (m.desktop.count > 1)
        return entersRemoteAcross(position, m.desktop, line.remoteWidth, line.remoteHeight, under, p, entry);
    return entersRemote(position, geometry(m, line), p, entry);
}

bool leaves(MasterState& m, const SlaveLine& line, int32_t position, Point p, Point* reentry)
{
    if (m.desktop.count > 1)
        return leavesRemoteAcross(position, m.desktop, line.remoteWidth, line.remoteHeight, pointerUnder(m, p), p,
                                  reentry);
    return leavesRemote(position, geometry(m, line), p, reentry);
}

// In local state: the Slave the pushed point enters, each side of the
// Master's desktop tested against the Slave standing there; null when none.
SlaveLine* entered(MasterState& m, Point p, Point* entry, Push* push)
{
    Point under = p;
    bool measured = false;
    for (int32_t side : SIDES) {
        SlaveLine* line = masterLinked(m, deskNeighbour(m.desk, DESK_MASTER, side));
        if (!line) continue;
        if (!measured) {
            under = m.desktop.count > 1 ? pointerUnder(m, p) : p;
            measured = true;
        }
        if (enters(m, *line, side, under, p, entry)) {
            // The edge is that of the monitor the pointer is pushed out of.
            const int32_t monitor = nearestMonitor(m.desktop, under);
            push->who = DESK_MASTER;
            push->side = side;
            push->span = monitor >= 0 ? m.desktop.monitors[monitor] : Rect{0, 0, m.localWidth, m.localHeight};
            push->at = p;
            return line;
        }
    }
    return nullptr;
}

// Where a point pushed past the edge of the Slave in control goes: back to
// the Master (*to null, *target the point on the Master), to the Slave in
// the next cell (*to that line, *target its entry point), or nowhere (false).
bool leaving(MasterState& m, const SlaveLine& from, Point p, SlaveLine** to, Point* target, Push* push)
{
    *push = {from.index, 0, slaveSpan(from), p};
    for (int32_t side : SIDES) {
        push->side = side;
        const int32_t n = deskNeighbour(m.desk, from.index, side);
        if (n == DESK_MASTER) {
            if (leaves(m, from, oppositeSide(side), p, target)) {
                *to = nullptr;
                return true;
            }
        } else if (SlaveLine* next = masterLinked(m, n)) {
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
bool steppedOut(MasterState& m, const SlaveLine& from, bool mayLeave, Point step, Point* at, SlaveLine** to,
                Point* target, Push* push)
{
    const Point start = *at;
    *push = {from.index, 0, slaveSpan(from), start};
    for (int32_t side : SIDES) {
        push->side = side;
        // The exit test of a Slave standing on the other side of the PC beyond.
        const int32_t n = deskNeighbour(m.desk, from.index, side);
        SlaveLine* next = masterLinked(m, n);
        Point moved = start;
        if ((n == DESK_MASTER || next) && stepRemote(oppositeSide(side), m.desktop, from.remoteWidth,
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
    stepRemote(0, m.desktop, from.remoteWidth, from.remoteHeight, false, step, at, &unused);
    return false;
}

// Whether the guards let a push cross now. A switch delay still running
// asks for a check when it ends, with the pointer where it is then.
bool guardLets(MasterState& m, const Push& push)
{
    const bool acrossX = push.side == POS_LEFT || push.side == POS_RIGHT;
    const int32_t along = acrossX ? push.at.y : push.at.x;
    const int32_t start = acrossX ? push.span.top : push.span.left;
    const int32_t end = acrossX ? push.span.bottom : push.span.right;
    uint32_t wait = 0;
    const GuardAnswer answer = guardPush(m.guards, m.guard, (push.who + 2) * 8 + (push.side - POS_LEFT), along, start,
                                         end, m.host->now(), &wait);
    if (answer == GuardAnswer::Wait) m.host->guardTimer(wait + 1);
    return answer == GuardAnswer::Cross;
}

bool slaveFits(const MasterState& m, const SlaveLine& line)
{
    return !m.alwaysHold && coversRemote(m.desktop, line.remoteWidth, line.remoteHeight);
}

void recordSlavePosition(MasterState& m, Point at)
{
    m.cursorX = at.x;
    m.cursorY = at.y;
}

// The pointer's last point on the Slave in control, inside its desktop.
void noteWhereLeft(MasterState& m, const SlaveLine& line)
{
    if (line.index < 0 || line.index >= MAX_SLAVES) return;
    m.lastOnSlave[line.index] = insideRemote({m.cursorX, m.cursorY}, line.remoteWidth, line.remoteHeight);
    m.knownOnSlave[line.index] = true;
}

// What leaving and dropping have in common: local state, capture undone. The
// user's pointer, keyboard and buttons come back first, before anything that
// may be slow or raise a box, which the user must be able to answer.
void undoCapture(MasterState& m)
{
    m.host->release();
    if (SlaveLine* line = m.control) {
        line->peerReady = 0;
        forgetPendingInput(*line);
    }
    m.control = nullptr;
    m.controlState = STATE_LOCAL;
    m.arriving = false;
    m.held = false;
}

// PKT_ENTER or PKT_INPUT, which then await their READY, or PKT_LEAVE.
void sendPositionPacket(MasterState& m, SlaveLine& line, int32_t type, int32_t x, int32_t y)
{
    sendButtonPacket(m, line, type, x, y);
    if (type != PKT_LEAVE) packetSent(line);
}

// Each move goes to the Slave in control when it may go. (A send that fails
// drops control.)
void sendPosition(MasterState& m)
{
    SlaveLine* line = m.control;
    if (!line || line->peerReady != 1) return;
    sendPositionPacket(m, *line, PKT_INPUT, m.cursorX, m.cursorY);
}

// Takes the Master's pointer for a Slave entered at (x, y): confined to a
// rectangle of the Slave's size, or held where it stands when the Slave does
// not fit on the Master's monitors.
void captureFor(MasterState& m, const SlaveLine& line, int32_t x, int32_t y, Point standing)
{
    m.held = !slaveFits(m, line);
    if (m.held) {
        // Held on the pixel it crossed from.
        m.holdAt = pointOnDesktop(m.desktop, standing);
        m.slaveAt = insideRemote({x, y}, line.remoteWidth, line.remoteHeight);
    }
    m.host->capture(line, m.held, m.holdAt);
}

// PKT_ENTER to the line's Slave at (x, y), which has control from here on:
// buttons queued before belong to no one, and the first answer is awaited.
// False when the ENTER could not go: control then stays (or comes) home
// rather than taking the hand's input for a Slave that never hears of it.
bool handTo(MasterState& m, SlaveLine& line, int32_t x, int32_t y)
{
    sendPositionPacket(m, line, PKT_ENTER, x, y);
    line.buttonQueue.readIndex = 0;
    line.buttonQueue.count = 0;
    forgetPendingInput(line);
    if (line.sendFailed) {
        if (m.control) masterDrop(m);
        return false;
    }
    m.control = &line;
    m.arriving = true;
    return true;
}

void enterRemote(MasterState& m, SlaveLine& line, int32_t x, int32_t y)
{
    m.lastOnMaster = m.host->pointerAt({m.cursorX, m.cursorY});
    guardCrossed(m.guard);
    if (!handTo(m, line, x, y)) return;
    m.controlState = STATE_REMOTE;
    captureFor(m, line, x, y, {m.cursorX, m.cursorY});
    m.host->controlMoved(ControlMove::Entered, nullptr, &line);
}

// Hands control straight from the Slave in control to the next: the one left
// is sent PKT_LEAVE (it lets go of whatever its replay holds down and sends
// its clipboard, which the next one gets), the next PKT_ENTER at (x, y).
void switchRemote(MasterState& m, SlaveLine& to, int32_t x, int32_t y)
{
    SlaveLine& from = *m.control;
    noteWhereLeft(m, from);
    guardCrossed(m.guard);
    sendPositionPacket(m, from, PKT_LEAVE, m.cursorX, m.cursorY);
    if (m.control != &from) return;  // the send failed: control came home instead
    from.peerReady = 0;
    forgetPendingInput(from);
    if (!handTo(m, to, x, y)) return;
    // Where the pointer stands: on the held pixel, or inside the rectangle of
    // the Slave just left.
    const Point standing = m.held ? m.holdAt : m.host->pointerAt({m.cursorX, m.cursorY});
    captureFor(m, to, x, y, standing);
    m.cursorX = x;
    m.cursorY = y;
    m.host->controlMoved(ControlMove::Switched, &from, &to);
    m.host->place({x, y});
}

// Takes control back from the Slave that has it.
void leaveRemote(MasterState& m)
{
    guardCrossed(m.guard);
    SlaveLine* line = m.control;
    if (line) noteWhereLeft(m, *line);
    if (line) sendPositionPacket(m, *line, PKT_LEAVE, m.cursorX, m.cursorY);
    undoCapture(m);
    m.host->controlMoved(ControlMove::Left, line, nullptr);
}

// A held pointer: the step the hand made from the held point moves the
// Slave's position.
void heldMove(MasterState& m, Point point, bool mayCross)
{
    Point at = m.slaveAt;
    Point target;
    SlaveLine* next = nullptr;
    Push push;
    const Point step = {point.x - m.holdAt.x, point.y - m.holdAt.y};
    bool leavingNow = steppedOut(m, *m.control, mayCross, step, &at, &next, &target, &push);
    if (leavingNow && !guardLets(m, push)) {
        at = m.slaveAt;
        leavingNow = steppedOut(m, *m.control, false, step, &at, &next, &target, &push);
    } else if (!leavingNow) {
        guardRelease(m.guard);
    }
    recordSlavePosition(m, at);
    if (leavingNow && next) {
        switchRemote(m, *next, target.x, target.y);
        if (m.held) return;  // the first step on the next Slave is the next move
    } else if (leavingNow) {
        leaveRemote(m);
        m.host->place(target);
    } else {
        m.slaveAt = at;
    }
    sendPosition(m);
}

}  // namespace

SlaveLine* masterLinked(const MasterState& m, int32_t index)
{
    if (index < 0 || index >= MAX_SLAVES || !m.lines[index] || !m.lines[index]->controlLinked) return nullptr;
    return m.lines[index];
}

bool masterPointer(MasterState& m, Point point)
{
    m.lastPoint = point;
    const bool wasRemote = m.controlState != STATE_LOCAL && m.control;
    // The newest position stays the entry point until the pointer stands on it.
    if (wasRemote && m.arriving && !m.held) return false;
    m.cursorX = point.x;
    m.cursorY = point.y;

    // A held button, or the lock, keeps control where it is.
    const bool mayCross = m.leftHeld == 0 && m.rightHeld == 0 && !m.crossingLocked;
    if (wasRemote && m.held) {
        heldMove(m, point, mayCross);
        return false;
    }
    Point target;
    SlaveLine* next = nullptr;
    Push push;
    if (m.controlState == STATE_LOCAL) {
        SlaveLine* line = mayCross ? entered(m, point, &target, &push) : nullptr;
        if (!line) guardRelease(m.guard);
        if (line && guardLets(m, push)) {
            enterRemote(m, *line, target.x, target.y);
            if (m.controlState == STATE_LOCAL) return false;
            // From here on positions are the Slave's; the entry point is the newest.
            m.cursorX = target.x;
            m.cursorY = target.y;
            m.host->place(target);
            if (m.held) return false;  // the first step is the next move
        }
    }
    if (m.controlState != STATE_LOCAL && m.control) {
        // Right after an entry the point is still the Master's: it leaves nothing.
        if (mayCross && !m.arriving && leaving(m, *m.control, point, &next, &target, &push)) {
            if (!guardLets(m, push)) {
                // Held back by a guard: the position stays as reported.
            } else if (next) {
                switchRemote(m, *next, target.x, target.y);
                if (m.held) return false;
            } else {
                leaveRemote(m);
                m.host->place(target);
            }
        } else if (!m.arriving) {
            guardRelease(m.guard);
        }
        sendPosition(m);
    }
    return wasRemote && m.controlState != STATE_LOCAL;
}

void masterPlaced(MasterState& m)
{
    if (m.controlState != STATE_LOCAL) m.arriving = false;
}

void masterGuardDue(MasterState& m)
{
    // Still pushing against the edge: the last point, tested again, crosses.
    if (m.guard.pushing) masterPointer(m, m.lastPoint);
}

void masterDrop(MasterState& m)
{
    undoCapture(m);
    m.host->controlMoved(ControlMove::Left, nullptr, nullptr);
}

void masterRefit(MasterState& m)
{
    if (m.controlState != STATE_REMOTE || !m.control) return;
    const SlaveLine& line = *m.control;
    const bool fits = slaveFits(m, line);
    if (m.held && fits) {
        // The pointer stands for the Slave's position again, confined to its size.
        m.held = false;
        m.host->capture(line, false, m.holdAt);
        recordSlavePosition(m, insideRemote(m.slaveAt, line.remoteWidth, line.remoteHeight));
        m.host->place({m.cursorX, m.cursorY});
        return;
    }
    if (!fits) {
        if (!m.held) {
            // Held from here on where the pointer stands: that is the Slave's position.
            m.holdAt = m.host->pointerAt({m.cursorX, m.cursorY});
            m.slaveAt = m.holdAt;
        }
        m.holdAt = pointOnDesktop(m.desktop, m.holdAt);
        m.slaveAt = insideRemote(m.slaveAt, line.remoteWidth, line.remoteHeight);
        recordSlavePosition(m, m.slaveAt);
        m.held = true;
    }
    m.host->capture(line, m.held, m.holdAt);
}

void masterSlaveSize(MasterState& m, SlaveLine& line, int32_t width, int32_t height)
{
    // A size that is not positive could only ever be divided by: ignore it.
    if (width <= 0 || height <= 0) return;
    const bool changed = width != line.remoteWidth || height != line.remoteHeight;
    line.remoteWidth = width;
    line.remoteHeight = height;
    // The Slave's desktop changed while it has control: the pointer is
    // confined to the new size at once. (The same size again, as after a
    // relink, leaves the confinement as it is.)
    if (changed && m.controlState == STATE_REMOTE && m.control == &line) masterRefit(m);
}

void masterHotkey(MasterState& m, int32_t action)
{
    if (action == HOTKEY_LOCK) {
        m.crossingLocked = !m.crossingLocked;
        guardCrossed(m.guard);
        m.host->lockChanged(m.crossingLocked != 0);
        return;
    }
    if (action == HOTKEY_TO_MASTER) {
        // At once, with no answer from the Slave: a Slave that hangs cannot
        // keep the Master's own pointer and keys.
        if (m.controlState == STATE_LOCAL || !m.control) return;
        modifiersStayBehind(m);
        leaveRemote(m);
        m.host->place(m.lastOnMaster);
        return;
    }
    const int32_t n = action - HOTKEY_TO_SLAVE1;
    SlaveLine* line = n >= 0 && n < MAX_SLAVES ? masterLinked(m, n) : nullptr;
    if (!line || (m.controlState != STATE_LOCAL && m.control == line)) return;
    modifiersStayBehind(m);
    const Point at = m.knownOnSlave[n] ? insideRemote(m.lastOnSlave[n], line->remoteWidth, line->remoteHeight)
                                       : Point{line->remoteWidth / 2, line->remoteHeight / 2};
    if (m.controlState != STATE_LOCAL && m.control) {
        switchRemote(m, *line, at.x, at.y);
        return;
    }
    // The pointer stands where it is on this PC (the capture and the hold
    // start from there), and appears on the Slave at its point.
    const Point standing = m.host->pointerAt({m.cursorX, m.cursorY});
    m.cursorX = standing.x;
    m.cursorY = standing.y;
    enterRemote(m, *line, at.x, at.y);
    if (m.controlState == STATE_LOCAL) return;
    m.cursorX = at.x;
    m.cursorY = at.y;
    m.host->place(at);
}
