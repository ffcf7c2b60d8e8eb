#include "windows/input/flow.h"

#include "app/front_end.h"
#include "windows/input/edge.h"
#include "input/key_rules.h"
#include "windows/link/link.h"
#include "windows/link/packets.h"

namespace {

// A press that found even the backlog full is lost: the user is told on the
// panel rather than left to wonder.
void sayRefused(const char* what)
{
    frontEnd.statusText(4, what);
}

void postToMain(UINT message, const Link& link)
{
    PostMessageA(app.mainWindow, message, static_cast<WPARAM>(link.index), 0);
}

// WM_HOOK_MOUSE, wheel: sent at once when the partner is ready; in remote
// control a turn that finds a packet awaiting its answer adds to the next.
// In local state the first Slave's link, as with a single Slave: a turn goes
// out whenever it is ready.
void turnWheel(Link& link, int32_t type, int32_t* pending, const MSLLHOOKSTRUCT* record)
{
    const int16_t delta = static_cast<int16_t>(HIWORD(record->mouseData));
    if (link.peerReady == 1) {
        sendWheelPacket(app.mainWindow, link, type, delta);
        packetSent(link);
    } else if (app.controlState == STATE_REMOTE) {
        addWheel(pending, delta);
    }
}

void onWheel(const MSLLHOOKSTRUCT* record)
{
    Link& link = app.controlLink ? *app.controlLink : links[0];
    turnWheel(link, PKT_WHEEL, &link.pendingWheel, record);
}

// The link that has control when it takes the middle and side buttons and the
// sideways wheel; to any other partner they are never sent (the hooks keep
// them from this PC's programs all the same).
Link* linkTakingMoreButtons()
{
    if (app.controlState == STATE_LOCAL || !app.controlLink) return nullptr;
    return (app.controlLink->partnerInput & INPUT_CAN_MORE_BUTTONS) ? app.controlLink : nullptr;
}

// WM_HOOK_MOUSE, the sideways wheel (not named in the Windows 2000 headers):
// as the wheel, to a partner that takes it; turns that find a packet awaiting
// its answer add up for the next.
constexpr WPARAM WM_MOUSEHWHEEL_MESSAGE = 0x020E;

void onSideWheel(const MSLLHOOKSTRUCT* record)
{
    if (Link* link = linkTakingMoreButtons()) turnWheel(*link, PKT_HWHEEL, &link->pendingSideWheel, record);
}

// WM_HOOK_MOUSE, the middle and side buttons, to a partner that takes them:
// queued as the left and right are. A release goes only where its press
// went: one pressed on this PC, or on a PC that has lost control since (it
// let go of it then), is not sent.
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
const Link* pressedOn[3];

void onMoreButton(WPARAM message, const MSLLHOOKSTRUCT* record)
{
    const bool xButton = message == WM_XBUTTONDOWN || message == WM_XBUTTONUP;
    if (!xButton && message != WM_MBUTTONDOWN && message != WM_MBUTTONUP) return;
    const int32_t i = !xButton ? 0 : HIWORD(record->mouseData) == XBUTTON2 ? 2 : 1;
    const MoreButton& button = MORE_BUTTONS[i];
    const Link* link = linkTakingMoreButtons();
    if (message == WM_MBUTTONDOWN || message == WM_XBUTTONDOWN) {
        pressedOn[i] = link;
        if (!link) return;
        frontEnd.statusText(1, button.downText);
        queueButton(button.down);
        return;
    }
    const bool pressedThere = link && pressedOn[i] == link;
    pressedOn[i] = nullptr;
    if (!pressedThere) return;
    frontEnd.statusText(1, button.upText);
    queueButton(button.up);
}

// WM_HOOK_MOUSE, buttons: the held flags in either state, the queue in remote.
void onButton(WPARAM message)
{
    switch (message) {
    case WM_LBUTTONDOWN: app.leftHeld = 1; break;
    case WM_LBUTTONUP:   app.leftHeld = 0; break;
    case WM_RBUTTONDOWN: app.rightHeld = 1; break;
    case WM_RBUTTONUP:   app.rightHeld = 0; break;
    default: return;
    }
    if (app.controlState == STATE_LOCAL || !app.controlLink) return;
    switch (message) {
    case WM_LBUTTONDOWN: frontEnd.statusText(1, "LDOWN"); queueButton(EV_LEFT_DOWN); break;
    case WM_LBUTTONUP:   frontEnd.statusText(1, "LUP"); queueButton(EV_LEFT_UP); break;
    case WM_RBUTTONDOWN: frontEnd.statusText(1, "RDOWN"); queueButton(EV_RIGHT_DOWN); break;
    case WM_RBUTTONUP:   frontEnd.statusText(1, "RUP"); queueButton(EV_RIGHT_UP); break;
    default: break;
    }
}

// Keys held down as the hooks report them, and of those the modifiers held
// for a hotkey that moved control: their releases belong to the PC they were
// pressed for (a Slave left lets go of them as it is left), not to the next.
uint8_t keysDown[256];
uint8_t releaseStays[256];

}  // namespace

void modifiersStayBehind()
{
    for (uint8_t vk : MODIFIER_KEYS)
        if (keysDown[vk]) releaseStays[vk] = 1;
    if (app.controlState != STATE_LOCAL && app.controlLink)
        dropNewestPresses(app.controlLink->keyQueue, app.controlLink->keyBacklog, EV_KEY_DOWN,
                          [](uint32_t key) { return isModifierKey(static_cast<uint32_t>(keyWordVk(static_cast<int32_t>(key)))); });
}

void onHookMouse(WPARAM message, const MSLLHOOKSTRUCT* record)
{
    if (message == WM_MOUSEWHEEL) onWheel(record);
    if (message == WM_MOUSEHWHEEL_MESSAGE) onSideWheel(record);
    if (message == WM_MOUSEMOVE) handleMouseMove(record);
    onButton(message);
    onMoreButton(message, record);
}

void onHookKeyboard(WPARAM message, const KBDLLHOOKSTRUCT* record)
{
    const uint32_t flags = record->flags;
    const uint32_t vk = record->vkCode & 0xFF;
    const bool up = (flags & LLKHF_UP) != 0;
    keysDown[vk] = up ? 0 : 1;
    const bool stays = up && releaseStays[vk];
    releaseStays[vk] = 0;
    if (app.controlState == STATE_LOCAL || !app.controlLink || stays) return;
    if (message == WM_KEYDOWN) frontEnd.statusText(5, "KEYDOWN");
    if (message == WM_KEYUP) frontEnd.statusText(5, "KEYUP");
    KeyEvent key;
    if (keyEventFor(static_cast<uint32_t>(message), record->vkCode, record->scanCode, flags, &key))
        queueKey(key.key, key.event);
}

void queueButton(int32_t code)
{
    if (!app.controlLink) return;
    Link& link = *app.controlLink;
    if (!queueButtonEvent(link.buttonQueue, link.buttonBacklog, code)) sayRefused("Button refused: the queue is full");
    if (link.peerReady == 1) {
        sendButtonPacket(app.mainWindow, link, PKT_INPUT, app.cursorX, app.cursorY);
        packetSent(link);
    }
}

void queueKey(int32_t key, int32_t event)
{
    if (!app.controlLink) return;
    Link& link = *app.controlLink;
    if (!queueKeyEvent(link.keyQueue, link.keyBacklog, key, event)) sayRefused("Key refused: the queue is full");
    if (link.peerReady == 1) {
        sendKeyPacket(app.mainWindow, link, PKT_INPUT, app.cursorX, app.cursorY);
        packetSent(link);
    }
}

void packetSent(Link& link)
{
    link.peerReady = link.window.size > 1 && windowOpen(link.window) && !link.sendFailed ? 1 : 0;
}

namespace {

enum class Next { Sent, Posted, Nothing };

bool sideWheelPending(const Link& link)
{
    return link.pendingSideWheel != 0 && (link.partnerInput & INPUT_CAN_MORE_BUTTONS);
}

// Sends the link's next pending packet: buttons before keys, then the wheel
// turns that added up, then where the pointer rests now.
// The pointer's position goes along only to the link that has control: a
// link that drains the keys typed before a crossing carries the last point it
// was sent, so its pointer stays where the hand left it.
Next sendNext(Link& link)
{
    refillFromBacklog(link.buttonQueue, link.buttonBacklog);
    refillFromBacklog(link.keyQueue, link.keyBacklog);
    const bool inControl = app.controlState == STATE_REMOTE && app.controlLink == &link;
    const int32_t x = inControl || app.controlLink == nullptr ? app.cursorX : link.lastSentX;
    const int32_t y = inControl || app.controlLink == nullptr ? app.cursorY : link.lastSentY;
    if (hasPending(link.buttonQueue)) {
        sendButtonPacket(app.mainWindow, link, PKT_INPUT, x, y);
    } else if (hasPending(link.keyQueue)) {
        sendKeyPacket(app.mainWindow, link, PKT_INPUT, x, y);
    } else if (inControl && (link.pendingWheel != 0 || sideWheelPending(link))) {
        postToMain(WM_SEND_WHEEL, link);  // its failure raises a box: not inside the read
        return Next::Posted;
    } else if (inControl && !lastSentPositionIs(link, app.cursorX, app.cursorY)) {
        // The pointer moved on while the packets under way awaited their
        // answers: send where it rests now, so the Slave's pointer does not
        // stop short.
        sendButtonPacket(app.mainWindow, link, PKT_INPUT, app.cursorX, app.cursorY);
    } else {
        return Next::Nothing;
    }
    return Next::Sent;
}

// With a window, everything pending goes while there is room; the next event
// goes at once while some is left.
void fillWindow(Link& link)
{
    while (windowOpen(link.window)) {
        const Next next = sendNext(link);
        if (next == Next::Nothing) break;
        if (next == Next::Posted || link.sendFailed) {  // the wheel's turn, or the link broke
            link.peerReady = 0;
            return;
        }
    }
    link.peerReady = windowOpen(link.window) ? 1 : 0;
}

}  // namespace

// The next packet goes out at once, from here: posted to the window, it would
// wait behind every hook notification queued meanwhile (hundreds in a burst
// of typing), and each of them would stretch the round trip.
// Stop-and-wait: one packet per READY, and a READY that finds nothing
// pending lets the next event go at once. A window: the READY opens one
// place; one that answers nothing under way opens nothing.
void onPeerReady(Link& link)
{
    const bool answered = noteReady(link);
    if (link.window.size > 1) {
        if (answered) fillWindow(link);
        return;
    }
    if (sendNext(link) == Next::Nothing) link.peerReady = 1;
}

void sendPendingWheel(HWND window, Link& link)
{
    // The sideways turns once the wheel's have gone, and only to a partner
    // that takes them; everything else is the wheel's, as it always was.
    if (link.pendingWheel == 0 && sideWheelPending(link))
        sendWheelPacket(window, link, PKT_HWHEEL, takeWheelStep(&link.pendingSideWheel));
    else
        sendWheelPacket(window, link, PKT_WHEEL, takeWheelStep(&link.pendingWheel));
    if (link.window.size > 1) fillWindow(link);
}

void forgetPendingInput(Link& link)
{
    link.pendingWheel = 0;
    link.pendingSideWheel = 0;
    clearBacklog(link.buttonBacklog);
}

void forgetPendingKeys(Link& link)
{
    clearQueue(link.keyQueue);
    clearBacklog(link.keyBacklog);
}
