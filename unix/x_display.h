// What the X side's files share behind x_side.h: the one connection, the
// window the selection is owned and read with, and each part's share of
// opening, pumping and closing.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>

// The connection; nullptr while closed.
extern Display* xDisplay;
// Unmapped, never shown: owns CLIPBOARD and receives conversions into its
// properties.
extern Window xWindow;

// What the X side always hears of the root window itself (its size, and a
// monitor a program set); the Master's part adds its own while it needs them.
constexpr long ROOT_EVENTS = StructureNotifyMask;

// Milliseconds of a clock that never goes back.
int64_t xNowMs();

// The keymap (x_keymap.cpp): which X keycode each Linux input code has.
// Reading it again after the server's keymap changed says nothing unless
// the keycodes stop or start being the evdev ones.
void readKeymap();
// 0 for an input code the keymap has no key for.
int32_t keycodeOf(int32_t inputCode);
// And back, for a key the Master's keyboard pressed: 0 for a keycode that
// names no key of the evdev set.
int32_t inputCodeOfKeycode(int32_t keycode);

// The replay (x_input.cpp).
void inputOpen();
// After a new keymap: which keys the server repeats may have changed.
void inputKeymapChanged();
// The desktop changed: moves are placed on its monitors from now on.
void inputDesktopChanged(const struct Desktop& desktop);

// The selection (x_clipboard.cpp).
// Text for STRING and the core fonts: characters beyond Latin-1, and bytes
// that are no UTF-8, become '?'.
std::string latin1FromUtf8(const std::string& utf8);
bool clipboardOpen();
// True when the event was the clipboard's.
bool clipboardEvent(XEvent& event);
// Ends transfers that ran out of time and calls a request's `done`.
void clipboardTimeouts();
int32_t clipboardWaitMs();
void clipboardClose();

// The Master's part (x_master.cpp): the edges, the capture and the notice.
void masterOpen();
void masterDesktopChanged(const struct Desktop& desktop);
// An event none of the other parts took.
void masterEvent(XEvent& event);
// Lets go of whatever the capture holds and destroys the part's windows.
void masterClose();
