#include "windows/link/receive.h"

#include <cstring>

#include "windows/clipboard/clipboard.h"
#include "windows/input/edge.h"
#include "windows/input/injection.h"
#include "windows/link/link.h"
#include "windows/link/packets.h"

namespace {

// The READY goes out as soon as the packet is replayed: posted, it would wait
// behind whatever the window's queue holds.
void answerReady(HWND window, Link& link)
{
    (void)window;
    sendButtonPacket(app, link, PKT_READY, 0, 0);
}

// The partner's announcement: what it takes of the clipboard's richer
// transfers and of input.
void notePartnerTakes(Link& link, const InputPacket& announcement)
{
    notePartnerClipboard(link, announcement.x, announcement.y);
    if (masterAnnounced(link, announcement.button)) {
        // Each packet goes at once: with several under way, the system would
        // otherwise hold a small one back until the one before is
        // acknowledged, a whole round trip.
        const BOOL on = TRUE;
        setsockopt(link.controlSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    }
}

// A packet that came on the link's control connection. A superseded move
// (a newer one follows at once) is answered, not placed.
void dispatchPacket(HWND window, Link& link, const InputPacket& packet, bool superseded)
{
    switch (packet.type) {
    case PKT_ENTER:
        injectAbsoluteMove(link, packet.x, packet.y);  // not gated
        answerReady(window, link);
        link.partnerDriving = true;
        // A program run as administrator in front would keep the replay out: the tray may say so.
        PostMessageA(window, WM_MASTER_ENTERED, 0, 0);
        break;
    case PKT_INPUT:
        if (!superseded) replayInput(link, packet);
        answerReady(window, link);
        break;
    case PKT_READY:
        onPeerReady(app, link);
        break;
    case PKT_SCREEN_SIZE:
        if (packet.x > 0 && packet.y > 0) link.remoteSizeFromPartner = 1;
        masterSlaveSize(app, link, packet.x, packet.y);
        break;
    case PKT_WHEEL:
        injectWheel(wheelDelta(packet));  // not gated
        answerReady(window, link);
        break;
    case PKT_HWHEEL:
        injectWheel(wheelDelta(packet), true);
        answerReady(window, link);
        break;
    case PKT_LEAVE:
        // Control goes back to the Master: nothing the replay pressed may stay
        // down here, since its release will happen on the Master.
        releaseInjectedInput();
        link.partnerDriving = false;
        pushClipboard(app.mainWindow, link);
        break;
    case PKT_CLIPBOARD_CAPS:
        notePartnerTakes(link, packet);
        break;
    default:
        break;  // unknown types, 0 included, are dropped
    }
}

}  // namespace

void receiveControlBytes(HWND window, Link& link, const uint8_t* data, size_t n)
{
    // What arrived joins the batch, which is split into packets; a packet
    // begun in one batch and finished in the next waits in the inbox. Each
    // packet leaves the batch before it is dispatched, so a handler that runs
    // a nested message loop (a message box) and gets here again with more
    // first carries on with the rest of the batch, in order.
    while (n > 0) {
        if (link.batchBegin == link.batchEnd) link.batchBegin = link.batchEnd = 0;
        if (link.batchEnd == static_cast<int32_t>(sizeof link.batch) && link.batchBegin > 0) {
            std::memmove(link.batch, link.batch + link.batchBegin, static_cast<size_t>(link.batchEnd - link.batchBegin));
            link.batchEnd -= link.batchBegin;
            link.batchBegin = 0;
        }
        const size_t room = sizeof link.batch - static_cast<size_t>(link.batchEnd);
        const size_t step = n < room ? n : room;
        std::memcpy(link.batch + link.batchEnd, data, step);
        link.batchEnd += static_cast<int32_t>(step);
        data += step;
        n -= step;
        while (link.batchBegin < link.batchEnd) {
            InputPacket packet;
            bool complete = false;
            link.batchBegin += inboxFeed(link.inbox, link.batch + link.batchBegin, link.batchEnd - link.batchBegin,
                                         &packet, &complete);
            if (complete)
                dispatchPacket(window, link, packet,
                               supersededMove(link.partnerInput, packet, link.inbox, link.batch + link.batchBegin,
                                              link.batchEnd - link.batchBegin));
        }
    }
}

void resetControlInbox(Link& link)
{
    inboxReset(link.inbox);
    link.batchBegin = link.batchEnd = 0;
}
