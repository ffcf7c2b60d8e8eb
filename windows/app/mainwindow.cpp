#include "windows/app/mainwindow.h"

#include "windows/app/elevation_word.h"
#include "windows/app/panel.h"
#include "windows/app/pictures.h"
#include "windows/app/startup.h"
#include "windows/clipboard/clipboard.h"
#include "windows/input/edge.h"
#include "windows/input/flow.h"
#include "windows/input/hooks.h"
#include "windows/link/connections.h"
#include "windows/link/link.h"
#include "windows/link/link_key.h"
#include "windows/link/packets.h"
#include "resources/resource.h"
#include "windows/settings/link_key_dialog.h"
#include "windows/settings/settings.h"
#include "windows/settings/settings_dialog.h"

AppState app;
const char MAIN_WINDOW_CLASS[] = "myWindowClass";

namespace {

void warnMoveFailed()
{
    MessageBoxA(nullptr, "Could not move window!", "Error", MB_OK | MB_ICONWARNING);
}

BOOL CALLBACK addEnumeratedMonitor(HMONITOR, HDC, LPRECT rect, LPARAM desktop)
{
    addMonitor(*reinterpret_cast<Desktop*>(desktop), {rect->left, rect->top, rect->right, rect->bottom});
    return TRUE;
}

// Measures this PC's screen: the primary monitor, and every monitor of the
// desktop where there are several. After a failure the size stays 0 x 0;
// nothing later divides by it (crossing and injection refuse a non-positive
// size).
void measureScreen()
{
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (display) {
        app.localWidth = GetDeviceCaps(display, HORZRES);
        app.localHeight = GetDeviceCaps(display, VERTRES);
        DeleteDC(display);
    } else {
        MessageBoxA(nullptr, "Could not Retrieve Screen Resolution.", "CopyScreen", MB_OK);
    }
    Desktop measured = {};
    if (GetSystemMetrics(SM_CMONITORS) > 1)
        EnumDisplayMonitors(nullptr, nullptr, addEnumeratedMonitor, reinterpret_cast<LPARAM>(&measured));
    // One monitor is the primary alone, exactly as measured above.
    app.desktop = measured.count > 1 ? measured : singleScreen(app.localWidth, app.localHeight);
}

// WM_DISPLAYCHANGE: a resolution changed, or a monitor came or went. The
// desktop is measured again; a Slave tells its Master, and a Master in control
// of its Slave goes on with the new sizes (the system may have dropped the
// pointer's confinement).
void onDisplayChange(HWND window)
{
    const int32_t oldWidth = desktopWidth(app.desktop), oldHeight = desktopHeight(app.desktop);
    measureScreen();
    const int32_t width = desktopWidth(app.desktop), height = desktopHeight(app.desktop);
    for (Link& link : links)
        if (link.remoteSizeFromPartner == 0 && width > 0 && height > 0) {
            link.remoteWidth = width;  // this PC's own size until a partner gives its own
            link.remoteHeight = height;
        }
    if (width != oldWidth || height != oldHeight) reportScreenSize(window);
    if (app.controlState == STATE_REMOTE) {
        masterRefit(app);
    } else {
        placeAboveTaskbar(app.noticeWindow, 116, 48);
        placeBottomRight(window, app.mainWidth, app.mainHeight);
    }
}

// WM_CREATE: the window's creation sequence, strictly in this order.
void onCreate(HWND window)
{
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    createDiagnosticControls(window, font);
    addTrayIcon(window);
    createTrayMenu();
    SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
    measureScreen();
    createNoticeWindow();
    placeAboveTaskbar(app.noticeWindow, 116, 48);
    SetWindowLongA(app.noticeWindow, GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_TOOLWINDOW);
    SetLayeredWindowAttributes(app.noticeWindow, 0, 1, LWA_ALPHA);
    createSplashWindow();
    centreOnScreen(app.splashWindow, 475, 276);
    SetWindowLongA(app.splashWindow, GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_TOOLWINDOW);
    SetLayeredWindowAttributes(app.splashWindow, 0, 1, LWA_ALPHA);
    SetTimer(window, TIMER_SPLASH_SHOW, 3000, nullptr);

    if (app.showDiagnostics != 0) {
        showDiagnosticControls(SW_SHOW);
        app.mainWidth = 440;
        app.mainHeight = 150;
    } else {
        showDiagnosticControls(SW_HIDE);
        app.mainWidth = 50;
        app.mainHeight = 50;
        SetWindowLongA(window, GWL_STYLE, WS_SYSMENU);  // no caption
    }

    for (Link& link : links) {
        link.remoteLeft = 0;
        link.remoteWidth = desktopWidth(app.desktop);
        link.remoteTop = 0;
        link.remoteHeight = desktopHeight(app.desktop);
    }
    app.mainWindow = window;
    for (Link& link : links) {
        link.peerReady = 0;
        clearQueue(link.buttonQueue);
        clearQueue(link.keyQueue);
    }
    app.injectWarmup = 0;
    placeBottomRight(window, app.mainWidth, app.mainHeight);
    app.controlState = STATE_LOCAL;

    // All four settings are loaded, defaults included, when the dialog of a
    // first setup opens; its OK loads them again. A first setup confirmed with
    // OK also starts the program with Windows from then on, once: the user may
    // turn that off in the tray menu.
    const bool firstSetup = loadSettings();
    loadLinkKey();
    if (firstSetup && runSettingsDialog()) startWithWindowsAfterSetup();
    removeReceivedFiles(true);  // files an earlier run received are pasted by now, or never will be
    SetTimer(window, TIMER_RECEIVED_FILES, 60 * 60 * 1000, nullptr);
    takeOver();  // a copy restarted with administrator rights links once the old one is gone
    connectWithSettings();
    watchForeground();
    reviewStartAtStart();
}

// WM_CLOSE: a close request takes everything down; WM_DESTROY follows.
void onClose(HWND window)
{
    dropToLocal(window);  // the user's pointer and keys first, if the Slave had them
    deleteTrayIcon();
    releaseHooks();
    DestroyWindow(window);
}

// WM_DESTROY: removing the hooks and the icon a second time is harmless.
void onDestroy()
{
    stopWatchingForeground();
    releaseHooks();
    deleteTrayIcon();
    PostQuitMessage(0);
}

// WM_TIMER: the splash timers, the links' timers, the clipboard's; any other id does nothing.
void onTimer(HWND window, WPARAM id)
{
    if (id == TIMER_SPLASH_SHOW) {
        KillTimer(window, TIMER_SPLASH_SHOW);
        fadeSplashIn();
    }
    if (id == TIMER_SPLASH_HIDE) {
        KillTimer(window, TIMER_SPLASH_HIDE);
        fadeSplashOut();
    }
    if (id == TIMER_LINK_ENGINE) onLinkTimer(window);
    if (id == TIMER_PLACEMENT_CHECK) checkPlacement(window);
    if (id == TIMER_CROSS_GUARD) checkCrossingGuard(window);
    if (id == TIMER_CLIPBOARD_STORE) onClipboardTimer();
    if (id == TIMER_RECEIVED_FILES) removeReceivedFiles(false);
}

// A click on the capture window while the Slave has control: confine again.
void onClickOnWindow()
{
    if (app.controlState != STATE_LOCAL) clipToRemote();
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:           onCreate(window); return 0;
    case WM_CLOSE:            onClose(window); return 0;
    case WM_DESTROY:          onDestroy(); return 0;
    case WM_COMMAND:          onCommand(window, LOWORD(wParam)); return 0;
    case WM_TIMER:            onTimer(window, wParam); return 0;
    case WM_DISPLAYCHANGE:    onDisplayChange(window); return 0;
    case WM_MOUSEACTIVATE:
        // The capture window takes clicks but never the activation.
        if (app.controlState != STATE_LOCAL) return MA_NOACTIVATE;
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:      onClickOnWindow(); return 0;
    case WM_HOOK_MOUSE:       onHookMouse(wParam, reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam)); return 0;
    case WM_HOOK_KEYBOARD:    onHookKeyboard(wParam, reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)); return 0;
    case WM_HOOK_HOTKEY:      masterHotkey(app, static_cast<int32_t>(wParam)); return 0;
    // The private sends carry the link's index in wParam (0 for the first).
    case WM_SEND_READY:       sendButtonPacket(app, linkAt(wParam), PKT_READY, 0, 0); return 0;
    case WM_SEND_BUTTON:      sendButtonPacket(app, linkAt(wParam), PKT_INPUT, app.cursorX, app.cursorY); return 0;
    case WM_SEND_KEY:         sendKeyPacket(app, linkAt(wParam), app.cursorX, app.cursorY); return 0;
    case WM_SEND_WHEEL:       masterSendWheel(app, linkAt(wParam)); return 0;
    case WM_LINK_BROKEN:      onControlLinkBroken(window, static_cast<SOCKET>(wParam)); return 0;
    case WM_SOCKET_GONE:      onSocketGone(static_cast<SOCKET>(wParam)); return 0;
    case WM_LINK_KEY_NOTICE:  showLinkKeyNotice(window); return 0;
    case WM_HOST_FOUND:       onHostFound(reinterpret_cast<HANDLE>(wParam), lParam); return 0;
    case WM_ELEVATED_DONE:    onElevatedDone(wParam); return 0;
    case WM_UNSAFE_START:     onUnsafeStart(wParam); return 0;
    case WM_MASTER_ENTERED:   lookAtForeground(); return 0;
    case WM_DESK_STATE:       showDeskState(); return 0;
    case WM_SET_CURSOR:       placePointer(window, static_cast<int32_t>(wParam), static_cast<int32_t>(lParam)); return 0;
    case WM_CONTROL_SOCKET:
    case WM_CLIPBOARD_SOCKET: onSocketEvent(window, static_cast<SOCKET>(wParam), lParam); return 0;
    case WM_TRAY_NOTIFY:      onTrayNotify(window, lParam); return 0;
    default:                  break;
    }
    // A restarted shell has lost every tray icon: add ours again.
    if (message == taskbarCreatedMessage() && message != 0) {
        addTrayIcon(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND startMainWindow(HINSTANCE instance, int showCommand)
{
    useWindowsFrontEnd();
    HICON mainIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAINICON));
    app.smallIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALLICON));
    app.legacyTrayIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LEGACYTRAYICON));

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = mainIcon;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    windowClass.hIconSm = app.smallIcon;
    if (!RegisterClassExA(&windowClass)) {
        MessageBoxA(nullptr, "Window Registration Failed!", "Error!", MB_OK | MB_ICONWARNING);
        return nullptr;
    }

    HWND window = CreateWindowExA(WS_EX_LAYERED | WS_EX_WINDOWEDGE | WS_EX_TOOLWINDOW, MAIN_WINDOW_CLASS,
                                  "Skiprail v1.0", WS_CAPTION | WS_SYSMENU, 40, 40, app.mainWidth,
                                  app.mainHeight, nullptr, nullptr, instance, nullptr);
    if (!window) {
        MessageBoxA(nullptr, "Window creation failed!", "Error man!", MB_OK | MB_ICONWARNING);
        return nullptr;
    }
    if (app.showDiagnostics == 1) ShowWindow(window, showCommand);
    UpdateWindow(window);
    return window;
}

int runMessageLoop()
{
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

// Just above a taskbar docked at the bottom, at the screen's right edge. With
// the taskbar on another side (its top edge is then the screen's top) or no
// taskbar at all, the bottom-right corner of the work area instead: the
// window must stay on the screen.
void placeAboveTaskbar(HWND window, int width, int height)
{
    APPBARDATA taskbar = {};
    taskbar.cbSize = sizeof taskbar;
    int x = app.localWidth - width;
    int y = 0;
    if (SHAppBarMessage(ABM_GETTASKBARPOS, &taskbar) && taskbar.rc.top > app.localHeight / 2) {
        y = taskbar.rc.top - height;
    } else {
        RECT work = {0, 0, app.localWidth, app.localHeight};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        x = work.right - width;
        y = work.bottom - height;
    }
    if (!SetWindowPos(window, HWND_TOPMOST, x, y, width, height, SWP_HIDEWINDOW)) warnMoveFailed();
}

void centreOnScreen(HWND window, int width, int height)
{
    if (!SetWindowPos(window, HWND_TOPMOST, app.localWidth / 2 - width / 2, app.localHeight / 2 - height / 2,
                      width, height, SWP_HIDEWINDOW))
        warnMoveFailed();
}

void placeBottomRight(HWND window, int width, int height)
{
    if (!MoveWindow(window, app.localWidth - width, app.localHeight - height, width, height, FALSE))
        warnMoveFailed();
}
