#include "unix/key_names.h"

#include "input/hotkeys.h"

namespace {

std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// X names in lower case, beside the Windows code of that key on a US
// keyboard (punctuation by where it sits; the keypad's Enter is Return's).
const struct {
    const char* name;
    uint8_t vk;
} NAMES[] = {
    {"scroll_lock", 0x91}, {"pause", 0x13},        {"insert", 0x2D},     {"delete", 0x2E},
    {"home", 0x24},        {"end", 0x23},          {"prior", 0x21},      {"page_up", 0x21},
    {"next", 0x22},        {"page_down", 0x22},    {"left", 0x25},       {"up", 0x26},
    {"right", 0x27},       {"down", 0x28},         {"escape", 0x1B},     {"tab", 0x09},
    {"space", 0x20},       {"return", 0x0D},       {"backspace", 0x08},  {"print", 0x2C},
    {"num_lock", 0x90},    {"menu", 0x5D},         {"caps_lock", 0x14},  {"kp_multiply", 0x6A},
    {"kp_add", 0x6B},      {"kp_separator", 0x6C}, {"kp_subtract", 0x6D}, {"kp_decimal", 0x6E},
    {"kp_divide", 0x6F},   {"kp_enter", 0x0D},     {"semicolon", 0xBA},  {"equal", 0xBB},
    {"comma", 0xBC},       {"minus", 0xBD},        {"period", 0xBE},     {"slash", 0xBF},
    {"grave", 0xC0},       {"bracketleft", 0xDB},  {"backslash", 0xDC},  {"bracketright", 0xDD},
    {"apostrophe", 0xDE},  {"less", 0xE2},
};

}  // namespace

uint32_t virtualKeyOfName(const std::string& name)
{
    const std::string key = lower(name);
    if (key.size() == 1 && key[0] >= 'a' && key[0] <= 'z') return static_cast<uint32_t>(key[0] - 'a' + 'A');
    if (key.size() == 1 && key[0] >= '0' && key[0] <= '9') return static_cast<uint32_t>(key[0]);
    if (key.size() == 4 && key.compare(0, 3, "kp_") == 0 && key[3] >= '0' && key[3] <= '9')
        return 0x60 + static_cast<uint32_t>(key[3] - '0');
    // F1 to F24, without a leading zero.
    if ((key.size() == 2 || key.size() == 3) && key[0] == 'f' && key[1] >= '1' && key[1] <= '9') {
        uint32_t n = static_cast<uint32_t>(key[1] - '0');
        if (key.size() == 3) {
            if (key[2] < '0' || key[2] > '9') return 0;
            n = n * 10 + static_cast<uint32_t>(key[2] - '0');
        }
        return n <= 24 ? 0x70 + n - 1 : 0;
    }
    for (const auto& entry : NAMES)
        if (key == entry.name) return entry.vk;
    return 0;
}

const char* parseCombination(const std::string& text, uint32_t* combination)
{
    if (lower(text) == "none") {
        *combination = 0;
        return nullptr;
    }
    uint32_t mods = 0;
    size_t begin = 0;
    for (size_t plus; (plus = text.find('+', begin)) != std::string::npos; begin = plus + 1) {
        const std::string word = lower(text.substr(begin, plus - begin));
        const uint32_t mod = word == "ctrl"    ? HOTKEY_CTRL
                             : word == "alt"   ? HOTKEY_ALT
                             : word == "shift" ? HOTKEY_SHIFT
                             : word == "super" ? HOTKEY_WIN
                                               : 0;
        if (!mod || (mods & mod)) return "the modifiers are ctrl, alt, shift and super, each once, before the key";
        mods |= mod;
    }
    const uint32_t vk = virtualKeyOfName(text.substr(begin));
    if (!vk) return "the key is an X key name such as F1, Scroll_Lock, Home or a (or none for off)";
    // What the Windows Master would never take: a key that types text
    // without Ctrl, Alt or Super, or one the system keeps.
    if (hotkeyRefusal(mods | vk))
        return (mods & ~HOTKEY_SHIFT) == 0 ? "that key types text: add ctrl, alt or super to it"
                                           : "the system keeps that combination for itself";
    *combination = mods | vk;
    return nullptr;
}
