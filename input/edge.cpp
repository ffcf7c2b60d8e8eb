#include "input/edge.h"

#include <cstdlib>

#include "app/panel.h"
#include "app/pictures.h"
#include "clipboard/clipboard.h"
#include "input/desktop_math.h"
#include "input/edge_math.h"
#include "input/flow.h"
#include "input/hooks.h"
#include "link/packets.h"

namespace {

// Whether this program has hidden the pointer: it is shown again only then,
// so the system's display count stays balanced however often control drops.
bool pointerHidden = false;

// The point the capture window is centred on, and how far the pointer may
// stray from it before the window follows: the window reaches 25 pixels each
// way, so within this the pointer is always over it.
POINT captureCentre = {0, 0};
const int CAPTURE_SLACK = 15;

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

// Where a placement at p stops while the confinement still holds the pointer.
POINT heldBy(const RECT& clip, POINT p)
{
    return {p.x < clip.left ? clip.left : (p.x >= clip.right ? clip.right - 1 : p.x),
            p.y < clip.top ? clip.top : (p.y >= clip.bottom ? clip.bottom - 1 : p.y)};
}

ScreenGeometry geometry()
{
    return {app.localWidth, app.localHeight, app.remoteLeft, app.remoteTop, app.remoteWidth, app.remoteHeight};
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

// The crossing tests: one screen's as they always were, or the desktop's
// outer edge where there are several monitors.
bool enters(Point p, Point* entry)
{
    if (app.desktop.count > 1)
        return entersRemoteAcross(app.screenPosition, app.desktop, app.remoteWidth, app.remoteHeight,
                                  pointerUnder(p), p, entry);
    return entersRemote(app.screenPosition, geometry(), p, entry);
}

bool leaves(Point p, Point* reentry)
{
    if (app.desktop.count > 1)
        return leavesRemoteAcross(app.screenPosition, app.desktop, app.remoteWidth, app.remoteHeight,
                                  pointerUnder(p), p, reentry);
    return leavesRemote(app.screenPosition, geometry(), p, reentry);
}

// Keeps the pointer on holdAt, where it stands: the hook library keeps its
// moves from the system.
void startHolding()
{
    holdPointer(1);
    SetCursorPos(holdAt.x, holdAt.y);
}

bool slaveFits()
{
    return coversRemote(app.desktop, app.remoteWidth, app.remoteHeight);
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

// What leaving and dropping have in common: local state, capture undone.
void undoCapture(HWND window)
{
    app.peerReady = 0;
    app.controlState = STATE_LOCAL;
    freeUserInput();
    forgetPendingInput();
    SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
    ShowWindow(window, SW_HIDE);
}

// Keeps the capture window under the pointer. Moving a window is a round trip
// to the display (a millisecond under Wine, more than all else a move costs),
// so the window moves only when the pointer nears its border, and not while
// further mouse notifications wait: the last of them moves it. A busy hand
// would otherwise leave the READY answers queued behind window moves.
void followPointer(POINT point)
{
    if (std::abs(point.x - captureCentre.x) <= CAPTURE_SLACK && std::abs(point.y - captureCentre.y) <= CAPTURE_SLACK)
        return;
    MSG waiting;
    if (PeekMessageA(&waiting, app.mainWindow, WM_HOOK_MOUSE, WM_HOOK_MOUSE, PM_NOREMOVE)) return;
    MoveWindow(app.mainWindow, point.x - 25, point.y - 25, 50, 50, FALSE);
    captureCentre = point;
}

}  // namespace

void handleMouseMove(const MSLLHOOKSTRUCT* record)
{
    app.cursorX = record->pt.x;
    app.cursorY = record->pt.y;
    showStatusValue(app.statusLabel1, app.cursorX);
    const bool wasRemote = app.controlState != STATE_LOCAL;

    const bool buttonHeld = app.leftHeld != 0 || app.rightHeld != 0;
    const Point point = {app.cursorX, app.cursorY};
    Point target;
    if (wasRemote && held) {
        // The step the hand made from the held point moves the Slave's position.
        Point at = slaveAt;
        const Point step = {point.x - holdAt.x, point.y - holdAt.y};
        const bool leaving = stepRemote(app.screenPosition, app.desktop, app.remoteWidth, app.remoteHeight,
                                        !buttonHeld, step, &at, &target);
        recordSlavePosition(at);
        if (leaving) {
            leaveRemote();
            PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(target.x), static_cast<LPARAM>(target.y));
        } else {
            slaveAt = at;
        }
        if (app.peerReady == 1) {
            sendButtonPacket(app.mainWindow, app.controlSocket, PKT_INPUT, app.cursorX, app.cursorY);
            app.peerReady = 0;
        }
        return;
    }

    if (app.controlState == STATE_LOCAL && !buttonHeld && enters(point, &target)) {
        enterRemote(target.x, target.y);
        // From here on positions are the Slave's; the entry point is the newest.
        app.cursorX = target.x;
        app.cursorY = target.y;
        PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(target.x), static_cast<LPARAM>(target.y));
        if (held) return;  // the first step is the next move
    }

    if (app.controlState != STATE_LOCAL) {
        if (!buttonHeld && leaves(point, &target)) {
            leaveRemote();
            PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(target.x),
                         static_cast<LPARAM>(target.y));
        }
        if (app.peerReady == 1) {
            sendButtonPacket(app.mainWindow, app.controlSocket, PKT_INPUT, app.cursorX, app.cursorY);
            app.peerReady = 0;
        }
    }
    // Once the packet is on its way: entering placed the window, leaving hid it.
    if (wasRemote && app.controlState != STATE_LOCAL) followPointer(record->pt);
}

void enterRemote(int32_t x, int32_t y)
{
    sendButtonPacket(app.mainWindow, app.controlSocket, PKT_ENTER, x, y);
    app.peerReady = 0;
    app.buttonQueue.readIndex = 0;
    app.buttonQueue.count = 0;
    forgetPendingInput();
    app.controlState = STATE_REMOTE;
    held = !slaveFits();
    if (held) {
        // Held on the pixel it crossed from, where the system leaves it, from
        // before the capture window shows (Wine reports the pointer as a
        // window appears under it).
        const Point on = pointOnDesktop(app.desktop, {app.cursorX, app.cursorY});
        holdAt = {on.x, on.y};
        slaveAt = insideRemote({x, y}, app.remoteWidth, app.remoteHeight);
        startHolding();
    }
    SetLayeredWindowAttributes(app.mainWindow, 0, 1, LWA_ALPHA);  // 1, not 0: it must still take clicks
    // Shown without taking the activation: the user's own window keeps it,
    // and typing goes there again once control comes back.
    captureCentre = held ? holdAt : POINT{app.cursorX, app.cursorY};
    SetWindowPos(app.mainWindow, HWND_TOPMOST, captureCentre.x - 25, captureCentre.y - 25, 50, 50,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE);
    pushClipboard(app.mainWindow);
    clipToRemote();
    if (!pointerHidden) {
        ShowCursor(FALSE);
        pointerHidden = true;
    }
    fadeNoticeIn();
    setRemoteFlags(1);
}

void leaveRemote()
{
    setRemoteFlags(0);
    sendButtonPacket(app.mainWindow, app.controlSocket, PKT_LEAVE, app.cursorX, app.cursorY);
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
        return;
    }
    SetCursorPos(x, y);
    placement = {x, y};
    placementChecks = PLACEMENT_CHECKS;
    SetTimer(window, TIMER_PLACEMENT_CHECK, PLACEMENT_CHECK_MS, nullptr);
}

void checkPlacement(HWND window)
{
    if (--placementChecks <= 0 || app.controlState != STATE_LOCAL) KillTimer(window, TIMER_PLACEMENT_CHECK);
    POINT at = {};
    const POINT stop = heldBy(app.clipRect, placement);
    if (app.controlState == STATE_LOCAL && GetCursorPos(&at) && (at.x != placement.x || at.y != placement.y) &&
        ((at.x == stop.x && at.y == stop.y) || (at.x == remotePlacement.x && at.y == remotePlacement.y)))
        SetCursorPos(placement.x, placement.y);
}

void clipToRemote()
{
    if (held)
        app.clipRect = {holdAt.x, holdAt.y, holdAt.x + 1, holdAt.y + 1};
    else
        app.clipRect = {0, 0, app.remoteWidth, app.remoteHeight};
    ClipCursor(&app.clipRect);
}

void refitRemote()
{
    if (app.controlState != STATE_REMOTE) return;
    const bool fits = slaveFits();
    if (held && fits) {
        // The pointer stands for the Slave's position again, confined to its size.
        held = false;
        holdPointer(0);
        clipToRemote();
        recordSlavePosition(insideRemote(slaveAt, app.remoteWidth, app.remoteHeight));
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
        slaveAt = insideRemote(slaveAt, app.remoteWidth, app.remoteHeight);
        recordSlavePosition(slaveAt);
        if (!held) {
            held = true;
            startHolding();
        }
    }
    clipToRemote();
}
