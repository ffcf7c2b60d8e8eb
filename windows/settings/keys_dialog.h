// Keys and crossing, opened with "Keys..." from the settings dialog: the
// hotkeys that move control and the guards against crossing by accident.
// Like More Slaves, its OK keeps the choices in the settings dialog's copy,
// and the settings dialog's OK writes them.
#pragma once

#include <winsock2.h>
#include <windows.h>

// The settings dialog's copy, taken from the loaded settings as it opens.
void loadKeysCopy();
// Runs the page modally, owned by the settings dialog.
void runKeysDialog(HWND settings);
// Writes what the page changed; true when the registry took all of it.
bool writeKeys();
