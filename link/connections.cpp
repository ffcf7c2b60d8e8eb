#include "link/connections.h"

#include "clipboard/clipboard.h"
#include "input/edge.h"
#include "input/hooks.h"
#include "input/injection.h"
#include "link/packets.h"

namespace {

// The partner's address as the control connection's connect resolved it: the
// clipboard connection goes to the same address without a second lookup.
in_addr partnerAddress = {};
bool partnerAddressKnown = false;

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

int connectTo(in_addr address, int32_t port, UINT message, SOCKET* socketSlot)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return 0;
    *socketSlot = s;
    WSAAsyncSelect(s, app.mainWindow, message, SOCKET_EVENTS);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    target.sin_addr = address;
    if (connect(s, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) return 1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 1 : 0;
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

enum class Accepted { Partner, Stranger, Failed };

// Accepts on the listener. A stranger's connection is closed at once and the
// slot is left alone; the partner's takes the slot, and a live connection it
// replaces is closed, so its late notifications cannot reach the new one.
Accepted acceptInto(SOCKET listener, SOCKET* socketSlot, HWND window)
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
        closesocket(s);
        return Accepted::Stranger;
    }
    const SOCKET earlier = *socketSlot;
    *socketSlot = s;
    if (earlier != 0 && earlier != s) closesocket(earlier);
    return Accepted::Partner;
}

// Closes a connection that the partner ended; true when the close succeeded.
bool closeConnection(SOCKET s)
{
    shutdown(s, SD_BOTH);
    WSAGetLastError();  // errors of the shutdown are read and ignored
    return closesocket(s) == 0;
}

// Empties the slot of a connection just closed. The system hands a closed
// socket's number out again, often to the next socket accepted for the other
// connection: a slot that kept the number would have the next accept into it
// close that live connection, and a late send here would write into it.
void forgetClosedSocket(SOCKET closed, SOCKET* socketSlot)
{
    if (*socketSlot == closed) *socketSlot = 0;
}

void listenOnBothPorts()
{
    startListening(app.port, WM_CONTROL_SOCKET, &app.controlListener, &app.controlListening);
    startListening(app.port + 1, WM_CLIPBOARD_SOCKET, &app.clipboardListener, &app.clipboardListening);
}

}  // namespace

void connectOrListen()
{
    if (startConnect(app.partnerHost, app.port, WM_CONTROL_SOCKET, &app.controlSocket)) return;
    listenOnBothPorts();
}

int startListening(int32_t port, UINT message, SOCKET* listenerSlot, int32_t* listeningFlag)
{
    if (*listeningFlag == 1) return 1;
    *listeningFlag = 1;  // a listener whose start fails is never tried again
    if (!startSocketLayer()) {
        errorBox("WSA Initialisation failed.");
        return 0;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        errorBox("Socket Creation failed.");
        return 0;
    }
    *listenerSlot = s;
    WSAAsyncSelect(s, app.mainWindow, message, SOCKET_EVENTS);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
        errorBox("Attempt to bind socket failed.");
        return 0;
    }
    listen(s, 1);
    return 1;
}

int startConnect(const char* host, int32_t port, UINT message, SOCKET* socketSlot)
{
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
    if (app.mode == MODE_MASTER) {
        installHooks(window);
        app.masterLinked = 1;
    } else if (app.mode == MODE_SLAVE) {
        sendPlainPacket(window, app.controlSocket, PKT_SCREEN_SIZE, app.localWidth, app.localHeight);
    }
}

void onControlSocketEvent(HWND window, SOCKET socket, LPARAM lParam)
{
    const int event = WSAGETSELECTEVENT(lParam);
    const int error = WSAGETSELECTERROR(lParam);
    const bool isListener = app.controlListening && socket == app.controlListener;
    // A notification of a socket no longer in a slot is a leftover of a
    // connection that has been replaced or closed: it concerns nothing live.
    if (socket != app.controlSocket && !isListener) return;
    if (isConnectFailure(error)) app.connectFailed = 1;

    switch (event) {
    case FD_READ:
        receiveControlPacket(window, socket);
        break;
    case FD_ACCEPT:
        if (!isListener) break;
        switch (acceptInto(socket, &app.controlSocket, window)) {
        case Accepted::Partner: onLinkUp(window); break;
        case Accepted::Failed: MessageBoxA(window, "Accept Failed", "Info", MB_OK | MB_ICONWARNING); break;
        case Accepted::Stranger: break;
        }
        break;
    case FD_CONNECT:
        // Every error code means the connect failed, not only the usual three.
        if (app.connectFailed == 1 || error != 0) {
            app.connectFailed = 0;
            listenOnBothPorts();
        } else {
            onLinkUp(window);
            const int started = partnerAddressKnown
                                    ? connectTo(partnerAddress, app.port + 1, WM_CLIPBOARD_SOCKET, &app.clipboardSocket)
                                    : 0;
            if (!started)
                MessageBoxA(window, "Could not initiate clipboard connect.", "Error", MB_OK | MB_ICONWARNING);
        }
        break;
    case FD_CLOSE:
        if (closeConnection(socket)) {
            if (app.controlListening == 0)
                startListening(app.port, WM_CONTROL_SOCKET, &app.controlListener, &app.controlListening);
            releaseHooks();
        }
        forgetClosedSocket(socket, &app.controlSocket);
        if (app.mode == MODE_MASTER) {
            app.masterLinked = 0;
            dropToLocal(window);
        }
        // Whatever the replay holds down here would otherwise stay down.
        releaseInjectedInput();
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
    if (socket != app.clipboardSocket && !isListener) return;
    if (isConnectFailure(error)) app.clipboardConnectFailed = 1;

    switch (event) {
    case FD_READ:
        receiveClipboardData();
        break;
    case FD_WRITE:
        continueClipboardSend(window);  // the socket drained: the rest of a transfer goes out
        break;
    case FD_ACCEPT:
        if (!isListener) break;
        switch (acceptInto(socket, &app.clipboardSocket, window)) {
        case Accepted::Partner: resetClipboardBuffer(); break;
        case Accepted::Failed: MessageBoxA(window, "CB Accept Failed", "Info", MB_OK | MB_ICONWARNING); break;
        case Accepted::Stranger: break;
        }
        break;
    case FD_CONNECT:
        if (app.clipboardConnectFailed == 1 || error != 0)
            MessageBoxA(nullptr, "Could not connect Clipboard.", "Error", MB_OK | MB_ICONWARNING);
        else
            resetClipboardBuffer();
        break;
    case FD_CLOSE:
        if (closeConnection(socket) && app.clipboardListening == 0)
            startListening(app.port + 1, WM_CLIPBOARD_SOCKET, &app.clipboardListener, &app.clipboardListening);
        forgetClosedSocket(socket, &app.clipboardSocket);
        resetClipboardBuffer();  // what was half sent or half received is gone with it
        break;
    default:
        break;
    }
}
