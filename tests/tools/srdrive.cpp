// srdrive: drives one PC of the system tests from inside its Wine prefix and
// reads it back. A long-running console process: one command per line on
// stdin, one answer line on stdout (flushed at once), so a test pays a Wine
// process start once per PC and not once per action.
//
// Commands (answers in brackets; "err ..." for anything not understood):
//   move DX DY            relative SendInput move, in steps of at most 40
//                         pixels, as a mouse reports a long move  [X Y after]
//   abs X Y               SetCursorPos  [X Y after]
//   cursor                [X Y]
//   clip                  the rectangle the pointer is confined to  [L T R B]
//   unclip                lifts any confinement  [ok]
//   screen                [W H]
//   key VK down|up [SCAN [e]]  one key event (VK and SCAN decimal or 0xHEX),
//                         with that scan code and, given e, extended  [ok]
//   type TEXT             key downs and ups for each character  [ok]
//   type-every US TEXT    the same, one character every US microseconds  [ok]
//   click BUTTON          button down and up; BUTTON is left, right,
//                         middle, x1 (back) or x2 (forward)  [ok]
//   button BUTTON down|up  [ok]
//   wheel DELTA [TIMES] [side]  TIMES wheel turns of DELTA, back to back;
//                         with side, of the sideways wheel  [ok]
//   hwheel DELTA          a sideways wheel turn (positive to the right)  [ok]
//   focus                 makes (once) a visible window covering the screen
//                         that records its input, and gives it the focus
//                         [ok | fail]
//   unfocus               destroys that window  [ok]
//   keys                  what the recorder got since `clear`  [JSON]; its
//                         "strokes" are each key message as the window got it,
//                         "MSG:VK:SCAN:E:ALT" (hex; E the extended bit, ALT the
//                         Alt context bit of lParam), and "raw" each raw input
//                         key, "MAKECODE:E0:BREAK"
//   clear                 [ok]
//   clipboard get         [JSON string]    clipboard set TEXT  [ok | fail]
//   clipboard last TEXT   the text as Unicode, OEM text and locale first and
//                         CF_TEXT last, as some programs place it  [ok | fail]
//   clipboard fill N      N bytes of a fixed pattern as the text  [ok | fail]
//   clipboard sum         [LENGTH HASH] of the text, or [none]
//   clipboard empty       nothing on the clipboard at all  [ok | fail]
//   clipboard wide HEX | picture W H BITS [HEX]   the bytes in HEX as CF_UNICODETEXT, beside a
//                         W x H CF_DIB of a pattern  [ok | fail];  clipboard bytes|hash FORMAT   a
//                         format's block in hex, or [LENGTH HASH];  clipboard hold MS  [ok | fail]
//   clipboard files EFFECT PATH|PATH... [HEX]   the paths as CF_HDROP with EFFECT as its
//                         "Preferred DropEffect", beside the text of HEX  [ok | fail]
//   clipboard dropped     the CF_HDROP's paths and drop effect  [JSON {"effect":N,"files":[...]}, null]
//   boxes                 the visible message boxes of the prefix  [JSON]
//   dismiss               presses OK on each of them  [count]
//   close-main            WM_CLOSE to the program's main window  [ok | none]
//   menu ID               a tray menu choice (WM_COMMAND ID) posted to the
//                         main window  [ok | none]
//   window-info [CLASS]   the main window, or the first top-level window of
//                         that class  [JSON, {"found":false} if none]
//   regset NAME dword N | regset NAME sz TEXT
//                         a value of the program's machine-wide settings key
//                         [ok | fail]
//   regclear              that key and its per-user twin deleted  [ok | fail]
//   regget hklm|hkcu NAME a value of either  [JSON number or string; null]
//   reglock read|none|off the machine-wide key (made if missing) readable
//                         only, closed to everyone, or open again, as a
//                         standard user finds it  [ok | fail]
//   settings              the open settings dialog: its texts, which of its
//                         buttons are checked, its screen rectangle
//                         [JSON, {"found":false} if none]
//   settings-open         the tray menu's settings item  [ok | none]
//   settings-type FIELD TEXT  types TEXT over the text of partner or port,
//                         key by key  [ok | fail]
//   settings-click BUTTON a click on master, slave, left, right, above,
//                         below, more, keys, ok or cancel  [ok | none]
//   keys-page             the open Keys and crossing page: its rows' keys,
//                         note and guards  [JSON]
//   keys-click BUTTON [ROW]  change, off or default of a row (0 to 5), or
//                         delay, tap, corners, ok, cancel  [ok | none]
//   keys-press ROW KEYS   Change, then KEYS ("ctrl+shift+f7", "a") as real
//                         key events  [the row's text after | fail]
//   desk                  the open More Slaves dialog: the chosen Slave's
//                         partner, port and place, its screen rectangle
//                         [JSON, {"found":false} if none]
//   linkkey               the open Link Key dialog: key field, state line,
//                         note  [JSON, {"found":false} if none]
//   linkkey-store TEXT    stores TEXT as the program's link key  [ok | fail]
//   linkkey-open          the tray menu's Link Key item  [ok | none]
//   linkkey-type TEXT     types TEXT over the key field  [ok | fail]
//   linkkey-click BUTTON  a click on new, clear, ok or cancel  [ok | none]
//   quit                  [bye], then the process ends
//
// What Wine 8 on Xvfb does here:
//   - Relative moves are accelerated (doubled past 6 pixels) unless pointer
//     acceleration is off; the driver turns it off when it starts, so a move
//     goes exactly as far as asked.
//   - A WS_POPUP | WS_VISIBLE window of this process takes the foreground with
//     SetForegroundWindow and SetFocus, with no window manager, and keeps it
//     while another process of the prefix injects input.
//   - Message boxes of the program are top-level "#32770" windows; their text
//     is the dialog item 0xFFFF, read across processes with WM_GETTEXT.
//   - The registry honours a key's access list: a key whose list grants only
//     reading cannot be opened for writing, and its owner may still change
//     the list. Creating a key under a read-only one still succeeds.
//   - While a ClipCursor rectangle is in force, GetCursorPos reports the X
//     pointer (where the last SetCursorPos put it) once 100 ms have passed
//     since the last move: the answer of `move` is the reliable reading then.
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char SETTINGS_KEY[] = "Software\\Tamberlode\\Skiprail";
// Where the program puts itself to start with Windows, and under which name.
const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char RUN_VALUE[] = "Skiprail";
const char MAIN_CLASS[] = "myWindowClass";
const char SETTINGS_CAPTION[] = "Skiprail Settings";
const char LINK_KEY_CAPTION[] = "Link Key";
const char DESK_CAPTION[] = "More Slaves";
const int IDM_SETTINGS = 12028;
const int IDM_LINK_KEY = 12035;
const UINT WM_COMMAND_LINE = WM_APP + 1;  // thread message, lParam: new std::string
const int MOVE_STEP = 40;
// The id of a message box's text control.
const int MESSAGE_BOX_TEXT_ID = 0xFFFF;

DWORD mainThreadId;

// ---------------------------------------------------------------- output

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

template <typename T>
std::string jsonList(const std::vector<T>& values)
{
    std::ostringstream out;
    out << "[";
    for (size_t i = 0; i < values.size(); ++i) out << (i ? "," : "") << values[i];
    out << "]";
    return out.str();
}

void answer(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string pointText(POINT p)
{
    return std::to_string(p.x) + " " + std::to_string(p.y);
}

BOOL CALLBACK addMonitor(HMONITOR, HDC, LPRECT rect, LPARAM list)
{
    reinterpret_cast<std::vector<RECT>*>(list)->push_back(*rect);
    return TRUE;
}

// {"monitors": [[left, top, right, bottom], ...], "virtual": [...]}
std::string monitorsJson()
{
    std::vector<RECT> monitors;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&monitors));
    auto rect = [](long l, long t, long r, long b) {
        return "[" + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," + std::to_string(b) + "]";
    };
    std::string out = "{\"monitors\":[";
    for (size_t i = 0; i < monitors.size(); ++i)
        out += (i ? "," : "") + rect(monitors[i].left, monitors[i].top, monitors[i].right, monitors[i].bottom);
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return out + "],\"virtual\":" +
           rect(x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN), y + GetSystemMetrics(SM_CYVIRTUALSCREEN)) + "}";
}

std::string cursorText()
{
    POINT p = {};
    GetCursorPos(&p);
    return pointText(p);
}

// ---------------------------------------------------------------- input

void sendMouse(DWORD flags, LONG dx = 0, LONG dy = 0, DWORD data = 0)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.mouseData = data;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

void sendKey(WORD vk, bool up, WORD scan = 0, bool extended = false)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    SendInput(1, &input, sizeof input);
}

void moveRelative(long dx, long dy)
{
    while (dx != 0 || dy != 0) {
        const long sx = dx > MOVE_STEP ? MOVE_STEP : (dx < -MOVE_STEP ? -MOVE_STEP : dx);
        const long sy = dy > MOVE_STEP ? MOVE_STEP : (dy < -MOVE_STEP ? -MOVE_STEP : dy);
        sendMouse(MOUSEEVENTF_MOVE, sx, sy);
        dx -= sx;
        dy -= sy;
    }
}

// Each character's keys, one character every `everyUs` (0: back to back).
bool typeText(const std::string& text, long everyUs = 0)
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long long due = 0;
    for (unsigned char c : text) {
        for (;;) {
            QueryPerformanceCounter(&now);
            const long long waited = (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
            if (waited >= due) break;
            if (due - waited > 2000) Sleep(1); else SwitchToThread();
        }
        due += everyUs;
        const SHORT scan = VkKeyScanA(static_cast<char>(c));
        if (scan == -1) return false;
        const WORD vk = LOBYTE(scan);
        const bool shift = (HIBYTE(scan) & 1) != 0;
        if (shift) sendKey(VK_SHIFT, false);
        sendKey(vk, false);
        sendKey(vk, true);
        if (shift) sendKey(VK_SHIFT, true);
    }
    return true;
}

DWORD buttonFlag(const std::string& button, bool up)
{
    if (button == "left") return up ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
    if (button == "right") return up ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_RIGHTDOWN;
    if (button == "middle") return up ? MOUSEEVENTF_MIDDLEUP : MOUSEEVENTF_MIDDLEDOWN;
    if (button == "x1" || button == "x2") return up ? MOUSEEVENTF_XUP : MOUSEEVENTF_XDOWN;
    return 0;
}

DWORD buttonData(const std::string& button)
{
    return button == "x1" ? XBUTTON1 : button == "x2" ? XBUTTON2 : 0;
}

// Not named in the Windows 2000 headers.
constexpr DWORD HWHEEL_FLAG = 0x01000;
constexpr UINT HWHEEL_MESSAGE = 0x020E;

// ---------------------------------------------------------------- recorder

struct Recorder {
    HWND window = nullptr;
    std::string chars;
    std::vector<unsigned> downs, ups;
    std::vector<std::string> buttons;
    std::vector<int> wheel, hwheel;
    std::vector<std::string> clicks;  // "X,Y" of each button press
    std::vector<std::string> strokes, raw;  // quoted already

    void clear()
    {
        strokes.clear();
        raw.clear();
        clicks.clear();
        chars.clear();
        downs.clear();
        ups.clear();
        buttons.clear();
        wheel.clear();
        hwheel.clear();
    }

    std::string json() const
    {
        std::vector<std::string> quoted, pressedAt;
        for (const auto& b : buttons) quoted.push_back(jsonString(b));
        for (const auto& c : clicks) pressedAt.push_back(jsonString(c));
        return "{\"chars\":" + jsonString(chars) + ",\"down\":" + jsonList(downs) + ",\"up\":" + jsonList(ups) +
               ",\"buttons\":" + jsonList(quoted) + ",\"wheel\":" + jsonList(wheel) + ",\"hwheel\":" + jsonList(hwheel) + ",\"clicks\":" + jsonList(pressedAt) + ",\"strokes\":" + jsonList(strokes) +
               ",\"raw\":" + jsonList(raw) + "}";
    }
} recorder;

// Each key message as the window got it, and each raw input key.
void recordKey(UINT message, WPARAM wParam, LPARAM lParam)
{
    char text[64];
    RAWINPUT input;
    UINT size = sizeof input;
    if (message != WM_INPUT) {
        snprintf(text, sizeof text, "\"%X:%X:%X:%X:%X\"", message, static_cast<unsigned>(wParam),
                 static_cast<unsigned>(lParam >> 16) & 0xFF, static_cast<unsigned>(lParam >> 24) & 1,
                 static_cast<unsigned>(lParam >> 29) & 1);
        recorder.strokes.push_back(text);
    } else if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER)) !=
                   static_cast<UINT>(-1) && input.header.dwType == RIM_TYPEKEYBOARD) {
        const RAWKEYBOARD& key = input.data.keyboard;
        snprintf(text, sizeof text, "\"%X:%X:%X\"", key.MakeCode, (key.Flags & RI_KEY_E0) ? 1 : 0, key.Flags & RI_KEY_BREAK);
        recorder.raw.push_back(text);
    }
}

LRESULT CALLBACK recorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP ||
        message == WM_INPUT)
        recordKey(message, wParam, lParam);
    // Alt and F10 alone would open the window menu, and leave the window in
    // its modal loop: the recorder only looks.
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_KEYMENU) return 0;
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: recorder.downs.push_back(static_cast<unsigned>(wParam)); break;
    case WM_KEYUP:
    case WM_SYSKEYUP: recorder.ups.push_back(static_cast<unsigned>(wParam)); break;
    case WM_CHAR: recorder.chars.push_back(static_cast<char>(wParam)); break;
    case WM_MOUSEWHEEL: recorder.wheel.push_back(static_cast<short>(HIWORD(wParam))); break;
    case WM_LBUTTONDOWN:
        recorder.buttons.push_back("ldown");
        recorder.clicks.push_back(std::to_string(static_cast<short>(LOWORD(lParam))) + "," +
                                  std::to_string(static_cast<short>(HIWORD(lParam))));
        break;
    case WM_LBUTTONUP: recorder.buttons.push_back("lup"); break;
    case WM_RBUTTONDOWN: recorder.buttons.push_back("rdown"); break;
    case WM_RBUTTONUP: recorder.buttons.push_back("rup"); break;
    case WM_MBUTTONDOWN: recorder.buttons.push_back("mdown"); break;
    case WM_MBUTTONUP: recorder.buttons.push_back("mup"); break;
    case WM_XBUTTONDOWN: recorder.buttons.push_back(HIWORD(wParam) == XBUTTON2 ? "x2down" : "x1down"); break;
    case WM_XBUTTONUP: recorder.buttons.push_back(HIWORD(wParam) == XBUTTON2 ? "x2up" : "x1up"); break;
    case HWHEEL_MESSAGE: recorder.hwheel.push_back(static_cast<short>(HIWORD(wParam))); break;
    default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Pumps this thread's messages for up to ms milliseconds.
void pumpFor(DWORD ms)
{
    const DWORD start = GetTickCount();
    do {
        // Everything but the commands, which wait in the queue for their turn.
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, WM_COMMAND_LINE - 1, PM_REMOVE) ||
               PeekMessageA(&message, nullptr, WM_COMMAND_LINE + 1, 0xFFFFFFFF, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

bool focusRecorder()
{
    if (!recorder.window) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = recorderProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "SrdriveRecorder";
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        RegisterClassA(&windowClass);
        recorder.window = CreateWindowExA(0, "SrdriveRecorder", "srdrive recorder", WS_POPUP | WS_VISIBLE, 0, 0,
                                          GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                                          nullptr, GetModuleHandleA(nullptr), nullptr);
        if (!recorder.window) return false;
        RAWINPUTDEVICE keyboard = {1, 6, 0, recorder.window};  // generic desktop, keyboard
        RegisterRawInputDevices(&keyboard, 1, sizeof keyboard);
    }
    for (int attempt = 0; attempt < 60; ++attempt) {
        SetWindowPos(recorder.window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(recorder.window);
        SetFocus(recorder.window);
        pumpFor(20);
        if (GetForegroundWindow() == recorder.window && GetFocus() == recorder.window) return true;
    }
    return false;
}

// ---------------------------------------------------------------- clipboard

std::string clipboardText(bool* ok)
{
    std::string text;
    *ok = false;
    for (int attempt = 0; attempt < 20 && !OpenClipboard(nullptr); ++attempt) Sleep(20);
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data) {
        const char* p = static_cast<const char*>(GlobalLock(data));
        if (p) {
            text = p;
            GlobalUnlock(data);
            *ok = true;
        }
    }
    CloseClipboard();
    return text;
}

bool setClipboardText(const std::string& text)
{
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(nullptr)); ++attempt) Sleep(20);
    if (!opened) return false;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    bool done = false;
    if (memory) {
        char* p = static_cast<char*>(GlobalLock(memory));
        std::memcpy(p, text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
        done = SetClipboardData(CF_TEXT, memory) != nullptr;
        if (!done) GlobalFree(memory);
    }
    CloseClipboard();
    return done;
}

// Text of any length, the same for the same n: printable, no NUL.
std::string patternText(size_t n)
{
    std::string text(n, ' ');
    uint32_t state = 2166136261u;
    for (size_t i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        text[i] = static_cast<char>(' ' + (state >> 16) % 95);
    }
    return text;
}

// FNV-1a of the text: big texts are compared by length and hash, not sent whole.
std::string textSum(const std::string& text)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return std::to_string(text.size()) + " " + std::to_string(hash);
}

HGLOBAL globalCopy(const void* data, size_t n)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, n);
    if (memory) {
        std::memcpy(GlobalLock(memory), data, n);
        GlobalUnlock(memory);
    }
    return memory;
}

// CF_TEXT placed after the other text formats, so that it comes last when
// the clipboard's formats are enumerated.
bool setClipboardTextLast(const std::string& text)
{
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(nullptr)); ++attempt) Sleep(20);
    if (!opened) return false;
    EmptyClipboard();
    const std::wstring wide(text.begin(), text.end());
    const LCID locale = 0x409;
    bool done = SetClipboardData(CF_UNICODETEXT, globalCopy(wide.c_str(), (wide.size() + 1) * sizeof(wchar_t)));
    done = done && SetClipboardData(CF_OEMTEXT, globalCopy(text.c_str(), text.size() + 1));
    done = done && SetClipboardData(CF_LOCALE, globalCopy(&locale, sizeof locale));
    done = done && SetClipboardData(CF_TEXT, globalCopy(text.c_str(), text.size() + 1));
    CloseClipboard();
    return done;
}

// Each non-empty item placed under its format, on an emptied clipboard.
bool place(std::initializer_list<std::pair<UINT, std::string>> items)
{
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(nullptr)); ++attempt) Sleep(20);
    bool done = opened && EmptyClipboard();
    for (const auto& item : items)
        if (!item.second.empty()) done = done && SetClipboardData(item.first, globalCopy(item.second.data(), item.second.size()));
    if (opened) CloseClipboard();
    return done;
}

std::string clipboardBlock(UINT format)
{
    std::string bytes;
    for (int attempt = 0; attempt < 20 && !OpenClipboard(nullptr); ++attempt) Sleep(20);
    if (const char* p = static_cast<const char*>(GlobalLock(GetClipboardData(format))))
        bytes.assign(p, GlobalSize(GetClipboardData(format))), GlobalUnlock(GetClipboardData(format));
    return CloseClipboard(), bytes;
}

// The paths (separated by '|') as a wide CF_HDROP, the effect beside them,
// and the text whose CF_UNICODETEXT bytes follow in hex, if any.
bool placeFiles(int effect, const std::string& paths, std::istream& in)
{
    std::string hex, text, block(sizeof(DROPFILES), '\0');
    reinterpret_cast<DROPFILES*>(&block[0])->pFiles = sizeof(DROPFILES);
    reinterpret_cast<DROPFILES*>(&block[0])->fWide = TRUE;
    std::wstring wide;
    for (char c : paths + "|") wide += c == '|' ? L'\0' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    block.append(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * sizeof(wchar_t));
    in >> hex;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    const DWORD value = static_cast<DWORD>(effect);
    return place({{CF_HDROP, block},
                  {RegisterClipboardFormatA("Preferred DropEffect"), std::string(reinterpret_cast<const char*>(&value), 4)},
                  {CF_UNICODETEXT, text}});
}

std::string droppedFiles()
{
    const std::string block = clipboardBlock(CF_HDROP), effect = clipboardBlock(RegisterClipboardFormatA("Preferred DropEffect"));
    if (block.size() < sizeof(DROPFILES)) return "null";
    std::vector<std::string> files;
    const wchar_t* at = reinterpret_cast<const wchar_t*>(block.data() + reinterpret_cast<const DROPFILES*>(block.data())->pFiles);
    for (; *at; at += std::wcslen(at) + 1) {
        char path[MAX_PATH * 3] = {};
        WideCharToMultiByte(CP_UTF8, 0, at, -1, path, sizeof path, nullptr, nullptr);
        files.push_back(jsonString(path));
    }
    return "{\"effect\":" + std::to_string(effect.size() == 4 ? *reinterpret_cast<const DWORD*>(effect.data()) : 0) +
           ",\"files\":" + jsonList(files) + "}";
}

void CALLBACK endHold(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    CloseClipboard();
}

bool emptyClipboard()
{
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(nullptr)); ++attempt) Sleep(20);
    if (!opened) return false;
    const bool done = EmptyClipboard() != 0;
    CloseClipboard();
    return done;
}

// ---------------------------------------------------------------- boxes

// A message box or dialog of the prefix: a visible "#32770" window. The
// settings dialog is a dialog of the same class, not a box; the program's
// splash and connection notice are dialogs too, but layered ones that show a
// picture and ask nothing: none of them is counted.
BOOL CALLBACK collectBox(HWND window, LPARAM list)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window) &&
        std::strcmp(caption, SETTINGS_CAPTION) != 0 && std::strcmp(caption, LINK_KEY_CAPTION) != 0 &&
        std::strcmp(caption, DESK_CAPTION) != 0 &&
        (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) == 0)
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> visibleBoxes()
{
    std::vector<HWND> boxes;
    EnumWindows(collectBox, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

// WM_GETTEXT of a window of another process: marshalled by the system, and
// bounded in time so a hung program cannot hang the driver.
std::string windowText(HWND window)
{
    char text[1024] = {};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             2000, &result))
        return "";
    text[sizeof text - 1] = '\0';
    return text;
}

std::string boxesJson()
{
    std::string out = "[";
    bool first = true;
    for (HWND box : visibleBoxes()) {
        char caption[256] = {};
        GetWindowTextA(box, caption, sizeof caption);
        std::string text;
        if (HWND label = GetDlgItem(box, MESSAGE_BOX_TEXT_ID)) text = windowText(label);
        DWORD pid = 0;
        GetWindowThreadProcessId(box, &pid);
        if (!first) out += ",";
        first = false;
        RECT r = {};
        GetWindowRect(box, &r);
        out += "{\"caption\":" + jsonString(caption) + ",\"text\":" + jsonString(text) +
               ",\"pid\":" + std::to_string(pid) + ",\"rect\":[" + std::to_string(r.left) + "," +
               std::to_string(r.top) + "," + std::to_string(r.right) + "," + std::to_string(r.bottom) + "]}";
    }
    return out + "]";
}

int dismissBoxes()
{
    int n = 0;
    for (HWND box : visibleBoxes()) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ++n;
    }
    return n;
}

// ---------------------------------------------------------------- main window

std::string windowInfo(const char* windowClass = MAIN_CLASS)
{
    HWND window = FindWindowA(windowClass, nullptr);
    if (!window) return "{\"found\":false}";
    RECT r = {};
    GetWindowRect(window, &r);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    std::ostringstream out;
    out << "{\"found\":true,\"left\":" << r.left << ",\"top\":" << r.top << ",\"right\":" << r.right
        << ",\"bottom\":" << r.bottom << ",\"visible\":" << (IsWindowVisible(window) ? "true" : "false")
        << ",\"style\":" << static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE))
        << ",\"exstyle\":" << static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)) << ",\"pid\":" << pid
        << "}";
    return out.str();
}

// ---------------------------------------------------------------- settings

bool regSet(const std::string& name, const std::string& type, const std::string& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = ERROR_INVALID_PARAMETER;
    if (type == "dword") {
        const DWORD number = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 0));
        status = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                sizeof number);
    } else if (type == "sz") {
        status = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Sets the access list of the machine-wide key, making the key if needed.
// Its owner may always change the list again.
bool regLock(const std::string& how)
{
    const char* list = how == "read" ? "D:P(A;;KR;;;WD)" : how == "none" ? "D:P" : how == "off" ? "D:(A;;KA;;;WD)" : nullptr;
    if (!list) return false;
    HKEY key = nullptr;
    if (how != "off" && RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0, WRITE_DAC, nullptr, &key,
                                        nullptr) != ERROR_SUCCESS)
        return false;
    if (how == "off") {
        const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, WRITE_DAC, &key);
        if (status == ERROR_FILE_NOT_FOUND) return true;
        if (status != ERROR_SUCCESS) return false;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = false;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(list, SDDL_REVISION_1, &descriptor, nullptr)) {
        done = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
    }
    RegCloseKey(key);
    return done;
}

// The link key as the program stores it: protected for this user, under the
// per-user settings key.
bool storeLinkKey(const std::string& text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    DATA_BLOB plain = {static_cast<DWORD>(text.size()), reinterpret_cast<BYTE*>(const_cast<char*>(text.data()))};
    DATA_BLOB sealed = {};
    bool stored = false;
    if (CryptProtectData(&plain, L"Skiprail link key", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed)) {
        stored = RegSetValueExA(key, "SRLinkKey", 0, REG_BINARY, sealed.pbData, sealed.cbData) == ERROR_SUCCESS;
        LocalFree(sealed.pbData);
    }
    RegCloseKey(key);
    return stored;
}

bool regClear()
{
    regLock("off");
    // A fresh PC starts nothing with Windows either.
    HKEY run = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, RUN_KEY, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        RegDeleteValueA(run, RUN_VALUE);
        RegCloseKey(run);
    }
    bool cleared = true;
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        RegDeleteKeyA(hive, "Software\\Tamberlode\\Skiprail\\Reopen");  // the program's note for /reopen
        const LONG status = RegDeleteKeyA(hive, SETTINGS_KEY);
        cleared = cleared && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
    }
    return cleared;
}

std::string regGet(const std::string& hiveName, const std::string& name)
{
    HKEY hive = hiveName == "hkcu" || hiveName == "run" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, hiveName == "run" ? RUN_KEY : SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "null";
    BYTE data[2048] = {};
    DWORD size = sizeof data - 1, type = 0;
    const LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "null";
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(data));
    return jsonString(reinterpret_cast<const char*>(data));
}

// ---------------------------------------------------------------- settings dialog

struct DialogItem {
    const char* name;
    int id;
};

const DialogItem SETTINGS_ITEMS[] = {
    {"ok", IDOK}, {"cancel", IDCANCEL}, {"master", 207}, {"slave", 208}, {"partner", 209},
    {"port", 210}, {"left", 211}, {"right", 212}, {"above", 213}, {"below", 214}, {"more", 240}, {"keys", 251},
};

int settingsItem(const std::string& name)
{
    for (const DialogItem& item : SETTINGS_ITEMS)
        if (name == item.name) return item.id;
    return 0;
}

HWND settingsDialog()
{
    HWND dialog = FindWindowA("#32770", SETTINGS_CAPTION);
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

std::string settingsJson()
{
    HWND dialog = settingsDialog();
    if (!dialog) return "{\"found\":false}";
    std::vector<std::string> checked;
    for (const DialogItem& item : SETTINGS_ITEMS) {
        DWORD_PTR state = 0;
        if (item.id >= 207 && item.id != 209 && item.id != 210 &&
            SendMessageTimeoutA(GetDlgItem(dialog, item.id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state) &&
            state == BST_CHECKED)
            checked.push_back(jsonString(item.name));
    }
    RECT r = {};
    GetWindowRect(dialog, &r);
    std::ostringstream out;
    out << "{\"found\":true,\"partner\":" << jsonString(windowText(GetDlgItem(dialog, 209)))
        << ",\"port\":" << jsonString(windowText(GetDlgItem(dialog, 210))) << ",\"checked\":" << jsonList(checked)
        << ",\"left\":" << r.left << ",\"top\":" << r.top << ",\"right\":" << r.right << ",\"bottom\":" << r.bottom
        << "}";
    return out.str();
}

// More Slaves, opened from the settings dialog: the chosen Slave's texts and
// the dialog's screen rectangle.
std::string deskJson()
{
    HWND dialog = FindWindowA("#32770", DESK_CAPTION);
    if (!dialog || !IsWindowVisible(dialog)) return "{\"found\":false}";
    RECT r = {};
    GetWindowRect(dialog, &r);
    std::ostringstream out;
    out << "{\"found\":true,\"partner\":" << jsonString(windowText(GetDlgItem(dialog, 246)))
        << ",\"port\":" << jsonString(windowText(GetDlgItem(dialog, 247)))
        << ",\"place\":" << jsonString(windowText(GetDlgItem(dialog, 248))) << ",\"left\":" << r.left
        << ",\"top\":" << r.top << ",\"right\":" << r.right << ",\"bottom\":" << r.bottom << "}";
    return out.str();
}

// Types over a field's text with real key presses: the dialog is brought to
// the front and the field given the focus with its whole text selected.
bool typeIntoField(HWND dialog, HWND edit, const std::string& text);

bool settingsType(const std::string& field, const std::string& text)
{
    HWND dialog = settingsDialog();
    const int id = settingsItem(field);
    if (!dialog || (id != 209 && id != 210)) return false;
    return typeIntoField(dialog, GetDlgItem(dialog, id), text);
}

void toFront(HWND dialog)
{
    for (int attempt = 0; attempt < 50 && GetForegroundWindow() != dialog; ++attempt) {
        SetForegroundWindow(dialog);
        pumpFor(20);
    }
}

bool typeIntoField(HWND dialog, HWND edit, const std::string& text)
{
    DWORD_PTR result = 0;
    toFront(dialog);
    SendMessageTimeoutA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE, SMTO_ABORTIFHUNG, 2000, &result);
    SendMessageTimeoutA(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 2000, &result);
    if (text.empty()) {
        sendKey(VK_DELETE, false);
        sendKey(VK_DELETE, true);
    } else if (!typeText(text)) {
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (windowText(edit) == text) return true;
        pumpFor(20);
    }
    return false;
}

// A click by message: posted, so a box the click opens cannot hold the driver.
bool settingsClick(const std::string& button)
{
    HWND dialog = settingsDialog();
    const int id = settingsItem(button);
    if (!dialog || !id || id == 209 || id == 210) return false;
    return PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0) != 0;
}

// ---------------------------------------------------------------- Keys and crossing

// Its rows' boxes and buttons (first id of each kind, plus the row), note
// and guards.
const int KEYS_BOX = 260, KEYS_CHANGE = 270, KEYS_OFF = 280, KEYS_DEFAULT = 290, KEYS_NOTE = 254, KEYS_DELAY = 255,
          KEYS_DELAY_MS = 256, KEYS_TAP = 257, KEYS_CORNERS = 258, KEYS_CORNER_PX = 259;

HWND keysPage()
{
    HWND dialog = FindWindowA("#32770", "Keys and crossing");
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

std::string keysJson()
{
    HWND dialog = keysPage();
    if (!dialog) return "{\"found\":false}";
    std::vector<std::string> rows;
    for (int row = 0; row < 6; ++row) rows.push_back(jsonString(windowText(GetDlgItem(dialog, KEYS_BOX + row))));
    auto on = [dialog](int id) { return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED ? "true" : "false"; };
    return "{\"found\":true,\"keys\":" + jsonList(rows) + ",\"note\":" + jsonString(windowText(GetDlgItem(dialog, KEYS_NOTE))) +
           ",\"delay\":[" + on(KEYS_DELAY) + "," + jsonString(windowText(GetDlgItem(dialog, KEYS_DELAY_MS))) +
           "],\"tap\":" + on(KEYS_TAP) + ",\"corners\":[" + on(KEYS_CORNERS) + "," +
           jsonString(windowText(GetDlgItem(dialog, KEYS_CORNER_PX))) + "]}";
}

bool keysClick(const std::string& button, int row)
{
    HWND dialog = keysPage();
    const int id = button == "change" ? KEYS_CHANGE + row : button == "off" ? KEYS_OFF + row
                 : button == "default" ? KEYS_DEFAULT + row : button == "delay" ? KEYS_DELAY
                 : button == "tap" ? KEYS_TAP : button == "corners" ? KEYS_CORNERS
                 : button == "ok" ? IDOK : button == "cancel" ? IDCANCEL : 0;
    return dialog && id && PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0) != 0;
}

// "ctrl+alt+f2": the modifiers' virtual keys, then the key's.
std::vector<WORD> keysOf(const std::string& combination)
{
    std::vector<WORD> keys;
    std::istringstream pieces(combination);
    for (std::string piece; std::getline(pieces, piece, '+');) {
        WORD vk = piece == "ctrl" ? VK_CONTROL : piece == "alt" ? VK_MENU : piece == "shift" ? VK_SHIFT
                : piece == "win" ? VK_LWIN : piece == "del" ? VK_DELETE : 0;
        if (!vk && piece.size() == 1) vk = static_cast<WORD>(piece[0] >= 'a' && piece[0] <= 'z' ? piece[0] - 32 : piece[0]);
        if (!vk && piece.size() > 1 && piece[0] == 'f') vk = static_cast<WORD>(VK_F1 - 1 + std::atoi(piece.c_str() + 1));
        if (!vk) return {};
        keys.push_back(vk);
    }
    return keys;
}

std::string keysPress(int row, const std::string& combination)
{
    HWND dialog = keysPage();
    const std::vector<WORD> keys = keysOf(combination);
    if (!dialog || keys.empty() || row < 0 || row > 5) return "fail";
    HWND box = GetDlgItem(dialog, KEYS_BOX + row);
    toFront(dialog);
    PostMessageA(GetDlgItem(dialog, KEYS_CHANGE + row), BM_CLICK, 0, 0);
    for (int attempt = 0; attempt < 100 && windowText(box) != "Press the keys..."; ++attempt) pumpFor(20);
    // Released only once read: Wine may take a key's modifiers from the
    // keyboard's state when the press is read, not when it was made.
    for (WORD vk : keys) sendKey(vk, false);
    for (int attempt = 0; attempt < 100 && windowText(box) == "Press the keys..."; ++attempt) pumpFor(20);
    for (size_t i = keys.size(); i-- > 0;) sendKey(keys[i], true);
    return jsonString(windowText(box));
}

// ---------------------------------------------------------------- the link key dialog

// Its controls: the key field, New Key, Clear, the state line, the note.
const int LINK_KEY_FIELD = 231, LINK_NEW_KEY = 232, LINK_CLEAR = 233, LINK_STATE = 234, LINK_NOTE = 236;

HWND linkKeyDialog()
{
    HWND dialog = FindWindowA("#32770", LINK_KEY_CAPTION);
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

std::string linkKeyJson()
{
    HWND dialog = linkKeyDialog();
    if (!dialog) return "{\"found\":false}";
    return "{\"found\":true,\"key\":" + jsonString(windowText(GetDlgItem(dialog, LINK_KEY_FIELD))) +
           ",\"state\":" + jsonString(windowText(GetDlgItem(dialog, LINK_STATE))) +
           ",\"note\":" + jsonString(windowText(GetDlgItem(dialog, LINK_NOTE))) + "}";
}

bool linkKeyClick(const std::string& button)
{
    HWND dialog = linkKeyDialog();
    const int id = button == "ok" ? IDOK : button == "cancel" ? IDCANCEL : button == "new" ? LINK_NEW_KEY
                 : button == "clear" ? LINK_CLEAR : 0;
    if (!dialog || !id) return false;
    return PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0) != 0;
}

// ---------------------------------------------------------------- commands

// The rest of the line after the command word and one space.
std::string restOf(const std::string& line, const std::string& word)
{
    return line.size() > word.size() + 1 ? line.substr(word.size() + 1) : "";
}

std::string run(const std::string& line, bool* quit)
{
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "move") {
        long dx = 0, dy = 0;
        if (!(in >> dx >> dy)) return "err usage: move DX DY";
        moveRelative(dx, dy);
        return cursorText();
    }
    if (command == "abs") {
        int x = 0, y = 0;
        if (!(in >> x >> y)) return "err usage: abs X Y";
        SetCursorPos(x, y);
        return cursorText();
    }
    if (command == "cursor") return cursorText();
    if (command == "unclip") {
        // A program killed while it confined the pointer leaves the
        // confinement behind: the next test starts free.
        ClipCursor(nullptr);
        return "ok";
    }
    if (command == "clip") {
        RECT r = {};
        GetClipCursor(&r);
        return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
               std::to_string(r.bottom);
    }
    if (command == "monitors") return monitorsJson();
    if (command == "resolution") {
        // As the display settings do: the system tells every program.
        DEVMODEA mode = {};
        mode.dmSize = sizeof mode;
        if (!(in >> mode.dmPelsWidth >> mode.dmPelsHeight)) return "err usage: resolution WIDTH HEIGHT";
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        return std::to_string(ChangeDisplaySettingsExA(nullptr, &mode, nullptr, 0, nullptr));
    }
    if (command == "screen")
        return std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " + std::to_string(GetSystemMetrics(SM_CYSCREEN));
    if (command == "key") {
        std::string vkText, direction, scanText, extended;
        if (!(in >> vkText >> direction) || (direction != "down" && direction != "up"))
            return "err usage: key VK down|up [SCAN [e]]";
        in >> scanText >> extended;
        sendKey(static_cast<WORD>(std::strtoul(vkText.c_str(), nullptr, 0)), direction == "up",
                static_cast<WORD>(std::strtoul(scanText.c_str(), nullptr, 0)), extended == "e");
        return "ok";
    }
    if (command == "type") return typeText(restOf(line, command)) ? "ok" : "err no key for a character";
    if (command == "type-every") {
        long everyUs = 0;
        std::string text;
        if (!(in >> everyUs) || !std::getline(in >> std::ws, text)) return "err usage: type-every US TEXT";
        return typeText(text, everyUs) ? "ok" : "err no key for a character";
    }
    if (command == "click") {
        std::string button;
        in >> button;
        if (!buttonFlag(button, false)) return "err usage: click left|right|middle|x1|x2";
        sendMouse(buttonFlag(button, false), 0, 0, buttonData(button));
        sendMouse(buttonFlag(button, true), 0, 0, buttonData(button));
        return "ok";
    }
    if (command == "button") {
        std::string button, direction;
        in >> button >> direction;
        if (!buttonFlag(button, false) || (direction != "down" && direction != "up"))
            return "err usage: button left|right|middle|x1|x2 down|up";
        sendMouse(buttonFlag(button, direction == "up"), 0, 0, buttonData(button));
        return "ok";
    }
    if (command == "wheel") {
        long delta = 0, times = 1;
        std::string side;
        if (!(in >> delta)) return "err usage: wheel DELTA [TIMES] [side]";
        in >> times >> side;
        const DWORD flag = side == "side" ? HWHEEL_FLAG : MOUSEEVENTF_WHEEL;
        for (long i = 0; i < times; ++i) sendMouse(flag, 0, 0, static_cast<DWORD>(delta));
        return "ok";
    }
    if (command == "hwheel") {
        long delta = 0;
        if (!(in >> delta)) return "err usage: hwheel DELTA";
        sendMouse(HWHEEL_FLAG, 0, 0, static_cast<DWORD>(delta));
        return "ok";
    }
    if (command == "focus") return focusRecorder() ? "ok" : "fail";
    if (command == "unfocus") {
        // A full-screen window left behind by one test must not shape the
        // next: without a window manager Wine keeps treating it as the
        // screen's owner, and the next program's injected moves go nowhere.
        if (recorder.window) DestroyWindow(recorder.window);
        recorder.window = nullptr;
        pumpFor(20);
        return "ok";
    }
    if (command == "keys") {
        pumpFor(0);
        return recorder.json();
    }
    if (command == "clear") {
        pumpFor(0);
        recorder.clear();
        return "ok";
    }
    if (command == "clipboard") {
        std::string what;
        in >> what;
        if (what == "get") {
            bool ok = false;
            const std::string text = clipboardText(&ok);
            return ok ? jsonString(text) : "null";
        }
        if (what == "set") return setClipboardText(restOf(line, "clipboard set")) ? "ok" : "fail";
        if (what == "last") return setClipboardTextLast(restOf(line, "clipboard last")) ? "ok" : "fail";
        if (what == "fill") {
            size_t n = 0;
            if (!(in >> n)) return "err usage: clipboard fill N";
            return setClipboardText(patternText(n)) ? "ok" : "fail";
        }
        if (what == "sum") {
            bool ok = false;
            const std::string text = clipboardText(&ok);
            return ok ? textSum(text) : "none";
        }
        if (what == "empty") return emptyClipboard() ? "ok" : "fail";
        std::string hex, bytes;
        int width = 0, height = 0, bits = 0;
        if (what == "bytes" || what == "hash") {
            in >> width;
            for (unsigned char c : bytes = clipboardBlock(width)) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
            return what == "hash" ? textSum(bytes) : hex;
        }
        if (what == "files" && in >> bits >> bytes) return placeFiles(bits, bytes, in) ? "ok" : "fail";
        if (what == "dropped") return droppedFiles();
        if (what == "hold") return in >> width && OpenClipboard(nullptr) && SetTimer(nullptr, 0, width, endHold) ? "ok" : "fail";
        if (what == "picture" && !(in >> width >> height >> bits)) return "err usage: clipboard picture W H BITS [HEX]";
        BITMAPINFOHEADER h = {sizeof h, width, height, 1, static_cast<WORD>(bits)};
        in >> hex;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        if (what == "wide") return place({{CF_UNICODETEXT, bytes}}) ? "ok" : "fail";
        if (what == "picture")
            return place({{CF_DIB, std::string(reinterpret_cast<const char*>(&h), sizeof h) +
                                       patternText(static_cast<size_t>((width * bits + 31) / 32 * 4) * height)},
                          {CF_UNICODETEXT, bytes}}) ? "ok" : "fail";
        return "err usage: clipboard get|set TEXT|fill N|sum|empty";
    }
    if (command == "boxes") return boxesJson();
    if (command == "dismiss") return std::to_string(dismissBoxes());
    if (command == "close-main") {
        HWND window = FindWindowA(MAIN_CLASS, nullptr);
        if (!window) return "none";
        PostMessageA(window, WM_CLOSE, 0, 0);
        return "ok";
    }
    if (command == "menu") {
        HWND window = FindWindowA(MAIN_CLASS, nullptr);
        int id = 0;
        if (!(in >> id)) return "err usage: menu ID";
        if (!window) return "none";
        PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(id), 0);
        return "ok";
    }
    if (command == "window-info") {
        std::string windowClass;
        return (in >> windowClass) ? windowInfo(windowClass.c_str()) : windowInfo();
    }
    if (command == "regset") {
        std::string name, type;
        in >> name >> type;
        std::string value;
        std::getline(in, value);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        return regSet(name, type, value) ? "ok" : "fail";
    }
    if (command == "regclear") return regClear() ? "ok" : "fail";
    if (command == "regget") {
        std::string hive, name;
        if (!(in >> hive >> name) || (hive != "hklm" && hive != "hkcu" && hive != "run"))
            return "err usage: regget hklm|hkcu|run NAME";
        return regGet(hive, name);
    }
    if (command == "reglock") {
        std::string how;
        in >> how;
        return regLock(how) ? "ok" : "fail";
    }
    if (command == "settings") return settingsJson();
    if (command == "desk") return deskJson();
    if (command == "settings-open") {
        HWND window = FindWindowA(MAIN_CLASS, nullptr);
        if (!window) return "none";
        PostMessageA(window, WM_COMMAND, IDM_SETTINGS, 0);
        return "ok";
    }
    if (command == "settings-type") {
        std::string field;
        in >> field;
        return settingsType(field, restOf(line, "settings-type " + field)) ? "ok" : "fail";
    }
    if (command == "settings-click") {
        std::string button;
        in >> button;
        return settingsClick(button) ? "ok" : "none";
    }
    if (command == "keys-page") return keysJson();
    if (command == "keys-click" || command == "keys-press") {
        std::string word;
        int row = 0;
        if (command == "keys-press") return in >> row >> word ? keysPress(row, word) : "fail";
        in >> word >> row;
        return keysClick(word, row) ? "ok" : "none";
    }
    if (command == "linkkey") return linkKeyJson();
    if (command == "linkkey-store") return storeLinkKey(restOf(line, command)) ? "ok" : "fail";
    if (command == "linkkey-open") {
        HWND window = FindWindowA(MAIN_CLASS, nullptr);
        if (!window) return "none";
        PostMessageA(window, WM_COMMAND, IDM_LINK_KEY, 0);
        return "ok";
    }
    if (command == "linkkey-type") {
        HWND dialog = linkKeyDialog();
        return dialog && typeIntoField(dialog, GetDlgItem(dialog, LINK_KEY_FIELD), restOf(line, command)) ? "ok"
                                                                                                          : "fail";
    }
    if (command == "linkkey-click") {
        std::string button;
        in >> button;
        return linkKeyClick(button) ? "ok" : "none";
    }
    if (command == "quit") {
        *quit = true;
        return "bye";
    }
    return "err unknown command: " + command;
}

// Reads stdin on a thread of its own and hands each line to the main thread,
// which meanwhile pumps the recorder's messages. End of input ends the driver.
DWORD WINAPI readCommands(LPVOID)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &n, nullptr) || n == 0) break;
        pending.append(buffer, n);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            PostThreadMessageA(mainThreadId, WM_COMMAND_LINE, 0, reinterpret_cast<LPARAM>(new std::string(line)));
        }
    }
    PostThreadMessageA(mainThreadId, WM_QUIT, 0, 0);
    return 0;
}

}  // namespace

int main()
{
    mainThreadId = GetCurrentThreadId();
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here on
    HANDLE reader = CreateThread(nullptr, 0, readCommands, nullptr, 0, nullptr);
    if (!reader) return 1;
    // Relative moves exactly as asked: no pointer acceleration in this prefix.
    int mouse[3] = {0, 0, 0};
    SystemParametersInfoA(SPI_SETMOUSE, 0, mouse, 0);
    answer("ready");

    bool quit = false;
    while (!quit && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_COMMAND_LINE) {
            std::string* line = reinterpret_cast<std::string*>(message.lParam);
            if (!line->empty()) answer(run(*line, &quit));
            delete line;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The reader may still block in ReadFile: end without waiting for it.
    std::fflush(stdout);
    ExitProcess(0);
}
