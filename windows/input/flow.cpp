#include "windows/input/flow.h"

#include "input/key_rules.h"
#include "windows/input/edge.h"

namespace {

// The sideways wheel (not named in the Windows 2000 headers).
constexpr WPARAM WM_MOUSEHWHEEL_MESSAGE = 0x020E;

// A button message as its wire code; 0 for any other message.
int32_t buttonCode(WPARAM message, const MSLLHOOKSTRUCT* record)
{
    const bool second = HIWORD(record->mouseData) == XBUTTON2;
    switch (message) {
    case WM_LBUTTONDOWN: return EV_LEFT_DOWN;
    case WM_LBUTTONUP:   return EV_LEFT_UP;
    case WM_RBUTTONDOWN: return EV_RIGHT_DOWN;
    case WM_RBUTTONUP:   return EV_RIGHT_UP;
    case WM_MBUTTONDOWN: return EV_MIDDLE_DOWN;
    case WM_MBUTTONUP:   return EV_MIDDLE_UP;
    case WM_XBUTTONDOWN: return second ? EV_X2_DOWN : EV_X1_DOWN;
    case WM_XBUTTONUP:   return second ? EV_X2_UP : EV_X1_UP;
    default: return 0;
    }
}

}  // namespace

void onHookMouse(WPARAM message, const MSLLHOOKSTRUCT* record)
{
    const int16_t delta = static_cast<int16_t>(HIWORD(record->mouseData));
    if (message == WM_MOUSEWHEEL) masterWheel(app, PKT_WHEEL, delta);
    if (message == WM_MOUSEHWHEEL_MESSAGE) masterWheel(app, PKT_HWHEEL, delta);
    if (message == WM_MOUSEMOVE) handleMouseMove(record);
    if (const int32_t code = buttonCode(message, record)) masterButton(app, code);
}

void onHookKeyboard(WPARAM message, const KBDLLHOOKSTRUCT* record)
{
    const bool up = (record->flags & LLKHF_UP) != 0;
    KeyEvent key;
    const bool queues = keyEventFor(static_cast<uint32_t>(message), record->vkCode, record->scanCode, record->flags, &key);
    masterKey(app, record->vkCode, up, queues ? &key : nullptr);
}
