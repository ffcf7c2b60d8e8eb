// The program's entry steps, its main window and the window's placement.
#pragma once

#include "windows/app/appstate.h"

// Loads the icons, registers the window class and creates the main window (its
// creation sequence runs inside), then shows it if the diagnostic panel is on.
// Returns the window, or null after the failure box (the program then ends).
HWND startMainWindow(HINSTANCE instance, int showCommand);

// The main window's class: a copy that takes over finds the running one's by it.
extern const char MAIN_WINDOW_CLASS[];

// Runs the message loop until the quit message; returns the exit code.
int runMessageLoop();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void placeAboveTaskbar(HWND window, int width, int height);
void centreOnScreen(HWND window, int width, int height);
void placeBottomRight(HWND window, int width, int height);
