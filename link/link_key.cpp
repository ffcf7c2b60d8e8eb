#include "link/link_key.h"

#include <cstring>

namespace {

// ---------------------------------------------------------------- the two connections

struct Channel {
    SOCKET socket = 0;
    bool keyed = false;       // this connection began with a handshake
    bool held = false;        // proven, and reading waits until the link is up
    SystemCipher cipher;
    LinkSession session;
    // What one receive brought and the session has not taken yet: a
    // megabyte, so a long clipboard transfer is read in few large receives
    // and the socket's window opens again soon (with a quarter of it the
    // 5 MB transfer took a fifth longer).
    uint8_t raw[1024 * 1024];
    int32_t rawBegin = 0, rawEnd = 0;
};

Channel channels[2];

const UINT DEADLINE_TIMERS[2] = {TIMER_HANDSHAKE_CONTROL, TIMER_HANDSHAKE_CLIPBOARD};

uint8_t linkKey[LINK_KEY_MAX];
int32_t linkKeyLength = 0;

// The notice is shown once per start, not at every try of a partner that
// keeps failing.
bool noticeGiven = false;

bool validChannel(int channel)
{
    return channel == LINK_CONTROL || channel == LINK_CLIPBOARD;
}

// Ends the connection as a close would; a handshake that failed tells the
// user, once, that the partner did not prove the key.
void refuse(int channel)
{
    Channel& ch = channels[channel];
    KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
    const LinkFailure why = ch.session.failure;
    const bool handshake = why == LinkFailure::Greeting || why == LinkFailure::Proof || why == LinkFailure::None;
    if (handshake && !noticeGiven) {
        noticeGiven = true;
        PostMessageA(app.mainWindow, WM_LINK_KEY_NOTICE, 0, 0);
    }
    PostMessageA(app.mainWindow, WM_LINK_REFUSED, ch.socket, channel);
}

// Writes what the session has waiting; false on a failure other than a full
// socket, with the error left for WSAGetLastError.
bool flush(Channel& ch)
{
    while (linkOutputLength(ch.session) > 0) {
        const int n = send(ch.socket, reinterpret_cast<const char*>(linkOutput(ch.session)),
                           linkOutputLength(ch.session), 0);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            WSASetLastError(error);
            return error == WSAEWOULDBLOCK;
        }
        linkOutputTaken(ch.session, n);
    }
    return true;
}

int wouldBlock()
{
    WSASetLastError(WSAEWOULDBLOCK);
    return SOCKET_ERROR;
}

}  // namespace

// ---------------------------------------------------------------- the record layers

void setLinkKey(const uint8_t* key, int32_t n)
{
    SecureZeroMemory(linkKey, sizeof linkKey);
    linkKeyLength = n < LINK_KEY_MAX ? n : LINK_KEY_MAX;
    if (linkKeyLength > 0) std::memcpy(linkKey, key, linkKeyLength);
}

bool haveLinkKey()
{
    return linkKeyLength > 0;
}

bool linkKeyed(int channel, SOCKET socket)
{
    return validChannel(channel) && channels[channel].keyed && channels[channel].socket == socket;
}

bool linkProtectedNow()
{
    const Channel& ch = channels[LINK_CONTROL];
    return ch.keyed && ch.socket != 0 && ch.socket == app.controlSocket && ch.session.state == LinkState::Proven;
}

bool linkBegin(int channel, SOCKET socket, LinkRole role)
{
    if (!validChannel(channel)) return true;
    Channel& ch = channels[channel];
    KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
    linkReset(ch.session);
    ch.socket = socket;
    ch.held = false;
    ch.rawBegin = ch.rawEnd = 0;
    ch.keyed = haveLinkKey();
    if (!ch.keyed) return true;
    // A PC with a key never falls back to the plain wire: without the
    // system's cipher the connection is refused.
    if (!systemCryptoAvailable() || !linkStart(ch.session, &ch.cipher, role, linkKey, linkKeyLength)) {
        ch.session.state = LinkState::Failed;
        ch.session.failure = LinkFailure::Cipher;
        refuse(channel);
        return false;
    }
    SetTimer(app.mainWindow, DEADLINE_TIMERS[channel], HANDSHAKE_DEADLINE_MS, nullptr);
    if (!flush(ch)) {
        ch.session.state = LinkState::Failed;
        ch.session.failure = LinkFailure::Cipher;
        refuse(channel);
    }
    return false;
}

void linkEnd(int channel, SOCKET socket)
{
    if (!validChannel(channel)) return;
    Channel& ch = channels[channel];
    if (ch.socket != socket) return;
    KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
    linkReset(ch.session);
    ch.socket = 0;
    ch.keyed = false;
    ch.held = false;
    ch.rawBegin = ch.rawEnd = 0;
}

void linkResume(int channel)
{
    if (validChannel(channel)) channels[channel].held = false;
}

int linkRecv(int channel, SOCKET socket, char* buffer, int room)
{
    Channel& ch = channels[channel];
    if (ch.socket != socket) {
        // With a key, nothing is read in the clear from a socket that began no session.
        if (haveLinkKey() || ch.keyed) return wouldBlock();
        return recv(socket, buffer, room, 0);
    }
    if (!ch.keyed) return recv(socket, buffer, room, 0);
    int copied = 0;
    bool received = false;
    while (copied < room && ch.session.state != LinkState::Failed) {
        const int32_t plain = linkPlainLength(ch.session);
        if (plain > 0) {
            const int32_t step = plain < room - copied ? plain : room - copied;
            std::memcpy(buffer + copied, linkPlain(ch.session), step);
            linkPlainTaken(ch.session, step);
            copied += step;
            continue;
        }
        if (ch.held) break;
        if (ch.rawBegin == ch.rawEnd) {
            if (received) break;
            // No more is read than the caller can take once opened, with a
            // record begun earlier completed by it: what stays unread stays
            // in the socket, which reports it again.
            const int free = room - copied;
            int want = free > RECORD_MAX_WIRE ? free - RECORD_MAX_WIRE : free;
            if (want > static_cast<int>(sizeof ch.raw)) want = sizeof ch.raw;
            const int n = recv(socket, reinterpret_cast<char*>(ch.raw), want, 0);
            if (n <= 0) {
                if (copied > 0) break;  // the close or the error is seen at the next read
                return n;
            }
            received = true;
            ch.rawBegin = 0;
            ch.rawEnd = n;
        }
        LinkEvent event = LinkEvent::None;
        int32_t landed = 0;
        ch.rawBegin += linkFeed(ch.session, ch.raw + ch.rawBegin, ch.rawEnd - ch.rawBegin, &event,
                                reinterpret_cast<uint8_t*>(buffer + copied), room - copied, &landed);
        copied += landed;
        if (event == LinkEvent::Failed || (ch.session.state != LinkState::Failed && !flush(ch))) {
            if (ch.session.state != LinkState::Failed) {
                ch.session.state = LinkState::Failed;
                ch.session.failure = LinkFailure::Cipher;
            }
            refuse(channel);
            break;
        }
        if (event == LinkEvent::Proven) {
            // The link comes up first; what followed the proof is read after.
            KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
            ch.held = true;
            PostMessageA(app.mainWindow, WM_LINK_PROVEN, socket, channel);
        }
    }
    // What was read and not yet handed on (a buffer nearly full) would wait
    // for a notification the socket no longer owes: one is posted, as the
    // socket would for bytes left in it.
    const bool left = linkPlainLength(ch.session) > 0 || ch.rawBegin < ch.rawEnd;
    if (left && !ch.held && ch.session.state != LinkState::Failed)
        PostMessageA(app.mainWindow, channel == LINK_CONTROL ? WM_CONTROL_SOCKET : WM_CLIPBOARD_SOCKET, socket,
                     WSAMAKESELECTREPLY(FD_READ, 0));
    if (copied == 0) return wouldBlock();
    return copied;
}

int linkSend(int channel, SOCKET socket, const char* data, int n)
{
    Channel& ch = channels[channel];
    const bool plain = ch.socket == socket ? !ch.keyed : !haveLinkKey() && !ch.keyed;
    if (plain) return send(socket, data, n, 0);
    if (ch.socket != socket || ch.session.state == LinkState::Failed) {
        WSASetLastError(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    if (ch.session.state != LinkState::Proven) return wouldBlock();
    const int32_t sealed = linkSeal(ch.session, reinterpret_cast<const uint8_t*>(data), n);
    if (sealed < 0) {
        refuse(channel);
        WSASetLastError(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    if (!flush(ch)) return SOCKET_ERROR;
    if (sealed == 0) return wouldBlock();
    return sealed;
}

int linkWaiting(int channel, SOCKET socket, u_long* waiting)
{
    const int result = ioctlsocket(socket, FIONREAD, waiting);
    const Channel& ch = channels[channel];
    if (result == 0 && ch.keyed && ch.socket == socket && ch.session.state != LinkState::Failed)
        *waiting += static_cast<u_long>(linkPlainLength(ch.session) + (ch.rawEnd - ch.rawBegin));
    return result;
}

void linkFlush(int channel, SOCKET socket)
{
    if (!validChannel(channel)) return;
    Channel& ch = channels[channel];
    if (!ch.keyed || ch.socket != socket || ch.session.state == LinkState::Failed) return;
    // A failed write ends the connection: its close follows.
    flush(ch);
}

void onHandshakeTimer(HWND window, UINT_PTR id)
{
    KillTimer(window, id);
    const int channel = id == TIMER_HANDSHAKE_CONTROL ? LINK_CONTROL : LINK_CLIPBOARD;
    Channel& ch = channels[channel];
    if (!ch.keyed || ch.session.state == LinkState::Proven || ch.session.state == LinkState::Failed) return;
    // The partner is as good as a stranger: it said nothing that proves the key.
    linkReset(ch.session);
    ch.session.state = LinkState::Failed;
    refuse(channel);
}

void showLinkKeyNotice(HWND window)
{
    (void)window;
    MessageBoxA(nullptr,
                "The partner did not prove the link key, so Skiprail does not link with it.\n\n"
                "Both PCs need the same key: open \"Link Key...\" from the tray menu on each "
                "and type the same key, or clear it on both.",
                "Skiprail", MB_OK | MB_ICONWARNING);
}
