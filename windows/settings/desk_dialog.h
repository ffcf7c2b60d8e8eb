// The More Slaves dialog of the settings dialog: Slaves 2 to 4 of a Master's
// desk, each with its computer, its port and its place on a picture of the
// desk, checked before the settings dialog's OK writes them.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// The settings dialog's copy of the desk, from the loaded settings.
void loadDeskCopy();
// More Slaves, modal over the settings dialog, with Slave 1 as its fields
// are now and at `position` (0: none chosen yet, so the stored one).
void runDeskDialog(HWND settings, int32_t position);
// The Slaves 2 to 4 of a Master's desk must stand before OK writes (a Slave
// PC keeps them as they are, unused); a notice says why not.
bool checkDeskOnOk(HWND settings, int32_t mode, int32_t position);
// Writes Slaves 2 to 4 to the registry; false when it took not all of it.
bool writeDesk();
