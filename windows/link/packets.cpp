#include "windows/link/packets.h"

#include "app/front_end.h"
#include "windows/clipboard/clipboard.h"
#include "windows/input/edge.h"
#include "input/key_rules.h"
#include "windows/link/link.h"
#include "windows/link/link_key.h"
#include "windows/link/sockets.h"

namespace {

void notePosition(Link& link, int32_t type, int32_t x, int32_t y)
{
    if (type != PKT_INPUT && type != PKT_ENTER) return;
    link.lastSentX = x;
    link.lastSentY = y;
}

bool sendPacket(Link& link, const InputPacket& packet)
{
    uint8_t bytes[PACKET_SIZE];
    encodePacket(packet, bytes);
    const bool sent = linkSend(link, LINK_CONTROL, link.controlSocket, reinterpret_cast<const char*>(bytes),
                               PACKET_SIZE) != SOCKET_ERROR;
    link.sendFailed = !sent;
    // A packet that asks for a READY joins those under way, and the oldest
    // of them starts the clock; so does one the socket could not take for a
    // full buffer: a partner that goes on answering stops it, a link that is
    // dead in silence is ended when it runs out.
    const bool asksForReady = packet.type == PKT_INPUT || packet.type == PKT_ENTER || packet.type == PKT_WHEEL ||
                              packet.type == PKT_HWHEEL;
    if (sent && asksForReady) windowSent(link.window, GetTickCount());
    if (!sent && WSAGetLastError() == WSAEWOULDBLOCK && !link.stalled) {
        link.stalled = true;
        link.stalledSince = GetTickCount();
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

// Control comes back when the link that has it fails; another link's
// failure leaves the PC that has control alone.
void sendFailed(HWND window, const Link& link)
{
    const int error = WSAGetLastError();
    if (app.controlLink == nullptr || app.controlLink == &link) dropToLocal(window);
    linkBroken(window, link.controlSocket, error);
}

void sendReported(HWND window, const Link& link)
{
    const int error = WSAGetLastError();
    linkBroken(window, link.controlSocket, error);
    reportSocketError(error, "send ()", window);
}

}  // namespace

void sendButtonPacket(HWND window, Link& link, int32_t type, int32_t x, int32_t y)
{
    InputPacket packet;
    packet.type = type;
    packet.x = x;
    packet.y = y;
    takeButton(link.buttonQueue, &packet.button);
    notePosition(link, type, x, y);
    if (!sendPacket(link, packet)) sendFailed(window, link);
}

void sendKeyPacket(HWND window, Link& link, int32_t type, int32_t x, int32_t y)
{
    InputPacket packet;
    packet.type = type;
    packet.x = x;
    packet.y = y;
    frontEnd.statusValue(1, link.keyQueue.count);
    frontEnd.statusValue(2, link.keyQueue.readIndex);
    int32_t key = 0;
    takeKey(link.keyQueue, &key, &packet.keyEvent);
    packet.keyCode = keyWordVk(key);
    // The scan code and extended bit only to a partner that takes them: to
    // any other those bytes stay zero, as they always were.
    if (link.partnerInput & INPUT_CAN_SCAN_CODES) {
        packet.keyScan = keyWordScan(key);
        packet.keyFlags = keyWordExtended(key) ? KEY_FLAG_EXTENDED : 0;
    }
    frontEnd.statusValue(1, link.keyQueue.count);
    frontEnd.statusValue(2, link.keyQueue.readIndex);
    notePosition(link, type, x, y);
    if (!sendPacket(link, packet)) sendFailed(window, link);
}

void sendWheelPacket(HWND window, Link& link, int32_t type, int32_t delta)
{
    if (!sendPacket(link, makeWheelPacket(type, delta))) sendReported(window, link);
}

void sendPlainPacket(HWND window, Link& link, int32_t type, int32_t a, int32_t b)
{
    InputPacket packet;
    packet.type = type;
    packet.x = a;
    packet.y = b;
    if (!sendPacket(link, packet)) sendReported(window, link);
}

void announce(HWND window, Link& link)
{
    link.partnerInput = 0;  // a new partner, until it says otherwise
    InputPacket packet;
    packet.type = PKT_CLIPBOARD_CAPS;
    packet.x = CLIPBOARD_EXTENSION_VERSION;
    packet.y = clipboardAnnouncement(link);
    packet.button = INPUT_WE_TAKE;
    // Only a partner of this program reads it: a failed send ends the link
    // as any broken send does, without a box.
    if (!sendPacket(link, packet)) linkBroken(window, link.controlSocket, WSAGetLastError());
}

bool lastSentPositionIs(const Link& link, int32_t x, int32_t y)
{
    return x == link.lastSentX && y == link.lastSentY;
}

DWORD unansweredFor(const Link& link)
{
    const DWORD now = GetTickCount();
    const DWORD waited = windowWaited(link.window, now);
    const DWORD stalled = link.stalled ? now - link.stalledSince : 0;
    return waited > stalled ? waited : stalled;
}

bool noteReady(Link& link)
{
    link.stalled = false;
    return windowAnswered(link.window);
}

void forgetUnanswered(Link& link)
{
    link.stalled = false;
    windowReset(link.window, 1);
}
