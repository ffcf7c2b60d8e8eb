#include "windows/link/packets.h"

#include "windows/clipboard/clipboard.h"
#include "windows/link/connections.h"
#include "windows/link/link.h"
#include "windows/link/sockets.h"

void sendPlainPacket(HWND window, Link& link, int32_t type, int32_t a, int32_t b)
{
    InputPacket packet;
    packet.type = type;
    packet.x = a;
    packet.y = b;
    if (!lineSend(app, link, packet)) reportSocketError(WSAGetLastError(), "send ()", window);
}

void announce(HWND, Link& link)
{
    link.partnerInput = 0;  // a new partner, until it says otherwise
    InputPacket packet;
    packet.type = PKT_CLIPBOARD_CAPS;
    packet.x = CLIPBOARD_EXTENSION_VERSION;
    packet.y = clipboardAnnouncement(link);
    packet.button = INPUT_WE_TAKE;
    // Only a partner of this program reads it: a failed send ends the link
    // as any broken send does, without a box.
    lineSend(app, link, packet);
}

DWORD unansweredFor(const Link& link)
{
    return windowWaited(link.window, GetTickCount());
}

void forgetUnanswered(Link& link)
{
    windowReset(link.window, 1);
    linkUnanswered(link, false, 0);
}
