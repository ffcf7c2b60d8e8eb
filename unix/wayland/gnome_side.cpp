// GNOME under Wayland: keys, pointer, wheel and clipboard through the remote
// desktop interface of its compositor (org.gnome.Mutter.RemoteDesktop on the
// session bus), which asks the user nothing. Placing the pointer on a pixel
// takes a screen cast stream of the same session, one per monitor; the
// streams are started with the session and never read. The outputs' layout
// comes from the Wayland connection, the same as on the other desktops.
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/constants.h"
#include "unix/log.h"
#include "unix/loop.h"
#include "input/held_input.h"
#include "unix/wayland/wl_internal.h"
#include "unix/desk.h"

namespace {

constexpr const char* RD_NAME = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* RD_SESSION = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* SC_NAME = "org.gnome.Mutter.ScreenCast";
// A session the compositor closed is made again while the link is up, but
// not more often than this.
constexpr int64_t REMAKE_MS = 5000;

sd_bus* bus = nullptr;

struct Stream {
    std::string path;
    Rect area;  // the monitor's, in the desktop's pixels
};

struct Session {
    std::string path;     // the remote desktop session's; empty: none
    std::string castPath;
    std::vector<Stream> streams;
    sd_bus_slot* signals = nullptr;
    bool clipboard = false;
};
Session session;
bool linkIsUp = false;
int64_t madeAt = -1000000;
bool warnedNoStream = false;

bool keyDown[KEY_MAX + 1];
bool buttonDown[HELD_BUTTONS];
int32_t wheelCarry[2];
Point placed;
bool placedKnown = false;

// The clipboard.
std::vector<std::string> ownerTypes;       // what the selection's owner offers
std::vector<std::pair<std::string, std::string>> offered;
bool ours = false;
uint32_t serial = 1;
void (*readDone)(const ClipData&) = nullptr;
bool answerOwn = false;
std::string readType;

int onCallDone(sd_bus_message* reply, void* what, sd_bus_error*)
{
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        const sd_bus_error* error = sd_bus_message_get_error(reply);
        logVerbose("the remote desktop refused %s: %s", static_cast<const char*>(what),
                   error && error->message ? error->message : "?");
    }
    return 0;
}

// Input goes out without waiting for its answer: in order, as it came.
#define SEND(method, types, ...)                                                                                 \
    do {                                                                                                         \
        if (!session.path.empty())                                                                               \
            sd_bus_call_method_async(bus, nullptr, RD_NAME, session.path.c_str(), RD_SESSION, method, onCallDone, \
                                     const_cast<char*>(method), types, __VA_ARGS__);                             \
    } while (0)

// The session's devices join the seat a while after Start (in the
// compositor's input thread): input sent before is lost. Until then it
// waits here, in order: until the seat has a keyboard when it had none, or
// for a fixed while when one was there already.
constexpr int64_t WARM_UP_MS = 300;
constexpr int64_t WARM_UP_MOST_MS = 2000;
struct Held {
    int kind;  // 0 key, 1 button, 2 axis, 3 motion
    int32_t a, b;
    double x, y;
    std::string stream;
};
std::vector<Held> held;
int64_t startedAt = -1;     // -1: the devices are in the seat
bool awaitKeyboard = false; // the seat had no keyboard before Start

void sendHeld(const Held& h)
{
    switch (h.kind) {
    case 0: SEND("NotifyKeyboardKeycode", "ub", static_cast<uint32_t>(h.a), h.b); break;
    case 1: SEND("NotifyPointerButton", "ib", h.a, h.b); break;
    case 2: SEND("NotifyPointerAxisDiscrete", "ui", static_cast<uint32_t>(h.a), h.b); break;
    default: SEND("NotifyPointerMotionAbsolute", "sdd", h.stream.c_str(), h.x, h.y); break;
    }
}

void notify(const Held& h)
{
    if (startedAt >= 0) held.push_back(h);
    else sendHeld(h);
}

bool warmedUp()
{
    if (startedAt < 0) return true;
    const int64_t since = nowMs() - startedAt;
    const bool keyboard = (wl.seatCaps & 2) != 0;  // WL_SEAT_CAPABILITY_KEYBOARD
    if (awaitKeyboard ? !keyboard && since < WARM_UP_MOST_MS : since < WARM_UP_MS) return false;
    logVerbose("the remote desktop's devices are in the seat after %d ms (seat %u); %zu events held sent",
               static_cast<int>(since), wl.seatCaps, held.size());
    startedAt = -1;
    for (const Held& h : held) sendHeld(h);
    held.clear();
    return true;
}

bool call(const char* service, const char* path, const char* interface, const char* method, sd_bus_message** reply,
          const char* types, ...)
{
    sd_bus_message* m = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus, &m, service, path, interface, method);
    if (r >= 0 && types) {
        va_list args;
        va_start(args, types);
        r = sd_bus_message_appendv(m, types, args);
        va_end(args);
    }
    if (r >= 0) r = sd_bus_call(bus, m, 0, &error, reply);
    sd_bus_message_unref(m);
    if (r < 0) logLine("GNOME's %s refused: %s", method, error.message ? error.message : strerror(-r));
    sd_bus_error_free(&error);
    return r >= 0;
}

// ---- the clipboard

// The a{sv} of SelectionOwnerChanged: "mime-types" (as), "session-is-owner" (b).
void readOwner(sd_bus_message* m, std::vector<std::string>* types, int* sessionOwns)
{
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(m, "s", &key);
        char kind = 0;
        const char* contents = nullptr;
        if (key && std::strcmp(key, "mime-types") == 0 && sd_bus_message_peek_type(m, &kind, &contents) > 0 &&
            contents && (std::strcmp(contents, "as") == 0 || std::strcmp(contents, "(as)") == 0)) {
            // mutter 43 sends the list inside a structure: (as).
            const bool wrapped = contents[0] == '(';
            sd_bus_message_enter_container(m, 'v', contents);
            if (wrapped) sd_bus_message_enter_container(m, 'r', "as");
            sd_bus_message_enter_container(m, 'a', "s");
            const char* type = nullptr;
            while (sd_bus_message_read(m, "s", &type) > 0) types->emplace_back(type);
            sd_bus_message_exit_container(m);
            if (wrapped) sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
        } else if (key && std::strcmp(key, "session-is-owner") == 0 && sd_bus_message_enter_container(m, 'v', "b") >= 0) {
            sd_bus_message_read(m, "b", sessionOwns);
            sd_bus_message_exit_container(m);
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

void onOwnerChanged(sd_bus_message* m)
{
    std::vector<std::string> types;
    int sessionOwns = 0;
    readOwner(m, &types, &sessionOwns);
    if (sessionOwns) return;  // ours, as set
    ownerTypes.swap(types);
    ours = false;
    offered.clear();
    ++serial;
}

void onTransfer(sd_bus_message* m)
{
    const char* type = nullptr;
    uint32_t number = 0;
    if (sd_bus_message_read(m, "su", &type, &number) < 0) return;
    const std::string* data = nullptr;
    for (const auto& kind : offered)
        if (type && kind.first == type) data = &kind.second;
    sd_bus_message* reply = nullptr;
    if (!data) {
        call(RD_NAME, session.path.c_str(), RD_SESSION, "SelectionWriteDone", nullptr, "ub", number, 0);
        return;
    }
    int fd = -1;
    if (!call(RD_NAME, session.path.c_str(), RD_SESSION, "SelectionWrite", &reply, "u", number)) return;
    if (sd_bus_message_read(reply, "h", &fd) >= 0 && fd >= 0) fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    sd_bus_message_unref(reply);
    // Done is said at once: the compositor reads the pipe only after it,
    // and a pipe holds less than the clipboard may.
    SEND("SelectionWriteDone", "ub", number, fd >= 0);
    if (fd >= 0) transferSend(fd, *data);
}

void ownClipboard(const ClipData* offers, int count)
{
    offered.clear();
    for (int i = 0; i < count; ++i)
        offered.emplace_back(offers[i].mime, std::string(reinterpret_cast<const char*>(offers[i].data), offers[i].size));
    ours = true;
    ++serial;
    if (session.path.empty() || !session.clipboard) return;  // set when the session is made
    sd_bus_message* m = nullptr;
    sd_bus_message_new_method_call(bus, &m, RD_NAME, session.path.c_str(), RD_SESSION, "SetSelection");
    sd_bus_message_open_container(m, 'a', "{sv}");
    sd_bus_message_open_container(m, 'e', "sv");
    sd_bus_message_append(m, "s", "mime-types");
    sd_bus_message_open_container(m, 'v', "as");
    sd_bus_message_open_container(m, 'a', "s");
    for (const auto& kind : offered) sd_bus_message_append(m, "s", kind.first.c_str());
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
    sd_bus_call_async(bus, nullptr, m, onCallDone, const_cast<char*>("SetSelection"), 0);
    sd_bus_message_unref(m);
    sd_bus_flush(bus);
}

bool stillOurs() { return ours; }
uint32_t clipboardSerial() { return serial; }

void answer(const std::string* data)
{
    void (*done)(const ClipData&) = readDone;
    readDone = nullptr;
    const ClipData got = {readType.c_str(), data ? reinterpret_cast<const uint8_t*>(data->data()) : nullptr,
                          data ? data->size() : 0};
    if (done) done(got);
}

void requestClipboard(const char* const* wanted, int count, void (*done)(const ClipData&))
{
    const bool underWay = readDone != nullptr;
    readDone = done;
    if (underWay) return;
    const std::vector<std::string>* types = &ownerTypes;
    std::vector<std::string> own;
    if (ours) {
        for (const auto& kind : offered) own.push_back(kind.first);
        types = &own;
    }
    int chosen = -1;
    for (int i = 0; i < count && chosen < 0; ++i)
        for (const std::string& type : *types)
            if (type == wanted[i]) chosen = i;
    readType = chosen >= 0 ? wanted[chosen] : "";
    if (ours || chosen < 0 || session.path.empty()) {
        if (!ours) readType.clear();
        answerOwn = true;  // answered from the pump
        return;
    }
    sd_bus_message* reply = nullptr;
    int fd = -1;
    if (call(RD_NAME, session.path.c_str(), RD_SESSION, "SelectionRead", &reply, "s", wanted[chosen]) &&
        sd_bus_message_read(reply, "h", &fd) >= 0 && fd >= 0)
        fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    else
        fd = -1;
    sd_bus_message_unref(reply);
    if (fd < 0) {
        readType.clear();
        answerOwn = true;
        return;
    }
    transferReceive(fd, answer);
}

// ---- the session

int onSignal(sd_bus_message* m, void*, sd_bus_error*)
{
    if (sd_bus_message_is_signal(m, RD_SESSION, "Closed")) {
        logLine("GNOME closed the remote desktop session%s", linkIsUp ? ": a new one is made" : "");
        if (session.signals) sd_bus_slot_unref(session.signals);
        session = Session();
        held.clear();
        startedAt = -1;
    } else if (sd_bus_message_is_signal(m, RD_SESSION, "SelectionOwnerChanged")) {
        onOwnerChanged(m);
    } else if (sd_bus_message_is_signal(m, RD_SESSION, "SelectionTransfer")) {
        onTransfer(m);
    }
    return 0;
}

void endSession()
{
    if (session.path.empty()) return;
    if (session.signals) sd_bus_slot_unref(session.signals);
    call(RD_NAME, session.path.c_str(), RD_SESSION, "Stop", nullptr, nullptr);
    session = Session();
    held.clear();
    startedAt = -1;
}

// The session with its devices and a stream for each monitor, started
// together; then its clipboard, holding what this side holds.
bool makeSession()
{
    madeAt = nowMs();
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    if (!call(RD_NAME, "/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop", "CreateSession", &reply,
              nullptr))
        return false;
    sd_bus_message_read(reply, "o", &path);
    session.path = path ? path : "";
    sd_bus_message_unref(reply);
    const std::string match = "type='signal',sender='" + std::string(RD_NAME) + "',path='" + session.path + "'";
    sd_bus_add_match(bus, &session.signals, match.c_str(), onSignal, nullptr);

    char* id = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_get_property_string(bus, RD_NAME, session.path.c_str(), RD_SESSION, "SessionId", &error, &id);
    sd_bus_error_free(&error);
    reply = nullptr;
    if (id && call(SC_NAME, "/org/gnome/Mutter/ScreenCast", "org.gnome.Mutter.ScreenCast", "CreateSession", &reply,
                   "a{sv}", 1, "remote-desktop-session-id", "s", id)) {
        const char* cast = nullptr;
        sd_bus_message_read(reply, "o", &cast);
        session.castPath = cast ? cast : "";
        sd_bus_message_unref(reply);
        for (const WlOutput* o : wl.outputs) {
            if (o->connector.empty()) continue;
            reply = nullptr;
            const char* stream = nullptr;
            if (!call(SC_NAME, session.castPath.c_str(), "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor", &reply,
                      "sa{sv}", o->connector.c_str(), 0))
                continue;
            sd_bus_message_read(reply, "o", &stream);
            const int32_t w = o->logical ? o->width : o->modeWidth / o->scale;
            const int32_t h = o->logical ? o->height : o->modeHeight / o->scale;
            const Rect area = {o->x - wl.origin.x, o->y - wl.origin.y, o->x - wl.origin.x + w, o->y - wl.origin.y + h};
            session.streams.push_back({stream ? stream : "", area});
            sd_bus_message_unref(reply);
        }
    }
    free(id);
    awaitKeyboard = (wl.seatCaps & 2) == 0;
    held.clear();
    startedAt = nowMs();
    if (!call(RD_NAME, session.path.c_str(), RD_SESSION, "Start", nullptr, nullptr)) {
        startedAt = -1;
        endSession();
        return false;
    }
    // The compositor makes each device at its first event, which is lost:
    // made now by a key that no layout gives a meaning (KEY_UNKNOWN) and a
    // move of nothing.
    SEND("NotifyKeyboardKeycode", "ub", static_cast<uint32_t>(KEY_UNKNOWN), 1);
    SEND("NotifyKeyboardKeycode", "ub", static_cast<uint32_t>(KEY_UNKNOWN), 0);
    SEND("NotifyPointerMotionRelative", "dd", 0.0, 0.0);
    session.clipboard = call(RD_NAME, session.path.c_str(), RD_SESSION, "EnableClipboard", nullptr, "a{sv}", 0);
    placedKnown = false;
    logVerbose("GNOME remote desktop session started, %zu monitor streams", session.streams.size());
    if (ours && !offered.empty()) {
        std::vector<std::pair<std::string, std::string>> keep = offered;
        std::vector<ClipData> copies;
        for (const auto& kind : keep)
            copies.push_back({kind.first.c_str(), reinterpret_cast<const uint8_t*>(kind.second.data()), kind.second.size()});
        ownClipboard(copies.data(), static_cast<int>(copies.size()));
    }
    return true;
}

// ---- input

void key(int32_t code, bool down)
{
    if (code <= 0 || code > KEY_MAX) return;
    if (down && keyDown[code]) {
        switch (code) {  // a modifier's repeat goes nowhere; see wlr_side.cpp
        case KEY_LEFTSHIFT: case KEY_RIGHTSHIFT: case KEY_LEFTCTRL: case KEY_RIGHTCTRL: case KEY_LEFTALT:
        case KEY_RIGHTALT: case KEY_LEFTMETA: case KEY_RIGHTMETA: case KEY_CAPSLOCK: case KEY_NUMLOCK:
        case KEY_SCROLLLOCK: return;
        default: break;
        }
        notify({0, code, 0, 0, 0, {}});
    }
    if (!down && !keyDown[code]) return;
    keyDown[code] = down;
    notify({0, code, down ? 1 : 0, 0, 0, {}});
}

void moveTo(int32_t x, int32_t y)
{
    const Point p = pointOnDesktop(wl.desktop, {x, y});
    for (const Stream& s : session.streams) {
        if (p.x < s.area.left || p.x >= s.area.right || p.y < s.area.top || p.y >= s.area.bottom) continue;
        notify({3, 0, 0, static_cast<double>(p.x - s.area.left), static_cast<double>(p.y - s.area.top), s.path});
        placed = p;
        placedKnown = true;
        return;
    }
    if (!warnedNoStream && !session.path.empty()) {
        warnedNoStream = true;
        logLine("GNOME gave no screen cast stream for the monitor at %d,%d: the pointer cannot be placed there", p.x, p.y);
    }
}

bool pointerAt(int32_t x, int32_t y)
{
    const Point p = pointOnDesktop(wl.desktop, {x, y});
    return placedKnown && p.x == placed.x && p.y == placed.y;
}

void pressButton(int32_t index, bool down)
{
    static const int32_t codes[] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA};
    if (buttonDown[index] == down) return;
    buttonDown[index] = down;
    notify({1, codes[index], down ? 1 : 0, 0, 0, {}});
}

void button(int32_t eventCode)
{
    int32_t index = 0;
    bool down = false;
    if (buttonOf(eventCode, &index, &down)) pressButton(index, down);
}

// Steps as Wayland counts them: towards the user and to the right.
void wheel(int32_t delta, bool horizontal)
{
    const int32_t notches = wheelNotches(wheelCarry[horizontal ? 1 : 0], delta);
    if (notches != 0) notify({2, horizontal ? 1 : 0, horizontal ? notches : -notches, 0, 0, {}});
}

void flush()
{
    if (bus) sd_bus_flush(bus);
    wlFlush();
}

void releaseAll()
{
    for (int32_t code = 0; code <= KEY_MAX; ++code) {
        if (!keyDown[code]) continue;
        keyDown[code] = false;
        notify({0, code, 0, 0, 0, {}});
    }
    for (int32_t i = 0; i < HELD_BUTTONS; ++i) pressButton(i, false);
    wheelCarry[0] = wheelCarry[1] = 0;
    flush();
}

// ---- the way

void onBus(int, uint32_t, void*) {}

void pump()
{
    wlPump();
    if (!bus || wl.lostTold) return;
    for (;;) {
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            wlTellLost("the session bus went away");
            return;
        }
        if (r == 0) break;
    }
    // The monitors changed: streams for the new ones, in a new session.
    if (wl.desktopChanged && !session.path.empty()) {
        releaseAll();
        endSession();
        madeAt = nowMs() - REMAKE_MS;
    }
    if (linkIsUp && session.path.empty() && nowMs() - madeAt >= REMAKE_MS) makeSession();
    warmedUp();
    if (answerOwn) {
        answerOwn = false;
        if (readType.empty()) {
            answer(nullptr);
        } else {
            std::string own;
            for (const auto& kind : offered)
                if (kind.first == readType) own = kind.second;
            answer(&own);
        }
    }
    flush();
}

int32_t waitMs()
{
    if (answerOwn) return 0;
    int32_t wait = transferWaitMs();
    if (!warmedUp()) {
        const int32_t warm = 10;  // a look at the seat's keyboard, or the fixed while's end
        wait = wait < 0 || warm < wait ? warm : wait;
    }
    if (linkIsUp && session.path.empty()) {
        const int64_t left = madeAt + REMAKE_MS - nowMs();
        const int32_t remake = left < 0 ? 0 : static_cast<int32_t>(left);
        wait = wait < 0 || remake < wait ? remake : wait;
    }
    uint64_t usec = 0;
    if (bus && sd_bus_get_timeout(bus, &usec) > 0 && usec != UINT64_MAX) {
        const int32_t bus = 1;  // a call's time-out is due: look soon
        wait = wait < 0 || bus < wait ? bus : wait;
    }
    return wait;
}

// The session is made when the link comes up: its keyboard comes with it,
// and a key sent while it is being made would be lost.
void linkUp()
{
    linkIsUp = true;
    if (session.path.empty()) makeSession();
    flush();
}

void linkDown()
{
    linkIsUp = false;
    releaseAll();
}

bool open(void (*)()) { return true; }

void closeWay()
{
    releaseAll();
    transferCancelReceive();
    endSession();
    if (bus) sd_bus_flush_close_unref(bus);
    bus = nullptr;
    wlDisconnect();
}

int fd() { return wl.ep; }
Desktop desktop() { return wl.desktop; }
bool desktopChanged()
{
    const bool changed = wl.desktopChanged;
    if (changed) placedKnown = false;
    wl.desktopChanged = false;
    return changed;
}

const DeskWay gnomeWay = {
    "GNOME's remote desktop interface (org.gnome.Mutter.RemoteDesktop)",
    open, closeWay, fd, pump, waitMs, desktop, desktopChanged, linkUp, linkDown,
    key, moveTo, pointerAt, button, wheel, releaseAll, flush,
    ownClipboard, stillOurs, clipboardSerial, requestClipboard,
};

}  // namespace

// Whether GNOME's compositor offers its remote desktop on the session bus.
const DeskWay* gnomeOpen()
{
    if (sd_bus_open_user(&bus) < 0) {
        bus = nullptr;
        return nullptr;
    }
    sd_bus_message* reply = nullptr;
    int has = 0;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", &error, &reply, "s", RD_NAME) >= 0)
        sd_bus_message_read(reply, "b", &has);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    if (!has) {
        sd_bus_flush_close_unref(bus);
        bus = nullptr;
        return nullptr;
    }
    epWatch(sd_bus_get_fd(bus), EPOLLIN, onBus, nullptr);
    return &gnomeWay;
}
