#include "windows/app/panel.h"

#include <cstdio>
#include <cstring>

#include "windows/app/pictures.h"
#include "windows/app/startup.h"
#include "windows/input/edge.h"
#include "windows/input/hooks.h"
#include "windows/link/connections.h"
#include "windows/link/link.h"
#include "windows/settings/link_key_dialog.h"
#include "settings/port_text.h"
#include "windows/settings/settings_dialog.h"

namespace {

struct PanelControl {
    HWND AppState::*field;
    const char* windowClass;
    const char* text;
    int id, x, y, width, height;
};

// The diagnostic panel, in creation order.
const PanelControl PANEL[] = {
    {&AppState::clientButton, "button", "Client", IDC_CLIENT, 10, 10, 64, 24},
    {&AppState::serverButton, "button", "Server", IDC_SERVER, 10, 36, 64, 24},
    {&AppState::sendButton, "button", "Send", IDC_SEND, 10, 62, 64, 24},
    {&AppState::activateButton, "button", "Activate", IDC_ACTIVATE, 10, 88, 64, 24},
    {&AppState::statusLabel1, "static", "<Status Label>", IDC_STATUS1, 104, 10, 300, 16},
    {&AppState::statusLabel2, "static", "<Status Label2>", IDC_STATUS2, 104, 28, 300, 16},
    {&AppState::statusLabel3, "static", "<Status Label3>", IDC_STATUS3, 104, 46, 300, 16},
    {&AppState::statusLabel4, "static", "<Status Label4>", IDC_STATUS4, 104, 64, 300, 16},
    {&AppState::statusLabel5, "static", "<Status Label5>", IDC_STATUS5, 104, 82, 300, 16},
};

// Windows XP (5.1) or later shows the small icon in the tray, older systems
// the one drawn in the standard 16-colour palette.
bool isWindowsXPOrLater()
{
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 1;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoA(&version, VER_MINORVERSION | VER_MAJORVERSION, mask) == TRUE;
}

void informationBox(HWND owner, const char* text)
{
    MessageBoxA(owner, text, "Skiprail Information.", MB_OK | MB_ICONINFORMATION);
}

// The tray's Disable/Enable item: on a linked Master, removes or reinstalls
// the hooks and renames the item.
void toggleInput(HWND window)
{
    if (app.mode != MODE_MASTER) {
        informationBox(window, "Skiprail must be disabled from the Master.");
        return;
    }
    if (app.masterLinked != 1) {
        informationBox(window, "There is no connection to the partner computer. Skiprail is not active.");
        return;
    }
    char text[256] = {};
    if (app.inputDisabled == 0) {
        app.inputDisabled = 1;
        releaseHooks();
        std::strcpy(text, "Enable Skiprail");
    } else if (app.inputDisabled == 1) {
        app.inputDisabled = 0;
        installHooks(window);
        std::strcpy(text, "Disable Skiprail");
    }
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_TYPE;
    item.fType = MFT_STRING;
    item.dwTypeData = text;
    item.cch = static_cast<UINT>(std::strlen(text));
    SetMenuItemInfoA(app.trayMenu, IDM_TOGGLE, FALSE, &item);
}

}  // namespace

void createDiagnosticControls(HWND window, HFONT font)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    for (const PanelControl& item : PANEL) {
        HWND control = CreateWindowExA(0, item.windowClass, item.text, WS_CHILD | WS_VISIBLE, item.x, item.y,
                                       item.width, item.height, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)), instance, nullptr);
        app.*item.field = control;
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
}

namespace {

// Writing a label is a round trip to the system, paid on every hook event and
// packet; while the panel is hidden a label's newest text waits here instead
// and is written when the panel is shown.
struct PendingLabel {
    HWND label;
    char text[64];
};
PendingLabel pendingLabels[5];

void writeLabel(HWND label, const char* text)
{
    if (!label) return;
    if (GetWindowLongA(label, GWL_STYLE) & WS_VISIBLE) {
        SendMessageA(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        return;
    }
    for (PendingLabel& pending : pendingLabels) {
        if (pending.label != label && pending.label) continue;
        pending.label = label;
        lstrcpynA(pending.text, text, sizeof pending.text);
        return;
    }
    SendMessageA(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

}  // namespace

void showDiagnosticControls(int showCommand)
{
    for (const PanelControl& item : PANEL) ShowWindow(app.*item.field, showCommand);
    if (showCommand == SW_HIDE) return;
    for (PendingLabel& pending : pendingLabels) {
        if (pending.label) SendMessageA(pending.label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pending.text));
        pending.label = nullptr;
    }
}

namespace {

const char TRAY_TIP[] = "Skiprail v1.0 - Tamberlode Ltd";
bool deskShown = false;  // the tip and the label say which Slaves are linked

void setTip(const char* text)
{
    NOTIFYICONDATAA& icon = app.trayIconData;
    if (!icon.hWnd) return;
    std::memset(icon.szTip, 0, sizeof icon.szTip);
    std::strncpy(icon.szTip, text, sizeof icon.szTip - 1);
    icon.uFlags = NIF_TIP;
    Shell_NotifyIconA(NIM_MODIFY, &icon);
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
}

}  // namespace

void addTrayIcon(HWND window)
{
    NOTIFYICONDATAA& icon = app.trayIconData;
    icon = NOTIFYICONDATAA{};
    // The first layout of the record (88 bytes on 32-bit Windows, wider on
    // 64-bit where the handles are): every shell since Windows 2000 takes it.
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = ID_TRAYICON;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = WM_TRAY_NOTIFY;
    icon.hIcon = isWindowsXPOrLater() ? app.smallIcon : app.legacyTrayIcon;
    std::strncpy(icon.szTip, TRAY_TIP, sizeof icon.szTip - 1);
    Shell_NotifyIconA(NIM_ADD, &icon);
    deskShown = false;
    showDeskState();
}

void showDeskState()
{
    const bool desk = slavesSetUp() >= 2;
    // One Slave and no lock: the tip and the panel are as they always were.
    if (!desk && !app.crossingLocked) {
        if (deskShown) {
            setTip(TRAY_TIP);
            showStatusText(app.statusLabel4, "<Status Label4>");
        }
        deskShown = false;
        return;
    }
    deskShown = true;
    char text[96] = "Skiprail";
    if (desk) {
        lstrcpyA(text, "Skiprail - linked:");
        int32_t linked = 0;
        for (const Link& link : links) {
            if (!link.present || !link.controlLinked) continue;
            lstrcatA(text, linked++ ? ", " : " ");
            lstrcatA(text, linkName(link));
        }
        if (linked == 0) lstrcpyA(text, "Skiprail - no Slave linked");
    }
    // Where control is held: no edge crosses until the lock is let go.
    if (app.crossingLocked) lstrcatA(text, " - locked");
    setTip(text);
    showStatusText(app.statusLabel4, text);
}

void showTransferTip(int32_t percent)
{
    if (percent < 0) {
        if (deskShown) showDeskState();
        else setTip(TRAY_TIP);
        return;
    }
    char text[64];
    _snprintf(text, sizeof text - 1, "Skiprail - files: %d%%", static_cast<int>(percent));  // msvcrt's own
    text[sizeof text - 1] = 0;
    setTip(text);
}

void deleteTrayIcon()
{
    Shell_NotifyIconA(NIM_DELETE, &app.trayIconData);
}

void createTrayMenu()
{
    app.trayMenu = CreatePopupMenu();
    AppendMenuA(app.trayMenu, MF_STRING, IDM_SETTINGS, "Skiprail Settings");
    AppendMenuA(app.trayMenu, MF_STRING, IDM_TOGGLE, "Disable Skiprail");
    AppendMenuA(app.trayMenu, MF_STRING, IDM_ABOUT, "About Skiprail");
    AppendMenuA(app.trayMenu, MF_STRING, IDM_EXIT, "Exit");
    // Which start is on is marked as the menu opens: asking the Task
    // Scheduler can take a moment, which the start of the program need not wait for.
    appendStartMenu(app.trayMenu);
    AppendMenuA(app.trayMenu, MF_STRING, IDM_LINK_KEY, "Link Key...");
}

// WM_TRAY_NOTIFY: a right button press on the icon opens the menu at the
// pointer; every other mouse event over the icon does nothing.
void onTrayNotify(HWND window, LPARAM lParam)
{
    if (lParam != WM_RBUTTONDOWN) return;
    POINT cursor = {};
    GetCursorPos(&cursor);
    // The menu closes when the user clicks elsewhere only if its owner is the
    // foreground window; the empty message afterwards lets it open again at
    // the next click instead of closing at once.
    SetForegroundWindow(window);
    showStartMode();
    TrackPopupMenuEx(app.trayMenu, 0, cursor.x, cursor.y, window, nullptr);
    PostMessageA(window, WM_NULL, 0, 0);
}

UINT taskbarCreatedMessage()
{
    static UINT message = 0;
    if (message == 0) message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

// WM_COMMAND from the tray menu and the diagnostic buttons.
void onCommand(HWND window, int id)
{
    switch (id) {
    // A port no connection can use is never listened or connected on.
    case IDC_CLIENT:   if (isUsablePort(app.port)) connectOrListen(); break;
    case IDC_SERVER:
        if (isUsablePort(app.port)) startListening(app.port);
        break;
    case IDC_SEND:     SetCursorPos(10, 512); break;
    case IDC_ACTIVATE: installHooks(window); break;
    case IDM_SETTINGS: runSettingsDialog(); break;
    case IDM_TOGGLE:   toggleInput(window); break;
    case IDM_ABOUT:    showAboutDialog(); break;
    case IDM_START_OFF:          chooseStartMode(START_OFF); break;
    case IDM_START_WITH_WINDOWS: chooseStartMode(START_FOR_USER); break;
    case IDM_START_AS_ADMIN:     chooseStartMode(START_AS_ADMIN); break;
    case IDM_RESTART_ELEVATED:   restartElevated(window); break;
    case IDM_LINK_KEY: runLinkKeyDialog(); break;
    case IDM_EXIT:
        dropToLocal(window);  // the user's pointer and keys first, if the Slave had them
        deleteTrayIcon();
        PostQuitMessage(0);
        break;
    default: break;
    }
}

void showStatusValue(HWND label, int32_t value)
{
    char text[256] = {};
    _snprintf(text, sizeof text - 1, "Status Value: %d", static_cast<int>(value));  // msvcrt's own, on every Windows
    writeLabel(label, text);
}

void showStatusText(HWND label, const char* text)
{
    writeLabel(label, text);
}
