// How the program starts with Windows: not at all, through the user's Run
// key, or as a scheduled task with administrator rights; chosen in the tray
// menu or on the command line. And the restart with administrator rights,
// where a new copy takes over from the running one.
#pragma once

#include "windows/app/appstate.h"
#include "app/start_rules.h"

enum StartMode { START_OFF = 0, START_FOR_USER = 1, START_AS_ADMIN = 2 };

// The start that is on for this very program: the task while it is there,
// else the Run value.
StartMode currentStartMode();

// `/startup admin|user|off` (or a bad argument, answered with a box): sets
// the start in this process and returns the exit code, 0 on success. The
// start with administrator rights from a place others can change is refused
// with a box and exit code 3.
int runStartCommand(StartCommand command);

// Whether this program runs with administrator rights (a full token since
// Windows Vista; never before); tokenElevated: whether an open token (with
// TOKEN_QUERY) is such a full one.
bool runsElevated();
bool tokenElevated(HANDLE token);
// Whether the choices that need administrator rights are offered: Windows
// Vista or later.
bool elevationOffered();

// The tray menu's "Start with Windows" submenu, and "Restart with
// administrator rights" where it is offered.
void appendStartMenu(HMENU menu);
// Marks the start that is on now, which the user may have changed elsewhere.
void showStartMode();
// A choice from the submenu (with administrator rights: refused with a box
// where the program's place is not safe for it): a change that writes or removes the task asks
// for administrator rights (a copy of the program with `/startup`, behind a
// UAC prompt).
void chooseStartMode(StartMode mode);
// WM_ELEVATED_DONE: a copy with administrator rights was started (and, for a
// change of the start, has ended), or the user said no, or it failed.
void onElevatedDone(WPARAM outcome);
// At start: a task that starts this program from a place that others than
// administrators can change is taken off, the start falls back to "For this
// user", and WM_UNSAFE_START (wParam 1 if that is done, 0 if it needs
// administrator rights) tells the user once.
void reviewStartAtStart();
void onUnsafeStart(WPARAM moved);
// The first setup confirmed with OK turns the start for the user on, unless
// the task (set up by a script, say) starts the program already.
void startWithWindowsAfterSetup();

// "Restart with administrator rights": a copy with administrator rights
// starts, told to take over from this one.
void restartElevated(HWND window);
// `/takeover WINDOW`: noted at start, done by takeOver() in the new copy
// before it links. The copy of that main window is asked to close and waited
// for, so its ports are free.
void noteTakeOver(uint64_t window);
void takeOver();
