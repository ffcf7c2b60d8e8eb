// Which X keycode a Linux input code has. On a server with the evdev
// keycodes (every X server that reads its keyboards through evdev, Xvfb
// too) it is the input code + 8. Another server's keycodes are matched by
// their XKB key names, which name a place on the keyboard whatever the
// layout.
#include <X11/XKBlib.h>

#include <cstdio>
#include <cstring>

#include "unix/x_display.h"

namespace {

// The evdev keycodes' names from keycode 9 (Esc, input code 1) on; "" where
// the name is only a number.
const char* const EVDEV_NAMES[] = {
    "ESC",  "AE01", "AE02", "AE03", "AE04", "AE05", "AE06", "AE07", "AE08", "AE09", "AE10", "AE11", "AE12",
    "BKSP", "TAB",  "AD01", "AD02", "AD03", "AD04", "AD05", "AD06", "AD07", "AD08", "AD09", "AD10", "AD11",
    "AD12", "RTRN", "LCTL", "AC01", "AC02", "AC03", "AC04", "AC05", "AC06", "AC07", "AC08", "AC09", "AC10",
    "AC11", "TLDE", "LFSH", "BKSL", "AB01", "AB02", "AB03", "AB04", "AB05", "AB06", "AB07", "AB08", "AB09",
    "AB10", "RTSH", "KPMU", "LALT", "SPCE", "CAPS", "FK01", "FK02", "FK03", "FK04", "FK05", "FK06", "FK07",
    "FK08", "FK09", "FK10", "NMLK", "SCLK", "KP7",  "KP8",  "KP9",  "KPSU", "KP4",  "KP5",  "KP6",  "KPAD",
    "KP1",  "KP2",  "KP3",  "KP0",  "KPDL", "LVL3", "",     "LSGT", "FK11", "FK12", "AB11", "KATA", "HIRA",
    "HENK", "HKTG", "MUHE", "JPCM", "KPEN", "RCTL", "KPDV", "PRSC", "RALT", "LNFD", "HOME", "UP",   "PGUP",
    "LEFT", "RGHT", "END",  "DOWN", "PGDN", "INS",  "DELE", "",     "MUTE", "VOL-", "VOL+", "POWR", "KPEQ",
    "",     "PAUS", "",     "",     "HNGL", "HJCV", "AE13", "LWIN", "RWIN", "COMP", "STOP", "AGAI", "PROP",
    "UNDO", "FRNT", "COPY", "OPEN", "PAST", "FIND", "CUT",  "HELP",
};
constexpr int32_t FIRST_NAMED = 9;
constexpr int32_t NAMED = sizeof EVDEV_NAMES / sizeof EVDEV_NAMES[0];
// F13 to F24 further on.
constexpr int32_t EVDEV_F13 = 191;

// The evdev keycode of a key name, 0 for a name that has none.
int32_t evdevKeycodeOf(const char name[XkbKeyNameLength])
{
    char text[XkbKeyNameLength + 1] = {};
    memcpy(text, name, XkbKeyNameLength);
    if (text[0] == 0) return 0;
    for (int32_t i = 0; i < NAMED; ++i)
        if (strcmp(EVDEV_NAMES[i], text) == 0) return FIRST_NAMED + i;
    if (strncmp(text, "FK", 2) == 0 && text[2] >= '1' && text[2] <= '2' && text[3] >= '0' && text[3] <= '9') {
        const int32_t f = (text[2] - '0') * 10 + (text[3] - '0');
        if (f >= 13 && f <= 24) return EVDEV_F13 + f - 13;
    }
    return 0;
}

bool evdev = true;
bool saidNoNames = false;
// By input code, for a server whose keycodes are not the evdev ones.
uint8_t byName[256] = {};

}  // namespace

void readKeymap()
{
    XkbDescPtr xkb = XkbGetMap(xDisplay, 0, XkbUseCoreKbd);
    if (!xkb || XkbGetNames(xDisplay, XkbKeyNamesMask, xkb) != Success || !xkb->names || !xkb->names->keys) {
        // Without names nothing better than the evdev rule can be had.
        if (!saidNoNames) fprintf(stderr, "skiprail: the X server gives no key names; keys are taken as evdev's\n");
        saidNoNames = true;
        evdev = true;
        if (xkb) XkbFreeKeyboard(xkb, 0, True);
        return;
    }
    int32_t same = 0, moved = 0;
    memset(byName, 0, sizeof byName);
    for (int32_t keycode = xkb->min_key_code; keycode <= xkb->max_key_code; ++keycode) {
        const int32_t evdevKeycode = evdevKeycodeOf(xkb->names->keys[keycode].name);
        if (evdevKeycode == 0) continue;
        if (evdevKeycode == keycode) ++same; else ++moved;
        if (byName[evdevKeycode - 8] == 0) byName[evdevKeycode - 8] = static_cast<uint8_t>(keycode);
    }
    XkbFreeKeyboard(xkb, 0, True);

    const bool wasEvdev = evdev;
    evdev = moved == 0 && same > 0;
    if (!evdev && wasEvdev)
        fprintf(stderr, "skiprail: the X server's keycodes are not the evdev ones; keys are pressed by their "
                        "XKB names, and keys that have no common name are left out\n");
    else if (evdev && !wasEvdev)
        fprintf(stderr, "skiprail: the X server's keycodes are the evdev ones again\n");
}

int32_t keycodeOf(int32_t inputCode)
{
    if (inputCode <= 0 || inputCode > 255 - 8) return 0;
    return evdev ? inputCode + 8 : byName[inputCode];
}

int32_t inputCodeOfKeycode(int32_t keycode)
{
    if (keycode < 8 || keycode > 255) return 0;
    if (evdev) return keycode - 8;
    for (int32_t code = 1; code < 256; ++code)
        if (byName[code] == keycode) return code;
    return 0;
}
