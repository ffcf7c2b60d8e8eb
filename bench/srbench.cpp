// srbench.exe: the benchmark's hands and stopwatch inside one PC's Wine
// prefix. Each mode plays the partner of the program under test (or of a
// floor program, the same way), or injects and records input there, and
// prints one JSON line of what it measured. Times are read from
// QueryPerformanceCounter, which under Wine is the host's monotonic clock: two
// prefixes on one host read the same clock.
//
//   srbench slave-path PORTA PORTB N move|key  plays the Master to two
//                                          partners in turn: PKT_INPUT sent
//                                          until its READY is back
//   srbench master-path PORT N move|key CROSS  plays the Slave: an injected
//                                          move or key until its packet is in
//                                          (CROSS 1: first push the pointer
//                                          across the right edge)
//   srbench crossing PORT N                plays the Slave: the move across
//                                          the right edge until PKT_ENTER is
//                                          in; the move back across until the
//                                          pointer is free again
//   srbench first-key PORT N edge|key      plays the Slave: control taken by a
//                                          push across the right edge or by
//                                          Ctrl+Alt+F2, then a key at once:
//                                          until that key's packet is in
//   srbench flood PORT N ready|move        plays the Master: N packets written
//                                          as fast as the socket takes them,
//                                          then a probe: until its READY
//   srbench record N SECONDS               a focused window that stamps each
//                                          key down and up it gets
//   srbench type N PACE_US                 N keystrokes, a letter down and up
//                                          each, PACE_US apart (0: a burst)
//   srbench move-path N RATE               N relative moves of one pixel round
//                                          a square, RATE per second
//   srbench cursor-log SECONDS             the pointer, stamped at each change
//   srbench clip-set FILE|TEXT             the clipboard's text
//   srbench clip-wait SIZE SECONDS         until the clipboard holds SIZE bytes
//   srbench clip-picture W H               a W x H CF_DIB at 32 bits, a screenshot's
//                                          size, of pixels that differ everywhere
//   srbench clip-wait-picture W H SECONDS  until the clipboard holds a W x H picture
//   srbench push right|left                the pointer across the right edge,
//                                          or back across the left
//   srbench unclip                         the pointer free, whatever confined it
//   srbench compress W H                   the system's own codec (LZNT1) on a
//                                          W x H picture at 32 bits: noise, and
//                                          a page of dark strokes on white
//   srbench cipher SIZE                    SIZE bytes sealed, then opened, in
//                                          full records by the system's cipher
//   srbench stretch N                      the typed key stretched N times, as
//                                          each set or load of a key does
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/record_layer.h"
#include "windows/link/system_cipher.h"
#include "settings/key_text.h"

namespace {

const int PACKET = 56;
const int32_t PKT_INPUT = 9014, PKT_READY = 9015, PKT_ENTER = 9016, PKT_SCREEN_SIZE = 9017, PKT_LEAVE = 9019,
              PKT_WHEEL = 9020;
const int32_t EV_KEY_UP = 12021, EV_KEY_DOWN = 12022;
// A key no program here acts on.
const WORD BENCH_KEY = VK_F24;

LARGE_INTEGER frequency;

double nowUs()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

void waitUntilUs(double t)
{
    for (;;) {
        const double left = t - nowUs();
        if (left <= 0) return;
        if (left > 2500) Sleep(1); else SwitchToThread();
    }
}

std::string listJson(const std::vector<double>& values)
{
    std::string out = "[";
    char number[32];
    for (size_t i = 0; i < values.size(); ++i) {
        std::snprintf(number, sizeof number, "%s%.1f", i ? "," : "", values[i]);
        out += number;
    }
    return out + "]";
}

// ---------------------------------------------------------------- sockets

void putInt(char* at, int32_t v) { std::memcpy(at, &v, 4); }
int32_t getInt(const char* at) { int32_t v; std::memcpy(&v, at, 4); return v; }

struct Packet {
    int32_t type = 0, x = 0, y = 0, button = 0, key = 0, event = 0;
};

void encode(const Packet& p, char* out)
{
    std::memset(out, 0, PACKET);
    putInt(out, p.type);
    putInt(out + 4, p.x);
    putInt(out + 8, p.y);
    putInt(out + 12, p.button);
    putInt(out + 16, p.key);
    putInt(out + 20, p.event);
}

bool sendAll(SOCKET s, const char* data, int n)
{
    while (n > 0) {
        const int sent = send(s, data, n, 0);
        if (sent <= 0) return false;
        data += sent;
        n -= sent;
    }
    return true;
}

// ---------------------------------------------------------------- the protected link

// With SRBENCH_LINK_KEY set, the partner's connections speak the protected
// link with that key: a handshake after the accept, then sealed records.
struct Protected {
    SOCKET s = INVALID_SOCKET;
    SystemCipher cipher;
    LinkSession session;
    std::vector<uint8_t> plain;  // opened and not yet taken
    size_t plainAt = 0;
};

uint8_t linkKey[LINK_KEY_MAX];
int32_t linkKeyLength = 0;
Protected* protectedSockets[8] = {};

Protected* protectedOf(SOCKET s)
{
    for (Protected* p : protectedSockets)
        if (p && p->s == s) return p;
    return nullptr;
}

bool flushOutput(Protected& p)
{
    const int32_t n = linkOutputLength(p.session);
    if (n > 0 && !sendAll(p.s, reinterpret_cast<const char*>(linkOutput(p.session)), n)) return false;
    linkOutputTaken(p.session, n);
    return true;
}

// Reads once and opens what came; false when the connection ended or failed.
bool readRecords(Protected& p)
{
    static thread_local uint8_t raw[65536];
    const int n = recv(p.s, reinterpret_cast<char*>(raw), sizeof raw, 0);
    if (n <= 0) return false;
    int32_t at = 0;
    while (at < n) {
        LinkEvent event;
        at += linkFeed(p.session, raw + at, n - at, &event);
        if (event == LinkEvent::Failed) return false;
        if (event == LinkEvent::Plaintext)
            p.plain.insert(p.plain.end(), linkPlain(p.session), linkPlain(p.session) + linkPlainLength(p.session));
        // Only the handshake answers from here: records are sealed and sent
        // by the thread that writes.
        if (p.session.state != LinkState::Proven && !flushOutput(p)) return false;
    }
    return true;
}

// The handshake on a connection just accepted; true once the program proved the key.
bool protect(SOCKET s)
{
    if (linkKeyLength == 0) return true;
    Protected* p = new Protected;
    p->s = s;
    for (Protected*& slot : protectedSockets)
        if (!slot) {
            slot = p;
            break;
        }
    if (!linkStart(p->session, &p->cipher, LinkRole::Acceptor, linkKey, linkKeyLength) || !flushOutput(*p))
        return false;
    while (p->session.state != LinkState::Proven)
        if (!readRecords(*p)) return false;
    return true;
}

bool sendBytes(SOCKET s, const char* data, int n)
{
    Protected* p = protectedOf(s);
    if (!p) return sendAll(s, data, n);
    while (n > 0) {
        const int32_t sealed = linkSeal(p->session, reinterpret_cast<const uint8_t*>(data), n);
        if (sealed < 0 || !flushOutput(*p)) return false;
        data += sealed;
        n -= sealed;
    }
    return true;
}

bool receiveBytes(SOCKET s, char* out, int n)
{
    Protected* p = protectedOf(s);
    if (!p) {
        int got = 0;
        while (got < n) {
            const int r = recv(s, out + got, n - got, 0);
            if (r <= 0) return false;
            got += r;
        }
        return true;
    }
    while (p->plain.size() - p->plainAt < static_cast<size_t>(n))
        if (!readRecords(*p)) return false;
    std::memcpy(out, p->plain.data() + p->plainAt, n);
    p->plainAt += n;
    if (p->plainAt == p->plain.size()) {
        p->plain.clear();
        p->plainAt = 0;
    }
    return true;
}

bool sendPacket(SOCKET s, const Packet& p)
{
    char bytes[PACKET];
    encode(p, bytes);
    return sendBytes(s, bytes, PACKET);
}

bool receivePacket(SOCKET s, Packet* p)
{
    char bytes[PACKET];
    if (!receiveBytes(s, bytes, PACKET)) return false;
    p->type = getInt(bytes);
    p->x = getInt(bytes + 4);
    p->y = getInt(bytes + 8);
    p->button = getInt(bytes + 12);
    p->key = getInt(bytes + 16);
    p->event = getInt(bytes + 20);
    return true;
}

void setTimeout(SOCKET s, DWORD ms)
{
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

SOCKET listenOn(int port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    const BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0) return INVALID_SOCKET;
    return s;
}

// The partner's two listeners: the control connection is returned; the
// clipboard one is accepted on a thread of its own and what comes is dropped.
DWORD WINAPI acceptClipboard(LPVOID listener)
{
    for (;;) {
        SOCKET s = accept(reinterpret_cast<SOCKET>(listener), nullptr, nullptr);
        if (s == INVALID_SOCKET) return 0;
        char sink[65536];
        if (linkKeyLength > 0) {
            // Its own session, read on this thread alone.
            SystemCipher cipher;
            LinkSession& session = *new LinkSession;
            bool proven = false;
            if (linkStart(session, &cipher, LinkRole::Acceptor, linkKey, linkKeyLength) &&
                sendAll(s, reinterpret_cast<const char*>(linkOutput(session)), linkOutputLength(session))) {
                linkOutputTaken(session, linkOutputLength(session));
                int n;
                while (!proven && (n = recv(s, sink, sizeof sink, 0)) > 0) {
                    LinkEvent event = LinkEvent::None;
                    for (int at = 0; at < n && event != LinkEvent::Failed;) {
                        at += linkFeed(session, reinterpret_cast<uint8_t*>(sink) + at, n - at, &event);
                        proven = proven || event == LinkEvent::Proven;
                        sendAll(s, reinterpret_cast<const char*>(linkOutput(session)), linkOutputLength(session));
                        linkOutputTaken(session, linkOutputLength(session));
                    }
                }
            }
        }
        while (recv(s, sink, sizeof sink, 0) > 0) {
        }
    }
}

SOCKET listenPair(int port)
{
    SOCKET control = listenOn(port);
    SOCKET clipboard = listenOn(port + 1);
    if (control == INVALID_SOCKET || clipboard == INVALID_SOCKET) return INVALID_SOCKET;
    CreateThread(nullptr, 0, acceptClipboard, reinterpret_cast<LPVOID>(clipboard), 0, nullptr);
    return control;
}

SOCKET acceptOn(SOCKET listener, bool keyed = true)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener, &set);
    timeval limit = {60, 0};
    if (select(0, &set, nullptr, nullptr, &limit) != 1) return INVALID_SOCKET;
    SOCKET s = accept(listener, nullptr, nullptr);
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return !keyed || protect(s) ? s : INVALID_SOCKET;
}

void sayReady()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

SOCKET acceptPartner(int port)
{
    SOCKET listener = listenPair(port);
    if (listener == INVALID_SOCKET) return INVALID_SOCKET;
    sayReady();
    return acceptOn(listener);
}

// Reads and drops whatever arrives within ms.
void drain(SOCKET s, DWORD ms)
{
    setTimeout(s, ms);
    if (Protected* p = protectedOf(s)) {
        while (readRecords(*p)) {
        }
        p->plain.clear();
        p->plainAt = 0;
    } else {
        char sink[4096];
        while (recv(s, sink, sizeof sink, 0) > 0) {
        }
    }
    setTimeout(s, 0);
}

// ---------------------------------------------------------------- the Slave's side as a reader thread

struct Arrivals {
    SOCKET s = INVALID_SOCKET;
    bool answer = true;  // READY for every packet that asks for one
    std::atomic<long> count{0};
    std::atomic<long> entered{0}, left{0};
    std::atomic<double> lastAt{0};
    std::atomic<double> enterAt{0}, leaveAt{0};
    std::atomic<long> benchKeys{0};  // packets of BENCH_KEY, and when the last came
    std::atomic<double> benchKeyAt{0};
    std::atomic<bool> closed{false};
};

DWORD WINAPI readArrivals(LPVOID context)
{
    Arrivals& a = *static_cast<Arrivals*>(context);
    Packet p;
    while (receivePacket(a.s, &p)) {
        const double t = nowUs();
        if (p.type == PKT_ENTER) {
            a.enterAt = t;
            ++a.entered;
        } else if (p.type == PKT_LEAVE) {
            a.leaveAt = t;
            ++a.left;
        } else {
            a.lastAt = t;
            ++a.count;
            if (p.key == BENCH_KEY) {
                a.benchKeyAt = t;
                ++a.benchKeys;
            }
        }
        if (a.answer && (p.type == PKT_INPUT || p.type == PKT_ENTER || p.type == PKT_WHEEL))
            sendPacket(a.s, Packet{PKT_READY});
    }
    a.closed = true;
    return 0;
}

bool waitFor(const std::atomic<long>& counter, long value, DWORD timeoutMs)
{
    const double end = nowUs() + timeoutMs * 1000.0;
    while (counter.load() < value) {
        if (nowUs() > end) return false;
        SwitchToThread();
    }
    return true;
}

// ---------------------------------------------------------------- input

void injectMove(int dx, int dy)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof input);
}

void injectKey(WORD vk, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void noAcceleration()
{
    int mouse[3] = {0, 0, 0};
    SystemParametersInfoA(SPI_SETMOUSE, 0, mouse, 0);
}

// ---------------------------------------------------------------- modes

// One round trip: a PKT_INPUT out, until its READY is in.
bool roundTrip(SOCKET s, int i, bool keys, double* us)
{
    Packet p;
    p.type = PKT_INPUT;
    // Moves go to and fro; keys are typed with the pointer standing still,
    // so every key packet carries the same point.
    p.x = keys ? 100 : 100 + (i % 2) * 3;
    p.y = 200;
    if (keys) {
        p.key = BENCH_KEY;
        p.event = (i % 2) ? EV_KEY_UP : EV_KEY_DOWN;
    }
    const double start = nowUs();
    if (!sendPacket(s, p)) return false;
    Packet answer;
    do {
        if (!receivePacket(s, &answer)) return false;
    } while (answer.type != PKT_READY);
    *us = nowUs() - start;
    return true;
}

// The two partners (the program on portA, the floor on portB) take turns
// sample by sample, so the machine's noise falls on both alike.
int slavePath(int portA, int portB, int n, bool keys)
{
    SOCKET listenerA = listenPair(portA), listenerB = listenPair(portB);
    if (listenerA == INVALID_SOCKET || listenerB == INVALID_SOCKET) return 1;
    sayReady();
    SOCKET a = acceptOn(listenerA), b = acceptOn(listenerB, false);  // the floor has no key
    if (a == INVALID_SOCKET || b == INVALID_SOCKET) {
        std::printf("{\"error\": \"no partner, or one that did not prove the link key\"}\n");
        return 1;
    }
    drain(a, 500);  // the screen size, if any
    drain(b, 100);
    setTimeout(a, 5000);
    setTimeout(b, 5000);
    std::vector<double> samplesA, samplesB;
    const int warm = 20;  // the first packets also pass the warm-up gate
    for (int i = 0; i < n + warm; ++i) {
        double usA = 0, usB = 0;
        if (!roundTrip(a, i, keys, &usA) || !roundTrip(b, i, keys, &usB)) return 1;
        if (i >= warm) {
            samplesA.push_back(usA);
            samplesB.push_back(usB);
        }
    }
    std::printf("{\"a\": %s, \"b\": %s}\n", listJson(samplesA).c_str(), listJson(samplesB).c_str());
    closesocket(a);
    closesocket(b);
    return 0;
}

// Pushes the pointer across the right edge until PKT_ENTER comes, then well
// inside the Slave's screen.
bool crossRight(Arrivals& a)
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const long before = a.entered.load();
    for (int attempt = 0; attempt < 50 && a.entered.load() == before; ++attempt) {
        SetCursorPos(width - 5, 300);
        Sleep(20);
        injectMove(20, 0);
        const double end = nowUs() + 200000;
        while (a.entered.load() == before && nowUs() < end) Sleep(1);
    }
    if (a.entered.load() == before) return false;
    Sleep(100);
    for (int i = 0; i < 10; ++i) {
        injectMove(30, 0);
        Sleep(5);
    }
    Sleep(100);
    return true;
}

// Plays a 1024 x 768 Slave to the Master that connects on port: its
// packets are counted (and answered) in `a` from here on. False, and the
// error printed, when none connects.
bool playSlave(int port, Arrivals& a)
{
    noAcceleration();
    a.s = acceptPartner(port);
    if (a.s == INVALID_SOCKET) {
        std::printf("{\"error\": \"no partner, or one that did not prove the link key\"}\n");
        return false;
    }
    sendPacket(a.s, Packet{PKT_SCREEN_SIZE, 1024, 768});
    CreateThread(nullptr, 0, readArrivals, &a, 0, nullptr);
    Sleep(300);
    return true;
}

int masterPath(int port, int n, bool keys, bool cross)
{
    Arrivals a;
    if (!playSlave(port, a)) return 1;
    const SOCKET s = a.s;
    if (cross && !crossRight(a)) {
        std::printf("{\"error\": \"the pointer did not cross\"}\n");
        return 1;
    }
    std::vector<double> samples;
    const int warm = 20;
    for (int i = 0; i < n + warm; ++i) {
        const long before = a.count.load();
        const double start = nowUs();
        if (keys) injectKey(BENCH_KEY, i % 2 != 0); else injectMove((i % 2) ? 3 : -3, 0);
        if (!waitFor(a.count, before + 1, 5000)) {
            std::printf("{\"error\": \"no packet for event %d\"}\n", i);
            return 1;
        }
        if (i >= warm) samples.push_back(a.lastAt.load() - start);
        Sleep(3);  // the READY answered; nothing waits
    }
    if (keys) injectKey(BENCH_KEY, true);
    std::printf("{\"us\": %s}\n", listJson(samples).c_str());
    closesocket(s);
    return 0;
}

// Ctrl+Alt+the F key: the modifiers down (before), then the F key, and all
// up again in reverse (after).
void injectChord(WORD fkey, bool before, bool after)
{
    const WORD keys[] = {VK_LCONTROL, VK_LMENU, fkey};
    if (before) {
        injectKey(keys[0], false);
        injectKey(keys[1], false);
    }
    if (after) {
        injectKey(keys[2], false);
        for (int i = 2; i >= 0; --i) injectKey(keys[i], true);
    }
}

// Each round: control to the Slave (by the edge or by the key), then a key
// typed at once; the time until the key's packet is in. Back home the same
// way.
int firstKey(int port, int n, bool byKey)
{
    Arrivals a;
    if (!playSlave(port, a)) return 1;
    const SOCKET s = a.s;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    std::vector<double> samples;
    for (int i = 0; i < n; ++i) {
        SetCursorPos(byKey ? width / 2 : width - 5, 300);
        Sleep(150);
        const long entered = a.entered.load();
        const long before = a.benchKeys.load();
        // From the key that completes the hotkey, or the move over the edge.
        if (byKey) injectChord(VK_F2, true, false);
        const double start = nowUs();
        if (byKey) injectChord(VK_F2, false, true); else injectMove(20, 0);
        injectKey(BENCH_KEY, false);
        if (!waitFor(a.entered, entered + 1, 5000) || !waitFor(a.benchKeys, before + 1, 5000)) {
            std::printf("{\"error\": \"no PKT_ENTER or no key in round %d\"}\n", i);
            return 1;
        }
        samples.push_back(a.benchKeyAt.load() - start);
        injectKey(BENCH_KEY, true);
        Sleep(200);
        const long left = a.left.load();
        if (byKey) {
            injectChord(VK_F1, true, true);
        } else {
            POINT p;
            GetCursorPos(&p);
            injectMove(-(p.x + 20), 0);
        }
        if (!waitFor(a.left, left + 1, 5000)) {
            std::printf("{\"error\": \"no PKT_LEAVE in round %d\"}\n", i);
            return 1;
        }
        Sleep(150);
    }
    std::printf("{\"us\": %s}\n", listJson(samples).c_str());
    closesocket(s);
    return 0;
}

int crossing(int port, int n)
{
    Arrivals a;
    if (!playSlave(port, a)) return 1;
    const SOCKET s = a.s;
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<double> enter, leave;
    for (int i = 0; i < n; ++i) {
        SetCursorPos(width - 5, 300);
        Sleep(150);
        long before = a.entered.load();
        double start = nowUs();
        injectMove(20, 0);
        if (!waitFor(a.entered, before + 1, 5000)) {
            std::printf("{\"error\": \"no PKT_ENTER in crossing %d\"}\n", i);
            return 1;
        }
        enter.push_back(a.enterAt.load() - start);
        Sleep(200);  // the pointer stands at the entry point by now
        POINT p;
        GetCursorPos(&p);
        before = a.left.load();
        start = nowUs();
        injectMove(-(p.x + 20), 0);
        // Free: the confinement is gone and the pointer is back on the Master's own screen.
        RECT clip = {};
        for (;;) {
            GetClipCursor(&clip);
            if (clip.right - clip.left >= width && clip.bottom - clip.top >= height) break;
            if (nowUs() - start > 5e6) {
                std::printf("{\"error\": \"the pointer stayed confined in crossing %d\"}\n", i);
                return 1;
            }
            SwitchToThread();
        }
        leave.push_back(nowUs() - start);
        if (!waitFor(a.left, before + 1, 5000)) {
            std::printf("{\"error\": \"no PKT_LEAVE in crossing %d\"}\n", i);
            return 1;
        }
        Sleep(150);
    }
    std::printf("{\"enter_us\": %s, \"leave_us\": %s}\n", listJson(enter).c_str(), listJson(leave).c_str());
    closesocket(s);
    return 0;
}

// READY (nothing to replay, no answer) or PKT_INPUT moves (each replayed and
// answered), n of them written as fast as the socket takes them, then a
// PKT_INPUT probe: the time until the probe's READY is the time until the
// program answers again.
int flood(int port, int n, bool moves)
{
    SOCKET s = acceptPartner(port);
    if (s == INVALID_SOCKET) return 1;
    drain(s, 500);
    // Past the warm-up gate first, so every flood packet is replayed.
    for (int i = 0; i < 4; ++i) {
        sendPacket(s, Packet{PKT_INPUT, 300, 300});
        Packet answer;
        if (!receivePacket(s, &answer)) return 1;
    }
    Arrivals a;
    a.s = s;
    a.answer = false;
    std::vector<char> bytes(static_cast<size_t>(n + 1) * PACKET);
    for (int i = 0; i < n; ++i)
        encode(moves ? Packet{PKT_INPUT, 200 + i % 400, 200 + (i / 400) % 300} : Packet{PKT_READY}, &bytes[i * PACKET]);
    encode(Packet{PKT_INPUT, 310, 310}, &bytes[static_cast<size_t>(n) * PACKET]);
    const long answers = moves ? n + 1 : 1;
    CreateThread(nullptr, 0, readArrivals, &a, 0, nullptr);
    const double start = nowUs();
    if (!sendBytes(s, bytes.data(), static_cast<int>(bytes.size()))) return 1;
    const double written = nowUs() - start;
    if (!waitFor(a.count, answers, 600000)) {
        std::printf("{\"error\": \"%ld of %ld answers\"}\n", a.count.load(), answers);
        return 1;
    }
    const double answered = a.lastAt.load() - start;
    std::printf("{\"written_us\": %.0f, \"answered_us\": %.0f}\n", written, answered);
    closesocket(s);
    return 0;
}

// ---- the key recorder
struct Stamp {
    UINT vk;
    bool up;
    double t;
};
std::vector<Stamp> stamps;
long downsWanted = 0, downsSeen = 0;

LRESULT CALLBACK recorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP) {
        stamps.push_back({static_cast<UINT>(wParam), message == WM_KEYUP, nowUs()});
        if (message == WM_KEYDOWN) ++downsSeen;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int record(long n, int seconds)
{
    downsWanted = n;
    stamps.reserve(static_cast<size_t>(n) * 2 + 16);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = recorderProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SrbenchRecorder";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "SrbenchRecorder", "recorder", WS_POPUP | WS_VISIBLE, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    bool focused = false;
    for (int attempt = 0; attempt < 100 && !focused; ++attempt) {
        SetForegroundWindow(window);
        SetFocus(window);
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        focused = GetForegroundWindow() == window && GetFocus() == window;
        if (!focused) Sleep(20);
    }
    std::printf(focused ? "ready\n" : "unfocused\n");
    std::fflush(stdout);
    // Until all have come and a little longer, to see any key that comes
    // twice; or until none has come for 5 s once keys were coming.
    const double end = nowUs() + seconds * 1e6;
    while (nowUs() < end) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        const double quiet = stamps.empty() ? 0 : nowUs() - stamps.back().t;
        if (downsSeen >= downsWanted && quiet > 500000) break;
        if (quiet > 5e6) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    std::string out = "{\"keys\": [";
    char item[64];
    for (size_t i = 0; i < stamps.size(); ++i) {
        std::snprintf(item, sizeof item, "%s[%u,%d,%.1f]", i ? "," : "", stamps[i].vk, stamps[i].up ? 1 : 0,
                      stamps[i].t);
        out += item;
    }
    std::printf("%s]}\n", out.c_str());
    return 0;
}

int typeKeys(long n, int paceUs)
{
    std::vector<double> at;
    at.reserve(static_cast<size_t>(n));
    double next = nowUs();
    for (long i = 0; i < n; ++i) {
        if (paceUs > 0) waitUntilUs(next);
        const WORD vk = static_cast<WORD>('A' + i % 26);
        at.push_back(nowUs());
        injectKey(vk, false);
        injectKey(vk, true);
        next += paceUs;
    }
    std::printf("{\"down_us\": %s}\n", listJson(at).c_str());
    return 0;
}

int movePath(long n, int rate)
{
    noAcceleration();
    // A fresh reading: right after a move the pointer is where the move took it.
    injectMove(1, 0);
    injectMove(-1, 0);
    POINT p;
    GetCursorPos(&p);
    const int side = 150;  // inside the Slave's screen from where the rig leaves the pointer
    std::vector<double> at;
    std::string points = "[";
    at.reserve(static_cast<size_t>(n));
    const double start = nowUs();
    long x = p.x, y = p.y;
    char item[48];
    for (long i = 0; i < n; ++i) {
        waitUntilUs(start + i * 1e6 / rate);
        const long leg = (i / side) % 4;
        const int dx = leg == 0 ? 1 : (leg == 2 ? -1 : 0);
        const int dy = leg == 1 ? 1 : (leg == 3 ? -1 : 0);
        injectMove(dx, dy);
        at.push_back(nowUs());
        x += dx;
        y += dy;
        std::snprintf(item, sizeof item, "%s[%ld,%ld]", i ? "," : "", x, y);
        points += item;
    }
    std::printf("{\"start\": [%ld,%ld], \"at_us\": %s, \"points\": %s]}\n", static_cast<long>(p.x),
                static_cast<long>(p.y), listJson(at).c_str(), points.c_str());
    return 0;
}

int cursorLog(int seconds)
{
    std::string out = "{\"log\": [";
    const double end = nowUs() + seconds * 1e6;
    POINT last = {-100000, -100000};
    char item[64];
    bool first = true;
    std::printf("ready\n");
    std::fflush(stdout);
    while (nowUs() < end) {
        POINT p;
        GetCursorPos(&p);
        if (p.x != last.x || p.y != last.y) {
            std::snprintf(item, sizeof item, "%s[%ld,%ld,%.1f]", first ? "" : ",", static_cast<long>(p.x),
                          static_cast<long>(p.y), nowUs());
            out += item;
            first = false;
            last = p;
        }
        Sleep(1);
    }
    std::printf("%s]}\n", out.c_str());
    return 0;
}

// ---- the clipboard
// Puts n bytes on the clipboard as `format`, alone; prints whether it took them.
int clipPlace(UINT format, const void* data, size_t n)
{
    for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt) Sleep(20);
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, n);
    std::memcpy(GlobalLock(memory), data, n);
    GlobalUnlock(memory);
    const bool done = SetClipboardData(format, memory) != nullptr;
    CloseClipboard();
    std::printf("{\"ok\": %d}\n", done ? 1 : 0);
    return done ? 0 : 1;
}

// Waits until the clipboard changes to what `arrived` (called with the
// clipboard open) accepts; the time is when it changed, before reading it.
template <typename Arrived>
int clipWaitFor(int seconds, Arrived arrived)
{
    DWORD seen = GetClipboardSequenceNumber();
    std::printf("ready\n");
    std::fflush(stdout);
    const double end = nowUs() + seconds * 1e6;
    while (nowUs() < end) {
        const DWORD now = GetClipboardSequenceNumber();
        if (now == seen) {
            Sleep(1);
            continue;
        }
        const double at = nowUs();
        seen = now;
        for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt) Sleep(2);
        const bool done = arrived();
        CloseClipboard();
        if (done) {
            std::printf("{\"at_us\": %.1f}\n", at);
            return 0;
        }
    }
    return 1;
}

int clipSet(const char* file)
{
    std::vector<char> text;
    if (FILE* f = std::fopen(file, "rb")) {
        char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.insert(text.end(), chunk, chunk + n);
        std::fclose(f);
    } else {
        text.assign(file, file + std::strlen(file));  // not a file: the text itself
    }
    text.push_back('\0');
    return clipPlace(CF_TEXT, text.data(), text.size());
}

// Waits until the clipboard holds a text of `size` bytes.
int clipWait(long size, int seconds)
{
    return clipWaitFor(seconds, [size] {
        size_t length = 0;
        if (HANDLE data = GetClipboardData(CF_TEXT)) {
            if (const char* text = static_cast<const char*>(GlobalLock(data))) {
                length = std::strlen(text);
                GlobalUnlock(data);
            }
        }
        return static_cast<long>(length) == size;
    });
}

int clipPicture(long width, long height)
{
    const size_t pixels = static_cast<size_t>(width) * height * 4;
    std::vector<uint8_t> dib(sizeof(BITMAPINFOHEADER) + pixels);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    std::memcpy(dib.data(), &header, sizeof header);
    uint32_t state = 1;
    for (size_t i = sizeof header; i < dib.size(); ++i) {
        state = state * 1103515245u + 12345u;
        dib[i] = static_cast<uint8_t>(state >> 16);
    }
    return clipPlace(CF_DIB, dib.data(), dib.size());
}

// Waits until the clipboard holds a picture of W x H.
int clipWaitPicture(long width, long height, int seconds)
{
    return clipWaitFor(seconds, [width, height] {
        BITMAPINFOHEADER header = {};
        if (HANDLE data = GetClipboardData(CF_DIB)) {
            if (const void* dib = GlobalLock(data)) {
                std::memcpy(&header, dib, sizeof header);
                GlobalUnlock(data);
            }
        }
        return header.biWidth == width && header.biHeight == height;
    });
}

// What the system's own codec would make of a picture: its size and times.
int compressProbe(long width, long height)
{
    typedef LONG(WINAPI * WorkSpaceSize)(USHORT, PULONG, PULONG);
    typedef LONG(WINAPI * Compress)(USHORT, PUCHAR, ULONG, PUCHAR, ULONG, ULONG, PULONG, PVOID);
    typedef LONG(WINAPI * Decompress)(USHORT, PUCHAR, ULONG, PUCHAR, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto workSpaceSize = reinterpret_cast<WorkSpaceSize>(GetProcAddress(ntdll, "RtlGetCompressionWorkSpaceSize"));
    auto compress = reinterpret_cast<Compress>(GetProcAddress(ntdll, "RtlCompressBuffer"));
    auto decompress = reinterpret_cast<Decompress>(GetProcAddress(ntdll, "RtlDecompressBuffer"));
    const USHORT LZNT1 = 2;
    ULONG work = 0, fragment = 0;
    if (!workSpaceSize || !compress || !decompress || workSpaceSize(LZNT1, &work, &fragment) != 0) return 1;
    std::vector<uint8_t> workSpace(work);
    const size_t n = static_cast<size_t>(width) * height * 4;
    std::vector<uint8_t> picture(n), packed(n + n / 8 + 4096), back(n);
    std::printf("{\"bytes\": %zu", n);
    for (const char* kind : {"noise", "page"}) {
        uint32_t state = 1;
        for (size_t i = 0; i < n; ++i) {
            state = state * 1103515245u + 12345u;
            if (kind[0] == 'n') picture[i] = static_cast<uint8_t>(state >> 16);
            else if (i % 4 == 0) {
                // Lines of text: rows 2 of every 20 blank, strokes of dark
                // pixels of random length on white elsewhere.
                const size_t row = i / 4 / width;
                const bool ink = row % 20 < 14 && (state >> 16) % 5 == 0;
                const uint8_t v = ink ? static_cast<uint8_t>(40 + (state >> 24) % 30) : 255;
                picture[i] = picture[i + 1] = picture[i + 2] = v;
                picture[i + 3] = 0;
            }
        }
        ULONG packedSize = 0, backSize = 0;
        const double t0 = nowUs();
        if (compress(LZNT1, picture.data(), static_cast<ULONG>(n), packed.data(), static_cast<ULONG>(packed.size()), 4096,
                     &packedSize, workSpace.data()) != 0)
            return 1;
        const double t1 = nowUs();
        if (decompress(LZNT1, back.data(), static_cast<ULONG>(n), packed.data(), packedSize, &backSize) != 0) return 1;
        const double t2 = nowUs();
        std::printf(", \"%s\": {\"packed\": %lu, \"compress_ms\": %.1f, \"decompress_ms\": %.1f, \"same\": %d}", kind,
                    packedSize, (t1 - t0) / 1000, (t2 - t1) / 1000, backSize == n && back == picture);
    }
    std::printf("}\n");
    return 0;
}

// A push of the pointer across the right edge (or, with "left", back across
// the left edge of the area it is confined to); prints when the move went in.
int push(bool right)
{
    noAcceleration();
    const int width = GetSystemMetrics(SM_CXSCREEN);
    double at;
    if (right) {
        SetCursorPos(width - 5, 300);
        Sleep(150);
        at = nowUs();
        injectMove(20, 0);
    } else {
        injectMove(1, 0);
        POINT p;
        GetCursorPos(&p);
        at = nowUs();
        injectMove(-(p.x + 20), 0);
    }
    std::printf("{\"at_us\": %.1f}\n", at);
    return 0;
}

// The cost of the cipher alone: what a protected clipboard transfer of SIZE
// bytes pays on each side above the plain one's.
int cipherCost(long size)
{
    SystemCipher cipher;
    const uint8_t sendKey[32] = {1}, receiveKey[32] = {1};  // one key both ways: what is sealed here opens here
    if (size <= 0 || !systemCryptoAvailable() || !cipher.setKeys(sendKey, receiveKey)) return 1;
    const long records = (size + RECORD_MAX_PLAIN - 1) / RECORD_MAX_PLAIN;
    std::vector<uint8_t> text(static_cast<size_t>(size), 'x'), tags(static_cast<size_t>(records) * RECORD_TAG);
    uint8_t nonce[RECORD_NONCE] = {}, header[RECORD_HEADER] = {};
    double took[2] = {};
    for (int opening = 0; opening < 2; ++opening) {
        const double started = nowUs();
        for (long r = 0; r < records; ++r) {
            std::memcpy(nonce + 4, &r, sizeof r);
            uint8_t* at = text.data() + r * RECORD_MAX_PLAIN;
            const int32_t n = static_cast<int32_t>(std::min<long>(RECORD_MAX_PLAIN, size - r * RECORD_MAX_PLAIN));
            uint8_t* tag = tags.data() + r * RECORD_TAG;
            if (!(opening ? cipher.open(nonce, header, RECORD_HEADER, at, at, n, tag)
                          : cipher.seal(nonce, header, RECORD_HEADER, at, at, n, tag)))
                return 1;
        }
        took[opening] = nowUs() - started;
    }
    std::printf("{\"seal_ms\": %.2f, \"open_ms\": %.2f}\n", took[0] / 1000, took[1] / 1000);
    return 0;
}

// What stretching the typed key costs: once per start and per key set.
int stretchCost(long times)
{
    const uint8_t key[] = "K7QF2MXD9PZR4TWA3HNB6YCE";
    uint8_t out[LINK_KEY_STRETCHED];
    for (long i = 0; i < times; ++i) {
        const double started = nowUs();
        if (!stretchLinkKey(key, sizeof key - 1, out)) return 1;
        std::printf("{\"rounds\": %u, \"stretch_ms\": %.1f, \"bits\": %d}\n", LINK_KEY_ROUNDS,
                    (nowUs() - started) / 1000, static_cast<int>(8 * sizeof(void*)));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QueryPerformanceFrequency(&frequency);
    uint8_t typed[LINK_KEY_MAX];
    if (const char* key = std::getenv("SRBENCH_LINK_KEY")) linkKeyLength = normalizeLinkKey(key, typed, sizeof typed);
    // The system's cipher is looked up once, here, before any thread may use
    // it; the key is stretched as the program stretches it.
    if (linkKeyLength > 0 && !(systemCryptoAvailable() && stretchLinkKey(typed, linkKeyLength, linkKey)))
        linkKeyLength = -1;
    else if (linkKeyLength > 0)
        linkKeyLength = LINK_KEY_STRETCHED;
    if (linkKeyLength < 0) {
        std::printf("{\"error\": \"no system cipher for the link key\"}\n");
        return 1;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const std::string mode = argc > 1 ? argv[1] : "";
    auto arg = [&](int i) { return argc > i ? std::atol(argv[i]) : 0L; };
    auto word = [&](int i) { return std::string(argc > i ? argv[i] : ""); };
    int status = 2;
    if (mode == "slave-path") status = slavePath(arg(2), arg(3), arg(4), word(5) == "key");
    else if (mode == "master-path") status = masterPath(arg(2), arg(3), word(4) == "key", arg(5) != 0);
    else if (mode == "crossing") status = crossing(arg(2), arg(3));
    else if (mode == "first-key" && argc > 4) status = firstKey(arg(2), arg(3), std::string(argv[4]) == "key");
    else if (mode == "flood") status = flood(arg(2), arg(3), word(4) == "move");
    else if (mode == "record") status = record(arg(2), static_cast<int>(arg(3)));
    else if (mode == "type") status = typeKeys(arg(2), static_cast<int>(arg(3)));
    else if (mode == "move-path") status = movePath(arg(2), static_cast<int>(arg(3)));
    else if (mode == "cursor-log") status = cursorLog(static_cast<int>(arg(2)));
    else if (mode == "clip-set") status = clipSet(argc > 2 ? argv[2] : "");
    else if (mode == "clip-wait") status = clipWait(arg(2), static_cast<int>(arg(3)));
    else if (mode == "clip-picture") status = clipPicture(arg(2), arg(3));
    else if (mode == "clip-wait-picture") status = clipWaitPicture(arg(2), arg(3), static_cast<int>(arg(4)));
    else if (mode == "compress") status = compressProbe(arg(2), arg(3));
    else if (mode == "push") status = push(word(2) == "right");
    else if (mode == "unclip") status = ClipCursor(nullptr) ? 0 : 1;
    else if (mode == "cipher") status = cipherCost(arg(2));
    else if (mode == "stretch") status = stretchCost(arg(2));
    if (status != 0) std::printf("{\"error\": \"%s failed\"}\n", mode.c_str());
    std::fflush(stdout);
    ExitProcess(status);
}
