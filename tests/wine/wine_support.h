// What the Windows tests share: pumping messages while waiting for a
// condition, a loopback peer socket, and a window that records its input.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/packet.h"

// Dispatches this thread's messages until `done` holds or `timeoutMs` pass.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
void pumpFor(DWORD ms);

// A blocking-free TCP socket of the test's own, read while pumping.
struct PeerSocket {
    SOCKET s = INVALID_SOCKET;
    std::vector<uint8_t> received;

    bool sendBytes(const void* data, int n);
    // Reads whatever has arrived into `received` (without waiting).
    void poll();
    // Pumps until at least n bytes have been received.
    bool waitFor(size_t n, DWORD timeoutMs = 5000);
    void close();
};

InputPacket packetOf(int32_t type, int32_t x = 0, int32_t y = 0, int32_t button = 0, int32_t key = 0,
                     int32_t event = 0);
std::vector<uint8_t> bytesOf(const InputPacket& packet);

// The partner's side of a control connection, packet by packet: keeps what
// arrives and, when `autoReady` is set, answers every PKT_INPUT, PKT_ENTER and
// PKT_WHEEL with PKT_READY as the Slave does.
struct PacketPeer {
    PeerSocket socket;
    std::vector<InputPacket> packets;
    bool autoReady = false;

    void send(const InputPacket& packet);
    // Collects whole packets that have arrived (answering if autoReady).
    void poll();
    // Pumps until `n` packets have been collected in all.
    bool waitForPackets(size_t n, DWORD timeoutMs = 5000);
    // Pumps until a packet of `type` has been collected; returns it.
    bool waitForType(int32_t type, InputPacket* out = nullptr, DWORD timeoutMs = 5000);
};

SOCKET listenOn(int port, const char* address = "127.0.0.1");
// Accepts one connection on `listener` while pumping; INVALID_SOCKET on timeout.
SOCKET acceptWhilePumping(SOCKET listener, DWORD timeoutMs = 5000);
SOCKET connectTo(int port, const char* address = "127.0.0.1", const char* from = nullptr);

// A visible top-level window that takes the focus and records the keys,
// characters and wheel turns it receives.
struct InputRecorder {
    HWND window = nullptr;
    std::vector<UINT> keyDowns, keyUps;
    std::string chars;
    std::vector<int> wheel;
    std::vector<UINT> buttons;  // WM_LBUTTONDOWN, WM_LBUTTONUP, ...

    void create(int x, int y, int width, int height);
    bool focus();
    void clear();
};

// Synthetic input, as a user's mouse and keyboard would make it.
void sendMove(int dx, int dy);
void sendMouseFlags(DWORD flags, DWORD data = 0);
void sendKey(WORD vk, bool up);

// The four settings for a link over loopback on `port`; position is the
// stored number (0 left, 1 right, 2 above, 3 below).
void writeLinkSettings(bool master, DWORD position, int port);

// Values of the machine-wide settings key, written directly; deleteSettings
// removes that key and its per-user twin.
void writeSettingNumber(const char* name, DWORD value);
void writeSetting(const char* name, const char* text);
void deleteSettings();

// A free TCP port on loopback, with its successor free too.
int freePortPair();
