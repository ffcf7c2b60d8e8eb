// The Master's pointer and capture on Windows: the front end of the Master's
// decisions (input/master_core.h), which call it through their host.
#pragma once

#include "windows/app/appstate.h"

struct Link;

// The host the Master's decisions act through; set as app.host at start.
MasterHost* windowsMaster();

void handleMouseMove(const MSLLHOOKSTRUCT* record);
// Back to local control without telling the Slave: after a failed send or a
// closed control connection. Harmless in local state.
void dropToLocal(HWND window);
// Confines the pointer again to the Slave in control (or its held pixel).
void clipToRemote();
// WM_SET_CURSOR: puts the pointer at (x, y); on the way back to this PC it
// also checks that the pointer got there (TIMER_PLACEMENT_CHECK).
void placePointer(HWND window, int32_t x, int32_t y);
void checkPlacement(HWND window);
// TIMER_CROSS_GUARD: the switch delay of a push has run; a pointer still
// against the edge crosses.
void checkCrossingGuard(HWND window);
