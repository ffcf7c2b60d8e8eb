// The tray icon, its menu and the diagnostic panel on the main window.
#pragma once

#include "windows/app/appstate.h"

void createDiagnosticControls(HWND window, HFONT font);
void showDiagnosticControls(int showCommand);
void addTrayIcon(HWND window);
void deleteTrayIcon();
void createTrayMenu();
// With several Slaves, the tray icon's tip and the panel's fourth label say
// which are linked now; with one, both stay as they are.
void showDeskState();

void onTrayNotify(HWND window, LPARAM lParam);
// The shell's "TaskbarCreated" message, broadcast when the taskbar (re)starts.
UINT taskbarCreatedMessage();
void onCommand(HWND window, int id);

// Writes "Status Value: %d" into a status label; a hidden panel's label gets
// its newest text when the panel is shown.
void showStatusValue(HWND label, int32_t value);
void showStatusText(HWND label, const char* text);
// The tray tip shows how far files crossing the clipboard have come
// ("Skiprail - files: 45%"); below 0, the usual tip again.
void showTransferTip(int32_t percent);

// Points the core's `frontEnd` at the panel, the tray tip and the main window.
void useWindowsFrontEnd();
