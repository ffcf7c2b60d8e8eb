// The geometry of a desktop of several monitors: which monitor edge control
// crosses at, where the pointer comes back, and which pixel a point that no
// monitor covers stands for. No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

#include "input/edge_math.h"

// Left and top inclusive, right and bottom exclusive, as the system gives them.
struct Rect {
    int32_t left, top, right, bottom;
};

constexpr int32_t DESKTOP_MONITORS = 16;

struct Desktop {
    int32_t count;                  // monitors in use, 1 to DESKTOP_MONITORS
    Rect monitors[DESKTOP_MONITORS];
    Rect bounds;                    // the rectangle around them all: the virtual screen
};

// A desktop of one monitor at the origin.
Desktop singleScreen(int32_t width, int32_t height);

// Adds a monitor (ignored when empty or when the desktop is full) and widens
// the bounds. Start from `Desktop{}` (no monitor).
void addMonitor(Desktop& desktop, Rect monitor);

int32_t desktopWidth(const Desktop& desktop);
int32_t desktopHeight(const Desktop& desktop);

// Whether a monitor holds the point.
bool onDesktop(const Desktop& desktop, Point p);

// The monitor that holds the point, or the nearest one to it; -1 without any.
int32_t nearestMonitor(const Desktop& desktop, Point p);

// The point moved onto the nearest monitor (itself when one holds it).
Point pointOnDesktop(const Desktop& desktop, Point p);

// On the Master, in local state: does the hook's point p (unclipped) push
// against the desktop's outer edge on the Slave's side? The edge is that of
// the monitor under the pointer (the one holding p, else the one holding or
// nearest `under`, where the system keeps the pointer) where no monitor lies
// beyond it on that side. If so, *entry is where the Slave's pointer appears:
// the same rows as on one screen, with the coordinate along the edge scaled
// over the whole desktop.
bool entersRemoteAcross(int32_t position, const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight,
                        Point under, Point p, Point* entry);

// On the Master, in remote state: the exit tests of one screen (the pointer
// confined to the Slave's size at the origin), where a Slave larger than the
// part of the desktop the pointer can reach also lets go when the pointer is
// pushed past the monitor it is on (the one holding or nearest `under`).
// If so, *reentry lies 3 pixels inside the outer edge on the Slave's side of
// the monitor at the scaled point.
bool leavesRemoteAcross(int32_t position, const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight,
                        Point under, Point p, Point* reentry);

// Whether the rectangle of the Slave's size at the origin lies wholly on the
// desktop's monitors: only then can the Master's own pointer, confined to it,
// stand on every point of the Slave.
bool coversRemote(const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight);

// The point kept inside the Slave's desktop, (0, 0) to the last pixel.
Point insideRemote(Point p, int32_t remoteWidth, int32_t remoteHeight);

// On the Master, in remote state, where the Slave does not fit (coversRemote
// is false): the Master's pointer is held still and the Slave's position `at`
// follows the steps the hand makes. One step: when `mayLeave` (no button held)
// and at + step lies past the Slave's edge facing the Master (the exit test
// of one screen, made on the Slave's position), true, with *at the point past
// the edge and *reentry where the Master's pointer comes back, as with
// leavesRemoteAcross. Otherwise false, with *at moved by the step and kept
// inside the Slave's desktop.
bool stepRemote(int32_t position, const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight, bool mayLeave,
                Point step, Point* at, Point* reentry);

// On the Slave: the desktop pixel for a point received in the Slave's own
// coordinates (origin at the desktop's top left corner), moved onto the
// nearest monitor when none holds it.
Point slavePixel(const Desktop& desktop, Point received);
