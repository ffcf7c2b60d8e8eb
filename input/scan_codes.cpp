#include "input/scan_codes.h"

#include "link/packet.h"

namespace {

struct ScanKey {
    uint8_t scan;
    bool extended;  // the E0 prefix
    int16_t code;   // the Linux input code
};

// Set 1 as a Windows hook reports it. Where two scan codes give one input
// code, the first row is the one the inverse gives.
constexpr ScanKey SCAN_KEYS[] = {
    {0x01, false, 1},    // Esc
    {0x02, false, 2},  {0x03, false, 3},  {0x04, false, 4},  {0x05, false, 5},  {0x06, false, 6},   // 1 to 5
    {0x07, false, 7},  {0x08, false, 8},  {0x09, false, 9},  {0x0A, false, 10}, {0x0B, false, 11},  // 6 to 0
    {0x0C, false, 12},   // - (the key right of 0)
    {0x0D, false, 13},   // =
    {0x0E, false, 14},   // Backspace
    {0x0F, false, 15},   // Tab
    {0x10, false, 16}, {0x11, false, 17}, {0x12, false, 18}, {0x13, false, 19}, {0x14, false, 20},  // Q W E R T
    {0x15, false, 21}, {0x16, false, 22}, {0x17, false, 23}, {0x18, false, 24}, {0x19, false, 25},  // Y U I O P
    {0x1A, false, 26},   // [
    {0x1B, false, 27},   // ]
    {0x1C, false, 28},   // Enter
    {0x1D, false, 29},   // left Ctrl
    {0x1E, false, 30}, {0x1F, false, 31}, {0x20, false, 32}, {0x21, false, 33}, {0x22, false, 34},  // A S D F G
    {0x23, false, 35}, {0x24, false, 36}, {0x25, false, 37}, {0x26, false, 38},                     // H J K L
    {0x27, false, 39},   // ;
    {0x28, false, 40},   // '
    {0x29, false, 41},   // ` (left of 1)
    {0x2A, false, 42},   // left Shift
    {0x2B, false, 43},   // \ (the ISO key left of Enter)
    {0x2C, false, 44}, {0x2D, false, 45}, {0x2E, false, 46}, {0x2F, false, 47}, {0x30, false, 48},  // Z X C V B
    {0x31, false, 49}, {0x32, false, 50},                                                           // N M
    {0x33, false, 51},   // ,
    {0x34, false, 52},   // .
    {0x35, false, 53},   // /
    {0x36, false, 54},   // right Shift
    {0x37, false, 55},   // keypad *
    {0x38, false, 56},   // left Alt
    {0x39, false, 57},   // Space
    {0x3A, false, 58},   // Caps Lock
    {0x3B, false, 59}, {0x3C, false, 60}, {0x3D, false, 61}, {0x3E, false, 62}, {0x3F, false, 63},  // F1 to F5
    {0x40, false, 64}, {0x41, false, 65}, {0x42, false, 66}, {0x43, false, 67}, {0x44, false, 68},  // F6 to F10
    {0x45, true, 69},    // Num Lock: a hook reports it extended
    {0x45, false, 119},  // Pause: a hook reports 0x45 (the keyboard sends E1 1D 45)
    {0x46, false, 70},   // Scroll Lock
    {0x47, false, 71}, {0x48, false, 72}, {0x49, false, 73},  // keypad 7 8 9
    {0x4A, false, 74},   // keypad -
    {0x4B, false, 75}, {0x4C, false, 76}, {0x4D, false, 77},  // keypad 4 5 6
    {0x4E, false, 78},   // keypad +
    {0x4F, false, 79}, {0x50, false, 80}, {0x51, false, 81},  // keypad 1 2 3
    {0x52, false, 82},   // keypad 0
    {0x53, false, 83},   // keypad .
    {0x56, false, 86},   // the ISO key left of Z
    {0x57, false, 87},   // F11
    {0x58, false, 88},   // F12
    {0x59, false, 117},  // keypad =
    {0x64, false, 183}, {0x65, false, 184}, {0x66, false, 185}, {0x67, false, 186},  // F13 to F16
    {0x68, false, 187}, {0x69, false, 188}, {0x6A, false, 189}, {0x6B, false, 190},  // F17 to F20
    {0x6C, false, 191}, {0x6D, false, 192}, {0x6E, false, 193}, {0x76, false, 194},  // F21 to F24
    {0x70, false, 93},   // Katakana/Hiragana
    {0x73, false, 89},   // Ro (the Japanese key left of right Shift)
    {0x79, false, 92},   // Henkan
    {0x7B, false, 94},   // Muhenkan
    {0x7D, false, 124},  // Yen
    {0x7E, false, 121},  // keypad , (Brazilian)
    {0xF1, false, 123},  // Hanja
    {0xF2, false, 122},  // Han/Yeong
    {0x1C, true, 96},    // keypad Enter
    {0x1D, true, 97},    // right Ctrl
    {0x35, true, 98},    // keypad /
    {0x37, true, 99},    // Print Screen
    {0x54, false, 99},   // Alt+Print Screen (SysRq)
    {0x38, true, 100},   // right Alt (AltGr)
    {0x47, true, 102},   // Home
    {0x48, true, 103},   // Up
    {0x49, true, 104},   // Page Up
    {0x4B, true, 105},   // Left
    {0x4D, true, 106},   // Right
    {0x4F, true, 107},   // End
    {0x50, true, 108},   // Down
    {0x51, true, 109},   // Page Down
    {0x52, true, 110},   // Insert
    {0x53, true, 111},   // Delete
    {0x46, true, 119},   // Ctrl+Pause (Break)
    {0x5B, true, 125},   // left Windows
    {0x5C, true, 126},   // right Windows
    {0x5D, true, 127},   // Menu
    {0x5E, true, 116},   // Power
    {0x5F, true, 142},   // Sleep
    {0x63, true, 143},   // Wake
    {0x20, true, 113},   // Mute
    {0x2E, true, 114},   // Volume down
    {0x30, true, 115},   // Volume up
    {0x22, true, 164},   // Play/Pause
    {0x24, true, 166},   // Stop (media)
    {0x19, true, 163},   // Next track
    {0x10, true, 165},   // Previous track
    {0x6D, true, 226},   // Media select
    {0x6C, true, 155},   // Mail
    {0x21, true, 140},   // Calculator
    {0x6B, true, 157},   // My Computer
    {0x32, true, 172},   // browser Home
    {0x65, true, 217},   // browser Search
    {0x66, true, 156},   // browser Favorites
    {0x67, true, 173},   // browser Refresh
    {0x68, true, 128},   // browser Stop
    {0x69, true, 159},   // browser Forward
    {0x6A, true, 158},   // browser Back
};

// Where a virtual key lies on a US keyboard, for a Master that sends no scan
// code: 0x100 marks the E0 prefix.
constexpr int32_t E0 = 0x100;

int32_t usPlaceOf(int32_t vk)
{
    static const char LETTERS[] = "\x1E\x30\x2E\x20\x12\x21\x22\x23\x17\x24\x25\x26\x32"
                                  "\x31\x18\x19\x10\x13\x1F\x14\x16\x2F\x11\x2D\x15\x2C";
    static const uint8_t KEYPAD[] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};
    static const uint8_t F13_TO_F24[] = {0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x76};
    if (vk >= 'A' && vk <= 'Z') return LETTERS[vk - 'A'];
    if (vk >= '1' && vk <= '9') return vk - '1' + 0x02;
    if (vk >= 0x60 && vk <= 0x69) return KEYPAD[vk - 0x60];
    if (vk >= 0x70 && vk <= 0x79) return vk - 0x70 + 0x3B;  // F1 to F10
    if (vk >= 0x7C && vk <= 0x87) return F13_TO_F24[vk - 0x7C];
    switch (vk) {
    case '0':  return 0x0B;
    case 0x03: return E0 | 0x46;  // Ctrl+Pause
    case 0x08: return 0x0E;       // Backspace
    case 0x09: return 0x0F;       // Tab
    case 0x0C: return 0x4C;       // Clear: keypad 5 without Num Lock
    case 0x0D: return 0x1C;       // Enter
    case 0x10: case 0xA0: return 0x2A;  // Shift, left Shift
    case 0xA1: return 0x36;             // right Shift
    case 0x11: case 0xA2: return 0x1D;  // Ctrl, left Ctrl
    case 0xA3: return E0 | 0x1D;        // right Ctrl
    case 0x12: case 0xA4: return 0x38;  // Alt, left Alt
    case 0xA5: return E0 | 0x38;        // right Alt
    case 0x13: return 0x45;       // Pause
    case 0x14: return 0x3A;       // Caps Lock
    case 0x1B: return 0x01;       // Esc
    case 0x1C: return 0x79;       // Convert
    case 0x1D: return 0x7B;       // Nonconvert
    case 0x20: return 0x39;       // Space
    case 0x21: return E0 | 0x49;  // Page Up
    case 0x22: return E0 | 0x51;  // Page Down
    case 0x23: return E0 | 0x4F;  // End
    case 0x24: return E0 | 0x47;  // Home
    case 0x25: return E0 | 0x4B;  // Left
    case 0x26: return E0 | 0x48;  // Up
    case 0x27: return E0 | 0x4D;  // Right
    case 0x28: return E0 | 0x50;  // Down
    case 0x2C: return E0 | 0x37;  // Print Screen
    case 0x2D: return E0 | 0x52;  // Insert
    case 0x2E: return E0 | 0x53;  // Delete
    case 0x5B: return E0 | 0x5B;  // left Windows
    case 0x5C: return E0 | 0x5C;  // right Windows
    case 0x5D: return E0 | 0x5D;  // Menu
    case 0x5F: return E0 | 0x5F;  // Sleep
    case 0x6A: return 0x37;       // keypad *
    case 0x6B: return 0x4E;       // keypad +
    case 0x6C: return 0x7E;       // keypad separator
    case 0x6D: return 0x4A;       // keypad -
    case 0x6E: return 0x53;       // keypad .
    case 0x6F: return E0 | 0x35;  // keypad /
    case 0x7A: return 0x57;       // F11
    case 0x7B: return 0x58;       // F12
    case 0x90: return E0 | 0x45;  // Num Lock
    case 0x91: return 0x46;       // Scroll Lock
    case 0xA6: return E0 | 0x6A;  // browser Back
    case 0xA7: return E0 | 0x69;  // browser Forward
    case 0xA8: return E0 | 0x67;  // browser Refresh
    case 0xA9: return E0 | 0x68;  // browser Stop
    case 0xAA: return E0 | 0x65;  // browser Search
    case 0xAB: return E0 | 0x66;  // browser Favorites
    case 0xAC: return E0 | 0x32;  // browser Home
    case 0xAD: return E0 | 0x20;  // Mute
    case 0xAE: return E0 | 0x2E;  // Volume down
    case 0xAF: return E0 | 0x30;  // Volume up
    case 0xB0: return E0 | 0x19;  // Next track
    case 0xB1: return E0 | 0x10;  // Previous track
    case 0xB2: return E0 | 0x24;  // Stop (media)
    case 0xB3: return E0 | 0x22;  // Play/Pause
    case 0xB4: return E0 | 0x6C;  // Mail
    case 0xB5: return E0 | 0x6D;  // Media select
    case 0xB6: return E0 | 0x6B;  // My Computer
    case 0xB7: return E0 | 0x21;  // Calculator
    case 0xBA: return 0x27;       // ;
    case 0xBB: return 0x0D;       // =
    case 0xBC: return 0x33;       // ,
    case 0xBD: return 0x0C;       // -
    case 0xBE: return 0x34;       // .
    case 0xBF: return 0x35;       // /
    case 0xC0: return 0x29;       // `
    case 0xDB: return 0x1A;       // [
    case 0xDC: return 0x2B;       // backslash
    case 0xDD: return 0x1B;       // ]
    case 0xDE: return 0x28;       // '
    case 0xE2: return 0x56;       // the ISO key left of Z
    default:   return 0;
    }
}

int32_t codeOfScan(int32_t scan, bool extended)
{
    for (const ScanKey& key : SCAN_KEYS)
        if (key.scan == scan && key.extended == extended) return key.code;
    return 0;
}

}  // namespace

int32_t inputCodeOf(int32_t virtualKey, int32_t scanCode, int32_t keyFlags)
{
    const int32_t vk = virtualKey & 0xFF;
    bool extended = (keyFlags & KEY_FLAG_EXTENDED) != 0;
    // Pause and Num Lock share 0x45 in a hook's report (Pause's E1 sequence
    // may also show as its 1D): their virtual keys tell them apart.
    if (vk == 0x13) return 119;
    if (vk == 0x90) return 69;
    if ((scanCode & ~0xFF) == 0xE100) return 119;  // the E1 prefix is Pause's alone
    const int32_t prefix = scanCode & ~0xFF;
    if (prefix == 0xE000) extended = true;
    else if (prefix != 0) return 0;  // no prefix of set 1 that this table knows
    if ((scanCode & 0xFF) == 0) {
        // A Master that sends only virtual keys; its extended bit, if any,
        // still tells keypad Enter and the right-hand modifiers apart.
        const int32_t place = usPlaceOf(vk);
        if (place == 0) return 0;
        const int32_t code = codeOfScan(place & 0xFF, extended || (place & E0) != 0);
        return code != 0 ? code : codeOfScan(place & 0xFF, (place & E0) != 0);
    }
    return codeOfScan(scanCode & 0xFF, extended);
}

bool scanCodeOf(int32_t inputCode, int32_t* scanCode, bool* extended)
{
    for (const ScanKey& key : SCAN_KEYS) {
        if (key.code == inputCode && inputCode != 0) {
            *scanCode = key.scan;
            *extended = key.extended;
            return true;
        }
    }
    return false;
}

// Walked from the top down, so that the modifiers of one side (0xA0 on) win
// over the generic ones (0x10 to 0x12) and the keypad's 5 over Clear, which
// share their places.
int32_t virtualKeyOf(int32_t inputCode)
{
    int32_t scan = 0;
    bool extended = false;
    if (!scanCodeOf(inputCode, &scan, &extended)) return 0;
    if (scan == 0x1C && extended) return 0x0D;  // keypad Enter: Enter's key, told apart by the E0 bit
    const int32_t place = scan | (extended ? E0 : 0);
    for (int32_t vk = 0xFF; vk > 0; --vk)
        if (usPlaceOf(vk) == place) return vk;
    return 0;
}
