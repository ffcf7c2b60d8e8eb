// AppState: the one process-wide record of the program's state. Every module
// reads and writes it directly, on the GUI thread; nothing is locked. The only
// other threads are the fade threads, which touch the two opacity fields alone.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "app/constants.h"
#include "input/master_core.h"

struct Link;

// What the Master's decisions keep (control, the pointer, the desk, this
// PC's desktop) is the MasterState it starts with.
struct AppState : MasterState {
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
    // The keys that move control (HotkeyAction order; 0 is off), beside the four.
    uint32_t hotkeys[HOTKEY_COUNT] = {};

    // Window geometry, in pixels.
    int32_t mainWidth = 440, mainHeight = 150;
    RECT clipRect = {0, 0, 0, 0};

    // Flow.
    int32_t inputDisabled = 0;
    int32_t masterLinked = 0;  // the Master's hooks are in for a live connection
    int32_t injectWarmup = 0;

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
