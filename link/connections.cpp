#include "link/connections.h"

#include <mstcpip.h>

#include "clipboard/clipboard.h"
#include "input/edge.h"
#include "input/flow.h"
#include "input/hooks.h"
#include "input/injection.h"
#include "link/link_key.h"
#include "link/packets.h"

namespace {

// The partner's address as the control connection's connect resolved it: the
// clipboard connection goes to the same address without a second lookup.
in_addr partnerAddress = {};
bool partnerAddressKnown = false;

// The control connection as the Master's retries see it.
bool controlLinked = false;       // a control connection is up
bool connecting = false;          // a connect of the control connection is under way
bool controlListenerBound = false;
UINT retryDelay = 0;              // the wait before the next try, 0 before the first

// The clipboard connection as its own retries see it. The side that made it
// makes it again when it ends while the control connection stays up; the
// other side's listener, once open, stays open.
bool clipboardConnector = false;  // this side made the clipboard connection
bool clipboardRetrying = false;   // the connect under way is a retry: no box if it fails
UINT clipboardRetryDelay = 0;

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
void dropNewcomer(int channel)
{
    const SOCKET s = linkNewcomer(channel);
    if (s == 0) return;
    linkEnd(channel, s);
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

// Only the partner may link: an incoming connection from any other address
// is refused before it can type on this PC or raise a box.
bool isPartner(in_addr peer)
{
    const hostent* host = gethostbyname(app.partnerHost);
    if (!host || host->h_addrtype != AF_INET) return false;
    for (char** entry = host->h_addr_list; *entry; ++entry)
        if (reinterpret_cast<const in_addr*>(*entry)->s_addr == peer.s_addr) return true;
    return false;
}

enum class Accepted { Partner, Newcomer, Stranger, Failed };

// Accepts on the listener. A stranger's connection is closed at once and the
// slot is left alone; the partner's takes the slot, and a live connection it
// replaces is closed, so its late notifications cannot reach the new one.
// With a link key, a connection that has proved it gives way only to a
// newcomer that proves it too: until then the newcomer waits beside it.
Accepted acceptInto(SOCKET listener, SOCKET* socketSlot, HWND window, int channel)
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
    if (!isPartner(peer.sin_addr)) {
        closeForGood(s);
        return Accepted::Stranger;
    }
    if (linkHoldsProven(channel, *socketSlot)) {
        dropNewcomer(channel);  // one still unproven gives way to the latest
        keepAlive(s);
        linkBeginNewcomer(channel, s);
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
const char* openListener(int32_t port, UINT message, SOCKET* listenerSlot, int32_t* listeningFlag)
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
    if (listenerSlot == &app.controlListener) controlListenerBound = true;
    listen(s, 1);
    return nullptr;
}

// Both listeners start before either failure is shown: a box waiting for its
// OK must not keep the partner from its clipboard connection.
void listenOnBothPorts()
{
    const char* control = openListener(app.port, WM_CONTROL_SOCKET, &app.controlListener, &app.controlListening);
    const char* clipboard =
        openListener(app.port + 1, WM_CLIPBOARD_SOCKET, &app.clipboardListener, &app.clipboardListening);
    if (control) errorBox(control);
    if (clipboard) errorBox(clipboard);
}

bool isMaster()
{
    return app.mode == MODE_MASTER;
}

bool usablePort()
{
    return app.port >= 1 && app.port <= 65534;
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
void scheduleRetry()
{
    if (!isMaster() || controlLinked || connecting || !app.mainWindow) return;
    retryDelay = retryDelay == 0 ? 1000 : retryDelay * 2 > 8000 ? 8000 : retryDelay * 2;
    SetTimer(app.mainWindow, TIMER_RECONNECT, retryDelay, nullptr);
}

// The next try for a clipboard connection that ended alone: after 1, 2, 4
// and then every 8 seconds, as the control connection's, silently.
void scheduleClipboardRetry()
{
    if (!controlLinked || !clipboardConnector || !app.mainWindow) return;
    clipboardRetryDelay = clipboardRetryDelay == 0 ? 1000 : clipboardRetryDelay * 2 > 8000 ? 8000 : clipboardRetryDelay * 2;
    SetTimer(app.mainWindow, TIMER_CLIPBOARD_RETRY, clipboardRetryDelay, nullptr);
}

void stopClipboardRetries()
{
    if (app.mainWindow) KillTimer(app.mainWindow, TIMER_CLIPBOARD_RETRY);
    clipboardRetryDelay = 0;
    clipboardRetrying = false;
}

void tryClipboardAgain()
{
    KillTimer(app.mainWindow, TIMER_CLIPBOARD_RETRY);
    if (!controlLinked || !clipboardConnector || app.clipboardSocket != 0 || !partnerAddressKnown) return;
    app.clipboardConnectFailed = 0;  // a failure seen before belongs to an earlier try
    clipboardRetrying = true;
    if (!connectTo(partnerAddress, app.port + 1, WM_CLIPBOARD_SOCKET, &app.clipboardSocket)) {
        clipboardRetrying = false;
        scheduleClipboardRetry();
    }
}

void tryPartnerAgain()
{
    KillTimer(app.mainWindow, TIMER_RECONNECT);
    if (!isMaster() || controlLinked || connecting || !usablePort()) return;
    const hostent* entry = startSocketLayer() ? gethostbyname(app.partnerHost) : nullptr;
    if (entry && entry->h_addrtype == AF_INET && entry->h_addr_list[0]) {
        const in_addr address = *reinterpret_cast<const in_addr*>(entry->h_addr_list[0]);
        if (!(controlListenerBound && isOwnAddress(address))) {
            partnerAddress = address;
            partnerAddressKnown = true;
            app.connectFailed = 0;  // a failure seen before belongs to an earlier try
            if (connectTo(address, app.port, WM_CONTROL_SOCKET, &app.controlSocket)) {
                connecting = true;
                return;
            }
        }
    }
    scheduleRetry();
}

void startLinkWatch(HWND window)
{
    if (isMaster()) SetTimer(window, TIMER_LINK_WATCH, 1000, nullptr);
}

// The control connection is gone, closed by the partner, by the network or
// by this PC. The user comes first: back to local control and every key and
// button up before anything that may be slow or raise a box.
void controlLinkLost(HWND window, SOCKET socket)
{
    if (isMaster()) {
        app.masterLinked = 0;
        dropToLocal(window);
    }
    // Whatever the replay holds down here would otherwise stay down, and what
    // the user typed ahead of a link that is gone is not typed later.
    releaseInjectedInput();
    forgetPendingKeys();
    controlLinked = false;
    connecting = false;
    KillTimer(window, TIMER_LINK_WATCH);
    stopClipboardRetries();
    linkEnd(LINK_CONTROL, socket);
    if (closeConnection(socket)) {
        if (app.controlListening == 0)
            startListening(app.port, WM_CONTROL_SOCKET, &app.controlListener, &app.controlListening);
        releaseHooks();
    }
    forgetClosedSocket(socket, &app.controlSocket);
    retryDelay = 0;
    scheduleRetry();
}

// The clipboard connection is gone: this side listens for the next one.
void clipboardLinkLost(SOCKET socket)
{
    linkEnd(LINK_CLIPBOARD, socket);
    if (closeConnection(socket) && app.clipboardListening == 0)
        startListening(app.port + 1, WM_CLIPBOARD_SOCKET, &app.clipboardListener, &app.clipboardListening);
    forgetClosedSocket(socket, &app.clipboardSocket);
    resetClipboardBuffer();  // what was half sent or half received is gone with it
    // Ended alone, with the control connection still up: made again.
    if (app.clipboardSocket == 0) scheduleClipboardRetry();
}

// A newcomer beside the live connection: only its handshake is read here,
// and the live connection's reader never sees its bytes.
void onNewcomerEvent(int channel, SOCKET socket, int event)
{
    if (event == FD_READ) {
        char scratch[64];  // nothing comes out before the proof, and after it reading waits
        linkRecv(channel, socket, scratch, sizeof scratch);
    } else if (event == FD_WRITE) {
        linkFlush(channel, socket);
    } else if (event == FD_CLOSE) {
        dropNewcomer(channel);
    }
}

// The newcomer proved the key: the partner came back (after a restart, or
// over a link this side had not yet found dead). It takes the place of the
// connection that was live, which is closed as a replaced one is.
void takeOver(HWND window, SOCKET socket, int channel)
{
    SOCKET* slot = channel == LINK_CONTROL ? &app.controlSocket : &app.clipboardSocket;
    const SOCKET earlier = *slot;
    linkTakeOver(channel);
    *slot = socket;
    if (earlier != 0 && earlier != socket) closeForGood(earlier);
    clipboardConnector = false;  // the partner made this connection
    stopClipboardRetries();
    if (channel == LINK_CLIPBOARD) {
        resetClipboardBuffer();
        return;
    }
    // What the partner that is gone held down, or was owed, goes with it.
    if (isMaster()) dropToLocal(window);
    releaseInjectedInput();
    forgetPendingKeys();
}

}  // namespace

void connectOrListen()
{
    KillTimer(app.mainWindow, TIMER_RECONNECT);
    retryDelay = 0;
    app.connectFailed = 0;  // a failure seen before belongs to an earlier try
    if (startConnect(app.partnerHost, app.port, WM_CONTROL_SOCKET, &app.controlSocket)) {
        connecting = true;
        return;
    }
    listenOnBothPorts();
    scheduleRetry();
}

int startListening(int32_t port, UINT message, SOCKET* listenerSlot, int32_t* listeningFlag)
{
    const char* failure = openListener(port, message, listenerSlot, listeningFlag);
    if (failure) errorBox(failure);
    return failure ? 0 : 1;
}

void onControlLinkBroken(HWND window, SOCKET socket)
{
    if (socket != 0 && socket == app.controlSocket && !isGone(socket)) controlLinkLost(window, socket);
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
    if (socket == linkNewcomer(LINK_CONTROL))
        PostMessageA(app.mainWindow, WM_CONTROL_SOCKET, socket, WSAMAKESELECTREPLY(FD_READ, 0));
    else if (socket == linkNewcomer(LINK_CLIPBOARD))
        PostMessageA(app.mainWindow, WM_CLIPBOARD_SOCKET, socket, WSAMAKESELECTREPLY(FD_READ, 0));
}

void reconnectNow()
{
    retryDelay = 0;
    tryPartnerAgain();
}

void onLinkTimer(HWND window, UINT_PTR id)
{
    if (id == TIMER_RECONNECT) {
        tryPartnerAgain();
    } else if (id == TIMER_CLIPBOARD_RETRY) {
        tryClipboardAgain();
    } else if (id == TIMER_LINK_WATCH) {
        if (controlLinked && unansweredFor() > SILENT_PARTNER_MS) {
            // The partner stopped answering without closing: it froze, slept
            // or lost its network. This side ends the connection.
            controlLinkLost(window, app.controlSocket);
        }
    }
}

int startConnect(const char* host, int32_t port, UINT message, SOCKET* socketSlot)
{
    // A port that cannot work is never used to connect.
    if (port < 1 || port > 65535) return 0;
    if (!startSocketLayer()) return 0;
    const hostent* entry = gethostbyname(host);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) return 0;
    partnerAddress = *reinterpret_cast<const in_addr*>(entry->h_addr_list[0]);
    partnerAddressKnown = true;
    return connectTo(partnerAddress, port, message, socketSlot);
}

void onLinkUp(HWND window)
{
    resetControlInbox();
    forgetUnanswered();
    controlLinked = true;
    connecting = false;
    retryDelay = 0;
    KillTimer(window, TIMER_RECONNECT);
    startLinkWatch(window);
    if (app.mode == MODE_MASTER) {
        installHooks(window);
        app.masterLinked = 1;
    } else {
        reportScreenSize(window);
    }
    announceClipboard(window);
}

// The Slave tells its Master the size of its whole desktop, all monitors
// together: each time the link comes up and whenever the desktop changes.
void reportScreenSize(HWND window)
{
    if (app.mode != MODE_SLAVE || !controlLinked) return;
    sendPlainPacket(window, app.controlSocket, PKT_SCREEN_SIZE, desktopWidth(app.desktop), desktopHeight(app.desktop));
}

void onControlSocketEvent(HWND window, SOCKET socket, LPARAM lParam)
{
    const int event = WSAGETSELECTEVENT(lParam);
    const int error = WSAGETSELECTERROR(lParam);
    const bool isListener = app.controlListening && socket == app.controlListener;
    if (socket != 0 && socket == linkNewcomer(LINK_CONTROL) && !isGone(socket)) {
        onNewcomerEvent(LINK_CONTROL, socket, event);
        return;
    }
    // A notification of a socket no longer in a slot, or of one closed since
    // it was posted, is a leftover of a connection that has been replaced or
    // closed: it concerns nothing live, whatever holds its number now.
    if ((socket != app.controlSocket && !isListener) || isGone(socket)) return;
    if (isConnectFailure(error)) app.connectFailed = 1;

    switch (event) {
    case FD_READ:
        receiveControlPacket(window, socket);
        break;
    case FD_WRITE:
        linkFlush(LINK_CONTROL, socket);  // records sealed while the socket was full
        break;
    case FD_ACCEPT:
        if (!isListener) break;
        switch (acceptInto(socket, &app.controlSocket, window, LINK_CONTROL)) {
        case Accepted::Partner:
            clipboardConnector = false;  // the partner makes the clipboard connection
            stopClipboardRetries();
            if (linkBegin(LINK_CONTROL, app.controlSocket, LinkRole::Acceptor)) onLinkUp(window);
            break;
        case Accepted::Failed: MessageBoxA(window, "Accept Failed", "Info", MB_OK | MB_ICONWARNING); break;
        case Accepted::Newcomer:
        case Accepted::Stranger: break;
        }
        break;
    case FD_CONNECT:
        connecting = false;
        // Every error code means the connect failed, not only the usual three.
        if (app.connectFailed == 1 || error != 0) {
            app.connectFailed = 0;
            // The failed attempt's socket is closed: retries must not pile them up.
            closeForGood(socket);
            forgetClosedSocket(socket, &app.controlSocket);
            listenOnBothPorts();
            scheduleRetry();
        } else {
            // With a link key the link is up once the partner has proved it;
            // until then the handshake counts as part of the connect.
            if (linkBegin(LINK_CONTROL, socket, LinkRole::Connector)) onLinkUp(window);
            else connecting = true;
            // A clipboard connection left from an earlier link gives way, and
            // a failure that ended it says nothing about the new one.
            if (app.clipboardSocket != 0) closeForGood(app.clipboardSocket);
            app.clipboardSocket = 0;
            app.clipboardConnectFailed = 0;
            stopClipboardRetries();
            clipboardConnector = true;
            const int started = partnerAddressKnown
                                    ? connectTo(partnerAddress, app.port + 1, WM_CLIPBOARD_SOCKET, &app.clipboardSocket)
                                    : 0;
            if (!started)
                MessageBoxA(window, "Could not initiate clipboard connect.", "Error", MB_OK | MB_ICONWARNING);
        }
        break;
    case FD_CLOSE:
        if (!isStillOpen(socket, [&] { receiveControlPacket(window, socket); })) controlLinkLost(window, socket);
        break;
    default:
        break;
    }
}

void onClipboardSocketEvent(HWND window, SOCKET socket, LPARAM lParam)
{
    const int event = WSAGETSELECTEVENT(lParam);
    const int error = WSAGETSELECTERROR(lParam);
    const bool isListener = app.clipboardListening && socket == app.clipboardListener;
    if (socket != 0 && socket == linkNewcomer(LINK_CLIPBOARD) && !isGone(socket)) {
        onNewcomerEvent(LINK_CLIPBOARD, socket, event);
        return;
    }
    if ((socket != app.clipboardSocket && !isListener) || isGone(socket)) return;
    if (isConnectFailure(error)) app.clipboardConnectFailed = 1;

    switch (event) {
    case FD_READ:
        receiveClipboardData();
        break;
    case FD_WRITE:
        // The socket drained: what was sealed goes first, then the rest of a transfer.
        linkFlush(LINK_CLIPBOARD, socket);
        continueClipboardSend(window);
        break;
    case FD_ACCEPT:
        if (!isListener) break;
        switch (acceptInto(socket, &app.clipboardSocket, window, LINK_CLIPBOARD)) {
        case Accepted::Partner:
            // The partner made it: any retries of this side's give way.
            clipboardConnector = false;
            stopClipboardRetries();
            resetClipboardBuffer();
            linkBegin(LINK_CLIPBOARD, app.clipboardSocket, LinkRole::Acceptor);
            break;
        case Accepted::Failed: MessageBoxA(window, "CB Accept Failed", "Info", MB_OK | MB_ICONWARNING); break;
        case Accepted::Newcomer:
        case Accepted::Stranger: break;
        }
        break;
    case FD_CONNECT:
        if (app.clipboardConnectFailed == 1 || error != 0) {
            if (clipboardRetrying) {
                // A retry that failed says nothing: the next one follows.
                clipboardRetrying = false;
                closeForGood(socket);
                forgetClosedSocket(socket, &app.clipboardSocket);
                scheduleClipboardRetry();
            } else {
                MessageBoxA(nullptr, "Could not connect Clipboard.", "Error", MB_OK | MB_ICONWARNING);
            }
        } else {
            clipboardRetrying = false;
            clipboardRetryDelay = 0;
            resetClipboardBuffer();
            linkBegin(LINK_CLIPBOARD, socket, LinkRole::Connector);
        }
        break;
    case FD_CLOSE:
        if (isStillOpen(socket, [] { receiveClipboardData(); })) break;
        clipboardLinkLost(socket);
        break;
    default:
        break;
    }
}

void onLinkProven(HWND window, SOCKET socket, int channel)
{
    if (isGone(socket)) return;  // the proof of a socket closed since
    if (socket != 0 && socket == linkNewcomer(channel)) takeOver(window, socket, channel);
    linkResume(channel);
    if (channel == LINK_CONTROL && socket != 0 && socket == app.controlSocket) {
        onLinkUp(window);
        receiveControlPacket(window, socket);  // the records that came with the proof
    } else if (channel == LINK_CLIPBOARD && socket != 0 && socket == app.clipboardSocket) {
        u_long waiting = 0;
        if (linkWaiting(LINK_CLIPBOARD, socket, &waiting) == 0 && waiting > 0) receiveClipboardData();
        continueClipboardSend(window);  // a transfer that waited for the handshake
    }
}

void onLinkRefused(HWND window, SOCKET socket, int channel)
{
    if (socket != 0 && socket == linkNewcomer(channel)) {
        dropNewcomer(channel);  // the live connection beside it never knew of it
        return;
    }
    if (channel == LINK_CONTROL) onControlLinkBroken(window, socket);
    else if (channel == LINK_CLIPBOARD && socket != 0 && socket == app.clipboardSocket && !isGone(socket))
        clipboardLinkLost(socket);
}

void endLinkForNewKey(HWND window)
{
    dropNewcomer(LINK_CONTROL);
    dropNewcomer(LINK_CLIPBOARD);
    if (app.clipboardSocket != 0) clipboardLinkLost(app.clipboardSocket);
    if (app.controlSocket != 0) controlLinkLost(window, app.controlSocket);
}
