#include "link/connections.h"

#include <mstcpip.h>

#include "app/panel.h"
#include "clipboard/clipboard.h"
#include "input/edge.h"
#include "input/flow.h"
#include "input/hooks.h"
#include "input/injection.h"
#include "link/link.h"
#include "link/link_key.h"
#include "link/packets.h"

namespace {

// No READY for this long to a packet that asks for one: the partner is gone.
constexpr DWORD SILENT_PARTNER_MS = 8000;
// Keep-alive probes after 2 s of silence, every 0.5 s: a partner that
// vanished is noticed within about ten seconds (Windows gives up after ten
// unanswered probes; Wine takes whole seconds and nine probes: 11 s).
constexpr ULONG KEEPALIVE_IDLE_MS = 2000;
constexpr ULONG KEEPALIVE_INTERVAL_MS = 500;

// Sockets closed whose notices may still wait in the queue. The system hands
// a closed socket's number to the next socket made, often at once: every
// notice that carries such a number is passed over until WM_SOCKET_GONE,
// posted right after the close and so queued behind every notice of the
// closed socket, comes round.
SOCKET goneSockets[64];
int goneCount = 0;

int closeForGood(SOCKET s)
{
    const int result = closesocket(s);
    if (goneCount < 64 && PostMessageA(app.mainWindow, WM_SOCKET_GONE, s, 0)) goneSockets[goneCount++] = s;
    return result;
}

// A newcomer goes as a stranger does: closed, its session forgotten.
void dropNewcomer(Link& link, int channel)
{
    const SOCKET s = linkNewcomer(link, channel);
    if (s == 0) return;
    linkEnd(link, channel, s);
    closeForGood(s);
}

bool isGone(SOCKET s)
{
    for (int i = 0; i < goneCount; ++i)
        if (goneSockets[i] == s) return true;
    return false;
}

bool startSocketLayer()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void errorBox(const char* text)
{
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING);
}

bool isConnectFailure(int error)
{
    return error == WSAETIMEDOUT || error == WSAECONNREFUSED || error == WSAHOST_NOT_FOUND;
}

void keepAlive(SOCKET s)
{
    const BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive values = {1, KEEPALIVE_IDLE_MS, KEEPALIVE_INTERVAL_MS};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

int connectTo(in_addr address, int32_t port, UINT message, SOCKET* socketSlot)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return 0;
    *socketSlot = s;
    WSAAsyncSelect(s, app.mainWindow, message, SOCKET_EVENTS);
    keepAlive(s);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    target.sin_addr = address;
    if (connect(s, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) return 1;
    if (WSAGetLastError() == WSAEWOULDBLOCK) return 1;
    // A connect that cannot even start leaves no socket behind: the Master's
    // retries would otherwise pile one up every few seconds.
    closeForGood(s);
    *socketSlot = 0;
    return 0;
}

// Only a partner may link: an incoming connection from any other address
// is refused before it can type on this PC or raise a box.
bool isPartner(const Link& link, in_addr peer)
{
    const hostent* host = gethostbyname(link.host);
    if (!host || host->h_addrtype != AF_INET) return false;
    for (char** entry = host->h_addr_list; *entry; ++entry)
        if (reinterpret_cast<const in_addr*>(*entry)->s_addr == peer.s_addr) return true;
    return false;
}

// The listeners of a port, made on first use; null when every entry serves
// another port.
AppState::PortListeners* listenersOf(int32_t port)
{
    for (AppState::PortListeners& entry : app.listeners)
        if (entry.port == port && (entry.controlListening || entry.clipboardListening)) return &entry;
    for (AppState::PortListeners& entry : app.listeners)
        if (!entry.controlListening && !entry.clipboardListening) {
            entry.port = port;
            return &entry;
        }
    return nullptr;
}

// The listener entry that `socket` listens for, and whether on the control port.
AppState::PortListeners* listenerOfSocket(SOCKET socket, bool control)
{
    if (socket == 0) return nullptr;
    for (AppState::PortListeners& entry : app.listeners) {
        if (control && entry.controlListening && entry.controlListener == socket) return &entry;
        if (!control && entry.clipboardListening && entry.clipboardListener == socket) return &entry;
    }
    return nullptr;
}

// The partner a connection that came in on `port` from `peer` belongs to:
// the link of that port whose partner has that address. On one host every
// partner is the same address, each on a port of its own.
Link* partnerOf(int32_t port, in_addr peer)
{
    for (int32_t i = 0; i < linkCount(); ++i)
        if (links[i].present && links[i].port == port && isPartner(links[i], peer)) return &links[i];
    // With one partner its address alone counts: a listener keeps the port
    // it was started on when the settings name another.
    if (slavesSetUp() < 2 && isPartner(links[0], peer)) return &links[0];
    return nullptr;
}

enum class Accepted { Partner, Newcomer, Stranger, Failed };

SOCKET* slotOf(Link& link, int channel)
{
    return channel == LINK_CONTROL ? &link.controlSocket : &link.clipboardSocket;
}

// Accepts on the listener. A stranger's connection is closed at once and no
// slot is touched; a partner's takes its link's slot, and a live connection
// it replaces is closed, so its late notifications cannot reach the new one.
// With a link key, a connection that has proved it gives way only to a
// newcomer that proves it too: until then the newcomer waits beside it.
Accepted acceptInto(SOCKET listener, int32_t port, HWND window, int channel, Link** accepted)
{
    sockaddr_in peer = {};
    int peerLength = sizeof peer;
    SOCKET s = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (s == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        // A connection that vanished before it was taken is no one's failure.
        if (error == WSAEWOULDBLOCK) return Accepted::Stranger;
        reportSocketError(error, "accept ()", window);
        return Accepted::Failed;
    }
    Link* link = partnerOf(port, peer.sin_addr);
    if (!link) {
        closeForGood(s);
        return Accepted::Stranger;
    }
    *accepted = link;
    SOCKET* socketSlot = slotOf(*link, channel);
    if (linkHoldsProven(*link, channel, *socketSlot)) {
        dropNewcomer(*link, channel);  // one still unproven gives way to the latest
        keepAlive(s);
        linkBeginNewcomer(*link, channel, s);
        return Accepted::Newcomer;
    }
    const SOCKET earlier = *socketSlot;
    *socketSlot = s;
    if (earlier != 0 && earlier != s) closeForGood(earlier);
    keepAlive(s);
    return Accepted::Partner;
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

// Closes a connection that the partner ended; true when the close succeeded.
bool closeConnection(SOCKET s)
{
    shutdown(s, SD_BOTH);
    WSAGetLastError();  // errors of the shutdown are read and ignored
    return closeForGood(s) == 0;
}

// Empties the slot of a connection just closed. The system hands a closed
// socket's number out again, often to the next socket accepted for the other
// connection: a slot that kept the number would have the next accept into it
// close that live connection, and a late send here would write into it.
void forgetClosedSocket(SOCKET closed, SOCKET* socketSlot)
{
    if (*socketSlot == closed) *socketSlot = 0;
}

// Starts a listener without a word; returns the failure's message, or null.
// A listener whose start fails is never tried again.
const char* openListener(int32_t port, UINT message, SOCKET* listenerSlot, int32_t* listeningFlag,
                         int32_t* boundFlag)
{
    if (*listeningFlag == 1) return nullptr;
    *listeningFlag = 1;
    if (!startSocketLayer()) return "WSA Initialisation failed.";
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return "Socket Creation failed.";
    *listenerSlot = s;
    WSAAsyncSelect(s, app.mainWindow, message, SOCKET_EVENTS);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR)
        return "Attempt to bind socket failed.";
    if (boundFlag) *boundFlag = 1;
    listen(s, 1);
    return nullptr;
}

// The listeners of the link's port, once: they serve every partner of that
// port.
AppState::PortListeners* listenersOf(const Link& link)
{
    return listenersOf(link.port);
}

// Both listeners start before either failure is shown: a box waiting for its
// OK must not keep the partner from its clipboard connection.
void listenOnBothPorts(const Link& link)
{
    AppState::PortListeners* entry = listenersOf(link);
    if (!entry) return;
    const char* control = openListener(link.port, WM_CONTROL_SOCKET, &entry->controlListener,
                                       &entry->controlListening, &entry->controlBound);
    const char* clipboard = openListener(link.port + 1, WM_CLIPBOARD_SOCKET, &entry->clipboardListener,
                                         &entry->clipboardListening, nullptr);
    if (control) errorBox(control);
    if (clipboard) errorBox(clipboard);
}

bool isMaster()
{
    return app.mode == MODE_MASTER;
}

bool usablePort(const Link& link)
{
    return link.port >= 1 && link.port <= 65534;
}

// Whether any link's control connection is up.
bool anyLinked()
{
    for (int32_t i = 0; i < linkCount(); ++i)
        if (links[i].controlLinked) return true;
    return false;
}

// Whether the address is one of this PC's own: a connect there while this PC
// listens on the port would only reach this PC itself. The system's routing
// tells: a datagram socket aimed at one's own address goes out from it.
bool isOwnAddress(in_addr address)
{
    SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe == INVALID_SOCKET) return false;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr = address;
    sockaddr_in from = {};
    int fromLength = sizeof from;
    const bool own = connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                     getsockname(probe, reinterpret_cast<sockaddr*>(&from), &fromLength) == 0 &&
                     from.sin_addr.s_addr == address.s_addr;
    closesocket(probe);
    return own;
}

// The Master's next try, a little later each time up to a few seconds. No box
// and no trace for a try that fails: the partner may simply be off.
void scheduleRetry(Link& link)
{
    if (!isMaster() || !link.present || link.controlLinked || link.connecting || !app.mainWindow) return;
    link.retryDelay = link.retryDelay == 0 ? 1000 : link.retryDelay * 2 > 8000 ? 8000 : link.retryDelay * 2;
    SetTimer(app.mainWindow, linkTimer(TIMER_RECONNECT, link), link.retryDelay, nullptr);
}

// The next try for a clipboard connection that ended alone: after 1, 2, 4
// and then every 8 seconds, as the control connection's, silently.
void scheduleClipboardRetry(Link& link)
{
    if (!link.controlLinked || !link.clipboardConnector || !app.mainWindow) return;
    link.clipboardRetryDelay = link.clipboardRetryDelay == 0     ? 1000
                               : link.clipboardRetryDelay * 2 > 8000 ? 8000
                                                                     : link.clipboardRetryDelay * 2;
    SetTimer(app.mainWindow, linkTimer(TIMER_CLIPBOARD_RETRY, link), link.clipboardRetryDelay, nullptr);
}

void stopClipboardRetries(Link& link)
{
    if (app.mainWindow) KillTimer(app.mainWindow, linkTimer(TIMER_CLIPBOARD_RETRY, link));
    link.clipboardRetryDelay = 0;
    link.clipboardRetrying = false;
}

void tryClipboardAgain(Link& link)
{
    KillTimer(app.mainWindow, linkTimer(TIMER_CLIPBOARD_RETRY, link));
    if (!link.controlLinked || !link.clipboardConnector || link.clipboardSocket != 0 || !link.addressKnown) return;
    link.clipboardConnectFailed = 0;  // a failure seen before belongs to an earlier try
    link.clipboardRetrying = true;
    if (!connectTo(link.address, link.port + 1, WM_CLIPBOARD_SOCKET, &link.clipboardSocket)) {
        link.clipboardRetrying = false;
        scheduleClipboardRetry(link);
    }
}

// A try at the partner's address, unless it is this PC's own while this PC
// listens on the port: a connect there would only reach this PC itself.
void connectAgain(Link& link, in_addr address)
{
    const AppState::PortListeners* listening = listenersOf(link);
    const bool bound = listening && listening->controlBound;
    if (!(bound && isOwnAddress(address))) {
        link.address = address;
        link.addressKnown = true;
        link.connectFailed = 0;  // a failure seen before belongs to an earlier try
        if (connectTo(address, link.port, WM_CONTROL_SOCKET, &link.controlSocket)) {
            link.connecting = true;
            return;
        }
    }
    scheduleRetry(link);
}

bool mayTryAgain(const Link& link)
{
    return isMaster() && link.present && !link.controlLinked && !link.connecting && usablePort(link);
}

// The Master's retries look the partner's name up without waiting for the
// answer (WM_HOST_FOUND brings it): the lookup of a Slave that is off can
// take seconds, and must not hold up the Slave that has control meanwhile.
void tryPartnerAgain(Link& link)
{
    KillTimer(app.mainWindow, linkTimer(TIMER_RECONNECT, link));
    if (!mayTryAgain(link) || link.lookup) return;
    if (!startSocketLayer()) {
        scheduleRetry(link);
        return;
    }
    const unsigned long dotted = inet_addr(link.host);  // an address needs no lookup
    if (dotted != INADDR_NONE) {
        in_addr address = {};
        address.s_addr = dotted;
        connectAgain(link, address);
        return;
    }
    link.lookup = WSAAsyncGetHostByName(app.mainWindow, WM_HOST_FOUND, link.host, link.hostEntry,
                                        sizeof link.hostEntry);
    if (!link.lookup) scheduleRetry(link);
}

void cancelLookup(Link& link)
{
    if (link.lookup) WSACancelAsyncRequest(link.lookup);
    link.lookup = nullptr;
}

void startLinkWatch(HWND window, const Link& link)
{
    if (isMaster()) SetTimer(window, linkTimer(TIMER_LINK_WATCH, link), 1000, nullptr);
}

// The control connection of a link is gone, closed by the partner, by the
// network or by this PC. The user comes first: back to local control (when
// that partner had it) and every key and button up before anything that may
// be slow or raise a box. Every other link goes on as it was.
void controlLinkLost(HWND window, Link& link, SOCKET socket)
{
    link.controlLinked = false;
    link.partnerDriving = false;
    link.peerReady = 0;
    if (isMaster()) {
        app.masterLinked = anyLinked() ? 1 : 0;
        if (app.controlLink == &link || app.controlLink == nullptr) dropToLocal(window);
    }
    // Whatever the replay holds down here would otherwise stay down, and what
    // the user typed ahead of a link that is gone is not typed later.
    releaseInjectedInput();
    forgetPendingKeys(link);
    link.connecting = false;
    KillTimer(window, linkTimer(TIMER_LINK_WATCH, link));
    stopClipboardRetries(link);
    linkEnd(link, LINK_CONTROL, socket);
    if (closeConnection(socket)) {
        AppState::PortListeners* entry = listenersOf(link);
        if (entry && entry->controlListening == 0)
            startListening(link.port, WM_CONTROL_SOCKET, &entry->controlListener, &entry->controlListening);
        if (!anyLinked()) releaseHooks();
    }
    forgetClosedSocket(socket, &link.controlSocket);
    link.retryDelay = 0;
    scheduleRetry(link);
    showDeskState();
}

// The clipboard connection is gone: this side listens for the next one.
void clipboardLinkLost(Link& link, SOCKET socket)
{
    linkEnd(link, LINK_CLIPBOARD, socket);
    if (closeConnection(socket)) {
        AppState::PortListeners* entry = listenersOf(link);
        if (entry && entry->clipboardListening == 0)
            startListening(link.port + 1, WM_CLIPBOARD_SOCKET, &entry->clipboardListener, &entry->clipboardListening);
    }
    forgetClosedSocket(socket, &link.clipboardSocket);
    resetClipboardBuffer(link);  // what was half sent or half received is gone with it
    // Ended alone, with the control connection still up: made again.
    if (link.clipboardSocket == 0) scheduleClipboardRetry(link);
}

// A newcomer beside the live connection: only its handshake is read here,
// and the live connection's reader never sees its bytes.
void onNewcomerEvent(Link& link, int channel, SOCKET socket, int event)
{
    if (event == FD_READ) {
        char scratch[64];  // nothing comes out before the proof, and after it reading waits
        linkRecv(link, channel, socket, scratch, sizeof scratch);
    } else if (event == FD_WRITE) {
        linkFlush(link, channel, socket);
    } else if (event == FD_CLOSE) {
        dropNewcomer(link, channel);
    }
}

// The link whose live connection of `channel` is on `socket`; null when none.
Link* linkWith(int channel, SOCKET socket)
{
    if (socket == 0) return nullptr;
    for (Link& link : links)
        if (*slotOf(link, channel) == socket) return &link;
    return nullptr;
}

// The link whose newcomer of `channel` is on `socket`; null when none.
Link* newcomerLink(int channel, SOCKET socket)
{
    if (socket == 0 || isGone(socket)) return nullptr;
    for (Link& link : links)
        if (socket == linkNewcomer(link, channel)) return &link;
    return nullptr;
}

// The newcomer proved the key: the partner came back (after a restart, or
// over a link this side had not yet found dead). It takes the place of the
// connection that was live, which is closed as a replaced one is.
void takeOver(HWND window, Link& link, SOCKET socket, int channel)
{
    SOCKET* slot = slotOf(link, channel);
    const SOCKET earlier = *slot;
    linkTakeOver(link, channel);
    *slot = socket;
    if (earlier != 0 && earlier != socket) closeForGood(earlier);
    link.clipboardConnector = false;  // the partner made this connection
    stopClipboardRetries(link);
    if (channel == LINK_CLIPBOARD) {
        resetClipboardBuffer(link);
        return;
    }
    // What the partner that is gone held down, or was owed, goes with it.
    if (isMaster() && (app.controlLink == &link || app.controlLink == nullptr)) dropToLocal(window);
    releaseInjectedInput();
    forgetPendingKeys(link);
}

// Ends both connections of a link and its newcomers, as a close would.
void endLink(HWND window, Link& link)
{
    dropNewcomer(link, LINK_CONTROL);
    dropNewcomer(link, LINK_CLIPBOARD);
    if (link.clipboardSocket != 0) clipboardLinkLost(link, link.clipboardSocket);
    if (link.controlSocket != 0) controlLinkLost(window, link, link.controlSocket);
    link.connecting = false;
    cancelLookup(link);
    KillTimer(window, linkTimer(TIMER_RECONNECT, link));
    KillTimer(window, linkTimer(TIMER_CLIPBOARD_RETRY, link));
}

void connectOrListen(Link& link)
{
    KillTimer(app.mainWindow, linkTimer(TIMER_RECONNECT, link));
    link.retryDelay = 0;
    link.connectFailed = 0;  // a failure seen before belongs to an earlier try
    if (startConnect(link, link.host, link.port, WM_CONTROL_SOCKET, &link.controlSocket)) {
        link.connecting = true;
        return;
    }
    listenOnBothPorts(link);
    scheduleRetry(link);
}

}  // namespace

void connectOrListen()
{
    linksFromSettings();
    for (int32_t i = 0; i < linkCount(); ++i) {
        Link& link = links[i];
        if (!link.present || link.controlLinked || link.connecting) continue;
        // Slave 1 (or this Slave's Master) as ever; the Master's further
        // Slaves are tried without waiting for their names to be looked up.
        if (i == 0) {
            connectOrListen(link);
        } else {
            link.retryDelay = 0;
            tryPartnerAgain(link);
        }
    }
    showDeskState();
}

int startListening(int32_t port, UINT message, SOCKET* listenerSlot, int32_t* listeningFlag)
{
    int32_t* bound = nullptr;
    for (AppState::PortListeners& entry : app.listeners)
        if (listenerSlot == &entry.controlListener) bound = &entry.controlBound;
    const char* failure = openListener(port, message, listenerSlot, listeningFlag, bound);
    if (failure) errorBox(failure);
    return failure ? 0 : 1;
}

int startListening(int32_t port)
{
    AppState::PortListeners* entry = listenersOf(port);
    if (!entry) return 0;
    return startListening(port, WM_CONTROL_SOCKET, &entry->controlListener, &entry->controlListening);
}

void onControlLinkBroken(HWND window, SOCKET socket)
{
    if (socket == 0 || isGone(socket)) return;
    if (Link* link = linkWith(LINK_CONTROL, socket)) controlLinkLost(window, *link, socket);
}

void onSocketGone(SOCKET socket)
{
    for (int i = 0; i < goneCount; ++i) {
        if (goneSockets[i] == socket) {
            goneSockets[i] = goneSockets[--goneCount];
            break;
        }
    }
    // A newcomer that drew a closed socket's number had its notices passed
    // over until now: it is read once more.
    if (socket == 0) return;
    for (Link& link : links) {
        if (socket == linkNewcomer(link, LINK_CONTROL))
            PostMessageA(app.mainWindow, WM_CONTROL_SOCKET, socket, WSAMAKESELECTREPLY(FD_READ, 0));
        else if (socket == linkNewcomer(link, LINK_CLIPBOARD))
            PostMessageA(app.mainWindow, WM_CLIPBOARD_SOCKET, socket, WSAMAKESELECTREPLY(FD_READ, 0));
    }
}

void reconnectNow()
{
    const int32_t changed = linksFromSettings();
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        Link& link = links[i];
        // A Slave taken off the desk, or given another partner, is let go.
        // The first Slave's live link stays until it ends: its new partner
        // and port are used by the next connect.
        const bool gone = i >= linkCount() || !link.present;
        if (i > 0 && (gone || (changed & (1 << i)))) endLink(app.mainWindow, link);
        if (gone) continue;
        link.retryDelay = 0;
        tryPartnerAgain(link);
    }
    showDeskState();
}

void onHostFound(HANDLE lookup, LPARAM result)
{
    for (Link& link : links) {
        if (link.lookup != lookup || !lookup) continue;
        link.lookup = nullptr;
        const hostent* entry = reinterpret_cast<const hostent*>(link.hostEntry);
        if (!mayTryAgain(link)) return;
        if (WSAGETASYNCERROR(result) == 0 && entry->h_addrtype == AF_INET && entry->h_addr_list && entry->h_addr_list[0])
            connectAgain(link, *reinterpret_cast<const in_addr*>(entry->h_addr_list[0]));
        else
            scheduleRetry(link);
        return;
    }
}

void onLinkTimer(HWND window, UINT_PTR id)
{
    UINT base = 0;
    Link* found = linkOfTimer(id, &base);
    if (!found) return;
    Link& link = *found;
    if (base == TIMER_RECONNECT) {
        tryPartnerAgain(link);
    } else if (base == TIMER_CLIPBOARD_RETRY) {
        tryClipboardAgain(link);
    } else if (base == TIMER_LINK_WATCH) {
        if (link.controlLinked && unansweredFor(link) > SILENT_PARTNER_MS) {
            // The partner stopped answering without closing: it froze, slept
            // or lost its network. This side ends the connection.
            controlLinkLost(window, link, link.controlSocket);
        }
    }
}

int startConnect(Link& link, const char* host, int32_t port, UINT message, SOCKET* socketSlot)
{
    // A port that cannot work is never used to connect.
    if (port < 1 || port > 65535) return 0;
    if (!startSocketLayer()) return 0;
    const hostent* entry = gethostbyname(host);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) return 0;
    link.address = *reinterpret_cast<const in_addr*>(entry->h_addr_list[0]);
    link.addressKnown = true;
    return connectTo(link.address, port, message, socketSlot);
}

void onLinkUp(HWND window, Link& link)
{
    resetControlInbox(link);
    forgetUnanswered(link);
    link.controlLinked = true;
    link.connecting = false;
    link.retryDelay = 0;
    KillTimer(window, linkTimer(TIMER_RECONNECT, link));
    startLinkWatch(window, link);
    if (app.mode == MODE_MASTER) {
        installHooks(window);
        app.masterLinked = 1;
    } else {
        reportScreenSize(window);
    }
    announce(window, link);
    showDeskState();
}

// The Slave tells its Master the size of its whole desktop, all monitors
// together: each time the link comes up and whenever the desktop changes.
void reportScreenSize(HWND window)
{
    Link& link = links[0];
    if (app.mode != MODE_SLAVE || !link.controlLinked) return;
    sendPlainPacket(window, link, PKT_SCREEN_SIZE, desktopWidth(app.desktop), desktopHeight(app.desktop));
}

void onControlSocketEvent(HWND window, SOCKET socket, LPARAM lParam)
{
    const int event = WSAGETSELECTEVENT(lParam);
    const int error = WSAGETSELECTERROR(lParam);
    if (Link* link = newcomerLink(LINK_CONTROL, socket)) {
        onNewcomerEvent(*link, LINK_CONTROL, socket, event);
        return;
    }
    AppState::PortListeners* listener = listenerOfSocket(socket, true);
    Link* found = listener ? nullptr : linkWith(LINK_CONTROL, socket);
    // A notification of a socket no longer in a slot, or of one closed since
    // it was posted, is a leftover of a connection that has been replaced or
    // closed: it concerns nothing live, whatever holds its number now.
    if ((!found && !listener) || isGone(socket)) return;
    if (found && isConnectFailure(error)) found->connectFailed = 1;

    if (listener) {
        if (event != FD_ACCEPT) return;
        Link* accepted = nullptr;
        switch (acceptInto(socket, listener->port, window, LINK_CONTROL, &accepted)) {
        case Accepted::Partner:
            accepted->clipboardConnector = false;  // the partner makes the clipboard connection
            stopClipboardRetries(*accepted);
            if (linkBegin(*accepted, LINK_CONTROL, accepted->controlSocket, LinkRole::Acceptor))
                onLinkUp(window, *accepted);
            break;
        case Accepted::Failed: MessageBoxA(window, "Accept Failed", "Info", MB_OK | MB_ICONWARNING); break;
        case Accepted::Newcomer:
        case Accepted::Stranger: break;
        }
        return;
    }

    Link& link = *found;
    switch (event) {
    case FD_READ:
        receiveControlPacket(window, link);
        break;
    case FD_WRITE:
        linkFlush(link, LINK_CONTROL, socket);  // records sealed while the socket was full
        break;
    case FD_CONNECT:
        link.connecting = false;
        // Every error code means the connect failed, not only the usual three.
        if (link.connectFailed == 1 || error != 0) {
            link.connectFailed = 0;
            // The failed attempt's socket is closed: retries must not pile them up.
            closeForGood(socket);
            forgetClosedSocket(socket, &link.controlSocket);
            listenOnBothPorts(link);
            scheduleRetry(link);
        } else {
            // With a link key the link is up once the partner has proved it;
            // until then the handshake counts as part of the connect.
            if (linkBegin(link, LINK_CONTROL, socket, LinkRole::Connector)) onLinkUp(window, link);
            else link.connecting = true;
            // A clipboard connection left from an earlier link gives way, and
            // a failure that ended it says nothing about the new one.
            if (link.clipboardSocket != 0) closeForGood(link.clipboardSocket);
            link.clipboardSocket = 0;
            link.clipboardConnectFailed = 0;
            stopClipboardRetries(link);
            link.clipboardConnector = true;
            const int started =
                link.addressKnown ? connectTo(link.address, link.port + 1, WM_CLIPBOARD_SOCKET, &link.clipboardSocket)
                                  : 0;
            if (!started)
                MessageBoxA(window, "Could not initiate clipboard connect.", "Error", MB_OK | MB_ICONWARNING);
        }
        break;
    case FD_CLOSE:
        if (!isStillOpen(socket, [&] { receiveControlPacket(window, link); })) controlLinkLost(window, link, socket);
        break;
    default:
        break;
    }
}

void onClipboardSocketEvent(HWND window, SOCKET socket, LPARAM lParam)
{
    const int event = WSAGETSELECTEVENT(lParam);
    const int error = WSAGETSELECTERROR(lParam);
    if (Link* link = newcomerLink(LINK_CLIPBOARD, socket)) {
        onNewcomerEvent(*link, LINK_CLIPBOARD, socket, event);
        return;
    }
    AppState::PortListeners* listener = listenerOfSocket(socket, false);
    Link* found = listener ? nullptr : linkWith(LINK_CLIPBOARD, socket);
    if ((!found && !listener) || isGone(socket)) return;
    if (found && isConnectFailure(error)) found->clipboardConnectFailed = 1;

    if (listener) {
        if (event != FD_ACCEPT) return;
        Link* accepted = nullptr;
        // The clipboard listener is one port up from the control port its partners are known by.
        switch (acceptInto(socket, listener->port, window, LINK_CLIPBOARD, &accepted)) {
        case Accepted::Partner:
            // The partner made it: any retries of this side's give way.
            accepted->clipboardConnector = false;
            stopClipboardRetries(*accepted);
            resetClipboardBuffer(*accepted);
            linkBegin(*accepted, LINK_CLIPBOARD, accepted->clipboardSocket, LinkRole::Acceptor);
            break;
        case Accepted::Failed: MessageBoxA(window, "CB Accept Failed", "Info", MB_OK | MB_ICONWARNING); break;
        case Accepted::Newcomer:
        case Accepted::Stranger: break;
        }
        return;
    }

    Link& link = *found;
    switch (event) {
    case FD_READ:
        receiveClipboardData(link);
        break;
    case FD_WRITE:
        // The socket drained: what was sealed goes first, then the rest of a transfer.
        linkFlush(link, LINK_CLIPBOARD, socket);
        continueClipboardSend(window, link);
        break;
    case FD_CONNECT:
        if (link.clipboardConnectFailed == 1 || error != 0) {
            if (link.clipboardRetrying) {
                // A retry that failed says nothing: the next one follows.
                link.clipboardRetrying = false;
                closeForGood(socket);
                forgetClosedSocket(socket, &link.clipboardSocket);
                scheduleClipboardRetry(link);
            } else {
                MessageBoxA(nullptr, "Could not connect Clipboard.", "Error", MB_OK | MB_ICONWARNING);
            }
        } else {
            link.clipboardRetrying = false;
            link.clipboardRetryDelay = 0;
            resetClipboardBuffer(link);
            linkBegin(link, LINK_CLIPBOARD, socket, LinkRole::Connector);
        }
        break;
    case FD_CLOSE:
        if (isStillOpen(socket, [&] { receiveClipboardData(link); })) break;
        clipboardLinkLost(link, socket);
        break;
    default:
        break;
    }
}

void onLinkProven(HWND window, SOCKET socket, LPARAM notice)
{
    const int channel = noticeChannel(notice);
    const int32_t index = noticeLink(notice);
    if (isGone(socket) || index < 0 || index >= MAX_SLAVES) return;  // the proof of a socket closed since
    Link& link = links[index];
    if (socket != 0 && socket == linkNewcomer(link, channel)) takeOver(window, link, socket, channel);
    linkResume(link, channel);
    if (channel == LINK_CONTROL && socket != 0 && socket == link.controlSocket) {
        onLinkUp(window, link);
        receiveControlPacket(window, link);  // the records that came with the proof
    } else if (channel == LINK_CLIPBOARD && socket != 0 && socket == link.clipboardSocket) {
        u_long waiting = 0;
        if (linkWaiting(link, LINK_CLIPBOARD, socket, &waiting) == 0 && waiting > 0) receiveClipboardData(link);
        continueClipboardSend(window, link);  // a transfer that waited for the handshake
    }
}

void onLinkRefused(HWND window, SOCKET socket, LPARAM notice)
{
    const int channel = noticeChannel(notice);
    const int32_t index = noticeLink(notice);
    if (index < 0 || index >= MAX_SLAVES) return;
    Link& link = links[index];
    if (socket != 0 && socket == linkNewcomer(link, channel)) {
        dropNewcomer(link, channel);  // the live connection beside it never knew of it
        return;
    }
    if (channel == LINK_CONTROL) onControlLinkBroken(window, socket);
    else if (channel == LINK_CLIPBOARD && socket != 0 && socket == link.clipboardSocket && !isGone(socket))
        clipboardLinkLost(link, socket);
}

void endLinkForNewKey(HWND window)
{
    for (Link& link : links) {
        dropNewcomer(link, LINK_CONTROL);
        dropNewcomer(link, LINK_CLIPBOARD);
        if (link.clipboardSocket != 0) clipboardLinkLost(link, link.clipboardSocket);
        if (link.controlSocket != 0) controlLinkLost(window, link, link.controlSocket);
    }
}
