// The connection and the clock the X side's files share; x_side.cpp opens
// and closes the connection, the others use it.
#include "unix/x_display.h"

#include <ctime>

Display* xDisplay = nullptr;
Window xWindow = 0;

int64_t xNowMs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
