// The three windows that show pictures: the splash after start-up, the
// connection notice above the taskbar while the Slave has control, and the
// About box.
#pragma once

#include "windows/app/appstate.h"

// Create the splash and the notice, hidden, as modeless dialogs of their own
// (the main window is not yet known when they are made).
void createNoticeWindow();
void createSplashWindow();

// The modal About box over the main window: 1 when closed with OK or Enter,
// 0 with Escape, the close button, or when it cannot be shown.
int showAboutDialog();

// The notice fades in while the Slave has control and out when control comes
// back. A fade asked to stop ends before its next step and leaves the
// opacity where it was; the fade that replaces it goes on from there.
void fadeNoticeIn();
// The notice names the PC that has control anew (with several Slaves).
void showControlNotice();
void fadeNoticeOut();

// The splash: in on TIMER_SPLASH_SHOW, out on TIMER_SPLASH_HIDE.
void fadeSplashIn();
void fadeSplashOut();
