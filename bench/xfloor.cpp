// xfloor: the least a Linux Slave of the same mechanism can do, for the
// benchmark to hold the Linux program's figures against. It listens on PORT
// and the next port up, takes the Master's control connection, tells it the
// X screen's size (PKT_SCREEN_SIZE, which is all a Master needs of a Slave of
// the plain wire) and, for every 56 bytes that arrive, replays the packet
// through XTest (a key by its virtual key's letter or digit, else a move to
// the packet's point) and answers READY. The clipboard connection, which a
// Master wants up before it crosses, is taken and what comes on it dropped.
// One thread, poll over the sockets; nothing else.
//   xfloor PORT
// Prints "ready" once it listens; ends when the connection closes.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const int PACKET = 56;
const int32_t PKT_INPUT = 9014, PKT_READY = 9015, PKT_ENTER = 9016, PKT_SCREEN_SIZE = 9017, PKT_WHEEL = 9020;
const int32_t EV_KEY_UP = 12021;

Display* display = nullptr;
int control = -1;

int32_t getInt(const char* at)
{
    int32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

void sendPacket(int32_t type, int32_t x, int32_t y)
{
    char packet[PACKET] = {};
    std::memcpy(packet, &type, 4);
    std::memcpy(packet + 4, &x, 4);
    std::memcpy(packet + 8, &y, 4);
    if (send(control, packet, PACKET, MSG_NOSIGNAL) != PACKET) std::exit(0);
}

// The X keycode of a virtual key among the letters and digits (their
// virtual keys are their upper-case ASCII codes).
unsigned keycodeOf(int32_t vk)
{
    KeySym sym = NoSymbol;
    if (vk >= 'A' && vk <= 'Z') sym = XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') sym = XK_0 + (vk - '0');
    return sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
}

void replay(const char* packet)
{
    const int32_t type = getInt(packet);
    if (type != PKT_INPUT && type != PKT_ENTER) return;
    const int32_t vk = getInt(packet + 16);
    if (vk != 0) {
        if (const unsigned code = keycodeOf(vk)) XTestFakeKeyEvent(display, code, getInt(packet + 20) != EV_KEY_UP, 0);
    } else {
        XTestFakeMotionEvent(display, -1, getInt(packet + 4), getInt(packet + 8), 0);
    }
    XFlush(display);
}

}  // namespace

int listenOn(int port)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0) {
        std::perror("xfloor: listen");
        std::exit(1);
    }
    return listener;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: xfloor PORT\n");
        return 2;
    }
    display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xfloor: cannot open the display\n");
        return 1;
    }
    const int port = std::atoi(argv[1]);
    // The two listeners, then the control and the clipboard connection.
    pollfd fds[4] = {{listenOn(port), POLLIN, 0}, {listenOn(port + 1), POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<char> inbox;
    char buffer[65536];
    for (;;) {
        if (poll(fds, 4, -1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            if (fds[i + 2].fd >= 0) close(fds[i + 2].fd);
            fds[i + 2].fd = accept(fds[i].fd, nullptr, nullptr);
            fds[i + 2].revents = 0;
            if (i == 0) {
                control = fds[2].fd;
                const int on = 1;
                setsockopt(control, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                const Screen* screen = DefaultScreenOfDisplay(display);
                sendPacket(PKT_SCREEN_SIZE, screen->width, screen->height);
                inbox.clear();
            }
        }
        if (fds[3].fd >= 0 && fds[3].revents && recv(fds[3].fd, buffer, sizeof buffer, 0) <= 0) {
            close(fds[3].fd);
            fds[3].fd = -1;
        }
        if (control < 0 || !fds[2].revents) continue;
        const ssize_t n = recv(control, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        inbox.insert(inbox.end(), buffer, buffer + n);
        size_t at = 0;
        for (; inbox.size() - at >= PACKET; at += PACKET) {
            const int32_t type = getInt(inbox.data() + at);
            if (type == PKT_READY) continue;
            replay(inbox.data() + at);
            if (type == PKT_INPUT || type == PKT_ENTER || type == PKT_WHEEL) sendPacket(PKT_READY, 0, 0);
        }
        inbox.erase(inbox.begin(), inbox.begin() + static_cast<long>(at));
    }
    XCloseDisplay(display);
    return 0;
}
