// The Slave's side of the control connection, against the real main window:
// the test plays the Master over loopback and watches the cursor, a focused
// window's keys and the READY answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "windows/link/link.h"
#include "windows/app/mainwindow.h"
#include "windows/app/panel.h"
#include "link/packet.h"
#include "tests/wine/wine_support.h"

namespace {

int screenWidth, screenHeight;
PeerSocket master;
SOCKET clipboardPeer = INVALID_SOCKET;
InputRecorder recorder;

void sendPacket(const InputPacket& p)
{
    const auto b = bytesOf(p);
    ASSERT_TRUE(master.sendBytes(b.data(), PACKET_SIZE));
}

// Waits for exactly `n` READY packets (and nothing else) since the last call.
void expectReadies(size_t n)
{
    const std::vector<uint8_t> ready = bytesOf(packetOf(PKT_READY));
    ASSERT_TRUE(master.waitFor(n * PACKET_SIZE)) << "got " << master.received.size() << " bytes";
    pumpFor(250);  // anything more would arrive now
    master.poll();
    ASSERT_EQ(master.received.size(), n * PACKET_SIZE);
    for (size_t i = 0; i < n; ++i)
        EXPECT_TRUE(std::equal(ready.begin(), ready.end(), master.received.begin() + i * PACKET_SIZE)) << "packet " << i;
    master.received.clear();
}

POINT cursor()
{
    POINT p = {};
    GetCursorPos(&p);
    return p;
}

class SlaveEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        screenWidth = GetSystemMetrics(SM_CXSCREEN);
        screenHeight = GetSystemMetrics(SM_CYSCREEN);
        const int port = freePortPair();
        ASSERT_NE(port, 0);
        writeLinkSettings(false, 1, port);

        recorder.create(0, 0, screenWidth, screenHeight);
        SOCKET control = listenOn(port);
        SOCKET clipboard = listenOn(port + 1);
        ASSERT_NE(control, INVALID_SOCKET);
        ASSERT_NE(clipboard, INVALID_SOCKET);

        ASSERT_NE(startMainWindow(GetModuleHandleA(nullptr), SW_HIDE), nullptr);
        master.s = acceptWhilePumping(control);
        ASSERT_NE(master.s, INVALID_SOCKET);
        clipboardPeer = acceptWhilePumping(clipboard);
        ASSERT_NE(clipboardPeer, INVALID_SOCKET);
        closesocket(control);
        closesocket(clipboard);
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SlaveEnvironment);

// Runs first: the gate counts from the start of the process.
TEST(Slave, ReportsItsScreenSizeThenDropsExactlyTheFirstTwoGatedActions)
{
    ASSERT_TRUE(master.waitFor(2 * PACKET_SIZE));
    master.received.resize(PACKET_SIZE);  // the clipboard announcement follows
    EXPECT_EQ(master.received, bytesOf(packetOf(PKT_SCREEN_SIZE, screenWidth, screenHeight)));
    master.received.clear();

    ASSERT_TRUE(recorder.focus());
    SetCursorPos(50, 60);
    recorder.clear();
    // Key press and move: the first two gate consultations, both refused.
    sendPacket(packetOf(PKT_INPUT, 300, 200, 0, 'A', EV_KEY_DOWN));
    expectReadies(1);
    EXPECT_EQ(cursor().x, 50);
    EXPECT_EQ(cursor().y, 60);
    EXPECT_TRUE(recorder.keyDowns.empty());

    // Key release, move and click: the third to fifth, all passed.
    sendPacket(packetOf(PKT_INPUT, 300, 200, EV_LEFT_DOWN, 'A', EV_KEY_UP));
    sendPacket(packetOf(PKT_INPUT, 300, 200, EV_LEFT_UP));
    expectReadies(2);
    EXPECT_EQ(cursor().x, 300);
    EXPECT_EQ(cursor().y, 200);
    ASSERT_EQ(recorder.keyUps.size(), 1u);
    EXPECT_EQ(recorder.keyUps[0], static_cast<UINT>('A'));
}

TEST(Slave, PutsTheCursorOnTheExactPixelEverywhereOnTheScreen)
{
    const int w = screenWidth, h = screenHeight;
    sendPacket(packetOf(PKT_ENTER, w - 1, h - 1));
    expectReadies(1);
    EXPECT_EQ(cursor().x, w - 1);
    EXPECT_EQ(cursor().y, h - 1);

    const POINT points[] = {{0, 0}, {w / 2, h / 3}, {w - 1, 0}, {0, h - 1}, {w - 2, h - 2}, {17, h - 17}};
    for (const POINT& p : points) {
        sendPacket(packetOf(PKT_INPUT, p.x, p.y));
        expectReadies(1);
        EXPECT_EQ(cursor().x, p.x);
        EXPECT_EQ(cursor().y, p.y);
    }
    // Off the screen: the edge.
    sendPacket(packetOf(PKT_INPUT, w + 50, -20));
    expectReadies(1);
    EXPECT_EQ(cursor().x, w - 1);
    EXPECT_EQ(cursor().y, 0);
}

TEST(Slave, TypesKeysIntoTheFocusedWindowAndTurnsTheWheel)
{
    ASSERT_TRUE(recorder.focus());
    recorder.clear();
    for (char c : std::string("HI")) {
        sendPacket(packetOf(PKT_INPUT, 100, 100, 0, c, EV_KEY_DOWN));
        sendPacket(packetOf(PKT_INPUT, 100, 100, 0, c, EV_KEY_UP));
    }
    expectReadies(4);
    pumpUntil([] { return recorder.chars.size() >= 2; }, 2000);
    EXPECT_EQ(recorder.chars, "hi");

    recorder.clear();
    InputPacket wheel = makeWheelPacket(PKT_WHEEL, -120);
    sendPacket(wheel);
    expectReadies(1);
    pumpUntil([] { return !recorder.wheel.empty(); }, 2000);
    ASSERT_EQ(recorder.wheel.size(), 1u);
    EXPECT_EQ(recorder.wheel[0], -120);
}

TEST(Slave, AnswersPacketsThatArriveSplitOrMerged)
{
    // Two packets in one write: two answers.
    std::vector<uint8_t> both = bytesOf(packetOf(PKT_INPUT, 10, 20));
    const auto second = bytesOf(packetOf(PKT_INPUT, 30, 40));
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(master.sendBytes(both.data(), static_cast<int>(both.size())));
    expectReadies(2);
    EXPECT_EQ(cursor().x, 30);
    EXPECT_EQ(cursor().y, 40);

    // One packet in three writes: nothing until the last byte, then one answer.
    const auto split = bytesOf(packetOf(PKT_INPUT, 111, 222));
    ASSERT_TRUE(master.sendBytes(split.data(), 5));
    pumpFor(150);
    ASSERT_TRUE(master.sendBytes(split.data() + 5, 40));
    pumpFor(150);
    master.poll();
    EXPECT_TRUE(master.received.empty());
    EXPECT_NE(cursor().x, 111);
    ASSERT_TRUE(master.sendBytes(split.data() + 45, 11));
    expectReadies(1);
    EXPECT_EQ(cursor().x, 111);
    EXPECT_EQ(cursor().y, 222);

    // The end of one packet and the start of the next in one write.
    std::vector<uint8_t> a = bytesOf(packetOf(PKT_INPUT, 5, 6));
    std::vector<uint8_t> b = bytesOf(packetOf(PKT_INPUT, 7, 8));
    ASSERT_TRUE(master.sendBytes(a.data(), 30));
    pumpFor(100);
    std::vector<uint8_t> middle(a.begin() + 30, a.end());
    middle.insert(middle.end(), b.begin(), b.begin() + 20);
    ASSERT_TRUE(master.sendBytes(middle.data(), static_cast<int>(middle.size())));
    pumpFor(100);
    ASSERT_TRUE(master.sendBytes(b.data() + 20, 36));
    expectReadies(2);
    EXPECT_EQ(cursor().x, 7);
    EXPECT_EQ(cursor().y, 8);
}

// A backlog far larger than one receive takes, written at once: packets
// straddle the receives, and each is replayed and answered, in order. The
// hidden panel's labels show the newest values once the panel is shown.
TEST(Slave, AnswersEveryPacketOfABacklogAndItsPanelShowsTheNewest)
{
    const int n = 3000;
    std::vector<uint8_t> backlog;
    for (int i = 0; i < n; ++i) {
        const auto b = bytesOf(packetOf(PKT_INPUT, i == n - 1 ? 321 : 100 + i % 200, i == n - 1 ? 123 : 300));
        backlog.insert(backlog.end(), b.begin(), b.end());
    }
    // Written while pumping: the program reads on this thread.
    size_t at = 0;
    while (at < backlog.size()) {
        const int sent = send(master.s, reinterpret_cast<const char*>(backlog.data() + at),
                              static_cast<int>(std::min<size_t>(8192, backlog.size() - at)), 0);
        if (sent > 0) at += static_cast<size_t>(sent); else pumpFor(1);
    }
    ASSERT_TRUE(master.waitFor(n * PACKET_SIZE, 60000)) << "got " << master.received.size() / PACKET_SIZE;
    expectReadies(n);
    EXPECT_EQ(cursor().x, 321);
    EXPECT_EQ(cursor().y, 123);

    char text[64] = {};
    showDiagnosticControls(SW_SHOW);
    GetWindowTextA(app.statusLabel1, text, sizeof text);
    EXPECT_STREQ(text, "Status Value: 321");
    GetWindowTextA(app.statusLabel2, text, sizeof text);
    EXPECT_STREQ(text, "Status Value: 123");
    showDiagnosticControls(SW_HIDE);
}

TEST(Slave, IgnoresSizesThatCannotBeDividedByAndUnknownTypes)
{
    sendPacket(packetOf(PKT_SCREEN_SIZE, 0, 0));
    sendPacket(packetOf(PKT_SCREEN_SIZE, -1024, 768));
    sendPacket(packetOf(12345, 1, 2));
    sendPacket(packetOf(0));
    sendPacket(packetOf(PKT_INPUT, screenWidth - 1, screenHeight / 2));
    expectReadies(1);  // only the PKT_INPUT is answered
    EXPECT_EQ(cursor().x, screenWidth - 1);
    EXPECT_EQ(cursor().y, screenHeight / 2);
}

TEST(Slave, ReleasesWhatItHoldsDownWhenControlLeaves)
{
    ASSERT_TRUE(recorder.focus());
    recorder.clear();
    sendPacket(packetOf(PKT_INPUT, 100, 100, EV_LEFT_DOWN, VK_SHIFT, EV_KEY_DOWN));
    sendPacket(packetOf(PKT_INPUT, 100, 100, EV_RIGHT_DOWN, VK_CONTROL, EV_KEY_DOWN));
    sendPacket(packetOf(PKT_INPUT, 100, 100, EV_RIGHT_UP));
    expectReadies(3);
    pumpUntil([] { return recorder.buttons.size() >= 3; }, 2000);
    EXPECT_EQ(recorder.keyDowns, (std::vector<UINT>{VK_SHIFT, VK_CONTROL}));
    EXPECT_TRUE(recorder.keyUps.empty());

    sendPacket(packetOf(PKT_LEAVE, -2, 100));
    pumpUntil([] { return recorder.keyUps.size() >= 2 && recorder.buttons.size() >= 4; }, 2000);
    std::vector<UINT> released = recorder.keyUps;
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, (std::vector<UINT>{VK_SHIFT, VK_CONTROL}));
    EXPECT_EQ(recorder.buttons,
              (std::vector<UINT>{WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_LBUTTONUP}));
    expectReadies(0);  // a leave is not answered

    // Nothing is released twice.
    recorder.clear();
    sendPacket(packetOf(PKT_LEAVE, -2, 100));
    pumpFor(300);
    EXPECT_TRUE(recorder.keyUps.empty());
    EXPECT_TRUE(recorder.buttons.empty());
}

// What the system sees of one packet: the key, then the move to the packet's
// point, then the button, in that order, handed over together; no move when
// the pointer stands there already.
std::vector<std::string> seenInOrder;

LRESULT CALLBACK seeKey(int code, WPARAM message, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        seenInOrder.push_back((message == WM_KEYUP ? "up " : "down ") + std::to_string(key->vkCode));
    }
    return CallNextHookEx(nullptr, code, message, lParam);
}

LRESULT CALLBACK seeMouse(int code, WPARAM message, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        if (message == WM_MOUSEMOVE)
            seenInOrder.push_back("move " + std::to_string(mouse->pt.x) + "," + std::to_string(mouse->pt.y));
        else if (message == WM_LBUTTONDOWN)
            seenInOrder.push_back("left down");
        else if (message == WM_LBUTTONUP)
            seenInOrder.push_back("left up");
    }
    return CallNextHookEx(nullptr, code, message, lParam);
}

TEST(Slave, InjectsAPacketsKeyThenItsMoveThenItsButton)
{
    HHOOK keys = SetWindowsHookExA(WH_KEYBOARD_LL, seeKey, GetModuleHandleA(nullptr), 0);
    HHOOK mice = SetWindowsHookExA(WH_MOUSE_LL, seeMouse, GetModuleHandleA(nullptr), 0);
    ASSERT_NE(keys, nullptr);
    ASSERT_NE(mice, nullptr);
    seenInOrder.clear();
    sendPacket(packetOf(PKT_INPUT, 321, 234, EV_LEFT_DOWN, 'Q', EV_KEY_DOWN));
    sendPacket(packetOf(PKT_INPUT, 123, 432, EV_LEFT_UP, 'Q', EV_KEY_UP));
    expectReadies(2);
    pumpFor(200);
    // Typed with the pointer standing still: the packets carry the point
    // where it stands, and only their keys go in.
    sendPacket(packetOf(PKT_INPUT, 123, 432, 0, 'W', EV_KEY_DOWN));
    expectReadies(1);
    sendPacket(packetOf(PKT_INPUT, 123, 432, 0, 'W', EV_KEY_UP));
    expectReadies(1);
    sendPacket(packetOf(PKT_INPUT, 123, 432, EV_LEFT_DOWN));
    Sleep(300);
    SetCursorPos(50, 60);  // moved after the notice came: the click still lands on 123,432
    expectReadies(1);
    sendPacket(packetOf(PKT_INPUT, 123, 432, EV_LEFT_UP));
    expectReadies(1);
    pumpFor(200);
    UnhookWindowsHookEx(keys);
    UnhookWindowsHookEx(mice);
    seenInOrder.erase(std::remove(seenInOrder.begin(), seenInOrder.end(), "move 50,60"), seenInOrder.end());
    EXPECT_EQ(seenInOrder, (std::vector<std::string>{"down 81", "move 321,234", "left down", "up 81",
                                                     "move 123,432", "left up", "down 87", "up 87",
                                                     "move 123,432", "left down", "move 123,432", "left up"}));
}

// Message boxes this process shows, answered and noted by a thread of their
// own: a box raised inside a handler would otherwise hold the test up.
struct BoxWatch {
    std::vector<std::string> texts;
    volatile LONG stop = 0;
    HANDLE thread = nullptr;

    static BOOL CALLBACK answer(HWND window, LPARAM self)
    {
        char name[16] = {}, text[256] = {};
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        GetClassNameA(window, name, sizeof name);
        if (process != GetCurrentProcessId() || std::string(name) != "#32770" || !IsWindowVisible(window) ||
            (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) != 0)
            return TRUE;
        HWND label = FindWindowExA(window, nullptr, "Static", nullptr);
        while (label && GetWindowTextA(label, text, sizeof text) == 0) label = FindWindowExA(window, label, "Static", nullptr);
        reinterpret_cast<BoxWatch*>(self)->texts.push_back(text);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    static DWORD WINAPI run(void* self)
    {
        auto* watch = static_cast<BoxWatch*>(self);
        while (!watch->stop) {
            EnumWindows(answer, reinterpret_cast<LPARAM>(watch));
            Sleep(100);
        }
        return 0;
    }
    void start() { thread = CreateThread(nullptr, 0, run, this, 0, nullptr); }
    void end()
    {
        stop = 1;
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
    }
};

// Runs last: it ends the link. The system hands a closed socket's number to
// the next socket made, here the listener the Slave opens once its partner
// is gone; notices of the closed socket still waiting in the queue must
// neither act on that socket nor report against it.
TEST(Slave, NoticesOfAClosedSocketReachNothingThatNowHoldsItsNumber)
{
    const SOCKET control = links[0].controlSocket, clipboard = links[0].clipboardSocket;
    ASSERT_NE(control, 0u);
    ASSERT_NE(clipboard, 0u);
    master.close();
    closesocket(clipboardPeer);
    Sleep(300);  // the close notices are queued now; these come after them
    for (LPARAM event : {FD_READ, FD_WRITE, FD_CONNECT, FD_ACCEPT, FD_CLOSE}) {
        for (SOCKET s : {control, clipboard}) {
            PostMessageA(app.mainWindow, WM_CONTROL_SOCKET, s, event);
            PostMessageA(app.mainWindow, WM_CLIPBOARD_SOCKET, s, event);
        }
    }
    BoxWatch boxes;
    boxes.start();
    pumpFor(1500);
    boxes.end();
    EXPECT_EQ(boxes.texts, std::vector<std::string>{});
    // The numbers went to the new listeners, which still take the partner.
    const SOCKET listeners[] = {app.listeners[0].controlListener, app.listeners[0].clipboardListener};
    EXPECT_TRUE(std::find(std::begin(listeners), std::end(listeners), control) != std::end(listeners) ||
                std::find(std::begin(listeners), std::end(listeners), clipboard) != std::end(listeners))
        << "no closed socket's number was handed out again";
    master.s = connectTo(app.port);
    ASSERT_NE(master.s, INVALID_SOCKET);
    ASSERT_TRUE(master.waitFor(2 * PACKET_SIZE));
    master.received.resize(PACKET_SIZE);  // the clipboard announcement follows
    EXPECT_EQ(master.received, bytesOf(packetOf(PKT_SCREEN_SIZE, screenWidth, screenHeight)));
}

}  // namespace
