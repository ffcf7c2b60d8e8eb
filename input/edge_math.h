// Where control crosses between the two screens, and where the pointer lands.
// No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

// (v x 1000 / from) x to / 1000, left to right, each division truncating
// toward zero: 767 of 768 to 600 gives 598. A `from` that is not positive
// gives 0: nothing is ever divided by it.
int32_t scaleCoordinate(int32_t v, int32_t from, int32_t to);

struct ScreenGeometry {
    int32_t localWidth, localHeight;    // the Master's screen
    int32_t remoteLeft, remoteTop;      // origin of the remote area, always 0
    int32_t remoteWidth, remoteHeight;  // the Slave's screen
};

struct Point {
    int32_t x, y;
};

// Both screens have a size: only then may control cross.
bool crossingPossible(const ScreenGeometry& g);

// In local state: does the point (as the hook reported it, unclipped) enter
// the Slave standing at `position`? If so, *entry is the point on the Slave's
// screen where its pointer appears.
bool entersRemote(int32_t position, const ScreenGeometry& g, Point p, Point* entry);

// In remote state: does the point leave the Slave's screen across the edge
// that faces the Master? If so, *reentry is where the Master's pointer comes
// back, 3 pixels inside its own edge. Where the Slave's screen is wider (Slave
// on the left) or taller (Slave above) than the Master's, the pointer cannot
// pass the Slave's far edge, so pushing past the Master's own edge leaves too.
bool leavesRemote(int32_t position, const ScreenGeometry& g, Point p, Point* reentry);
