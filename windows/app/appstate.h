// AppState: the one process-wide record of the program's state. Every module
// reads and writes it directly, on the GUI thread; nothing is locked. The only
// other threads are the fade threads, which touch the two opacity fields alone.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "app/constants.h"
#include "input/desktop_math.h"
#include "input/hotkeys.h"
#include "input/layout.h"

struct Link;

struct AppState {
    // Settings, loaded from the registry at the end of the window's creation.
    int32_t mode = 0;
    int32_t screenPosition = 0;
    char partnerHost[256] = {};
    int32_t port = 0;
    // The most that files copied to the clipboard may add up to and still
    // cross, in MB (SRFileLimit; 2 GB when not stored, 0: files never cross).
    uint32_t fileLimitMB = 2048;
    // Slaves 2 to 4 of a Master's desk beside Slave 1 (partnerHost, port and
    // screenPosition); each is there when its SRPartnerN is stored.
    struct MoreSlave {
        int32_t present = 0;
        char host[256] = {};
        int32_t port = 0;
        int32_t position = 0;  // POS_*, from ScreenPosN
        int32_t nextTo = 0;    // SRNextToN: 0 the Master, 1 to 3 the Slave of that number
    } moreSlaves[MAX_SLAVES - 1];
    // The keys that move control (HotkeyAction order; 0 is off) and the
    // guards against crossing by accident, beside the four.
    uint32_t hotkeys[HOTKEY_COUNT] = {};
    CrossGuards guards = {};

    // Screen and window geometry, in pixels.
    // localWidth and localHeight are the primary monitor's; `desktop` holds
    // every monitor (the primary alone when there is one).
    int32_t localWidth = 0, localHeight = 0;
    Desktop desktop = {};
    int32_t mainWidth = 440, mainHeight = 150;
    RECT clipRect = {0, 0, 0, 0};

    // Control and flow.
    int32_t controlState = 0;
    int32_t cursorX = 0, cursorY = 0;
    int32_t leftHeld = 0, rightHeld = 0;
    int32_t inputDisabled = 0;
    int32_t masterLinked = 0;  // the Master's hooks are in for a live connection
    int32_t injectWarmup = 0;
    // The link that has control (STATE_REMOTE), or null; every partner's own
    // state (connections, queues, its desktop) is in its link.
    Link* controlLink = nullptr;
    // No edge crosses: control stays on the PC that has it until a hotkey
    // moves it or the lock is let go.
    int32_t crossingLocked = 0;
    // Where the Slaves stand, from the settings.
    Desk desk = {};

    // The listening sockets of one port and the next one up. Every partner
    // whose port it is comes in through them.
    struct PortListeners {
        int32_t port = 0;
        SOCKET controlListener = 0, clipboardListener = 0;
        int32_t controlListening = 0, clipboardListening = 0;  // started (never cleared)
        int32_t controlBound = 0;  // the control listener took its port
    } listeners[MAX_SLAVES];

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
    int32_t startWithWindows = 0;  // the program starts with Windows (the Run key or the task)
    HWND clientButton = nullptr, serverButton = nullptr, sendButton = nullptr, activateButton = nullptr;
    HWND statusLabel1 = nullptr, statusLabel2 = nullptr, statusLabel3 = nullptr;
    HWND statusLabel4 = nullptr, statusLabel5 = nullptr;
};

// The only global of the program.
extern AppState app;
