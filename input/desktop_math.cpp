#include "input/desktop_math.h"

#include "app/constants.h"

namespace {

bool holds(const Rect& r, Point p)
{
    return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

int32_t clampTo(int32_t v, int32_t low, int32_t high)
{
    return v < low ? low : v > high ? high : v;
}

// How far v lies outside the span [low, high): 0 inside.
int64_t outside(int64_t v, int32_t low, int32_t high)
{
    if (v < low) return low - v;
    if (v > high - 1) return v - (high - 1);
    return 0;
}

int32_t holdingMonitor(const Desktop& desktop, Point p)
{
    for (int32_t i = 0; i < desktop.count; ++i)
        if (holds(desktop.monitors[i], p)) return i;
    return -1;
}

bool horizontal(int32_t position)
{
    return position == POS_LEFT || position == POS_RIGHT;
}

// The monitor's extent across an edge of `position`: rows for a left or right
// edge, columns for a top or bottom one.
int32_t spanStart(const Rect& r, int32_t position) { return horizontal(position) ? r.top : r.left; }
int32_t spanEnd(const Rect& r, int32_t position) { return horizontal(position) ? r.bottom : r.right; }

// How far out towards `position` the monitor reaches (larger is further out).
int64_t reach(const Rect& r, int32_t position)
{
    switch (position) {
    case POS_LEFT:  return -static_cast<int64_t>(r.left);
    case POS_RIGHT: return r.right;
    case POS_ABOVE: return -static_cast<int64_t>(r.top);
    default:        return r.bottom;
    }
}

// Whether monitor m's edge towards `position` is outer at `along` (a row or a
// column on that edge): no other monitor on that row lies beyond it.
bool outerAt(const Desktop& desktop, int32_t m, int32_t position, int32_t along)
{
    const Rect& edge = desktop.monitors[m];
    for (int32_t i = 0; i < desktop.count; ++i) {
        const Rect& other = desktop.monitors[i];
        if (i == m || along < spanStart(other, position) || along >= spanEnd(other, position)) continue;
        const bool beyond = position == POS_LEFT    ? other.right <= edge.left
                            : position == POS_RIGHT ? other.left >= edge.right
                            : position == POS_ABOVE ? other.bottom <= edge.top
                                                    : other.top >= edge.bottom;
        if (beyond) return false;
    }
    return true;
}

// The monitor whose outer edge towards `position` runs through `along`: of
// those spanning it, the one reaching furthest out; where none spans it, the
// nearest across (then the furthest out).
int32_t outerMonitorAt(const Desktop& desktop, int32_t position, int32_t along)
{
    int32_t best = -1;
    int64_t bestGap = 0, bestReach = 0;
    for (int32_t i = 0; i < desktop.count; ++i) {
        const Rect& r = desktop.monitors[i];
        const int64_t gap = outside(along, spanStart(r, position), spanEnd(r, position));
        const int64_t out = reach(r, position);
        if (best < 0 || gap < bestGap || (gap == bestGap && out > bestReach)) {
            best = i;
            bestGap = gap;
            bestReach = out;
        }
    }
    return best;
}

// Where the Master's pointer comes back for the point p past the Slave's
// edge: 3 pixels inside the outer edge on the Slave's side of the monitor at
// the scaled point.
Point reentryAt(int32_t position, const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight, Point p)
{
    const Rect& b = desktop.bounds;
    const int32_t along = horizontal(position) ? b.top + scaleCoordinate(p.y, remoteHeight, desktopHeight(desktop))
                                               : b.left + scaleCoordinate(p.x, remoteWidth, desktopWidth(desktop));
    const Rect& r = desktop.monitors[outerMonitorAt(desktop, position, along)];
    const int32_t onEdge = horizontal(position) ? clampTo(along, r.top, r.bottom - 1) : clampTo(along, r.left, r.right - 1);
    switch (position) {
    case POS_LEFT:  return {r.left + 3, onEdge};
    case POS_RIGHT: return {r.right - 3, onEdge};
    case POS_ABOVE: return {onEdge, r.top + 3};
    default:        return {onEdge, r.bottom - 3};
    }
}

}  // namespace

Desktop singleScreen(int32_t width, int32_t height)
{
    Desktop desktop = {};
    desktop.count = 1;
    desktop.monitors[0] = {0, 0, width, height};
    desktop.bounds = desktop.monitors[0];
    return desktop;
}

void addMonitor(Desktop& desktop, Rect monitor)
{
    if (monitor.right <= monitor.left || monitor.bottom <= monitor.top || desktop.count >= DESKTOP_MONITORS) return;
    if (desktop.count == 0) {
        desktop.bounds = monitor;
    } else {
        Rect& b = desktop.bounds;
        if (monitor.left < b.left) b.left = monitor.left;
        if (monitor.top < b.top) b.top = monitor.top;
        if (monitor.right > b.right) b.right = monitor.right;
        if (monitor.bottom > b.bottom) b.bottom = monitor.bottom;
    }
    desktop.monitors[desktop.count++] = monitor;
}

int32_t desktopWidth(const Desktop& desktop)
{
    return desktop.count > 0 ? desktop.bounds.right - desktop.bounds.left : 0;
}

int32_t desktopHeight(const Desktop& desktop)
{
    return desktop.count > 0 ? desktop.bounds.bottom - desktop.bounds.top : 0;
}

bool onDesktop(const Desktop& desktop, Point p)
{
    return holdingMonitor(desktop, p) >= 0;
}

int32_t nearestMonitor(const Desktop& desktop, Point p)
{
    int32_t best = -1;
    int64_t bestDistance = 0;
    for (int32_t i = 0; i < desktop.count; ++i) {
        const Rect& r = desktop.monitors[i];
        const int64_t dx = outside(p.x, r.left, r.right), dy = outside(p.y, r.top, r.bottom);
        const int64_t distance = dx * dx + dy * dy;
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

Point pointOnDesktop(const Desktop& desktop, Point p)
{
    const int32_t m = nearestMonitor(desktop, p);
    if (m < 0) return p;
    const Rect& r = desktop.monitors[m];
    return {clampTo(p.x, r.left, r.right - 1), clampTo(p.y, r.top, r.bottom - 1)};
}

bool entersRemoteAcross(int32_t position, const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight,
                        Point under, Point p, Point* entry)
{
    if (desktop.count < 1 || remoteWidth <= 0 || remoteHeight <= 0) return false;
    int32_t m = holdingMonitor(desktop, p);
    if (m < 0) m = nearestMonitor(desktop, under);
    const Rect& r = desktop.monitors[m];
    const Rect& b = desktop.bounds;
    // Along the edge: the row (or column) of p, kept on the monitor's edge.
    const int32_t along = horizontal(position) ? clampTo(p.y, r.top, r.bottom - 1) : clampTo(p.x, r.left, r.right - 1);
    const int32_t alongRemote = horizontal(position)
                                    ? scaleCoordinate(p.y - b.top, desktopHeight(desktop), remoteHeight)
                                    : scaleCoordinate(p.x - b.left, desktopWidth(desktop), remoteWidth);
    switch (position) {
    case POS_LEFT:
        if (p.x >= r.left + 1) return false;
        *entry = {remoteWidth, alongRemote};
        break;
    case POS_RIGHT:
        if (p.x <= r.right - 1) return false;
        *entry = {1, alongRemote};
        break;
    case POS_ABOVE:
        if (p.y >= r.top + 1) return false;
        *entry = {alongRemote, remoteHeight - 1};
        break;
    case POS_BELOW:
        if (p.y <= r.bottom - 1) return false;
        *entry = {alongRemote, 1};
        break;
    default:
        return false;
    }
    return outerAt(desktop, m, position, along);
}

bool leavesRemoteAcross(int32_t position, const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight,
                        Point under, Point p, Point* reentry)
{
    if (desktop.count < 1) return false;
    // The monitor the pointer is on, and whether p lies past its far edge
    // where no monitor goes on: the confinement cannot take the pointer further.
    const bool offDesktop = holdingMonitor(desktop, p) < 0;
    const Rect& on = desktop.monitors[nearestMonitor(desktop, under)];
    bool leaves = false;
    switch (position) {
    case POS_LEFT:  leaves = p.x > remoteWidth || (offDesktop && on.right < remoteWidth && p.x >= on.right); break;
    case POS_RIGHT: leaves = p.x < 0 || (offDesktop && on.left > 0 && p.x < on.left); break;
    case POS_ABOVE: leaves = p.y > remoteHeight || (offDesktop && on.bottom < remoteHeight && p.y >= on.bottom); break;
    case POS_BELOW: leaves = p.y < 0 || (offDesktop && on.top > 0 && p.y < on.top); break;
    default:        return false;
    }
    if (!leaves) return false;

    *reentry = reentryAt(position, desktop, remoteWidth, remoteHeight, p);
    return true;
}

bool coversRemote(const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight)
{
    // Column by column between the monitors' left and right edges: in each
    // strip the monitors spanning it must cover the rows 0 to remoteHeight
    // without a gap.
    int32_t x = 0;
    while (x < remoteWidth) {
        int32_t stripEnd = remoteWidth, y = 0;
        for (bool grew = true; grew && y < remoteHeight;) {
            grew = false;
            for (int32_t i = 0; i < desktop.count; ++i) {
                const Rect& r = desktop.monitors[i];
                if (r.left > x || r.right <= x || r.top > y || r.bottom <= y) continue;
                y = r.bottom;
                if (r.right < stripEnd) stripEnd = r.right;
                grew = true;
            }
        }
        if (y < remoteHeight) return false;
        // Where another monitor starts inside the strip, the cover may change.
        for (int32_t i = 0; i < desktop.count; ++i) {
            const int32_t left = desktop.monitors[i].left;
            if (left > x && left < stripEnd) stripEnd = left;
        }
        x = stripEnd;
    }
    return true;
}

Point insideRemote(Point p, int32_t remoteWidth, int32_t remoteHeight)
{
    return {clampTo(p.x, 0, remoteWidth - 1), clampTo(p.y, 0, remoteHeight - 1)};
}

bool stepRemote(int32_t position, const Desktop& desktop, int32_t remoteWidth, int32_t remoteHeight, bool mayLeave,
                Point step, Point* at, Point* reentry)
{
    const int64_t x = static_cast<int64_t>(at->x) + step.x, y = static_cast<int64_t>(at->y) + step.y;
    bool leaves = false;
    switch (position) {
    case POS_LEFT:  leaves = x > remoteWidth; break;
    case POS_RIGHT: leaves = x < 0; break;
    case POS_ABOVE: leaves = y > remoteHeight; break;
    case POS_BELOW: leaves = y < 0; break;
    default:        break;
    }
    // Far past every edge a step is still a point of 32 bits.
    const Point pushed = {static_cast<int32_t>(x < INT32_MIN ? INT32_MIN : x > INT32_MAX ? INT32_MAX : x),
                          static_cast<int32_t>(y < INT32_MIN ? INT32_MIN : y > INT32_MAX ? INT32_MAX : y)};
    if (mayLeave && leaves && desktop.count > 0) {
        *at = pushed;
        *reentry = reentryAt(position, desktop, remoteWidth, remoteHeight, pushed);
        return true;
    }
    *at = insideRemote(pushed, remoteWidth, remoteHeight);
    return false;
}

Point slavePixel(const Desktop& desktop, Point received)
{
    if (desktop.count < 1) return received;
    const Rect& b = desktop.bounds;
    // Kept inside the bounds first: the sum with a negative origin cannot overflow.
    const Point inBounds = {b.left + clampTo(received.x, 0, desktopWidth(desktop) - 1),
                            b.top + clampTo(received.y, 0, desktopHeight(desktop) - 1)};
    return pointOnDesktop(desktop, inBounds);
}
