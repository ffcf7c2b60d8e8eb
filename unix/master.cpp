// The Linux Master: the Master's decisions (input/master_core.h) over the X
// display's edges, capture and notice (unix/x_master.h) and up to four
// links (unix/links.h). The pointer is always held while a Slave has
// control: the capture reads the hand's motion as steps, so a Slave's every
// pixel is reached whatever the sizes.
#include "unix/master.h"

#include <cstdio>
#include <cstring>

#include "clipboard/clipboard_buffer.h"
#include "input/key_rules.h"
#include "input/master_core.h"
#include "unix/links.h"
#include "unix/log.h"
#include "unix/loop.h"
#include "unix/master_clipboard.h"
#include "unix/sockets.h"
#include "unix/x_master.h"
#include "unix/desk.h"

namespace {

// A greeting of the protected link read as a packet: its first four bytes,
// "SRLK", as a type no packet has.
constexpr int32_t GREETING_AS_TYPE = 0x4B4C5253;

struct SlaveSide : SlaveLine {
    bool present = false;
    std::string host;
    int32_t port = 447;
    bool sizeFromPartner = false;  // its PKT_SCREEN_SIZE came
    bool plainNoticeGiven = false;
    PacketInbox inbox;
    char name[300] = {};
};

MasterState master;
SlaveSide slaves[MAX_SLAVES];
uint32_t hotkeys[HOTKEY_COUNT] = {};
HotkeyMatcher matcher;
Timer wheelTimer, guardTimer;
// A capture the X server refused (another program holds the keyboard or the
// pointer): control goes home as soon as the decision that wanted it ends.
bool captureRefused = false;

int32_t sideBit(int32_t side)
{
    switch (side) {
    case POS_LEFT: return X_EDGE_LEFT;
    case POS_RIGHT: return X_EDGE_RIGHT;
    case POS_ABOVE: return X_EDGE_TOP;
    case POS_BELOW: return X_EDGE_BOTTOM;
    default: return 0;
    }
}

// The edges that face a linked Slave are watched, those alone.
void watchEdges()
{
    uint8_t sides = 0;
    for (int32_t side : {POS_LEFT, POS_RIGHT, POS_ABOVE, POS_BELOW})
        if (masterLinked(master, deskNeighbour(master.desk, DESK_MASTER, side))) sides |= sideBit(side);
    xWatchEdges(sides);
}

void sendNow(SlaveSide& slave, const InputPacket& packet)
{
    lineSend(master, slave, packet);
}

// The decisions that wanted a capture the server refused have ended: home.
void settle()
{
    if (!captureRefused) return;
    captureRefused = false;
    if (master.controlState != STATE_LOCAL) {
        logLine("another program holds the keyboard or the pointer: control stays here");
        masterHotkey(master, HOTKEY_TO_MASTER);
    }
    desk().flush();
}

// A point a pixel inside the desktop's outer edges: the pointer put back on
// an edge that faces a Slave would cross again at once.
Point offTheEdge(Point p)
{
    const Rect& b = master.desktop.bounds;
    const auto clamp = [](int32_t v, int32_t low, int32_t high) { return v < low ? low : v > high ? high : v; };
    return {clamp(p.x, b.left + 1, b.right - 2), clamp(p.y, b.top + 1, b.bottom - 2)};
}

class LinuxMaster final : public MasterHost {
    bool remote = false;  // a Slave has control, as last told

public:
    uint32_t now() override { return static_cast<uint32_t>(nowMs()); }

    bool send(SlaveLine& line, const uint8_t packet[PACKET_SIZE]) override
    {
        return linkQueue(line.index, LINK_CONTROL, packet, PACKET_SIZE) && linkFlush(line.index, LINK_CONTROL);
    }

    void unanswered(SlaveLine& line, bool waiting, uint32_t waitedMs) override
    {
        linkUnanswered(line.index, waiting, nowMs() - waitedMs);
    }

    void sendRefused(SlaveLine& line) override { logVerbose("a wheel turn for %s could not go", slaves[line.index].name); }

    void wheelLater(SlaveLine& line) override
    {
        static int32_t index;
        index = line.index;
        timerStart(wheelTimer, 0, [](void*) { masterSendWheel(master, slaves[index]); }, nullptr);
    }

    void capture(const SlaveLine&, bool, Point) override
    {
        if (!xCaptureStart()) captureRefused = true;
    }

    void release() override
    {
        // From here no key reaches this program but the hotkeys': what it
        // saw held is forgotten (the modifiers are told again with the next).
        hotkeyReset(matcher);
        std::memset(master.keysDown, 0, sizeof master.keysDown);
        const Point at = offTheEdge(master.lastOnMaster);
        xCaptureEnd(at.x, at.y);
    }

    void place(Point at) override
    {
        if (master.controlState != STATE_LOCAL) {
            masterPlaced(master);
            return;
        }
        const Point off = offTheEdge(at);
        xWarp(off.x, off.y);
    }

    Point pointerAt(Point) override
    {
        Point at = {0, 0};
        xPointerWhere(&at.x, &at.y);
        return at;
    }

    void guardTimer(uint32_t ms) override
    {
        timerStart(::guardTimer, static_cast<int32_t>(ms), [](void*) {
            masterGuardDue(master);
            settle();
        }, nullptr);
    }

    void controlMoved(ControlMove how, SlaveLine* from, SlaveLine* to) override
    {
        if (how == ControlMove::Left) {
            xNoticeHide();
            if (from) {
                logVerbose("left %s", slaves[from->index].name);
            } else if (remote) {
                logVerbose("control back here: the Slave's link failed");
            }
            remote = false;
            return;
        }
        remote = true;
        char text[400];
        std::snprintf(text, sizeof text, "%s has the keyboard and mouse", slaves[to->index].name);
        xNoticeShow(text);
        logVerbose("%s %s", how == ControlMove::Entered ? "entered" : "switched to", slaves[to->index].name);
        masterClipboardEntered(from ? from->index : -1, to->index);
    }

    void lockChanged(bool locked) override
    {
        logLine(locked ? "crossing locked: control stays where it is" : "crossing unlocked");
    }

    void status(int32_t slot, const char* text) override
    {
        if (slot == 4) logLine("%s", text);
    }
};

LinuxMaster host;

// ---- What the X display hands in.
void edgeHit(uint8_t side, int32_t x, int32_t y)
{
    // The pointer stopped at the edge: the push goes one pixel past it.
    const Point past = {x - (side == X_EDGE_LEFT), y - (side == X_EDGE_TOP)};
    masterPointer(master, {past.x + (side == X_EDGE_RIGHT), past.y + (side == X_EDGE_BOTTOM)});
    settle();
}

void edgeLeft(uint8_t)
{
    if (master.controlState != STATE_LOCAL) return;
    Point at = {0, 0};
    xPointerWhere(&at.x, &at.y);
    masterPointer(master, at);
}

void motion(int32_t dx, int32_t dy)
{
    if (master.controlState == STATE_LOCAL) return;
    masterPointer(master, {master.holdAt.x + dx, master.holdAt.y + dy});
    settle();
}

void key(int32_t vk, int32_t scan, bool extended, bool down)
{
    const HotkeyStep step = hotkeyKey(matcher, hotkeys, HOTKEY_COUNT, static_cast<uint32_t>(vk), !down);
    if (!step.keep) {
        const KeyEvent event = {keyWord(static_cast<uint32_t>(vk), static_cast<uint32_t>(scan), extended),
                                down ? EV_KEY_DOWN : EV_KEY_UP};
        masterKey(master, static_cast<uint32_t>(vk), !down, &event);
    }
    if (step.action >= 0) masterHotkey(master, step.action);
    settle();
}

void keyState(int32_t vk, bool down)
{
    hotkeyKey(matcher, hotkeys, 0, static_cast<uint32_t>(vk), !down);
    masterKey(master, static_cast<uint32_t>(vk), !down, nullptr);
}

void button(int32_t code)
{
    masterButton(master, code);
    settle();
}

void wheel(int32_t delta, bool horizontal)
{
    masterWheel(master, horizontal ? PKT_HWHEEL : PKT_WHEEL, delta);
}

// ---- What the Slaves send.
void dispatch(SlaveSide& slave, const InputPacket& packet)
{
    switch (packet.type) {
    case PKT_READY:
        onPeerReady(master, slave);
        break;
    case PKT_SCREEN_SIZE:
        if (packet.x > 0 && packet.y > 0) slave.sizeFromPartner = true;
        masterSlaveSize(master, slave, packet.x, packet.y);
        logVerbose("%s's desktop: %dx%d", slave.name, packet.x, packet.y);
        break;
    case PKT_CLIPBOARD_CAPS:
        masterClipboardTakes(slave.index, packet.x, packet.y);
        // Between two that keep a window of packets under way, each goes at once.
        if (masterAnnounced(slave, packet.button)) sendAtOnce(linkControlFd(slave.index));
        logVerbose("%s takes clipboard %d, input %d", slave.name, packet.y, slave.partnerInput);
        break;
    case GREETING_AS_TYPE:
        if (!slave.plainNoticeGiven) {
            slave.plainNoticeGiven = true;
            logLine("%s protects the link with a link key, and none is set here: give the same key with "
                    "--key-file (or key-file = FILE in the configuration file)",
                    slave.name);
        }
        break;
    default:
        break;  // what a Slave never sends
    }
}

void ownSize(SlaveSide& slave)
{
    // This PC's own size until the Slave gives its own.
    if (slave.sizeFromPartner) return;
    slave.remoteWidth = desktopWidth(master.desktop);
    slave.remoteHeight = desktopHeight(master.desktop);
}

void up(int32_t index)
{
    SlaveSide& slave = slaves[index];
    inboxReset(slave.inbox);
    slave.sizeFromPartner = false;
    ownSize(slave);
    masterLinkUp(master, slave);
    slave.partnerInput = 0;  // a new partner, until it says otherwise
    InputPacket caps;
    caps.type = PKT_CLIPBOARD_CAPS;
    caps.x = CLIPBOARD_EXTENSION_VERSION;
    caps.y = masterClipboardOffer();
    caps.button = INPUT_WE_TAKE;
    sendNow(slave, caps);
    watchEdges();
}

void lost(int32_t index, const char*, bool)
{
    masterLinkDown(master, slaves[index]);
    watchEdges();
    settle();
}

void received(int32_t index, int channel, const uint8_t* data, size_t size)
{
    if (channel == LINK_CLIPBOARD) {
        masterClipboardBytes(index, data, size);
        return;
    }
    SlaveSide& slave = slaves[index];
    const int32_t n = static_cast<int32_t>(size);
    for (int32_t at = 0; at < n && linkUp(index, LINK_CONTROL);) {
        InputPacket packet;
        bool complete = false;
        at += inboxFeed(slave.inbox, data + at, n - at, &packet, &complete);
        if (complete) dispatch(slave, packet);
    }
    settle();
}

void drained(int32_t index, int channel)
{
    if (channel == LINK_CLIPBOARD) masterClipboardDrained(index);
}

bool quiet(int32_t index)
{
    return slaves[index].plainNoticeGiven;
}

const char* name(int32_t index)
{
    return slaves[index].name;
}

void measure()
{
    master.desktop = desk().desktop();
    const Rect& first = master.desktop.monitors[0];
    master.localWidth = master.desktop.count > 0 ? first.right - first.left : 0;
    master.localHeight = master.desktop.count > 0 ? first.bottom - first.top : 0;
}

}  // namespace

void startMaster(const Options& options, const uint8_t* stretched)
{
    measure();
    master.host = &host;
    master.alwaysHold = true;
    master.guards = options.guards;
    std::memcpy(hotkeys, options.hotkeys, sizeof hotkeys);
    hotkeyReset(matcher);
    SlavePlace places[MAX_SLAVES] = {};
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        SlaveSide& slave = slaves[i];
        slave.index = i;
        slave.present = i == 0 || !options.more[i - 1].partner.empty();
        slave.host = i == 0 ? options.partner : options.more[i - 1].partner;
        slave.port = i == 0 ? options.port : options.more[i - 1].port;
        std::snprintf(slave.name, sizeof slave.name, "Slave %d (%s)", static_cast<int>(i + 1), slave.host.c_str());
        places[i] = {slave.present ? 1 : 0, i == 0 ? (options.position ? options.position : POS_RIGHT)
                                                   : options.more[i - 1].position,
                     i == 0 ? 0 : options.more[i - 1].nextTo};
        ownSize(slave);
        master.lines[i] = &slave;
    }
    int32_t culprit = -1;
    buildDesk(places, &master.desk, &culprit);  // the settings were checked: it stands
    masterClipboardStart(options.fileLimitMB);
    xMasterHandle(XMasterHandlers{edgeHit, edgeLeft, motion, key, button, wheel, keyState});
    uint32_t missing = 0;
    xGrabHotkeys(hotkeys, HOTKEY_COUNT, &missing);
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i) {
        if (!(missing & (1u << i))) continue;
        char text[48];
        hotkeyText(hotkeys[i], text);
        logLine("the key %s is taken by another program: it does not move control here", text);
    }
    linksStart(LinkUser{up, lost, masterClipboardFresh, masterClipboardEnded, received, drained, quiet, name}, true, stretched);
    for (const SlaveSide& slave : slaves)
        if (slave.present) linksAdd(slave.index, slave.host, slave.port);
}

void endMaster()
{
    // Whatever the Slave in control holds goes up with the link; this PC's
    // keyboard and pointer come back first.
    if (master.controlState != STATE_LOCAL) masterHotkey(master, HOTKEY_TO_MASTER);
    linksEnd();
}

int32_t masterWaitMs()
{
    return linksWaitMs();
}

void masterDesktopMoved()
{
    measure();
    for (SlaveSide& slave : slaves) ownSize(slave);
    masterRefit(master);
}

bool masterQueue(int32_t index, int channel, const void* data, size_t n)
{
    return linkQueue(index, channel, data, n);
}

bool masterInControl(int32_t index)
{
    return master.controlState != STATE_LOCAL && master.control && master.control->index == index;
}
