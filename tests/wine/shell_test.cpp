// What the user sees of a linked Master, against the real main window: the
// splash after start-up, the connection notice and its fades, the About box,
// the tray icon after a taskbar restart, the tray's Disable/Enable item and
// the diagnostic labels. The test plays the Slave over loopback.
//
// Every opacity the program applies is recorded: the test replaces the
// program's import of SetLayeredWindowAttributes with a recorder that passes
// each call on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "windows/link/link.h"
#include "windows/app/mainwindow.h"
#include "windows/app/panel.h"
#include "windows/app/pictures.h"
#include "tests/wine/wine_support.h"

namespace {

// ---------------------------------------------------------------- opacities

struct Applied {
    HWND window;
    int alpha;
    DWORD tick;
};
Applied appliedLog[65536];
volatile LONG appliedCount = 0;
BOOL(WINAPI* realSetLayered)(HWND, COLORREF, BYTE, DWORD) = nullptr;

BOOL WINAPI recordSetLayered(HWND window, COLORREF key, BYTE alpha, DWORD flags)
{
    const LONG i = InterlockedIncrement(&appliedCount) - 1;
    if (i < static_cast<LONG>(sizeof appliedLog / sizeof appliedLog[0])) appliedLog[i] = {window, alpha, GetTickCount()};
    return realSetLayered(window, key, alpha, flags);
}

// Points this executable's import of SetLayeredWindowAttributes at the recorder.
bool recordOpacities()
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    realSetLayered = reinterpret_cast<decltype(realSetLayered)>(GetProcAddress(user32, "SetLayeredWindowAttributes"));
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        for (auto* slot = reinterpret_cast<ULONG_PTR*>(base + d->FirstThunk); *slot; ++slot) {
            if (*slot != reinterpret_cast<ULONG_PTR>(realSetLayered)) continue;
            DWORD old;
            VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
            *slot = reinterpret_cast<ULONG_PTR>(&recordSetLayered);
            VirtualProtect(slot, sizeof *slot, old, &old);
            return true;
        }
    }
    return false;
}

// The opacities applied to `window` from log entry `from` on.
std::vector<int> appliedTo(HWND window, LONG from = 0)
{
    std::vector<int> values;
    for (LONG i = from; i < appliedCount; ++i)
        if (appliedLog[i].window == window) values.push_back(appliedLog[i].alpha);
    return values;
}

std::vector<int> steps(int from, int to, int by)
{
    std::vector<int> values;
    for (int v = from; by > 0 ? v <= to : v >= to; v += by) values.push_back(v);
    return values;
}

// ---------------------------------------------------------------- dialogs

// Acts on this thread's dialogs and message boxes while a modal loop runs:
// a thread timer fires inside any loop, the dialog's own included.
std::function<bool(HWND)> modalAction;

BOOL CALLBACK findDialog(HWND window, LPARAM found)
{
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770" && IsWindowVisible(window) &&
        (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

VOID CALLBACK onModalTimer(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog && modalAction && modalAction(dialog)) modalAction = nullptr;
}

// Runs `open` (which shows something modal) while `act` is offered each
// dialog that appears until it returns true.
template <typename Open>
auto whileModal(Open open, std::function<bool(HWND)> act)
{
    modalAction = std::move(act);
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, onModalTimer);
    auto result = open();
    KillTimer(nullptr, timer);
    return result;
}

std::string textOf(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Chooses a tray menu item; returns the text of the box it showed, if any.
std::string chooseMenuItem(int id)
{
    std::string box;
    whileModal(
        [&] {
            SendMessageA(app.mainWindow, WM_COMMAND, static_cast<WPARAM>(id), 0);
            return 0;
        },
        [&](HWND dialog) {
            box = textOf(GetDlgItem(dialog, 0xFFFF));
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            return true;
        });
    return box;
}

std::string toggleText()
{
    char text[64] = {};
    GetMenuStringA(app.trayMenu, IDM_TOGGLE, text, sizeof text, MF_BYCOMMAND);
    return text;
}

std::string labelText(HWND label)
{
    return textOf(label);
}

// ---------------------------------------------------------------- the Master

PacketPeer slave;
DWORD startTick;

bool waitForState(int32_t state)
{
    return pumpUntil(
        [&] {
            slave.poll();
            return app.controlState == state;
        },
        3000);
}

void crossRight()
{
    SetCursorPos(app.localWidth - 1, 500);
    pumpFor(50);
    sendMove(8, 0);
    ASSERT_TRUE(waitForState(STATE_REMOTE));
    ASSERT_TRUE(pumpUntil([] { slave.poll(); return links[0].peerReady == 1; }, 3000));
}

void leaveLeft()
{
    sendMove(-2000, 0);
    ASSERT_TRUE(waitForState(STATE_LOCAL));
}

bool threadEnded(HANDLE thread)
{
    return thread && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

class ShellEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(recordOpacities());
        const int port = freePortPair();
        ASSERT_NE(port, 0);
        writeLinkSettings(true, 1, port);
        SOCKET control = listenOn(port);
        SOCKET clipboard = listenOn(port + 1);
        startTick = GetTickCount();
        ASSERT_NE(startMainWindow(GetModuleHandleA(nullptr), SW_HIDE), nullptr);
        slave.socket.s = acceptWhilePumping(control);
        ASSERT_NE(slave.socket.s, INVALID_SOCKET);
        ASSERT_NE(acceptWhilePumping(clipboard), INVALID_SOCKET);
        closesocket(control);
        closesocket(clipboard);
        ASSERT_TRUE(pumpUntil([] { return app.masterLinked == 1; }));
        slave.autoReady = true;
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new ShellEnvironment);

// Runs first: the splash counts from the start of the process.
TEST(Splash, ShowsThreeSecondsAfterStartFadesInStaysThreeSecondsFadesOutOnce)
{
    RECT r;
    GetWindowRect(app.splashWindow, &r);
    EXPECT_EQ(r.left, app.localWidth / 2 - 237);
    EXPECT_EQ(r.top, app.localHeight / 2 - 138);
    EXPECT_EQ(r.right - r.left, 475);
    EXPECT_EQ(r.bottom - r.top, 276);
    EXPECT_NE(app.splashBitmap, nullptr);

    ASSERT_TRUE(pumpUntil([] { return IsWindowVisible(app.splashWindow) != FALSE; }, 8000));
    const DWORD shownAfter = GetTickCount() - startTick;
    EXPECT_GE(shownAfter, 2900u);
    EXPECT_LE(shownAfter, 4500u);
    ASSERT_TRUE(pumpUntil([] { return !IsWindowVisible(app.splashWindow); }, 10000));

    std::vector<int> expected = steps(1, 253, 3);
    const std::vector<int> out = steps(255, 3, -3);
    expected.insert(expected.begin(), 1);  // alpha 1 at creation
    expected.insert(expected.end(), out.begin(), out.end());
    EXPECT_EQ(appliedTo(app.splashWindow), expected);

    // Three seconds between the last step in and the first step out.
    DWORD lastIn = 0, firstOut = 0;
    for (LONG i = 0; i < appliedCount; ++i) {
        if (appliedLog[i].window != app.splashWindow) continue;
        if (appliedLog[i].alpha == 253) lastIn = appliedLog[i].tick;
        if (appliedLog[i].alpha == 255 && !firstOut) firstOut = appliedLog[i].tick;
    }
    EXPECT_GE(firstOut - lastIn, 2900u);

    // And never again.
    const LONG seen = appliedCount;
    pumpFor(3500);
    EXPECT_TRUE(appliedTo(app.splashWindow, seen).empty());
    EXPECT_FALSE(IsWindowVisible(app.splashWindow));
}

TEST(Notice, ShowsAtTheBottomRightWhileTheSlaveHasControl)
{
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    RECT r;
    GetWindowRect(app.noticeWindow, &r);
    EXPECT_EQ(r.right, app.localWidth);
    EXPECT_EQ(r.bottom - r.top, 48);
    EXPECT_EQ(r.right - r.left, 116);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.bottom, work.bottom);
    EXPECT_EQ(GetWindowLongA(app.noticeWindow, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST),
              WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    EXPECT_FALSE(IsWindowVisible(app.noticeWindow));

    const LONG from = appliedCount;
    crossRight();
    EXPECT_TRUE(IsWindowVisible(app.noticeWindow));
    EXPECT_NE(GetForegroundWindow(), app.noticeWindow);  // it takes no focus
    ASSERT_TRUE(pumpUntil([] { return threadEnded(app.noticeFadeInThread); }));
    EXPECT_EQ(appliedTo(app.noticeWindow, from), steps(1, 199, 2));

    leaveLeft();
    ASSERT_TRUE(pumpUntil([] { return !IsWindowVisible(app.noticeWindow); }));
    EXPECT_EQ(app.noticeAlpha, 1);
}

// Each applied value follows the one before by exactly 2: one fade at a time,
// each going on from where the last one stopped.
void expectUnbroken(const std::vector<int>& values)
{
    for (size_t i = 1; i < values.size(); ++i) {
        ASSERT_EQ(std::abs(values[i] - values[i - 1]), 2) << "at " << i;
    }
    for (int v : values) {
        ASSERT_GE(v, 1);
        ASSERT_LE(v, 201);
    }
}

// The number of times the sequence changes direction.
int turns(const std::vector<int>& values)
{
    int n = 0;
    for (size_t i = 2; i < values.size(); ++i)
        if ((values[i] - values[i - 1]) * (values[i - 1] - values[i - 2]) < 0) ++n;
    return n;
}

bool afterSteps(LONG from, size_t n)
{
    return pumpUntil([&] { return appliedTo(app.noticeWindow, from).size() >= n; });
}

TEST(Notice, AFadeCutShortHandsOverWhereItStoppedAndTheNoticeNeverJumps)
{
    ASSERT_EQ(app.noticeAlpha, 1);

    // A full fade-in: 1, 3, ... 199.
    LONG from = appliedCount;
    fadeNoticeIn();
    ASSERT_TRUE(pumpUntil([] { return threadEnded(app.noticeFadeInThread); }));
    EXPECT_EQ(appliedTo(app.noticeWindow, from), steps(1, 199, 2));
    EXPECT_EQ(app.noticeAlpha, 201);

    // A fade-out cut short by a fade-in turns once and climbs back to 199.
    from = appliedCount;
    fadeNoticeOut();
    ASSERT_TRUE(afterSteps(from, 20));
    fadeNoticeIn();
    ASSERT_TRUE(pumpUntil([] { return threadEnded(app.noticeFadeInThread); }));
    std::vector<int> values = appliedTo(app.noticeWindow, from);
    expectUnbroken(values);
    EXPECT_EQ(values.front(), 201);
    EXPECT_EQ(values.back(), 199);
    EXPECT_EQ(turns(values), 1);
    pumpFor(100);
    EXPECT_TRUE(IsWindowVisible(app.noticeWindow));  // the late end of the fade-out hid nothing

    // Two fade-outs in a row (a dropped link while control comes back) make
    // one run down to 3, then the notice is hidden.
    from = appliedCount;
    fadeNoticeOut();
    ASSERT_TRUE(afterSteps(from, 10));
    fadeNoticeOut();
    ASSERT_TRUE(pumpUntil([] { return !IsWindowVisible(app.noticeWindow); }));
    values = appliedTo(app.noticeWindow, from);
    EXPECT_EQ(values, steps(201, 3, -2));
    EXPECT_EQ(app.noticeAlpha, 1);

    // A fade-in cut into by a fade-out turns once, runs down to 3 and hides.
    from = appliedCount;
    fadeNoticeIn();
    ASSERT_TRUE(afterSteps(from, 20));
    fadeNoticeOut();
    ASSERT_TRUE(pumpUntil([] { return !IsWindowVisible(app.noticeWindow); }));
    values = appliedTo(app.noticeWindow, from);
    expectUnbroken(values);
    EXPECT_EQ(values.front(), 1);
    EXPECT_EQ(values.back(), 3);
    EXPECT_EQ(turns(values), 1);
    EXPECT_EQ(app.noticeAlpha, 1);
}

TEST(About, OkAndEnterGiveOneEscapeAndTheCloseButtonGiveZero)
{
    struct Case {
        const char* name;
        std::function<void(HWND)> close;
        int result;
    };
    const Case cases[] = {
        {"OK", [](HWND d) { SendMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); }, 1},
        {"Enter", [](HWND d) { PostMessageA(d, WM_KEYDOWN, VK_RETURN, 0); }, 1},
        {"Escape", [](HWND d) { PostMessageA(d, WM_KEYDOWN, VK_ESCAPE, 0); }, 0},
        {"close button", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string caption;
        int texts = 0;
        HWND owner = nullptr;
        const int result = whileModal(showAboutDialog, [&](HWND dialog) {
            caption = textOf(dialog);
            owner = GetWindow(dialog, GW_OWNER);
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                if (GetDlgCtrlID(child) == 215) ++texts;
            c.close(dialog);
            return true;
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(caption, "About Skiprail");
        EXPECT_EQ(owner, app.mainWindow);
        EXPECT_EQ(texts, 4);
        EXPECT_NE(app.aboutBitmap, nullptr);
    }

    // The tray menu's item opens the same box.
    std::string caption;
    whileModal(
        [] {
            SendMessageA(app.mainWindow, WM_COMMAND, IDM_ABOUT, 0);
            return 0;
        },
        [&](HWND dialog) {
            caption = textOf(dialog);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            return true;
        });
    EXPECT_EQ(caption, "About Skiprail");
}

TEST(Tray, TheIconComesBackWhenTheTaskbarRestarts)
{
    NOTIFYICONDATAA icon = app.trayIconData;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &icon));  // it is there
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));  // lost, as when the shell restarts
    ASSERT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &icon));
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(pumpUntil([&] { return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE; }, 3000));
}

TEST(Tray, DisableAndEnableWorkOnALinkedMasterOnly)
{
    auto hookSeesMoves = [] {
        SetCursorPos(300, 300);
        pumpFor(100);
        app.cursorX = -1;
        sendMove(3, 0);  // small: no pointer acceleration
        return pumpUntil([] { return app.cursorX == 303; }, 1000);
    };
    ASSERT_EQ(toggleText(), "Disable Skiprail");
    ASSERT_TRUE(hookSeesMoves());

    EXPECT_EQ(chooseMenuItem(IDM_TOGGLE), "");
    EXPECT_EQ(app.inputDisabled, 1);
    EXPECT_EQ(toggleText(), "Enable Skiprail");
    EXPECT_FALSE(hookSeesMoves());

    EXPECT_EQ(chooseMenuItem(IDM_TOGGLE), "");
    EXPECT_EQ(app.inputDisabled, 0);
    EXPECT_EQ(toggleText(), "Disable Skiprail");
    EXPECT_TRUE(hookSeesMoves());

    // Refused, with a box and nothing changed, on a Slave and without a link.
    app.mode = MODE_SLAVE;
    EXPECT_EQ(chooseMenuItem(IDM_TOGGLE), "Skiprail must be disabled from the Master.");
    app.mode = MODE_MASTER;
    app.masterLinked = 0;
    EXPECT_EQ(chooseMenuItem(IDM_TOGGLE), "There is no connection to the partner computer. Skiprail is not active.");
    app.masterLinked = 1;
    EXPECT_EQ(app.inputDisabled, 0);
    EXPECT_EQ(toggleText(), "Disable Skiprail");
    EXPECT_TRUE(hookSeesMoves());
}

TEST(Labels, TheMastersLabelsFollowItsPointerButtonsAndKeys)
{
    // Written while the panel is hidden, the newest text is there when it is shown.
    SetCursorPos(400, 300);
    pumpFor(50);
    sendMove(3, 0);
    pumpFor(200);
    showDiagnosticControls(SW_SHOW);
    EXPECT_EQ(labelText(app.statusLabel1), "Status Value: 403");

    crossRight();
    sendMouseFlags(MOUSEEVENTF_LEFTDOWN);
    EXPECT_TRUE(pumpUntil([] { slave.poll(); return labelText(app.statusLabel1) == "LDOWN"; }, 2000));
    sendMouseFlags(MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(pumpUntil([] { slave.poll(); return labelText(app.statusLabel1) == "LUP"; }, 2000));
    sendKey('A', false);
    EXPECT_TRUE(pumpUntil([] { slave.poll(); return labelText(app.statusLabel5) == "KEYDOWN"; }, 2000));
    sendKey('A', true);
    EXPECT_TRUE(pumpUntil([] { slave.poll(); return labelText(app.statusLabel5) == "KEYUP"; }, 2000));
    pumpUntil([] { slave.poll(); return links[0].peerReady == 1; }, 2000);
    leaveLeft();
    EXPECT_EQ(labelText(app.statusLabel4), "<Status Label4>");
    showDiagnosticControls(SW_HIDE);
}

}  // namespace
