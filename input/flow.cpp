#include "input/flow.h"

#include "app/panel.h"
#include "input/edge.h"
#include "input/key_rules.h"
#include "link/packets.h"

namespace {

// Events that found their queue's slots taken, and wheel turns made while a
// packet awaited its answer: all go out as soon as the handshake allows.
EventBacklog keyBacklog, buttonBacklog;
int32_t pendingWheel = 0;

// A press that found even the backlog full is lost: the user is told on the
// panel rather than left to wonder.
void sayRefused(const char* what)
{
    showStatusText(app.statusLabel4, what);
}

void postToMain(UINT message)
{
    PostMessageA(app.mainWindow, message, 0, 0);
}

// WM_HOOK_MOUSE, wheel: sent at once when the partner is ready; in remote
// control a turn that finds a packet awaiting its answer adds to the next.
void onWheel(const MSLLHOOKSTRUCT* record)
{
    const int16_t delta = static_cast<int16_t>(HIWORD(record->mouseData));
    if (app.peerReady == 1) {
        sendWheelPacket(app.mainWindow, app.controlSocket, PKT_WHEEL, delta);
        app.peerReady = 0;
    } else if (app.controlState == STATE_REMOTE) {
        addWheel(&pendingWheel, delta);
    }
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
    if (app.controlState == STATE_LOCAL) return;
    switch (message) {
    case WM_LBUTTONDOWN: showStatusText(app.statusLabel1, "LDOWN"); queueButton(EV_LEFT_DOWN); break;
    case WM_LBUTTONUP:   showStatusText(app.statusLabel1, "LUP"); queueButton(EV_LEFT_UP); break;
    case WM_RBUTTONDOWN: showStatusText(app.statusLabel1, "RDOWN"); queueButton(EV_RIGHT_DOWN); break;
    case WM_RBUTTONUP:   showStatusText(app.statusLabel1, "RUP"); queueButton(EV_RIGHT_UP); break;
    default: break;
    }
}

}  // namespace

void onHookMouse(WPARAM message, const MSLLHOOKSTRUCT* record)
{
    if (message == WM_MOUSEWHEEL) onWheel(record);
    if (message == WM_MOUSEMOVE) handleMouseMove(record);
    onButton(message);
}

void onHookKeyboard(WPARAM message, const KBDLLHOOKSTRUCT* record)
{
    const int32_t vkCode = static_cast<int32_t>(record->vkCode);
    const uint32_t flags = record->flags;
    if (app.controlState == STATE_LOCAL) return;
    if (message == WM_KEYDOWN) showStatusText(app.statusLabel5, "KEYDOWN");
    if (message == WM_KEYUP) showStatusText(app.statusLabel5, "KEYUP");
    KeyEvent events[2];
    const int32_t n = keyEventsFor(static_cast<uint32_t>(message), vkCode, flags, events);
    for (int32_t i = 0; i < n; ++i) queueKey(events[i].vkCode, events[i].event);
}

void queueButton(int32_t code)
{
    if (!queueButtonEvent(app.buttonQueue, buttonBacklog, code)) sayRefused("Button refused: the queue is full");
    if (app.peerReady == 1) {
        sendButtonPacket(app.mainWindow, app.controlSocket, PKT_INPUT, app.cursorX, app.cursorY);
        app.peerReady = 0;
    }
}

void queueKey(int32_t vkCode, int32_t event)
{
    if (!queueKeyEvent(app.keyQueue, keyBacklog, vkCode, event)) sayRefused("Key refused: the queue is full");
    if (app.peerReady == 1) {
        sendKeyPacket(app.mainWindow, app.controlSocket, PKT_INPUT, app.cursorX, app.cursorY);
        app.peerReady = 0;
    }
}

// The next packet goes out at once, from here: posted to the window, it would
// wait behind every hook notification queued meanwhile (hundreds in a burst
// of typing), and each of them would stretch the round trip.
void onPeerReady()
{
    forgetUnanswered();
    refillFromBacklog(app.buttonQueue, buttonBacklog);
    refillFromBacklog(app.keyQueue, keyBacklog);
    if (hasPending(app.buttonQueue)) {
        sendButtonPacket(app.mainWindow, app.controlSocket, PKT_INPUT, app.cursorX, app.cursorY);
    } else if (hasPending(app.keyQueue)) {
        sendKeyPacket(app.mainWindow, app.controlSocket, PKT_INPUT, app.cursorX, app.cursorY);
    } else if (app.controlState == STATE_REMOTE && pendingWheel != 0) {
        postToMain(WM_SEND_WHEEL);  // its failure raises a box: not inside the read
    } else if (app.controlState == STATE_REMOTE && !lastSentPositionIs(app.cursorX, app.cursorY)) {
        // The pointer moved on while the last packet awaited its answer: send
        // where it rests now, so the Slave's pointer does not stop short.
        sendButtonPacket(app.mainWindow, app.controlSocket, PKT_INPUT, app.cursorX, app.cursorY);
    } else {
        app.peerReady = 1;
    }
}

void sendPendingWheel(HWND window)
{
    sendWheelPacket(window, app.controlSocket, PKT_WHEEL, takeWheelStep(&pendingWheel));
}

void forgetPendingInput()
{
    pendingWheel = 0;
    clearBacklog(buttonBacklog);
}

void forgetPendingKeys()
{
    clearQueue(app.keyQueue);
    clearBacklog(keyBacklog);
}
