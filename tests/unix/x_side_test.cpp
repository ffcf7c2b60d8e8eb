// The X side against a real X server: an Xvfb of its own (or the one
// SKIPRAIL_TEST_DISPLAY names), a window of the test's that sees what a
// program on the Slave (or the Master) would, xclip as the other program on
// the desk, and XTest as the Master's own keyboard and mouse.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/constants.h"
#include "unix/x_master.h"
#include "unix/x_side.h"

namespace {

Display* probe = nullptr;  // the test's own connection
Window window = 0;         // the whole screen, focused
pid_t server = 0;

// What the test's window saw.
struct Seen {
    std::string text;
    int presses = 0, releases = 0;
    std::vector<unsigned> buttons;  // pressed, in order
};

// Gathers events for up to `ms`, or until `enough` says so.
template <typename Enough> Seen watch(int ms, Enough enough)
{
    Seen seen;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!enough(seen) && std::chrono::steady_clock::now() < end) {
        if (XPending(probe) == 0) {
            pollfd fd = {ConnectionNumber(probe), POLLIN, 0};
            poll(&fd, 1, 10);
            continue;
        }
        XEvent e;
        XNextEvent(probe, &e);
        if (e.type == KeyPress) {
            char text[16];
            const int n = XLookupString(&e.xkey, text, sizeof text, nullptr, nullptr);
            seen.text.append(text, static_cast<size_t>(n > 0 ? n : 0));
            ++seen.presses;
        }
        if (e.type == KeyRelease) ++seen.releases;
        if (e.type == ButtonPress) seen.buttons.push_back(e.xbutton.button);
        if (e.type == MappingNotify) XRefreshKeyboardMapping(&e.xmapping);
    }
    return seen;
}
Seen watch(int ms) { return watch(ms, [](const Seen&) { return false; }); }

std::string typed(std::initializer_list<std::pair<int32_t, bool>> keys)
{
    for (const auto& [code, down] : keys) xKey(code, down);
    xFlush();
    const size_t presses = std::count_if(keys.begin(), keys.end(), [](const auto& k) { return k.second; });
    return watch(2000, [&](const Seen& s) { return s.presses == static_cast<int>(presses); }).text;
}

// Runs a command on the display while the X side is pumped: its output.
std::string run(std::vector<const char*> argv)
{
    int out[2];
    if (pipe(out) != 0) return "";
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]), close(out[1]);
        argv.push_back(nullptr);
        execvp(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(out[1]);
    std::string output;
    for (ssize_t n = 1; n > 0;) {
        pollfd fds[2] = {{xFd(), POLLIN, 0}, {out[0], POLLIN, 0}};
        poll(fds, 2, 50);
        xPump();
        char buffer[65536];
        if (fds[1].revents & (POLLIN | POLLHUP)) n = read(out[0], buffer, sizeof buffer);
        if ((fds[1].revents & (POLLIN | POLLHUP)) && n > 0) output.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    waitpid(child, nullptr, 0);
    return output;
}

// xclip takes the selection with this text (as this target), and keeps it in the background.
void xclipOwns(const std::string& text, const std::string& target = "")
{
    char name[] = "/tmp/x_side_test.XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    const Atom clipboard = XInternAtom(probe, "CLIPBOARD", False);
    const Window before = XGetSelectionOwner(probe, clipboard);
    EXPECT_EQ(system(("xclip -i -selection clipboard " + (target.empty() ? "" : "-t " + target + " ") +
                      std::string(name) + " >/dev/null").c_str()),
              0);
    unlink(name);
    // xclip owns the selection once it has read its input and gone to the background.
    for (int i = 0; i < 100 && XGetSelectionOwner(probe, clipboard) == before; ++i) usleep(20000);
}

// Text in several scripts, numbered so that a piece out of place shows.
std::string bigText(size_t size)
{
    std::string text;
    for (int i = 0; text.size() < size; ++i) text += std::to_string(i) + " Grüße, мир, 世界, 😀\n";
    return text;
}

// What xRequestClipboard gave, or "(none)".
std::string requested()
{
    static std::string* text = nullptr;
    std::string got;
    text = &got;
    xRequestClipboard([](const char* utf8, int32_t n) { *text = utf8 ? std::string(utf8, n) : "(none)", text = nullptr; });
    for (int i = 0; i < 100 && text; ++i) {
        pollfd fd = {xFd(), POLLIN, 0};
        poll(&fd, 1, 100);
        xPump();
    }
    return got;
}

std::vector<std::string> told;  // what the handlers heard, but motion
int32_t movedX = 0, movedY = 0;

void tell(const char* format, int a, int b = 0, int c = 0, int d = 0)
{
    char line[64];
    snprintf(line, sizeof line, format, a, b, c, d);
    told.push_back(line);
}

// Pumps the X side for `ms`; what the test's window got meanwhile: its key
// and button presses and releases.
int pump(int ms)
{
    int inputs = 0;
    for (int i = 0; i < ms / 10; ++i) {
        pollfd fd = {xFd(), POLLIN, 0};
        poll(&fd, 1, 10);
        xPump();
        for (XEvent e; XPending(probe) > 0;)
            if (XNextEvent(probe, &e), e.type >= KeyPress && e.type <= ButtonRelease) ++inputs;
    }
    return inputs;
}

// The pointer through the points, the X side pumped at each.
void moveThrough(std::initializer_list<std::pair<int, int>> points)
{
    for (const auto& [x, y] : points) {
        XTestFakeMotionEvent(probe, -1, x, y, CurrentTime);
        XFlush(probe);
        pump(100);
    }
}

// The Master's handlers: what they hear goes to `told` (motion to moved*).
const XMasterHandlers HEARD = {
    [](uint8_t side, int32_t x, int32_t y) { tell("hit %d %d,%d", side, x, y); },
    [](uint8_t side) { tell("left %d", side); },
    [](int32_t dx, int32_t dy) { movedX += dx, movedY += dy; },
    [](int32_t vk, int32_t scan, bool extended, bool down) { tell("key %02X %02X %d %d", vk, scan, extended, down); },
    [](int32_t code) { tell("button %d", code); },
    [](int32_t delta, bool horizontal) { tell("wheel %d %d", delta, horizontal); },
    nullptr,  // the modifiers' state: not heard here
};

class XServer : public testing::Environment {
public:
    void SetUp() override
    {
        std::string display = getenv("SKIPRAIL_TEST_DISPLAY") ? getenv("SKIPRAIL_TEST_DISPLAY") : "";
        for (int n = 90; display.empty() && n < 200; ++n) {
            if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0 ||
                access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0)
                continue;
            display = ":" + std::to_string(n);
            server = fork();
            if (server == 0) {
                prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that dies takes its server along
                execlp("Xvfb", "Xvfb", display.c_str(), "-noreset", "-screen", "0", "1280x1024x24", "-nolisten",
                       "tcp", static_cast<char*>(nullptr));
                _exit(127);
            }
        }
        setenv("DISPLAY", display.c_str(), 1);
        for (int i = 0; i < 100 && !probe; ++i, usleep(50000)) probe = XOpenDisplay(display.c_str());
        ASSERT_NE(probe, nullptr) << "no X server on " << display;
        window = XCreateSimpleWindow(probe, DefaultRootWindow(probe), 0, 0, 1280, 1024, 0, 0, 0);
        XSelectInput(probe, window, KeyPressMask | KeyReleaseMask | ButtonPressMask | StructureNotifyMask);
        XMapRaised(probe, window);
        for (XEvent e; XWindowEvent(probe, window, StructureNotifyMask, &e), e.type != MapNotify;) {}
        XSetInputFocus(probe, window, RevertToParent, CurrentTime);
        XSync(probe, False);
        ASSERT_TRUE(xOpen(nullptr, [] { fprintf(stderr, "the X display went away\n"); }));
        xMasterHandle(HEARD);
    }
    void TearDown() override
    {
        xClose();
        if (probe) XCloseDisplay(probe);
        if (server > 0) kill(server, SIGTERM), waitpid(server, nullptr, 0);
    }
};
testing::Environment* const xServer = testing::AddGlobalTestEnvironment(new XServer);

// The key's place decides, the Slave's layout the character: US, then German
// (Y and Z swapped, AltGr+Q is @).
TEST(XSide, KeysByPlaceUnderTheSlavesLayout)
{
    EXPECT_EQ(typed({{KEY_Y, true}, {KEY_Y, false}, {KEY_Z, true}, {KEY_Z, false}}), "yz");
    EXPECT_EQ(typed({{KEY_LEFTSHIFT, true}, {KEY_A, true}, {KEY_A, false}, {KEY_LEFTSHIFT, false}}), "A");
    ASSERT_EQ(system("setxkbmap de"), 0);
    watch(300);  // the new keymap's notices
    EXPECT_EQ(typed({{KEY_Y, true}, {KEY_Y, false}, {KEY_Z, true}, {KEY_Z, false}}), "zy");
    EXPECT_EQ(typed({{KEY_RIGHTALT, true}, {KEY_Q, true}, {KEY_Q, false}, {KEY_RIGHTALT, false}}), "@");
    ASSERT_EQ(system("setxkbmap us"), 0);
    watch(300);
}

// A key held 1.5 s is one press: the server adds no repeats of its own, and
// the Master's repeats arrive as they are. Afterwards the key repeats again
// for the keyboard on this PC.
TEST(XSide, AHeldKeyRepeatsAtTheMastersPaceOnly)
{
    xKey(KEY_A, true);
    xFlush();
    Seen held = watch(1500);
    xKey(KEY_A, false);
    xFlush();
    const Seen released = watch(1000, [](const Seen& s) { return s.releases == 1; });
    printf("a key held 1.5 s: %d press(es)\n", held.presses);
    EXPECT_EQ(held.presses, 1);
    EXPECT_EQ(held.releases + released.releases, 1);

    for (int i = 0; i < 3; ++i) xKey(KEY_B, true);
    xFlush();
    Seen repeated = watch(1500);
    EXPECT_EQ(repeated.text, "bbb");
    printf("3 presses, then held 1.5 s: %d presses\n", repeated.presses);
    xKey(KEY_B, false);
    xFlush();

    XKeyboardState state;
    XGetKeyboardControl(probe, &state);
    EXPECT_TRUE(state.auto_repeats[(KEY_A + 8) / 8] & (1 << ((KEY_A + 8) % 8)));
}

// The far corner, the five buttons and the wheel both ways as X buttons,
// remainders carried; and nothing left down after xReleaseAll.
TEST(XSide, PointerButtonsWheelAndRelease)
{
    const Desktop desktop = xDesktop();
    EXPECT_EQ(desktop.count, 1);
    EXPECT_EQ(desktop.bounds.right, 1280);
    EXPECT_EQ(desktop.bounds.bottom, 1024);
    xMoveTo(5000, 5000);
    xFlush();
    EXPECT_TRUE(xPointerAt(1279, 1023));
    Window root, child;
    int x = 0, y = 0, wx, wy;
    unsigned mask = 0;
    watch(100);
    XQueryPointer(probe, window, &root, &child, &x, &y, &wx, &wy, &mask);
    EXPECT_EQ(x, 1279);
    EXPECT_EQ(y, 1023);

    xMoveTo(640, 512);
    for (int32_t code : {EV_LEFT_DOWN, EV_LEFT_UP, EV_MIDDLE_DOWN, EV_MIDDLE_UP, EV_RIGHT_DOWN, EV_RIGHT_UP, EV_X1_DOWN,
                         EV_X1_UP, EV_X2_DOWN, EV_X2_UP})
        xButton(code);
    xWheel(120, false);
    xWheel(-240, false);
    xWheel(60, false);
    xWheel(60, false);
    xWheel(-120, true);
    xWheel(200, true);
    xFlush();
    const Seen clicks = watch(2000, [](const Seen& s) { return s.buttons.size() >= 11; });
    EXPECT_EQ(clicks.buttons, (std::vector<unsigned>{1, 2, 3, 8, 9, 4, 5, 5, 4, 6, 7}));

    xKey(KEY_LEFTCTRL, true);
    xKey(KEY_RIGHTALT, true);
    xKey(KEY_VOLUMEUP, true);
    xButton(EV_LEFT_DOWN);
    xButton(EV_X2_DOWN);
    xReleaseAll();
    watch(200);
    char keys[32];
    XQueryKeymap(probe, keys);
    EXPECT_EQ(std::string(keys, 32), std::string(32, '\0'));
    XQueryPointer(probe, window, &root, &child, &x, &y, &wx, &wy, &mask);
    EXPECT_EQ(mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask), 0u);
}

// Text both ways with another program: what we own read by xclip in each
// form (5 MB by INCR), and what xclip owns read back (5 MB by INCR too).
TEST(XSide, ClipboardBothWaysWithAnotherProgram)
{
    const std::string small = "Grüße ✓ €";
    const uint32_t before = xClipboardSerial();
    xOwnClipboard(small.data(), static_cast<int32_t>(small.size()));
    EXPECT_TRUE(xClipboardStillOurs());
    EXPECT_NE(xClipboardSerial(), before);
    EXPECT_EQ(run({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"}), small);
    EXPECT_EQ(run({"xclip", "-o", "-selection", "clipboard", "-t", "STRING"}), "Gr\xFC\xDF" "e ? ?");
    EXPECT_EQ(run({"xclip", "-o", "-selection", "clipboard", "-t", "text/plain;charset=utf-8"}), small);
    EXPECT_NE(run({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"}).find("UTF8_STRING"), std::string::npos);
    EXPECT_EQ(requested(), small);  // our own, without a round trip

    const std::string big = bigText(5u << 20);
    xOwnClipboard(big.data(), static_cast<int32_t>(big.size()));
    auto start = std::chrono::steady_clock::now();
    const auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    EXPECT_TRUE(run({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"}) == big);
    printf("5 MB owned here, read by xclip: %.2f s\n", seconds());

    const uint32_t ours = xClipboardSerial();
    const std::string other = "from xclip: ½ ∑ 😀";
    xclipOwns(other);
    watch(100);
    xPump();
    EXPECT_FALSE(xClipboardStillOurs());
    EXPECT_NE(xClipboardSerial(), ours);
    EXPECT_EQ(requested(), other);

    const std::string bigOther = bigText((5u << 20) + 12345);
    xclipOwns(bigOther);
    start = std::chrono::steady_clock::now();
    const std::string read = requested();
    printf("5 MB owned by xclip, read here: %.2f s\n", seconds());
    EXPECT_TRUE(read == bigOther) << read.size() << " bytes";
    xOwnClipboard("", 0);  // xclip lets go and ends
}

// What came from the Master is offered by its types: a picture as image/png
// (made once, when first asked for, and large enough to go by INCR) and
// image/bmp, files as text/uri-list and GNOME's list, text by its names. And
// what another program owns is read by the types it lists in TARGETS, of
// each group the first it has.
TEST(XSide, ClipboardOffersAndReadsPicturesAndFilesByType)
{
    static int made = 0;
    const std::string png = "\x89PNG" + bigText(3u << 20);
    auto offers = std::make_shared<ClipOffers>();
    offers->add(MIME_TEXT, "beside the picture");
    offers->addProduced(MIME_PNG, [png] { ++made; return std::make_shared<const std::string>(png); });
    offers->addProduced(MIME_BMP, [] { return ClipBytes(); });  // one that cannot be made: refused
    offers->add(MIME_URI_LIST, "file:///tmp/a%20b\r\n");
    offers->add(MIME_GNOME_FILES, "copy\nfile:///tmp/a%20b");
    xOwnClipboard(offers);
    const std::string targets = run({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"});
    for (const char* type : {"UTF8_STRING", "image/png", "image/bmp", "text/uri-list", "x-special/gnome-copied-files"})
        EXPECT_NE(targets.find(type), std::string::npos) << type << " in " << targets;
    EXPECT_EQ(made, 0);  // nothing made until a program asks
    EXPECT_TRUE(run({"xclip", "-o", "-selection", "clipboard", "-t", "image/png"}) == png);
    EXPECT_TRUE(run({"xclip", "-o", "-selection", "clipboard", "-t", "image/png"}) == png);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(run({"xclip", "-o", "-selection", "clipboard", "-t", "image/bmp"}), "");
    EXPECT_EQ(run({"xclip", "-o", "-selection", "clipboard", "-t", "x-special/gnome-copied-files"}),
              "copy\nfile:///tmp/a%20b");
    EXPECT_EQ(run({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"}), "beside the picture");

    const ClipWanted wanted = {{MIME_GNOME_FILES, MIME_URI_LIST}, {MIME_PNG, MIME_JPEG, MIME_BMP}, {MIME_TEXT}};
    static ClipOffers* got = nullptr;
    static bool answered = false;
    const auto request = [&](ClipOffers* into) {
        got = into, answered = false;
        xRequestClipboardOffers(wanted, [](ClipOffers& offers) { *got = offers, answered = true; });
        for (int i = 0; i < 100 && !answered; ++i) {
            pollfd fd = {xFd(), POLLIN, 0};
            poll(&fd, 1, 100);
            xPump();
        }
        EXPECT_TRUE(answered);
    };
    const std::string jpeg = "\xFF\xD8\xFF" + bigText(1u << 20);
    xclipOwns(jpeg, "image/jpeg");
    watch(100);
    ClipOffers read;
    request(&read);
    EXPECT_EQ(read.mimes(), std::vector<std::string>{MIME_JPEG});
    EXPECT_TRUE(read.get(MIME_JPEG) && *read.get(MIME_JPEG) == jpeg);

    xclipOwns("copy\nfile:///home/u/x", "x-special/gnome-copied-files");
    watch(100);
    ClipOffers files;
    request(&files);
    EXPECT_EQ(files.mimes(), std::vector<std::string>{MIME_GNOME_FILES});
    xOwnClipboard("", 0);  // xclip lets go and ends
}

// Right and top face Slaves: reaching them (and moving along) is told with
// the place, leaving too, the other edges not; a window raised later does
// not hide the edge, and a click on the edge still reaches it. When the
// monitors change to two side by side, the right one half as tall (as a
// program may set them), the right edge is watched only where it has one.
TEST(XMaster, EdgesThatFaceASlaveAreWatched)
{
    xWatchEdges(X_EDGE_RIGHT | X_EDGE_TOP);
    moveThrough({{640, 512}});
    told.clear();
    moveThrough({{1279, 400}, {1279, 420}, {1200, 420}, {0, 500}, {640, 1023}, {600, 0}, {640, 512}});
    EXPECT_EQ(told, (std::vector<std::string>{"hit 2 1279,400", "hit 2 1279,420", "left 2", "hit 4 600,0", "left 4"}));

    const Window root = DefaultRootWindow(probe), cover = XCreateSimpleWindow(probe, root, 1180, 0, 100, 1024, 0, 0, 0);
    XSelectInput(probe, cover, ButtonPressMask);
    XMapRaised(probe, cover);
    told.clear();
    moveThrough({{1279, 300}});
    EXPECT_EQ(told, std::vector<std::string>{"hit 2 1279,300"});
    XTestFakeButtonEvent(probe, 1, True, CurrentTime);
    XTestFakeButtonEvent(probe, 1, False, CurrentTime);
    XFlush(probe);
    EXPECT_EQ(pump(200), 1);  // the cover's press (it takes no release)
    XDestroyWindow(probe, cover);

    XRRScreenResources* screen = XRRGetScreenResources(probe, root);
    XRRMonitorInfo left = {XInternAtom(probe, "L", False), True, False, 1, 0, 0, 640, 1024, 160, 256, screen->outputs};
    XRRMonitorInfo right = {XInternAtom(probe, "R", False), False, False, 0, 640, 0, 640, 512, 160, 128, nullptr};
    XRRSetMonitor(probe, root, &left);
    XRRSetMonitor(probe, root, &right);
    moveThrough({{640, 512}});
    told.clear();
    moveThrough({{1279, 300}, {1279, 800}, {640, 512}});
    EXPECT_EQ(told, (std::vector<std::string>{"hit 2 1279,300", "left 2"}));
    xWatchEdges(0);
    XRRDeleteMonitor(probe, root, right.name);
    XRRDeleteMonitor(probe, root, left.name);
    XRRFreeScreenResources(screen);
    pump(300);
}

// While captured: the hand's motion in full though it would pass the
// screen's edge twice over, keys by scan code, E0 bit and virtual key (A,
// right Ctrl, AltGr, Left, Insert), a held key's repeats as downs alone,
// buttons and wheels, and the test's window gets none of it. Afterwards
// the pointer is where it was asked to be and the window gets input again.
TEST(XMaster, CaptureTakesAllInputInTheWiresTerms)
{
    moveThrough({{640, 512}});
    ASSERT_TRUE(xCaptureStart());
    told.clear();
    movedX = movedY = 0;
    int inputs = 0;
    for (int i = 0; i < 60; ++i) {  // in fours, some under way while the pointer is put back
        XTestFakeRelativeMotionEvent(probe, 40, -3, CurrentTime);
        if (i % 4 < 3) continue;
        XFlush(probe);
        for (int wait = 0; wait < 50 && movedX < 40 * (i + 1); ++wait) inputs += pump(10);
    }
    inputs += pump(100);
    EXPECT_EQ(movedX, 2400);
    EXPECT_EQ(movedY, -180);

    for (int code : {KEY_A, KEY_RIGHTCTRL, KEY_RIGHTALT, KEY_LEFT, KEY_INSERT}) {
        XTestFakeKeyEvent(probe, code + 8, True, CurrentTime);
        XTestFakeKeyEvent(probe, code + 8, False, CurrentTime);
    }
    for (unsigned button : {1, 3, 8, 9, 4, 5, 6, 7}) {
        XTestFakeButtonEvent(probe, button, True, CurrentTime);
        XTestFakeButtonEvent(probe, button, False, CurrentTime);
    }
    XFlush(probe);
    inputs += pump(300);
    EXPECT_EQ(told, (std::vector<std::string>{
                        "key 41 1E 0 1", "key 41 1E 0 0", "key A3 1D 1 1", "key A3 1D 1 0", "key A5 38 1 1",
                        "key A5 38 1 0", "key 25 4B 1 1", "key 25 4B 1 0", "key 2D 52 1 1", "key 2D 52 1 0",
                        "button 12018", "button 12017", "button 12020", "button 12019", "button 12063",
                        "button 12062", "button 12065", "button 12064", "wheel 120 0", "wheel -120 0",
                        "wheel -120 1", "wheel 120 1"}));

    told.clear();
    XTestFakeKeyEvent(probe, KEY_B + 8, True, CurrentTime);
    XFlush(probe);
    inputs += pump(1500);
    XTestFakeKeyEvent(probe, KEY_B + 8, False, CurrentTime);
    XFlush(probe);
    inputs += pump(200);
    printf("B held 1.5 s while captured: %zu events\n", told.size());
    ASSERT_GE(told.size(), 5u);
    EXPECT_EQ(std::count(told.begin(), told.end(), "key 42 30 0 1"), static_cast<long>(told.size()) - 1);
    EXPECT_EQ(told.back(), "key 42 30 0 0");
    EXPECT_EQ(inputs, 0);

    xCaptureEnd(100, 200);
    pump(100);
    Window root, child;
    int x = 0, y = 0, wx, wy;
    unsigned mask = 0;
    XQueryPointer(probe, window, &root, &child, &x, &y, &wx, &wy, &mask);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 200);
    XTestFakeKeyEvent(probe, KEY_A + 8, True, CurrentTime);
    XTestFakeKeyEvent(probe, KEY_A + 8, False, CurrentTime);
    XTestFakeButtonEvent(probe, 1, True, CurrentTime);
    XTestFakeButtonEvent(probe, 1, False, CurrentTime);
    XFlush(probe);
    EXPECT_EQ(pump(200), 3);  // the window takes no button release
}

// Another program holds the keyboard: the capture waits a while, then
// gives up holding nothing (that program can take the pointer too).
TEST(XMaster, AGrabHeldElsewhereIsRefusedWholly)
{
    const Window root = DefaultRootWindow(probe);
    ASSERT_EQ(XGrabKeyboard(probe, root, False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
    EXPECT_FALSE(xCaptureStart());
    EXPECT_EQ(XGrabPointer(probe, root, False, 0, GrabModeAsync, GrabModeAsync, None, None, CurrentTime), GrabSuccess);
    XUngrabPointer(probe, CurrentTime);
    XUngrabKeyboard(probe, CurrentTime);
    XSync(probe, False);
    EXPECT_TRUE(xCaptureStart());
    xCaptureEnd(640, 512);
}

// The notice: a window at the bottom right with its text drawn, the focus
// left where it was; gone once hidden.
TEST(XMaster, TheNoticeShowsWithoutTakingTheFocus)
{
    const auto shownAt = [](XWindowAttributes* a) {  // a window shown near the bottom right
        Window root, parent, *children = nullptr;
        unsigned count = 0, i = 0;
        XQueryTree(probe, DefaultRootWindow(probe), &root, &parent, &children, &count);
        while (i < count && !(XGetWindowAttributes(probe, children[i], a) && a->map_state == IsViewable &&
                              a->c_class == InputOutput && a->x > 900 && a->y > 900))
            ++i;
        XFree(children);
        return i < count;
    };
    xNoticeShow("Slave 1 in control");
    pump(200);
    XWindowAttributes notice;
    ASSERT_TRUE(shownAt(&notice));
    EXPECT_GT(notice.width, 60);
    XImage* image = XGetImage(probe, DefaultRootWindow(probe), notice.x, notice.y, notice.width, notice.height,
                              AllPlanes, ZPixmap);
    int white = 0;
    for (int y = 2; y < notice.height - 2; ++y)
        for (int x = 2; x < notice.width - 2; ++x) white += (XGetPixel(image, x, y) & 0xFFFFFF) == 0xFFFFFF;
    XDestroyImage(image);
    EXPECT_GT(white, 20);  // the text
    Window focus = 0;
    int revert = 0;  // the focus stays the test window's
    XGetInputFocus(probe, &focus, &revert);
    EXPECT_EQ(focus, window);
    xNoticeHide();
    pump(100);
    EXPECT_FALSE(shownAt(&notice));
}

}  // namespace
