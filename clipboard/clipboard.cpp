#include "clipboard/clipboard.h"

#include <cstdio>
#include <cstring>

#include "link/link_key.h"
#include "link/packets.h"

namespace {

// Outgoing text waits here while the socket drains, apart from the incoming
// buffer: a partner pushing while our own push is still going out must not
// find the two waiting for each other.
ClipboardOutbox outbox;
bool loading = false;      // loadClipboardText is running (its boxes run a message loop)
bool pushWaiting = false;  // a push came while a transfer was still going out

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

void sendDone(HWND window)
{
    outbox.length = outbox.sent = 0;
    if (pushWaiting) {
        pushWaiting = false;
        pushClipboard(window);
    }
}

}  // namespace

void resetClipboardBuffer()
{
    clipboardReset(app.clipboardBuffer);
    clipboardOutboxReset(outbox);
    pushWaiting = false;
    staleNotices = 0;
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
    while (outbox.sent < outbox.length) {
        const int n = linkSend(LINK_CLIPBOARD, app.clipboardSocket,
                               reinterpret_cast<const char*>(outbox.storage + outbox.sent), outbox.length - outbox.sent);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) return;  // the rest goes when the socket drains
            outbox.length = outbox.sent = 0;
            reportSocketError(error, "sendbuffer ()", window);
            break;
        }
        outbox.sent += n;
    }
    sendDone(window);
}

void pushClipboard(HWND window)
{
    if (loading || outbox.length > 0) {
        pushWaiting = true;
        return;
    }
    loading = true;
    loadClipboardText();
    loading = false;
    sendClipboardBuffer(window);
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
        for (ClipboardStep step = clipboardCommit(buffer, n); step == ClipboardStep::Complete;
             step = clipboardConsume(buffer))
            storeClipboardText();
    }
    if (reads > 1) staleNotices += reads - 1;
    receiving = false;
}

void storeClipboardText()
{
    const char* text = clipboardText(app.clipboardBuffer);
    const size_t n = static_cast<size_t>(clipboardTextLength(app.clipboardBuffer));
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, n + 1);
    void* to = block ? GlobalLock(block) : nullptr;
    if (!to) {
        // Nothing goes on the clipboard, and the user hears of it once.
        clipboardFailure("Analyse - GlobalAlloc Failed.");
        if (block) GlobalFree(block);
        return;
    }
    std::memcpy(to, text, n + 1);
    GlobalUnlock(block);

    if (!OpenClipboard(app.mainWindow)) {
        clipboardFailure("Analyse - OpenClipboard Failed.");
        GlobalFree(block);
        return;
    }
    if (!EmptyClipboard()) clipboardFailure("Analyse - EmptyClipboard Failed.");
    // Once the clipboard has taken the block, the block is the clipboard's.
    if (!SetClipboardData(CF_TEXT, block)) {
        clipboardFailure("Analyse - SetClipboardData Failed.");
        GlobalFree(block);
    }
    if (!CloseClipboard()) clipboardFailure("Analyse - CloseClipboard Failed.");
}

void showInteger(int value)
{
    char text[256] = {};
    _snprintf(text, sizeof text - 1, "Value of integer: %d", value);  // msvcrt's own, on every Windows
    MessageBoxA(nullptr, text, "ShowInt", MB_OK);
}
