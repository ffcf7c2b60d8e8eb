// AppState: the one process-wide record of the program's state. Every module
// reads and writes it directly, on the GUI thread; nothing is locked. The only
// other threads are the fade threads, which touch the two opacity fields alone.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "app/constants.h"
#include "clipboard/clipboard_buffer.h"
#include "input/desktop_math.h"
#include "input/queues.h"

struct AppState {
    // Settings, loaded from the registry at the end of the window's creation.
    int32_t mode = 0;
    int32_t screenPosition = 0;
    char partnerHost[256] = {};
    int32_t port = 0;

    // Screen and window geometry, in pixels.
    // localWidth and localHeight are the primary monitor's; `desktop` holds
    // every monitor (the primary alone when there is one).
    int32_t localWidth = 0, localHeight = 0;
    Desktop desktop = {};
    int32_t remoteLeft = 0, remoteTop = 0;
    int32_t remoteWidth = 0, remoteHeight = 0;
    int32_t remoteSizeFromPartner = 0;  // 1 once a PKT_SCREEN_SIZE was taken
    int32_t mainWidth = 440, mainHeight = 150;
    RECT clipRect = {0, 0, 0, 0};

    // Control and flow.
    int32_t controlState = 0;
    int32_t cursorX = 0, cursorY = 0;
    int32_t leftHeld = 0, rightHeld = 0;
    int32_t inputDisabled = 0;
    int32_t masterLinked = 0;
    int32_t peerReady = 0;
    ButtonQueue buttonQueue;
    KeyQueue keyQueue;
    int32_t injectWarmup = 0;

    // Connections and clipboard.
    SOCKET controlListener = 0, controlSocket = 0;
    SOCKET clipboardListener = 0, clipboardSocket = 0;
    int32_t controlListening = 0, clipboardListening = 0;
    int32_t connectFailed = 0, clipboardConnectFailed = 0;
    ClipboardBuffer clipboardBuffer;

    // Windows, resources and threads.
    HWND mainWindow = nullptr;
    int32_t showDiagnostics = 0;
    HWND noticeWindow = nullptr, splashWindow = nullptr;
    volatile LONG noticeAlpha = 1, splashAlpha = 1;
    HANDLE noticeFadeInThread = nullptr, noticeFadeOutThread = nullptr;
    HBITMAP noticeBitmap = nullptr, splashBitmap = nullptr, aboutBitmap = nullptr;
    HBITMAP bannerBitmap = nullptr;
    HICON smallIcon = nullptr, legacyTrayIcon = nullptr;
    NOTIFYICONDATAA trayIconData = {};
    HMENU trayMenu = nullptr;
    int32_t startWithWindows = 0;  // the program is in the user's Run key
    HWND clientButton = nullptr, serverButton = nullptr, sendButton = nullptr, activateButton = nullptr;
    HWND statusLabel1 = nullptr, statusLabel2 = nullptr, statusLabel3 = nullptr;
    HWND statusLabel4 = nullptr, statusLabel5 = nullptr;
};

// The only global of the program.
extern AppState app;
