// What the Master sends on the control connection, replayed on the X display
// as the Windows Slave replays it: each packet's key, then its move, then its
// button, answered with READY; the announcements when the link comes up and
// whenever the desktop changes. Nothing is held back at start: a key the
// Master sent is a key the user typed.
#include "app/constants.h"
#include "input/scan_codes.h"
#include "unix/log.h"
#include "unix/slave.h"
#include "unix/sockets.h"
#include "unix/desk.h"

namespace {

// A greeting of the protected link read as a packet: its first four bytes,
// "SRLK", as a type no packet has.
constexpr int32_t GREETING_AS_TYPE = 0x4B4C5253;

bool control()
{
    return partnerUp(LINK_CONTROL);
}

void queuePacket(const InputPacket& packet)
{
    uint8_t bytes[PACKET_SIZE];
    encodePacket(packet, bytes);
    if (control()) partnerQueue(LINK_CONTROL, bytes, PACKET_SIZE);
}

void flushControl()
{
    if (control()) partnerFlush(LINK_CONTROL);  // a failed send ends the link as a close would
}

void answerReady()
{
    InputPacket ready;
    ready.type = PKT_READY;
    queuePacket(ready);
}

// The key first, then the move unless the pointer stands there already
// (never left out for a button: a click lands on its own point), then the
// button.
void replayInput(const InputPacket& packet)
{
    if (packet.keyCode != 0 && (packet.keyEvent == EV_KEY_DOWN || packet.keyEvent == EV_KEY_UP)) {
        const int32_t code = inputCodeOf(packet.keyCode, packet.keyScan, packet.keyFlags);
        if (code != 0) desk().key(code, packet.keyEvent == EV_KEY_DOWN);
        else logVerbose("no key here for virtual key %d, scan code %d", packet.keyCode, packet.keyScan);
    }
    const bool button = isButtonEvent(packet.button);
    if (button || !desk().pointerAt(packet.x, packet.y)) desk().moveTo(packet.x, packet.y);
    if (button) desk().button(packet.button);
}

void notePartner(const InputPacket& announcement)
{
    clipPartnerTakes(slave.clip, announcement.x, announcement.y);
    const bool window = (announcement.button & INPUT_CAN_WINDOW) && !(slave.partnerInput & INPUT_CAN_WINDOW);
    slave.partnerInput = announcement.button & SLAVE_TAKES_INPUT;
    // Between two that keep a window of packets under way, each goes at once.
    if (window && control()) sendAtOnce(controlFd());
    logVerbose("the Master takes clipboard %d, input %d", slave.clip.partnerTakes, slave.partnerInput);
}

void dispatch(const InputPacket& packet, bool superseded)
{
    switch (packet.type) {
    case PKT_ENTER:
        desk().moveTo(packet.x, packet.y);
        answerReady();
        slave.partnerDriving = true;
        logVerbose("entered at %d,%d", packet.x, packet.y);
        break;
    case PKT_INPUT:
        if (!superseded) replayInput(packet);
        answerReady();
        break;
    case PKT_WHEEL:
    case PKT_HWHEEL:
        desk().wheel(wheelDelta(packet), packet.type == PKT_HWHEEL);
        answerReady();
        break;
    case PKT_LEAVE:
        // Control goes back to the Master: nothing pressed here stays down.
        desk().releaseAll();
        desk().flush();
        slave.partnerDriving = false;
        logVerbose("left");
        clipPush(slave.clip);
        break;
    case PKT_CLIPBOARD_CAPS:
        notePartner(packet);
        break;
    case GREETING_AS_TYPE:
        if (!slave.plainNoticeGiven) {
            slave.plainNoticeGiven = true;
            logLine("the Master protects the link with a link key, and none is set here: give the same key with "
                    "--key-file (or key-file = FILE in the configuration file)");
        }
        break;
    default:
        break;  // READY, a screen size, and types not known here
    }
}

}  // namespace

void announceLink()
{
    slave.partnerInput = 0;  // a new partner, until it says otherwise
    slave.clip.partnerTakes = 0;
    announceDesktop();
    InputPacket caps;
    caps.type = PKT_CLIPBOARD_CAPS;
    caps.x = CLIPBOARD_EXTENSION_VERSION;
    caps.y = clipTakes(slave.clip);
    caps.button = SLAVE_TAKES_INPUT;
    queuePacket(caps);
    flushControl();
}

void announceDesktop()
{
    if (!control()) return;
    const Desktop desktop = desk().desktop();
    InputPacket size;
    size.type = PKT_SCREEN_SIZE;
    size.x = desktopWidth(desktop);
    size.y = desktopHeight(desktop);
    queuePacket(size);
    flushControl();
    logVerbose("desktop %dx%d announced (%d monitors)", size.x, size.y, desktop.count);
}

// Packets read together are replayed in order, and the X server and the
// Master hear of them once: the injected input first, then every READY.
// From a Master that keeps a window under way, a move followed at once by
// another is answered but not placed.
void onControlBytes(const uint8_t* data, size_t size)
{
    const int32_t n = static_cast<int32_t>(size);
    for (int32_t at = 0; at < n && control();) {
        InputPacket packet;
        bool complete = false;
        at += inboxFeed(slave.inbox, data + at, n - at, &packet, &complete);
        if (!complete) continue;
        dispatch(packet, supersededMove(slave.partnerInput, packet, slave.inbox, data + at, n - at));
    }
    desk().flush();
    flushControl();
}
