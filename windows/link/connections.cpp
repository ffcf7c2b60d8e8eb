// The links' life: a link comes up and is lost, and heals. A Master tries
// its partner again, a little later each time, and watches each link for a
// partner that stopped answering; a clipboard connection that ended alone is
// made again; a newcomer that proves the link key takes over from the live
// connection. The socket notices that drive all of it are handled here; the
// sockets themselves are made, matched and closed in link/sockets.cpp.
#include "windows/link/connections.h"

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

namespace {

// No READY for this long to a packet that asks for one: the partner is gone.
constexpr DWORD SILENT_PARTNER_MS = 8000;

bool isConnectFailure(int error)
{
    return error == WSAETIMEDOUT || error == WSAECONNREFUSED || error == WSAHOST_NOT_FOUND;
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
    frontEnd.deskChanged();
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
    frontEnd.deskChanged();
}

void onControlLinkBroken(HWND window, SOCKET socket)
{
    if (socket == 0 || isGone(socket)) return;
    if (Link* link = linkWith(LINK_CONTROL, socket)) controlLinkLost(window, *link, socket);
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
    frontEnd.deskChanged();
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
    frontEnd.deskChanged();
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
