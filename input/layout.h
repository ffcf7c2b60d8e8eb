// The desk: the Master in the centre cell of a small grid and up to four
// Slaves, each in a cell that touches the Master or another Slave (left,
// right, above, below). Which PC stands next to which, and where the pointer
// appears when it crosses between two screens of different sizes.
// No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

#include "input/edge_math.h"

constexpr int32_t MAX_SLAVES = 4;
// The PCs a desk answer can name beside a Slave's index (0 for Slave 1).
constexpr int32_t DESK_MASTER = -1;
constexpr int32_t DESK_NONE = -2;

// One Slave as the settings keep it. Slave 1 always stands next to the
// Master, on the side `ScreenPos` gives.
struct SlavePlace {
    int32_t present;   // 1 when the Slave is set up
    int32_t position;  // POS_LEFT, POS_RIGHT, POS_ABOVE or POS_BELOW: its side of the PC it stands next to
    int32_t nextTo;    // 0 the Master, 1 to 3 the Slave of that number
};

enum class DeskFault {
    None,
    SameCell,  // two PCs in one cell (a Slave on the Master's cell included)
    Unplaced,  // a Slave next to one that is not there, itself, or a chain that never reaches the Master; or no side
};

// The Master stands at (0, 0); x grows to the right, y downwards.
struct Desk {
    int32_t present[MAX_SLAVES];
    int32_t cellX[MAX_SLAVES], cellY[MAX_SLAVES];
};

// Places every present Slave; a Slave may stand next to a later-numbered one.
// On success *culprit is -1. On a fault *culprit is the index (0 for Slave 1)
// of a Slave that cannot stand where its settings say, and the desk holds no
// Slaves, so nothing can cross into a half-built desk.
DeskFault buildDesk(const SlavePlace places[MAX_SLAVES], Desk* desk, int32_t* culprit);

// The PC in the cell next to `who` (DESK_MASTER or a Slave's index) on `side`
// (POS_*): DESK_MASTER, a Slave's index, or DESK_NONE (also for a `who` that
// is absent or out of range, and for a `side` that names no side).
int32_t deskNeighbour(const Desk& desk, int32_t who, int32_t side);

// LEFT <-> RIGHT, ABOVE <-> BELOW; any other value comes back unchanged.
int32_t oppositeSide(int32_t side);

// Whether a point on a screen of width x height (origin at its top left) has
// been pushed past its edge on `side`: the exit rows of a Slave's screen
// (left x < 0, right x > width, above y < 0, below y > height).
bool pushedPast(int32_t side, int32_t width, int32_t height, Point p);

// Where the pointer appears on a screen of toWidth x toHeight when it
// crosses the edge on `side` of a screen of fromWidth x fromHeight: the entry
// rows of the Master's own crossing, with the coordinate along the shared
// edge scaled (left x = toWidth, right x = 1, above y = toHeight - 1, below
// y = 1). A `from` size of 0 or less scales to 0; a `side` that names no side
// gives p back unchanged.
Point entryAcross(int32_t side, int32_t fromWidth, int32_t fromHeight, int32_t toWidth, int32_t toHeight, Point p);
