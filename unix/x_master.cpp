// The X display as a Linux Master uses it: the edges that face a Slave, the
// grab that holds the keyboard and the pointer while a Slave has control, and
// the notice. No polling: every part waits for the server's events.
#include "unix/x_master.h"

#include <X11/XKBlib.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/constants.h"
#include "input/desktop_math.h"
#include "input/hotkeys.h"
#include "input/scan_codes.h"
#include "unix/x_display.h"

namespace {

XMasterHandlers handlers = {};
Desktop desktop = {};

// ---- The edges. A strip one pixel wide along each watched edge of each
// monitor that lies on the desktop's outer edge: an input-only window, which
// shows nothing, is told when the pointer enters it, moves in it and leaves.
struct Strip {
    Window window;
    uint8_t side;
    Rect place;
};
Strip strips[4 * DESKTOP_MONITORS];
int32_t stripCount = 0;
uint8_t watched = 0;
// The place last told: a move onto the edge brings an enter notice and a
// motion for the same pixel.
Point hit = {-1, -1};
// While the pointer is on a strip, the buttons are grabbed on the root
// window: see passClick.
bool clicksGrabbed = false;

// Ours are kept above every other window: the last of them raised is the
// top one, and a window stacked right above one of them (an unmapped
// notice keeps its place in the stack), or a new one, may hide them.
Window topmost = 0;
// Another program that keeps itself on top the same way would raise with us
// for ever: at most so many raises a second.
constexpr int32_t RAISES_A_SECOND = 20;
int64_t raiseSecond = 0;
int32_t raisesInSecond = 0;

// ---- The capture.
bool capturing = false;
bool cursorHidden = false;
Point center = {};  // where the pointer is kept while captured
Point drift = {};   // how far it may stray from there before it is warped back
Point last = {};    // where the last motion put it
// A warp under way: the motions the server made before it (their serial is
// older) still count from where the pointer was.
bool warping = false;
unsigned long warpSerial = 0;
// Whether the server sends a held key's repeats as presses alone (XKB's
// detectable auto-repeat), not as a release and a press each.
bool detectableRepeat = false;

// ---- The hotkeys, grabbed on the root window with Caps Lock and Num Lock
// either way.
struct HotkeyGrab {
    int32_t keycode;
    unsigned modifiers;
};
HotkeyGrab hotkeyGrabs[HOTKEY_COUNT];
int32_t hotkeyGrabCount = 0;
constexpr unsigned LOCKS[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
constexpr unsigned HOTKEY_X_MODIFIERS = ControlMask | Mod1Mask | ShiftMask | Mod4Mask;
// A grab refused (another program holds the combination) is heard of as an
// error: counted here while the grabs are made.
int grabErrors = 0;
int (*previousErrorHandler)(Display*, XErrorEvent*) = nullptr;

// ---- The notice.
Window notice = 0;
bool noticeShown = false;
GC noticeGc = nullptr;
XFontStruct* noticeFont = nullptr;
std::string noticeText;  // Latin-1, as a core font draws it
constexpr int32_t NOTICE_PAD = 6;
constexpr int32_t NOTICE_MARGIN = 16;

Window root() { return DefaultRootWindow(xDisplay); }

bool ours(Window window)
{
    if (window == notice && notice) return true;
    for (int32_t i = 0; i < stripCount; ++i)
        if (strips[i].window == window) return true;
    return false;
}

const Strip* stripOf(Window window)
{
    for (int32_t i = 0; i < stripCount; ++i)
        if (strips[i].window == window) return &strips[i];
    return nullptr;
}

// What happens to the other programs' windows is heard only while there is
// something to keep on top.
void selectRoot()
{
    XSelectInput(xDisplay, root(), ROOT_EVENTS | (stripCount > 0 || noticeShown ? SubstructureNotifyMask : 0));
}

void raiseOurs()
{
    const int64_t second = xNowMs() / 1000;
    if (second != raiseSecond) raiseSecond = second, raisesInSecond = 0;
    if (++raisesInSecond > RAISES_A_SECOND) return;
    for (int32_t i = 0; i < stripCount; ++i) {
        XRaiseWindow(xDisplay, strips[i].window);
        topmost = strips[i].window;
    }
    if (noticeShown) {
        XRaiseWindow(xDisplay, notice);
        topmost = notice;
    }
}

void addStrip(uint8_t side, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (stripCount == static_cast<int32_t>(sizeof strips / sizeof strips[0]) || width <= 0 || height <= 0) return;
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;  // no window manager frames or moves it
    attributes.event_mask = EnterWindowMask | LeaveWindowMask | PointerMotionMask;
    const Window window =
        XCreateWindow(xDisplay, root(), x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0,
                      InputOnly, CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
    XMapWindow(xDisplay, window);
    strips[stripCount++] = {window, side, {x, y, x + width, y + height}};
}

// A click on the edge belongs to the window beneath the strip (a scroll bar
// at the screen's edge, a panel's button). While the pointer is on a strip
// a press freezes the pointer and comes to us; passClick steps the strip
// aside and has the server deliver the press again, to that window. (The
// grab is the root's: the server hands a press on again only to windows
// below the grab's, never to a sibling.)
void grabClicks(bool on)
{
    if (on == clicksGrabbed) return;
    if (on)
        XGrabButton(xDisplay, AnyButton, AnyModifier, root(), False, ButtonPressMask, GrabModeSync, GrabModeAsync,
                    None, None);
    else
        XUngrabButton(xDisplay, AnyButton, AnyModifier, root());
    clicksGrabbed = on;
}

void layStrips()
{
    grabClicks(false);
    hit = {-1, -1};
    for (int32_t i = 0; i < stripCount; ++i) XDestroyWindow(xDisplay, strips[i].window);
    stripCount = 0;
    topmost = noticeShown ? notice : 0;
    const Rect& b = desktop.bounds;
    for (int32_t i = 0; i < desktop.count; ++i) {
        const Rect& m = desktop.monitors[i];
        const int32_t width = m.right - m.left, height = m.bottom - m.top;
        if ((watched & X_EDGE_LEFT) && m.left == b.left) addStrip(X_EDGE_LEFT, m.left, m.top, 1, height);
        if ((watched & X_EDGE_RIGHT) && m.right == b.right) addStrip(X_EDGE_RIGHT, m.right - 1, m.top, 1, height);
        if ((watched & X_EDGE_TOP) && m.top == b.top) addStrip(X_EDGE_TOP, m.left, m.top, width, 1);
        if ((watched & X_EDGE_BOTTOM) && m.bottom == b.bottom) addStrip(X_EDGE_BOTTOM, m.left, m.bottom - 1, width, 1);
    }
    selectRoot();
    raiseOurs();
}

bool inside(const Rect& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// With the strips under the pointer unmapped the server delivers the press
// as if they had never been there, and that window holds the pointer until
// the release as for any press. Mapped again at once, they stay on top. A
// press away from every strip (the pointer left one while another program
// held it, so no leave notice came) is handed on too, and ends the grab.
void passClick(const XButtonEvent& press)
{
    bool onStrip = false;
    for (int32_t i = 0; i < stripCount; ++i) {
        if (inside(strips[i].place, press.x_root, press.y_root)) {
            XUnmapWindow(xDisplay, strips[i].window);
            onStrip = true;
        }
    }
    XAllowEvents(xDisplay, ReplayPointer, press.time);
    for (int32_t i = 0; i < stripCount; ++i)
        if (inside(strips[i].place, press.x_root, press.y_root)) XMapWindow(xDisplay, strips[i].window);
    if (!onStrip) grabClicks(false);
}

// Enter and leave notices with another mode come from grabs starting or
// ending (a click passed on, a capture): the pointer was not moved there.
void stripEvent(const Strip& strip, XEvent& event)
{
    if (capturing) return;
    const auto tell = [&strip](int32_t x, int32_t y) {
        if (x == hit.x && y == hit.y) return;
        hit = {x, y};
        if (handlers.edgeHit) handlers.edgeHit(strip.side, x, y);
    };
    switch (event.type) {
    case EnterNotify:
        if (event.xcrossing.mode != NotifyNormal) break;
        grabClicks(true);
        tell(event.xcrossing.x_root, event.xcrossing.y_root);
        break;
    case MotionNotify:
        tell(event.xmotion.x_root, event.xmotion.y_root);
        break;
    case LeaveNotify:
        hit = {-1, -1};  // the next enter is told, wherever it is
        if (event.xcrossing.mode != NotifyNormal) break;
        grabClicks(false);
        if (handlers.edgeLeft) handlers.edgeLeft(strip.side);
        break;
    default: break;
    }
}

// A foreign window created, or stacked right above ours, may hide them.
void rootEvent(XEvent& event)
{
    switch (event.type) {
    case CreateNotify:
        if (!ours(event.xcreatewindow.window)) raiseOurs();
        break;
    case ConfigureNotify:
        if (!ours(event.xconfigure.window) && ours(event.xconfigure.above)) raiseOurs();
        break;
    case CirculateNotify:
        if (!ours(event.xcirculate.window) && event.xcirculate.place == PlaceOnTop) raiseOurs();
        break;
    default: break;
    }
}

void warpToCenter()
{
    warpSerial = NextRequest(xDisplay);
    XWarpPointer(xDisplay, None, root(), 0, 0, 0, 0, center.x, center.y);
    warping = true;
}

// The middle of the largest monitor, and an eighth of it either way to
// stray: far enough from every edge that the motions under way while the
// pointer is warped back are never clamped.
void placeCenter()
{
    int32_t best = 0;
    for (int32_t i = 1; i < desktop.count; ++i) {
        const Rect& m = desktop.monitors[i];
        const Rect& b = desktop.monitors[best];
        if (int64_t{m.right - m.left} * (m.bottom - m.top) > int64_t{b.right - b.left} * (b.bottom - b.top)) best = i;
    }
    const Rect& m = desktop.monitors[best];
    center = {(m.left + m.right) / 2, (m.top + m.bottom) / 2};
    drift = {(m.right - m.left) / 8, (m.bottom - m.top) / 8};
}

void onMotion(const XMotionEvent& motion)
{
    if (warping && static_cast<long>(motion.serial - warpSerial) >= 0) {
        warping = false;
        last = center;
    }
    const Point p = {motion.x_root, motion.y_root};
    const int32_t dx = p.x - last.x, dy = p.y - last.y;
    last = p;
    if ((dx != 0 || dy != 0) && handlers.motion) handlers.motion(dx, dy);
    // The motion may have ended the capture: the pointer then stays where it was put.
    if (capturing && !warping && (std::abs(p.x - center.x) > drift.x || std::abs(p.y - center.y) > drift.y))
        warpToCenter();
}

// X's buttons 4 to 7 are the wheels' notches: a press each, whose release
// says nothing more.
void onButton(const XButtonEvent& button, bool down)
{
    int32_t code = 0;
    switch (button.button) {
    case Button1: code = down ? EV_LEFT_DOWN : EV_LEFT_UP; break;
    case Button2: code = down ? EV_MIDDLE_DOWN : EV_MIDDLE_UP; break;
    case Button3: code = down ? EV_RIGHT_DOWN : EV_RIGHT_UP; break;
    case 8:       code = down ? EV_X1_DOWN : EV_X1_UP; break;  // back
    case 9:       code = down ? EV_X2_DOWN : EV_X2_UP; break;  // forward
    case Button4: case Button5: case 6: case 7:
        if (down && handlers.wheel)
            handlers.wheel(button.button == Button4 || button.button == 7 ? 120 : -120, button.button >= 6);
        return;
    default: return;
    }
    if (handlers.button) handlers.button(code);
}

// Without detectable auto-repeat the server gives a repeat as a release and
// a press of the same key at the same time, sent together: such a release
// is no release.
bool releaseOfRepeat(const XKeyEvent& release)
{
    if (detectableRepeat || XEventsQueued(xDisplay, QueuedAfterReading) == 0) return false;
    XEvent next;
    XPeekEvent(xDisplay, &next);
    return next.type == KeyPress && next.xkey.keycode == release.keycode && next.xkey.time == release.time;
}

// The modifier keys as they stand now, to `keyState`.
void reportModifiers()
{
    if (!handlers.keyState) return;
    static const int32_t MODIFIER_CODES[] = {29, 97, 56, 100, 42, 54, 125, 126};  // Ctrl, Alt, Shift, Super: left, right
    char keys[32] = {};
    XQueryKeymap(xDisplay, keys);
    for (int32_t code : MODIFIER_CODES) {
        const int32_t keycode = keycodeOf(code);
        if (keycode <= 0 || keycode > 255) continue;
        handlers.keyState(virtualKeyOf(code), (keys[keycode / 8] >> (keycode % 8)) & 1);
    }
}

bool isHotkeyPress(const XKeyEvent& key)
{
    for (int32_t i = 0; i < hotkeyGrabCount; ++i)
        if (static_cast<int32_t>(key.keycode) == hotkeyGrabs[i].keycode &&
            (key.state & HOTKEY_X_MODIFIERS) == hotkeyGrabs[i].modifiers)
            return true;
    return false;
}

int countGrabError(Display* display, XErrorEvent* error)
{
    if (error->request_code == 33 /* X_GrabKey */ && error->error_code == BadAccess) {
        ++grabErrors;
        return 0;
    }
    return previousErrorHandler ? previousErrorHandler(display, error) : 0;
}

void onKey(const XKeyEvent& key, bool down)
{
    if (!down && releaseOfRepeat(key)) return;
    const int32_t code = inputCodeOfKeycode(static_cast<int32_t>(key.keycode));
    int32_t scan = 0;
    bool extended = false;
    if (!scanCodeOf(code, &scan, &extended)) return;  // no key a Windows PC knows
    if (handlers.key) handlers.key(virtualKeyOf(code), scan, extended, down);
}

// While captured the grab gives everything to the root window, for us alone.
bool captureEvent(XEvent& event)
{
    switch (event.type) {
    case MotionNotify:  onMotion(event.xmotion); return true;
    case ButtonPress:   onButton(event.xbutton, true); return true;
    case ButtonRelease: onButton(event.xbutton, false); return true;
    case KeyPress:      onKey(event.xkey, true); return true;
    case KeyRelease:    onKey(event.xkey, false); return true;
    default:            return false;
    }
}

// The monitor whose bottom right corner lies furthest down and right.
const Rect& noticeMonitor()
{
    int32_t best = 0;
    for (int32_t i = 1; i < desktop.count; ++i) {
        const Rect& m = desktop.monitors[i];
        const Rect& b = desktop.monitors[best];
        if (m.right + m.bottom > b.right + b.bottom) best = i;
    }
    return desktop.monitors[best];
}

void placeNotice()
{
    const int n = static_cast<int>(noticeText.size());
    const int32_t textWidth = noticeFont ? XTextWidth(noticeFont, noticeText.data(), n) : 6 * n;
    const int32_t textHeight = noticeFont ? noticeFont->ascent + noticeFont->descent : 13;
    const int32_t width = textWidth + 2 * NOTICE_PAD, height = textHeight + 2 * NOTICE_PAD;
    const Rect& m = noticeMonitor();
    XMoveResizeWindow(xDisplay, notice, m.right - width - 2 - NOTICE_MARGIN, m.bottom - height - 2 - NOTICE_MARGIN,
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
}

void drawNotice()
{
    const int32_t ascent = noticeFont ? noticeFont->ascent : 10;
    XClearWindow(xDisplay, notice);
    XDrawString(xDisplay, notice, noticeGc, NOTICE_PAD, NOTICE_PAD + ascent, noticeText.data(),
                static_cast<int>(noticeText.size()));
}

// Override-redirect: no window manager frames it, moves it or gives it the
// focus, and it asks for none (it hears only its own exposure).
void makeNotice()
{
    const int screen = DefaultScreen(xDisplay);
    XColor gray = {}, exact = {};
    const unsigned long background =
        XAllocNamedColor(xDisplay, DefaultColormap(xDisplay, screen), "#303030", &gray, &exact)
            ? gray.pixel
            : BlackPixel(xDisplay, screen);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = background;
    attributes.border_pixel = WhitePixel(xDisplay, screen);
    attributes.event_mask = ExposureMask;
    notice = XCreateWindow(xDisplay, root(), 0, 0, 1, 1, 1, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWEventMask, &attributes);
    XStoreName(xDisplay, notice, "skiprail notice");
    noticeGc = XCreateGC(xDisplay, notice, 0, nullptr);
    XSetForeground(xDisplay, noticeGc, WhitePixel(xDisplay, screen));
    noticeFont = XLoadQueryFont(xDisplay, "fixed");
    if (noticeFont) XSetFont(xDisplay, noticeGc, noticeFont->fid);
}

}  // namespace

void masterOpen()
{
    Bool supported = False;
    detectableRepeat = XkbSetDetectableAutoRepeat(xDisplay, True, &supported) && supported;
    stripCount = 0;
    hotkeyGrabCount = 0;
    watched = 0;
    topmost = 0;
    clicksGrabbed = false;
    hit = {-1, -1};
    capturing = cursorHidden = warping = false;
    notice = 0;
    noticeShown = false;
    noticeGc = nullptr;
    noticeFont = nullptr;
}

void masterDesktopChanged(const Desktop& changed)
{
    desktop = changed;
    if (watched != 0) layStrips();  // a monitor may come to the edge that had none
    if (capturing) {
        placeCenter();
        warpToCenter();
    }
    if (noticeShown) placeNotice();
}

void masterEvent(XEvent& event)
{
    const bool toRoot = event.xany.window == root();
    if (capturing && toRoot && captureEvent(event)) return;
    if (!capturing && (event.type == KeyPress || event.type == KeyRelease)) {
        // A hotkey's key in local state: the grab brings its press and release.
        if (event.type == KeyPress) reportModifiers();
        if (event.type == KeyRelease || isHotkeyPress(event.xkey)) onKey(event.xkey, event.type == KeyPress);
        return;
    }
    if (event.type == ButtonPress && toRoot && clicksGrabbed) {
        passClick(event.xbutton);
    } else if (const Strip* strip = stripOf(event.xany.window)) {
        stripEvent(*strip, event);
    } else if (notice && event.xany.window == notice) {
        if (event.type == Expose && event.xexpose.count == 0) drawNotice();
    } else if (toRoot) {
        rootEvent(event);  // substructure notices name the root in `event`
    }
}

void masterClose()
{
    grabClicks(false);
    for (int32_t i = 0; i < hotkeyGrabCount; ++i)
        for (unsigned locks : LOCKS) XUngrabKey(xDisplay, hotkeyGrabs[i].keycode, hotkeyGrabs[i].modifiers | locks, root());
    hotkeyGrabCount = 0;
    if (capturing) {
        XUngrabKeyboard(xDisplay, CurrentTime);
        XUngrabPointer(xDisplay, CurrentTime);
    }
    if (cursorHidden) XFixesShowCursor(xDisplay, root());
    capturing = cursorHidden = false;
    for (int32_t i = 0; i < stripCount; ++i) XDestroyWindow(xDisplay, strips[i].window);
    stripCount = 0;
    if (noticeFont) XFreeFont(xDisplay, noticeFont);
    if (noticeGc) XFreeGC(xDisplay, noticeGc);
    if (notice) XDestroyWindow(xDisplay, notice);
    notice = 0;
    noticeFont = nullptr;
    noticeGc = nullptr;
    noticeShown = false;
}

void xMasterHandle(const XMasterHandlers& given) { handlers = given; }

void xGrabHotkeys(const uint32_t* combos, int32_t count, uint32_t* missing)
{
    *missing = 0;
    if (!xDisplay) return;
    for (int32_t i = 0; i < hotkeyGrabCount; ++i)
        for (unsigned locks : LOCKS)
            XUngrabKey(xDisplay, hotkeyGrabs[i].keycode, hotkeyGrabs[i].modifiers | locks, root());
    hotkeyGrabCount = 0;
    XSync(xDisplay, False);
    previousErrorHandler = XSetErrorHandler(countGrabError);
    for (int32_t i = 0; i < count && hotkeyGrabCount < HOTKEY_COUNT; ++i) {
        const uint32_t combo = combos[i];
        const int32_t keycode = combo ? keycodeOf(inputCodeOf(static_cast<int32_t>(combo & 0xFF), 0, 0)) : 0;
        if (keycode <= 0) {
            if (combo) *missing |= 1u << i;
            continue;
        }
        unsigned modifiers = 0;
        if (combo & HOTKEY_CTRL) modifiers |= ControlMask;
        if (combo & HOTKEY_ALT) modifiers |= Mod1Mask;
        if (combo & HOTKEY_SHIFT) modifiers |= ShiftMask;
        if (combo & HOTKEY_WIN) modifiers |= Mod4Mask;
        grabErrors = 0;
        for (unsigned locks : LOCKS) XGrabKey(xDisplay, keycode, modifiers | locks, root(), False, GrabModeAsync, GrabModeAsync);
        XSync(xDisplay, False);
        if (grabErrors > 0) {
            for (unsigned locks : LOCKS) XUngrabKey(xDisplay, keycode, modifiers | locks, root());
            *missing |= 1u << i;
            continue;
        }
        hotkeyGrabs[hotkeyGrabCount++] = {keycode, modifiers};
    }
    XSync(xDisplay, False);
    XSetErrorHandler(previousErrorHandler);
}

void xWatchEdges(uint8_t sides)
{
    if (!xDisplay) return;
    watched = sides & (X_EDGE_LEFT | X_EDGE_RIGHT | X_EDGE_TOP | X_EDGE_BOTTOM);
    layStrips();
    XFlush(xDisplay);
}

// Both grabs or neither: a keyboard without its pointer (or the other way
// round) would leave the user half locked out of this PC.
bool xCaptureStart()
{
    if (!xDisplay) return false;
    if (capturing) return true;
    grabClicks(false);
    hit = {-1, -1};  // coming back to the same pixel is a new push
    bool held = false;
    for (int attempt = 0; attempt < 6 && !held; ++attempt) {
        if (attempt > 0) usleep(20000);
        if (XGrabPointer(xDisplay, root(), False, PointerMotionMask | ButtonPressMask | ButtonReleaseMask,
                         GrabModeAsync, GrabModeAsync, None, None, CurrentTime) != GrabSuccess)
            continue;
        if (XGrabKeyboard(xDisplay, root(), False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess)
            held = true;
        else
            XUngrabPointer(xDisplay, CurrentTime);
    }
    if (!held) {
        XSync(xDisplay, False);  // let go of by the time we say so
        return false;
    }
    capturing = true;
    reportModifiers();
    XFixesHideCursor(xDisplay, root());
    cursorHidden = true;
    // The motions the grab already gives count from where the pointer is.
    Window rootReturn = 0, child = 0;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
    XQueryPointer(xDisplay, root(), &rootReturn, &child, &x, &y, &windowX, &windowY, &mask);
    last = {x, y};
    placeCenter();
    warpToCenter();
    XFlush(xDisplay);
    return true;
}

void xCaptureEnd(int32_t x, int32_t y)
{
    if (!xDisplay || !capturing) return;
    // Put first, so that the windows under the middle see no pointer pass.
    XWarpPointer(xDisplay, None, root(), 0, 0, 0, 0, x, y);
    XUngrabKeyboard(xDisplay, CurrentTime);
    XUngrabPointer(xDisplay, CurrentTime);
    if (cursorHidden) XFixesShowCursor(xDisplay, root());
    capturing = cursorHidden = warping = false;
    XFlush(xDisplay);
}

void xPointerWhere(int32_t* x, int32_t* y)
{
    Window rootReturn = 0, child = 0;
    int px = 0, py = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
    if (xDisplay) XQueryPointer(xDisplay, root(), &rootReturn, &child, &px, &py, &windowX, &windowY, &mask);
    *x = px;
    *y = py;
}

void xWarp(int32_t x, int32_t y)
{
    if (!xDisplay || capturing) return;
    XWarpPointer(xDisplay, None, root(), 0, 0, 0, 0, x, y);
    XFlush(xDisplay);
}

void xNoticeShow(const char* text)
{
    if (!xDisplay) return;
    if (!notice) makeNotice();
    noticeText = latin1FromUtf8(text ? text : "");
    placeNotice();
    if (noticeShown) {
        drawNotice();
    } else {
        noticeShown = true;
        XMapWindow(xDisplay, notice);
        selectRoot();
        raiseOurs();
    }
    XFlush(xDisplay);
}

void xNoticeHide()
{
    if (!xDisplay || !noticeShown) return;
    XUnmapWindow(xDisplay, notice);
    noticeShown = false;
    if (topmost == notice) topmost = stripCount > 0 ? strips[stripCount - 1].window : 0;
    selectRoot();
    XFlush(xDisplay);
}
