// The X display as the Slave uses it: the connection, its events, and the
// screen with its monitors. The replay is in x_input.cpp, the selection in
// x_clipboard.cpp, the keycodes in x_keymap.cpp.
#include "unix/x_side.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstdio>

#include "unix/x_display.h"

namespace {

void (*onLost)() = nullptr;
bool lostTold = false;

int randrEventBase = -1;
bool monitorsKnown = false;  // RandR 1.5: the monitors as the desktop arranges them
int xkbEventBase = -1;

Desktop desktop;
bool desktopStale = false;  // RandR told of a change not yet read
bool desktopChanged = false;

// The display went away (the server ended, the session closed). Xlib ends
// the program once this returns: nothing of it may be used again.
int onIoError(Display*)
{
    if (!lostTold) {
        lostTold = true;
        if (onLost) onLost();
    }
    return 0;
}

// Errors are part of a selection's normal life (a requestor whose window is
// gone before its transfer ends): none of them ends the program.
int onError(Display*, XErrorEvent*) { return 0; }

Desktop readDesktop()
{
    // The server's size, not Xlib's copy: a change of the monitors may be
    // told before the change of the screen's size.
    const Window root = DefaultRootWindow(xDisplay);
    Window parent = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    XGetGeometry(xDisplay, root, &parent, &x, &y, &w, &h, &border, &depth);
    const int32_t width = static_cast<int32_t>(w), height = static_cast<int32_t>(h);
    Desktop d = {};
    if (monitorsKnown) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(xDisplay, root, True, &count);
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            addMonitor(d, {std::max(m.x, 0), std::max(m.y, 0), std::min(m.x + m.width, width),
                           std::min(m.y + m.height, height)});
        }
        if (monitors) XRRFreeMonitors(monitors);
    }
    if (d.count == 0) d = singleScreen(width, height);
    d.bounds = {0, 0, width, height};  // the whole screen, monitors or not
    return d;
}

bool sameDesktop(const Desktop& a, const Desktop& b)
{
    const auto same = [](const Rect& p, const Rect& q) {
        return p.left == q.left && p.top == q.top && p.right == q.right && p.bottom == q.bottom;
    };
    if (a.count != b.count || !same(a.bounds, b.bounds)) return false;
    for (int32_t i = 0; i < a.count; ++i)
        if (!same(a.monitors[i], b.monitors[i])) return false;
    return true;
}

// After the pump's notices of RandR: one reading for them all, and a change
// only when the screen or a monitor did change (an output's property
// changing is none).
void readDesktopAgain()
{
    desktopStale = false;
    const Desktop now = readDesktop();
    if (sameDesktop(now, desktop)) return;
    desktop = now;
    inputDesktopChanged(desktop);
    masterDesktopChanged(desktop);
    desktopChanged = true;
}

void handle(XEvent& event)
{
    if (clipboardEvent(event)) return;
    if (randrEventBase >= 0 && event.type == randrEventBase + RRScreenChangeNotify) {
        XRRUpdateConfiguration(&event);  // the screen's size as Xlib keeps it
        desktopStale = true;
    } else if (randrEventBase >= 0 && event.type == randrEventBase + RRNotify) {
        desktopStale = true;
    } else if (event.type == ConfigureNotify && event.xconfigure.window == DefaultRootWindow(xDisplay)) {
        // The one notice of a monitor that a program set or deleted (RandR
        // 1.5's own monitors, as a wide screen split in two).
        XRRUpdateConfiguration(&event);
        desktopStale = true;
    } else if (xkbEventBase >= 0 && event.type == xkbEventBase) {
        const int kind = reinterpret_cast<const XkbAnyEvent&>(event).xkb_type;
        if (kind == XkbNewKeyboardNotify || kind == XkbNamesNotify) {
            readKeymap();
            inputKeymapChanged();
        }
    } else {
        masterEvent(event);
    }
}

}  // namespace

bool xOpen(const char* name, void (*lost)())
{
    if (xDisplay) return true;
    Display* display = XOpenDisplay(name);
    if (!display) {
        const char* shown = name ? name : getenv("DISPLAY");
        fprintf(stderr, "skiprail: cannot open the X display %s\n", shown && *shown ? shown : "(DISPLAY is not set)");
        return false;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        fprintf(stderr, "skiprail: the X server lacks the XTEST extension: keys and the pointer cannot be replayed\n");
        XCloseDisplay(display);
        return false;
    }
    xDisplay = display;
    onLost = lost;
    lostTold = false;
    XSetIOErrorHandler(onIoError);
    XSetErrorHandler(onError);
    const Window root = DefaultRootWindow(display);
    xWindow = XCreateSimpleWindow(display, root, -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display, xWindow, PropertyChangeMask);
    if (!clipboardOpen()) {
        xClose();
        return false;
    }

    randrEventBase = -1;
    monitorsKnown = false;
    if (XRRQueryExtension(display, &event, &error) && XRRQueryVersion(display, &major, &minor)) {
        randrEventBase = event;
        monitorsKnown = major > 1 || (major == 1 && minor >= 5);
        XRRSelectInput(display, root, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    } else {
        fprintf(stderr, "skiprail: the X server lacks RANDR: the screen is taken as one monitor\n");
    }
    XSelectInput(display, root, ROOT_EVENTS);

    xkbEventBase = -1;
    int opcode = 0;
    major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(display, &opcode, &event, &error, &major, &minor)) {
        xkbEventBase = event;
        XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbNamesNotifyMask,
                        XkbNewKeyboardNotifyMask | XkbNamesNotifyMask);
    }
    readKeymap();
    inputOpen();
    masterOpen();
    desktop = readDesktop();
    inputDesktopChanged(desktop);
    masterDesktopChanged(desktop);
    desktopStale = desktopChanged = false;
    XFlush(display);
    return true;
}

void xClose()
{
    if (!xDisplay) return;
    xReleaseAll();
    masterClose();
    clipboardClose();
    XDestroyWindow(xDisplay, xWindow);
    XCloseDisplay(xDisplay);
    xDisplay = nullptr;
    xWindow = 0;
}

int xFd() { return xDisplay ? ConnectionNumber(xDisplay) : -1; }

// Writing to the server may read what it sent meanwhile into the
// connection's queue, where a poll no longer sees it: the last call before
// the loop polls is XPending, which sends what waits and then looks.
void xPump()
{
    if (!xDisplay) return;
    do {
        while (XPending(xDisplay) > 0) {
            XEvent event;
            XNextEvent(xDisplay, &event);
            handle(event);
        }
        if (desktopStale) readDesktopAgain();
        clipboardTimeouts();
    } while (XPending(xDisplay) > 0);
}

int32_t xWaitMs() { return xDisplay ? clipboardWaitMs() : -1; }

Desktop xDesktop() { return desktop; }

bool xDesktopChanged()
{
    const bool changed = desktopChanged;
    desktopChanged = false;
    return changed;
}
