#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include "input/scan_codes.h"
#include "link/packet.h"

namespace {

struct Key {
    int32_t vk, scan;
    bool extended;
    int32_t code;
};

// A 105-key keyboard as a Windows hook reports it (Num Lock on), with the
// input code a Linux keyboard gives each key.
constexpr Key KEYBOARD[] = {
    {0x1B, 0x01, 0, KEY_ESC}, {0x70, 0x3B, 0, KEY_F1}, {0x71, 0x3C, 0, KEY_F2}, {0x72, 0x3D, 0, KEY_F3},
    {0x73, 0x3E, 0, KEY_F4}, {0x74, 0x3F, 0, KEY_F5}, {0x75, 0x40, 0, KEY_F6}, {0x76, 0x41, 0, KEY_F7},
    {0x77, 0x42, 0, KEY_F8}, {0x78, 0x43, 0, KEY_F9}, {0x79, 0x44, 0, KEY_F10}, {0x7A, 0x57, 0, KEY_F11},
    {0x7B, 0x58, 0, KEY_F12}, {0x2C, 0x37, 1, KEY_SYSRQ}, {0x91, 0x46, 0, KEY_SCROLLLOCK}, {0x13, 0x45, 0, KEY_PAUSE},
    {0xC0, 0x29, 0, KEY_GRAVE}, {'1', 0x02, 0, KEY_1}, {'2', 0x03, 0, KEY_2}, {'3', 0x04, 0, KEY_3},
    {'4', 0x05, 0, KEY_4}, {'5', 0x06, 0, KEY_5}, {'6', 0x07, 0, KEY_6}, {'7', 0x08, 0, KEY_7}, {'8', 0x09, 0, KEY_8},
    {'9', 0x0A, 0, KEY_9}, {'0', 0x0B, 0, KEY_0}, {0xBD, 0x0C, 0, KEY_MINUS}, {0xBB, 0x0D, 0, KEY_EQUAL},
    {0x08, 0x0E, 0, KEY_BACKSPACE}, {0x09, 0x0F, 0, KEY_TAB}, {'Q', 0x10, 0, KEY_Q}, {'W', 0x11, 0, KEY_W},
    {'E', 0x12, 0, KEY_E}, {'R', 0x13, 0, KEY_R}, {'T', 0x14, 0, KEY_T}, {'Y', 0x15, 0, KEY_Y}, {'U', 0x16, 0, KEY_U},
    {'I', 0x17, 0, KEY_I}, {'O', 0x18, 0, KEY_O}, {'P', 0x19, 0, KEY_P}, {0xDB, 0x1A, 0, KEY_LEFTBRACE},
    {0xDD, 0x1B, 0, KEY_RIGHTBRACE}, {0x0D, 0x1C, 0, KEY_ENTER}, {0x14, 0x3A, 0, KEY_CAPSLOCK}, {'A', 0x1E, 0, KEY_A},
    {'S', 0x1F, 0, KEY_S}, {'D', 0x20, 0, KEY_D}, {'F', 0x21, 0, KEY_F}, {'G', 0x22, 0, KEY_G}, {'H', 0x23, 0, KEY_H},
    {'J', 0x24, 0, KEY_J}, {'K', 0x25, 0, KEY_K}, {'L', 0x26, 0, KEY_L}, {0xBA, 0x27, 0, KEY_SEMICOLON},
    {0xDE, 0x28, 0, KEY_APOSTROPHE}, {0xDC, 0x2B, 0, KEY_BACKSLASH}, {0xA0, 0x2A, 0, KEY_LEFTSHIFT},
    {0xE2, 0x56, 0, KEY_102ND}, {'Z', 0x2C, 0, KEY_Z}, {'X', 0x2D, 0, KEY_X}, {'C', 0x2E, 0, KEY_C},
    {'V', 0x2F, 0, KEY_V}, {'B', 0x30, 0, KEY_B}, {'N', 0x31, 0, KEY_N}, {'M', 0x32, 0, KEY_M},
    {0xBC, 0x33, 0, KEY_COMMA}, {0xBE, 0x34, 0, KEY_DOT}, {0xBF, 0x35, 0, KEY_SLASH}, {0xA1, 0x36, 0, KEY_RIGHTSHIFT},
    {0xA2, 0x1D, 0, KEY_LEFTCTRL}, {0x5B, 0x5B, 1, KEY_LEFTMETA}, {0xA4, 0x38, 0, KEY_LEFTALT},
    {0x20, 0x39, 0, KEY_SPACE}, {0xA5, 0x38, 1, KEY_RIGHTALT}, {0x5C, 0x5C, 1, KEY_RIGHTMETA},
    {0x5D, 0x5D, 1, KEY_COMPOSE}, {0xA3, 0x1D, 1, KEY_RIGHTCTRL}, {0x2D, 0x52, 1, KEY_INSERT},
    {0x24, 0x47, 1, KEY_HOME}, {0x21, 0x49, 1, KEY_PAGEUP}, {0x2E, 0x53, 1, KEY_DELETE}, {0x23, 0x4F, 1, KEY_END},
    {0x22, 0x51, 1, KEY_PAGEDOWN}, {0x26, 0x48, 1, KEY_UP}, {0x25, 0x4B, 1, KEY_LEFT}, {0x28, 0x50, 1, KEY_DOWN},
    {0x27, 0x4D, 1, KEY_RIGHT}, {0x90, 0x45, 1, KEY_NUMLOCK}, {0x6F, 0x35, 1, KEY_KPSLASH},
    {0x6A, 0x37, 0, KEY_KPASTERISK}, {0x6D, 0x4A, 0, KEY_KPMINUS}, {0x67, 0x47, 0, KEY_KP7}, {0x68, 0x48, 0, KEY_KP8},
    {0x69, 0x49, 0, KEY_KP9}, {0x6B, 0x4E, 0, KEY_KPPLUS}, {0x64, 0x4B, 0, KEY_KP4}, {0x65, 0x4C, 0, KEY_KP5},
    {0x66, 0x4D, 0, KEY_KP6}, {0x61, 0x4F, 0, KEY_KP1}, {0x62, 0x50, 0, KEY_KP2}, {0x63, 0x51, 0, KEY_KP3},
    {0x0D, 0x1C, 1, KEY_KPENTER}, {0x60, 0x52, 0, KEY_KP0}, {0x6E, 0x53, 0, KEY_KPDOT},
    // Media and browser keys.
    {0xAD, 0x20, 1, KEY_MUTE}, {0xAE, 0x2E, 1, KEY_VOLUMEDOWN}, {0xAF, 0x30, 1, KEY_VOLUMEUP},
    {0xB3, 0x22, 1, KEY_PLAYPAUSE}, {0xB0, 0x19, 1, KEY_NEXTSONG}, {0xB1, 0x10, 1, KEY_PREVIOUSSONG},
    {0xB2, 0x24, 1, KEY_STOPCD}, {0xA6, 0x6A, 1, KEY_BACK}, {0xA7, 0x69, 1, KEY_FORWARD}, {0xA8, 0x67, 1, KEY_REFRESH},
    {0xAC, 0x32, 1, KEY_HOMEPAGE}, {0xAA, 0x65, 1, KEY_SEARCH}, {0xAB, 0x66, 1, KEY_BOOKMARKS},
    {0xB4, 0x6C, 1, KEY_MAIL}, {0xB7, 0x21, 1, KEY_CALC}, {0xB6, 0x6B, 1, KEY_COMPUTER}, {0x5F, 0x5F, 1, KEY_SLEEP},
};

// Every key by its scan code, by its virtual key alone (its US place), and
// back from its input code to what the hook reported, virtual key included.
TEST(ScanCodes, EveryKeyOfTheKeyboardBothWays)
{
    for (const Key& k : KEYBOARD) {
        SCOPED_TRACE(testing::Message() << std::hex << "vk " << k.vk << " scan " << k.scan << " e " << k.extended);
        const int32_t flags = k.extended ? KEY_FLAG_EXTENDED : 0;
        EXPECT_EQ(inputCodeOf(k.vk, k.scan, flags), k.code);
        EXPECT_EQ(inputCodeOf(0, k.scan | (k.extended ? 0xE000 : 0), 0), k.code);
        EXPECT_EQ(inputCodeOf(k.vk, 0, flags), k.code);
        int32_t scan = 0;
        bool extended = false;
        ASSERT_TRUE(scanCodeOf(k.code, &scan, &extended));
        EXPECT_EQ(scan, k.scan);
        EXPECT_EQ(extended, k.extended);
        EXPECT_EQ(virtualKeyOf(k.code), k.vk);
    }
}

// What else a hook may report: the key's place wins over its virtual key (an
// AZERTY A is the US Q), Pause's other forms, SysRq and Break, and nothing
// for a scan code no key has.
TEST(ScanCodes, PlaceWinsAndTheOddForms)
{
    EXPECT_EQ(inputCodeOf('A', 0x10, 0), KEY_Q);
    EXPECT_EQ(inputCodeOf(0x13, 0x1D, 0), KEY_PAUSE);
    EXPECT_EQ(inputCodeOf(0, 0xE11D, 0), KEY_PAUSE);
    EXPECT_EQ(inputCodeOf(0x2C, 0x54, 0), KEY_SYSRQ);
    EXPECT_EQ(inputCodeOf(0x03, 0x46, KEY_FLAG_EXTENDED), KEY_PAUSE);
    EXPECT_EQ(inputCodeOf(0x12, 0, KEY_FLAG_EXTENDED), KEY_RIGHTALT);  // Alt without scan code, extended
    EXPECT_EQ(inputCodeOf(0x41, 0x7F, 0), 0);
    EXPECT_EQ(inputCodeOf(0x41, 0x121E, 0), 0);  // a prefix set 1 does not have
    EXPECT_EQ(inputCodeOf(0xFF, 0, 0), 0);
    int32_t scan = 0;
    bool extended = false;
    EXPECT_FALSE(scanCodeOf(0, &scan, &extended));
    EXPECT_FALSE(scanCodeOf(KEY_MEDIA_REPEAT, &scan, &extended));
    EXPECT_EQ(virtualKeyOf(KEY_RO), 0);  // no such key on a US keyboard
    EXPECT_EQ(virtualKeyOf(KEY_MEDIA_REPEAT), 0);
}

}  // namespace
