// floor.exe: the least a program of the same mechanism can do on this
// platform, for the benchmark to hold the real program's figures against.
// Each mode has the shape of one path of the program and does nothing else.
//
//   floor slave PORT [listen]  a window with WSAAsyncSelect on a socket to
//                              127.0.0.1:PORT (or listening on PORT): every
//                              56 bytes that arrive become one SendInput of
//                              the same event (a key when bytes 16..19 hold
//                              one, else an absolute move) and one 56-byte
//                              reply
//   floor echo PORT            the same without the SendInput: a ping-pong
//   floor master PORT [HOST]   low-level mouse and keyboard hooks that send 56
//                              bytes per event from the hook, nothing else
//                              (every mode with a HOST connects there, else
//                              to 127.0.0.1)
//   floor master-posted PORT [HOST]
//                              the same from hooks on a thread of their own
//                              that post each event to the window, whose
//                              thread sends the 56 bytes: the least a program
//                              whose input never waits on its window can do
//   floor master-handshake PORT [HOST]
//                              the same keys, one packet at a time: the next
//                              goes out when the partner's 56-byte answer is in
//   floor crossing PORT W H    a hook on a thread of its own posting to the
//                              window; past the right screen edge: 56 bytes
//                              out, a layered topmost window shown, the
//                              pointer confined to W x H; past that area's left
//                              edge: pointer free, 56 bytes out, window hidden
//   floor clipboard-send PORT FILE / floor clipboard-receive PORT
//                              a raw loopback transfer of a file's bytes
//                              with the clipboard calls alone around it
//   floor files-send PORT FOLDER / floor files-receive PORT FOLDER
//                              the files of a folder copied over a plain
//                              loopback socket: each read, sent and written
//                              in pieces of 256 KB; the sender prints the
//                              time until the receiver has closed the last file
//
// The process ends when its connection closes.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const UINT WM_SOCKET = WM_APP + 1;
const UINT WM_HOOK_EVENT = WM_APP + 2;
const UINT WM_HOOK_KEY = WM_APP + 3;
const int PACKET = 56;

SOCKET link = INVALID_SOCKET;
HWND window = nullptr;
std::string mode;
std::vector<char> inbox;
int screenWidth = 0, screenHeight = 0;
const char* partnerHost = "127.0.0.1";

int32_t getInt(const char* at)
{
    int32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

void putInt(char* at, int32_t v)
{
    std::memcpy(at, &v, 4);
}

void sendPacket(int32_t type, int32_t x, int32_t y, int32_t key = 0, int32_t event = 0)
{
    char packet[PACKET] = {};
    putInt(packet, type);
    putInt(packet + 4, x);
    putInt(packet + 8, y);
    putInt(packet + 16, key);
    putInt(packet + 20, event);
    send(link, packet, PACKET, 0);
}

// The same event the program replays for the packet.
void replay(const char* packet)
{
    INPUT input = {};
    const int32_t key = getInt(packet + 16);
    if (key != 0) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = static_cast<WORD>(key);
        input.ki.dwFlags = getInt(packet + 20) == 12021 ? KEYEVENTF_KEYUP : 0;
    } else {
        input.type = INPUT_MOUSE;
        input.mi.dx = getInt(packet + 4) * 65536 / screenWidth;
        input.mi.dy = getInt(packet + 8) * 65536 / screenHeight;
        input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(1, &input, sizeof input);
}

// ---- master-handshake: keys waiting for the partner's answer to the last
std::vector<std::pair<int32_t, bool>> waiting;
size_t nextWaiting = 0;
bool answered = true;

void sendNextKey()
{
    if (!answered || nextWaiting == waiting.size()) return;
    sendPacket(9014, 0, 0, waiting[nextWaiting].first, waiting[nextWaiting].second ? 12021 : 12022);
    ++nextWaiting;
    answered = false;
}

void onRead()
{
    char buffer[65536];
    for (;;) {
        const int n = recv(link, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        inbox.insert(inbox.end(), buffer, buffer + n);
    }
    size_t at = 0;
    for (; inbox.size() - at >= PACKET; at += PACKET) {
        if (getInt(inbox.data() + at) == 9015) {  // a READY asks for nothing
            answered = true;
            if (mode == "master-handshake") sendNextKey();
            continue;
        }
        if (mode == "slave") replay(inbox.data() + at);
        if (mode == "slave" || mode == "echo") sendPacket(9015, 0, 0);
    }
    inbox.erase(inbox.begin(), inbox.begin() + static_cast<long>(at));
}

// ---- crossing: the pointer's state, on the window's thread
bool remote = false;
DWORD hookThreadId = 0;
HWND captureWindow = nullptr;
int areaWidth = 0, areaHeight = 0;

void onHookEvent(int x, int y)
{
    if (!remote && x >= screenWidth) {
        remote = true;
        sendPacket(9016, 1, y);
        SetLayeredWindowAttributes(captureWindow, 0, 1, LWA_ALPHA);
        SetWindowPos(captureWindow, HWND_TOPMOST, x - 25, y - 25, 50, 50, SWP_SHOWWINDOW);
        RECT area = {0, 0, areaWidth, areaHeight};
        ClipCursor(&area);
        SetCursorPos(1, y);
    } else if (remote && x < 0) {
        remote = false;
        ClipCursor(nullptr);
        sendPacket(9019, x, y);
        ShowWindow(captureWindow, SW_HIDE);
        SetCursorPos(screenWidth - 3, y);
    } else if (remote) {
        MoveWindow(captureWindow, x - 25, y - 25, 50, 50, FALSE);
    }
}

LRESULT CALLBACK windowProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SOCKET) {
        const int event = WSAGETSELECTEVENT(lParam);
        if (event == FD_READ) onRead();
        if (event == FD_ACCEPT) {
            link = accept(static_cast<SOCKET>(wParam), nullptr, nullptr);
            if (link != INVALID_SOCKET) WSAAsyncSelect(link, w, WM_SOCKET, FD_READ | FD_CLOSE);
        }
        if (event == FD_CLOSE) PostQuitMessage(0);
        return 0;
    }
    if (message == WM_HOOK_EVENT && mode == "master-posted") {
        sendPacket(9014, static_cast<int32_t>(wParam), static_cast<int32_t>(lParam));
        return 0;
    }
    if (message == WM_HOOK_EVENT) {
        onHookEvent(static_cast<int>(wParam), static_cast<int>(lParam));
        return 0;
    }
    if (message == WM_HOOK_KEY && mode == "master-handshake") {
        waiting.emplace_back(static_cast<int32_t>(wParam), lParam != 0);
        sendNextKey();
        return 0;
    }
    if (message == WM_HOOK_EVENT && mode == "master-handshake") return 0;  // keys only
    if (message == WM_HOOK_KEY) {
        sendPacket(9014, 0, 0, static_cast<int32_t>(wParam), lParam != 0 ? 12021 : 12022);
        return 0;
    }
    return DefWindowProcA(w, message, wParam, lParam);
}

// ---- hooks
LRESULT CALLBACK sendingMouseHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        sendPacket(9014, event->pt.x, event->pt.y);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK sendingKeyHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        sendPacket(9014, 0, 0, static_cast<int32_t>(event->vkCode), (event->flags & LLKHF_UP) ? 12021 : 12022);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK postingMouseHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == WM_MOUSEMOVE) {
        const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        PostMessageA(window, WM_HOOK_EVENT, static_cast<WPARAM>(event->pt.x), static_cast<LPARAM>(event->pt.y));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK postingKeyHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        PostMessageA(window, WM_HOOK_KEY, event->vkCode, (event->flags & LLKHF_UP) ? 1 : 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

DWORD WINAPI hookThread(LPVOID)
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    SetWindowsHookExA(WH_MOUSE_LL, postingMouseHook, GetModuleHandleA(nullptr), 0);
    if (mode == "master-posted" || mode == "master-handshake")
        SetWindowsHookExA(WH_KEYBOARD_LL, postingKeyHook, GetModuleHandleA(nullptr), 0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}

SOCKET connectTo(int port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = inet_addr(partnerHost);
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            const BOOL on = TRUE;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            return s;
        }
        Sleep(100);
    }
    return INVALID_SOCKET;
}

SOCKET listenOn(int port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 1) != 0) return INVALID_SOCKET;
    return s;
}

HWND makeWindow(DWORD exStyle)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "FloorWindow";
    RegisterClassA(&windowClass);
    return CreateWindowExA(exStyle, "FloorWindow", "floor", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

int runLoop()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// ---- clipboard: the bytes over loopback, then onto and off the clipboard
int clipboardSend(int port, const char* file)
{
    FILE* f = std::fopen(file, "rb");
    if (!f) return 2;
    std::vector<char> text;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.insert(text.end(), chunk, chunk + n);
    std::fclose(f);
    text.push_back('\0');
    // What the sending side does: read its clipboard, then write the bytes.
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size());
        std::memcpy(GlobalLock(memory), text.data(), text.size());
        GlobalUnlock(memory);
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::string read;
    if (OpenClipboard(nullptr)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        if (data) {
            read = static_cast<const char*>(GlobalLock(data));
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    SOCKET s = connectTo(port);
    if (s == INVALID_SOCKET) return 1;
    const int32_t length = static_cast<int32_t>(read.size() + 1);
    send(s, reinterpret_cast<const char*>(&length), 4, 0);
    const char* p = read.c_str();
    int left = length;
    while (left > 0) {
        const int sent = send(s, p, left, 0);
        if (sent <= 0) return 1;
        p += sent;
        left -= sent;
    }
    char ack;
    recv(s, &ack, 1, 0);
    QueryPerformanceCounter(&end);
    std::printf("{\"ms\": %.3f}\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    closesocket(s);
    return 0;
}

int clipboardReceive(int port)
{
    SOCKET listener = listenOn(port);
    if (listener == INVALID_SOCKET) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    SOCKET s = accept(listener, nullptr, nullptr);
    int32_t length = 0;
    for (int got = 0; got < 4;) {
        const int n = recv(s, reinterpret_cast<char*>(&length) + got, 4 - got, 0);
        if (n <= 0) return 1;
        got += n;
    }
    std::vector<char> text(static_cast<size_t>(length));
    int got = 0;
    while (got < length) {
        const int n = recv(s, text.data() + got, length - got, 0);
        if (n <= 0) return 1;
        got += n;
    }
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size());
        std::memcpy(GlobalLock(memory), text.data(), text.size());
        GlobalUnlock(memory);
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
    }
    send(s, "k", 1, 0);
    closesocket(s);
    return 0;
}

bool sendAll(SOCKET s, const char* p, int n)
{
    for (int sent; n > 0; p += sent, n -= sent)
        if ((sent = send(s, p, n, 0)) <= 0) return false;
    return true;
}

bool receiveAll(SOCKET s, char* p, int n)
{
    for (int got; n > 0; p += got, n -= got)
        if ((got = recv(s, p, n, 0)) <= 0) return false;
    return true;
}

const int FILE_PIECE = 256 * 1024;

// Each file: its name's length, the name, its 64-bit size, its bytes; a
// name of length 0 ends the list.
int filesSend(int port, const std::string& folder)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    SOCKET s = connectTo(port);
    if (s == INVALID_SOCKET) return 1;
    std::vector<char> piece(FILE_PIECE);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    do {
        if (search == INVALID_HANDLE_VALUE || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        HANDLE file = CreateFileA((folder + "\\" + found.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        const int32_t length = static_cast<int32_t>(std::strlen(found.cFileName));
        const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        if (file == INVALID_HANDLE_VALUE || !sendAll(s, reinterpret_cast<const char*>(&length), 4) ||
            !sendAll(s, found.cFileName, length) || !sendAll(s, reinterpret_cast<const char*>(&size), 8))
            return 1;
        DWORD n = 0;
        while (ReadFile(file, piece.data(), FILE_PIECE, &n, nullptr) && n > 0)
            if (!sendAll(s, piece.data(), static_cast<int>(n))) return 1;
        CloseHandle(file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    const int32_t none = 0;
    char ack;
    if (!sendAll(s, reinterpret_cast<const char*>(&none), 4) || recv(s, &ack, 1, 0) != 1) return 1;
    QueryPerformanceCounter(&end);
    std::printf("{\"ms\": %.3f}\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    closesocket(s);
    return 0;
}

int filesReceive(int port, const std::string& folder)
{
    SOCKET listener = listenOn(port);
    if (listener == INVALID_SOCKET) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    SOCKET s = accept(listener, nullptr, nullptr);
    std::vector<char> piece(FILE_PIECE);
    CreateDirectoryA(folder.c_str(), nullptr);
    for (;;) {
        int32_t length = 0;
        char name[MAX_PATH] = {};
        uint64_t size = 0;
        if (!receiveAll(s, reinterpret_cast<char*>(&length), 4) || length < 0 || length >= MAX_PATH) return 1;
        if (length == 0) break;
        if (!receiveAll(s, name, length) || !receiveAll(s, reinterpret_cast<char*>(&size), 8)) return 1;
        HANDLE file = CreateFileA((folder + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        while (size > 0) {
            const int n = recv(s, piece.data(), static_cast<int>(size < FILE_PIECE ? size : FILE_PIECE), 0);
            DWORD written = 0;
            if (n <= 0 || !WriteFile(file, piece.data(), static_cast<DWORD>(n), &written, nullptr)) return 1;
            size -= static_cast<uint64_t>(n);
        }
        CloseHandle(file);
    }
    send(s, "k", 1, 0);
    closesocket(s);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    mode = argv[1];
    const int port = std::atoi(argv[2]);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    screenWidth = GetSystemMetrics(SM_CXSCREEN);
    screenHeight = GetSystemMetrics(SM_CYSCREEN);

    if (mode == "clipboard-send" && argc > 3) return clipboardSend(port, argv[3]);
    if (mode == "clipboard-receive") return clipboardReceive(port);
    if (mode == "files-send" && argc > 3) return filesSend(port, argv[3]);
    if (mode == "files-receive" && argc > 3) return filesReceive(port, argv[3]);

    if (mode == "slave" || mode == "echo") {
        window = makeWindow(0);
        if (argc > 3 && std::strcmp(argv[3], "listen") == 0) {
            SOCKET listener = listenOn(port);
            if (listener == INVALID_SOCKET) return 1;
            WSAAsyncSelect(listener, window, WM_SOCKET, FD_ACCEPT);
        } else {
            link = connectTo(port);
            if (link == INVALID_SOCKET) return 1;
            WSAAsyncSelect(link, window, WM_SOCKET, FD_READ | FD_CLOSE);
        }
        return runLoop();
    }
    if (argc > 3 && mode.compare(0, 6, "master") == 0) partnerHost = argv[3];
    if (mode == "master") {
        link = connectTo(port);
        if (link == INVALID_SOCKET) return 1;
        window = makeWindow(0);
        WSAAsyncSelect(link, window, WM_SOCKET, FD_CLOSE);
        SetWindowsHookExA(WH_MOUSE_LL, sendingMouseHook, GetModuleHandleA(nullptr), 0);
        SetWindowsHookExA(WH_KEYBOARD_LL, sendingKeyHook, GetModuleHandleA(nullptr), 0);
        return runLoop();
    }
    if (mode == "master-posted" || mode == "master-handshake") {
        link = connectTo(port);
        if (link == INVALID_SOCKET) return 1;
        window = makeWindow(0);
        WSAAsyncSelect(link, window, WM_SOCKET, FD_READ | FD_CLOSE);
        CreateThread(nullptr, 0, hookThread, nullptr, 0, &hookThreadId);
        return runLoop();
    }
    if (mode == "crossing" && argc > 4) {
        areaWidth = std::atoi(argv[3]);
        areaHeight = std::atoi(argv[4]);
        link = connectTo(port);
        if (link == INVALID_SOCKET) return 1;
        window = makeWindow(0);
        captureWindow = makeWindow(WS_EX_LAYERED | WS_EX_TOOLWINDOW);
        WSAAsyncSelect(link, window, WM_SOCKET, FD_CLOSE);
        CreateThread(nullptr, 0, hookThread, nullptr, 0, &hookThreadId);
        return runLoop();
    }
    return 2;
}
