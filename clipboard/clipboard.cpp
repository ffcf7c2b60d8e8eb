#include "clipboard/clipboard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "link/link_key.h"
#include "link/packets.h"

namespace {

// Outgoing text waits here while the socket drains, apart from the incoming
// buffer: a partner pushing while our own push is still going out must not
// find the two waiting for each other.
ClipboardOutbox outbox;
bool loading = false;      // loadClipboardText is running (its boxes run a message loop)
bool pushWaiting = false;  // a push came while a transfer was still going out

// What the partner announced it takes in chunks; 0: plain text only.
int32_t partnerTakes = 0;
constexpr int32_t WE_TAKE = CLIP_CAN_TEXT | CLIP_CAN_PICTURE;

// A richer transfer going out: its parts, copied off the clipboard, live
// until its END has gone (or it is given up), and go out a chunk at a time
// through the outbox.
struct Outgoing {
    struct Part {
        uint32_t format;
        uint8_t* data;
        uint32_t size;
    } parts[CLIPBOARD_MAX_PARTS];
    int32_t count = 0;
    int32_t part = 0;      // the part whose next chunk goes next
    uint32_t offset = 0;   // where in it
    uint32_t number = 0;   // the transfer number
    bool active = false;   // chunks of it remain, END included
};
Outgoing outgoing;
uint32_t lastTransfer = 0;

// The transfer being received in chunks.
ClipboardAssembly incoming;

// receiveClipboardData is running: a notification that its boxes let in
// finds its bytes read by the loop already under way.
bool receiving = false;
// Read notifications already answered: each read that left bytes behind, or
// found more arrived, had the socket layer post one more notification, which
// then finds nothing waiting. Those are no one's failure.
long staleNotices = 0;

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

void freeOutgoing()
{
    for (int32_t i = 0; i < outgoing.count; ++i) std::free(outgoing.parts[i].data);
    outgoing = Outgoing();
}

void sendDone(HWND window)
{
    outbox.length = outbox.sent = 0;
    if (pushWaiting) {
        pushWaiting = false;
        pushClipboard(window);
    }
}

// Puts the transfer's next chunk in the outbox; false when its END has gone.
// A transfer that a newer push is waiting for is given up here, at the end
// of a chunk, so the stream stays in step: an END that counts no parts
// tells the partner to drop what it holds of it.
bool nextChunk()
{
    if (!outgoing.active) return false;
    const bool allSent = outgoing.part == outgoing.count;
    if (allSent || pushWaiting) {
        const uint32_t parts = allSent ? static_cast<uint32_t>(outgoing.count) : 0;
        outbox.length = frameClipboardChunk(outbox.storage, outgoing.number, CLIP_FORMAT_END, parts, 0, nullptr, 0);
        outbox.sent = 0;
        outgoing.active = false;
        return true;
    }
    const Outgoing::Part& part = outgoing.parts[outgoing.part];
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

bool addPart(uint32_t format, const void* data, uint32_t size)
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
bool loadAsciiText()
{
    if (placedFormat({CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT}) != CF_TEXT) return false;
    HANDLE data = GetClipboardData(CF_TEXT);
    const uint8_t* text = data ? static_cast<const uint8_t*>(GlobalLock(data)) : nullptr;
    if (!text) return false;
    const SIZE_T size = GlobalSize(data);
    const size_t n = size ? strnlen(reinterpret_cast<const char*>(text), size) : std::strlen(reinterpret_cast<const char*>(text));
    const bool ascii = isAscii(text, n);
    if (ascii && n <= CLIPBOARD_MAX_PART) addPart(CLIP_FORMAT_TEXT, text, static_cast<uint32_t>(n));
    GlobalUnlock(data);
    return ascii;
}

// The clipboard's text as UTF-8, from its Unicode form (which the system
// makes from CF_TEXT when a program placed only that).
void loadText()
{
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) && !IsClipboardFormatAvailable(CF_TEXT)) return;
    if (loadAsciiText()) return;
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
void loadPicture()
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
    if (size) addPart(format == CF_DIBV5 ? CLIP_FORMAT_DIBV5 : CLIP_FORMAT_DIB, dib, size);
    GlobalUnlock(data);
}

// Copies what the partner takes off the clipboard into a new transfer.
void loadRichClipboard()
{
    freeOutgoing();
    if (!OpenClipboard(app.mainWindow)) {
        MessageBoxA(app.mainWindow, "Open Clipboard Failed.", "Error", MB_OK);
        return;
    }
    if (partnerTakes & CLIP_CAN_TEXT) loadText();
    if (partnerTakes & CLIP_CAN_PICTURE) loadPicture();
    if (!CloseClipboard()) clipboardFailure("GetClipboard - CloseClipboard Failed.");
    if (outgoing.count == 0) return;  // nothing to send: the partner keeps its own
    outgoing.number = ++lastTransfer;
    outgoing.active = true;
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

// A received transfer waiting to go on the clipboard while another program
// holds it open: tried again every STORE_RETRY_MS, STORE_TRIES times in all.
struct Pending {
    HANDLE blocks[CLIPBOARD_MAX_PARTS];
    UINT formats[CLIPBOARD_MAX_PARTS];
    int count;
    int triesLeft;
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
}

// Puts a whole incoming transfer on the clipboard, every part at once.
void storeParts()
{
    dropPending();  // a transfer still waiting is replaced by the newer one
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
    pending.triesLeft = STORE_TRIES;
    placePending();
}

}  // namespace

void resetClipboardBuffer()
{
    clipboardReset(app.clipboardBuffer);
    clipboardOutboxReset(outbox);
    freeOutgoing();
    assemblyClear(incoming);
    pushWaiting = false;
    staleNotices = 0;
}

void onClipboardTimer()
{
    placePending();
}

void announceClipboard(HWND window)
{
    partnerTakes = 0;  // a new partner, until it says otherwise
    sendQuietPacket(window, app.controlSocket, PKT_CLIPBOARD_CAPS, CLIPBOARD_EXTENSION_VERSION, WE_TAKE);
}

void notePartnerClipboard(int32_t version, int32_t takes)
{
    partnerTakes = version >= CLIPBOARD_EXTENSION_VERSION ? takes & WE_TAKE : 0;
}

void loadClipboardText()
{
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

void sendClipboardBuffer(HWND window)
{
    if (outbox.length == 0) {
        // Nothing loaded: nothing goes over the wire, but a send of no bytes
        // still tells whether there is a clipboard connection at all.
        if (send(app.clipboardSocket, "", 0, 0) == SOCKET_ERROR)
            reportSocketError(WSAGetLastError(), "sendbuffer ()", window);
        sendDone(window);
        return;
    }
    continueClipboardSend(window);
}

void continueClipboardSend(HWND window)
{
    while (outbox.sent < outbox.length || nextChunk()) {
        const int n = linkSend(LINK_CLIPBOARD, app.clipboardSocket,
                               reinterpret_cast<const char*>(outbox.storage + outbox.sent), outbox.length - outbox.sent);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) return;  // the rest goes when the socket drains
            outbox.length = outbox.sent = 0;
            freeOutgoing();
            reportSocketError(error, "sendbuffer ()", window);
            break;
        }
        outbox.sent += n;
    }
    freeOutgoing();
    sendDone(window);
}

void pushClipboard(HWND window)
{
    if (loading || outbox.length > 0 || outgoing.active) {
        // A richer transfer gives way at the end of its chunk; plain text
        // has no place to stop, and goes out whole first.
        pushWaiting = true;
        return;
    }
    loading = true;
    if (partnerTakes) {
        if (clipboardOutboxReset(outbox)) loadRichClipboard();
    } else {
        loadClipboardText();
    }
    loading = false;
    if (outgoing.active) continueClipboardSend(window);
    else sendClipboardBuffer(window);
}

void receiveClipboardData()
{
    if (receiving) return;
    u_long waiting = 0;
    if (linkWaiting(LINK_CLIPBOARD, app.clipboardSocket, &waiting) != 0) {
        errorBox("ioctlsocket failed.");
        return;
    }
    if (waiting == 0) {
        // A protected link reads ahead of its notifications: one that finds
        // nothing left there is no one's failure.
        if (staleNotices > 0) --staleNotices;
        else if (!linkKeyed(LINK_CLIPBOARD, app.clipboardSocket)) MessageBoxA(nullptr, "Receive Complete.", "Info", MB_OK);
        return;
    }
    ClipboardBuffer& buffer = app.clipboardBuffer;
    if (!buffer.allocated) clipboardReset(buffer);
    receiving = true;
    // Reads what is waiting, in a bounded number of calls, so a partner that
    // never stops sending cannot hold up everything else here.
    int reads = 0;
    for (int round = 0; round < 64; ++round) {
        static char scratch[65536];
        const bool haveStorage = buffer.storage != nullptr;
        char* space = haveStorage ? reinterpret_cast<char*>(clipboardSpace(buffer)) : scratch;
        const int room = haveStorage ? clipboardRoom(buffer) : static_cast<int>(sizeof scratch);
        const int n = linkRecv(LINK_CLIPBOARD, app.clipboardSocket, space, room);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) reportSocketError(error, "Receive Data Buffer ()", app.mainWindow);
            break;
        }
        if (n == 0) break;  // the partner closed; FD_CLOSE follows
        ++reads;
        if (!haveStorage) continue;  // no storage to hold it: the text is lost, the stream read on
        for (ClipboardStep step = clipboardCommit(buffer, n); step != ClipboardStep::NeedMore;
             step = clipboardConsume(buffer)) {
            if (step == ClipboardStep::Complete) {
                storeClipboardText();
            } else if (assembleChunk(incoming, clipboardChunk(buffer))) {
                storeParts();
                assemblyClear(incoming);  // its storage goes as soon as it is stored
            }
        }
    }
    if (reads > 1) staleNotices += reads - 1;
    receiving = false;
}

void storeClipboardText()
{
    const char* text = clipboardText(app.clipboardBuffer);
    const size_t n = static_cast<size_t>(clipboardTextLength(app.clipboardBuffer));
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
    placePending();
}

void showInteger(int value)
{
    char text[256] = {};
    _snprintf(text, sizeof text - 1, "Value of integer: %d", value);  // msvcrt's own, on every Windows
    MessageBoxA(nullptr, text, "ShowInt", MB_OK);
}
