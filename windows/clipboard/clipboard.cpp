#include "windows/clipboard/clipboard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "clipboard/file_list.h"
#include "windows/link/connections.h"
#include "windows/link/link.h"
#include "windows/link/sockets.h"

namespace {

constexpr int32_t WE_TAKE = CLIP_CAN_TEXT | CLIP_CAN_PICTURE | CLIP_CAN_UNCHANGED | CLIP_CAN_FILES;

// Chunks sent in one go before the thread turns to other messages: 4 MB.
constexpr int32_t SEND_CHUNKS_AT_ONCE = 16;
// What may wait for the socket before the next chunk is read: a megabyte,
// so a long transfer goes in few large writes without piling up in memory.
constexpr size_t SEND_AHEAD = 1024 * 1024;

// A transfer from one Slave that the Slave in the next cell, which has
// control now, gets as its entry push once it is on this PC's clipboard.
Link* relayFrom = nullptr;
Link* relayTo = nullptr;

void errorBox(const char* text)
{
    MessageBoxA(nullptr, text, "Error", MB_OK);
}

// A failed clipboard call: its message, then the system's error code.
void clipboardFailure(const char* text)
{
    const DWORD error = GetLastError();
    errorBox(text);
    showInteger(static_cast<int>(error));
}

void freeOutgoing(Link& link)
{
    OutgoingTransfer& outgoing = link.outgoing;
    for (int32_t i = 0; i < outgoing.count; ++i) std::free(outgoing.parts[i].data);
    freeFiles(outgoing.files);
    outgoing = OutgoingTransfer();
}

void sendDone(HWND window, Link& link)
{
    link.outbox.length = link.outbox.sent = 0;
    if (link.pushWaiting) {
        link.pushWaiting = false;
        pushClipboard(window, link);
    }
}

// Puts the transfer's next chunk in the outbox; false when its END has gone.
// The parts go first, then the files, read a chunk at a time. A transfer
// that a newer push is waiting for is given up here, at the end of a chunk,
// so the stream stays in step: an END that counts no parts tells the
// partner to drop what it holds of it. So does a file that changed while
// it was going out.
bool nextChunk(Link& link)
{
    OutgoingTransfer& outgoing = link.outgoing;
    ClipboardOutbox& outbox = link.outbox;
    if (!outgoing.active) return false;
    const bool partsSent = outgoing.part == outgoing.count;
    const int32_t fileChunk =
        partsSent && !link.pushWaiting ? nextFileChunk(outgoing.files, outgoing.number, outbox.storage) : 0;
    if (fileChunk > 0) {
        outbox.length = fileChunk;
        outbox.sent = 0;
        return true;
    }
    if (partsSent || link.pushWaiting) {
        const bool allSent = partsSent && !link.pushWaiting && fileChunk == 0;
        const uint32_t parts = allSent ? static_cast<uint32_t>(outgoing.count + outgoing.files.count) : 0;
        outbox.length = frameClipboardChunk(outbox.storage, outgoing.number, CLIP_FORMAT_END, parts, 0, nullptr, 0);
        outbox.sent = 0;
        outgoing.active = false;
        return true;
    }
    const OutgoingTransfer::Part& part = outgoing.parts[outgoing.part];
    const uint32_t left = part.size - outgoing.offset;
    const int32_t n = left < static_cast<uint32_t>(CLIPBOARD_CHUNK_DATA) ? static_cast<int32_t>(left) : CLIPBOARD_CHUNK_DATA;
    outbox.length = frameClipboardChunk(outbox.storage, outgoing.number, part.format, part.size, outgoing.offset,
                                        part.data + outgoing.offset, n);
    outbox.sent = 0;
    outgoing.offset += static_cast<uint32_t>(n);
    if (outgoing.offset == part.size) {
        ++outgoing.part;
        outgoing.offset = 0;
    }
    return true;
}

bool addPart(OutgoingTransfer& outgoing, uint32_t format, const void* data, uint32_t size)
{
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (!copy) return false;
    if (size) std::memcpy(copy, data, size);
    outgoing.parts[outgoing.count++] = {format, copy, size};
    return true;
}

// The first of the formats in the clipboard's order: the one the program
// that copied placed; those after it are the system's conversions of it.
UINT placedFormat(std::initializer_list<UINT> formats)
{
    for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f))
        for (UINT wanted : formats)
            if (f == wanted) return f;
    return 0;
}

bool isAscii(const uint8_t* text, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (text[i] & 0x80) return false;
    return true;
}

// Text placed as CF_TEXT that is all ASCII reads the same in every code page
// and in UTF-8: it goes as it is, spared two conversions of the whole.
bool loadAsciiText(OutgoingTransfer& outgoing)
{
    if (placedFormat({CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT}) != CF_TEXT) return false;
    HANDLE data = GetClipboardData(CF_TEXT);
    const uint8_t* text = data ? static_cast<const uint8_t*>(GlobalLock(data)) : nullptr;
    if (!text) return false;
    const SIZE_T size = GlobalSize(data);
    const size_t n = size ? strnlen(reinterpret_cast<const char*>(text), size) : std::strlen(reinterpret_cast<const char*>(text));
    const bool ascii = isAscii(text, n);
    if (ascii && n <= CLIPBOARD_MAX_PART) addPart(outgoing, CLIP_FORMAT_TEXT, text, static_cast<uint32_t>(n));
    GlobalUnlock(data);
    return ascii;
}

// The clipboard's text as UTF-8, from its Unicode form (which the system
// makes from CF_TEXT when a program placed only that).
void loadText(OutgoingTransfer& outgoing)
{
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) && !IsClipboardFormatAvailable(CF_TEXT)) return;
    if (loadAsciiText(outgoing)) return;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) {
        clipboardFailure("GetClipboard - GetClipboardData failed.");
        return;
    }
    const wchar_t* text = static_cast<const wchar_t*>(GlobalLock(data));
    if (!text) return;
    const size_t room = GlobalSize(data) / sizeof(wchar_t);
    const int n = static_cast<int>(room ? wcsnlen(text, room) : std::wcslen(text));
    const int bytes = n ? WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr) : 0;
    // Longer text than a part may be is not sent: the partner keeps its own
    // rather than get a cut-off copy that looks whole.
    if ((bytes > 0 || n == 0) && static_cast<uint32_t>(bytes) <= CLIPBOARD_MAX_PART) {
        uint8_t* utf8 = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
        if (utf8 && (n == 0 || WideCharToMultiByte(CP_UTF8, 0, text, n, reinterpret_cast<char*>(utf8), bytes,
                                                   nullptr, nullptr) == bytes))
            outgoing.parts[outgoing.count++] = {CLIP_FORMAT_TEXT, utf8, static_cast<uint32_t>(bytes)};
        else
            std::free(utf8);
    }
    GlobalUnlock(data);
}

// The clipboard's picture in the form the program that copied it gave.
void loadPicture(OutgoingTransfer& outgoing)
{
    UINT format = placedFormat({CF_DIB, CF_DIBV5, CF_BITMAP});
    if (!format) return;
    if (format == CF_BITMAP) format = CF_DIB;
    HANDLE data = GetClipboardData(format);
    const uint8_t* dib = data ? static_cast<const uint8_t*>(GlobalLock(data)) : nullptr;
    if (!dib) return;
    // A picture larger than a part may be, or one whose header does not add
    // up, is left out without a word: the text goes, and with no text the
    // partner keeps its own clipboard.
    const uint32_t size = packedDibSize(dib, GlobalSize(data));
    if (size) addPart(outgoing, format == CF_DIBV5 ? CLIP_FORMAT_DIBV5 : CLIP_FORMAT_DIB, dib, size);
    GlobalUnlock(data);
}

// Copies what the partner takes off the clipboard into a new transfer.
void loadRichClipboard(Link& link)
{
    freeOutgoing(link);
    if (!OpenClipboard(app.mainWindow)) {
        MessageBoxA(app.mainWindow, "Open Clipboard Failed.", "Error", MB_OK);
        return;
    }
    if (link.partnerTakes & CLIP_CAN_TEXT) loadText(link.outgoing);
    if (link.partnerTakes & CLIP_CAN_PICTURE) loadPicture(link.outgoing);
    if ((link.partnerTakes & CLIP_CAN_FILES) && fileLimit()) loadFiles(link.outgoing.files, fileLimit());
    if (!CloseClipboard()) clipboardFailure("GetClipboard - CloseClipboard Failed.");
    if (link.outgoing.count == 0 && link.outgoing.files.count == 0) return;  // nothing to send: the partner keeps its own
    link.outgoing.number = ++link.lastTransfer;
    link.outgoing.active = true;
}

// A movable block of n bytes, locked at *to; null when there is none.
HGLOBAL lockedBlock(size_t n, void** to)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, n ? n : 1);
    *to = block ? GlobalLock(block) : nullptr;
    if (!*to && block) {
        GlobalFree(block);
        block = nullptr;
    }
    return block;
}

// n bytes of data, and `zeros` zero bytes after them.
HGLOBAL globalCopy(const void* data, size_t n, size_t zeros = 0)
{
    void* to = nullptr;
    HGLOBAL block = lockedBlock(n + zeros, &to);
    if (!block) return nullptr;
    if (n) std::memcpy(to, data, n);
    if (zeros) std::memset(static_cast<char*>(to) + n, 0, zeros);
    GlobalUnlock(block);
    return block;
}

HGLOBAL unicodeBlock(const ClipboardPart& part)
{
    const char* utf8 = reinterpret_cast<const char*>(part.data);
    const int n = static_cast<int>(part.total);
    const int wide = n ? MultiByteToWideChar(CP_UTF8, 0, utf8, n, nullptr, 0) : 0;
    if (wide <= 0 && n > 0) return nullptr;  // not text that converts: not put on the clipboard as empty
    void* at = nullptr;
    HGLOBAL block = lockedBlock((static_cast<size_t>(wide) + 1) * sizeof(wchar_t), &at);
    if (!block) return nullptr;
    wchar_t* to = static_cast<wchar_t*>(at);
    if (wide) MultiByteToWideChar(CP_UTF8, 0, utf8, n, to, wide);
    to[wide] = 0;
    GlobalUnlock(block);
    return block;
}

// What came from the Slave just left goes on to the one in control now: once
// it is on this PC's clipboard, or at once when it said that its clipboard
// holds what it had from here.
void passOn(const Link* from)
{
    if (!from || from != relayFrom || !relayTo || controlLink() != relayTo) return;
    Link* to = relayTo;
    relayFrom = relayTo = nullptr;
    pushClipboard(app.mainWindow, *to);
}

// A received transfer waiting to go on the clipboard while another program
// holds it open: tried again every STORE_RETRY_MS, STORE_TRIES times in all.
struct Pending {
    HANDLE blocks[CLIPBOARD_MAX_PARTS + 2];  // the parts, and files with their drop effect
    UINT formats[CLIPBOARD_MAX_PARTS + 2];
    int count;
    int triesLeft;
    Link* source;  // the link it came on
};
Pending pending = {};
constexpr UINT STORE_RETRY_MS = 25;
constexpr int STORE_TRIES = 80;  // two seconds

void dropPending()
{
    for (int i = 0; i < pending.count; ++i) GlobalFree(pending.blocks[i]);
    pending.count = 0;
    if (app.mainWindow) KillTimer(app.mainWindow, TIMER_CLIPBOARD_STORE);
}

void placePending()
{
    if (pending.count == 0) return;
    if (!OpenClipboard(app.mainWindow)) {
        // Programs open the clipboard for a moment to read it: the transfer
        // waits for it, without holding up this thread, and is reported
        // lost only when the clipboard stays closed to it.
        if (--pending.triesLeft > 0) {
            SetTimer(app.mainWindow, TIMER_CLIPBOARD_STORE, STORE_RETRY_MS, nullptr);
            return;
        }
        clipboardFailure("Analyse - OpenClipboard Failed.");
        dropPending();
        return;
    }
    KillTimer(app.mainWindow, TIMER_CLIPBOARD_STORE);
    if (!EmptyClipboard()) clipboardFailure("Analyse - EmptyClipboard Failed.");
    const int count = pending.count;
    pending.count = 0;
    for (int i = 0; i < count; ++i) {
        // Once the clipboard has taken a block, the block is the clipboard's.
        if (!SetClipboardData(pending.formats[i], pending.blocks[i])) {
            clipboardFailure("Analyse - SetClipboardData Failed.");
            GlobalFree(pending.blocks[i]);
        }
    }
    if (!CloseClipboard()) clipboardFailure("Analyse - CloseClipboard Failed.");
    if (pending.source) pending.source->placedSequence = GetClipboardSequenceNumber();
    passOn(pending.source);
}

// Puts a whole incoming transfer on the clipboard, every part at once.
void storeParts(Link& link)
{
    const ClipboardAssembly& incoming = link.incoming;
    dropPending();  // a transfer still waiting is replaced by the newer one
    pending.source = &link;
    for (int32_t i = 0; i < incoming.count; ++i) {
        const ClipboardPart& part = incoming.parts[i];
        if (!clipboardPartWhole(part)) continue;
        HGLOBAL block = nullptr;
        UINT format = 0;
        if (part.format == CLIP_FORMAT_TEXT) {
            // ASCII is the same text as CF_TEXT in any code page; programs
            // that read Unicode get it converted by the system.
            const bool ascii = isAscii(part.data, part.total);
            block = ascii ? globalCopy(part.data, part.total, 1) : unicodeBlock(part);
            format = ascii ? CF_TEXT : CF_UNICODETEXT;
        } else if (packedDibSize(part.data, part.total)) {
            // Only a picture whose header adds up goes where programs read it.
            block = globalCopy(part.data, part.total);
            format = part.format == CLIP_FORMAT_DIBV5 ? CF_DIBV5 : CF_DIB;
        } else {
            continue;
        }
        if (!block) {
            clipboardFailure("Analyse - GlobalAlloc Failed.");
            continue;
        }
        pending.blocks[pending.count] = block;
        pending.formats[pending.count++] = format;
    }
    if (link.incomingFiles.state == FileListState::Whole) {
        // Explorer pastes from the folder they were written to, copying or
        // moving them as the sender's clipboard said.
        HGLOBAL drop = nullptr, effect = nullptr;
        link.disk.place(link.incomingFiles.effect, &drop, &effect);
        if (drop) {
            pending.blocks[pending.count] = drop;
            pending.formats[pending.count++] = CF_HDROP;
            pending.blocks[pending.count] = effect;
            pending.formats[pending.count++] = dropEffectFormat();
        } else {
            clipboardFailure("Analyse - GlobalAlloc Failed.");
        }
    }
    pending.triesLeft = STORE_TRIES;
    placePending();
}

}  // namespace

void resetClipboardBuffer(Link& link)
{
    // What the partner holds is not known across a new connection.
    link.sentSequence = link.placedSequence = 0;
    clipboardReset(link.clipboardBuffer);
    clipboardOutboxReset(link.outbox);
    freeOutgoing(link);
    assemblyClear(link.incoming);
    dropFiles(link.incomingFiles, link.disk);  // a list cut off is never placed: its folder goes
    link.pushWaiting = false;
    queueClear(link.heldBack);
    link.staleNotices = 0;
}

void onClipboardTimer()
{
    placePending();
}

int32_t clipboardAnnouncement(Link& link)
{
    link.partnerTakes = 0;  // a new partner, until it says otherwise
    link.sentSequence = link.placedSequence = 0;
    // A limit of 0 turns files off: none are asked for, and none are sent.
    return fileLimit() ? WE_TAKE : WE_TAKE & ~CLIP_CAN_FILES;
}

void notePartnerClipboard(Link& link, int32_t version, int32_t takes)
{
    link.partnerTakes = version >= CLIPBOARD_EXTENSION_VERSION ? takes & WE_TAKE : 0;
}

void relayClipboard(Link& from, Link& to)
{
    relayFrom = &from;
    relayTo = &to;
}

void loadClipboardText(Link& link)
{
    ClipboardOutbox& outbox = link.outbox;
    if (!clipboardOutboxReset(outbox)) return;
    if (!OpenClipboard(app.mainWindow)) {
        MessageBoxA(app.mainWindow, "Open Clipboard Failed.", "Error", MB_OK);
        return;
    }
    // Text is there whenever CF_TEXT is, wherever it stands among the formats.
    if (IsClipboardFormatAvailable(CF_TEXT)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        if (!data) {
            clipboardFailure("GetClipboard - GetClipboardData failed.");
        } else if (const char* text = static_cast<const char*>(GlobalLock(data))) {
            // Up to the first NUL, and never past the end of the block.
            const SIZE_T size = GlobalSize(data);
            const size_t n = size ? strnlen(text, size) : std::strlen(text);
            // Longer text than the transfer can carry is not sent: the partner
            // keeps its own rather than get a cut-off copy that looks whole.
            outbox.length = frameClipboardText(text, n, outbox.storage);
            GlobalUnlock(data);
        }
    }
    if (!CloseClipboard()) clipboardFailure("GetClipboard - CloseClipboard Failed.");
}

void sendClipboardBuffer(HWND window, Link& link)
{
    if (link.outbox.length == 0) {
        // Nothing loaded: nothing goes over the wire, but whether there is
        // a clipboard connection at all is still said.
        if (!linkOpen(link, LINK_CLIPBOARD)) reportSocketError(WSAENOTSOCK, "sendbuffer ()", window);
        sendDone(window, link);
        return;
    }
    continueClipboardSend(window, link);
}

void continueClipboardSend(HWND window, Link& link)
{
    if (link.loading) return;  // a box of the push under way runs a message loop: the push sends
    ClipboardOutbox& outbox = link.outbox;
    // With a link key, what goes waits for the partner's proof: the proof says when.
    if ((outbox.sent < outbox.length || link.outgoing.active) && linkOpen(link, LINK_CLIPBOARD) &&
        !linkUpNow(link, LINK_CLIPBOARD))
        return;
    int32_t chunks = 0;
    while (outbox.sent < outbox.length || nextChunk(link)) {
        if (outbox.sent == 0 && ++chunks > SEND_CHUNKS_AT_ONCE) {
            // A socket that keeps taking would keep this thread from keys and
            // moves: the rest goes after whatever waits, as if it had drained.
            PostMessageA(window, WM_CLIPBOARD_SOCKET, link.clipboardSocket, WSAMAKESELECTREPLY(FD_WRITE, 0));
            return;
        }
        if (linkPending(link, LINK_CLIPBOARD) >= SEND_AHEAD) {
            // The rest goes when the socket drains; a connection that broke
            // meanwhile has ended, and heals as any blip does.
            if (!linkFlushNow(link, LINK_CLIPBOARD) || linkPending(link, LINK_CLIPBOARD) > 0) return;
        }
        if (!linkQueue(link, LINK_CLIPBOARD, outbox.storage + outbox.sent,
                       static_cast<size_t>(outbox.length - outbox.sent))) {
            // No connection to send on: one that was cut in the middle of a
            // transfer heals with no box in the user's way; the partner drops
            // what it half holds. Without one at all, the push says so.
            const bool cut = outbox.sent > 0 || link.outgoing.underWay;
            outbox.length = outbox.sent = 0;
            freeOutgoing(link);
            if (!cut) reportSocketError(WSAENOTSOCK, "sendbuffer ()", window);
            break;
        }
        if (outbox.length > outbox.sent) link.outgoing.underWay = true;
        outbox.sent = outbox.length;
    }
    linkFlushNow(link, LINK_CLIPBOARD);
    freeOutgoing(link);
    sendDone(window, link);
}

void pushClipboard(HWND window, Link& link)
{
    if (link.loading || link.outbox.length > 0 || link.outgoing.active) {
        // A richer transfer gives way at the end of its chunk; plain text
        // has no place to stop, and goes out whole first.
        link.pushWaiting = true;
        return;
    }
    // A push of this PC's own clipboard replaces one still to be passed on.
    if (relayTo == &link) relayFrom = relayTo = nullptr;
    link.loading = true;
    const DWORD sequence = GetClipboardSequenceNumber();
    if ((link.partnerTakes & CLIP_CAN_UNCHANGED) && sequence != 0 &&
        (sequence == link.sentSequence || sequence == link.placedSequence)) {
        // Nothing new since: a few bytes say so, and the partner keeps its own.
        if (clipboardOutboxReset(link.outbox))
            link.outbox.length = frameClipboardChunk(link.outbox.storage, ++link.lastTransfer, CLIP_FORMAT_UNCHANGED,
                                                     0, 0, nullptr, 0);
    } else if (link.partnerTakes) {
        if (clipboardOutboxReset(link.outbox)) loadRichClipboard(link);
        link.sentSequence = sequence;
    } else {
        loadClipboardText(link);
    }
    link.loading = false;
    if (link.outgoing.active) continueClipboardSend(window, link);
    else sendClipboardBuffer(window, link);
}

void receiveClipboardBytes(Link& link, const uint8_t* data, size_t n)
{
    // What arrives while a box of the last transfer runs its message loop
    // waits its turn, in order.
    if (link.receiving) {
        queueAppend(link.heldBack, data, n);
        return;
    }
    ClipboardBuffer& buffer = link.clipboardBuffer;
    if (!buffer.allocated) clipboardReset(buffer);
    link.receiving = true;
    ByteQueue more;
    for (;;) {
        while (n > 0) {
            if (!buffer.storage) {
                n = 0;  // no storage to hold it: the text is lost, the stream read on
                break;
            }
            const size_t room = static_cast<size_t>(clipboardRoom(buffer));
            if (room == 0) {
                clipboardReset(buffer);  // never reached: a transfer too long is passed over as it comes
                continue;
            }
            const size_t step = n < room ? n : room;
            std::memcpy(clipboardSpace(buffer), data, step);
            data += step;
            n -= step;
            for (ClipboardStep at = clipboardCommit(buffer, static_cast<int32_t>(step)); at != ClipboardStep::NeedMore;
                 at = clipboardConsume(buffer)) {
                if (at == ClipboardStep::Complete) {
                    storeClipboardText(link);
                    continue;
                }
                link.incomingFiles.limit = fileLimit();
                const TransferStep whole =
                    takeChunk(link.incoming, link.incomingFiles, link.disk, clipboardChunk(buffer));
                if (whole == TransferStep::Unchanged) {
                    passOn(&link);  // the partner keeps what it has, and so does this PC
                } else if (whole == TransferStep::Whole) {
                    storeParts(link);
                    assemblyClear(link.incoming);  // its storage goes as soon as it is stored
                    filesPlaced(link.incomingFiles);
                }
            }
        }
        if (queueSize(link.heldBack) == 0) break;
        queueFree(more);
        more = link.heldBack;  // its block goes with it
        link.heldBack = ByteQueue();
        data = queueFront(more);
        n = queueSize(more);
    }
    queueFree(more);
    link.receiving = false;
}

void storeClipboardText(Link& link)
{
    const char* text = clipboardText(link.clipboardBuffer);
    const size_t n = static_cast<size_t>(clipboardTextLength(link.clipboardBuffer));
    HGLOBAL block = globalCopy(text, n + 1);  // the text and its NUL
    if (!block) {
        // Nothing goes on the clipboard, and the user hears of it once.
        clipboardFailure("Analyse - GlobalAlloc Failed.");
        return;
    }

    // As a transfer in chunks: it waits for a program that has the clipboard open.
    dropPending();
    pending.blocks[0] = block;
    pending.formats[0] = CF_TEXT;
    pending.count = 1;
    pending.triesLeft = STORE_TRIES;
    pending.source = &link;
    placePending();
}

void showInteger(int value)
{
    char text[256] = {};
    _snprintf(text, sizeof text - 1, "Value of integer: %d", value);  // msvcrt's own, on every Windows
    MessageBoxA(nullptr, text, "ShowInt", MB_OK);
}
