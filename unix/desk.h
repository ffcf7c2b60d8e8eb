// The desktop the Linux Slave drives, whichever way it is driven: an X
// display through XTest (x_side.h), or a Wayland session through its
// compositor (wayland/). The rest of the program calls these alone; which
// way is chosen once, at start, from the session's environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "input/desktop_math.h"
#include "unix/clip_offers.h"

// One kind of clipboard data by its MIME type ("text/plain;charset=utf-8",
// "image/png", "text/uri-list"): what this side offers, or what it read.
struct ClipData {
    const char* mime;
    const uint8_t* data;
    size_t size;
};

// The MIME types text is offered and asked for under, best first.
extern const char* const TEXT_MIME_TYPES[];
constexpr int TEXT_MIME_COUNT = 4;

// The ways of driving a desktop. Each fills the same table.
struct DeskWay {
    const char* name;  // for the log line that says which way is used
    bool (*open)(void (*lost)());
    void (*close)();  // every key and button released first
    int (*fd)();
    void (*pump)();
    int32_t (*waitMs)();
    Desktop (*desktop)();
    bool (*desktopChanged)();
    // The link came up or went down: a way that makes its devices with the
    // link does so here (a device made at the first key loses that key).
    void (*linkUp)();
    void (*linkDown)();
    void (*key)(int32_t inputCode, bool down);
    void (*moveTo)(int32_t x, int32_t y);
    bool (*pointerAt)(int32_t x, int32_t y);
    void (*button)(int32_t eventCode);
    void (*wheel)(int32_t delta, bool horizontal);
    void (*releaseAll)();
    void (*flush)();
    // The clipboard: offered in every kind given (copied), read in the first
    // kind of `wanted` the owner has; `done` gets nullptr data when none.
    void (*ownClipboard)(const ClipData* offers, int count);
    bool (*clipboardStillOurs)();
    uint32_t (*clipboardSerial)();
    void (*requestClipboard)(const char* const* wanted, int count, void (*done)(const ClipData& got));
};

// What the session offers: X (DISPLAY), Wayland (WAYLAND_DISPLAY), neither.
enum class SessionKind { None, X11, Wayland };
SessionKind sessionKind(const char* waylandDisplay, const char* xDisplay, const char* sessionType);

// Opens the desktop of this session, saying in one log line which way it is
// driven; false (having said why, and what works instead) when it cannot be.
bool deskOpen(void (*lost)());
void deskClose();
const DeskWay& desk();

// Text alone, for the clipboard's text transfers (UTF-8).
void deskOwnText(const char* utf8, int32_t n);
// The clipboard by its offers (text, pictures, files): owned, each type
// served as a program asks for it; read, of each group of `wanted` the first
// type the owner offers (text under its own name, MIME_TEXT). `done` gets
// what was read, nothing when the owner had none or did not answer.
void deskOwnOffers(std::shared_ptr<ClipOffers> offers);
void deskRequestOffers(const ClipWanted& wanted, void (*done)(ClipOffers& got));
