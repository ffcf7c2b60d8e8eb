// Arithmetic of the Slave's replay: where an absolute move lands and the
// warm-up gate. No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

// The normalised absolute coordinate (0 to 65535 across the screen) that puts
// the pointer on `pixel` of a screen `size` pixels wide (or high). Every pixel
// is reachable: the value is the first one inside the pixel's own span, so the
// system's mapping (value x size / 65536, rounded down, or value x size / 65535,
// rounded to nearest) lands on the pixel itself. Points off the screen are
// clamped to its edge. Returns false, and leaves *out alone, when size is not
// positive: there is nothing to normalise against.
bool absoluteCoordinate(int32_t pixel, int32_t size, int32_t* out);

// The warm-up gate: refuses the first two gated injections in the life of the
// process and passes every later one. `counter` is the count of refusals so far.
bool warmupGate(int32_t& counter);
