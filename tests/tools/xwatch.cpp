// xwatch: what an X program on a Linux PC of the system tests gets, and what
// the X server holds. A focused window covering the screen reports each key
// and button event on stdout, one JSON line each, stamped with the host's
// monotonic clock (CLOCK_MONOTONIC_RAW, which Wine's QueryPerformanceCounter
// reads too, so a Windows PC's tools stamp on the same clock):
//   {"ev":"ready"} once it has the focus
//   {"ev":"key","down":B,"code":N,"sym":"NAME","text":"UTF-8","t":US}
//   {"ev":"button","down":B,"button":N,"t":US}  (4 to 7: the wheels' notches)
// and answers one command per line on stdin with one line:
//   pointer   {"ev":"pointer","x":X,"y":Y,"mask":M}  (M as XQueryPointer gives it)
//   keymap    {"ev":"keymap","down":[KEYCODE,...]}   what the server holds down
//   focus     {"ev":"focus","ok":B}  the window takes the focus again
//   release   {"ev":"release"}  every key and button held goes up (XTest), so
//             a test that failed leaves none to the next; quit ends it
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

Display* display = nullptr;
Window window = 0;
XIC inputContext = nullptr;
std::string pending;  // stdin bytes short of a whole line

double nowUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC_RAW, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);  // UTF-8 passes as it is
        }
    }
    return out + "\"";
}

void emit(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The text a program gets for the key: through the input context in UTF-8,
// or, without one, what XLookupString gives (Latin-1, ASCII alike).
std::string keyText(XKeyEvent* key)
{
    char buffer[64];
    int n;
    if (inputContext && key->type == KeyPress) {
        Status status;
        n = Xutf8LookupString(inputContext, key, buffer, sizeof buffer, nullptr, &status);
        if (status != XLookupChars && status != XLookupBoth) n = 0;
    } else {
        n = XLookupString(key, buffer, sizeof buffer, nullptr, nullptr);
    }
    return std::string(buffer, n > 0 ? n : 0);
}

void onKey(XKeyEvent* key)
{
    // The keysym the server's layout gives, with the modifiers held.
    KeySym sym = NoSymbol;
    char ignored[8];
    XLookupString(key, ignored, sizeof ignored, &sym, nullptr);
    const char* name = sym != NoSymbol ? XKeysymToString(sym) : nullptr;
    char line[512];
    std::snprintf(line, sizeof line, "{\"ev\":\"key\",\"down\":%s,\"code\":%u,\"sym\":%s,\"text\":%s,\"t\":%.1f}",
                  key->type == KeyPress ? "true" : "false", key->keycode, jsonString(name ? name : "").c_str(),
                  jsonString(keyText(key)).c_str(), nowUs());
    emit(line);
}

void onButton(XButtonEvent* button)
{
    char line[128];
    std::snprintf(line, sizeof line, "{\"ev\":\"button\",\"down\":%s,\"button\":%u,\"t\":%.1f}",
                  button->type == ButtonPress ? "true" : "false", button->button, nowUs());
    emit(line);
}

bool takeFocus()
{
    XRaiseWindow(display, window);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    Window focused;
    int revert;
    XGetInputFocus(display, &focused, &revert);
    return focused == window;
}

void onCommand(const std::string& command)
{
    char line[4096];
    if (command == "pointer") {
        Window root, child;
        int x, y, wx, wy;
        unsigned mask;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &wx, &wy, &mask);
        std::snprintf(line, sizeof line, "{\"ev\":\"pointer\",\"x\":%d,\"y\":%d,\"mask\":%u}", x, y, mask);
    } else if (command == "keymap") {
        char keys[32];
        XQueryKeymap(display, keys);
        std::string down;
        for (int code = 0; code < 256; ++code) {
            if (keys[code / 8] & (1 << (code % 8))) down += (down.empty() ? "" : ",") + std::to_string(code);
        }
        std::snprintf(line, sizeof line, "{\"ev\":\"keymap\",\"down\":[%s]}", down.c_str());
    } else if (command == "release") {
        char keys[32];
        XQueryKeymap(display, keys);
        for (int code = 8; code < 256; ++code) {
            if (keys[code / 8] & (1 << (code % 8))) XTestFakeKeyEvent(display, code, False, 0);
        }
        Window root, child;
        int x, y, wx, wy;
        unsigned mask;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &wx, &wy, &mask);
        for (unsigned button = 1; button <= 5; ++button) {
            if (mask & (Button1Mask << (button - 1))) XTestFakeButtonEvent(display, button, False, 0);
        }
        XSync(display, False);
        std::snprintf(line, sizeof line, "{\"ev\":\"release\"}");
    } else if (command == "focus") {
        std::snprintf(line, sizeof line, "{\"ev\":\"focus\",\"ok\":%s}", takeFocus() ? "true" : "false");
    } else {
        std::snprintf(line, sizeof line, "{\"ev\":\"error\",\"command\":%s}", jsonString(command).c_str());
    }
    emit(line);
}

// False once stdin has ended or asked to quit.
bool readCommands()
{
    char buffer[1024];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string command = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!command.empty() && command.back() == '\r') command.pop_back();
        if (command == "quit") return false;
        if (!command.empty()) onCommand(command);
    }
    return true;
}

}  // namespace

int main()
{
    std::setlocale(LC_ALL, "");
    display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xwatch: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, screen);
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | ExposureMask |
                            StructureNotifyMask;
    window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, DisplayWidth(display, screen),
                           DisplayHeight(display, screen), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XStoreName(display, window, "xwatch");
    // The local input method turns keys into text as a program's would.
    XSetLocaleModifiers("");
    if (XIM method = XOpenIM(display, nullptr, nullptr, nullptr)) {
        inputContext = XCreateIC(method, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, window,
                                 XNFocusWindow, window, nullptr);
    }
    XMapWindow(display, window);
    for (XEvent event;;) {
        XNextEvent(display, &event);
        if (event.type == MapNotify) break;
    }
    bool focused = false;
    for (int attempt = 0; attempt < 50 && !focused; ++attempt) {
        focused = takeFocus();
        if (!focused) usleep(20000);
    }
    emit(focused ? "{\"ev\":\"ready\"}" : "{\"ev\":\"unfocused\"}");

    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (XFilterEvent(&event, None)) continue;
            if (event.type == KeyPress || event.type == KeyRelease) onKey(&event.xkey);
            if (event.type == ButtonPress || event.type == ButtonRelease) onButton(&event.xbutton);
        }
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents & (POLLERR | POLLHUP)) break;
        if (fds[1].revents && !readCommands()) break;
    }
    if (inputContext) XDestroyIC(inputContext);
    XCloseDisplay(display);
    return 0;
}
