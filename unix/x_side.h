// The X display as the Linux Slave uses it: replaying the Master's keys,
// pointer, buttons and wheel through XTest, the screen and its monitors
// (RandR), and the CLIPBOARD selection. One connection, no threads: the
// event loop polls xFd() and calls xPump() when it is readable. What a
// Master needs of the display besides is in x_master.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "input/desktop_math.h"
#include "unix/clip_offers.h"

// Opens the display (nullptr: $DISPLAY) and checks what the Slave needs
// (XTest, RandR, XFixes, the evdev keymap by key names, saying on stderr
// when the keymap is another). False, with one line on stderr, when the
// display cannot be had. `lost` is called (once, then the program ends) when
// the display goes away.
bool xOpen(const char* name, void (*lost)());
// Releases every key and button still held, then closes the display.
void xClose();
int xFd();
// Handles every event that waits (selection requests and transfers, screen
// changes); also to be called before each poll, for events already read.
void xPump();
// How long the event loop may wait before calling xPump() again although
// nothing arrived (a clipboard request that runs out of time): milliseconds,
// or -1 for as long as it likes.
int32_t xWaitMs();

// The whole X screen with its monitors, as the Windows Slave gives its
// desktop: bounds start at the origin.
Desktop xDesktop();
// Whether the screen or its monitors changed since this was last asked.
bool xDesktopChanged();

// A key by its Linux input code (KEY_A is 30), pressed or released with the
// X keycode the server's keymap gives it. The server adds no repeats of its
// own to a key held this way: only the Master's repeats arrive.
void xKey(int32_t inputCode, bool down);
// The pointer to a pixel of the whole screen; a point off every monitor goes
// to the nearest one.
void xMoveTo(int32_t x, int32_t y);
// Whether the replay last put the pointer on the pixel a move to (x, y)
// would: such a move can be left out. (The server is not asked: that would
// cost a round trip, more than the move.)
bool xPointerAt(int32_t x, int32_t y);
// A button event by its wire code (EV_LEFT_DOWN ... and the further buttons).
void xButton(int32_t eventCode);
// A wheel turn in the wire's units (120 a notch, positive away from the user
// or to the right); remainders are carried to the next turn.
void xWheel(int32_t delta, bool horizontal);
// Every key and button the replay holds down goes up.
void xReleaseAll();
// What was replayed goes to the server now.
void xFlush();

// What came from the Master becomes the CLIPBOARD selection: its offers,
// each type served by its own name (text also as UTF8_STRING, STRING, TEXT),
// with TARGETS and INCR; a type made on demand is made when first asked for.
void xOwnClipboard(std::shared_ptr<ClipOffers> offers);
// Text alone (UTF-8).
void xOwnClipboard(const char* utf8, int32_t n);
// Whether the selection is still what came over (no program has taken it
// since): then it need not travel back.
bool xClipboardStillOurs();
// A number that changes whenever the selection gets a new owner (text taken
// by xOwnClipboard included, at once) or loses it: the same number as when
// the text was last sent or placed means nothing new to send.
uint32_t xClipboardSerial();
// Asks the selection's owner for its TARGETS, then for the first type of
// each wanted group it offers, one after another; `done` is called from xPump
// with what was read (nothing when there is no owner, and what came so far
// when the owner falls silent for a second). An owner of the old kind that
// answers no TARGETS is asked for text alone. A request while one is under
// way joins it: `done` (the latest) is called once. With the selection ours,
// the answer is our own offers, from the next xPump (xWaitMs is then 0).
void xRequestClipboardOffers(const ClipWanted& wanted, std::function<void(ClipOffers&)> done);
// The same for text alone: `done` gets the text (UTF-8), or nullptr and 0.
void xRequestClipboard(void (*done)(const char* utf8, int32_t n));
