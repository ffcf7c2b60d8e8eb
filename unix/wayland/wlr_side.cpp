// The wlroots desktops (sway, Hyprland, river, labwc...): keys through a
// virtual keyboard that carries the seat's own keymap, the pointer through a
// virtual pointer placed absolutely over the whole layout, and the clipboard
// through data control, which needs no window and no focus.
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/constants.h"
#include "unix/log.h"
#include "unix/wayland/wayland_side.h"
#include "input/held_input.h"
#include "unix/wayland/wl_internal.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

const DeskWay* gnomeOpen();  // gnome_side.cpp

namespace {

zwp_virtual_keyboard_v1* keyboard = nullptr;
zwlr_virtual_pointer_v1* pointer = nullptr;
std::string uploaded;  // the keymap the virtual keyboard carries
// The keyboard's modifiers as its keys set them: the compositor takes a
// virtual keyboard's modifiers from what it is told, not from its keys.
xkb_context* xkb = nullptr;
xkb_keymap* keymapState = nullptr;
xkb_state* state = nullptr;
uint32_t sentMods[4];
bool keyDown[KEY_MAX + 1];
bool buttonDown[HELD_BUTTONS];
int32_t wheelCarry[2];
Point placed;
bool placedKnown = false;

// ---- the keymap

// The seat's keyboard's keymap; a seat without a keyboard yet (a desktop
// whose only keyboards are programs') gets the one XKB's defaults make
// (XKB_DEFAULT_LAYOUT and its kin).
std::string keymapToUpload()
{
    if (!wl.seatKeymap.empty()) return wl.seatKeymap;
    std::string text;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) return text;
    if (xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS)) {
        if (char* s = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1)) {
            text = s;
            free(s);
        }
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return text;
}

bool upload(const std::string& keymap)
{
    if (keymap.empty()) return false;
    const int fd = memfd_create("skiprail-keymap", MFD_CLOEXEC);
    if (fd < 0) return false;
    const size_t size = keymap.size() + 1;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0 || write(fd, keymap.c_str(), size) != static_cast<ssize_t>(size)) {
        close(fd);
        return false;
    }
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    close(fd);
    uploaded = keymap;
    if (!xkb) xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (state) xkb_state_unref(state);
    if (keymapState) xkb_keymap_unref(keymapState);
    state = nullptr;
    keymapState = xkb ? xkb_keymap_new_from_string(xkb, keymap.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                   XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (keymapState) state = xkb_state_new(keymapState);
    memset(sentMods, 0, sizeof sentMods);
    zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
    return true;
}

// After a key: the modifiers and layout it leaves, when they changed.
void sendKey(uint32_t time, int32_t code, bool down)
{
    zwp_virtual_keyboard_v1_key(keyboard, time, static_cast<uint32_t>(code),
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    if (!state) return;
    xkb_state_update_key(state, static_cast<xkb_keycode_t>(code + 8), down ? XKB_KEY_DOWN : XKB_KEY_UP);
    const uint32_t mods[4] = {xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                              xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                              xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
                              xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE)};
    if (memcmp(mods, sentMods, sizeof mods) == 0) return;
    memcpy(sentMods, mods, sizeof mods);
    zwp_virtual_keyboard_v1_modifiers(keyboard, mods[0], mods[1], mods[2], mods[3]);
}

void releaseAll();

// The seat's keymap changed (the user's keyboard or layout): ours follows,
// with nothing held across the change. Our own keymap coming back is none.
void followKeymap()
{
    if (!wl.keymapNew) return;
    wl.keymapNew = false;
    if (!keyboard || wl.seatKeymap.empty() || wl.seatKeymap == uploaded) return;
    releaseAll();
    if (upload(wl.seatKeymap)) logVerbose("the seat's keymap changed: the virtual keyboard follows it");
}

// ---- the devices

bool makeDevices()
{
    keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(wl.keyboards, wl.seat);
    pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(wl.pointers, wl.seat);
    wl.keymapNew = false;
    if (!upload(keymapToUpload())) {
        fprintf(stderr, "skiprail: no keymap could be had for the virtual keyboard\n");
        return false;
    }
    wl_display_roundtrip(wl.display);
    if (wl_display_get_error(wl.display) != 0) {
        fprintf(stderr, "skiprail: the Wayland compositor refused the virtual keyboard or pointer\n");
        return false;
    }
    logVerbose("virtual keyboard (%s keymap) and pointer made",
               wl.seatKeymap.empty() ? "XKB's default" : "the seat's");
    return true;
}

void key(int32_t code, bool down)
{
    if (!keyboard || code <= 0 || code > KEY_MAX) return;
    followKeymap();
    const uint32_t t = wlTime();
    if (down && keyDown[code]) {
        // A repeat from the Master: a modifier's goes nowhere; another key's
        // is a release and a press, which also restarts a program's own
        // repeat timer, so only the Master's repeats arrive.
        switch (code) {
        case KEY_LEFTSHIFT: case KEY_RIGHTSHIFT: case KEY_LEFTCTRL: case KEY_RIGHTCTRL: case KEY_LEFTALT:
        case KEY_RIGHTALT: case KEY_LEFTMETA: case KEY_RIGHTMETA: case KEY_CAPSLOCK: case KEY_NUMLOCK:
        case KEY_SCROLLLOCK: return;
        default: break;
        }
        sendKey(t, code, false);
    }
    if (!down && !keyDown[code]) return;
    keyDown[code] = down;
    sendKey(t, code, down);
}

void moveTo(int32_t x, int32_t y)
{
    if (!pointer) return;
    const Point p = pointOnDesktop(wl.desktop, {x, y});
    // Over the whole layout, one unit a pixel: the pixel itself.
    const uint32_t width = static_cast<uint32_t>(desktopWidth(wl.desktop));
    const uint32_t height = static_cast<uint32_t>(desktopHeight(wl.desktop));
    zwlr_virtual_pointer_v1_motion_absolute(pointer, wlTime(), static_cast<uint32_t>(p.x), static_cast<uint32_t>(p.y),
                                            width, height);
    zwlr_virtual_pointer_v1_frame(pointer);
    placed = p;
    placedKnown = true;
}

bool pointerAt(int32_t x, int32_t y)
{
    const Point p = pointOnDesktop(wl.desktop, {x, y});
    return placedKnown && p.x == placed.x && p.y == placed.y;
}

// Left, right, middle and the two side buttons, in the order of HELD_BUTTONS.
void pressButton(int32_t index, bool down)
{
    if (!pointer || buttonDown[index] == down) return;
    static const uint32_t codes[] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA};
    buttonDown[index] = down;
    zwlr_virtual_pointer_v1_button(pointer, wlTime(), codes[index],
                                   down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer);
}

void button(int32_t eventCode)
{
    int32_t index = 0;
    bool down = false;
    if (buttonOf(eventCode, &index, &down)) pressButton(index, down);
}

// Wayland's vertical axis grows towards the user, the wire's away from him;
// both horizontal ones grow to the right. A notch is 15 units of motion.
void wheel(int32_t delta, bool horizontal)
{
    if (!pointer) return;
    const int32_t notches = wheelNotches(wheelCarry[horizontal ? 1 : 0], delta);
    if (notches == 0) return;
    const int32_t steps = horizontal ? notches : -notches;
    const uint32_t axis = horizontal ? WL_POINTER_AXIS_HORIZONTAL_SCROLL : WL_POINTER_AXIS_VERTICAL_SCROLL;
    zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
    zwlr_virtual_pointer_v1_axis_discrete(pointer, wlTime(), axis, wl_fixed_from_int(15 * steps), steps);
    zwlr_virtual_pointer_v1_frame(pointer);
}

void releaseAll()
{
    const uint32_t t = wlTime();
    for (int32_t code = 0; code <= KEY_MAX; ++code) {
        if (!keyDown[code]) continue;
        keyDown[code] = false;
        if (keyboard) sendKey(t, code, false);
    }
    for (int32_t i = 0; i < HELD_BUTTONS; ++i) pressButton(i, false);
    wheelCarry[0] = wheelCarry[1] = 0;
    wlFlush();
}

// ---- the clipboard, by data control

zwlr_data_control_device_v1* device = nullptr;
zwlr_data_control_offer_v1* pending = nullptr;   // introduced, not yet the selection
std::vector<std::string> pendingTypes;
zwlr_data_control_offer_v1* current = nullptr;   // the selection's
std::vector<std::string> currentTypes;
zwlr_data_control_source_v1* source = nullptr;   // ours, while it is the selection
std::vector<std::pair<std::string, std::string>> offered;  // MIME type, bytes
bool echoDue = false;    // the selection event of our own source is still to come
uint32_t serial = 1;
void (*readDone)(const ClipData&) = nullptr;
bool answerOwn = false;  // a read of our own selection, answered from the pump
std::string readType;

void onOfferType(void*, zwlr_data_control_offer_v1* offer, const char* type)
{
    if (offer == pending) pendingTypes.emplace_back(type);
}
const zwlr_data_control_offer_v1_listener offerListener = {onOfferType};

void onDataOffer(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    if (pending) zwlr_data_control_offer_v1_destroy(pending);
    pending = offer;
    pendingTypes.clear();
    zwlr_data_control_offer_v1_add_listener(offer, &offerListener, nullptr);
}

void onSelection(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    if (current) zwlr_data_control_offer_v1_destroy(current);
    current = offer;
    currentTypes.clear();
    if (offer && offer == pending) currentTypes.swap(pendingTypes);
    if (offer == pending) pending = nullptr;
    if (source && echoDue) {
        echoDue = false;  // our own, as set
        return;
    }
    ++serial;
}

void onFinished(void*, zwlr_data_control_device_v1*)
{
    zwlr_data_control_device_v1_destroy(device);
    device = nullptr;
}

void onPrimary(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    if (!offer) return;
    if (offer == pending) pending = nullptr;
    zwlr_data_control_offer_v1_destroy(offer);
}
const zwlr_data_control_device_v1_listener deviceListener = {onDataOffer, onSelection, onFinished, onPrimary};

void onSend(void*, zwlr_data_control_source_v1*, const char* type, int32_t fd)
{
    for (const auto& kind : offered) {
        if (kind.first != type) continue;
        transferSend(fd, kind.second);
        return;
    }
    close(fd);
}

void onCancelled(void*, zwlr_data_control_source_v1* cancelled)
{
    zwlr_data_control_source_v1_destroy(cancelled);
    if (cancelled != source) return;
    source = nullptr;
    echoDue = false;
    offered.clear();
}
const zwlr_data_control_source_v1_listener sourceListener = {onSend, onCancelled};

void ownClipboard(const ClipData* offers, int count)
{
    if (!device) return;
    if (source) zwlr_data_control_source_v1_destroy(source);
    offered.clear();
    source = zwlr_data_control_manager_v1_create_data_source(wl.dataControl);
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, nullptr);
    for (int i = 0; i < count; ++i) {
        offered.emplace_back(offers[i].mime, std::string(reinterpret_cast<const char*>(offers[i].data), offers[i].size));
        zwlr_data_control_source_v1_offer(source, offers[i].mime);
    }
    zwlr_data_control_device_v1_set_selection(device, source);
    echoDue = true;
    ++serial;
    wlFlush();
}

bool stillOurs() { return source != nullptr; }
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
    if (underWay) return;  // the read under way answers this one too
    if (source) {
        for (int i = 0; i < count && !answerOwn; ++i)
            for (const auto& kind : offered)
                if (kind.first == wanted[i] && !answerOwn) readType = kind.first, answerOwn = true;
        if (!answerOwn) readType.clear(), answerOwn = true;
        return;
    }
    int chosen = -1;
    for (int i = 0; i < count && chosen < 0; ++i)
        for (const std::string& type : currentTypes)
            if (type == wanted[i]) chosen = i;
    int fds[2];
    if (!current || chosen < 0 || pipe2(fds, O_CLOEXEC) != 0) {
        readType.clear();
        answerOwn = true;  // nothing to read: said from the pump
        return;
    }
    readType = wanted[chosen];
    zwlr_data_control_offer_v1_receive(current, wanted[chosen], fds[1]);
    close(fds[1]);
    wlFlush();
    transferReceive(fds[0], answer);
}

// ---- the way

void pump()
{
    wlPump();
    followKeymap();
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
}

int32_t waitMs() { return answerOwn ? 0 : transferWaitMs(); }

bool open(void (*)())
{
    if (!makeDevices()) return false;
    if (wl.dataControl) {
        device = zwlr_data_control_manager_v1_get_data_device(wl.dataControl, wl.seat);
        zwlr_data_control_device_v1_add_listener(device, &deviceListener, nullptr);
    }
    wl_display_roundtrip(wl.display);
    return true;
}

void closeWay()
{
    releaseAll();
    // The compositor takes the releases while the devices that pressed are
    // still there: gone first, a button could stay down in the seat.
    if (wl.display && !wl.lostTold) wl_display_roundtrip(wl.display);
    transferCancelReceive();
    if (keyboard) zwp_virtual_keyboard_v1_destroy(keyboard);
    if (pointer) zwlr_virtual_pointer_v1_destroy(pointer);
    keyboard = nullptr;
    pointer = nullptr;
    wlFlush();
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
void nothing() {}

const DeskWay wlrWay = {
    "the Wayland compositor's virtual keyboard and pointer (wlroots protocols)",
    open, closeWay, fd, pump, waitMs, desktop, desktopChanged, nothing, nothing,
    key, moveTo, pointerAt, button, wheel, releaseAll, wlFlush,
    ownClipboard, stillOurs, clipboardSerial, requestClipboard,
};

}  // namespace

const DeskWay* waylandOpen(void (*lost)())
{
    if (!wlConnect()) return nullptr;
    wl.lost = lost;
    if (!wl.seat) {
        fprintf(stderr, "skiprail: the Wayland compositor offers no seat: there is nothing to type on\n");
        wlDisconnect();
        return nullptr;
    }
    if (wl.keyboards && wl.pointers) {
        if (!wl.dataControl)
            logLine("the Wayland compositor lacks data control (zwlr_data_control_manager_v1): the clipboard does "
                    "not follow the crossings");
        if (!wlrWay.open(lost)) {
            wlDisconnect();
            return nullptr;
        }
        return &wlrWay;
    }
    if (const DeskWay* gnome = gnomeOpen()) return gnome;
    fprintf(stderr,
            "skiprail: this Wayland compositor lets no program send keys and pointer moves: it offers neither the "
            "virtual keyboard and pointer protocols (zwp_virtual_keyboard_manager_v1, zwlr_virtual_pointer_manager_v1) "
            "nor GNOME's remote desktop interface (org.gnome.Mutter.RemoteDesktop). Skiprail works in an X11 (Xorg) "
            "session of this desktop: log in to that.\n");
    wlDisconnect();
    return nullptr;
}
