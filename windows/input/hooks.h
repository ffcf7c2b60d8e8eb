// The program's side of the hook library.
#pragma once

#include "windows/app/appstate.h"

// Installs the mouse hook, then the keyboard hook (even if the first failed);
// each failure costs a box. Returns 1 when both are in.
int installHooks(HWND window);
void releaseHooks();
// Both remote flags together, the first one first.
void setRemoteFlags(int flag);
// 1: the hook library keeps the pointer's moves from the system, which leaves
// it standing still while the moves are still reported; 0: they pass.
void holdPointer(int flag);
// Hands the hotkeys of the settings to the hook library (on), or turns them
// all off while the settings dialog reads a new combination (off).
void applyHotkeys(bool on);
