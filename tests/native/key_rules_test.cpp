#include <gtest/gtest.h>

#include <array>
#include <string>

#include "app/constants.h"
#include "input/key_rules.h"

namespace {

constexpr uint32_t DOWN = 256, UP = 257, SYSDOWN = 260, SYSUP = 261;

// Low-level notifications as Windows reports them (message, virtual key, scan
// code, flags: 1 extended, 16 injected, 32 Alt down, 128 up), and what they
// queue, each as "vk/scan[/e]" with + for a press and - for a release.
std::string queued(std::initializer_list<std::array<uint32_t, 4>> sequence)
{
    std::string out;
    for (const auto& h : sequence) {
        KeyEvent k;
        char text[32];
        if (!keyEventFor(h[0], h[1], h[2], h[3], &k)) continue;
        snprintf(text, sizeof text, "%X/%X%s%c ", keyWordVk(k.key), keyWordScan(k.key),
                 keyWordExtended(k.key) ? "/e" : "", k.event == EV_KEY_DOWN ? '+' : '-');
        out += text;
    }
    return out;
}

// The sequences Windows documents: every key once, in order, with its scan
// code and extended bit; Alt is a key like any other, whatever the flags.
TEST(KeyRules, EveryKeyOnceInOrderAltIncluded)
{
    const std::string alt = "A4/38+ A4/38- ";
    EXPECT_EQ(queued({{SYSDOWN, 0xA4, 0x38, 32}, {UP, 0xA4, 0x38, 128}}), alt);                 // Alt alone
    EXPECT_EQ(queued({{SYSDOWN, 0xA4, 0x38, 48}, {UP, 0xA4, 0x38, 144}}), alt);                 // injected
    EXPECT_EQ(queued({{SYSDOWN, 0xA4, 0x38, 32}, {SYSDOWN, 9, 0xF, 32}, {SYSUP, 9, 0xF, 160},   // Alt+Tab
                      {UP, 0xA4, 0x38, 128}, {SYSDOWN, 0xA4, 0x38, 32}, {SYSDOWN, 9, 0xF, 32},  // and Alt let
                      {UP, 0xA4, 0x38, 128}, {UP, 9, 0xF, 128}}),                               // go first
              "A4/38+ 9/F+ 9/F- A4/38- A4/38+ 9/F+ A4/38- 9/F- ");
    EXPECT_EQ(queued({{DOWN, 0xA2, 0x1D, 0}, {DOWN, 0xA4, 0x38, 32}, {DOWN, 0x51, 0x10, 32},    // Ctrl+Alt+Q
                      {UP, 0x51, 0x10, 160}, {UP, 0xA4, 0x38, 128}, {UP, 0xA2, 0x1D, 128}}),
              "A2/1D+ A4/38+ 51/10+ 51/10- A4/38- A2/1D- ");
    EXPECT_EQ(queued({{DOWN, 0xA2, 0x21D, 0}, {DOWN, 0xA5, 0x38, 33}, {DOWN, 0x51, 0x10, 32},   // AltGr+Q
                      {UP, 0x51, 0x10, 160}, {UP, 0xA5, 0x38, 129}, {UP, 0xA2, 0x21D, 128}}),
              "A2/21D+ A5/38/e+ 51/10+ 51/10- A5/38/e- A2/21D- ");
    EXPECT_EQ(queued({{DOWN, 0x41, 0x1E, 0}, {DOWN, 0x41, 0x1E, 0}, {UP, 0x41, 0x1E, 128},      // a repeat,
                      {DOWN, 0x25, 0x4B, 1}, {DOWN, 0x25, 0x4B, 0}, {265, 0x41, 0x1E, 0}}),     // both arrows
              "41/1E+ 41/1E+ 41/1E- 25/4B/e+ 25/4B+ ");
    for (uint32_t vk : {0x25u, 0x2Eu, 0x5Bu, 0x6Fu, 0x90u, 0xA3u, 0xA5u}) EXPECT_TRUE(extendedOnEveryKeyboard(vk));
    for (uint32_t vk : {0x0Du, 0x41u, 0x64u, 0xA2u, 0xA4u}) EXPECT_FALSE(extendedOnEveryKeyboard(vk));
}

}  // namespace
