// The choice of the way the desktop is driven, and the X display's table.
#include "unix/desk.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "unix/log.h"
#include "unix/wayland/wayland_side.h"
#include "unix/x_side.h"

const char* const TEXT_MIME_TYPES[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT"};

namespace {

// X carries text alone so far: its selection speaks UTF8_STRING and STRING.
void xOwn(const ClipData* offers, int count)
{
    for (int i = 0; i < count; ++i) {
        for (const char* text : TEXT_MIME_TYPES) {
            if (std::strcmp(offers[i].mime, text) != 0) continue;
            xOwnClipboard(reinterpret_cast<const char*>(offers[i].data), static_cast<int32_t>(offers[i].size));
            return;
        }
    }
}

void (*xDone)(const ClipData&) = nullptr;

void xGot(const char* utf8, int32_t n)
{
    const ClipData got = {TEXT_MIME_TYPES[0], reinterpret_cast<const uint8_t*>(utf8),
                          utf8 && n > 0 ? static_cast<size_t>(n) : 0};
    if (xDone) xDone(got);
}

void xRequest(const char* const*, int, void (*done)(const ClipData&))
{
    xDone = done;
    xRequestClipboard(xGot);
}

bool xOpenSession(void (*lost)()) { return xOpen(nullptr, lost); }
void nothing() {}

const DeskWay xWay = {
    "the X display through XTest",
    xOpenSession, xClose, xFd, xPump, xWaitMs, xDesktop, xDesktopChanged, nothing, nothing,
    xKey, xMoveTo, xPointerAt, xButton, xWheel, xReleaseAll, xFlush,
    xOwn, xClipboardStillOurs, xClipboardSerial, xRequest,
};

const DeskWay* way = nullptr;

void (*textDone)(const char*, int32_t) = nullptr;

void gotText(const ClipData& got)
{
    if (textDone) textDone(reinterpret_cast<const char*>(got.data), got.data ? static_cast<int32_t>(got.size) : 0);
}

}  // namespace

SessionKind sessionKind(const char* waylandDisplay, const char* xDisplay, const char* sessionType)
{
    if (waylandDisplay && *waylandDisplay) return SessionKind::Wayland;
    // A Wayland session whose environment lost WAYLAND_DISPLAY: its socket is
    // the default one (XTest through its X server would reach X programs alone).
    if (sessionType && std::strcmp(sessionType, "wayland") == 0) return SessionKind::Wayland;
    if (xDisplay && *xDisplay) return SessionKind::X11;
    return SessionKind::None;
}

bool deskOpen(void (*lost)())
{
    switch (sessionKind(getenv("WAYLAND_DISPLAY"), getenv("DISPLAY"), getenv("XDG_SESSION_TYPE"))) {
    case SessionKind::Wayland: way = waylandOpen(lost); break;
    case SessionKind::X11: way = xOpenSession(lost) ? &xWay : nullptr; break;
    case SessionKind::None:
        fprintf(stderr, "skiprail: no desktop session here: neither WAYLAND_DISPLAY nor DISPLAY is set\n");
        return false;
    }
    if (!way) return false;
    logLine("the desktop is driven through %s", way->name);
    return true;
}

void deskClose()
{
    if (way) way->close();
    way = nullptr;
}

const DeskWay& desk() { return *way; }

void deskOwnText(const char* utf8, int32_t n)
{
    // Every name text goes by, so any program finds it.
    ClipData offers[TEXT_MIME_COUNT];
    for (int i = 0; i < TEXT_MIME_COUNT; ++i)
        offers[i] = {TEXT_MIME_TYPES[i], reinterpret_cast<const uint8_t*>(utf8), static_cast<size_t>(n)};
    way->ownClipboard(offers, TEXT_MIME_COUNT);
}

void deskRequestText(void (*done)(const char* utf8, int32_t n))
{
    textDone = done;
    way->requestClipboard(TEXT_MIME_TYPES, TEXT_MIME_COUNT, gotText);
}
