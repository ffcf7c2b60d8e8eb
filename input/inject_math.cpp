#include "input/inject_math.h"

bool absoluteCoordinate(int32_t pixel, int32_t size, int32_t* out)
{
    if (size <= 0) return false;
    if (pixel < 0) pixel = 0;
    if (pixel > size - 1) pixel = size - 1;
    // Ceiling of pixel x 65536 / size, in 64 bits: the smallest normalised
    // value whose span starts inside this pixel.
    const int64_t scaled = (static_cast<int64_t>(pixel) * 65536 + size - 1) / size;
    *out = static_cast<int32_t>(scaled > 65535 ? 65535 : scaled);
    return true;
}

bool warmupGate(int32_t& counter)
{
    if (counter >= 2) return true;
    ++counter;
    return false;
}
