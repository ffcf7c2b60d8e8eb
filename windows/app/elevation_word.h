// A word when Windows keeps input out: a program running as administrator
// comes to the front while this one does not run so. Windows then drops the
// Slave's replayed input into it, and calls none of the Master's hooks while
// it has the focus. The tray tells the user once per such program.
#pragma once

#include "windows/app/appstate.h"

// Starts watching which window comes to the front (a window-event hook, run
// on this thread), and looks at the one in front now.
void watchForeground();
void stopWatchingForeground();
// The Master has just entered this Slave: the window in front matters now.
void lookAtForeground();
