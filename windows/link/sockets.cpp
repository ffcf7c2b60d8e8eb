// The sockets beneath the links: the socket layer's start, a connect, a
// listener, and who may connect at all (a partner's address). Sockets are
// closed here for good: the notices a closed socket leaves behind are passed
// over until the last of them has come round.
#include "windows/link/sockets.h"

#include <cstdio>
#include <mstcpip.h>

#include "windows/link/connections.h"

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

// What failed of the listeners since last asked, shown once the engine's turn is done.
const char* listenerFailures[4];
int listenerFailureCount = 0;

void listenerFailed(const char* text)
{
    if (listenerFailureCount < 4) listenerFailures[listenerFailureCount++] = text;
}

}  // namespace

int closeForGood(SOCKET s)
{
    const int result = closesocket(s);
    if (goneCount < 64 && PostMessageA(app.mainWindow, WM_SOCKET_GONE, s, 0)) goneSockets[goneCount++] = s;
    return result;
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

SOCKET openConnection(in_addr address, int32_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return 0;
    WSAAsyncSelect(s, app.mainWindow, WM_CONTROL_SOCKET, SOCKET_EVENTS);
    keepAlive(s);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    target.sin_addr = address;
    if (connect(s, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) return s;
    if (WSAGetLastError() == WSAEWOULDBLOCK) return s;
    // A connect that cannot even start leaves no socket behind: the Master's
    // retries would otherwise pile one up every few seconds.
    closeForGood(s);
    return 0;
}

// A listener whose start fails is never tried again (the engine asks once).
SOCKET openListener(int32_t port)
{
    if (!startSocketLayer()) {
        listenerFailed("WSA Initialisation failed.");
        return 0;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        listenerFailed("Socket Creation failed.");
        return 0;
    }
    WSAAsyncSelect(s, app.mainWindow, WM_CONTROL_SOCKET, SOCKET_EVENTS);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
        closeForGood(s);
        listenerFailed("Attempt to bind socket failed.");
        return 0;
    }
    listen(s, 1);
    return s;
}

void showListenerFailures()
{
    while (listenerFailureCount > 0) {
        const char* text = listenerFailures[0];
        for (int i = 1; i < listenerFailureCount; ++i) listenerFailures[i - 1] = listenerFailures[i];
        --listenerFailureCount;
        errorBox(text);
    }
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
bool isPartnerAddress(const char* host, in_addr peer)
{
    const hostent* entry = gethostbyname(host);
    if (!entry || entry->h_addrtype != AF_INET) return false;
    for (char** address = entry->h_addr_list; *address; ++address)
        if (reinterpret_cast<const in_addr*>(*address)->s_addr == peer.s_addr) return true;
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

void forgetGone(SOCKET socket)
{
    for (int i = 0; i < goneCount; ++i) {
        if (goneSockets[i] == socket) {
            goneSockets[i] = goneSockets[--goneCount];
            break;
        }
    }
}

void reportSocketError(int code, const char* call, HWND owner)
{
    char text[92] = {};
    _snprintf(text, sizeof text - 1, "Call to %s returned error %d!", call, code);  // msvcrt's own, on every Windows
    MessageBoxA(owner, text, "Socket Error", MB_OK);
}
