#include "input/edge_math.h"

#include "app/constants.h"

int32_t scaleCoordinate(int32_t v, int32_t from, int32_t to)
{
    if (from <= 0) return 0;
    // 64-bit intermediates: the same truncations, without overflow for any
    // point a hook can report.
    const int64_t perMille = static_cast<int64_t>(v) * 1000 / from;
    return static_cast<int32_t>(perMille * to / 1000);
}

bool crossingPossible(const ScreenGeometry& g)
{
    return g.localWidth > 0 && g.localHeight > 0 && g.remoteWidth > 0 && g.remoteHeight > 0;
}

bool entersRemote(int32_t position, const ScreenGeometry& g, Point p, Point* entry)
{
    if (!crossingPossible(g)) return false;
    switch (position) {
    case POS_LEFT:
        if (p.x >= 1) return false;
        *entry = {g.remoteWidth, scaleCoordinate(p.y, g.localHeight, g.remoteHeight)};
        return true;
    case POS_RIGHT:
        if (p.x <= g.localWidth - 1) return false;
        *entry = {g.remoteLeft + 1, scaleCoordinate(p.y, g.localHeight, g.remoteHeight)};
        return true;
    case POS_ABOVE:
        if (p.y >= 1) return false;
        *entry = {scaleCoordinate(p.x, g.localWidth, g.remoteWidth), g.remoteHeight - 1};
        return true;
    case POS_BELOW:
        if (p.y <= g.localHeight - 1) return false;
        *entry = {scaleCoordinate(p.x, g.localWidth, g.remoteWidth), g.remoteTop + 1};
        return true;
    default:
        return false;
    }
}

bool leavesRemote(int32_t position, const ScreenGeometry& g, Point p, Point* reentry)
{
    switch (position) {
    case POS_LEFT: {
        const bool pastMasterEdge = g.remoteWidth > g.localWidth && p.x > g.localWidth - 1;
        if (!(p.x > g.remoteWidth || pastMasterEdge)) return false;
        *reentry = {3, scaleCoordinate(p.y, g.remoteHeight, g.localHeight)};
        return true;
    }
    case POS_RIGHT:
        if (!(p.x < g.remoteLeft)) return false;
        *reentry = {g.localWidth - 3, scaleCoordinate(p.y, g.remoteHeight, g.localHeight)};
        return true;
    case POS_ABOVE: {
        const bool pastMasterEdge = g.remoteHeight > g.localHeight && p.y > g.localHeight - 1;
        if (!(p.y > g.remoteHeight || pastMasterEdge)) return false;
        *reentry = {scaleCoordinate(p.x, g.remoteWidth, g.localWidth), 3};
        return true;
    }
    case POS_BELOW:
        if (!(p.y < g.remoteTop)) return false;
        *reentry = {scaleCoordinate(p.x, g.remoteWidth, g.localWidth), g.localHeight - 3};
        return true;
    default:
        return false;
    }
}
