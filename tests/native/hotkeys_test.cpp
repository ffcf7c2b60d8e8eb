#include <gtest/gtest.h>

#include <vector>

#include "input/hotkeys.h"

namespace {

constexpr int LCTRL = 0xA2, RCTRL = 0xA3, LALT = 0xA4, RALT = 0xA5, LSHIFT = 0xA0, F1 = 0x70, F2 = 0x71;

// Plays "+vk" presses and "-vk" releases; returns each step as action*10 + kept.
std::vector<int> play(std::initializer_list<int> keys, const uint32_t* combinations = HOTKEY_DEFAULTS)
{
    HotkeyMatcher m;
    hotkeyReset(m);
    std::vector<int> out;
    for (int k : keys) {
        const HotkeyStep s = hotkeyKey(m, combinations, HOTKEY_COUNT, static_cast<uint32_t>(k < 0 ? -k : k), k < 0);
        out.push_back(s.action * 10 + (s.keep ? 1 : 0));
    }
    return out;
}

TEST(Hotkeys, TheCompletingKeyIsFoundAndKeptWithItsRepeatsAndRelease)
{
    using V = std::vector<int>;
    // Either side's modifiers; the key repeats, is released after them, and is ordinary afterwards.
    EXPECT_EQ(play({RCTRL, LALT, F2, F2, -RCTRL, -F2, -LALT, F2, -F2}), (V{-10, -10, 11, -9, -10, -9, -10, -10, -10}));
    // Exactly the modifiers: not with Shift too, not with Ctrl alone.
    EXPECT_EQ(play({LCTRL, RALT, LSHIFT, F1, -F1, -LSHIFT, F1, -F1, -RALT, F1}),
              (V{-10, -10, -10, -10, -10, -10, 1, -9, -10, -10}));
    // Scroll Lock while a game's W is held; a key held before the modifiers is no hotkey.
    EXPECT_EQ(play({'W', 0x91, -0x91, -'W', F2, LCTRL, LALT, F2, -F2}), (V{-10, 51, -9, -10, -10, -10, -10, -10, -10}));
    const uint32_t off[HOTKEY_COUNT] = {};
    EXPECT_EQ(play({LCTRL, LALT, F1}, off), (V{-10, -10, -10}));
}

TEST(Hotkeys, CombinationsReadAndRefused)
{
    char text[48];
    hotkeyText(HOTKEY_DEFAULTS[HOTKEY_TO_MASTER], text);
    EXPECT_STREQ(text, "Ctrl+Alt+F1");
    hotkeyText(HOTKEY_CTRL | HOTKEY_SHIFT | HOTKEY_WIN | 'K', text);
    EXPECT_STREQ(text, "Ctrl+Shift+Win+K");
    for (uint32_t c : HOTKEY_DEFAULTS) EXPECT_EQ(hotkeyRefusal(c), nullptr);
    for (uint32_t c : {HOTKEY_CTRL | HOTKEY_ALT | 0x2Eu, HOTKEY_WIN | 'L', uint32_t{'A'}, HOTKEY_SHIFT | 'A',
                       HOTKEY_CTRL | LALT, 0u, HOTKEY_ALT | 0x09u})
        EXPECT_NE(hotkeyRefusal(c), nullptr) << c;
}

TEST(Hotkeys, GuardsHoldBackAPushUntilItIsMeant)
{
    uint32_t wait = 0;
    auto push = [&](const CrossGuards& g, GuardState& s, int32_t edge, int32_t along, uint32_t now) {
        return guardPush(g, s, edge, along, 0, 768, now, &wait);
    };
    GuardState s;
    EXPECT_EQ(push(CrossGuards{}, s, 1, 0, 1000), GuardAnswer::Cross);  // off: at once

    // A delay: the push must last; a push that ends starts over; the clock may wrap.
    const CrossGuards delay{250, 0, 0};
    EXPECT_EQ(push(delay, s, 1, 300, 1000), GuardAnswer::Wait);
    EXPECT_EQ(wait, 250u);
    EXPECT_EQ(push(delay, s, 1, 301, 1200), GuardAnswer::Wait);
    EXPECT_EQ(wait, 50u);
    guardRelease(s);
    EXPECT_EQ(push(delay, s, 1, 301, 1260), GuardAnswer::Wait);
    EXPECT_EQ(push(delay, s, 1, 301, 1510), GuardAnswer::Cross);
    EXPECT_EQ(push(delay, s, 2, 5, 0xFFFFFF80u), GuardAnswer::Wait);
    EXPECT_EQ(push(delay, s, 2, 5, 0x80u), GuardAnswer::Cross);

    // A double tap: the second push within half a second crosses, and then it starts afresh.
    const CrossGuards tap{0, 1, 0};
    s = {};
    EXPECT_EQ(push(tap, s, 1, 300, 1000), GuardAnswer::Refuse);
    EXPECT_EQ(push(tap, s, 1, 310, 1100), GuardAnswer::Refuse);  // the same push
    guardRelease(s);
    EXPECT_EQ(push(tap, s, 1, 300, 1600), GuardAnswer::Refuse);  // 600 ms: too late
    guardRelease(s);
    EXPECT_EQ(push(tap, s, 1, 300, 1900), GuardAnswer::Cross);
    EXPECT_EQ(push(tap, s, 1, 300, 2000), GuardAnswer::Refuse);

    // Dead corners: within 40 pixels of either end of the edge's span.
    const CrossGuards corners{0, 0, 40};
    EXPECT_EQ(push(corners, s, 1, 39, 0), GuardAnswer::Refuse);
    EXPECT_EQ(push(corners, s, 1, 728, 0), GuardAnswer::Refuse);
    EXPECT_EQ(push(corners, s, 1, 40, 0), GuardAnswer::Cross);
    EXPECT_EQ(guardPush(corners, s, 1, 1300, 1280, 2560, 0, &wait), GuardAnswer::Refuse);
}

}  // namespace
