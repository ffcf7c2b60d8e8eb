#include "link/packets.h"

#include <cstdio>

#include "app/panel.h"
#include "input/edge.h"
#include "input/injection.h"
#include "link/link_key.h"

namespace {

PacketInbox controlInbox;

// What one receive brought and has not been dispatched yet.
struct ReceiveBatch {
    uint8_t bytes[64 * 1024];
    int32_t begin = 0, end = 0;
} controlBatch;

// The pointer position the partner was last sent, in a PKT_INPUT or PKT_ENTER.
int32_t lastSentX = 0, lastSentY = 0;

// Whether a packet awaits its READY, and since when the oldest one has.
bool awaiting = false;
DWORD awaitingSince = 0;

void notePosition(int32_t type, int32_t x, int32_t y)
{
    if (type != PKT_INPUT && type != PKT_ENTER) return;
    lastSentX = x;
    lastSentY = y;
}

bool sendPacket(SOCKET socket, const InputPacket& packet)
{
    uint8_t bytes[PACKET_SIZE];
    encodePacket(packet, bytes);
    const bool sent =
        linkSend(LINK_CONTROL, socket, reinterpret_cast<const char*>(bytes), PACKET_SIZE) != SOCKET_ERROR;
    // A packet that asks for a READY starts the clock; so does one the socket
    // could not take for a full buffer: a partner that goes on answering
    // stops it, a link that is dead in silence is ended when it runs out.
    const bool asksForReady = packet.type == PKT_INPUT || packet.type == PKT_ENTER || packet.type == PKT_WHEEL;
    if (!awaiting && ((sent && asksForReady) || (!sent && WSAGetLastError() == WSAEWOULDBLOCK))) {
        awaiting = true;
        awaitingSince = GetTickCount();
    }
    return sent;
}

// A send that failed for any reason but a full buffer has broken the
// connection for good: it is ended as if the partner had closed it, once the
// current message is done, so the link can be made again.
void linkBroken(HWND window, SOCKET socket, int error)
{
    if (error != WSAEWOULDBLOCK && socket != 0 && socket != INVALID_SOCKET)
        PostMessageA(window, WM_LINK_BROKEN, socket, 0);
}

void sendFailed(HWND window, SOCKET socket)
{
    const int error = WSAGetLastError();
    dropToLocal(window);
    linkBroken(window, socket, error);
}

void sendReported(HWND window, SOCKET socket)
{
    const int error = WSAGetLastError();
    linkBroken(window, socket, error);
    reportSocketError(error, "send ()", window);
}

}  // namespace

void sendButtonPacket(HWND window, SOCKET socket, int32_t type, int32_t x, int32_t y)
{
    InputPacket packet;
    packet.type = type;
    packet.x = x;
    packet.y = y;
    takeButton(app.buttonQueue, &packet.button);
    notePosition(type, x, y);
    if (!sendPacket(socket, packet)) sendFailed(window, socket);
}

void sendKeyPacket(HWND window, SOCKET socket, int32_t type, int32_t x, int32_t y)
{
    InputPacket packet;
    packet.type = type;
    packet.x = x;
    packet.y = y;
    showStatusValue(app.statusLabel1, app.keyQueue.count);
    showStatusValue(app.statusLabel2, app.keyQueue.readIndex);
    takeKey(app.keyQueue, &packet.keyCode, &packet.keyEvent);
    showStatusValue(app.statusLabel1, app.keyQueue.count);
    showStatusValue(app.statusLabel2, app.keyQueue.readIndex);
    notePosition(type, x, y);
    if (!sendPacket(socket, packet)) sendFailed(window, socket);
}

void sendWheelPacket(HWND window, SOCKET socket, int32_t type, int32_t delta)
{
    if (!sendPacket(socket, makeWheelPacket(type, delta))) sendReported(window, socket);
}

void sendPlainPacket(HWND window, SOCKET socket, int32_t type, int32_t a, int32_t b)
{
    InputPacket packet;
    packet.type = type;
    packet.x = a;
    packet.y = b;
    if (!sendPacket(socket, packet)) sendReported(window, socket);
}

void sendQuietPacket(HWND window, SOCKET socket, int32_t type, int32_t a, int32_t b)
{
    InputPacket packet;
    packet.type = type;
    packet.x = a;
    packet.y = b;
    if (!sendPacket(socket, packet)) linkBroken(window, socket, WSAGetLastError());
}

void receiveControlPacket(HWND window, SOCKET socket)
{
    // One receive per read event takes what the socket holds, up to a batch,
    // and the batch is split into packets; a packet begun in one batch and
    // finished in the next waits in the inbox. When more waits, the socket
    // reports again, and whatever was posted meanwhile is handled in
    // between. Each packet leaves the batch before it is dispatched, so a
    // handler that runs a nested message loop (a message box) and gets here
    // again first carries on with the rest of the batch, in order.
    bool received = false;
    for (;;) {
        while (controlBatch.begin < controlBatch.end) {
            InputPacket packet;
            bool complete = false;
            controlBatch.begin += inboxFeed(controlInbox, controlBatch.bytes + controlBatch.begin,
                                            controlBatch.end - controlBatch.begin, &packet, &complete);
            if (complete) dispatchPacket(window, packet);
        }
        if (received) return;
        received = true;
        const int n = linkRecv(LINK_CONTROL, socket, reinterpret_cast<char*>(controlBatch.bytes),
                               sizeof controlBatch.bytes);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) reportSocketError(error, "recv ()", window);
            return;
        }
        if (n == 0) return;  // the partner closed; FD_CLOSE follows
        controlBatch.begin = 0;
        controlBatch.end = n;
    }
}

bool lastSentPositionIs(int32_t x, int32_t y)
{
    return x == lastSentX && y == lastSentY;
}

DWORD unansweredFor()
{
    return awaiting ? GetTickCount() - awaitingSince : 0;
}

void forgetUnanswered()
{
    awaiting = false;
}

void resetControlInbox()
{
    inboxReset(controlInbox);
    controlBatch.begin = controlBatch.end = 0;
}

void reportSocketError(int code, const char* call, HWND owner)
{
    char text[92] = {};
    _snprintf(text, sizeof text - 1, "Call to %s returned error %d!", call, code);  // msvcrt's own, on every Windows
    MessageBoxA(owner, text, "Socket Error", MB_OK);
}
