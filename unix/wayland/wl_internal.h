// What the Wayland side's files share: the compositor connection with its
// outputs and seat, one epoll set that the event loop sees as one
// descriptor, and the clipboard's transfers through pipes.
#pragma once

#include <sys/epoll.h>

#include <cstdint>
#include <string>
#include <vector>

#include "input/desktop_math.h"

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;
struct wl_output;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwlr_data_control_manager_v1;

struct WlOutput {
    wl_output* output = nullptr;
    zxdg_output_v1* xdg = nullptr;
    uint32_t name = 0;           // the registry's
    std::string connector;       // "HEADLESS-1", "Meta-0"
    int32_t x = 0, y = 0;        // logical, in the compositor's layout
    int32_t width = 0, height = 0;
    int32_t modeWidth = 0, modeHeight = 0, scale = 1;
    bool logical = false;        // xdg_output told its logical place
};

struct Wl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    uint32_t seatCaps = 0;
    wl_keyboard* keyboard = nullptr;
    zxdg_output_manager_v1* xdgOutputs = nullptr;
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    zwlr_data_control_manager_v1* dataControl = nullptr;
    std::vector<WlOutput*> outputs;
    std::string seatKeymap;      // the seat's keyboard's keymap as last given
    bool keymapNew = false;
    Desktop desktop = {};
    Point origin = {0, 0};       // the layout's top left: the desktop's (0, 0)
    bool desktopChanged = false;
    bool outputsStale = false;
    int ep = -1;
    void (*lost)() = nullptr;
    bool lostTold = false;
};
extern Wl wl;

// The connection and its globals (a round trip: outputs, seat and keymap
// known on return); false when there is no compositor to connect to.
bool wlConnect();
void wlDisconnect();
// Events read and handled, requests flushed; the compositor gone calls lost.
void wlPump();
void wlFlush();
void wlTellLost(const char* why);
// Milliseconds of the monotonic clock, as the protocols' time stamps.
uint32_t wlTime();

// Descriptors besides the connection, in the one epoll set.
using EpHandler = void (*)(int fd, uint32_t events, void* context);
void epWatch(int fd, uint32_t events, EpHandler handler, void* context);
void epForget(int fd);

// The clipboard's data through pipes (wl_transfer.cpp). A send writes the
// bytes as the reader takes them, then closes; a receive reads to the end
// and hands the bytes over (nullptr: failed, or a second of silence).
void transferSend(int fd, const std::string& data);
void transferReceive(int fd, void (*done)(const std::string* data));
void transferCancelReceive();
int32_t transferWaitMs();
void transferTimeouts();
// The largest selection read: more is not the clipboard's text.
constexpr size_t TRANSFER_MAX = 64u * 1024 * 1024;

// Wheel notches from the wire's units (120 a notch), remainders carried.
int32_t wheelNotches(int32_t& carry, int32_t delta);
