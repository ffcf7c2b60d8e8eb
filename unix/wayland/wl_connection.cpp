// The compositor connection: its globals, the outputs laid out as the
// desktop, the seat's keyboard and its keymap, and the epoll set the event
// loop waits on.
#include <poll.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>

#include "unix/log.h"
#include "unix/wayland/wl_internal.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

Wl wl;

namespace {

struct Watch {
    int fd;
    EpHandler handler;
    void* context;
};
std::map<int, Watch*> watches;
Watch displayWatch;

// ---- outputs

void outputsChanged() { wl.outputsStale = true; }

void onGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*, const char*,
                int32_t)
{
    auto* o = static_cast<WlOutput*>(data);
    if (!o->logical) o->x = x, o->y = y;
}

void onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    auto* o = static_cast<WlOutput*>(data);
    if (flags & WL_OUTPUT_MODE_CURRENT) o->modeWidth = width, o->modeHeight = height;
}

void onOutputDone(void*, wl_output*) { outputsChanged(); }
void onScale(void* data, wl_output*, int32_t factor) { static_cast<WlOutput*>(data)->scale = factor > 0 ? factor : 1; }
void onOutputName(void* data, wl_output*, const char* name) { static_cast<WlOutput*>(data)->connector = name; }
void onDescription(void*, wl_output*, const char*) {}

const wl_output_listener outputListener = {onGeometry, onMode, onOutputDone, onScale, onOutputName, onDescription};

void onLogicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y)
{
    auto* o = static_cast<WlOutput*>(data);
    o->x = x, o->y = y, o->logical = true;
}

void onLogicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height)
{
    auto* o = static_cast<WlOutput*>(data);
    o->width = width, o->height = height, o->logical = true;
}

void onXdgDone(void*, zxdg_output_v1*) { outputsChanged(); }

void onXdgName(void* data, zxdg_output_v1*, const char* name)
{
    auto* o = static_cast<WlOutput*>(data);
    if (o->connector.empty()) o->connector = name;
}

void onXdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener xdgListener = {onLogicalPosition, onLogicalSize, onXdgDone, onXdgName,
                                             onXdgDescription};

void watchLogical(WlOutput* o)
{
    if (!wl.xdgOutputs || o->xdg) return;
    o->xdg = zxdg_output_manager_v1_get_xdg_output(wl.xdgOutputs, o->output);
    zxdg_output_v1_add_listener(o->xdg, &xdgListener, o);
}

// The outputs as the Slave's desktop: their logical rectangles, moved so the
// layout's top left is the origin (the Master knows no negative pixels).
void readDesktop()
{
    wl.outputsStale = false;
    int32_t left = INT32_MAX, top = INT32_MAX;
    for (const WlOutput* o : wl.outputs) {
        const int32_t w = o->logical ? o->width : o->modeWidth / o->scale;
        if (w > 0) left = std::min(left, o->x), top = std::min(top, o->y);
    }
    Desktop d = {};
    for (const WlOutput* o : wl.outputs) {
        const int32_t w = o->logical ? o->width : o->modeWidth / o->scale;
        const int32_t h = o->logical ? o->height : o->modeHeight / o->scale;
        if (w > 0 && h > 0) addMonitor(d, {o->x - left, o->y - top, o->x - left + w, o->y - top + h});
    }
    if (d.count == 0) d = singleScreen(1, 1);  // no output yet: nothing to place on
    const auto same = [](const Rect& p, const Rect& q) {
        return p.left == q.left && p.top == q.top && p.right == q.right && p.bottom == q.bottom;
    };
    bool equal = d.count == wl.desktop.count && same(d.bounds, wl.desktop.bounds);
    for (int32_t i = 0; equal && i < d.count; ++i) equal = same(d.monitors[i], wl.desktop.monitors[i]);
    if (d.count > 0 && left != INT32_MAX) wl.origin = {left, top};
    if (equal) return;
    wl.desktop = d;
    wl.desktopChanged = true;
}

// ---- the seat and its keymap

void onKeymap(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
{
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char* text = static_cast<const char*>(map);
            std::string keymap(text, strnlen(text, size));
            munmap(map, size);
            if (keymap != wl.seatKeymap) {
                wl.seatKeymap.swap(keymap);
                wl.keymapNew = true;
            }
        }
    }
    close(fd);
}

void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void onKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener = {onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeat};

void onCapabilities(void*, wl_seat* seat, uint32_t caps)
{
    wl.seatCaps = caps;
    // The seat's keyboard is only heard for its keymap: keys go to the
    // focused window, never to a program without one.
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !wl.keyboard) {
        wl.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(wl.keyboard, &keyboardListener, nullptr);
    }
}

void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener = {onCapabilities, onSeatName};

// ---- the registry

void onGlobal(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    const auto bind = [&](const wl_interface* what, uint32_t most) {
        return wl_registry_bind(registry, name, what, std::min(version, most));
    };
    if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto* o = new WlOutput;
        o->name = name;
        o->output = static_cast<wl_output*>(bind(&wl_output_interface, 4));
        wl_output_add_listener(o->output, &outputListener, o);
        watchLogical(o);
        wl.outputs.push_back(o);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !wl.seat) {
        wl.seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(wl.seat, &seatListener, nullptr);
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        wl.xdgOutputs = static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 3));
        for (WlOutput* o : wl.outputs) watchLogical(o);
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        wl.pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(bind(&zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        wl.keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        wl.dataControl = static_cast<zwlr_data_control_manager_v1*>(bind(&zwlr_data_control_manager_v1_interface, 2));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t name)
{
    for (auto it = wl.outputs.begin(); it != wl.outputs.end(); ++it) {
        WlOutput* o = *it;
        if (o->name != name) continue;
        if (o->xdg) zxdg_output_v1_destroy(o->xdg);
        wl_output_destroy(o->output);
        delete o;
        wl.outputs.erase(it);
        outputsChanged();
        return;
    }
}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

void onDisplayEvents(int, uint32_t events, void*)
{
    if (events & (EPOLLERR | EPOLLHUP)) {
        wlTellLost("the Wayland compositor closed the connection");
        return;
    }
}

}  // namespace

uint32_t wlTime()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

void wlTellLost(const char* why)
{
    if (wl.lostTold) return;
    wl.lostTold = true;
    logLine("%s", why);
    if (wl.lost) wl.lost();
}

bool wlConnect()
{
    wl.display = wl_display_connect(nullptr);
    if (!wl.display) {
        const char* name = getenv("WAYLAND_DISPLAY");
        fprintf(stderr, "skiprail: cannot connect to the Wayland compositor %s: %s\n", name && *name ? name : "wayland-0",
                strerror(errno));
        return false;
    }
    wl.ep = epoll_create1(EPOLL_CLOEXEC);
    wl.registry = wl_display_get_registry(wl.display);
    wl_registry_add_listener(wl.registry, &registryListener, nullptr);
    // Globals, then what binding them sent (seat, outputs), then the keymap
    // and xdg_output's answers.
    for (int i = 0; i < 3; ++i) wl_display_roundtrip(wl.display);
    readDesktop();
    wl.desktopChanged = false;
    displayWatch = {wl_display_get_fd(wl.display), onDisplayEvents, nullptr};
    epoll_event event = {};
    event.events = EPOLLIN;
    event.data.ptr = &displayWatch;
    epoll_ctl(wl.ep, EPOLL_CTL_ADD, displayWatch.fd, &event);
    return true;
}

void wlDisconnect()
{
    if (!wl.display) return;
    for (WlOutput* o : wl.outputs) delete o;
    wl.outputs.clear();
    wl_display_disconnect(wl.display);
    wl.display = nullptr;
    if (wl.ep >= 0) close(wl.ep);
    wl.ep = -1;
}

void epWatch(int fd, uint32_t events, EpHandler handler, void* context)
{
    Watch*& w = watches[fd];
    const bool known = w != nullptr;
    if (!w) w = new Watch;
    *w = {fd, handler, context};
    epoll_event event = {};
    event.events = events;
    event.data.ptr = w;
    epoll_ctl(wl.ep, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event);
}

void epForget(int fd)
{
    auto it = watches.find(fd);
    if (it == watches.end()) return;
    epoll_ctl(wl.ep, EPOLL_CTL_DEL, fd, nullptr);
    delete it->second;
    watches.erase(it);
}

void wlFlush()
{
    if (wl.display && !wl.lostTold && wl_display_flush(wl.display) < 0 && errno != EAGAIN)
        wlTellLost("the Wayland compositor went away");
}

// The connection's events first (read when there are any, never waiting),
// then the pipes that are ready.
void wlPump()
{
    if (!wl.display || wl.lostTold) return;
    while (wl_display_prepare_read(wl.display) != 0) wl_display_dispatch_pending(wl.display);
    wlFlush();
    pollfd p = {wl_display_get_fd(wl.display), POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        if (wl_display_read_events(wl.display) < 0) {
            wlTellLost("the Wayland compositor went away");
            return;
        }
    } else {
        wl_display_cancel_read(wl.display);
        if (p.revents & (POLLHUP | POLLERR)) {
            wlTellLost("the Wayland compositor went away");
            return;
        }
    }
    if (wl_display_dispatch_pending(wl.display) < 0 || wl_display_get_error(wl.display) != 0) {
        wlTellLost("the Wayland compositor ended the connection");
        return;
    }
    if (wl.outputsStale) readDesktop();
    epoll_event events[16];
    const int n = epoll_wait(wl.ep, events, 16, 0);
    for (int i = 0; i < n; ++i) {
        auto* w = static_cast<Watch*>(events[i].data.ptr);
        if (w == &displayWatch) continue;  // read above
        // A handler may forget another ready descriptor: look it up again.
        bool still = false;
        for (const auto& entry : watches) still = still || entry.second == w;
        if (still) w->handler(w->fd, events[i].events, w->context);
    }
    transferTimeouts();
    wlFlush();
}

int32_t wheelNotches(int32_t& carry, int32_t delta)
{
    carry += delta;
    const int32_t notches = carry / 120;
    carry -= notches * 120;
    return notches;
}
