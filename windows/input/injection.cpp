#include "windows/input/injection.h"

#include <algorithm>

#include "app/front_end.h"
#include "input/desktop_math.h"
#include "input/inject_math.h"
#include "input/key_rules.h"
#include "input/held_input.h"
#include "windows/link/link.h"

namespace {

// Keys and buttons this PC's replay holds down.
HeldInput held;

// The records of one packet, handed to the system in one call, in order: each
// call is a round trip to the system.
struct InputBatch {
    INPUT records[3] = {};
    UINT count = 0;

    INPUT& add()
    {
        INPUT& input = records[count++];
        input = INPUT{};
        return input;
    }
    void send()
    {
        if (count > 0) SendInput(count, records, sizeof(INPUT));
        count = 0;
    }
};

void addMouseFlags(InputBatch& batch, DWORD flags, DWORD data = 0)
{
    INPUT& input = batch.add();
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.mouseData = data;
}

// The sideways wheel, not named in the Windows 2000 headers (Windows before
// Vista ignores it).
constexpr DWORD MOUSEEVENTF_HWHEEL_FLAG = 0x01000;

// The key as the Master's keyboard gave it: its virtual key (which still
// decides the character), scan code and extended bit. A key that came
// without a scan code (from a partner that sends none, or injected on the
// Master without one) gets the one this PC's layout gives its virtual key,
// and the extended bit where every keyboard sets it.
void addKey(InputBatch& batch, int32_t vk, int32_t keyEvent, int32_t scan = 0, bool extended = false)
{
    if (scan == 0 && !extended) {
        scan = static_cast<int32_t>(MapVirtualKeyA(static_cast<UINT>(vk & 0xFF), 0));  // MAPVK_VK_TO_VSC
        extended = extendedOnEveryKeyboard(static_cast<uint32_t>(vk & 0xFF));
    }
    INPUT& input = batch.add();
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(vk & 0xFFFF);
    input.ki.wScan = static_cast<WORD>(scan & 0xFF);
    input.ki.dwFlags = (keyEvent == EV_KEY_UP ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    if (keyEvent == EV_KEY_UP) noteKeyUp(held, vk); else noteKeyDown(held, vk);
}

// Whether the pointer stood on that pixel when the message being handled (the
// packet's read notice) was sent. Asking the system where the pointer is now
// would cost more than the move it might save: under Wine a round trip to the
// display.
bool pointerAt(Point pixel)
{
    const DWORD at = GetMessagePos();
    return static_cast<short>(LOWORD(at)) == pixel.x && static_cast<short>(HIWORD(at)) == pixel.y;
}

// A move is skipped when either size is unusable: it cannot be normalised.
// With `unlessThere`, a move to the pixel where the pointer already stands is
// left out too: it would move nothing, and under some systems it costs more
// than the key it rides with.
void addAbsoluteMove(InputBatch& batch, const Link& link, int32_t x, int32_t y, bool unlessThere = false)
{
    DWORD flags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    int32_t dx = 0, dy = 0;
    if (app.desktop.count > 1) {
        // Several monitors: the point is on the whole desktop, whose origin
        // may lie left of or above the primary's; one no monitor covers goes
        // to the nearest monitor.
        const Point pixel = slavePixel(app.desktop, {x, y});
        if (unlessThere && pointerAt(pixel)) return;
        const Rect& bounds = app.desktop.bounds;
        if (!absoluteCoordinate(pixel.x - bounds.left, desktopWidth(app.desktop), &dx) ||
            !absoluteCoordinate(pixel.y - bounds.top, desktopHeight(app.desktop), &dy))
            return;
        flags |= MOUSEEVENTF_VIRTUALDESK;
    } else if (!absoluteCoordinate(x, link.remoteWidth, &dx) || !absoluteCoordinate(y, link.remoteHeight, &dy)) {
        return;
    } else if (unlessThere && pointerAt({std::clamp(x, 0, link.remoteWidth - 1), std::clamp(y, 0, link.remoteHeight - 1)})) {
        return;  // the screen's pixel the move would land on
    }
    INPUT& input = batch.add();
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags;
}

void addButton(InputBatch& batch, int32_t code)
{
    noteButton(held, code);
    switch (code) {
    case EV_LEFT_DOWN:   addMouseFlags(batch, MOUSEEVENTF_LEFTDOWN); break;
    case EV_LEFT_UP:     addMouseFlags(batch, MOUSEEVENTF_LEFTUP); break;
    case EV_RIGHT_DOWN:  addMouseFlags(batch, MOUSEEVENTF_RIGHTDOWN); break;
    case EV_RIGHT_UP:    addMouseFlags(batch, MOUSEEVENTF_RIGHTUP); break;
    case EV_MIDDLE_DOWN: addMouseFlags(batch, MOUSEEVENTF_MIDDLEDOWN); break;
    case EV_MIDDLE_UP:   addMouseFlags(batch, MOUSEEVENTF_MIDDLEUP); break;
    case EV_X1_DOWN:     addMouseFlags(batch, MOUSEEVENTF_XDOWN, XBUTTON1); break;
    case EV_X1_UP:       addMouseFlags(batch, MOUSEEVENTF_XUP, XBUTTON1); break;
    case EV_X2_DOWN:     addMouseFlags(batch, MOUSEEVENTF_XDOWN, XBUTTON2); break;
    case EV_X2_UP:       addMouseFlags(batch, MOUSEEVENTF_XUP, XBUTTON2); break;
    default: break;
    }
}

}  // namespace

// The PKT_INPUT steps: key first, then the move, then the button, each
// behind the warm-up gate; labels change even for a dropped action. The
// records go to the system together, in that order.
void replayInput(const Link& link, const InputPacket& packet)
{
    frontEnd.statusValue(1, packet.x);
    frontEnd.statusValue(2, packet.y);
    frontEnd.statusValue(3, packet.button);

    InputBatch batch;
    const bool extended = (packet.keyFlags & KEY_FLAG_EXTENDED) != 0;
    if (packet.keyCode != 0) {
        if (packet.keyEvent == EV_KEY_UP) {
            frontEnd.statusValue(5, packet.keyCode);
            if (warmupGatePasses()) addKey(batch, packet.keyCode, EV_KEY_UP, packet.keyScan, extended);
        } else if (packet.keyEvent == EV_KEY_DOWN) {
            frontEnd.statusValue(5, packet.keyCode * 10);
            if (warmupGatePasses()) addKey(batch, packet.keyCode, EV_KEY_DOWN, packet.keyScan, extended);
        }
    }

    // A key packet carries the pointer where it already is: the move is left
    // out then, and the key goes in alone. A button's is never left out: the
    // pointer may have moved since the packet's read notice was posted (the
    // position "already there" is judged by), and a click must land on the
    // packet's point.
    const bool button = isButtonEvent(packet.button);
    if (warmupGatePasses()) addAbsoluteMove(batch, link, packet.x, packet.y, !button);
    if (button && warmupGatePasses()) addButton(batch, packet.button);
    batch.send();
}

bool warmupGatePasses()
{
    return warmupGate(app.injectWarmup);
}

void injectAbsoluteMove(const Link& link, int32_t x, int32_t y)
{
    InputBatch batch;
    addAbsoluteMove(batch, link, x, y);
    batch.send();
}

void injectWheel(int16_t delta, bool sideways)
{
    InputBatch batch;
    addMouseFlags(batch, sideways ? MOUSEEVENTF_HWHEEL_FLAG : MOUSEEVENTF_WHEEL,
                  static_cast<DWORD>(static_cast<int32_t>(delta)));
    batch.send();
}

void injectButton(int32_t code)
{
    InputBatch batch;
    addButton(batch, code);
    batch.send();
}

void injectKey(int32_t vk, int32_t keyEvent)
{
    InputBatch batch;
    addKey(batch, vk, keyEvent);
    batch.send();
}

void releaseInjectedInput()
{
    int32_t vks[256], ups[HELD_BUTTONS];
    int32_t buttons = 0;
    const int32_t n = takeHeld(held, vks, ups, &buttons);
    for (int32_t i = 0; i < n; ++i) injectKey(vks[i], EV_KEY_UP);
    for (int32_t i = 0; i < buttons; ++i) injectButton(ups[i]);
}
