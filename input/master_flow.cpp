// What goes to the Slave in control: buttons, keys and the wheel through the
// queues, one packet at a time awaiting the partner's READY, or, between two
// that announced it, a window of them.
#include "input/master_core.h"

namespace {

// A packet that asks for a READY joins those under way, and the oldest of
// them starts the clock: a partner that goes on answering stops it, a link
// that is dead in silence is ended when it runs out.
bool asksForReady(int32_t type)
{
    return type == PKT_INPUT || type == PKT_ENTER || type == PKT_WHEEL || type == PKT_HWHEEL;
}

void watchUnanswered(MasterState& m, SlaveLine& line)
{
    m.host->unanswered(line, line.window.unanswered > 0, windowWaited(line.window, m.host->now()));
}

// A button or key packet that failed: control comes back when the Slave
// that has it failed; another's failure leaves the PC in control alone.
void sendInput(MasterState& m, SlaveLine& line, const InputPacket& packet)
{
    if (!lineSend(m, line, packet) && (m.control == nullptr || m.control == &line)) masterDrop(m);
}





// The line that has control when it takes the middle and side buttons and the
// sideways wheel; to any other partner they are never sent (the front end
// keeps them from this PC's programs all the same).
SlaveLine* lineTakingMoreButtons(const MasterState& m)
{
    if (m.controlState == STATE_LOCAL || !m.control) return nullptr;
    return (m.control->partnerInput & INPUT_CAN_MORE_BUTTONS) ? m.control : nullptr;
}

bool sideWheelPending(const SlaveLine& line)
{
    return line.pendingSideWheel != 0 && (line.partnerInput & INPUT_CAN_MORE_BUTTONS);
}

enum class Next { Sent, Later, Nothing };

// Sends the line's next pending packet: buttons before keys, then the wheel
// turns that added up, then where the pointer rests now.
// The pointer's position goes along only to the line that has control: a
// line that drains the keys typed before a crossing carries the last point it
// was sent, so its pointer stays where the hand left it.
Next sendNext(MasterState& m, SlaveLine& line)
{
    refillFromBacklog(line.buttonQueue, line.buttonBacklog);
    refillFromBacklog(line.keyQueue, line.keyBacklog);
    const bool inControl = m.controlState == STATE_REMOTE && m.control == &line;
    const int32_t x = inControl || m.control == nullptr ? m.cursorX : line.lastSentX;
    const int32_t y = inControl || m.control == nullptr ? m.cursorY : line.lastSentY;
    if (hasPending(line.buttonQueue)) {
        sendButtonPacket(m, line, PKT_INPUT, x, y);
    } else if (hasPending(line.keyQueue)) {
        sendKeyPacket(m, line, x, y);
    } else if (inControl && (line.pendingWheel != 0 || sideWheelPending(line))) {
        m.host->wheelLater(line);
        return Next::Later;
    } else if (inControl && !lastSentPositionIs(line, m.cursorX, m.cursorY)) {
        // The pointer moved on while the packets under way awaited their
        // answers: send where it rests now, so the Slave's pointer does not
        // stop short.
        sendButtonPacket(m, line, PKT_INPUT, m.cursorX, m.cursorY);
    } else {
        return Next::Nothing;
    }
    return Next::Sent;
}

// With a window, everything pending goes while there is room; the next event
// goes at once while some is left.
void fillWindow(MasterState& m, SlaveLine& line)
{
    while (windowOpen(line.window)) {
        const Next next = sendNext(m, line);
        if (next == Next::Nothing) break;
        if (next == Next::Later || line.sendFailed) {  // the wheel's turn, or the link broke
            line.peerReady = 0;
            return;
        }
    }
    line.peerReady = windowOpen(line.window) ? 1 : 0;
}

// Wheel turns go at once when the partner is ready; in remote control a turn
// that finds a packet awaiting its answer adds to the next. In local state
// the first Slave's line, as with a single Slave: a turn goes out whenever it
// is ready.
void turnWheel(MasterState& m, SlaveLine& line, int32_t type, int32_t* pending, int32_t delta)
{
    if (line.peerReady == 1) {
        sendWheelPacket(m, line, type, delta);
        packetSent(line);
    } else if (m.controlState == STATE_REMOTE) {
        addWheel(pending, delta);
    }
}

void queueButton(MasterState& m, int32_t code)
{
    if (!m.control) return;
    SlaveLine& line = *m.control;
    if (!queueButtonEvent(line.buttonQueue, line.buttonBacklog, code))
        m.host->status(4, "Button refused: the queue is full");
    if (line.peerReady == 1) {
        sendButtonPacket(m, line, PKT_INPUT, m.cursorX, m.cursorY);
        packetSent(line);
    }
}

struct MoreButton {
    int32_t down, up;
    const char* downText;
    const char* upText;
};
const MoreButton MORE_BUTTONS[] = {
    {EV_MIDDLE_DOWN, EV_MIDDLE_UP, "MDOWN", "MUP"},
    {EV_X1_DOWN, EV_X1_UP, "X1DOWN", "X1UP"},
    {EV_X2_DOWN, EV_X2_UP, "X2DOWN", "X2UP"},
};

// The middle and side buttons, to a partner that takes them: queued as the
// left and right are. A release goes only where its press went: one pressed
// on this PC, or on a PC that has lost control since (it let go of it then),
// is not sent.
void moreButton(MasterState& m, int32_t i, bool down)
{
    const MoreButton& button = MORE_BUTTONS[i];
    const SlaveLine* line = lineTakingMoreButtons(m);
    if (down) {
        m.pressedOn[i] = line;
        if (!line) return;
        m.host->status(1, button.downText);
        queueButton(m, button.down);
        return;
    }
    const bool pressedThere = line && m.pressedOn[i] == line;
    m.pressedOn[i] = nullptr;
    if (!pressedThere) return;
    m.host->status(1, button.upText);
    queueButton(m, button.up);
}

bool isModifierWord(uint32_t key)
{
    return isModifierKey(static_cast<uint32_t>(keyWordVk(static_cast<int32_t>(key))));
}

}  // namespace

bool lineSend(MasterState& m, SlaveLine& line, const InputPacket& packet)
{
    if (packet.type == PKT_INPUT || packet.type == PKT_ENTER) {
        line.lastSentX = packet.x;
        line.lastSentY = packet.y;
    }
    uint8_t bytes[PACKET_SIZE];
    encodePacket(packet, bytes);
    const bool sent = m.host->send(line, bytes);
    line.sendFailed = !sent;
    if (sent && asksForReady(packet.type)) {
        windowSent(line.window, m.host->now());
        watchUnanswered(m, line);
    }
    return sent;
}

bool lastSentPositionIs(const SlaveLine& line, int32_t x, int32_t y)
{
    return x == line.lastSentX && y == line.lastSentY;
}

bool noteReady(MasterState& m, SlaveLine& line)
{
    const bool answered = windowAnswered(line.window);
    watchUnanswered(m, line);
    return answered;
}

void masterButton(MasterState& m, int32_t code)
{
    switch (code) {
    case EV_LEFT_DOWN:  m.leftHeld = 1; break;
    case EV_LEFT_UP:    m.leftHeld = 0; break;
    case EV_RIGHT_DOWN: m.rightHeld = 1; break;
    case EV_RIGHT_UP:   m.rightHeld = 0; break;
    case EV_MIDDLE_DOWN: case EV_MIDDLE_UP: moreButton(m, 0, code == EV_MIDDLE_DOWN); return;
    case EV_X1_DOWN: case EV_X1_UP: moreButton(m, 1, code == EV_X1_DOWN); return;
    case EV_X2_DOWN: case EV_X2_UP: moreButton(m, 2, code == EV_X2_DOWN); return;
    default: return;
    }
    if (m.controlState == STATE_LOCAL || !m.control) return;
    static const char* const TEXT[] = {"LUP", "LDOWN", "RUP", "RDOWN"};
    const int32_t i = code == EV_LEFT_UP ? 0 : code == EV_LEFT_DOWN ? 1 : code == EV_RIGHT_UP ? 2 : 3;
    m.host->status(1, TEXT[i]);
    queueButton(m, code);
}

void masterWheel(MasterState& m, int32_t type, int32_t delta)
{
    if (type == PKT_HWHEEL) {
        if (SlaveLine* line = lineTakingMoreButtons(m)) turnWheel(m, *line, PKT_HWHEEL, &line->pendingSideWheel, delta);
        return;
    }
    SlaveLine* line = m.control ? m.control : m.lines[0];
    if (line) turnWheel(m, *line, PKT_WHEEL, &line->pendingWheel, delta);
}

void masterKey(MasterState& m, uint32_t vk, bool up, const KeyEvent* key)
{
    vk &= 0xFF;
    m.keysDown[vk] = up ? 0 : 1;
    const bool stays = up && m.releaseStays[vk];
    m.releaseStays[vk] = 0;
    if (m.controlState == STATE_LOCAL || !m.control || stays || !key) return;
    m.host->status(5, up ? "KEYUP" : "KEYDOWN");
    SlaveLine& line = *m.control;
    if (!queueKeyEvent(line.keyQueue, line.keyBacklog, key->key, key->event))
        m.host->status(4, "Key refused: the queue is full");
    if (line.peerReady == 1) {
        sendKeyPacket(m, line, m.cursorX, m.cursorY);
        packetSent(line);
    }
}

void modifiersStayBehind(MasterState& m)
{
    for (uint8_t vk : MODIFIER_KEYS)
        if (m.keysDown[vk]) m.releaseStays[vk] = 1;
    if (m.controlState != STATE_LOCAL && m.control)
        dropNewestPresses(m.control->keyQueue, m.control->keyBacklog, EV_KEY_DOWN, isModifierWord);
}

// The next packet goes out at once, from here: posted, it would wait behind
// every input notification queued meanwhile (hundreds in a burst of typing),
// and each of them would stretch the round trip.
// Stop-and-wait: one packet per READY, and a READY that finds nothing
// pending lets the next event go at once. A window: the READY opens one
// place; one that answers nothing under way opens nothing.
void onPeerReady(MasterState& m, SlaveLine& line)
{
    const bool answered = noteReady(m, line);
    if (line.window.size > 1) {
        if (answered) fillWindow(m, line);
        return;
    }
    if (sendNext(m, line) == Next::Nothing) line.peerReady = 1;
}

void masterSendWheel(MasterState& m, SlaveLine& line)
{
    // The sideways turns once the wheel's have gone, and only to a partner
    // that takes them; everything else is the wheel's, as it always was.
    if (line.pendingWheel == 0 && sideWheelPending(line))
        sendWheelPacket(m, line, PKT_HWHEEL, takeWheelStep(&line.pendingSideWheel));
    else
        sendWheelPacket(m, line, PKT_WHEEL, takeWheelStep(&line.pendingWheel));
    if (line.window.size > 1) fillWindow(m, line);
}

bool masterAnnounced(SlaveLine& line, int32_t takes)
{
    line.partnerInput = takes & INPUT_WE_TAKE;
    // Between two that both take it, packets go under way without waiting
    // for each READY. Those already under way are answered as ever; a READY
    // for one of them counts like any other.
    if (!(line.partnerInput & INPUT_CAN_WINDOW) || line.window.size != 1) return false;
    line.window.size = WINDOW_PACKETS;
    return true;
}

void masterLinkUp(MasterState& m, SlaveLine& line)
{
    line.controlLinked = true;
    line.partnerInput = 0;  // a new partner, until it says otherwise
    windowReset(line.window, 1);
    watchUnanswered(m, line);
}

void masterLinkDown(MasterState& m, SlaveLine& line)
{
    line.controlLinked = false;
    line.peerReady = 0;
    if (m.control == &line || m.control == nullptr) masterDrop(m);
    // What the user typed ahead of a link that is gone is not typed later.
    forgetPendingKeys(line);
}

void forgetPendingInput(SlaveLine& line)
{
    line.pendingWheel = 0;
    line.pendingSideWheel = 0;
    clearBacklog(line.buttonBacklog);
}

void forgetPendingKeys(SlaveLine& line)
{
    clearQueue(line.keyQueue);
    clearBacklog(line.keyBacklog);
}

void sendButtonPacket(MasterState& m, SlaveLine& line, int32_t type, int32_t x, int32_t y)
{
    InputPacket packet;
    packet.type = type;
    packet.x = x;
    packet.y = y;
    takeButton(line.buttonQueue, &packet.button);
    sendInput(m, line, packet);
}

void sendKeyPacket(MasterState& m, SlaveLine& line, int32_t x, int32_t y)
{
    InputPacket packet;
    packet.type = PKT_INPUT;
    packet.x = x;
    packet.y = y;
    int32_t key = 0;
    takeKey(line.keyQueue, &key, &packet.keyEvent);
    packet.keyCode = keyWordVk(key);
    // The scan code and extended bit only to a partner that takes them: to
    // any other those bytes stay zero, as they always were.
    if (line.partnerInput & INPUT_CAN_SCAN_CODES) {
        packet.keyScan = keyWordScan(key);
        packet.keyFlags = keyWordExtended(key) ? KEY_FLAG_EXTENDED : 0;
    }
    sendInput(m, line, packet);
}

void sendWheelPacket(MasterState& m, SlaveLine& line, int32_t type, int32_t delta)
{
    if (!lineSend(m, line, makeWheelPacket(type, delta))) m.host->sendRefused(line);
}

void packetSent(SlaveLine& line)
{
    line.peerReady = line.window.size > 1 && windowOpen(line.window) && !line.sendFailed ? 1 : 0;
}
