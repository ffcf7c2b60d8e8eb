// Keys that move control, and the guards against crossing by accident. No
// <windows.h>: the hook library, the program and the native tests share it.
#pragma once

#include <cstdint>

// A combination: the virtual-key code of the key that completes it in the low
// byte, the modifiers held with it above. 0: none (the hotkey is off).
constexpr uint32_t HOTKEY_CTRL = 0x100;
constexpr uint32_t HOTKEY_ALT = 0x200;
constexpr uint32_t HOTKEY_SHIFT = 0x400;
constexpr uint32_t HOTKEY_WIN = 0x800;
constexpr uint32_t HOTKEY_MODIFIERS = HOTKEY_CTRL | HOTKEY_ALT | HOTKEY_SHIFT | HOTKEY_WIN;

// What each hotkey does, in the order they are stored and handed to the hook
// library.
enum HotkeyAction : int32_t {
    HOTKEY_TO_MASTER = 0,  // switch to the Master: also takes control back at once
    HOTKEY_TO_SLAVE1 = 1,  // to HOTKEY_TO_SLAVE1 + 3: Slaves 1 to 4
    HOTKEY_LOCK = 5,       // lock to the PC in control, or unlock
    HOTKEY_COUNT = 6,
};

// Ctrl+Alt+F1, Ctrl+Alt+F2 to F5, Scroll Lock.
extern const uint32_t HOTKEY_DEFAULTS[HOTKEY_COUNT];

// The combination as the user reads it ("Ctrl+Alt+F1", "Scroll Lock"; "Off"
// for 0). out holds 48 bytes.
void hotkeyText(uint32_t combination, char out[48]);

// Why the combination cannot be a hotkey, or null when it can: the system
// keeps it (Ctrl+Alt+Del, Win+L, ...), it types text (a plain letter, digit,
// space...), or it is modifiers alone.
const char* hotkeyRefusal(uint32_t combination);

// Whether vk is Shift, Ctrl, Alt or Win (either side, or the undivided code).
bool isModifierKey(uint32_t vk);
// Those keys' codes, every one of them.
constexpr int32_t MODIFIER_KEY_COUNT = 11;
extern const uint8_t MODIFIER_KEYS[MODIFIER_KEY_COUNT];

// Follows the keyboard, key by key, to find the hotkeys as they are pressed.
// A hotkey is the combination's key pressed (not repeated) while exactly its
// modifiers are held, whatever else is held. That key's press, its repeats
// and its release are kept from every program; the modifiers are not.
struct HotkeyMatcher {
    uint8_t down[256];       // keys held, as this matcher saw them
    uint8_t completed[256];  // keys whose press completed a hotkey, until released
};

struct HotkeyStep {
    int32_t action;  // the hotkey the key completed (HotkeyAction), or -1
    bool keep;       // keep the key from every program
};

void hotkeyReset(HotkeyMatcher& matcher);
// One key event: vk its virtual-key code, up its release. combinations[i] is
// the combination of action i (count of them; 0 is off).
HotkeyStep hotkeyKey(HotkeyMatcher& matcher, const uint32_t* combinations, int32_t count, uint32_t vk, bool up);
// The modifiers the matcher holds down.
uint32_t hotkeyModifiers(const HotkeyMatcher& matcher);

// ---- Guards against crossing by accident. Off (all 0): every push crosses.
constexpr int32_t DOUBLE_TAP_MS = 500;
constexpr int32_t DEFAULT_SWITCH_DELAY_MS = 250;
constexpr int32_t DEFAULT_DEAD_CORNER = 40;

struct CrossGuards {
    int32_t delayMs = 0;    // the pointer stays against the edge this long first
    int32_t doubleTap = 0;  // 1: the edge is pushed twice within DOUBLE_TAP_MS
    int32_t corner = 0;     // no crossing within this many pixels of an edge's ends
};

// One push against an edge at a time: when it began, and the push before.
struct GuardState {
    int32_t pushing = 0;
    int32_t edge = -1;
    uint32_t since = 0;      // when this push began
    int32_t taps = 0;        // pushes of this edge within DOUBLE_TAP_MS, this one counted
    int32_t lastEdge = -1;   // the edge of the push before, and when it began
    uint32_t lastSince = 0;
};

enum class GuardAnswer { Cross, Wait, Refuse };

// A point pushes past an edge that would cross. `edge` names that edge (the
// same number for the same edge), `along` is the point's coordinate along it
// and [start, end) the edge's span. `now` in milliseconds (wrapping). Wait:
// the push must go on for *waitMs more; a check then, with the pointer still
// there, crosses.
GuardAnswer guardPush(const CrossGuards& guards, GuardState& state, int32_t edge, int32_t along, int32_t start,
                      int32_t end, uint32_t now, uint32_t* waitMs);
// The pointer pushes against no edge that would cross: a push, if any, ended.
void guardRelease(GuardState& state);
// Control crossed (or moved by a key): the next crossing starts afresh.
void guardCrossed(GuardState& state);
