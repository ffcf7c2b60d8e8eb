#include "windows/input/edge.h"

#include <cstdlib>

#include "app/front_end.h"
#include "windows/app/pictures.h"
#include "windows/clipboard/clipboard.h"
#include "windows/input/hooks.h"
#include "windows/link/connections.h"
#include "windows/link/link.h"
#include "windows/link/sockets.h"

namespace {

// Whether this program has hidden the pointer: it is shown again only then,
// so the system's display count stays balanced however often control drops.
bool pointerHidden = false;

// Whether the hook library holds the pointer still (the Slave does not fit
// on this PC's monitors), and whether a Slave has the pointer at all, and
// which.
bool hookHolds = false;
bool captured = false;
int32_t capturedIndex = -1;

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

// A switch from one Slave to the next changes the confinement, which the
// system may carry out after the placement that follows (Wine does): the
// pointer is then stopped by the rectangle of the Slave left. Where it stands
// there a few checks after the switch place it again.
bool switched = false;
RECT switchedFrom = {0, 0, 0, 0};
POINT switchStop = {-1, -1};

// The last hook point, for the switch delay's check.
MSLLHOOKSTRUCT lastRecord = {};

// Where a placement at p stops while the confinement still holds the pointer.
POINT heldBy(const RECT& clip, POINT p)
{
    return {p.x < clip.left ? clip.left : (p.x >= clip.right ? clip.right - 1 : p.x),
            p.y < clip.top ? clip.top : (p.y >= clip.bottom ? clip.bottom - 1 : p.y)};
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
    captureCentre = app.held ? POINT{app.holdAt.x, app.holdAt.y} : centre;
    captureOnePixel = app.held;
    const int reach = app.held ? 0 : CAPTURE_REACH;
    const int size = app.held ? 1 : 2 * CAPTURE_REACH;
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

// The hook library keeps the pointer's moves from the system while it holds
// it, on the held pixel; or lets them through again.
void holdAsDecided(bool held)
{
    if (held && !hookHolds) {
        holdPointer(1);
        SetCursorPos(app.holdAt.x, app.holdAt.y);
    } else if (!held && hookHolds) {
        holdPointer(0);
    }
    hookHolds = held;
}

// The Master's decisions act on Windows through this.
class WindowsMaster final : public MasterHost {
public:
    uint32_t now() override { return GetTickCount(); }

    bool send(SlaveLine& line, const uint8_t packet[PACKET_SIZE]) override
    {
        // A packet the socket cannot take yet waits in the link's queue, in order.
        Link& link = static_cast<Link&>(line);
        const bool sent = linkQueue(link, LINK_CONTROL, packet, PACKET_SIZE) && linkFlushNow(link, LINK_CONTROL);
        if (!sent) WSASetLastError(WSAENOTSOCK);  // there is no connection to send on
        return sent;
    }

    void unanswered(SlaveLine& line, bool waiting, uint32_t waitedMs) override
    {
        linkUnanswered(static_cast<Link&>(line), waiting, waitedMs);
    }

    void sendRefused(SlaveLine&) override { reportSocketError(WSAGetLastError(), "send ()", app.mainWindow); }

    // Its failure raises a box: not inside the read that brought the READY.
    void wheelLater(SlaveLine& line) override
    {
        PostMessageA(app.mainWindow, WM_SEND_WHEEL, static_cast<WPARAM>(line.index), 0);
    }

    // The pointer confined to a rectangle of the Slave's size, or held where
    // it stands; the capture window over it takes the clicks, shown without
    // taking the activation: the user's own window keeps it, and typing goes
    // there again once control comes back.
    void capture(const SlaveLine& line, bool held, Point) override
    {
        if (!captured) {
            // Entering: confined and hidden once the clipboard has gone (see controlMoved).
            holdAsDecided(held);
            SetLayeredWindowAttributes(app.mainWindow, 0, 1, LWA_ALPHA);  // 1, not 0: it must still take clicks
            placeCaptureWindow({app.cursorX, app.cursorY}, SWP_SHOWWINDOW);
            captured = true;
            capturedIndex = line.index;
            return;
        }
        if (line.index != capturedIndex) {
            switched = true;
            switchedFrom = app.clipRect;
            capturedIndex = line.index;
        }
        holdAsDecided(held);
        if (held) placeCaptureWindow({app.holdAt.x, app.holdAt.y}, 0);
        clipToRemote();
    }

    // The user's pointer, keyboard and buttons back to this PC: the hook
    // library lets them through again, the pointer is free and shown.
    void release() override
    {
        setRemoteFlags(0);
        holdAsDecided(false);
        ClipCursor(nullptr);
        if (pointerHidden) {
            ShowCursor(TRUE);
            pointerHidden = false;
        }
        captured = false;
        capturedIndex = -1;
        switched = false;
        switchStop = {-1, -1};
        SetLayeredWindowAttributes(app.mainWindow, 0, 255, LWA_ALPHA);
        ShowWindow(app.mainWindow, SW_HIDE);
    }

    // Posted: the hook's notifications already queued are handled first.
    void place(Point at) override
    {
        PostMessageA(app.mainWindow, WM_SET_CURSOR, static_cast<WPARAM>(at.x), static_cast<LPARAM>(at.y));
    }

    Point pointerAt(Point reported) override
    {
        POINT cursor = {reported.x, reported.y};
        GetCursorPos(&cursor);
        return {cursor.x, cursor.y};
    }

    void guardTimer(uint32_t ms) override { SetTimer(app.mainWindow, TIMER_CROSS_GUARD, ms, nullptr); }

    void controlMoved(ControlMove how, SlaveLine* from, SlaveLine* to) override
    {
        if (how == ControlMove::Entered) {
            pushClipboard(app.mainWindow, static_cast<Link&>(*to));
            clipToRemote();
            if (!pointerHidden) {
                ShowCursor(FALSE);
                pointerHidden = true;
            }
            fadeNoticeIn();
            setRemoteFlags(1);
        } else if (how == ControlMove::Switched) {
            relayClipboard(static_cast<Link&>(*from),
                           static_cast<Link&>(*to));
            showControlNotice();
        } else {
            fadeNoticeOut();
        }
    }

    void lockChanged(bool) override { frontEnd.deskChanged(); }

    void status(int32_t slot, const char* text) override { frontEnd.statusText(slot, text); }
};

WindowsMaster host;

}  // namespace

MasterHost* windowsMaster()
{
    return &host;
}

void handleMouseMove(const MSLLHOOKSTRUCT* record)
{
    frontEnd.statusValue(1, record->pt.x);
    lastRecord = *record;
    // Once the packet is on its way: entering placed the window, leaving hid it.
    if (masterPointer(app, {record->pt.x, record->pt.y})) followPointer(record->pt);
}

void checkCrossingGuard(HWND window)
{
    KillTimer(window, TIMER_CROSS_GUARD);
    // Still pushing against the edge: the last point, tested again, crosses.
    if (app.guard.pushing) handleMouseMove(&lastRecord);
}

void dropToLocal(HWND)
{
    // The flags go back to 0 too: with them at 1 the hook library would keep
    // the Master's own keyboard and buttons from its own programs.
    masterDrop(app);
}

void placePointer(HWND window, int32_t x, int32_t y)
{
    if (app.controlState != STATE_LOCAL) {
        // Entering: placed inside the confinement, or on the point it is held at.
        const POINT to = app.held ? POINT{app.holdAt.x, app.holdAt.y} : POINT{x, y};
        SetCursorPos(to.x, to.y);
        remotePlacement = heldBy(app.clipRect, to);
        masterPlaced(app);  // from here on the hook's points are the Slave's
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
    if (app.held)
        app.clipRect = {app.holdAt.x, app.holdAt.y, app.holdAt.x + 1, app.holdAt.y + 1};
    else if (app.control)
        app.clipRect = {0, 0, app.control->remoteWidth, app.control->remoteHeight};
    ClipCursor(&app.clipRect);
}
