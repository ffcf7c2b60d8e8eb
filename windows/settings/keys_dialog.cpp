#include "windows/settings/keys_dialog.h"

#include <cstdio>

#include "windows/app/appstate.h"
#include "windows/input/hooks.h"
#include "resources/resource.h"
#include "windows/settings/settings.h"
#include "windows/settings/settings_dialog.h"

namespace {

const char* const ROW_NAMES[HOTKEY_COUNT] = {
    "Switch to the Master (take control back)",
    "Switch to Slave 1",
    "Switch to Slave 2",
    "Switch to Slave 3",
    "Switch to Slave 4",
    "Lock control to the PC that has it",
};

const int32_t MAX_DELAY_MS = 5000;
const int32_t MAX_CORNER = 500;

struct KeysCopy {
    uint32_t hotkeys[HOTKEY_COUNT];
    bool touched[HOTKEY_COUNT];  // set, turned off or reset on the page
    CrossGuards guards;
    // What the number fields show, also while their guard is off.
    int32_t delayShown;
    int32_t cornerShown;
};

// The settings dialog's copy, and the page's own while it is open, given
// back on its OK.
KeysCopy keysCopy = {};
KeysCopy editing = {};

// The row whose box reads a combination, or -1. While one reads, the hook
// library leaves every hotkey alone, so the keys reach the box.
int32_t reading = -1;
WNDPROC editProc = nullptr;

void showRow(HWND dialog, int32_t row)
{
    char text[48] = "Press the keys...";
    if (row != reading) hotkeyText(editing.hotkeys[row], text);
    SetDlgItemTextA(dialog, IDC_KEYS_BOX + row, text);
}

void showNote(HWND dialog, const char* text)
{
    SetDlgItemTextA(dialog, IDC_KEYS_NOTE, text);
}

void stopReading(HWND dialog)
{
    if (reading < 0) return;
    const int32_t row = reading;
    reading = -1;
    applyHotkeys(true);
    showRow(dialog, row);
}

void startReading(HWND dialog, int32_t row)
{
    if (reading == row) return;
    stopReading(dialog);
    HWND box = GetDlgItem(dialog, IDC_KEYS_BOX + row);
    SetFocus(box);
    if (GetFocus() != box) return;
    applyHotkeys(false);
    reading = row;
    showRow(dialog, row);
    char text[160] = {};
    _snprintf(text, sizeof text - 1, "Press the new keys for \"%s\", or Esc to keep the old ones.", ROW_NAMES[row]);
    showNote(dialog, text);
}

// Another row that has the combination, or -1.
int32_t rowWith(uint32_t combination, int32_t except)
{
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i)
        if (i != except && combination != 0 && editing.hotkeys[i] == combination) return i;
    return -1;
}

void noteTaken(HWND dialog, uint32_t combination, int32_t other)
{
    char keys[48], text[256] = {};
    hotkeyText(combination, keys);
    _snprintf(text, sizeof text - 1, "%s is already the key of \"%s\". Turn that one off or change it first.", keys,
              ROW_NAMES[other]);
    showNote(dialog, text);
}

// Gives the row a combination, unless another row has it.
void setRow(HWND dialog, int32_t row, uint32_t combination)
{
    const int32_t other = rowWith(combination, row);
    if (other >= 0) {
        noteTaken(dialog, combination, other);
        return;
    }
    editing.hotkeys[row] = combination;
    editing.touched[row] = true;
    showRow(dialog, row);
    showNote(dialog, "");
}

// A key pressed while the row's box reads: a modifier waits for the key
// that completes the combination, with the modifiers held then.
void readKey(HWND dialog, int32_t row, WPARAM vk)
{
    if (vk == 0 || vk >= 0xFF || vk == VK_PROCESSKEY || vk == VK_PACKET || isModifierKey(static_cast<uint32_t>(vk)))
        return;
    uint32_t combination = static_cast<uint32_t>(vk);
    if (GetKeyState(VK_CONTROL) < 0) combination |= HOTKEY_CTRL;
    if (GetKeyState(VK_MENU) < 0) combination |= HOTKEY_ALT;
    if (GetKeyState(VK_SHIFT) < 0) combination |= HOTKEY_SHIFT;
    if (GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0) combination |= HOTKEY_WIN;
    stopReading(dialog);
    if (combination == VK_ESCAPE) {
        showNote(dialog, "");
        return;
    }
    if (const char* why = hotkeyRefusal(combination)) {
        char keys[48], text[256] = {};
        hotkeyText(combination, keys);
        _snprintf(text, sizeof text - 1, "%s cannot be used. %s", keys, why);
        showNote(dialog, text);
        return;
    }
    setRow(dialog, row, combination);
}

// A row's box: shows its combination, and reads a new one once clicked or
// its Change button is. Every key goes to it while it reads, Alt
// combinations and F10 too, and none of them does what it would elsewhere.
LRESULT CALLBACK boxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int32_t row = GetDlgCtrlID(box) - IDC_KEYS_BOX;
    HWND dialog = GetParent(box);
    switch (message) {
    case WM_GETDLGCODE:
        if (row == reading) return DLGC_WANTALLKEYS;
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        startReading(dialog, row);
        return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if (row != reading) break;
        readKey(dialog, row, wParam);
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        // Print Screen reaches programs as its release alone.
        if (row == reading && wParam == VK_SNAPSHOT) readKey(dialog, row, wParam);
        return 0;
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_DEADCHAR:
    case WM_SYSDEADCHAR:
    case WM_CONTEXTMENU:
        return 0;
    case WM_KILLFOCUS:
        if (row == reading) stopReading(dialog);
        break;
    default: break;
    }
    return CallWindowProcA(editProc, box, message, wParam, lParam);
}

bool checked(HWND dialog, int id)
{
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void showGuard(HWND dialog, int box, int field, bool on, int32_t shown)
{
    SendDlgItemMessageA(dialog, box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    SetDlgItemInt(dialog, field, static_cast<UINT>(shown), FALSE);
    EnableWindow(GetDlgItem(dialog, field), on);
}

// A whole number from 1 to `most` in the field, digits only.
bool readNumber(HWND dialog, int field, int32_t most, int32_t* value)
{
    char text[16] = {};
    GetDlgItemTextA(dialog, field, text, sizeof text);
    int32_t number = 0;
    int digits = 0;
    for (const char* c = text; *c; ++c, ++digits) {
        if (*c < '0' || *c > '9' || digits >= 6) return false;
        number = number * 10 + (*c - '0');
    }
    if (digits == 0 || number < 1 || number > most) return false;
    *value = number;
    return true;
}

void onKeysInit(HWND dialog)
{
    editing = keysCopy;
    reading = -1;
    for (int32_t row = 0; row < HOTKEY_COUNT; ++row) {
        SetDlgItemTextA(dialog, IDC_KEYS_NAME + row, ROW_NAMES[row]);
        HWND box = GetDlgItem(dialog, IDC_KEYS_BOX + row);
        editProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(boxProc)));
        showRow(dialog, row);
    }
    showGuard(dialog, IDC_KEYS_DELAY, IDC_KEYS_DELAY_MS, editing.guards.delayMs > 0, editing.delayShown);
    showGuard(dialog, IDC_KEYS_CORNERS, IDC_KEYS_CORNER_PX, editing.guards.corner > 0, editing.cornerShown);
    SendDlgItemMessageA(dialog, IDC_KEYS_TAP, BM_SETCHECK, editing.guards.doubleTap ? BST_CHECKED : BST_UNCHECKED, 0);
}

void onKeysOk(HWND dialog)
{
    const bool delayOn = checked(dialog, IDC_KEYS_DELAY), cornerOn = checked(dialog, IDC_KEYS_CORNERS);
    int32_t delay = editing.delayShown, corner = editing.cornerShown;
    if (!readNumber(dialog, IDC_KEYS_DELAY_MS, MAX_DELAY_MS, &delay) && delayOn) {
        noteAbout(dialog, "The switch delay must be a number of milliseconds from 1 to %d.",
                  static_cast<int>(MAX_DELAY_MS));
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_KEYS_DELAY_MS)), TRUE);
        return;
    }
    if (!readNumber(dialog, IDC_KEYS_CORNER_PX, MAX_CORNER, &corner) && cornerOn) {
        noteAbout(dialog, "Dead corners must be a number of pixels from 1 to %d.", static_cast<int>(MAX_CORNER));
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_KEYS_CORNER_PX)), TRUE);
        return;
    }
    editing.delayShown = delay;
    editing.cornerShown = corner;
    editing.guards.delayMs = delayOn ? delay : 0;
    editing.guards.doubleTap = checked(dialog, IDC_KEYS_TAP) ? 1 : 0;
    editing.guards.corner = cornerOn ? corner : 0;
    keysCopy = editing;
    EndDialog(dialog, IDOK);
}

void onKeysCommand(HWND dialog, int id, int code)
{
    // The boxes' own notices (focus, text) change nothing.
    if (code != BN_CLICKED) return;
    const int32_t row = id % 10;
    if (row < HOTKEY_COUNT && id >= IDC_KEYS_CHANGE && id < IDC_KEYS_CHANGE + HOTKEY_COUNT) {
        startReading(dialog, row);
        return;
    }
    stopReading(dialog);
    if (row < HOTKEY_COUNT && id >= IDC_KEYS_OFF && id < IDC_KEYS_OFF + HOTKEY_COUNT) {
        setRow(dialog, row, 0);
        return;
    }
    if (row < HOTKEY_COUNT && id >= IDC_KEYS_DEFAULT && id < IDC_KEYS_DEFAULT + HOTKEY_COUNT) {
        setRow(dialog, row, HOTKEY_DEFAULTS[row]);
        return;
    }
    switch (id) {
    case IDC_KEYS_DELAY:
        EnableWindow(GetDlgItem(dialog, IDC_KEYS_DELAY_MS), checked(dialog, IDC_KEYS_DELAY));
        break;
    case IDC_KEYS_CORNERS:
        EnableWindow(GetDlgItem(dialog, IDC_KEYS_CORNER_PX), checked(dialog, IDC_KEYS_CORNERS));
        break;
    case IDOK:     onKeysOk(dialog); break;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    default: break;
    }
}

INT_PTR CALLBACK keysDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: onKeysInit(dialog); return TRUE;
    case WM_COMMAND:    onKeysCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    default:            return FALSE;
    }
}

}  // namespace

void loadKeysCopy()
{
    keysCopy = KeysCopy{};
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i) keysCopy.hotkeys[i] = app.hotkeys[i];
    keysCopy.guards = app.guards;
    keysCopy.delayShown = app.guards.delayMs > 0 ? app.guards.delayMs : DEFAULT_SWITCH_DELAY_MS;
    keysCopy.cornerShown = app.guards.corner > 0 ? app.guards.corner : DEFAULT_DEAD_CORNER;
}

void runKeysDialog(HWND settings)
{
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_KEYS), settings, keysDialogProc, 0);
    // The page can end with a box still reading, its focus gone with it.
    if (reading >= 0) {
        reading = -1;
        applyHotkeys(true);
    }
}

bool writeKeys()
{
    bool saved = true;
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i) {
        if (!keysCopy.touched[i]) continue;
        const char* name = HOTKEY_VALUES[i];
        // The default is no value at all, unless a machine-wide one would
        // then show through.
        if (keysCopy.hotkeys[i] == HOTKEY_DEFAULTS[i] && deleteRegistryValue(SETTINGS_KEY, name) &&
            !registryValuePresent(SETTINGS_KEY, name))
            continue;
        saved = writeRegistryNumber(SETTINGS_KEY, name, static_cast<int32_t>(keysCopy.hotkeys[i])) && saved;
    }
    const CrossGuards& guards = keysCopy.guards;
    if (guards.delayMs != app.guards.delayMs)
        saved = writeRegistryNumber(SETTINGS_KEY, SWITCH_DELAY_VALUE, guards.delayMs) && saved;
    if (guards.doubleTap != app.guards.doubleTap)
        saved = writeRegistryNumber(SETTINGS_KEY, DOUBLE_TAP_VALUE, guards.doubleTap) && saved;
    if (guards.corner != app.guards.corner)
        saved = writeRegistryNumber(SETTINGS_KEY, DEAD_CORNER_VALUE, guards.corner) && saved;
    return saved;
}
