#include "input/hotkeys.h"

#include <cstring>

namespace {

// Virtual-key codes, as the system numbers them.
constexpr uint32_t VK_BACK_ = 0x08, VK_TAB_ = 0x09, VK_RETURN_ = 0x0D, VK_SHIFT_ = 0x10, VK_CONTROL_ = 0x11,
                   VK_MENU_ = 0x12, VK_ESCAPE_ = 0x1B, VK_SPACE_ = 0x20, VK_DELETE_ = 0x2E, VK_LWIN_ = 0x5B,
                   VK_RWIN_ = 0x5C, VK_NUMPAD0_ = 0x60, VK_DECIMAL_ = 0x6E, VK_F1_ = 0x70, VK_LSHIFT_ = 0xA0,
                   VK_RSHIFT_ = 0xA1, VK_LCONTROL_ = 0xA2, VK_RCONTROL_ = 0xA3, VK_LMENU_ = 0xA4, VK_RMENU_ = 0xA5;

struct KeyName {
    uint8_t vk;
    const char* name;
};

const KeyName KEY_NAMES[] = {
    {0x03, "Break"},       {VK_BACK_, "Backspace"}, {VK_TAB_, "Tab"},      {0x0C, "Clear"},
    {VK_RETURN_, "Enter"}, {0x13, "Pause"},         {0x14, "Caps Lock"},   {VK_ESCAPE_, "Esc"},
    {VK_SPACE_, "Space"},  {0x21, "Page Up"},       {0x22, "Page Down"},   {0x23, "End"},
    {0x24, "Home"},        {0x25, "Left"},          {0x26, "Up"},          {0x27, "Right"},
    {0x28, "Down"},        {0x2C, "Print Screen"},  {0x2D, "Insert"},      {VK_DELETE_, "Delete"},
    {0x5D, "Menu"},        {0x6A, "Num *"},         {0x6B, "Num +"},       {0x6D, "Num -"},
    {VK_DECIMAL_, "Num ."}, {0x6F, "Num /"},        {0x90, "Num Lock"},    {0x91, "Scroll Lock"},
    {0xBA, ";"},           {0xBB, "="},             {0xBC, ","},           {0xBD, "-"},
    {0xBE, "."},           {0xBF, "/"},             {0xC0, "`"},           {0xDB, "["},
    {0xDC, "\\"},          {0xDD, "]"},             {0xDE, "'"},
};

// Appends text to out (size bytes, terminated), as far as it fits. (No
// printf: the Windows 2000 runtime lacks what the compiler's own needs.)
void append(char* out, size_t size, const char* text)
{
    size_t n = std::strlen(out);
    while (*text && n + 1 < size) out[n++] = *text++;
    out[n] = '\0';
}

void appendNumber(char* out, size_t size, uint32_t value)
{
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value && n < 11);
    char text[12];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = '\0';
    append(out, size, text);
}

void keyName(uint32_t vk, char* out, size_t size)
{
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) {
        const char letter[2] = {static_cast<char>(vk), '\0'};
        append(out, size, letter);
        return;
    }
    if (vk >= VK_F1_ && vk < VK_F1_ + 24) {
        append(out, size, "F");
        appendNumber(out, size, vk - VK_F1_ + 1);
        return;
    }
    if (vk >= VK_NUMPAD0_ && vk <= VK_NUMPAD0_ + 9) {
        append(out, size, "Num ");
        appendNumber(out, size, vk - VK_NUMPAD0_);
        return;
    }
    for (const KeyName& k : KEY_NAMES)
        if (k.vk == vk) {
            append(out, size, k.name);
            return;
        }
    append(out, size, "Key ");
    appendNumber(out, size, vk);
}

// The modifier a key is, or 0.
uint32_t modifierOf(uint32_t vk)
{
    switch (vk) {
    case VK_CONTROL_: case VK_LCONTROL_: case VK_RCONTROL_: return HOTKEY_CTRL;
    case VK_MENU_: case VK_LMENU_: case VK_RMENU_: return HOTKEY_ALT;
    case VK_SHIFT_: case VK_LSHIFT_: case VK_RSHIFT_: return HOTKEY_SHIFT;
    case VK_LWIN_: case VK_RWIN_: return HOTKEY_WIN;
    default: return 0;
    }
}

// Keys that type text, or work text, when pressed alone or with Shift.
bool typesText(uint32_t vk)
{
    return (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') || (vk >= VK_NUMPAD0_ && vk <= VK_NUMPAD0_ + 9) ||
           (vk >= 0xBA && vk <= 0xC0) || (vk >= 0xDB && vk <= 0xDF) || vk == VK_SPACE_ || vk == VK_RETURN_ ||
           vk == VK_TAB_ || vk == VK_BACK_ || vk == VK_ESCAPE_ || vk == VK_DELETE_;
}

}  // namespace

const uint32_t HOTKEY_DEFAULTS[HOTKEY_COUNT] = {
    HOTKEY_CTRL | HOTKEY_ALT | VK_F1_,       HOTKEY_CTRL | HOTKEY_ALT | (VK_F1_ + 1),
    HOTKEY_CTRL | HOTKEY_ALT | (VK_F1_ + 2), HOTKEY_CTRL | HOTKEY_ALT | (VK_F1_ + 3),
    HOTKEY_CTRL | HOTKEY_ALT | (VK_F1_ + 4), 0x91,
};

void hotkeyText(uint32_t combination, char out[48])
{
    out[0] = '\0';
    if (combination == 0) {
        append(out, 48, "Off");
        return;
    }
    if (combination & HOTKEY_CTRL) append(out, 48, "Ctrl+");
    if (combination & HOTKEY_ALT) append(out, 48, "Alt+");
    if (combination & HOTKEY_SHIFT) append(out, 48, "Shift+");
    if (combination & HOTKEY_WIN) append(out, 48, "Win+");
    keyName(combination & 0xFF, out, 48);
}

const uint8_t MODIFIER_KEYS[MODIFIER_KEY_COUNT] = {VK_CONTROL_, VK_LCONTROL_, VK_RCONTROL_, VK_MENU_,  VK_LMENU_, VK_RMENU_,
                                                   VK_SHIFT_,   VK_LSHIFT_,   VK_RSHIFT_,   VK_LWIN_, VK_RWIN_};

bool isModifierKey(uint32_t vk)
{
    return modifierOf(vk) != 0;
}

const char* hotkeyRefusal(uint32_t combination)
{
    const uint32_t vk = combination & 0xFF;
    const uint32_t mods = combination & HOTKEY_MODIFIERS;
    if (combination & ~(HOTKEY_MODIFIERS | 0xFF)) return "That is not a key combination.";
    if (vk == 0 || isModifierKey(vk)) return "A hotkey needs a key besides Ctrl, Alt, Shift and Win.";
    const uint32_t owned[] = {
        HOTKEY_CTRL | HOTKEY_ALT | VK_DELETE_, HOTKEY_CTRL | HOTKEY_ALT | VK_DECIMAL_,
        HOTKEY_WIN | 'L',                      HOTKEY_CTRL | HOTKEY_SHIFT | VK_ESCAPE_,
        HOTKEY_CTRL | VK_ESCAPE_,              HOTKEY_ALT | VK_TAB_,
        HOTKEY_ALT | HOTKEY_SHIFT | VK_TAB_,   HOTKEY_ALT | VK_ESCAPE_,
    };
    for (uint32_t o : owned)
        if (combination == o) return "Windows keeps that combination for itself.";
    if ((mods & ~HOTKEY_SHIFT) == 0 && typesText(vk)) return "That key types text: add Ctrl, Alt or Win to it.";
    return nullptr;
}

void hotkeyReset(HotkeyMatcher& matcher)
{
    std::memset(&matcher, 0, sizeof matcher);
}

uint32_t hotkeyModifiers(const HotkeyMatcher& matcher)
{
    uint32_t mods = 0;
    for (uint8_t vk : MODIFIER_KEYS)
        if (matcher.down[vk]) mods |= modifierOf(vk);
    return mods;
}

HotkeyStep hotkeyKey(HotkeyMatcher& matcher, const uint32_t* combinations, int32_t count, uint32_t vk, bool up)
{
    vk &= 0xFF;
    HotkeyStep step = {-1, false};
    if (up) {
        step.keep = matcher.completed[vk] != 0;
        matcher.down[vk] = 0;
        matcher.completed[vk] = 0;
        return step;
    }
    const bool repeat = matcher.down[vk] != 0;
    matcher.down[vk] = 1;
    if (repeat) {
        step.keep = matcher.completed[vk] != 0;
        return step;
    }
    if (isModifierKey(vk)) return step;
    const uint32_t pressed = hotkeyModifiers(matcher) | vk;
    for (int32_t i = 0; i < count; ++i) {
        if (combinations[i] == 0 || combinations[i] != pressed) continue;
        matcher.completed[vk] = 1;
        step.action = i;
        step.keep = true;
        break;
    }
    return step;
}

GuardAnswer guardPush(const CrossGuards& guards, GuardState& state, int32_t edge, int32_t along, int32_t start,
                      int32_t end, uint32_t now, uint32_t* waitMs)
{
    *waitMs = 0;
    if (guards.corner > 0 && (along < start + guards.corner || along >= end - guards.corner)) {
        // A corner: as if the pointer pushed nowhere.
        guardRelease(state);
        return GuardAnswer::Refuse;
    }
    if (!state.pushing || state.edge != edge) {
        const bool soon = state.lastEdge == edge && now - state.lastSince <= static_cast<uint32_t>(DOUBLE_TAP_MS);
        state.taps = soon ? state.taps + 1 : 1;
        state.pushing = 1;
        state.edge = edge;
        state.since = now;
        state.lastEdge = edge;
        state.lastSince = now;
    }
    if (guards.doubleTap && state.taps < 2) return GuardAnswer::Refuse;
    const uint32_t pushed = now - state.since;
    if (guards.delayMs > 0 && pushed < static_cast<uint32_t>(guards.delayMs)) {
        *waitMs = static_cast<uint32_t>(guards.delayMs) - pushed;
        return GuardAnswer::Wait;
    }
    guardCrossed(state);
    return GuardAnswer::Cross;
}

void guardRelease(GuardState& state)
{
    state.pushing = 0;
    state.edge = -1;
}

void guardCrossed(GuardState& state)
{
    state = GuardState{};
}
