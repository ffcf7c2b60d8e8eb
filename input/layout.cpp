#include "input/layout.h"

#include "app/constants.h"

namespace {

// The step from a cell to its neighbour on `side`; false for a value that
// names no side.
bool sideStep(int32_t side, int32_t* dx, int32_t* dy)
{
    switch (side) {
    case POS_LEFT: *dx = -1; *dy = 0; return true;
    case POS_RIGHT: *dx = 1; *dy = 0; return true;
    case POS_ABOVE: *dx = 0; *dy = -1; return true;
    case POS_BELOW: *dx = 0; *dy = 1; return true;
    default: return false;
    }
}

void clearDesk(Desk* desk)
{
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        desk->present[i] = 0;
        desk->cellX[i] = 0;
        desk->cellY[i] = 0;
    }
}

// Whether a single Slave's settings can stand at all, before anything is
// placed: a side, a PC that exists to stand next to, and not itself.
bool settingsHold(const SlavePlace places[MAX_SLAVES], int32_t i)
{
    int32_t dx = 0, dy = 0;
    const SlavePlace& s = places[i];
    if (!sideStep(s.position, &dx, &dy)) return false;
    if (s.nextTo < 0 || s.nextTo > MAX_SLAVES - 1) return false;
    if (i == 0 && s.nextTo != 0) return false;  // Slave 1 stands next to the Master
    if (s.nextTo == 0) return true;
    const int32_t anchor = s.nextTo - 1;
    return anchor != i && places[anchor].present != 0;
}

}  // namespace

DeskFault buildDesk(const SlavePlace places[MAX_SLAVES], Desk* desk, int32_t* culprit)
{
    clearDesk(desk);
    *culprit = -1;

    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        if (places[i].present != 0 && !settingsHold(places, i)) {
            *culprit = i;
            return DeskFault::Unplaced;
        }
    }

    // A Slave may stand next to a later-numbered one, so place whatever has
    // its neighbour placed, pass after pass, until a pass places nothing.
    bool placed[MAX_SLAVES] = {};
    bool progress = true;
    while (progress) {
        progress = false;
        for (int32_t i = 0; i < MAX_SLAVES; ++i) {
            const SlavePlace& s = places[i];
            if (s.present == 0 || placed[i]) continue;
            int32_t baseX = 0, baseY = 0;
            if (s.nextTo != 0) {
                const int32_t anchor = s.nextTo - 1;
                if (!placed[anchor]) continue;
                baseX = desk->cellX[anchor];
                baseY = desk->cellY[anchor];
            }
            int32_t dx = 0, dy = 0;
            sideStep(s.position, &dx, &dy);
            const int32_t x = baseX + dx, y = baseY + dy;
            bool taken = x == 0 && y == 0;
            for (int32_t j = 0; j < MAX_SLAVES && !taken; ++j)
                taken = placed[j] && desk->cellX[j] == x && desk->cellY[j] == y;
            if (taken) {
                clearDesk(desk);
                *culprit = i;
                return DeskFault::SameCell;
            }
            desk->cellX[i] = x;
            desk->cellY[i] = y;
            placed[i] = true;
            progress = true;
        }
    }

    // What is left over stands in a chain that never reaches the Master.
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        if (places[i].present != 0 && !placed[i]) {
            clearDesk(desk);
            *culprit = i;
            return DeskFault::Unplaced;
        }
    }
    for (int32_t i = 0; i < MAX_SLAVES; ++i) desk->present[i] = placed[i] ? 1 : 0;
    return DeskFault::None;
}

int32_t deskNeighbour(const Desk& desk, int32_t who, int32_t side)
{
    int32_t x = 0, y = 0;
    if (who != DESK_MASTER) {
        if (who < 0 || who >= MAX_SLAVES || desk.present[who] == 0) return DESK_NONE;
        x = desk.cellX[who];
        y = desk.cellY[who];
    }
    int32_t dx = 0, dy = 0;
    if (!sideStep(side, &dx, &dy)) return DESK_NONE;
    x += dx;
    y += dy;
    if (x == 0 && y == 0) return DESK_MASTER;
    for (int32_t i = 0; i < MAX_SLAVES; ++i)
        if (desk.present[i] != 0 && desk.cellX[i] == x && desk.cellY[i] == y) return i;
    return DESK_NONE;
}

int32_t oppositeSide(int32_t side)
{
    switch (side) {
    case POS_LEFT: return POS_RIGHT;
    case POS_RIGHT: return POS_LEFT;
    case POS_ABOVE: return POS_BELOW;
    case POS_BELOW: return POS_ABOVE;
    default: return side;
    }
}

bool pushedPast(int32_t side, int32_t width, int32_t height, Point p)
{
    switch (side) {
    case POS_LEFT: return p.x < 0;
    case POS_RIGHT: return p.x > width;
    case POS_ABOVE: return p.y < 0;
    case POS_BELOW: return p.y > height;
    default: return false;
    }
}

Point entryAcross(int32_t side, int32_t fromWidth, int32_t fromHeight, int32_t toWidth, int32_t toHeight, Point p)
{
    // scaleCoordinate gives 0 for a `from` of no size: nothing is divided by it.
    switch (side) {
    case POS_LEFT: return {toWidth, scaleCoordinate(p.y, fromHeight, toHeight)};
    case POS_RIGHT: return {1, scaleCoordinate(p.y, fromHeight, toHeight)};
    case POS_ABOVE: return {scaleCoordinate(p.x, fromWidth, toWidth), toHeight - 1};
    case POS_BELOW: return {scaleCoordinate(p.x, fromWidth, toWidth), 1};
    default: return p;
    }
}
