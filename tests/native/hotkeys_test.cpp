#include <gtest/gtest.h>

#include <cstring>

#include "input/hotkeys.h"

namespace {

constexpr uint32_t LCTRL = 0xA2, RCTRL = 0xA3, LALT = 0xA4, RALT = 0xA5, LSHIFT = 0xA0, F1 = 0x70, F2 = 0x71;

struct Keyboard {
    HotkeyMatcher matcher;
    Keyboard() { hotkeyReset(matcher); }
    // "+" a press, "-" a release; returns (action, kept) of the last event.
    HotkeyStep press(uint32_t vk) { return hotkeyKey(matcher, HOTKEY_DEFAULTS, HOTKEY_COUNT, vk, false); }
    HotkeyStep release(uint32_t vk) { return hotkeyKey(matcher, HOTKEY_DEFAULTS, HOTKEY_COUNT, vk, true); }
};

TEST(Hotkeys, TheCompletingKeyIsFoundAndKeptWithItsRepeatsAndRelease)
{
    Keyboard k;
    // Left or right modifiers alike; the modifiers themselves pass.
    EXPECT_FALSE(k.press(RCTRL).keep);
    EXPECT_FALSE(k.press(LALT).keep);
    HotkeyStep s = k.press(F2);
    EXPECT_EQ(s.action, HOTKEY_TO_SLAVE1);
    EXPECT_TRUE(s.keep);
    s = k.press(F2);  // a repeat: kept, no second switch
    EXPECT_EQ(s.action, -1);
    EXPECT_TRUE(s.keep);
    EXPECT_FALSE(k.release(RCTRL).keep);  // modifiers released first
    EXPECT_TRUE(k.release(F2).keep);
    EXPECT_FALSE(k.release(LALT).keep);
    // F2 alone afterwards is an ordinary key.
    s = k.press(F2);
    EXPECT_EQ(s.action, -1);
    EXPECT_FALSE(s.keep);
    EXPECT_FALSE(k.release(F2).keep);

    // Exactly the modifiers: Ctrl+Alt+Shift+F1 is not Ctrl+Alt+F1, nor Ctrl+F1.
    k.press(LCTRL);
    k.press(RALT);
    k.press(LSHIFT);
    EXPECT_EQ(k.press(F1).action, -1);
    k.release(F1);
    k.release(LSHIFT);
    EXPECT_EQ(k.press(F1).action, HOTKEY_TO_MASTER);
    k.release(F1);
    k.release(RALT);
    EXPECT_EQ(k.press(F1).action, -1);
    k.release(F1);
    k.release(LCTRL);

    // Scroll Lock alone locks, also while another key is held (a game's W).
    k.press('W');
    EXPECT_EQ(k.press(0x91).action, HOTKEY_LOCK);
    EXPECT_TRUE(k.release(0x91).keep);
    EXPECT_FALSE(k.release('W').keep);
    // A key held before the modifiers, repeating under them, is no hotkey.
    k.press(F2);
    k.press(LCTRL);
    k.press(LALT);
    EXPECT_EQ(k.press(F2).action, -1);
    EXPECT_FALSE(k.release(F2).keep);

    // An action that is off never matches.
    uint32_t off[HOTKEY_COUNT] = {};
    HotkeyMatcher m;
    hotkeyReset(m);
    hotkeyKey(m, off, HOTKEY_COUNT, LCTRL, false);
    hotkeyKey(m, off, HOTKEY_COUNT, LALT, false);
    EXPECT_EQ(hotkeyKey(m, off, HOTKEY_COUNT, F1, false).action, -1);
}

TEST(Hotkeys, CombinationsReadAndRefused)
{
    char text[48];
    hotkeyText(HOTKEY_DEFAULTS[HOTKEY_TO_MASTER], text);
    EXPECT_STREQ(text, "Ctrl+Alt+F1");
    hotkeyText(HOTKEY_DEFAULTS[HOTKEY_LOCK], text);
    EXPECT_STREQ(text, "Scroll Lock");
    hotkeyText(HOTKEY_CTRL | HOTKEY_SHIFT | HOTKEY_WIN | 'K', text);
    EXPECT_STREQ(text, "Ctrl+Shift+Win+K");
    hotkeyText(0, text);
    EXPECT_STREQ(text, "Off");
    for (uint32_t c : HOTKEY_DEFAULTS) EXPECT_EQ(hotkeyRefusal(c), nullptr);
    for (uint32_t c : {HOTKEY_CTRL | HOTKEY_ALT | 0x2Eu, HOTKEY_WIN | 'L', uint32_t{'A'}, HOTKEY_SHIFT | 'A', uint32_t{' '},
                       HOTKEY_CTRL | LALT, 0u, HOTKEY_ALT | 0x09u})
        EXPECT_NE(hotkeyRefusal(c), nullptr) << c;
}

TEST(Hotkeys, GuardsHoldBackAPushUntilItIsMeant)
{
    uint32_t wait = 0;
    GuardState state;
    // Off: every push crosses at once.
    EXPECT_EQ(guardPush(CrossGuards{}, state, 1, 0, 0, 768, 1000, &wait), GuardAnswer::Cross);

    // A delay: the push must last; a push that ends starts over.
    CrossGuards delay;
    delay.delayMs = 250;
    state = {};
    EXPECT_EQ(guardPush(delay, state, 1, 300, 0, 768, 1000, &wait), GuardAnswer::Wait);
    EXPECT_EQ(wait, 250u);
    EXPECT_EQ(guardPush(delay, state, 1, 301, 0, 768, 1200, &wait), GuardAnswer::Wait);
    EXPECT_EQ(wait, 50u);
    guardRelease(state);
    EXPECT_EQ(guardPush(delay, state, 1, 301, 0, 768, 1260, &wait), GuardAnswer::Wait);
    EXPECT_EQ(guardPush(delay, state, 1, 301, 0, 768, 1510, &wait), GuardAnswer::Cross);
    // Another edge is another push; the clock may wrap.
    EXPECT_EQ(guardPush(delay, state, 2, 5, 0, 768, 0xFFFFFF00u, &wait), GuardAnswer::Wait);
    EXPECT_EQ(guardPush(delay, state, 1, 5, 0, 768, 0xFFFFFF80u, &wait), GuardAnswer::Wait);
    EXPECT_EQ(guardPush(delay, state, 1, 5, 0, 768, 0x80u, &wait), GuardAnswer::Cross);

    // A double tap: the second push within half a second crosses.
    CrossGuards tap;
    tap.doubleTap = 1;
    state = {};
    EXPECT_EQ(guardPush(tap, state, 1, 300, 0, 768, 1000, &wait), GuardAnswer::Refuse);
    EXPECT_EQ(guardPush(tap, state, 1, 310, 0, 768, 1100, &wait), GuardAnswer::Refuse);  // the same push
    guardRelease(state);
    EXPECT_EQ(guardPush(tap, state, 1, 300, 0, 768, 1600, &wait), GuardAnswer::Refuse);  // 600 ms: too late
    guardRelease(state);
    EXPECT_EQ(guardPush(tap, state, 1, 300, 0, 768, 1900, &wait), GuardAnswer::Cross);
    EXPECT_EQ(guardPush(tap, state, 1, 300, 0, 768, 2000, &wait), GuardAnswer::Refuse);  // starts afresh

    // Dead corners: within 40 pixels of either end of the edge nothing crosses.
    CrossGuards corners;
    corners.corner = 40;
    state = {};
    EXPECT_EQ(guardPush(corners, state, 1, 39, 0, 768, 0, &wait), GuardAnswer::Refuse);
    EXPECT_EQ(guardPush(corners, state, 1, 728, 0, 768, 0, &wait), GuardAnswer::Refuse);
    EXPECT_EQ(guardPush(corners, state, 1, 40, 0, 768, 0, &wait), GuardAnswer::Cross);
    EXPECT_EQ(guardPush(corners, state, 1, 1320, 1280, 2560, 0, &wait), GuardAnswer::Cross);
    EXPECT_EQ(guardPush(corners, state, 1, 1300, 1280, 2560, 0, &wait), GuardAnswer::Refuse);
}

}  // namespace
