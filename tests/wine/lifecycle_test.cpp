// A close request on a linked Master with control on the Slave: hooks
// removed, tray icon deleted twice without harm, window gone, loop ends with 0.
#include <gtest/gtest.h>

#include <string>

#include "windows/link/link.h"
#include "windows/app/mainwindow.h"
#include "tests/wine/wine_support.h"

namespace {

// Counts the message boxes this process shows (the notice and the splash are
// dialogs too, layered pictures, and are not counted).
int boxesShown = 0;
BOOL CALLBACK countBox(HWND window, LPARAM)
{
    char name[16] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetClassNameA(window, name, sizeof name);
    if (process == GetCurrentProcessId() && std::string(name) == "#32770" && IsWindowVisible(window) &&
        (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) == 0)
        ++boxesShown;
    return TRUE;
}

TEST(Lifecycle, ACloseRequestTakesEverythingDownAndEndsTheLoopWithZero)
{
    const int port = freePortPair();
    ASSERT_NE(port, 0);
    writeLinkSettings(true, 1, port);

    InputRecorder recorder;
    recorder.create(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    SOCKET control = listenOn(port);
    SOCKET clipboard = listenOn(port + 1);
    HWND window = startMainWindow(GetModuleHandleA(nullptr), SW_HIDE);
    ASSERT_NE(window, nullptr);
    PacketPeer slave;
    slave.autoReady = true;
    slave.socket.s = acceptWhilePumping(control);
    ASSERT_NE(slave.socket.s, INVALID_SOCKET);
    ASSERT_NE(acceptWhilePumping(clipboard), INVALID_SOCKET);
    ASSERT_TRUE(pumpUntil([] { return app.masterLinked == 1; }));

    // Control on the Slave: the Master's own keys are kept from its programs.
    SetCursorPos(app.localWidth - 1, 100);
    pumpFor(50);
    sendMove(5, 0);
    ASSERT_TRUE(pumpUntil([&] { slave.poll(); return app.controlState == STATE_REMOTE && links[0].peerReady == 1; }));
    ASSERT_TRUE(recorder.focus());
    recorder.clear();
    sendKey('K', false);
    sendKey('K', true);
    pumpFor(300);
    EXPECT_TRUE(recorder.keyDowns.empty());

    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(runMessageLoop(), 0);  // WM_DESTROY posted the quit message

    // With the hooks gone the keyboard belongs to the Master's programs again.
    ASSERT_TRUE(recorder.focus());
    recorder.clear();
    sendKey('K', false);
    sendKey('K', true);
    EXPECT_TRUE(pumpUntil([&] { return recorder.keyUps.size() == 1; }, 2000));
    EXPECT_EQ(recorder.keyDowns, std::vector<UINT>{'K'});

    EnumWindows(countBox, 0);
    EXPECT_EQ(boxesShown, 0);
    ClipCursor(nullptr);
}

}  // namespace
