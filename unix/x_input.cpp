// The Master's keys, pointer, buttons and wheel, replayed through XTest.
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <cstring>

#include "app/constants.h"
#include "input/desktop_math.h"
#include "unix/x_display.h"
#include "unix/x_side.h"

namespace {

// The keys and buttons the replay holds down, by X keycode and button.
bool keyDown[256];
bool buttonDown[10];
// Keys whose repeat the replay turned off while it holds them.
bool repeatOff[256];
// Which keys the server repeats (the core keyboard's per-key bits), read
// with the keymap (a new one brings its own).
unsigned char serverRepeats[32];
// Keys bound to a modifier: the server passes no repeat of them.
bool modifier[256];

int32_t wheelCarry[2];

Desktop desktop;
// Where the replay last put the pointer.
Point placed;
bool placedKnown = false;

bool repeats(int32_t keycode) { return (serverRepeats[keycode >> 3] >> (keycode & 7)) & 1; }

void setRepeat(int32_t keycode, bool on)
{
    XKeyboardControl control = {};
    control.key = keycode;
    control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
    XChangeKeyboardControl(xDisplay, KBKey | KBAutoRepeatMode, &control);
}

void readRepeats()
{
    XKeyboardState state = {};
    XGetKeyboardControl(xDisplay, &state);
    memcpy(serverRepeats, state.auto_repeats, sizeof serverRepeats);
    memset(modifier, 0, sizeof modifier);
    if (XModifierKeymap* map = XGetModifierMapping(xDisplay)) {
        for (int i = 0; i < 8 * map->max_keypermod; ++i) modifier[map->modifiermap[i]] = true;
        XFreeModifiermap(map);
    }
}

void pressButton(int32_t button, bool down)
{
    if (!xDisplay) return;
    XTestFakeButtonEvent(xDisplay, static_cast<unsigned>(button), down ? True : False, CurrentTime);
    buttonDown[button] = down;
}

}  // namespace

void inputOpen()
{
    memset(keyDown, 0, sizeof keyDown);
    memset(buttonDown, 0, sizeof buttonDown);
    memset(repeatOff, 0, sizeof repeatOff);
    wheelCarry[0] = wheelCarry[1] = 0;
    placedKnown = false;
    readRepeats();
}

void inputKeymapChanged() { readRepeats(); }

void inputDesktopChanged(const Desktop& changed)
{
    desktop = changed;
    placedKnown = false;
}

// The server repeats a held key of its own accord, XTest's as a real one.
// Only the Master's repeats may arrive: while the replay holds a key that
// the server repeats, that key's repeat is off (for the keyboard on this PC
// too, for as long), and it is turned off before the press, when the server
// decides whether to repeat it. (Turned on again for a repeat's press alone,
// the server starts repeating the key by itself.)
void xKey(int32_t inputCode, bool down)
{
    const int32_t keycode = keycodeOf(inputCode);
    if (!xDisplay || keycode == 0) return;
    if (down) {
        if (!keyDown[keycode] && repeats(keycode)) {
            setRepeat(keycode, false);
            repeatOff[keycode] = true;
        }
        // The server passes no second press of a key held down whose repeat
        // is off: a repeat from the Master is a release and a press, as the
        // server itself gives its repeats to most programs. A modifier's
        // repeats go nowhere, as this PC's own keyboard's (and its release
        // would be seen: a lock key's would toggle the lock).
        if (keyDown[keycode] && modifier[keycode]) return;
        if (keyDown[keycode] && repeatOff[keycode])
            XTestFakeKeyEvent(xDisplay, static_cast<unsigned>(keycode), False, CurrentTime);
        keyDown[keycode] = true;
        XTestFakeKeyEvent(xDisplay, static_cast<unsigned>(keycode), True, CurrentTime);
        return;
    }
    XTestFakeKeyEvent(xDisplay, static_cast<unsigned>(keycode), False, CurrentTime);
    keyDown[keycode] = false;
    if (repeatOff[keycode]) {
        setRepeat(keycode, true);
        repeatOff[keycode] = false;
    }
}

void xMoveTo(int32_t x, int32_t y)
{
    if (!xDisplay) return;
    const Point p = pointOnDesktop(desktop, {x, y});
    XTestFakeMotionEvent(xDisplay, DefaultScreen(xDisplay), p.x, p.y, CurrentTime);
    placed = p;
    placedKnown = true;
}

// As far as the replay knows: asking the server where the pointer is would
// cost a round trip, more than the move it might save.
bool xPointerAt(int32_t x, int32_t y)
{
    const Point p = pointOnDesktop(desktop, {x, y});
    return placedKnown && p.x == placed.x && p.y == placed.y;
}

void xButton(int32_t eventCode)
{
    switch (eventCode) {
    case EV_LEFT_DOWN:   pressButton(Button1, true); break;
    case EV_LEFT_UP:     pressButton(Button1, false); break;
    case EV_MIDDLE_DOWN: pressButton(Button2, true); break;
    case EV_MIDDLE_UP:   pressButton(Button2, false); break;
    case EV_RIGHT_DOWN:  pressButton(Button3, true); break;
    case EV_RIGHT_UP:    pressButton(Button3, false); break;
    case EV_X1_DOWN:     pressButton(8, true); break;  // back
    case EV_X1_UP:       pressButton(8, false); break;
    case EV_X2_DOWN:     pressButton(9, true); break;  // forward
    case EV_X2_UP:       pressButton(9, false); break;
    default: break;
    }
}

// X turns the wheel by notches, as buttons 4 and 5 (away from the user and
// towards), 6 and 7 (left and right).
void xWheel(int32_t delta, bool horizontal)
{
    if (!xDisplay) return;
    int32_t& carry = wheelCarry[horizontal ? 1 : 0];
    carry += delta;
    const int32_t notches = carry / 120;
    carry -= notches * 120;
    const int32_t button = horizontal ? (notches > 0 ? 7 : 6) : (notches > 0 ? 4 : 5);
    for (int32_t i = 0; i < std::abs(notches); ++i) {
        XTestFakeButtonEvent(xDisplay, static_cast<unsigned>(button), True, CurrentTime);
        XTestFakeButtonEvent(xDisplay, static_cast<unsigned>(button), False, CurrentTime);
    }
}

void xReleaseAll()
{
    if (!xDisplay) return;
    for (int32_t keycode = 0; keycode < 256; ++keycode) {
        if (keyDown[keycode]) {
            XTestFakeKeyEvent(xDisplay, static_cast<unsigned>(keycode), False, CurrentTime);
            keyDown[keycode] = false;
        }
        if (repeatOff[keycode]) {
            setRepeat(keycode, true);
            repeatOff[keycode] = false;
        }
    }
    for (int32_t button = 0; button < 10; ++button)
        if (buttonDown[button]) pressButton(button, false);
    wheelCarry[0] = wheelCarry[1] = 0;
    XFlush(xDisplay);
}

void xFlush()
{
    if (xDisplay) XFlush(xDisplay);
}
