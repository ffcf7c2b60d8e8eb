// The sockets beneath the links: the socket layer's start, a connect, the
// listeners of each port and what they accept, and who may connect at all (a
// partner, matched by the port its connection came in on and the address it
// came from). Sockets are closed here for good: the notices a closed socket
// leaves behind are passed over until the last of them has come round.
#include "windows/link/sockets.h"

#include <cstdio>
#include <mstcpip.h>

#include "windows/link/connections.h"
#include "windows/link/link.h"
#include "windows/link/link_key.h"

namespace {

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

void errorBox(const char* text)
{
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING);
}

void keepAlive(SOCKET s)
{
    const BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive values = {1, KEEPALIVE_IDLE_MS, KEEPALIVE_INTERVAL_MS};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
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

}  // namespace

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

void reportSocketError(int code, const char* call, HWND owner)
{
    char text[92] = {};
    _snprintf(text, sizeof text - 1, "Call to %s returned error %d!", call, code);  // msvcrt's own, on every Windows
    MessageBoxA(owner, text, "Socket Error", MB_OK);
}
