// Latency figures of the input path, against the real main window under the
// platform it runs on:
//   roundtrip slave  - the test plays the Master: PKT_INPUT sent until its
//                      READY is back (the Slave's receive, replay and answer);
//   roundtrip master - the test plays the Slave: a SendInput move on the
//                      Master until its PKT_INPUT is on the wire.
// Prints the median, 95th percentile and worst, in microseconds.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "tests/wine/wine_support.h"

namespace {

LARGE_INTEGER frequency;

double nowMicros()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

void report(const char* what, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    std::printf("%s: %zu samples, median %.0f us, p95 %.0f us, worst %.0f us\n", what, n, samples[n / 2],
                samples[n * 95 / 100], samples[n - 1]);
}

PacketPeer startLinked(DWORD master)
{
    const int port = freePortPair();
    writeLinkSettings(master != 0, 1, port);
    SOCKET control = listenOn(port);
    SOCKET clipboard = listenOn(port + 1);
    startMainWindow(GetModuleHandleA(nullptr), SW_HIDE);
    PacketPeer peer;
    peer.socket.s = acceptWhilePumping(control);
    acceptWhilePumping(clipboard);
    return peer;
}

int benchSlave(int count)
{
    PacketPeer master = startLinked(0);
    if (!master.waitForPackets(1)) return 1;  // the screen size
    std::vector<double> samples;
    for (int i = 0; i < count + 2; ++i) {  // the first two pass the warm-up gate
        const size_t before = master.packets.size();
        const double start = nowMicros();
        master.send(packetOf(PKT_INPUT, 100 + i % 500, 100 + i % 300));
        if (!master.waitForPackets(before + 1)) return 1;
        if (i >= 2) samples.push_back(nowMicros() - start);
    }
    report("slave: PKT_INPUT to READY", samples);
    return 0;
}

int benchMaster(int count)
{
    PacketPeer slave = startLinked(1);
    slave.autoReady = true;
    pumpUntil([] { return app.masterLinked == 1; });
    slave.send(packetOf(PKT_SCREEN_SIZE, 1024, 768));
    SetCursorPos(app.localWidth - 1, 300);
    pumpFor(50);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    input.mi.dx = 5;
    SendInput(1, &input, sizeof input);
    if (!pumpUntil([&] { slave.poll(); return app.controlState == STATE_REMOTE && app.peerReady == 1; })) return 1;
    for (int i = 0; i < 40; ++i) SendInput(1, &input, sizeof input);  // well inside the Slave's screen
    pumpUntil([&] { slave.poll(); return app.cursorX > 150 && app.peerReady == 1; });
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const size_t before = slave.packets.size();
        input.mi.dx = (i % 2) ? 3 : -3;
        const double start = nowMicros();
        SendInput(1, &input, sizeof input);
        if (!slave.waitForPackets(before + 1, 2000)) return 1;
        samples.push_back(nowMicros() - start);
        pumpUntil([] { return app.peerReady == 1; }, 1000);
    }
    report("master: SendInput move to PKT_INPUT on the wire", samples);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QueryPerformanceFrequency(&frequency);
    const std::string side = argc > 1 ? argv[1] : "slave";
    const int count = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int status = side == "master" ? benchMaster(count) : benchSlave(count);
    ClipCursor(nullptr);
    if (status != 0) std::printf("%s: the link did not answer\n", side.c_str());
    return status;
}
