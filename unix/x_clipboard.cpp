// The CLIPBOARD selection: owned with what came from the Master (the offers
// of clip_offers.h: text, pictures, files), and read from its owner when
// control goes back, the types wanted chosen from its TARGETS. Large data
// moves by INCR in both directions: a property at a time, each one driven by
// the other side deleting the last.
#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "unix/clip_offers.h"
#include "unix/x_display.h"
#include "unix/x_side.h"

namespace {

using Text = std::shared_ptr<const std::string>;

// Reading gives up after this long without a step; so does a transfer to a
// program that stopped taking it.
constexpr int64_t READ_PATIENCE_MS = 1000;
constexpr int64_t SEND_PATIENCE_MS = 5000;
// What is read from an owner beyond this is dropped whole, never cut.
constexpr size_t MOST_READ = 256u << 20;

Atom clipboardAtom, targetsAtom, multipleAtom, timestampAtom, utf8Atom, textAtom, plainUtf8Atom, plainAtom,
    incrAtom, readAtom, clockAtom;
int fixesEventBase = 0;
size_t chunkBytes = 0;  // the largest property one request writes, with room to spare

// What this PC owns: its offers, the atom of each type, and the text's
// Latin-1 form once asked for.
std::shared_ptr<ClipOffers> owned;
std::vector<std::pair<Atom, std::string>> ownedAtoms;
Text ownedLatin1;
bool ours = false;
Time ownedSince = CurrentTime;
// Counts the selection's owners: a new one each time the text may be new.
uint32_t clipboardSerial = 1;

// A transfer by INCR to a program that asked for more than one request holds.
struct Outgoing {
    Window requestor;
    Atom property, type;
    Text data;
    size_t offset;
    int64_t deadline;
};
std::vector<Outgoing> outgoing;

// The one request of this PC for what the owner holds: its TARGETS first,
// then each type chosen from them, one after the other.
enum class Reading { Idle, Converting, Incremental, Answered };
Reading reading = Reading::Idle;
std::function<void(ClipOffers&)> readDone;
ClipWanted readWanted;
struct ReadStep {
    Atom target;
    std::string mime;  // what the bytes are kept as
};
std::vector<ReadStep> readSteps;
size_t readStep = 0;
bool readingTargets = false;
bool triedLatin1 = false;  // the text step fell back to STRING
ClipOffers readOffers;
Atom readTarget = None;
std::string readText;
Atom readType = None;
int64_t readDeadline = 0;

std::string utf8FromLatin1(const std::string& latin1)
{
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::string latin1FromUtf8(const std::string& utf8)
{
    static const uint32_t LEAST[] = {0, 0x80, 0x800, 0x10000};
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 4;
        if (extra == 4) {
            out += '?';
            ++i;
            continue;
        }
        uint32_t point = extra == 0 ? c : c & (0x3Fu >> extra);
        size_t k = 1;
        for (; k <= extra && i + k < utf8.size() && (utf8[i + k] & 0xC0) == 0x80; ++k)
            point = (point << 6) | (utf8[i + k] & 0x3F);
        // A sequence cut short is one '?', and so is one that spells a
        // character the long way round.
        out += k > extra && point >= LEAST[extra] && point <= 0xFF ? static_cast<char>(point) : '?';
        i += k;
    }
    return out;
}

namespace {

// A server time for the ownership: an empty append to a property of our
// window, whose notice carries the time.
Time serverTime()
{
    XChangeProperty(xDisplay, xWindow, clockAtom, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    XIfEvent(
        xDisplay, &event,
        [](Display*, XEvent* e, XPointer) -> Bool {
            return e->type == PropertyNotify && e->xproperty.window == xWindow && e->xproperty.atom == clockAtom;
        },
        nullptr);
    return event.xproperty.time;
}

// Ends the request: whatever was read goes to `done`.
void finishRead()
{
    std::function<void(ClipOffers&)> done = std::move(readDone);
    ClipOffers offers = std::move(readOffers);
    reading = Reading::Idle;
    readDone = nullptr;
    readOffers = ClipOffers();
    readSteps.clear();
    readWanted.clear();
    if (done) done(offers);
}

void convert(Atom target)
{
    XDeleteProperty(xDisplay, xWindow, readAtom);
    XConvertSelection(xDisplay, clipboardAtom, target, readAtom, xWindow, CurrentTime);
    XFlush(xDisplay);
    readTarget = target;
    reading = Reading::Converting;
    readDeadline = xNowMs() + READ_PATIENCE_MS;
}

// The next type of the plan, or the end of the request.
void nextStep(bool first = false)
{
    if (!first) ++readStep;
    triedLatin1 = false;
    if (readStep < readSteps.size()) convert(readSteps[readStep].target);
    else finishRead();
}

bool wantsText()
{
    for (const auto& group : readWanted)
        for (const std::string& mime : group)
            if (mime == MIME_TEXT) return true;
    return false;
}

// Of each group wanted, the first type among the owner's targets; with no
// TARGETS answered (an owner of the old kind), text alone.
void planFromTargets(bool answered)
{
    readSteps.clear();
    readStep = 0;
    if (!answered) {
        if (wantsText()) readSteps.push_back({utf8Atom, MIME_TEXT});
        return;
    }
    std::vector<Atom> targets;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(xDisplay, xWindow, readAtom, 0, 4096, True, XA_ATOM, &type, &format, &items, &after,
                           &data) == Success &&
        format == 32 && data) {
        const long* atoms = reinterpret_cast<const long*>(data);
        for (unsigned long i = 0; i < items; ++i) targets.push_back(static_cast<Atom>(atoms[i]));
    }
    if (data) XFree(data);
    const auto offered = [&](Atom atom) { return std::find(targets.begin(), targets.end(), atom) != targets.end(); };
    for (const auto& group : readWanted) {
        for (const std::string& mime : group) {
            Atom target = None;
            if (mime == MIME_TEXT) {
                target = offered(utf8Atom) ? utf8Atom : offered(plainUtf8Atom) ? plainUtf8Atom
                                                       : offered(XA_STRING)    ? XA_STRING
                                                                               : None;
            } else {
                const Atom atom = XInternAtom(xDisplay, mime.c_str(), False);
                if (offered(atom)) target = atom;
            }
            if (target == None) continue;
            readSteps.push_back({target, mime});
            break;
        }
    }
}

// Takes (and deletes) what the owner put in our property; false when it is
// not bytes or more than this PC reads.
bool takeProperty(Atom* type, bool* empty)
{
    Atom actualType = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const long most = static_cast<long>(MOST_READ / 4 + 1);
    if (XGetWindowProperty(xDisplay, xWindow, readAtom, 0, most, True, AnyPropertyType, &actualType, &format, &items,
                           &after, &data) != Success)
        return false;
    const bool fits = after == 0 && readText.size() + items <= MOST_READ;
    if (fits && format == 8 && actualType != incrAtom) readText.append(reinterpret_cast<char*>(data), items);
    if (data) XFree(data);
    *type = actualType;
    *empty = items == 0;
    if (!fits)
        fprintf(stderr, "skiprail: the clipboard's %s is larger than %zu bytes, and stays here\n",
                readSteps[readStep].mime.c_str(), MOST_READ);
    return fits && (format == 8 || actualType == incrAtom);
}

// One type read whole: kept, and on to the next.
void stepRead()
{
    const std::string& mime = readSteps[readStep].mime;
    if (mime == MIME_TEXT && readType == XA_STRING) readText = utf8FromLatin1(readText);
    if (!readText.empty()) readOffers.add(mime, readText);
    readText.clear();
    nextStep();
}

void onSelectionNotify(const XSelectionEvent& event)
{
    if (reading != Reading::Converting || event.selection != clipboardAtom || event.target != readTarget) return;
    if (readingTargets) {
        readingTargets = false;
        planFromTargets(event.property != None);
        nextStep(true);
        return;
    }
    if (event.property == None) {
        // An owner of the old kind may know only Latin-1.
        if (readTarget == utf8Atom && !triedLatin1) {
            convert(XA_STRING);
            triedLatin1 = true;
        } else {
            nextStep();
        }
        return;
    }
    readText.clear();
    Atom type = None;
    bool empty = false;
    if (!takeProperty(&type, &empty)) {
        readText.clear();
        nextStep();
    } else if (type == incrAtom) {
        // Deleting the property (done) asks for the first piece.
        reading = Reading::Incremental;
        readType = None;
        readDeadline = xNowMs() + READ_PATIENCE_MS;
    } else {
        readType = type;
        stepRead();
    }
}

void onOwnPropertyNotify(const XPropertyEvent& event)
{
    if (reading != Reading::Incremental || event.atom != readAtom || event.state != PropertyNewValue) return;
    Atom type = None;
    bool empty = false;
    if (!takeProperty(&type, &empty)) {
        readText.clear();
        nextStep();
    } else if (empty) {
        stepRead();  // an empty piece ends the transfer
    } else {
        if (readType == None) readType = type;
        readDeadline = xNowMs() + READ_PATIENCE_MS;
    }
}

void stopWatching(Window requestor)
{
    for (const Outgoing& t : outgoing)
        if (t.requestor == requestor) return;
    XSelectInput(xDisplay, requestor, NoEventMask);
}

// The next piece of a transfer by INCR, once the requestor deleted the last;
// an empty piece after the last ends it.
void onRequestorPropertyNotify(const XPropertyEvent& event)
{
    if (event.state != PropertyDelete) return;
    for (size_t i = 0; i < outgoing.size(); ++i) {
        Outgoing& t = outgoing[i];
        if (t.requestor != event.window || t.property != event.atom) continue;
        const size_t n = std::min(chunkBytes, t.data->size() - t.offset);
        XChangeProperty(xDisplay, t.requestor, t.property, t.type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(t.data->data() + t.offset), static_cast<int>(n));
        t.offset += n;
        t.deadline = xNowMs() + SEND_PATIENCE_MS;
        if (n == 0) {
            const Window requestor = t.requestor;
            outgoing.erase(outgoing.begin() + static_cast<std::ptrdiff_t>(i));
            stopWatching(requestor);
        }
        return;
    }
}

void sendText(Window requestor, Atom property, Atom type, const Text& data)
{
    if (data->size() <= chunkBytes) {
        XChangeProperty(xDisplay, requestor, property, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data->data()), static_cast<int>(data->size()));
        return;
    }
    // Watched before the notice goes, so no deletion is missed; a transfer
    // the requestor asks for again into the same property starts over.
    XSelectInput(xDisplay, requestor, PropertyChangeMask);
    outgoing.erase(std::remove_if(outgoing.begin(), outgoing.end(),
                                  [&](const Outgoing& t) { return t.requestor == requestor && t.property == property; }),
                   outgoing.end());
    outgoing.push_back({requestor, property, type, data, 0, xNowMs() + SEND_PATIENCE_MS});
    const long size = static_cast<long>(std::min<size_t>(data->size(), LONG_MAX));
    XChangeProperty(xDisplay, requestor, property, incrAtom, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&size), 1);
}

bool answer(Window requestor, Atom property, Atom target)
{
    if (target == targetsAtom) {
        // Text under its older names too; every other type by its own.
        std::vector<Atom> targets = {targetsAtom, timestampAtom};
        if (owned->has(MIME_TEXT)) targets.insert(targets.end(), {utf8Atom, plainUtf8Atom, XA_STRING, textAtom, plainAtom});
        for (const auto& [atom, mime] : ownedAtoms)
            if (mime != MIME_TEXT) targets.push_back(atom);
        XChangeProperty(xDisplay, requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(targets.data()), static_cast<int>(targets.size()));
    } else if (target == timestampAtom) {
        const long time = static_cast<long>(ownedSince);
        XChangeProperty(xDisplay, requestor, property, XA_INTEGER, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&time), 1);
    } else if (owned->has(MIME_TEXT) && (target == utf8Atom || target == textAtom || target == plainUtf8Atom)) {
        const Text text = owned->get(MIME_TEXT);
        if (!text) return false;
        sendText(requestor, property, target == plainUtf8Atom ? plainUtf8Atom : utf8Atom, text);
    } else if (owned->has(MIME_TEXT) && (target == XA_STRING || target == plainAtom)) {
        const Text text = owned->get(MIME_TEXT);
        if (!text) return false;
        if (!ownedLatin1) ownedLatin1 = std::make_shared<const std::string>(latin1FromUtf8(*text));
        sendText(requestor, property, target, ownedLatin1);
    } else {
        const auto found = std::find_if(ownedAtoms.begin(), ownedAtoms.end(),
                                        [&](const auto& offer) { return offer.first == target; });
        if (found == ownedAtoms.end() || found->second == MIME_TEXT) return false;  // MULTIPLE among them
        const Text bytes = owned->get(found->second);  // made now if need be
        if (!bytes) return false;
        sendText(requestor, property, target, bytes);
    }
    return true;
}

void onSelectionRequest(const XSelectionRequestEvent& request)
{
    XSelectionEvent reply = {};
    reply.type = SelectionNotify;
    reply.display = request.display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;
    // A requestor of the oldest kind names no property: the target is one.
    const Atom property = request.property != None ? request.property : request.target;
    if (ours && owned && request.selection == clipboardAtom && answer(request.requestor, property, request.target))
        reply.property = property;
    XSendEvent(xDisplay, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
}

}  // namespace

bool clipboardOpen()
{
    int errorBase = 0;
    if (!XFixesQueryExtension(xDisplay, &fixesEventBase, &errorBase)) {
        fprintf(stderr, "skiprail: the X server lacks the XFIXES extension\n");
        return false;
    }
    const char* names[] = {"CLIPBOARD", "TARGETS",   "MULTIPLE",   "TIMESTAMP",          "UTF8_STRING", "TEXT",
                           "text/plain;charset=utf-8", "text/plain", "INCR", "SKIPRAIL_SELECTION", "SKIPRAIL_CLOCK"};
    Atom atoms[11];
    XInternAtoms(xDisplay, const_cast<char**>(names), 11, False, atoms);
    clipboardAtom = atoms[0], targetsAtom = atoms[1], multipleAtom = atoms[2], timestampAtom = atoms[3];
    utf8Atom = atoms[4], textAtom = atoms[5], plainUtf8Atom = atoms[6], plainAtom = atoms[7], incrAtom = atoms[8];
    readAtom = atoms[9], clockAtom = atoms[10];
    chunkBytes = static_cast<size_t>(XMaxRequestSize(xDisplay)) * 4 - 1024;
    XFixesSelectSelectionInput(xDisplay, xWindow, clipboardAtom,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    owned.reset(), ownedLatin1.reset();
    ownedAtoms.clear();
    ours = false;
    outgoing.clear();
    reading = Reading::Idle;
    readDone = nullptr;
    return true;
}

void clipboardClose()
{
    owned.reset(), ownedLatin1.reset();
    ownedAtoms.clear();
    ours = false;
    outgoing.clear();
    reading = Reading::Idle;
    readDone = nullptr;
}

bool clipboardEvent(XEvent& event)
{
    switch (event.type) {
    case SelectionRequest:
        onSelectionRequest(event.xselectionrequest);
        return true;
    case SelectionClear:
        // A notice older than the text owned since is about text gone before.
        if (event.xselectionclear.selection == clipboardAtom &&
            static_cast<long>(event.xselectionclear.time - ownedSince) >= 0) {
            ours = false;
            owned.reset(), ownedLatin1.reset();
            ownedAtoms.clear();
        }
        return true;
    case SelectionNotify:
        onSelectionNotify(event.xselection);
        return true;
    case PropertyNotify:
        if (event.xproperty.window == xWindow) onOwnPropertyNotify(event.xproperty);
        else onRequestorPropertyNotify(event.xproperty);
        return true;
    default:
        if (event.type == fixesEventBase + XFixesSelectionNotify) {
            const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
            if (notify.owner != xWindow) ++clipboardSerial;
            return true;
        }
        return false;
    }
}

void clipboardTimeouts()
{
    const int64_t now = xNowMs();
    if (reading == Reading::Answered) {
        finishRead();
    } else if (reading != Reading::Idle && now >= readDeadline) {
        finishRead();  // what was read so far goes; the owner stopped answering
    }
    for (size_t i = 0; i < outgoing.size();) {
        if (now < outgoing[i].deadline) { ++i; continue; }
        const Window requestor = outgoing[i].requestor;
        outgoing.erase(outgoing.begin() + static_cast<std::ptrdiff_t>(i));
        stopWatching(requestor);
    }
}

int32_t clipboardWaitMs()
{
    if (reading == Reading::Answered) return 0;
    int64_t next = INT64_MAX;
    if (reading != Reading::Idle) next = readDeadline;
    for (const Outgoing& t : outgoing) next = std::min(next, t.deadline);
    if (next == INT64_MAX) return -1;
    return static_cast<int32_t>(std::clamp<int64_t>(next - xNowMs() + 1, 0, INT32_MAX));
}

void xOwnClipboard(std::shared_ptr<ClipOffers> offers)
{
    if (!xDisplay || !offers) return;
    owned = std::move(offers);
    ownedLatin1.reset();
    ownedAtoms.clear();
    std::vector<std::string> mimes = owned->mimes();
    std::vector<char*> names;
    for (std::string& mime : mimes) names.push_back(&mime[0]);
    std::vector<Atom> atoms(names.size());
    if (!names.empty()) XInternAtoms(xDisplay, names.data(), static_cast<int>(names.size()), False, atoms.data());
    for (size_t i = 0; i < mimes.size(); ++i) ownedAtoms.push_back({atoms[i], mimes[i]});
    ownedSince = serverTime();
    XSetSelectionOwner(xDisplay, clipboardAtom, xWindow, ownedSince);
    ours = XGetSelectionOwner(xDisplay, clipboardAtom) == xWindow;
    ++clipboardSerial;
    if (!ours) {
        owned.reset();
        ownedAtoms.clear();
        fprintf(stderr, "skiprail: the clipboard could not be taken\n");
    }
}

void xOwnClipboard(const char* utf8, int32_t n)
{
    auto offers = std::make_shared<ClipOffers>();
    offers->add(MIME_TEXT, std::string(utf8 ? utf8 : "", utf8 && n > 0 ? static_cast<size_t>(n) : 0));
    xOwnClipboard(offers);
}

bool xClipboardStillOurs() { return ours; }

uint32_t xClipboardSerial() { return clipboardSerial; }

void xRequestClipboardOffers(const ClipWanted& wanted, std::function<void(ClipOffers&)> done)
{
    readDone = std::move(done);
    if (!xDisplay || reading != Reading::Idle) return;  // the request under way answers
    readWanted = wanted;
    readOffers = ClipOffers();
    // The owner as the server knows it now: a notice that another program
    // took the selection may not have been read yet.
    const Window owner = XGetSelectionOwner(xDisplay, clipboardAtom);
    if (owner == None || (owner == xWindow && ours && owned)) {
        // This PC's own offers, of each group the first it has, or nothing.
        if (owner != None)
            for (const auto& group : readWanted)
                for (const std::string& mime : group)
                    if (owned->has(mime)) {
                        if (const Text bytes = owned->get(mime)) readOffers.add(mime, bytes);
                        break;
                    }
        reading = Reading::Answered;
        return;
    }
    readingTargets = true;
    convert(targetsAtom);
}

void xRequestClipboard(void (*done)(const char* utf8, int32_t n))
{
    xRequestClipboardOffers({{MIME_TEXT}}, [done](ClipOffers& offers) {
        const ClipBytes text = offers.get(MIME_TEXT);
        if (text && !text->empty() && text->size() <= INT32_MAX) done(text->data(), static_cast<int32_t>(text->size()));
        else done(nullptr, 0);
    });
}
