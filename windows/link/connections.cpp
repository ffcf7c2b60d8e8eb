// The links' life on Windows: the link engine fed from the socket notices
// Winsock posts to the main window, from the lookups of partners' names and
// from one timer; the sockets themselves are made and closed in
// windows/link/sockets.cpp. What the engine asks is answered here, and what
// its links carry goes on to the packet and clipboard receivers.
#include "windows/link/connections.h"

#include <cstdlib>
#include <new>

#include "app/front_end.h"
#include "windows/clipboard/clipboard.h"
#include "windows/input/edge.h"
#include "windows/input/flow.h"
#include "windows/input/hooks.h"
#include "windows/input/injection.h"
#include "windows/link/link.h"
#include "windows/link/link_key.h"
#include "windows/link/packets.h"
#include "windows/link/receive.h"
#include "windows/link/sockets.h"
#include "windows/link/system_cipher.h"

namespace {

LinkEngine engine;
bool engineStarted = false;
// The first link's first try looks its partner's name up at once, as it
// always did; later tries look up without waiting for the answer.
bool lookUpAtOnce = false;

SOCKET asSocket(ConnHandle handle)
{
    return handle == NO_CONN ? 0 : static_cast<SOCKET>(handle);
}

ConnHandle asHandle(SOCKET socket)
{
    return socket == 0 || socket == INVALID_SOCKET ? NO_CONN : static_cast<ConnHandle>(socket);
}

// Milliseconds of a clock that does not wrap, from the tick count's steps.
DWORD lastTick = 0;
int64_t ticks = -1;

int64_t nowMs()
{
    const DWORD now = GetTickCount();
    if (ticks < 0) {
        ticks = 0;
        lastTick = now;
    }
    ticks += static_cast<DWORD>(now - lastTick);
    lastTick = now;
    return ticks;
}

bool isMaster()
{
    return app.mode == MODE_MASTER;
}

bool anyLinked()
{
    for (int32_t i = 0; i < linkCount(); ++i)
        if (links[i].controlLinked) return true;
    return false;
}

Link& linkOf(const LinkLife& life)
{
    return links[life.index >= 0 && life.index < MAX_SLAVES ? life.index : 0];
}

// When the engine's timer is set to go off; -1 when it is not set.
int64_t armedFor = -1;

// The timer for what the engine waits for. It is set again only for
// something sooner: one that goes off early finds nothing due and is set for
// what is, so a packet's send costs no timer call.
void arm()
{
    if (!app.mainWindow) return;
    const int64_t next = lifeNextWake(engine);
    if (next < 0 || (armedFor >= 0 && armedFor <= next)) return;
    const int64_t wait = next - nowMs();
    SetTimer(app.mainWindow, TIMER_LINK_ENGINE, wait < 1 ? 1 : static_cast<UINT>(wait), nullptr);
    armedFor = next;
}

// The sockets and listeners the rest of the program sees, and the timer,
// after a turn of the engine that may have changed them.
void settle()
{
    for (Link& link : links) {
        const LinkLife& life = lifeOf(link);
        link.controlSocket = asSocket(life.live[LINK_CONTROL].handle);
        link.clipboardSocket = asSocket(life.live[LINK_CLIPBOARD].handle);
    }
    // The listeners as the panel and the tests see them: a pair for each port.
    for (int32_t i = 0; i < engine.listenerCount; ++i) {
        const LinkEngine::Listener& listener = engine.listeners[i];
        const int32_t port = listener.port - (listener.channel == LINK_CONTROL ? 0 : 1);
        AppState::PortListeners* entry = nullptr;
        for (AppState::PortListeners& candidate : app.listeners)
            if (!entry && (candidate.port == port || (!candidate.controlListening && !candidate.clipboardListening)))
                entry = &candidate;
        if (!entry) continue;
        entry->port = port;
        if (listener.channel == LINK_CONTROL) {
            entry->controlListening = 1;
            entry->controlListener = asSocket(listener.handle);
            entry->controlBound = listener.handle != NO_CONN ? 1 : 0;
        } else {
            entry->clipboardListening = 1;
            entry->clipboardListener = asSocket(listener.handle);
        }
    }
    arm();
}

// The end of a turn that began with a message: settled, and then the boxes of
// what failed meanwhile (their message loops may start the next turn).
void endTurn()
{
    settle();
    showListenerFailures();
}

// Whether a connection said to be closed is open after all: a close notice
// can outlive its socket, whose number the system may already have handed
// to the connection now in the slot. What the socket still holds is read
// first (`readWaiting`): after a real close nothing follows but its end.
template <typename Reader>
bool isStillOpen(SOCKET s, Reader readWaiting)
{
    char byte;
    int peeked = recv(s, &byte, 1, MSG_PEEK);
    if (peeked > 0) {
        readWaiting();
        peeked = recv(s, &byte, 1, MSG_PEEK);
    }
    if (peeked > 0) return true;
    if (peeked == 0) return false;
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAENOTCONN;  // idle, or a connect under way
}

// The link is up: the Master takes input, the Slave tells its desktop, and
// both say what they take.
void onLinkUp(HWND window, Link& link)
{
    resetControlInbox(link);
    forgetUnanswered(link);
    link.controlLinked = true;
    if (isMaster()) {
        installHooks(window);
        app.masterLinked = 1;
    } else {
        reportScreenSize(window);
    }
    announce(window, link);
    frontEnd.deskChanged();
}

// The control connection of a link is gone, closed by the partner, by the
// network or by this PC. The user comes first: back to local control (when
// that partner had it) and every key and button up before anything that may
// be slow or raise a box. Every other link goes on as it was.
void onLinkLost(HWND window, Link& link)
{
    link.partnerDriving = false;
    // Back to local control when that Slave had it; what the user typed
    // ahead of a link that is gone is not typed later.
    masterLinkDown(app, link);
    (void)window;
    if (isMaster()) app.masterLinked = anyLinked() ? 1 : 0;
    // Whatever the replay holds down here would otherwise stay down.
    releaseInjectedInput();
    if (!anyLinked()) releaseHooks();
    frontEnd.deskChanged();
}

class WindowsHost final : public LinkHost {
public:
    ConnHandle connectTo(uint32_t address, int32_t port) override
    {
        if (!startSocketLayer()) return NO_CONN;
        in_addr to = {};
        to.s_addr = address;
        return asHandle(openConnection(to, port));
    }

    ConnHandle listenOn(int32_t port) override
    {
        return asHandle(openListener(port));
    }

    int32_t write(ConnHandle conn, const uint8_t* data, int32_t n) override
    {
        const int sent = send(asSocket(conn), reinterpret_cast<const char*>(data), n, 0);
        if (sent != SOCKET_ERROR) return sent;
        if (WSAGetLastError() == WSAEWOULDBLOCK) return 0;  // the rest goes when the socket drains
        // Broken for good: ended once the current message is done, as if the
        // partner had closed it, so no sender finds its link gone under it.
        PostMessageA(app.mainWindow, WM_LINK_BROKEN, asSocket(conn), 0);
        return 0;
    }

    void waitWritable(ConnHandle, bool) override {}  // the socket says FD_WRITE once it drains

    void closeConn(ConnHandle conn) override
    {
        closeForGood(asSocket(conn));
    }

    // The Master's retries look the partner's name up without waiting for the
    // answer (WM_HOST_FOUND brings it): the lookup of a Slave that is off can
    // take seconds, and must not hold up the Slave that has control meanwhile.
    LookUp lookUp(LinkLife& life, uint32_t* address) override
    {
        Link& link = linkOf(life);
        if (!startSocketLayer()) return LookUp::Failed;
        const unsigned long dotted = inet_addr(link.host);  // an address needs no lookup
        if (dotted != INADDR_NONE) {
            *address = dotted;
            return LookUp::Found;
        }
        if (lookUpAtOnce) {
            const hostent* entry = gethostbyname(link.host);
            if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) return LookUp::Failed;
            *address = reinterpret_cast<const in_addr*>(entry->h_addr_list[0])->s_addr;
            return LookUp::Found;
        }
        if (link.lookup) WSACancelAsyncRequest(link.lookup);
        link.lookup = WSAAsyncGetHostByName(app.mainWindow, WM_HOST_FOUND, link.host, link.hostEntry,
                                            sizeof link.hostEntry);
        return link.lookup ? LookUp::Later : LookUp::Failed;
    }

    bool isPartner(const LinkLife& life, uint32_t peer) override
    {
        in_addr from = {};
        from.s_addr = peer;
        return isPartnerAddress(linkOf(life).host, from);
    }

    bool isOwnAddress(uint32_t address) override
    {
        in_addr a = {};
        a.s_addr = address;
        return ::isOwnAddress(a);
    }

    // A PC with a key never falls back to the plain wire: without the
    // system's cipher the connection is refused.
    LinkCipher* newCipher() override
    {
        if (!systemCryptoAvailable() || !linkKeyUsable()) return nullptr;
        void* room = std::malloc(sizeof(SystemCipher));
        return room ? new (room) SystemCipher() : nullptr;
    }

    void freeCipher(LinkCipher* cipher) override
    {
        SystemCipher* system = static_cast<SystemCipher*>(cipher);
        system->~SystemCipher();
        std::free(system);
    }

    void linkUp(LinkLife& life) override
    {
        onLinkUp(app.mainWindow, linkOf(life));
    }

    void linkLost(LinkLife& life, const char*, bool) override
    {
        onLinkLost(app.mainWindow, linkOf(life));
    }

    void clipboardFresh(LinkLife& life) override
    {
        resetClipboardBuffer(linkOf(life));  // what was half sent or half received is gone with it
    }

    void received(LinkLife& life, int channel, const uint8_t* data, size_t n) override
    {
        if (channel == LINK_CONTROL) receiveControlBytes(app.mainWindow, linkOf(life), data, n);
        else receiveClipboardBytes(linkOf(life), data, n);
    }

    void drained(LinkLife& life, int channel) override
    {
        if (channel == LINK_CLIPBOARD) continueClipboardSend(app.mainWindow, linkOf(life));
    }

    void note(LinkNote what, const LinkLife*, const char* detail) override
    {
        if (what == LinkNote::KeyNotProven) {
            PostMessageA(app.mainWindow, WM_LINK_KEY_NOTICE, 0, 0);
        } else if (what == LinkNote::ClipboardFailed) {
            // The control connection works on; the clipboard stays on each PC.
            if (detail) MessageBoxA(nullptr, "Could not connect Clipboard.", "Error", MB_OK | MB_ICONWARNING);
            else MessageBoxA(app.mainWindow, "Could not initiate clipboard connect.", "Error", MB_OK | MB_ICONWARNING);
        }
    }
};

WindowsHost host;

void startEngine()
{
    if (!engineStarted) {
        lifeInit(engine, &host, isMaster());
        // A clipboard connect refused at the first try is said once, and control goes on without it.
        engine.retryFirstClipboard = false;
        engineStarted = true;
    }
    engine.master = isMaster();
    lifeSetKey(engine, haveLinkKey() ? stretchedLinkKey() : nullptr);
}

void startLink(int32_t index)
{
    const Link& link = links[index];
    lifeStart(engine, index, link.host, link.port, nowMs());
}

// The link whose connection (live or newcomer) is `socket`, with its channel
// and whether it is keyed; null when none.
Link* linkOfSocket(SOCKET socket, int* channel = nullptr, bool* keyed = nullptr)
{
    int c = LINK_CONTROL;
    bool newcomer = false;
    const LinkLife* life = lifeFind(engine, asHandle(socket), &c, &newcomer);
    if (!life) return nullptr;
    if (channel) *channel = c;
    if (keyed) *keyed = newcomer || life->live[c].keyed;
    return &linkOf(*life);
}

// A read made outside its own notice leaves that notice to find nothing: it
// is passed over without a word.
void readAhead(SOCKET socket)
{
    if (Link* link = linkOfSocket(socket)) ++link->staleNotices;
}

// One receive a notice: while the socket holds more, it says so again, and
// whatever waits in the window's queue is handled in between.
void readSocket(SOCKET socket, int channel, bool keyed)
{
    static uint8_t raw[1024 * 1024];
    const int n = recv(socket, reinterpret_cast<char*>(raw), sizeof raw, 0);
    if (n > 0) {
        lifeReceived(engine, asHandle(socket), raw, static_cast<size_t>(n), nowMs());
        return;
    }
    if (n == 0) return;  // the partner closed; FD_CLOSE follows
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
        reportSocketError(error, channel == LINK_CONTROL ? "recv ()" : "Receive Data Buffer ()", app.mainWindow);
    else if (Link* link = linkOfSocket(socket); link && link->staleNotices > 0)
        --link->staleNotices;
    else if (channel == LINK_CLIPBOARD && !keyed)
        MessageBoxA(nullptr, "Receive Complete.", "Info", MB_OK);
}

void onAccept(HWND window, SOCKET listener, int channel)
{
    sockaddr_in peer = {};
    int peerLength = sizeof peer;
    const SOCKET s = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (s == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        // A connection that vanished before it was taken is no one's failure.
        if (error == WSAEWOULDBLOCK) return;
        reportSocketError(error, "accept ()", window);
        MessageBoxA(window, channel == LINK_CONTROL ? "Accept Failed" : "CB Accept Failed", "Info",
                    MB_OK | MB_ICONWARNING);
        return;
    }
    keepAlive(s);
    lifeAccepted(engine, asHandle(listener), asHandle(s), peer.sin_addr.s_addr, nowMs());
}

}  // namespace

LinkLife& lifeOf(Link& link)
{
    return engine.links[link.index >= 0 && link.index < MAX_SLAVES ? link.index : 0];
}

const LinkLife& lifeOf(const Link& link)
{
    return engine.links[link.index >= 0 && link.index < MAX_SLAVES ? link.index : 0];
}

void connectOrListen()
{
    linksFromSettings();
    startEngine();
    for (int32_t i = 0; i < linkCount(); ++i) {
        const Link& link = links[i];
        if (!link.present || link.controlLinked || lifeOf(link).live[LINK_CONTROL].handle != NO_CONN) continue;
        // Slave 1 (or this Slave's Master) as ever; the Master's further
        // Slaves are tried without waiting for their names to be looked up.
        lookUpAtOnce = i == 0;
        startLink(i);
        lookUpAtOnce = false;
    }
    frontEnd.deskChanged();
    endTurn();
}

void startListening(int32_t port)
{
    startEngine();
    LinkLife& life = engine.links[0];
    if (life.port == 0) life.port = port;
    lifeListen(engine, 0);
    endTurn();
}

void reconnectNow()
{
    const int32_t changed = linksFromSettings();
    startEngine();
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        const Link& link = links[i];
        // A Slave taken off the desk, or given another partner, is let go.
        // The first Slave's live link stays until it ends: its new partner
        // and port are used by the next connect.
        const bool gone = i >= linkCount() || !link.present;
        if (i > 0 && (gone || (changed & (1 << i)))) lifeStop(engine, i, nowMs());
        if (gone) continue;
        engine.links[i].reconnectDelay = 0;
        startLink(i);
    }
    frontEnd.deskChanged();
    endTurn();
}

void endLinkForNewKey(HWND)
{
    startEngine();
    for (int32_t i = 0; i < MAX_SLAVES; ++i) lifeCut(engine, i, "the link key changed", nowMs());
    endTurn();
}

// The Slave tells its Master the size of its whole desktop, all monitors
// together: each time the link comes up and whenever the desktop changes.
void reportScreenSize(HWND window)
{
    Link& link = links[0];
    if (app.mode != MODE_SLAVE || !link.controlLinked) return;
    sendPlainPacket(window, link, PKT_SCREEN_SIZE, desktopWidth(app.desktop), desktopHeight(app.desktop));
}

void onSocketEvent(HWND window, SOCKET socket, LPARAM lParam)
{
    // A notice of a socket closed since it was posted is a leftover of a
    // connection that has been replaced or closed: it concerns nothing live,
    // whatever holds its number now.
    if (socket == 0 || isGone(socket)) return;
    const int event = WSAGETSELECTEVENT(lParam);
    const int error = WSAGETSELECTERROR(lParam);
    const ConnHandle handle = asHandle(socket);
    int listened = LINK_CONTROL;
    if (lifeListener(engine, handle, &listened)) {
        if (event == FD_ACCEPT) onAccept(window, socket, listened);
        endTurn();
        return;
    }
    int channel = LINK_CONTROL;
    bool keyed = false;
    if (!linkOfSocket(socket, &channel, &keyed)) return;
    switch (event) {
    case FD_CONNECT:
        // Every error code means the connect failed, not only the usual three.
        lifeConnected(engine, handle, error, "the partner did not take the connection", nowMs());
        break;
    case FD_READ: readSocket(socket, channel, keyed); break;
    case FD_WRITE: lifeWritable(engine, handle, nowMs()); break;
    case FD_CLOSE:
        if (!isStillOpen(socket, [&] { readAhead(socket); readSocket(socket, channel, keyed); }) && lifeHolds(engine, handle))
            lifeClosed(engine, handle, "the partner closed it", nowMs());
        break;
    default: break;
    }
    endTurn();
}

void onSocketGone(SOCKET socket)
{
    forgetGone(socket);
    // A socket that drew a closed one's number had its notices passed over
    // until now: what it missed is said again.
    const ConnHandle handle = asHandle(socket);
    if (handle == NO_CONN || !lifeHolds(engine, handle)) return;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval none = {0, 0};
    if (lifeConnecting(engine, handle)) {
        if (select(0, nullptr, &writable, &failed, &none) > 0)
            PostMessageA(app.mainWindow, WM_CONTROL_SOCKET, socket,
                         WSAMAKESELECTREPLY(FD_CONNECT, FD_ISSET(socket, &failed) ? WSAECONNREFUSED : 0));
        return;
    }
    u_long waiting = 0;
    if (ioctlsocket(socket, FIONREAD, &waiting) == 0 && waiting > 0) {
        readAhead(socket);  // its own notice may still come too
        PostMessageA(app.mainWindow, WM_CONTROL_SOCKET, socket, WSAMAKESELECTREPLY(FD_READ, 0));
    }
    for (Link& link : links)
        for (int channel = 0; channel < 2; ++channel)
            if (link.index >= 0 && asSocket(lifeOf(link).live[channel].handle) == socket && lifePending(lifeOf(link), channel) > 0)
                PostMessageA(app.mainWindow, WM_CONTROL_SOCKET, socket, WSAMAKESELECTREPLY(FD_WRITE, 0));
}

void onControlLinkBroken(HWND, SOCKET socket)
{
    if (socket == 0 || isGone(socket)) return;
    lifeClosed(engine, asHandle(socket), "a send failed", nowMs());
    endTurn();
}

void onHostFound(HANDLE lookup, LPARAM result)
{
    for (Link& link : links) {
        if (link.lookup != lookup || !lookup) continue;
        link.lookup = nullptr;
        const hostent* entry = reinterpret_cast<const hostent*>(link.hostEntry);
        const bool found = WSAGETASYNCERROR(result) == 0 && entry->h_addrtype == AF_INET && entry->h_addr_list &&
                           entry->h_addr_list[0];
        lifeLookedUp(engine, link.index, found,
                     found ? reinterpret_cast<const in_addr*>(entry->h_addr_list[0])->s_addr : 0, nowMs());
        endTurn();
        return;
    }
}

void onLinkTimer(HWND window)
{
    KillTimer(window, TIMER_LINK_ENGINE);
    armedFor = -1;
    lifeTick(engine, nowMs());
    endTurn();
}

bool linkQueue(Link& link, int channel, const void* data, size_t n)
{
    return lifeQueue(engine, lifeOf(link), channel, data, n);
}

bool linkFlushNow(Link& link, int channel)
{
    const bool flushed = lifeFlush(engine, lifeOf(link), channel);
    if (!flushed) settle();  // a failed flush ended the connection
    return flushed;
}

size_t linkPending(Link& link, int channel)
{
    return lifePending(lifeOf(link), channel);
}

bool linkUpNow(Link& link, int channel)
{
    return lifeUp(lifeOf(link), channel);
}

bool linkOpen(Link& link, int channel)
{
    return lifeOpen(lifeOf(link), channel);
}

void linkUnanswered(Link& link, bool waiting, uint32_t waited)
{
    lifeWaiting(lifeOf(link), waiting ? nowMs() - waited : -1);
    arm();  // the watch's time
}

bool linkProtectedNow()
{
    bool up = false;
    for (int32_t i = 0; i < linkCount(); ++i) {
        const LinkLife& life = engine.links[i];
        if (!life.linked) continue;
        if (!(life.live[LINK_CONTROL].keyed && life.live[LINK_CONTROL].proven)) return false;
        up = true;
    }
    return up;
}
