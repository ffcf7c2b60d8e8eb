// The X display as a Linux Master uses it: noticing the pointer pushed
// against an edge of the desktop that faces a Slave, holding the keyboard and
// the pointer while a Slave has control (their input in the wire's terms),
// and a notice of who has control. On the connection xOpen() opened (see
// x_side.h); the handlers are called from xPump().
#pragma once

#include <cstdint>

// The desktop's edges, a bit each.
constexpr uint8_t X_EDGE_LEFT = 1;
constexpr uint8_t X_EDGE_RIGHT = 2;
constexpr uint8_t X_EDGE_TOP = 4;
constexpr uint8_t X_EDGE_BOTTOM = 8;

// Each may be null.
struct XMasterHandlers {
    // In local state: the pointer reached a watched edge (one X_EDGE_ bit) at
    // (x, y) of the whole screen, or moved along it. It cannot go further, so
    // a push held there sends nothing more: edgeLeft tells when it ends.
    void (*edgeHit)(uint8_t side, int32_t x, int32_t y);
    void (*edgeLeft)(uint8_t side);
    // While captured: the hand's motion, not clamped by the screen's edges.
    void (*motion)(int32_t dx, int32_t dy);
    // A key as a hook on Windows reports it: the virtual key of its place on
    // a US keyboard (0 for a key a US keyboard lacks), its set-1 scan code
    // and the E0 bit. A held key's repeats come as further downs.
    void (*key)(int32_t vk, int32_t scan, bool extended, bool down);
    // A button's press or release as its wire code (EV_LEFT_DOWN ...,
    // EV_X1_* back, EV_X2_* forward).
    void (*button)(int32_t eventCode);
    // A wheel notch: 120 a notch, positive away from the user or to the right.
    void (*wheel)(int32_t delta, bool horizontal);
    // Where a modifier stands now, told as the capture starts and before a
    // hotkey's key in local state (whose modifiers no program is told of):
    // not an event to pass on.
    void (*keyState)(int32_t vk, bool down);
};
void xMasterHandle(const XMasterHandlers& handlers);

// The edges (X_EDGE_ bits) that face a Slave; 0 watches none. Laid again by
// itself when the screen or its monitors change. An edge is watched where a
// monitor lies on the whole desktop's outer edge; a click there still goes
// to the window under the pointer.
void xWatchEdges(uint8_t sides);

// The keys that move control (input/hotkeys.h combinations, 0 for none),
// heard in local state too: each is taken from every program, and its
// presses and releases come to `key`, its modifiers' state to `keyState`
// first. One that another program holds already cannot be had; the
// combinations not had are set in *missing (bit i for combos[i]).
void xGrabHotkeys(const uint32_t* combos, int32_t count, uint32_t* missing);

// Takes the keyboard and the pointer from every other program, hides the
// pointer and keeps it in the middle of a monitor, reporting motion, keys,
// buttons and the wheel through the handlers. Waits up to about 100 ms for
// a grab another program holds; false when it still holds one (then nothing
// is taken).
bool xCaptureStart();
// Gives them back, shows the pointer and puts it at (x, y) of the screen.
void xCaptureEnd(int32_t x, int32_t y);

// Where the pointer stands on the whole screen; and puts it at (x, y).
void xPointerWhere(int32_t* x, int32_t* y);
void xWarp(int32_t x, int32_t y);

// A small window at the bottom right of the desktop saying `text` (UTF-8;
// characters beyond Latin-1 show as '?'). It never takes the focus.
void xNoticeShow(const char* text);
void xNoticeHide();
