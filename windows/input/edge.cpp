#include "windows/input/edge.h"

#include <cstdlib>

#include "app/front_end.h"
#include "windows/app/pictures.h"
#include "windows/clipboard/clipboard.h"
#include "windows/input/crossing.h"
#include "input/desktop_math.h"
#include "input/edge_math.h"
#include "windows/input/flow.h"
#include "windows/input/hooks.h"
#include "windows/link/link.h"
#include "windows/link/packets.h"

namespace {

// Whether this program has hidden the pointer: it is shown again only then,
// so the system's display count stays balanced however often control drops.
bool pointerHidden = false;

// The point the capture window is centred on, and how far the pointer may
// stray from it before the window follows: the window reaches 25 pixels each
// way, so within this the pointer is always over it. A held pointer never
// strays: the window is then the held pixel alone (see placeCaptureWindow),
// and the first move after the hold ends gives it its reach again.
POINT captureCentre = {0, 0};
const int CAPTURE_REACH = 25;
const int CAPTURE_SLACK = 15;
bool captureOnePixel = false;

// The point the pointer was put on when control came back. The system may
// lift the confinement after the placement (Wine lifts it asynchronously),
// which leaves the user's pointer on the confinement's border, far from where
// it crossed; or (Wine again, which keeps a display pointer of its own beside
// the system's) puts it back on the point it was last put on while the Slave
// had control, the entry point or the held one. A few checks soon after the
// crossing place it again from either. A hand that moves the pointer on is left alone.
POINT placement = {0, 0};
int placementChecks = 0;
POINT remotePlacement = {-1, -1};
const UINT PLACEMENT_CHECK_MS = 150;
const int PLACEMENT_CHECKS = 4;

// Where the Slave has more pixels than the Master's monitors cover at the
// origin, the Master's own pointer could not stand on them all: it is held
// still instead (confined to the one pixel it stood on as it crossed, or
// stood on when the Slave's desktop grew), and each step the hand makes, the
// hook's point less the held one (pointer speed and acceleration already
// applied), moves the Slave's position, kept inside the Slave's desktop.
bool held = false;
POINT holdAt = {0, 0};
Point slaveAt = {0, 0};

// From a crossing until the pointer has been put on the entry point: the
// points the hook reports meanwhile still lie in the frame of the screen
// left (moves made before the crossing was handled, or the one the system
// makes up as the capture window shows). Taken as points on the Slave just
// entered, they would push it past its far edge, onto the PC beyond, or
// leave its pointer where no hand put it; they are passed over. (A held pointer
// needs no such wait: it stands on the held pixel from the crossing on, and
// every point is a step from there.)
bool arriving = false;

// A switch from one Slave to the next changes the confinement, which the
// system may carry out after the placement that follows (Wine does): the
// pointer is then stopped by the rectangle of the Slave left. Where it stands
// there a few checks after the switch place it again.
bool switched = false;
RECT switchedFrom = {0, 0, 0, 0};
POINT switchStop = {-1, -1};

// Where the pointer last stood on each Slave and on this PC, for a hotkey
// that moves control there: it appears on that point again (a Slave's
// centre the first time).
Point lastOnSlave[MAX_SLAVES] = {};
bool knownOnSlave[MAX_SLAVES] = {};
POINT lastOnMaster = {0, 0};

// The push against an edge that would cross, for the guards against crossing
// by accident, and the last hook point, for the switch delay's check.
GuardState guard;
MSLLHOOKSTRUCT lastRecord = {};

// Where a placement at p stops while the confinement still holds the pointer.
POINT heldBy(const RECT& clip, POINT p)
{
    return {p.x < clip.left ? clip.left : (p.x >= clip.right ? clip.right - 1 : p.x),
            p.y < clip.top ? clip.top : (p.y >= clip.bottom ? clip.bottom - 1 : p.y)};
}

// Whether the guards let a push cross now. A switch delay still running
// asks for a check when it ends, with the pointer where it is then.
bool guardLets(const Push& push)
{
    const bool acrossX = push.side == POS_LEFT || push.side == POS_RIGHT;
    const int32_t along = acrossX ? push.at.y : push.at.x;
    const int32_t start = acrossX ? push.span.top : push.span.left;
    const int32_t end = acrossX ? push.span.bottom : push.span.right;
    uint32_t wait = 0;
    const GuardAnswer answer = guardPush(app.guards, guard, (push.who + 2) * 8 + (push.side - POS_LEFT), along, start,
                                         end, GetTickCount(), &wait);
    if (answer == GuardAnswer::Wait) SetTimer(app.mainWindow, TIMER_CROSS_GUARD, wait + 1, nullptr);
    return answer == GuardAnswer::Cross;
}

// Keeps the pointer on holdAt, where it stands: the hook library keeps its
// moves from the system.
void startHolding()
{
    holdPointer(1);
    SetCursorPos(holdAt.x, holdAt.y);
}

bool slaveFits(const Link& link)
{
    return coversRemote(app.desktop, link.remoteWidth, link.remoteHeight);
}

// The position on the Slave becomes the newest, for every packet to come.
void recordSlavePosition(Point at)
{
    app.cursorX = at.x;
    app.cursorY = at.y;
}

// The user's pointer, keyboard and buttons back to this PC: the hook library
// lets them through again, the pointer is free and shown. Done before
// anything that may be slow or raise a box, which the user must be able to
// answer.
void freeUserInput()
{
    setRemoteFlags(0);
    if (held) holdPointer(0);
    held = false;
    ClipCursor(nullptr);
    if (pointerHidden) {
        ShowCursor(TRUE);
        pointerHidden = false;
    }
}

// The pointer's last point on the Slave in control, inside its desktop.
void noteWhereLeft(const Link& link)
{
    if (link.index < 0 || link.index >= MAX_SLAVES) return;
    lastOnSlave[link.index] = insideRemote({app.cursorX, app.cursorY}, link.remoteWidth, link.remoteHeight);
    knownOnSlave[link.index] = true;
}

// What leaving and dropping have in common: local state, capture undone.
void undoCapture(HWND window)
{
    if (Link* link = app.controlLink) {
        link->peerReady = 0;
        forgetPendingInput(*link);
    }
    app.controlLink = nullptr;
    app.controlState = STATE_LOCAL;
    arriving = false;
    switched = false;
    switchStop = {-1, -1};
    freeUserInput();
    SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
    ShowWindow(window, SW_HIDE);
}

// Each move goes to the Slave in control when it may go. (A send
// that fails drops control: the link is held here, not read again.)
void sendPosition()
{
    Link* link = app.controlLink;
    if (!link || link->peerReady != 1) return;
    sendButtonPacket(app.mainWindow, *link, PKT_INPUT, app.cursorX, app.cursorY);
    packetSent(*link);
}

// Puts the capture window over the pointer standing at `centre`, or over the
// held pixel alone while the pointer is held. Wine keeps a display pointer of
// its own beside the system's, which relative moves do not take along, and
// reports where it stands as a move when a window appears over it. Left where
// the hand had put it a few pixels back, it was taken as a step from the held
// pixel that sent the Slave's position back across its edge; a window of the
// held pixel alone can only report the held pixel, a step of none.
void placeCaptureWindow(POINT centre, UINT show)
{
    captureCentre = held ? holdAt : centre;
    captureOnePixel = held;
    const int reach = held ? 0 : CAPTURE_REACH;
    const int size = held ? 1 : 2 * CAPTURE_REACH;
    SetWindowPos(app.mainWindow, HWND_TOPMOST, captureCentre.x - reach, captureCentre.y - reach, size, size,
                 show | SWP_NOACTIVATE);
}

// Keeps the capture window under the pointer. Moving a window is a round trip
// to the display (a millisecond under Wine, more than all else a move costs),
// so the window moves only when the pointer nears its border, and not while
// further mouse notifications wait: the last of them moves it. A busy hand
// would otherwise leave the READY answers queued behind window moves.
void followPointer(POINT point)
{
    if (!captureOnePixel && std::abs(point.x - captureCentre.x) <= CAPTURE_SLACK &&
        std::abs(point.y - captureCentre.y) <= CAPTURE_SLACK)
        return;
    MSG waiting;
    if (PeekMessageA(&waiting, app.mainWindow, WM_HOOK_MOUSE, WM_HOOK_MOUSE, PM_NOREMOVE)) return;
    MoveWindow(app.mainWindow, point.x - CAPTURE_REACH, point.y - CAPTURE_REACH, 2 * CAPTURE_REACH,
               2 * CAPTURE_REACH, FALSE);
    captureCentre = point;
    captureOnePixel = false;
}

}  // namespace

void handleMouseMove(const MSLLHOOKSTRUCT* record)
{
    frontEnd.statusValue(1, record->pt.x);
    lastRecord = *record;
    const bool wasRemote = app.controlState != STATE_LOCAL && app.controlLink;
    // The newest position stays the entry point until the pointer stands on it.
    if (wasRemote && arriving && !held) return;
    app.cursorX = record->pt.x;
    app.cursorY = record->pt.y;

    // A held button, or the lock, keeps control where it is.
    const bool mayCross = app.leftHeld == 0 && app.rightHeld == 0 && !app.crossingLocked;
    const Point point = {app.cursorX, app.cursorY};
    Point target;
    Link* next = nullptr;
    Push push;
    if (wasRemote && held) {
        // The step the hand made from the held point moves the Slave's position.
        Point at = slaveAt;
        const Point step = {point.x - holdAt.x, point.y - holdAt.y};
        bool leavingNow = steppedOut(*app.controlLink, mayCross, step, &at, &next, &target, &push);
        if (leavingNow && !guardLets(push)) {
            at = slaveAt;
            leavingNow = steppedOut(*app.controlLink, false, step, &at, &next, &target, &push);
        } else if (!leavingNow) {
            guardRelease(guard);
        }
        recordSlavePosition(at);
        if (leavingNow && next) {
            switchRemote(*next, target.x, target.y);
            if (held) return;  // the first step on the next Slave is the next move
        } else if (leavingNow) {
            leaveRemote();
            PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(target.x), static_cast<LPARAM>(target.y));
        } else {
            slaveAt = at;
        }
        sendPosition();
        return;
    }

    if (app.controlState == STATE_LOCAL) {
        Link* link = mayCross ? entered(point, &target, &push) : nullptr;
        if (!link) guardRelease(guard);
        if (link && guardLets(push)) {
            enterRemote(*link, target.x, target.y);
            // From here on positions are the Slave's; the entry point is the newest.
            app.cursorX = target.x;
            app.cursorY = target.y;
            PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(target.x), static_cast<LPARAM>(target.y));
            if (held) return;  // the first step is the next move
        }
    }

    if (app.controlState != STATE_LOCAL && app.controlLink) {
        // Right after an entry the point is still the Master's: it leaves nothing.
        if (mayCross && !arriving && leaving(*app.controlLink, point, &next, &target, &push)) {
            if (!guardLets(push)) {
                // Held back by a guard: the position stays as reported.
            } else if (next) {
                switchRemote(*next, target.x, target.y);
                if (held) return;
            } else {
                leaveRemote();
                PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(target.x),
                             static_cast<LPARAM>(target.y));
            }
        } else if (!arriving) {
            guardRelease(guard);
        }
        sendPosition();
    }
    // Once the packet is on its way: entering placed the window, leaving hid it.
    if (wasRemote && app.controlState != STATE_LOCAL) followPointer(record->pt);
}

void checkCrossingGuard(HWND window)
{
    KillTimer(window, TIMER_CROSS_GUARD);
    // Still pushing against the edge: the last point, tested again, crosses.
    if (guard.pushing) handleMouseMove(&lastRecord);
}

namespace {

// Takes the Master's pointer for a Slave entered at (x, y): confined to a
// rectangle of the Slave's size, or held where it stands when the Slave does
// not fit on the Master's monitors.
void captureFor(const Link& link, int32_t x, int32_t y, POINT standing)
{
    const bool wasHeld = held;
    held = !slaveFits(link);
    if (held) {
        // Held on the pixel it crossed from, where the system leaves it, from
        // before the capture window shows (Wine reports the pointer as a
        // window appears under it).
        const Point on = pointOnDesktop(app.desktop, {standing.x, standing.y});
        holdAt = {on.x, on.y};
        slaveAt = insideRemote({x, y}, link.remoteWidth, link.remoteHeight);
        if (!wasHeld) startHolding();
    } else if (wasHeld) {
        holdPointer(0);
    }
}

// PKT_ENTER to the link's Slave at (x, y), which has control from here on:
// buttons queued before belong to no one, and the first answer is awaited.
void handTo(Link& link, int32_t x, int32_t y)
{
    sendButtonPacket(app.mainWindow, link, PKT_ENTER, x, y);
    packetSent(link);
    link.buttonQueue.readIndex = 0;
    link.buttonQueue.count = 0;
    forgetPendingInput(link);
    app.controlLink = &link;
    arriving = true;
}

}  // namespace

void enterRemote(Link& link, int32_t x, int32_t y)
{
    lastOnMaster = {app.cursorX, app.cursorY};
    GetCursorPos(&lastOnMaster);
    guardCrossed(guard);
    handTo(link, x, y);
    app.controlState = STATE_REMOTE;
    captureFor(link, x, y, POINT{app.cursorX, app.cursorY});
    SetLayeredWindowAttributes(app.mainWindow, 0, 1, LWA_ALPHA);  // 1, not 0: it must still take clicks
    // Shown without taking the activation: the user's own window keeps it,
    // and typing goes there again once control comes back.
    placeCaptureWindow({app.cursorX, app.cursorY}, SWP_SHOWWINDOW);
    pushClipboard(app.mainWindow, link);
    clipToRemote();
    if (!pointerHidden) {
        ShowCursor(FALSE);
        pointerHidden = true;
    }
    fadeNoticeIn();
    setRemoteFlags(1);
}

void switchRemote(Link& to, int32_t x, int32_t y)
{
    Link& from = *app.controlLink;
    noteWhereLeft(from);
    guardCrossed(guard);
    // The Slave left lets go of whatever the replay holds down there and
    // sends its clipboard, which the next one gets as its entry push.
    sendButtonPacket(app.mainWindow, from, PKT_LEAVE, app.cursorX, app.cursorY);
    if (app.controlLink != &from) return;  // the send failed: control came home instead
    from.peerReady = 0;
    forgetPendingInput(from);
    handTo(to, x, y);
    // Where the pointer stands: on the held pixel, or inside the rectangle of
    // the Slave just left.
    POINT standing = held ? holdAt : POINT{app.cursorX, app.cursorY};
    if (!held) GetCursorPos(&standing);
    switched = true;
    switchedFrom = app.clipRect;
    captureFor(to, x, y, standing);
    if (held) placeCaptureWindow(holdAt, 0);
    app.cursorX = x;
    app.cursorY = y;
    clipToRemote();
    relayClipboard(from, to);
    showControlNotice();
    PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(x), static_cast<LPARAM>(y));
}

void leaveRemote()
{
    setRemoteFlags(0);
    guardCrossed(guard);
    if (app.controlLink) noteWhereLeft(*app.controlLink);
    if (app.controlLink) sendButtonPacket(app.mainWindow, *app.controlLink, PKT_LEAVE, app.cursorX, app.cursorY);
    undoCapture(app.mainWindow);
    fadeNoticeOut();
}

void dropToLocal(HWND window)
{
    // The flags go back to 0 too: with them at 1 the hook library would keep
    // the Master's own keyboard and buttons from its own programs.
    undoCapture(window);
    fadeNoticeOut();
}

void placePointer(HWND window, int32_t x, int32_t y)
{
    if (app.controlState != STATE_LOCAL) {
        // Entering: placed inside the confinement, or on the point it is held at.
        const POINT to = held ? holdAt : POINT{x, y};
        SetCursorPos(to.x, to.y);
        remotePlacement = heldBy(app.clipRect, to);
        arriving = false;  // from here on the hook's points are the Slave's
        if (switched) {
            switched = false;
            switchStop = heldBy(switchedFrom, to);
            placementChecks = PLACEMENT_CHECKS;
            SetTimer(window, TIMER_PLACEMENT_CHECK, PLACEMENT_CHECK_MS, nullptr);
        }
        return;
    }
    SetCursorPos(x, y);
    placement = {x, y};
    placementChecks = PLACEMENT_CHECKS;
    SetTimer(window, TIMER_PLACEMENT_CHECK, PLACEMENT_CHECK_MS, nullptr);
}

void checkPlacement(HWND window)
{
    POINT at = {};
    if (app.controlState != STATE_LOCAL) {
        // After a switch: the pointer stopped by the rectangle of the Slave left.
        if (--placementChecks <= 0) KillTimer(window, TIMER_PLACEMENT_CHECK);
        if (GetCursorPos(&at) && at.x == switchStop.x && at.y == switchStop.y &&
            (at.x != remotePlacement.x || at.y != remotePlacement.y))
            SetCursorPos(remotePlacement.x, remotePlacement.y);
        return;
    }
    if (--placementChecks <= 0) KillTimer(window, TIMER_PLACEMENT_CHECK);
    const POINT stop = heldBy(app.clipRect, placement);
    if (app.controlState == STATE_LOCAL && GetCursorPos(&at) && (at.x != placement.x || at.y != placement.y) &&
        ((at.x == stop.x && at.y == stop.y) || (at.x == remotePlacement.x && at.y == remotePlacement.y)))
        SetCursorPos(placement.x, placement.y);
}

void clipToRemote()
{
    if (held)
        app.clipRect = {holdAt.x, holdAt.y, holdAt.x + 1, holdAt.y + 1};
    else if (app.controlLink)
        app.clipRect = {0, 0, app.controlLink->remoteWidth, app.controlLink->remoteHeight};
    ClipCursor(&app.clipRect);
}

void refitRemote()
{
    if (app.controlState != STATE_REMOTE || !app.controlLink) return;
    const Link& link = *app.controlLink;
    const bool fits = slaveFits(link);
    if (held && fits) {
        // The pointer stands for the Slave's position again, confined to its size.
        held = false;
        holdPointer(0);
        clipToRemote();
        recordSlavePosition(insideRemote(slaveAt, link.remoteWidth, link.remoteHeight));
        SetCursorPos(app.cursorX, app.cursorY);
        return;
    }
    if (!fits) {
        if (!held) {
            // Held from here on where the pointer stands: that is the Slave's position.
            POINT cursor = {app.cursorX, app.cursorY};
            GetCursorPos(&cursor);
            holdAt = cursor;
            slaveAt = {cursor.x, cursor.y};
        }
        const Point on = pointOnDesktop(app.desktop, {holdAt.x, holdAt.y});
        holdAt = {on.x, on.y};
        slaveAt = insideRemote(slaveAt, link.remoteWidth, link.remoteHeight);
        recordSlavePosition(slaveAt);
        if (!held) {
            held = true;
            startHolding();
        }
        placeCaptureWindow(holdAt, 0);
    }
    clipToRemote();
}

void onHotkey(int32_t action)
{
    if (action == HOTKEY_LOCK) {
        app.crossingLocked = !app.crossingLocked;
        guardCrossed(guard);
        frontEnd.deskChanged();
        return;
    }
    if (action == HOTKEY_TO_MASTER) {
        // At once, with no answer from the Slave: a Slave that hangs cannot
        // keep the Master's own pointer and keys.
        if (app.controlState == STATE_LOCAL || !app.controlLink) return;
        modifiersStayBehind();
        leaveRemote();
        PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(lastOnMaster.x),
                     static_cast<LPARAM>(lastOnMaster.y));
        return;
    }
    const int32_t n = action - HOTKEY_TO_SLAVE1;
    Link* link = n >= 0 && n < MAX_SLAVES ? linkedSlave(n) : nullptr;
    if (!link || (app.controlState != STATE_LOCAL && app.controlLink == link)) return;
    modifiersStayBehind();
    const Point at = knownOnSlave[n] ? insideRemote(lastOnSlave[n], link->remoteWidth, link->remoteHeight)
                                     : Point{link->remoteWidth / 2, link->remoteHeight / 2};
    if (app.controlState != STATE_LOCAL && app.controlLink) {
        switchRemote(*link, at.x, at.y);
        return;
    }
    // The pointer stands where it is on this PC (the capture and the hold
    // start from there), and appears on the Slave at its point.
    POINT standing = {app.cursorX, app.cursorY};
    GetCursorPos(&standing);
    app.cursorX = standing.x;
    app.cursorY = standing.y;
    enterRemote(*link, at.x, at.y);
    app.cursorX = at.x;
    app.cursorY = at.y;
    PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(at.x), static_cast<LPARAM>(at.y));
}
