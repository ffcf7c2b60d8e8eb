#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/constants.h"
#include "input/key_rules.h"

namespace {

// One low-level keyboard notification as Windows reports it: the message,
// virtual key, scan code and flags (1 extended, 16 injected, 32 Alt down,
// 128 up).
struct Hooked {
    uint32_t message, vk, scan, flags;
};

constexpr uint32_t DOWN = 256, UP = 257, SYSDOWN = 260, SYSUP = 261;

// What the sequence queues, each as "vk/scan[/e]+" (press) or "-" (release).
std::string queued(std::initializer_list<Hooked> sequence)
{
    std::string out;
    for (const Hooked& h : sequence) {
        KeyEvent key;
        if (!keyEventFor(h.message, h.vk, h.scan, h.flags, &key)) continue;
        char text[32];
        snprintf(text, sizeof text, "%X/%X%s%c ", keyWordVk(key.key), keyWordScan(key.key),
                 keyWordExtended(key.key) ? "/e" : "", key.event == EV_KEY_DOWN ? '+' : '-');
        out += text;
    }
    return out;
}

// The sequences Windows documents for a keyboard: every key goes over once,
// in order, with its scan code and extended bit; Alt is a key like any other.
TEST(KeyRules, EveryKeyOnceInOrderAltIncluded)
{
    // Alt alone: a system key down, a plain key up.
    EXPECT_EQ(queued({{SYSDOWN, 0xA4, 0x38, 32}, {UP, 0xA4, 0x38, 128}}), "A4/38+ A4/38- ");
    // Alt+Tab, Tab let go first and Alt let go first.
    EXPECT_EQ(queued({{SYSDOWN, 0xA4, 0x38, 32}, {SYSDOWN, 0x09, 0x0F, 32}, {SYSUP, 0x09, 0x0F, 160},
                      {UP, 0xA4, 0x38, 128}}),
              "A4/38+ 9/F+ 9/F- A4/38- ");
    EXPECT_EQ(queued({{SYSDOWN, 0xA4, 0x38, 32}, {SYSDOWN, 0x09, 0x0F, 32}, {UP, 0xA4, 0x38, 128},
                      {UP, 0x09, 0x0F, 128}}),
              "A4/38+ 9/F+ A4/38- 9/F- ");
    // Ctrl+Alt+Q: with Ctrl held no key is a system key.
    EXPECT_EQ(queued({{DOWN, 0xA2, 0x1D, 0}, {DOWN, 0xA4, 0x38, 32}, {DOWN, 0x51, 0x10, 32}, {UP, 0x51, 0x10, 160},
                      {UP, 0xA4, 0x38, 128}, {UP, 0xA2, 0x1D, 128}}),
              "A2/1D+ A4/38+ 51/10+ 51/10- A4/38- A2/1D- ");
    // AltGr+Q on a German layout: the system's left Ctrl comes with the right Alt.
    EXPECT_EQ(queued({{DOWN, 0xA2, 0x21D, 0}, {DOWN, 0xA5, 0x38, 33}, {DOWN, 0x51, 0x10, 32}, {UP, 0x51, 0x10, 160},
                      {UP, 0xA5, 0x38, 129}, {UP, 0xA2, 0x21D, 128}}),
              "A2/21D+ A5/38/e+ 51/10+ 51/10- A5/38/e- A2/21D- ");
    // An Alt injected by a program, and Alt+F4 with it; a key held repeats its press.
    EXPECT_EQ(queued({{SYSDOWN, 0xA4, 0x38, 48}, {SYSDOWN, 0x73, 0x3E, 48}, {SYSUP, 0x73, 0x3E, 176},
                      {UP, 0xA4, 0x38, 144}}),
              "A4/38+ 73/3E+ 73/3E- A4/38- ");
    EXPECT_EQ(queued({{DOWN, 0x41, 0x1E, 0}, {DOWN, 0x41, 0x1E, 0}, {UP, 0x41, 0x1E, 128}}), "41/1E+ 41/1E+ 41/1E- ");
    // Extended keys keep their bit: right Ctrl, the arrow beside numpad's.
    EXPECT_EQ(queued({{DOWN, 0xA3, 0x1D, 1}, {DOWN, 0x25, 0x4B, 1}, {DOWN, 0x25, 0x4B, 0}, {UP, 0xA3, 0x1D, 129}}),
              "A3/1D/e+ 25/4B/e+ 25/4B+ A3/1D/e- ");
    // Anything else queues nothing.
    EXPECT_EQ(queued({{0x100 + 9, 0x41, 0x1E, 0}, {DOWN, 0, 0, 0}}), "");

    // A bare virtual-key code is a key word too; the keys extended everywhere.
    EXPECT_EQ(keyWordVk(0x41), 0x41);
    EXPECT_EQ(keyWordScan(0x41), 0);
    for (uint32_t vk : {0x25u, 0x2Eu, 0x5Bu, 0x6Fu, 0x90u, 0xA3u, 0xA5u}) EXPECT_TRUE(extendedOnEveryKeyboard(vk));
    for (uint32_t vk : {0x0Du, 0x41u, 0x64u, 0xA2u, 0xA4u}) EXPECT_FALSE(extendedOnEveryKeyboard(vk));
}

}  // namespace
