#include "tests/wine/wine_support.h"

#include <cstring>

#include "windows/settings/settings.h"

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(1);
    }
}

void pumpFor(DWORD ms)
{
    pumpUntil([] { return false; }, ms);
}

InputPacket packetOf(int32_t type, int32_t x, int32_t y, int32_t button, int32_t key, int32_t event)
{
    InputPacket p;
    p.type = type;
    p.x = x;
    p.y = y;
    p.button = button;
    p.keyCode = key;
    p.keyEvent = event;
    return p;
}

std::vector<uint8_t> bytesOf(const InputPacket& packet)
{
    std::vector<uint8_t> b(PACKET_SIZE);
    encodePacket(packet, b.data());
    return b;
}

void PacketPeer::send(const InputPacket& packet)
{
    const auto b = bytesOf(packet);
    socket.sendBytes(b.data(), PACKET_SIZE);
}

void PacketPeer::poll()
{
    socket.poll();
    size_t at = 0;
    while (socket.received.size() - at >= PACKET_SIZE) {
        const InputPacket p = decodePacket(socket.received.data() + at);
        at += PACKET_SIZE;
        packets.push_back(p);
        if (autoReady && (p.type == PKT_INPUT || p.type == PKT_ENTER || p.type == PKT_WHEEL))
            send(packetOf(PKT_READY));
    }
    socket.received.erase(socket.received.begin(), socket.received.begin() + static_cast<long>(at));
}

bool PacketPeer::waitForPackets(size_t n, DWORD timeoutMs)
{
    return pumpUntil(
        [&] {
            poll();
            return packets.size() >= n;
        },
        timeoutMs);
}

bool PacketPeer::waitForType(int32_t type, InputPacket* out, DWORD timeoutMs)
{
    const size_t from = packets.size();
    return pumpUntil(
        [&] {
            poll();
            for (size_t i = from; i < packets.size(); ++i)
                if (packets[i].type == type) {
                    if (out) *out = packets[i];
                    return true;
                }
            return false;
        },
        timeoutMs);
}

bool PeerSocket::sendBytes(const void* data, int n)
{
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const int sent = send(s, p, n, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) {
                Sleep(1);
                continue;
            }
            return false;
        }
        p += sent;
        n -= sent;
    }
    return true;
}

void PeerSocket::poll()
{
    char buffer[4096];
    for (;;) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        received.insert(received.end(), buffer, buffer + n);
    }
}

bool PeerSocket::waitFor(size_t n, DWORD timeoutMs)
{
    return pumpUntil(
        [&] {
            poll();
            return received.size() >= n;
        },
        timeoutMs);
}

void PeerSocket::close()
{
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
}

namespace {

void startSockets()
{
    static bool started = false;
    if (started) return;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    started = true;
}

void makeNonBlocking(SOCKET s)
{
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

sockaddr_in addressOf(const char* address, int port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = inet_addr(address);
    return a;
}

}  // namespace

SOCKET listenOn(int port, const char* address)
{
    startSockets();
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = addressOf(address, port);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    makeNonBlocking(s);
    return s;
}

SOCKET acceptWhilePumping(SOCKET listener, DWORD timeoutMs)
{
    SOCKET accepted = INVALID_SOCKET;
    pumpUntil(
        [&] {
            accepted = accept(listener, nullptr, nullptr);
            return accepted != INVALID_SOCKET;
        },
        timeoutMs);
    if (accepted != INVALID_SOCKET) makeNonBlocking(accepted);
    return accepted;
}

SOCKET connectTo(int port, const char* address, const char* from)
{
    startSockets();
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (from) {
        sockaddr_in local = addressOf(from, 0);
        bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in a = addressOf(address, port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    makeNonBlocking(s);
    return s;
}

namespace {

LRESULT CALLBACK recorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<InputRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self) {
        switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN: self->keyDowns.push_back(static_cast<UINT>(wParam)); break;
        case WM_KEYUP:
        case WM_SYSKEYUP: self->keyUps.push_back(static_cast<UINT>(wParam)); break;
        case WM_CHAR: self->chars.push_back(static_cast<char>(wParam)); break;
        case WM_MOUSEWHEEL: self->wheel.push_back(static_cast<short>(HIWORD(wParam))); break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP: self->buttons.push_back(message); break;
        default: break;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void InputRecorder::create(int x, int y, int width, int height)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = recorderProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "InputRecorder";
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, "InputRecorder", "recorder", WS_POPUP | WS_VISIBLE, x, y, width, height, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

bool InputRecorder::focus()
{
    return pumpUntil(
        [&] {
            SetForegroundWindow(window);
            SetFocus(window);
            return GetForegroundWindow() == window && GetFocus() == window;
        },
        3000);
}

void InputRecorder::clear()
{
    keyDowns.clear();
    keyUps.clear();
    chars.clear();
    wheel.clear();
    buttons.clear();
}

void sendMove(int dx, int dy)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof input);
}

void sendMouseFlags(DWORD flags, DWORD data)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.mouseData = data;
    SendInput(1, &input, sizeof input);
}

void sendKey(WORD vk, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void writeLinkSettings(bool master, DWORD position, int port)
{
    deleteSettings();
    writeSettingNumber("SRMaster", master ? 1u : 0u);
    writeSettingNumber("ScreenPos", position);
    writeSetting("SRPartner", "127.0.0.1");
    writeSetting("SRPort", std::to_string(port).c_str());
}

namespace {

// Straight into the machine-wide key, past the program's own store.
void setMachineValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

}  // namespace

void writeSettingNumber(const char* name, DWORD value)
{
    setMachineValue(name, REG_DWORD, &value, sizeof value);
}

void writeSetting(const char* name, const char* text)
{
    setMachineValue(name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

void deleteSettings()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
}

int freePortPair()
{
    startSockets();
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int port = 20000 + static_cast<int>((GetTickCount() * 7919u + attempt * 104729u) % 30000u);
        SOCKET a = listenOn(port, "0.0.0.0");
        SOCKET b = listenOn(port + 1, "0.0.0.0");
        const bool ok = a != INVALID_SOCKET && b != INVALID_SOCKET;
        if (a != INVALID_SOCKET) closesocket(a);
        if (b != INVALID_SOCKET) closesocket(b);
        if (ok) return port;
    }
    return 0;
}
