// wlwatch: what a Wayland program on a Linux PC of the system tests gets, in
// xwatch's words (see xwatch.cpp), so the same tests read both: a window
// made fullscreen on the first output reports each key and button on
// stdout, one JSON line each, keys by X keycode (input code + 8) with the
// keysym and text of the seat's keymap, the wheels' notches as buttons 4 to
// 7, stamped with CLOCK_MONOTONIC_RAW:
//   {"ev":"ready"} once its window is shown
//   {"ev":"key","down":B,"code":N,"sym":"NAME","text":"UTF-8","t":US}
//   {"ev":"button","down":B,"button":N,"t":US}
// and answers one command per line on stdin with one line:
//   pointer   {"ev":"pointer","x":X,"y":Y,"mask":M}  where the pointer is on the window
//   keymap    {"ev":"keymap","down":[KEYCODE,...]}   the keys the window holds down
//   release   {"ev":"release"}  forgets what it holds (the compositor releases)
//   focus     {"ev":"focus","ok":B}  whether it has the keyboard focus
//   clip-get  {"ev":"clip-get","text":"..."|null}  the selection's text
//   clip-set FILE  {"ev":"clip-set FILE","ok":B}  the file's text becomes the selection
//   layout NAME    {"ev":"layout NAME","ok":B}  a keyboard of that XKB layout types a
//             Shift on the seat, as a user's keyboard would, making its keymap the seat's
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

wl_display* display = nullptr;
wl_compositor* compositor = nullptr;
wl_shm* shm = nullptr;
wl_seat* seat = nullptr;
xdg_wm_base* wmBase = nullptr;
wl_data_device_manager* dataManager = nullptr;
wl_data_device* dataDevice = nullptr;
zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
wl_surface* surface = nullptr;
xdg_surface* xdgSurface = nullptr;
xdg_toplevel* toplevel = nullptr;
wl_keyboard* keyboard = nullptr;
wl_pointer* pointer = nullptr;
int32_t outputWidth = 0, outputHeight = 0;
bool configured = false, focused = false;
uint32_t lastSerial = 0;

xkb_context* context = nullptr;
xkb_keymap* keymap = nullptr;
xkb_state* state = nullptr;
std::set<uint32_t> keysDown;      // X keycodes
std::set<uint32_t> buttonsDown;   // X buttons
double pointerX = -1, pointerY = -1;
int32_t discrete[2];
bool discreteSeen[2];

wl_data_offer* pendingOffer = nullptr;
std::vector<std::string> pendingTypes;
wl_data_offer* selection = nullptr;
std::vector<std::string> selectionTypes;
wl_data_source* ownSource = nullptr;
std::string ownText;
bool selectionSeen = false;  // a selection event since the last set
std::string pendingIn;

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
            out += static_cast<char>(c);
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

void emitButton(uint32_t button, bool down)
{
    char line[128];
    std::snprintf(line, sizeof line, "{\"ev\":\"button\",\"down\":%s,\"button\":%u,\"t\":%.1f}", down ? "true" : "false",
                  button, nowUs());
    emit(line);
}

// ---- the window: one buffer of the output's size, white

void draw()
{
    const int32_t width = outputWidth > 0 ? outputWidth : 1024, height = outputHeight > 0 ? outputHeight : 768;
    const int32_t stride = width * 4, size = stride * height;
    const int fd = memfd_create("wlwatch", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) return;
    void* pixels = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels != MAP_FAILED) {
        std::memset(pixels, 0xff, static_cast<size_t>(size));
        munmap(pixels, static_cast<size_t>(size));
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, width, height);
    wl_surface_commit(surface);
}

void onPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener wmListener = {onPing};

void onSurfaceConfigure(void*, xdg_surface* s, uint32_t serial)
{
    xdg_surface_ack_configure(s, serial);
    configured = true;
    draw();
}
const xdg_surface_listener surfaceListener = {onSurfaceConfigure};

void onToplevelConfigure(void*, xdg_toplevel*, int32_t width, int32_t height, wl_array*)
{
    if (width > 0 && height > 0) outputWidth = width, outputHeight = height;
}
void onToplevelClose(void*, xdg_toplevel*) {}
void onBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void onCapabilitiesOfWm(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener toplevelListener = {onToplevelConfigure, onToplevelClose, onBounds, onCapabilitiesOfWm};

// ---- the keyboard

void onKeymap(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
{
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            xkb_keymap* fresh = xkb_keymap_new_from_string(context, static_cast<const char*>(map),
                                                           XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(map, size);
            if (fresh) {
                if (state) xkb_state_unref(state);
                if (keymap) xkb_keymap_unref(keymap);
                keymap = fresh;
                state = xkb_state_new(keymap);
            }
        }
    }
    close(fd);
}

void onEnter(void*, wl_keyboard*, uint32_t serial, wl_surface*, wl_array*)
{
    focused = true;
    lastSerial = serial;
}

void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) { focused = false; }

void onKey(void*, wl_keyboard*, uint32_t serial, uint32_t, uint32_t key, uint32_t pressed)
{
    lastSerial = serial;
    const uint32_t code = key + 8;
    const bool down = pressed == WL_KEYBOARD_KEY_STATE_PRESSED;
    std::string name, text;
    if (state) {
        const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, code);
        char buffer[64];
        if (xkb_keysym_get_name(sym, buffer, sizeof buffer) > 0) name = buffer;
        if (down && xkb_state_key_get_utf8(state, code, buffer, sizeof buffer) > 0) {
            // Text as a program gets it: none for a key pressed with Ctrl or Alt.
            if (xkb_state_mod_name_is_active(state, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) <= 0 &&
                xkb_state_mod_name_is_active(state, XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) <= 0 &&
                static_cast<unsigned char>(buffer[0]) >= 0x20 && buffer[0] != 0x7f)
                text = buffer;
        }
    }
    if (down) keysDown.insert(code);
    else keysDown.erase(code);
    char line[512];
    std::snprintf(line, sizeof line, "{\"ev\":\"key\",\"down\":%s,\"code\":%u,\"sym\":%s,\"text\":%s,\"t\":%.1f}",
                  down ? "true" : "false", code, jsonString(name).c_str(), jsonString(text).c_str(), nowUs());
    emit(line);
}

void onModifiers(void*, wl_keyboard*, uint32_t serial, uint32_t depressed, uint32_t latched, uint32_t locked,
                 uint32_t group)
{
    lastSerial = serial;
    if (state) xkb_state_update_mask(state, depressed, latched, locked, 0, 0, group);
}

void onRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener = {onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeat};

// ---- the pointer

void onPointerEnter(void*, wl_pointer*, uint32_t serial, wl_surface*, wl_fixed_t x, wl_fixed_t y)
{
    lastSerial = serial;
    pointerX = wl_fixed_to_double(x), pointerY = wl_fixed_to_double(y);
}
void onPointerLeave(void*, wl_pointer*, uint32_t, wl_surface*) {}
void onMotion(void*, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y)
{
    pointerX = wl_fixed_to_double(x), pointerY = wl_fixed_to_double(y);
}

void onButton(void*, wl_pointer*, uint32_t serial, uint32_t, uint32_t button, uint32_t pressed)
{
    lastSerial = serial;
    uint32_t x = 0;
    switch (button) {
    case BTN_LEFT: x = 1; break;
    case BTN_MIDDLE: x = 2; break;
    case BTN_RIGHT: x = 3; break;
    case BTN_SIDE: x = 8; break;
    case BTN_EXTRA: x = 9; break;
    default: return;
    }
    const bool down = pressed == WL_POINTER_BUTTON_STATE_PRESSED;
    if (down) buttonsDown.insert(x);
    else buttonsDown.erase(x);
    emitButton(x, down);
}

// X's wheel buttons: 4 away from the user, 5 towards, 6 left, 7 right.
void notches(uint32_t axis, int32_t steps)
{
    const bool vertical = axis == WL_POINTER_AXIS_VERTICAL_SCROLL;
    const uint32_t button = vertical ? (steps < 0 ? 4 : 5) : (steps < 0 ? 6 : 7);
    for (int32_t i = 0; i < std::abs(steps); ++i) {
        emitButton(button, true);
        emitButton(button, false);
    }
}

void onAxis(void*, wl_pointer*, uint32_t, uint32_t axis, wl_fixed_t value)
{
    if (axis > 1) return;
    if (discreteSeen[axis]) {
        notches(axis, discrete[axis]);
        discreteSeen[axis] = false;
    } else {
        notches(axis, static_cast<int32_t>(std::lround(wl_fixed_to_double(value) / 15.0)));
    }
}

void onFrame(void*, wl_pointer*) {}
void onAxisSource(void*, wl_pointer*, uint32_t) {}
void onAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void onAxisDiscrete(void*, wl_pointer*, uint32_t axis, int32_t steps)
{
    if (axis > 1) return;
    discrete[axis] = steps;
    discreteSeen[axis] = true;
}
void onValue120(void*, wl_pointer*, uint32_t, int32_t) {}
const wl_pointer_listener pointerListener = {onPointerEnter, onPointerLeave, onMotion,       onButton,  onAxis,
                                             onFrame,        onAxisSource,   onAxisStop,     onAxisDiscrete, onValue120};

// A device that goes (the last program's keyboard or pointer) leaves an
// inert object: a new one is asked for when the seat has one again.
void onCapabilities(void*, wl_seat* s, uint32_t caps)
{
    if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard) {
        wl_keyboard_release(keyboard);
        keyboard = nullptr;
        focused = false;
    }
    if (!(caps & WL_SEAT_CAPABILITY_POINTER) && pointer) {
        wl_pointer_release(pointer);
        pointer = nullptr;
    }
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !keyboard) {
        keyboard = wl_seat_get_keyboard(s);
        wl_keyboard_add_listener(keyboard, &keyboardListener, nullptr);
    }
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !pointer) {
        pointer = wl_seat_get_pointer(s);
        wl_pointer_add_listener(pointer, &pointerListener, nullptr);
    }
}
void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener = {onCapabilities, onSeatName};

// ---- the clipboard

void onOfferType(void*, wl_data_offer* offer, const char* type)
{
    if (offer == pendingOffer) pendingTypes.emplace_back(type);
}
void onSourceActions(void*, wl_data_offer*, uint32_t) {}
void onAction(void*, wl_data_offer*, uint32_t) {}
const wl_data_offer_listener offerListener = {onOfferType, onSourceActions, onAction};

void onDataOffer(void*, wl_data_device*, wl_data_offer* offer)
{
    pendingOffer = offer;
    pendingTypes.clear();
    wl_data_offer_add_listener(offer, &offerListener, nullptr);
}
void onDataEnter(void*, wl_data_device*, uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t, wl_data_offer*) {}
void onDataLeave(void*, wl_data_device*) {}
void onDataMotion(void*, wl_data_device*, uint32_t, wl_fixed_t, wl_fixed_t) {}
void onDrop(void*, wl_data_device*) {}
void onSelection(void*, wl_data_device*, wl_data_offer* offer)
{
    if (selection) wl_data_offer_destroy(selection);
    selection = offer;
    selectionSeen = true;
    selectionTypes.clear();
    if (offer && offer == pendingOffer) selectionTypes.swap(pendingTypes);
    pendingOffer = nullptr;
}
const wl_data_device_listener dataListener = {onDataOffer, onDataEnter, onDataLeave, onDataMotion, onDrop, onSelection};

void onSend(void*, wl_data_source*, const char*, int32_t fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // the compositor's pipe may come non-blocking
    size_t at = 0;
    while (at < ownText.size()) {
        const ssize_t n = write(fd, ownText.data() + at, ownText.size() - at);
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) at += static_cast<size_t>(n);
    }
    close(fd);
}
void onCancelled(void*, wl_data_source* source)
{
    if (source == ownSource) ownSource = nullptr;
    wl_data_source_destroy(source);
}
void onTarget(void*, wl_data_source*, const char*) {}
void onDndDrop(void*, wl_data_source*) {}
void onDndFinished(void*, wl_data_source*) {}
void onSourceAction(void*, wl_data_source*, uint32_t) {}
const wl_data_source_listener sourceListener = {onTarget, onSend, onCancelled, onDndDrop, onDndFinished, onSourceAction};

bool tapShift(const char* keymapText);

// The selection's text, read while the connection's events go on.
std::string clipGet(bool* have)
{
    *have = false;
    if (ownSource) {
        *have = true;
        return ownText;
    }
    const char* want = nullptr;
    for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"})
        for (const std::string& t : selectionTypes)
            if (!want && t == type) want = type;
    int fds[2];
    if (!selection || !want || pipe(fds) != 0) return "";
    wl_data_offer_receive(selection, want, fds[1]);
    close(fds[1]);
    wl_display_flush(display);
    std::string text;
    char block[65536];
    for (;;) {
        pollfd p[2] = {{fds[0], POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
        if (poll(p, 2, 5000) <= 0) break;
        if (p[1].revents & POLLIN) wl_display_dispatch(display);
        if (!(p[0].revents & (POLLIN | POLLHUP))) continue;
        const ssize_t n = read(fds[0], block, sizeof block);
        if (n <= 0) {
            *have = n == 0;
            break;
        }
        text.append(block, static_cast<size_t>(n));
    }
    close(fds[0]);
    return text;
}

bool clipSet(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file || !dataDevice) return false;
    ownText.clear();
    char block[65536];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) ownText.append(block, n);
    std::fclose(file);
    ownSource = wl_data_device_manager_create_data_source(dataManager);
    wl_data_source_add_listener(ownSource, &sourceListener, nullptr);
    for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"}) wl_data_source_offer(ownSource, type);
    // As a user copies: with a key, whose serial is newer than the selection's
    // (a compositor refuses an older one). Where no program may make a
    // keyboard, the last serial the window got.
    if (keymap) {
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        tapShift(text);
        std::free(text);
    }
    selectionSeen = false;
    wl_data_device_set_selection(dataDevice, ownSource, lastSerial);
    wl_display_roundtrip(display);
    // The compositor took it when it tells of a new selection (ours).
    if (ownSource && !selectionSeen) {
        wl_data_source_destroy(ownSource);
        ownSource = nullptr;
    }
    return ownSource != nullptr;
}

// A keyboard of this keymap, as a user's, typing one Shift on the seat:
// its keymap becomes the seat's, and the window gets a fresh serial.
bool tapShift(const char* keymapText)
{
    if (!keyboards || !keymapText) return false;
    const size_t size = std::strlen(keymapText) + 1;
    const int fd = memfd_create("wlwatch-keymap", MFD_CLOEXEC);
    const bool written = fd >= 0 && write(fd, keymapText, size) == static_cast<ssize_t>(size);
    if (!written) return false;
    static zwp_virtual_keyboard_v1* typist = nullptr;
    if (typist) zwp_virtual_keyboard_v1_destroy(typist);
    typist = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
    zwp_virtual_keyboard_v1_keymap(typist, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    close(fd);
    zwp_virtual_keyboard_v1_key(typist, 0, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(typist, 1, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_RELEASED);
    wl_display_roundtrip(display);
    return true;
}

bool layout(const std::string& name)
{
    xkb_rule_names names = {};
    names.layout = name.c_str();
    xkb_keymap* map = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char* text = map ? xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    if (map) xkb_keymap_unref(map);
    const bool done = tapShift(text);
    std::free(text);
    return done;
}

// ---- the commands

void onCommand(const std::string& line)
{
    const size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    std::string out;
    char buffer[256];
    if (command == "pointer") {
        unsigned mask = 0;
        for (uint32_t b : buttonsDown)
            if (b <= 5) mask |= 1u << (7 + b);
        std::snprintf(buffer, sizeof buffer, "{\"ev\":\"pointer\",\"x\":%d,\"y\":%d,\"mask\":%u}",
                      static_cast<int>(std::floor(pointerX)), static_cast<int>(std::floor(pointerY)), mask);
        out = buffer;
    } else if (command == "keymap") {
        std::string down;
        for (uint32_t code : keysDown) down += (down.empty() ? "" : ",") + std::to_string(code);
        out = "{\"ev\":\"keymap\",\"down\":[" + down + "]}";
    } else if (command == "release") {
        keysDown.clear();
        buttonsDown.clear();
        out = "{\"ev\":\"release\"}";
    } else if (command == "focus") {
        out = std::string("{\"ev\":\"focus\",\"ok\":") + (focused ? "true" : "false") + "}";
    } else if (command == "clip-get") {
        bool have = false;
        const std::string text = clipGet(&have);
        out = "{\"ev\":\"clip-get\",\"text\":" + (have ? jsonString(text) : std::string("null")) + "}";
    } else if (command == "clip-set") {
        out = "{\"ev\":" + jsonString(line) + ",\"ok\":" + (clipSet(argument) ? "true" : "false") + "}";
    } else if (command == "layout") {
        out = "{\"ev\":" + jsonString(line) + ",\"ok\":" + (layout(argument) ? "true" : "false") + "}";
    } else {
        out = "{\"ev\":\"error\",\"command\":" + jsonString(line) + "}";
    }
    emit(out);
}

void onGlobal(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, version < 7 ? version : 7));
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
        wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    else if (std::strcmp(interface, wl_data_device_manager_interface.name) == 0)
        dataManager = static_cast<wl_data_device_manager*>(wl_registry_bind(registry, name, &wl_data_device_manager_interface, 3));
    else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

}  // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);  // a reader that stops early (mutter's clipboard keeper) ends no program
    display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "wlwatch: cannot connect to the Wayland compositor\n");
        return 1;
    }
    context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !seat || !wmBase) {
        std::fprintf(stderr, "wlwatch: the compositor lacks what a window needs\n");
        return 1;
    }
    xdg_wm_base_add_listener(wmBase, &wmListener, nullptr);
    wl_seat_add_listener(seat, &seatListener, nullptr);
    if (dataManager) {
        dataDevice = wl_data_device_manager_get_data_device(dataManager, seat);
        wl_data_device_add_listener(dataDevice, &dataListener, nullptr);
    }
    surface = wl_compositor_create_surface(compositor);
    xdgSurface = xdg_wm_base_get_xdg_surface(wmBase, surface);
    xdg_surface_add_listener(xdgSurface, &surfaceListener, nullptr);
    toplevel = xdg_surface_get_toplevel(xdgSurface);
    xdg_toplevel_add_listener(toplevel, &toplevelListener, nullptr);
    xdg_toplevel_set_title(toplevel, "wlwatch");
    xdg_toplevel_set_fullscreen(toplevel, nullptr);
    wl_surface_commit(surface);
    while (!configured && wl_display_dispatch(display) >= 0) {}
    wl_display_roundtrip(display);
    emit("{\"ev\":\"ready\"}");
    for (;;) {
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd p[2] = {{wl_display_get_fd(display), POLLIN, 0}, {0, POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR) {
            wl_display_cancel_read(display);
            return 1;
        }
        if (p[0].revents & POLLIN) {
            if (wl_display_read_events(display) < 0) return 1;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) return 1;
        if (p[1].revents & (POLLIN | POLLHUP)) {
            char block[4096];
            const ssize_t n = read(0, block, sizeof block);
            if (n <= 0) return 0;
            pendingIn.append(block, static_cast<size_t>(n));
            for (size_t end; (end = pendingIn.find('\n')) != std::string::npos;) {
                const std::string line = pendingIn.substr(0, end);
                pendingIn.erase(0, end + 1);
                if (line == "quit") return 0;
                onCommand(line);
            }
        }
    }
}
