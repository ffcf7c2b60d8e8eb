// Edge switching and pointer capture on the Master.
#pragma once

#include "windows/app/appstate.h"

struct Link;

void handleMouseMove(const MSLLHOOKSTRUCT* record);
// Hands control to the link's Slave, its pointer to appear at (x, y).
void enterRemote(Link& link, int32_t x, int32_t y);
// Hands control straight from the Slave in control to the link's, in the
// next cell: the one left is sent PKT_LEAVE, the next PKT_ENTER at (x, y).
void switchRemote(Link& to, int32_t x, int32_t y);
// Takes control back from the Slave that has it.
void leaveRemote();
// Back to local control without telling the Slave: after a failed send or a
// closed control connection. Harmless in local state.
void dropToLocal(HWND window);
void clipToRemote();
// The Slave's or this PC's desktop changed while the Slave has control: the
// pointer is confined to the new size, or held, at once, and the position on
// the Slave kept inside the new desktop.
void refitRemote();
// WM_SET_CURSOR: puts the pointer at (x, y); on the way back to this PC it
// also checks that the pointer got there (TIMER_PLACEMENT_CHECK).
void placePointer(HWND window, int32_t x, int32_t y);
void checkPlacement(HWND window);
// TIMER_CROSS_GUARD: the switch delay of a push has run; a pointer still
// against the edge crosses.
void checkCrossingGuard(HWND window);
// A hotkey (HotkeyAction) from the hook library.
void onHotkey(int32_t action);
