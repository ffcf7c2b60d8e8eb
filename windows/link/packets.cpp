#include "windows/link/packets.h"

#include "app/front_end.h"
#include "windows/clipboard/clipboard.h"
#include "windows/input/edge.h"
#include "input/key_rules.h"
#include "windows/link/link.h"
#include "windows/link/connections.h"
#include "windows/link/sockets.h"

namespace {

// The engine's watch for a partner that stopped answering follows the window.
void watchUnanswered(Link& link)
{
    linkUnanswered(link, link.window.unanswered > 0, windowWaited(link.window, GetTickCount()));
}

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
    // A packet the socket cannot take yet waits in the link's queue, in order.
    const bool sent = linkQueue(link, LINK_CONTROL, bytes, PACKET_SIZE) && linkFlushNow(link, LINK_CONTROL);
    link.sendFailed = !sent;
    if (!sent) WSASetLastError(WSAENOTSOCK);  // there is no connection to send on
    // A packet that asks for a READY joins those under way, and the oldest
    // of them starts the clock: a partner that goes on answering stops it, a
    // link that is dead in silence is ended when it runs out.
    const bool asksForReady = packet.type == PKT_INPUT || packet.type == PKT_ENTER || packet.type == PKT_WHEEL ||
                              packet.type == PKT_HWHEEL;
    if (sent && asksForReady) {
        windowSent(link.window, GetTickCount());
        watchUnanswered(link);
    }
    return sent;
}

// Control comes back when the link that has it fails; another link's
// failure leaves the PC that has control alone.
void sendFailed(HWND window, const Link& link)
{
    if (app.controlLink == nullptr || app.controlLink == &link) dropToLocal(window);
}

void sendReported(HWND window, const Link&)
{
    reportSocketError(WSAGetLastError(), "send ()", window);
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
    (void)window;
    sendPacket(link, packet);
}

bool lastSentPositionIs(const Link& link, int32_t x, int32_t y)
{
    return x == link.lastSentX && y == link.lastSentY;
}

DWORD unansweredFor(const Link& link)
{
    return windowWaited(link.window, GetTickCount());
}

bool noteReady(Link& link)
{
    const bool answered = windowAnswered(link.window);
    watchUnanswered(link);
    return answered;
}

void forgetUnanswered(Link& link)
{
    windowReset(link.window, 1);
    watchUnanswered(link);
}
