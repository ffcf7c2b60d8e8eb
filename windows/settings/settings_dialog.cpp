#include "windows/settings/settings_dialog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "windows/app/appstate.h"
#include "windows/link/connections.h"
#include "resources/resource.h"
#include "windows/settings/desk_dialog.h"
#include "windows/settings/keys_dialog.h"
#include "windows/settings/link_key_dialog.h"
#include "settings/port_text.h"
#include "windows/settings/settings.h"

namespace {

const int32_t NOT_CHOSEN = 0;

// The radio choices, kept for the life of the process and not reset when the
// dialog opens: a stored mode that is neither Master nor Slave checks no
// button, and OK then keeps a mode chosen in an earlier opening.
int32_t pendingMode = NOT_CHOSEN;
int32_t pendingPosition = NOT_CHOSEN;

HWND openDialog = nullptr;
// Set when start-up found a port no connection can use and started none.
bool connectionHeld = false;

struct PositionButton {
    int id;
    int32_t position;
    int32_t stored;  // the ScreenPos number
};

// In the order their check marks are set.
const PositionButton POSITION_BUTTONS[] = {
    {IDC_LEFT, POS_LEFT, 0},
    {IDC_RIGHT, POS_RIGHT, 1},
    {IDC_ABOVE, POS_ABOVE, 2},
    {IDC_BELOW, POS_BELOW, 3},
};

// The radio buttons are not automatic: only these set their check marks.
void setCheck(HWND dialog, int id, bool on)
{
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void chooseMode(HWND dialog, int32_t mode)
{
    setCheck(dialog, IDC_MASTER, mode == MODE_MASTER);
    setCheck(dialog, IDC_SLAVE, mode == MODE_SLAVE);
    pendingMode = mode;
}

void choosePosition(HWND dialog, int32_t position)
{
    for (const PositionButton& button : POSITION_BUTTONS) setCheck(dialog, button.id, button.position == position);
    pendingPosition = position;
}

void onInitDialog(HWND dialog)
{
    openDialog = dialog;
    // Loaded once and kept, as every bitmap of the program.
    if (!app.bannerBitmap)
        app.bannerBitmap = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_BANNER));
    if (!app.bannerBitmap)
        MessageBoxA(dialog, "Could not load IDI_BANNER resource!", "Error", MB_OK | MB_ICONWARNING);

    // The mode as stored, not as loaded.
    const int32_t master = readRegistryNumber(SETTINGS_KEY, "SRMaster");
    if (master == 0) chooseMode(dialog, MODE_SLAVE);
    if (master == 1) chooseMode(dialog, MODE_MASTER);

    SendDlgItemMessageA(dialog, IDC_PARTNER, EM_LIMITTEXT, TEXT_AREA - 1, 0);
    SendDlgItemMessageA(dialog, IDC_PORT, EM_LIMITTEXT, TEXT_AREA - 1, 0);
    SetDlgItemTextA(dialog, IDC_PARTNER, app.partnerHost);
    char port[16] = {};
    _snprintf(port, sizeof port - 1, "%d", static_cast<int>(app.port));  // msvcrt's own, on every Windows
    SetDlgItemTextA(dialog, IDC_PORT, port);

    for (const PositionButton& button : POSITION_BUTTONS)
        if (app.screenPosition == button.position) choosePosition(dialog, button.position);

    loadDeskCopy();
    loadKeysCopy();
}

// OK: a port the connections cannot use is refused and nothing is written;
// otherwise the four choices are written and the dialog ends. The dialog
// stays open when the registry takes none of them, so nothing is lost
// without a word.
void onOk(HWND dialog)
{
    char partner[TEXT_AREA] = {};
    GetDlgItemTextA(dialog, IDC_PARTNER, partner, TEXT_AREA);
    char port[TEXT_AREA] = {};
    GetDlgItemTextA(dialog, IDC_PORT, port, TEXT_AREA);
    if (!isUsablePortText(port)) {
        MessageBoxA(dialog,
                    "The port must be a number from 1 to 65534. Skiprail connects on this port and on the "
                    "next one up, for the clipboard.",
                    "Notice", MB_OK | MB_ICONWARNING);
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_PORT)), TRUE);
        return;
    }
    if (!checkDeskOnOk(dialog, pendingMode, pendingPosition)) return;

    bool saved = writeRegistryText(SETTINGS_KEY, "SRPartner", partner);
    saved = writeRegistryText(SETTINGS_KEY, "SRPort", port) && saved;
    if (pendingMode == MODE_MASTER) saved = writeRegistryNumber(SETTINGS_KEY, "SRMaster", 1) && saved;
    if (pendingMode == MODE_SLAVE) saved = writeRegistryNumber(SETTINGS_KEY, "SRMaster", 0) && saved;
    for (const PositionButton& button : POSITION_BUTTONS)
        if (pendingPosition == button.position)
            saved = writeRegistryNumber(SETTINGS_KEY, "ScreenPos", button.stored) && saved;
    saved = writeDesk() && saved;
    saved = writeKeys() && saved;
    if (!saved) {
        MessageBoxA(dialog, "The settings could not be saved in the registry.", "Error", MB_OK | MB_ICONWARNING);
        return;
    }
    EndDialog(dialog, IDOK);
}

void onCommand(HWND dialog, int id)
{
    switch (id) {
    case IDC_MASTER: chooseMode(dialog, MODE_MASTER); break;
    case IDC_SLAVE:  chooseMode(dialog, MODE_SLAVE); break;
    case IDC_LEFT:   choosePosition(dialog, POS_LEFT); break;
    case IDC_RIGHT:  choosePosition(dialog, POS_RIGHT); break;
    case IDC_ABOVE:  choosePosition(dialog, POS_ABOVE); break;
    case IDC_BELOW:  choosePosition(dialog, POS_BELOW); break;
    case IDOK:       onOk(dialog); break;
    case IDCANCEL:   EndDialog(dialog, IDCANCEL); break;  // also Escape and the close button
    case IDC_MORE_SLAVES: runDeskDialog(dialog, pendingPosition); break;
    case IDC_KEYS:   runKeysDialog(dialog); break;
    default: break;
    }
}

// The banner in the band above the controls, at its own size. Where the
// dialog comes out wider than the banner (a larger font or more dots per
// inch), the banner's last column carries on to the right edge.
void onPaint(HWND dialog)
{
    PAINTSTRUCT paint;
    HDC target = BeginPaint(dialog, &paint);
    if (app.bannerBitmap) {
        HDC memory = CreateCompatibleDC(target);
        HGDIOBJ previous = SelectObject(memory, app.bannerBitmap);
        BITMAP size = {};
        GetObjectA(app.bannerBitmap, sizeof size, &size);
        BitBlt(target, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
        RECT client = {};
        GetClientRect(dialog, &client);
        if (client.right > size.bmWidth && size.bmWidth > 0)
            StretchBlt(target, size.bmWidth, 0, client.right - size.bmWidth, size.bmHeight, memory,
                       size.bmWidth - 1, 0, 1, size.bmHeight, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    EndPaint(dialog, &paint);
}

void reportUnusablePort()
{
    char stored[256];
    readRegistryText(SETTINGS_KEY, "SRPort", stored);
    char text[512] = {};
    _snprintf(text, sizeof text - 1,
                  "The port \"%.40s\" in the settings cannot be used, so Skiprail does not connect. Choose a "
                  "port from 1 to 65534 in Skiprail Settings.",
                  stored);
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING);
}

}  // namespace

void noteAbout(HWND dialog, const char* format, ...)
{
    char text[512] = {};
    va_list values;
    va_start(values, format);
    _vsnprintf(text, sizeof text - 1, format, values);  // msvcrt's own, on every Windows
    va_end(values);
    MessageBoxA(dialog, text, "Notice", MB_OK | MB_ICONWARNING);
}

INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: onInitDialog(dialog); return TRUE;  // the dialog manager sets the focus
    case WM_COMMAND:    onCommand(dialog, LOWORD(wParam)); return TRUE;
    case WM_PAINT:      onPaint(dialog); return TRUE;
    default:            return FALSE;
    }
}

bool runSettingsDialog()
{
    if (openDialog) {
        SetForegroundWindow(openDialog);
        return false;
    }
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTINGS),
                                           app.mainWindow, settingsDialogProc, 0);
    openDialog = nullptr;
    if (result == IDOK) {
        loadSettings();
        loadLinkKey();
        if (connectionHeld && isUsablePort(app.port)) {
            connectionHeld = false;
            connectOrListen();
        } else {
            reconnectNow();  // a Master without a link tries the partner it may just have been given
        }
        return true;
    }
    if (result == -1) MessageBoxA(nullptr, "Settings Dialog Failed.", "Notice", MB_OK | MB_ICONWARNING);
    return false;
}

void connectWithSettings()
{
    if (isUsablePort(app.port)) {
        connectOrListen();
        return;
    }
    connectionHeld = true;
    reportUnusablePort();
}
