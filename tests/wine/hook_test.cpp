// srhook.dll driven by SendInput in this process. Every injected event carries
// a tag in dwExtraInfo, so the notifications can be matched to what was sent.
// Needs a 1280x1024 screen and no other input source.
#include "app/constants.h"
#include "windows/hook/srhook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>
#include <vector>

namespace {

constexpr UINT kMouseNote = WM_HOOK_MOUSE;
constexpr UINT kKeyNote = WM_HOOK_KEYBOARD;
constexpr UINT kBlockBySleep = WM_APP + 10;
constexpr UINT kBlockByBox = WM_APP + 11;
constexpr ULONG_PTR kTagBase = 0x5A000000;
constexpr int kScreenWidth = 1280;
const wchar_t kBoxTitle[] = L"srhook test box";

struct Note {
    UINT kind;
    WPARAM message;
    ULONG_PTR tag;
    POINT pt;
    DWORD vk;
    DWORD flags;
};

// What the sink window got, in order, and what the focus window got, by
// message and then key or button (0 for buttons and the wheel).
std::vector<Note> g_notes;
std::map<UINT, std::map<WPARAM, int>> g_seen;
HANDLE g_blockStarted;
std::atomic<bool> g_unblocked{false};
std::atomic<ULONG_PTR> g_nextTag{kTagBase};

LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kMouseNote: {
        const auto* e = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        g_notes.push_back({message, wParam, e->dwExtraInfo, e->pt, 0, e->flags});
        return 0;
    }
    case kKeyNote: {
        const auto* e = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        g_notes.push_back({message, wParam, e->dwExtraInfo, {}, e->vkCode, e->flags});
        return 0;
    }
    case kBlockBySleep:
        SetEvent(g_blockStarted);
        Sleep(3000);
        g_unblocked = true;
        return 0;
    case kBlockByBox:
        SetEvent(g_blockStarted);
        MessageBoxW(nullptr, L"The window's thread sits here.", kBoxTitle, MB_OK);
        g_unblocked = true;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK FocusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
        ++g_seen[message][wParam];
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MOUSEWHEEL:
        ++g_seen[message][0];
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps this thread's messages until done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (done())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

const Note* Find(ULONG_PTR tag)
{
    for (const Note& n : g_notes)
        if (n.tag == tag)
            return &n;
    return nullptr;
}

bool Has(ULONG_PTR tag) { return Find(tag) != nullptr; }

// The tags of the notifications from this test's input, in arrival order.
std::vector<ULONG_PTR> TagsInArrivalOrder()
{
    std::vector<ULONG_PTR> tags;
    for (const Note& n : g_notes)
        if (n.tag >= kTagBase && n.tag < kTagBase + 0x1000000)
            tags.push_back(n.tag);
    return tags;
}

ULONG_PTR SendMouse(DWORD flags, LONG dx = 0, LONG dy = 0, DWORD data = 0)
{
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = dx;
    in.mi.dy = dy;
    in.mi.mouseData = data;
    in.mi.dwFlags = flags;
    in.mi.dwExtraInfo = g_nextTag++;
    SendInput(1, &in, sizeof in);
    return in.mi.dwExtraInfo;
}

ULONG_PTR MoveBy(LONG dx, LONG dy) { return SendMouse(MOUSEEVENTF_MOVE, dx, dy); }

ULONG_PTR MoveTo(int x, int y)
{
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    return SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE,
                     (x * 65536 + w / 2) / w, (y * 65536 + h / 2) / h);
}

ULONG_PTR Key(WORD vk, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    in.ki.dwExtraInfo = g_nextTag++;
    SendInput(1, &in, sizeof in);
    return in.ki.dwExtraInfo;
}

ULONG_PTR Tap(WORD vk)
{
    Key(vk, false);
    return Key(vk, true);
}

bool CursorAt(int x, int y)
{
    POINT p;
    return GetCursorPos(&p) && std::abs(p.x - x) <= 1 && std::abs(p.y - y) <= 1;
}

// The windows live as long as the suite: under Wine without a window manager
// destroying a visible window takes about two seconds.
class Hook : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW sinkClass = {};
        sinkClass.lpfnWndProc = SinkProc;
        sinkClass.hInstance = GetModuleHandleW(nullptr);
        sinkClass.lpszClassName = L"SrhookTestSink";
        RegisterClassW(&sinkClass);
        WNDCLASSW focusClass = sinkClass;
        focusClass.lpfnWndProc = FocusProc;
        focusClass.lpszClassName = L"SrhookTestFocus";
        focusClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        RegisterClassW(&focusClass);
        g_blockStarted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        sink = CreateWindowExW(0, L"SrhookTestSink", L"sink", WS_POPUP, 0, 0, 1, 1,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        focus = CreateWindowExW(0, L"SrhookTestFocus", L"focus", WS_POPUP | WS_VISIBLE,
                                200, 200, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(focus);
        DestroyWindow(sink);
        CloseHandle(g_blockStarted);
    }

    void SetUp() override
    {
        ASSERT_TRUE(sink && focus);
        SetForegroundWindow(focus);
        SetFocus(focus);
        Pump();
        g_notes.clear();
        g_seen.clear();
        g_unblocked = false;
    }

    void TearDown() override
    {
        RemoveHooks(sink);
        Pump();
    }

    void InstallBoth()
    {
        ASSERT_TRUE(InstallMouseHook(sink, kMouseNote));
        ASSERT_TRUE(InstallKeyboardHook(sink, kKeyNote));
    }

    // A key tapped now reaches the focus window (the sentinel for "all the
    // input before it has been delivered").
    bool TapReachesFocus(WORD vk)
    {
        const int before = g_seen[WM_KEYUP][vk];
        Tap(vk);
        return PumpUntil([&] { return g_seen[WM_KEYUP][vk] > before; });
    }

    static HWND sink;
    static HWND focus;
};

HWND Hook::sink = nullptr;
HWND Hook::focus = nullptr;

TEST_F(Hook, MovesPastTheRightEdgeAreReportedBeyondIt)
{
    InstallBoth();
    MoveTo(1270, 500);
    std::vector<ULONG_PTR> pushes = {MoveBy(20, 0), MoveBy(20, 0), MoveBy(20, 0)};
    ASSERT_TRUE(PumpUntil([&] { return Has(pushes.back()); }));
    for (ULONG_PTR tag : pushes) {
        const Note* n = Find(tag);
        ASSERT_NE(nullptr, n);
        EXPECT_EQ(kMouseNote, n->kind);
        EXPECT_EQ(WPARAM(WM_MOUSEMOVE), n->message);
        EXPECT_GT(n->pt.x, kScreenWidth - 1);
        EXPECT_EQ(500, n->pt.y);
        EXPECT_TRUE(n->flags & LLMHF_INJECTED);
    }
    POINT p;
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(kScreenWidth - 1, p.x);
}

TEST_F(Hook, KeysAndMovesArriveInOrderOnceEach)
{
    InstallBoth();
    ASSERT_TRUE(InstallMouseHook(sink, kMouseNote));   // again: no second report
    ASSERT_TRUE(InstallKeyboardHook(sink, kKeyNote));
    std::vector<ULONG_PTR> sent;
    for (int i = 0; i < 5; ++i) {
        sent.push_back(MoveBy(1, 1));
        sent.push_back(Key('A', false));
        sent.push_back(Key('A', true));
    }
    // Once the focus window has the last key, every notification posted
    // before it has been handled: posted messages come before input.
    sent.push_back(Key('Z', false));
    sent.push_back(Key('Z', true));
    ASSERT_TRUE(PumpUntil([&] { return g_seen[WM_KEYUP]['Z'] == 1 && Has(sent.back()); }));
    EXPECT_EQ(sent, TagsInArrivalOrder());
    const Note* down = Find(sent[1]);
    const Note* up = Find(sent[2]);
    EXPECT_EQ(WPARAM(WM_KEYDOWN), down->message);
    EXPECT_EQ(WPARAM(WM_KEYUP), up->message);
    EXPECT_EQ(DWORD('A'), down->vk);
    EXPECT_EQ(kKeyNote, down->kind);
    EXPECT_TRUE(down->flags & LLKHF_INJECTED);
    EXPECT_TRUE(up->flags & LLKHF_UP);
}

// Another thread drives input while this (the window's) thread is held up in
// the handler of `trigger`. Input must keep flowing, and afterwards every
// notification must arrive, in order, once.
void DriveInputWhileBlocked(HWND sink, UINT trigger, bool closeBox)
{
    std::vector<ULONG_PTR> sent;
    DWORD slowestSend = 0;
    int cursorMisses = 0;
    bool sentWhileBlocked = false;
    bool boxFound = !closeBox;
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        if (WaitForSingleObject(g_blockStarted, 5000) == WAIT_OBJECT_0) {
            const DWORD blockStart = GetTickCount();
            HWND box = nullptr;
            while (closeBox && !box && GetTickCount() - blockStart < 2000) {
                box = FindWindowW(nullptr, kBoxTitle);
                Sleep(10);
            }
            boxFound = box != nullptr || !closeBox;
            for (int i = 0; i < 40; ++i) {
                const int x = 100 + 20 * i, y = 300 + i % 7;
                DWORD t = GetTickCount();
                sent.push_back(MoveTo(x, y));
                if (!CursorAt(x, y))
                    ++cursorMisses;
                if (i % 4 == 0) {
                    sent.push_back(Key(VK_F13, false));
                    sent.push_back(Key(VK_F13, true));
                }
                slowestSend = std::max(slowestSend, GetTickCount() - t);
                Sleep(20);   // spreads the input over the first second of the block
            }
            sentWhileBlocked = !g_unblocked;
            if (box) {
                while (GetTickCount() - blockStart < 3000)
                    Sleep(20);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        }
        workerDone = true;
    });
    PostMessageW(sink, trigger, 0, 0);
    const bool finished = PumpUntil([&] {
        return workerDone && g_unblocked && !sent.empty() && Has(sent.back());
    }, 15000);
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(boxFound);
    EXPECT_TRUE(sentWhileBlocked);
    EXPECT_LT(slowestSend, 500u);
    EXPECT_EQ(0, cursorMisses);
    EXPECT_EQ(sent, TagsInArrivalOrder());
}

TEST_F(Hook, InputFlowsAndNothingIsLostWhileTheWindowThreadSleeps)
{
    InstallBoth();
    DriveInputWhileBlocked(sink, kBlockBySleep, false);
}

TEST_F(Hook, InputFlowsAndNothingIsLostWhileTheWindowThreadShowsABox)
{
    InstallBoth();
    DriveInputWhileBlocked(sink, kBlockByBox, true);
}

TEST_F(Hook, RingWrapsAroundWithoutLossOrReorder)
{
    InstallBoth();
    constexpr int kBatch = 500, kEvents = 34000;   // more than the ring holds
    std::vector<ULONG_PTR> sent;
    std::vector<INPUT> batch(kBatch);
    for (int done = 0; done < kEvents; done += kBatch) {
        for (int i = 0; i < kBatch; ++i) {
            batch[i] = {};
            batch[i].type = INPUT_MOUSE;
            batch[i].mi.dx = (i & 1) ? 1 : -1;
            batch[i].mi.dwFlags = MOUSEEVENTF_MOVE;
            batch[i].mi.dwExtraInfo = g_nextTag++;
            sent.push_back(batch[i].mi.dwExtraInfo);
        }
        ASSERT_EQ(UINT(kBatch), SendInput(kBatch, batch.data(), sizeof(INPUT)));
        ASSERT_TRUE(PumpUntil([&] { return g_notes.size() >= sent.size(); }));
    }
    EXPECT_EQ(sent, TagsInArrivalOrder());
}

TEST_F(Hook, FirstFlagKeepsKeysButNotTheReleaseOfAKeyPressedBefore)
{
    InstallBoth();
    ASSERT_TRUE(TapReachesFocus('Z')) << "the focus window gets no keys";

    SetFirstRemoteFlag(1);
    const ULONG_PTR keptUp = Tap('B');
    ASSERT_TRUE(PumpUntil([&] { return Has(keptUp); }));   // reported all the same

    SetFirstRemoteFlag(0);
    Key('C', false);
    ASSERT_TRUE(PumpUntil([&] { return g_seen[WM_KEYDOWN]['C'] == 1; }));
    SetFirstRemoteFlag(1);
    Key('C', false);   // auto-repeat while held: kept
    Key('C', true);    // but the release passes
    EXPECT_TRUE(PumpUntil([&] { return g_seen[WM_KEYUP]['C'] == 1; }));

    SetFirstRemoteFlag(0);
    ASSERT_TRUE(TapReachesFocus('Z'));
    EXPECT_EQ(0, g_seen[WM_KEYDOWN]['B']);
    EXPECT_EQ(0, g_seen[WM_KEYUP]['B']);
    EXPECT_EQ(1, g_seen[WM_KEYDOWN]['C']);
}

TEST_F(Hook, SecondFlagKeepsClicksAndWheelButMovesAndKeysPass)
{
    InstallBoth();
    SetSecondRemoteFlag(1);
    const ULONG_PTR move = MoveTo(400, 350);   // over the focus window
    EXPECT_TRUE(CursorAt(400, 350));
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    const ULONG_PTR wheel = SendMouse(MOUSEEVENTF_WHEEL, 0, 0, WHEEL_DELTA);
    ASSERT_TRUE(PumpUntil([&] { return Has(move) && Has(wheel); }));
    EXPECT_TRUE(TapReachesFocus('E'));

    SetSecondRemoteFlag(0);
    SendMouse(MOUSEEVENTF_RIGHTDOWN);
    ASSERT_TRUE(PumpUntil([&] { return g_seen[WM_RBUTTONDOWN][0] == 1; }));
    SetSecondRemoteFlag(1);
    SendMouse(MOUSEEVENTF_RIGHTUP);
    EXPECT_TRUE(PumpUntil([&] { return g_seen[WM_RBUTTONUP][0] == 1; }));

    SetSecondRemoteFlag(0);   // a click that passes, to know the earlier ones were kept
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(PumpUntil([&] { return g_seen[WM_LBUTTONUP][0] == 1; }));
    EXPECT_EQ(1, g_seen[WM_LBUTTONDOWN][0]);
    EXPECT_EQ(0, g_seen[WM_MOUSEWHEEL][0]);
}

TEST_F(Hook, RemoveHooksStopsReportsAndClearsTheFlags)
{
    RemoveHooks(sink);   // nothing installed: harmless
    RemoveHooks(sink);
    EXPECT_FALSE(InstallMouseHook(nullptr, kMouseNote));
    EXPECT_FALSE(InstallKeyboardHook(reinterpret_cast<HWND>(0x1234), kKeyNote));
    EXPECT_FALSE(InstallMouseHook(GetDesktopWindow(), kMouseNote));   // another process's

    InstallBoth();
    SetFirstRemoteFlag(1);
    SetSecondRemoteFlag(1);
    const ULONG_PTR seen = MoveBy(1, 0);
    ASSERT_TRUE(PumpUntil([&] { return Has(seen); }));
    RemoveHooks(sink);
    RemoveHooks(sink);
    const size_t notesBefore = g_notes.size();
    MoveBy(1, 0);
    ASSERT_TRUE(TapReachesFocus('F'));
    EXPECT_EQ(notesBefore, g_notes.size());

    InstallBoth();   // the flags are back to 0: keys and clicks reach the focus window
    const ULONG_PTR move = MoveTo(400, 350);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(PumpUntil([&] { return g_seen[WM_LBUTTONUP][0] == 1 && Has(move); }));
    EXPECT_TRUE(TapReachesFocus('G'));
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
