// The settings dialog: mode, partner computer, port and where the Slave
// stands, written to the registry on OK and loaded again.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "settings/desk_rules.h"  // TEXT_AREA

// Runs the dialog modally, owned by the main window; true when it ended with
// OK, after the settings were loaded again. While it is open, a second call
// only brings it to the front.
bool runSettingsDialog();
INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A "Notice" box owned by the dialog, with numbers (or other words) filled
// into the format as printf does.
void noteAbout(HWND dialog, const char* format, ...);

// Starts the connection with the loaded settings. A port no connection can
// use is reported once instead, and the connection waits until the dialog
// saves a usable one.
void connectWithSettings();
