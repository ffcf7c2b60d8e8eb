// The program's side of the hook library.
#pragma once

#include "app/appstate.h"

// Installs the mouse hook, then the keyboard hook (even if the first failed);
// each failure costs a box. Returns 1 when both are in.
int installHooks(HWND window);
void releaseHooks();
// Both remote flags together, the first one first.
void setRemoteFlags(int flag);
