// The choice of the way the desktop is driven, and the X display's table.
#include "unix/desk.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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


// ---- The clipboard by its offers. The X selection serves and reads them
// itself (x_clipboard.cpp); a Wayland clipboard is handed every type's bytes
// (a picture's made now), and read a group at a time.
namespace {

struct OffersRead {
    ClipWanted wanted;
    size_t group = 0;
    ClipOffers got;
    void (*done)(ClipOffers&) = nullptr;
};
OffersRead reading;
bool readingOffers = false;

bool isText(const std::string& mime)
{
    for (const char* text : TEXT_MIME_TYPES)
        if (mime == text) return true;
    return false;
}

void readNextGroup();

void gotGroup(const ClipData& got)
{
    if (got.data && got.size > 0) {
        const std::string mime = isText(got.mime) ? std::string(MIME_TEXT) : std::string(got.mime);
        reading.got.add(mime, std::string(reinterpret_cast<const char*>(got.data), got.size));
    }
    ++reading.group;
    readNextGroup();
}

void readNextGroup()
{
    if (reading.group >= reading.wanted.size()) {
        readingOffers = false;
        OffersRead done = std::move(reading);
        reading = OffersRead();
        if (done.done) done.done(done.got);
        return;
    }
    // Text is asked for under every name it goes by.
    std::vector<const char*> names;
    for (const std::string& mime : reading.wanted[reading.group]) {
        if (mime == MIME_TEXT)
            for (const char* text : TEXT_MIME_TYPES) names.push_back(text);
        else
            names.push_back(mime.c_str());
    }
    way->requestClipboard(names.data(), static_cast<int>(names.size()), gotGroup);
}

}  // namespace

void deskOwnOffers(std::shared_ptr<ClipOffers> offers)
{
    if (way == &xWay) {
        xOwnClipboard(std::move(offers));
        return;
    }
    std::vector<ClipBytes> kept;
    std::vector<std::string> names;
    for (const std::string& mime : offers->mimes()) {
        const ClipBytes bytes = offers->get(mime);
        if (!bytes) continue;
        if (mime == MIME_TEXT) {
            for (const char* text : TEXT_MIME_TYPES) names.push_back(text), kept.push_back(bytes);
        } else {
            names.push_back(mime);
            kept.push_back(bytes);
        }
    }
    std::vector<ClipData> data;
    for (size_t i = 0; i < names.size(); ++i)
        data.push_back({names[i].c_str(), reinterpret_cast<const uint8_t*>(kept[i]->data()), kept[i]->size()});
    way->ownClipboard(data.data(), static_cast<int>(data.size()));
}

void deskRequestOffers(const ClipWanted& wanted, void (*done)(ClipOffers& got))
{
    if (way == &xWay) {
        xRequestClipboardOffers(wanted, done);
        return;
    }
    // A read under way answers for this one too, with its own wishes.
    reading.done = done;
    if (readingOffers) return;
    readingOffers = true;
    reading.wanted = wanted;
    reading.group = 0;
    reading.got = ClipOffers();
    readNextGroup();
}
