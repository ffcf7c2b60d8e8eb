#include "windows/link/link_key.h"

#include <cstring>

#include "windows/link/link.h"

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

// For each link, the live connection of each kind, and a newcomer from the
// partner's address that must prove the key before it may take the live
// one's place. A newcomer that proves it changes places with the live one, so
// neither session (nor the cipher it points at) is ever copied.
// All of it is set at load time, as zeros and addresses, so that the large
// buffers of links that are never used are never touched.
Channel slots[MAX_SLAVES][4];
struct LinkChannels {
    Channel* live[2];
    Channel* newcomers[2];
};
LinkChannels perLink[MAX_SLAVES] = {
    {{&slots[0][0], &slots[0][1]}, {&slots[0][2], &slots[0][3]}},
    {{&slots[1][0], &slots[1][1]}, {&slots[1][2], &slots[1][3]}},
    {{&slots[2][0], &slots[2][1]}, {&slots[2][2], &slots[2][3]}},
    {{&slots[3][0], &slots[3][1]}, {&slots[3][2], &slots[3][3]}},
};
static_assert(MAX_SLAVES == 4, "one row of perLink per link");

LinkChannels& of(const Link& link)
{
    return perLink[link.index >= 0 && link.index < MAX_SLAVES ? link.index : 0];
}

const UINT DEADLINE_TIMERS[2] = {TIMER_HANDSHAKE_CONTROL, TIMER_HANDSHAKE_CLIPBOARD};
const UINT NEWCOMER_TIMERS[2] = {TIMER_NEWCOMER_CONTROL, TIMER_NEWCOMER_CLIPBOARD};

// The link key as the handshake uses it: the typed key, stretched once when
// it is set. `keySet` without `keyStretched` (no system cipher) links with no
// one, and never in the clear.
uint8_t linkKey[LINK_KEY_STRETCHED];
bool keySet = false;
bool keyStretched = false;

// The notice is shown once per start, not at every try of a partner that
// keeps failing.
bool noticeGiven = false;

bool validChannel(int channel)
{
    return channel == LINK_CONTROL || channel == LINK_CLIPBOARD;
}

// The connection of `channel` on `socket`, live or newcomer; null when neither.
Channel* find(const Link& link, int channel, SOCKET socket)
{
    if (!validChannel(channel) || socket == 0) return nullptr;
    if (of(link).live[channel]->socket == socket) return of(link).live[channel];
    if (of(link).newcomers[channel]->socket == socket) return of(link).newcomers[channel];
    return nullptr;
}

bool isNewcomer(const Link& link, int channel, const Channel& ch)
{
    return &ch == of(link).newcomers[channel];
}

UINT deadlineTimer(const Link& link, int channel, const Channel& ch)
{
    return linkTimer(isNewcomer(link, channel, ch) ? NEWCOMER_TIMERS[channel] : DEADLINE_TIMERS[channel], link);
}

void forget(Channel& ch)
{
    linkReset(ch.session);
    ch.socket = 0;
    ch.keyed = false;
    ch.held = false;
    ch.rawBegin = ch.rawEnd = 0;
}

// Ends the connection as a close would; a handshake that failed tells the
// user, once, that the partner did not prove the key. A newcomer that failed
// is closed like a stranger: beside a live link it tells no one.
void refuse(const Link& link, int channel, Channel& ch)
{
    KillTimer(app.mainWindow, deadlineTimer(link, channel, ch));
    const LinkFailure why = ch.session.failure;
    const bool handshake = why == LinkFailure::Greeting || why == LinkFailure::Proof || why == LinkFailure::None;
    if (handshake && !noticeGiven && !isNewcomer(link, channel, ch)) {
        noticeGiven = true;
        PostMessageA(app.mainWindow, WM_LINK_KEY_NOTICE, 0, 0);
    }
    PostMessageA(app.mainWindow, WM_LINK_REFUSED, ch.socket, linkNotice(channel, link.index));
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

// Starts the connection's session: plain (true) without a key, else the
// greeting goes out and the deadline runs.
bool begin(const Link& link, int channel, Channel& ch, SOCKET socket, LinkRole role)
{
    KillTimer(app.mainWindow, deadlineTimer(link, channel, ch));
    forget(ch);
    ch.socket = socket;
    ch.keyed = haveLinkKey();
    if (!ch.keyed) return true;
    // A PC with a key never falls back to the plain wire: without the
    // system's cipher the connection is refused.
    if (!systemCryptoAvailable() || !keyStretched ||
        !linkStart(ch.session, &ch.cipher, role, linkKey, LINK_KEY_STRETCHED)) {
        ch.session.state = LinkState::Failed;
        ch.session.failure = LinkFailure::Cipher;
        refuse(link, channel, ch);
        return false;
    }
    SetTimer(app.mainWindow, deadlineTimer(link, channel, ch), HANDSHAKE_DEADLINE_MS, nullptr);
    if (!flush(ch)) {
        ch.session.state = LinkState::Failed;
        ch.session.failure = LinkFailure::Cipher;
        refuse(link, channel, ch);
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------- the record layers

void setLinkKey(const uint8_t* key, int32_t n)
{
    SecureZeroMemory(linkKey, sizeof linkKey);
    keySet = n > 0;
    keyStretched = keySet && stretchLinkKey(key, n < LINK_KEY_MAX ? n : LINK_KEY_MAX, linkKey);
}

bool haveLinkKey()
{
    return keySet;
}

bool linkKeyed(const Link& link, int channel, SOCKET socket)
{
    const Channel* ch = find(link, channel, socket);
    return ch && ch->keyed;
}

bool linkProtectedNow()
{
    bool up = false;
    for (int32_t i = 0; i < linkCount(); ++i) {
        const Link& link = links[i];
        if (!link.controlLinked || link.controlSocket == 0) continue;
        const Channel& ch = *of(link).live[LINK_CONTROL];
        if (!(ch.keyed && ch.socket == link.controlSocket && ch.session.state == LinkState::Proven)) return false;
        up = true;
    }
    return up;
}

bool linkBegin(const Link& link, int channel, SOCKET socket, LinkRole role)
{
    if (!validChannel(channel)) return true;
    return begin(link, channel, *of(link).live[channel], socket, role);
}

bool linkHoldsProven(const Link& link, int channel, SOCKET socket)
{
    if (!validChannel(channel) || socket == 0 || !haveLinkKey()) return false;
    const Channel& ch = *of(link).live[channel];
    return ch.keyed && ch.socket == socket && ch.session.state == LinkState::Proven;
}

void linkBeginNewcomer(const Link& link, int channel, SOCKET socket)
{
    if (validChannel(channel)) begin(link, channel, *of(link).newcomers[channel], socket, LinkRole::Acceptor);
}

SOCKET linkNewcomer(const Link& link, int channel)
{
    return validChannel(channel) ? of(link).newcomers[channel]->socket : 0;
}

void linkTakeOver(const Link& link, int channel)
{
    if (!validChannel(channel)) return;
    LinkChannels& channels = of(link);
    Channel* proven = channels.newcomers[channel];
    channels.newcomers[channel] = channels.live[channel];
    channels.live[channel] = proven;
    KillTimer(app.mainWindow, linkTimer(NEWCOMER_TIMERS[channel], link));
    KillTimer(app.mainWindow, linkTimer(DEADLINE_TIMERS[channel], link));
    forget(*channels.newcomers[channel]);
}

void linkEnd(const Link& link, int channel, SOCKET socket)
{
    Channel* ch = find(link, channel, socket);
    if (!ch) return;
    KillTimer(app.mainWindow, deadlineTimer(link, channel, *ch));
    forget(*ch);
}

void linkResume(const Link& link, int channel)
{
    if (validChannel(channel)) of(link).live[channel]->held = false;
}

int linkRecv(const Link& link, int channel, SOCKET socket, char* buffer, int room)
{
    Channel* found = find(link, channel, socket);
    if (!found) {
        // With a key, nothing is read in the clear from a socket that began no session.
        if (haveLinkKey() || (validChannel(channel) && of(link).live[channel]->keyed)) return wouldBlock();
        return recv(socket, buffer, room, 0);
    }
    Channel& ch = *found;
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
            refuse(link, channel, ch);
            break;
        }
        if (event == LinkEvent::Proven) {
            // The link comes up first; what followed the proof is read after.
            KillTimer(app.mainWindow, deadlineTimer(link, channel, ch));
            ch.held = true;
            PostMessageA(app.mainWindow, WM_LINK_PROVEN, socket, linkNotice(channel, link.index));
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

int linkSend(const Link& link, int channel, SOCKET socket, const char* data, int n)
{
    Channel* found = find(link, channel, socket);
    const bool plain =
        found ? !found->keyed : !haveLinkKey() && !(validChannel(channel) && of(link).live[channel]->keyed);
    if (plain) return send(socket, data, n, 0);
    if (!found || found->session.state == LinkState::Failed) {
        WSASetLastError(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    Channel& ch = *found;
    if (ch.session.state != LinkState::Proven) return wouldBlock();
    const int32_t sealed = linkSeal(ch.session, reinterpret_cast<const uint8_t*>(data), n);
    if (sealed < 0) {
        refuse(link, channel, ch);
        WSASetLastError(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    if (!flush(ch)) return SOCKET_ERROR;
    if (sealed == 0) return wouldBlock();
    return sealed;
}

int linkWaiting(const Link& link, int channel, SOCKET socket, u_long* waiting)
{
    const int result = ioctlsocket(socket, FIONREAD, waiting);
    const Channel* ch = find(link, channel, socket);
    if (result == 0 && ch && ch->keyed && ch->session.state != LinkState::Failed)
        *waiting += static_cast<u_long>(linkPlainLength(ch->session) + (ch->rawEnd - ch->rawBegin));
    return result;
}

void linkFlush(const Link& link, int channel, SOCKET socket)
{
    Channel* ch = find(link, channel, socket);
    if (!ch || !ch->keyed || ch->session.state == LinkState::Failed) return;
    // A failed write ends the connection: its close follows.
    flush(*ch);
}

void onHandshakeTimer(HWND window, UINT_PTR id)
{
    KillTimer(window, id);
    UINT base = 0;
    const Link* link = linkOfTimer(id, &base);
    if (!link) return;
    const int channel =
        base == TIMER_HANDSHAKE_CONTROL || base == TIMER_NEWCOMER_CONTROL ? LINK_CONTROL : LINK_CLIPBOARD;
    LinkChannels& channels = of(*link);
    Channel& ch = base == TIMER_NEWCOMER_CONTROL || base == TIMER_NEWCOMER_CLIPBOARD ? *channels.newcomers[channel]
                                                                                      : *channels.live[channel];
    if (!ch.keyed || ch.session.state == LinkState::Proven || ch.session.state == LinkState::Failed) return;
    // The partner is as good as a stranger: it said nothing that proves the key.
    linkReset(ch.session);
    ch.session.state = LinkState::Failed;
    refuse(*link, channel, ch);
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
