// srhook.dll: low-level mouse and keyboard hooks on a thread of the library's
// own, reporting each event to the program's window by a posted message that
// carries the address of a copy of the event (see srhook.h).
//
// Threads. The program's thread calls the exports; they talk to the hook
// thread through a message-only control window (SendMessageTimeout, values
// only, so a timed-out request leaves no dangling pointer). Everything in
// HookThreadState is touched by the hook thread alone: the hook procedures and
// the control window both run there. The two flags are the only data shared
// with the program's threads, and they are atomics.
#include "srhook.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "input/hotkeys.h"

namespace {

// The ring of copies. 32768 records of 56 bytes: 1.75 MB. Large enough to
// ride out a window that retrieves nothing for tens of seconds of fast input.
constexpr unsigned kRingSize = 32768;

// Posted messages one thread's queue holds when the registry says nothing.
constexpr DWORD kDefaultPostLimit = 10000;

// How long an export waits for the hook thread to start, answer or end.
constexpr DWORD kThreadTimeoutMs = 5000;

// Records that wait because the window's queue was full are retried on this
// timer, and a few of them at each new event.
constexpr UINT_PTR kRetryTimer = 1;
constexpr UINT kRetryMs = 10;
constexpr unsigned kPostsPerEvent = 64;
constexpr unsigned kPostsPerTick = 4096;

// How long after its press a modifier's state is asked of the system.
constexpr DWORD kSettledMs = 1000;

// Horizontal wheel, not named in the Windows 2000 headers.
constexpr WPARAM kMouseHWheel = 0x020E;

// Requests to the control window: wParam the window, lParam the message.
constexpr UINT kRequestInstallMouse = WM_APP + 1;
constexpr UINT kRequestInstallKeyboard = WM_APP + 2;
constexpr UINT kRequestStop = WM_APP + 3;

const wchar_t kControlClass[] = L"SkiprailHookControl";

enum Kind { kMouse = 0, kKeyboard = 1 };

// What the Master's programs have seen of a key or button, for the rule that
// a press that reached them also lets its release reach them.
enum PressState : unsigned char {
    kUnknown = 0,   // released, or pressed before the hooks saw it
    kPassed,        // pressed, and the press reached the Master's programs
    kKept,          // pressed, and every press was kept from them
};

struct Record {
    union {
        MSLLHOOKSTRUCT mouse;
        KBDLLHOOKSTRUCT key;
    } event;                // the notification's lParam points here
    HWND window;
    UINT message;
    UINT eventMessage;
    // The value of HookThreadState::accepted from which the record may be
    // overwritten: UINT64_MAX while it waits to be posted, 0 when free.
    uint64_t reusableAt;
};

struct HookThreadState {
    HWND control;
    HHOOK hook[2];
    HWND window[2];
    UINT message[2];
    bool retryArmed;
    PressState keys[256];
    PressState buttons[5];  // left, right, middle, X1, X2
    HotkeyMatcher hotkeys;
    DWORD modifierDownAt[256];  // when each modifier held went down (event time)

    // These outlive a hook thread: a notification posted before RemoveHooks
    // may still sit in the window's queue when the next thread starts, and its
    // record must not be overwritten early.
    Record ring[kRingSize];
    uint64_t recorded;   // events copied into the ring so far
    uint64_t posted;     // of those, posted or discarded, in order
    uint64_t accepted;   // notifications PostMessage has taken
    uint64_t postLimit;  // the system's limit of posted messages per queue
};

HMODULE g_module;
HookThreadState g_state;

// The exports' side, under g_apiLock.
CRITICAL_SECTION g_apiLock;
HANDLE g_thread;
HANDLE g_threadReady;
std::atomic<HWND> g_control{nullptr};  // the running hook thread's control window

std::atomic<bool> g_reporting{false};
std::atomic<int> g_keepKeys{0};
std::atomic<int> g_keepButtons{0};
std::atomic<int> g_holdPointer{0};

// The hotkeys (SetHotkeys): their combinations, and the message that reports
// one; 0 while there are none.
constexpr int kMaxHotkeys = 8;
std::atomic<uint32_t> g_hotkeys[kMaxHotkeys];
std::atomic<int> g_hotkeyCount{0};
std::atomic<UINT> g_hotkeyMessage{0};

class ApiLock {
public:
    ApiLock() { EnterCriticalSection(&g_apiLock); }
    ~ApiLock() { LeaveCriticalSection(&g_apiLock); }
    ApiLock(const ApiLock&) = delete;
    ApiLock& operator=(const ApiLock&) = delete;
};

// The limit is USERPostMessageLimit when set, 10,000 otherwise. A smaller
// setting only makes our assumption safer, so only a larger one is taken.
uint64_t ReadPostLimit()
{
    DWORD limit = kDefaultPostLimit;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                      0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        if (RegQueryValueExW(key, L"USERPostMessageLimit", nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS
            && type == REG_DWORD && value > limit)
            limit = value;
        RegCloseKey(key);
    }
    return limit;
}

void ArmRetry(bool on)
{
    HookThreadState& s = g_state;
    if (on && !s.retryArmed)
        s.retryArmed = SetTimer(s.control, kRetryTimer, kRetryMs, nullptr) != 0;
    else if (!on && s.retryArmed) {
        KillTimer(s.control, kRetryTimer);
        s.retryArmed = false;
    }
}

// Posts waiting records in order, at most `budget` of them. Stops at the first
// one the window's queue will not take; the retry timer goes on from there.
void PostWaiting(unsigned budget)
{
    HookThreadState& s = g_state;
    while (s.posted != s.recorded && budget-- > 0) {
        Record& r = s.ring[s.posted % kRingSize];
        if (PostMessageW(r.window, r.message, r.eventMessage, reinterpret_cast<LPARAM>(&r.event))) {
            ++s.accepted;
            // Once postLimit + 1 later notifications have been taken, the
            // queue could not hold them all, so the one after this was
            // retrieved: this one had been handled by then.
            r.reusableAt = s.accepted + s.postLimit + 1;
        } else if (!IsWindow(r.window)) {
            r.reusableAt = 0;  // its window is gone: nobody will read it
        } else {
            break;             // queue full: keep it and everything after it
        }
        ++s.posted;
    }
    ArmRetry(s.posted != s.recorded);
}

void Report(Kind kind, WPARAM eventMessage, const void* event, size_t size, UINT message = 0)
{
    HookThreadState& s = g_state;
    if (!s.window[kind] || !g_reporting.load(std::memory_order_relaxed))
        return;
    Record& r = s.ring[s.recorded % kRingSize];
    if (s.accepted < r.reusableAt)
        return;  // the ring is full of records the window may still read
    std::memcpy(&r.event, event, size);
    r.window = s.window[kind];
    r.message = message ? message : s.message[kind];
    r.eventMessage = static_cast<UINT>(eventMessage);
    r.reusableAt = UINT64_MAX;
    ++s.recorded;
    PostWaiting(kPostsPerEvent);
}

bool Press(PressState& state, bool keep)
{
    if (keep) {
        if (state != kPassed)
            state = kKept;
        return true;
    }
    state = kPassed;
    return false;
}

bool Release(PressState& state, bool keep)
{
    const bool kept = keep && state == kKept;
    state = kUnknown;
    return kept;
}

// True when the event is to be kept from the Master's own programs.
bool KeepMouseEvent(WPARAM message, const MSLLHOOKSTRUCT& event)
{
    const bool keep = g_keepButtons.load(std::memory_order_relaxed) != 0;
    PressState* buttons = g_state.buttons;
    const int x = HIWORD(event.mouseData) == XBUTTON2 ? 4 : 3;
    switch (message) {
    case WM_MOUSEWHEEL:
    case kMouseHWheel:   return keep;
    case WM_LBUTTONDOWN: return Press(buttons[0], keep);
    case WM_LBUTTONUP:   return Release(buttons[0], keep);
    case WM_RBUTTONDOWN: return Press(buttons[1], keep);
    case WM_RBUTTONUP:   return Release(buttons[1], keep);
    case WM_MBUTTONDOWN: return Press(buttons[2], keep);
    case WM_MBUTTONUP:   return Release(buttons[2], keep);
    case WM_XBUTTONDOWN: return Press(buttons[x], keep);
    case WM_XBUTTONUP:   return Release(buttons[x], keep);
    case WM_MOUSEMOVE:   return g_holdPointer.load(std::memory_order_relaxed) != 0;
    default:             return false;
    }
}

bool KeepKeyEvent(const KBDLLHOOKSTRUCT& event)
{
    const bool keep = g_keepKeys.load(std::memory_order_relaxed) != 0;
    PressState& state = g_state.keys[event.vkCode & 0xFF];
    return (event.flags & LLKHF_UP) ? Release(state, keep) : Press(state, keep);
}

LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const MSLLHOOKSTRUCT& event = *reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        Report(kMouse, wParam, &event, sizeof event);
        if (KeepMouseEvent(wParam, event))
            return 1;
    }
    return CallNextHookEx(g_state.hook[kMouse], code, wParam, lParam);
}

// The hotkeys: true when the key completed one (which is then reported in its
// place) or is the repeat or release of one that did; the key is then kept
// from every program, and not reported as a key.
bool MatchHotkey(const KBDLLHOOKSTRUCT& event)
{
    const int count = g_hotkeyCount.load(std::memory_order_acquire);
    HotkeyMatcher& matcher = g_state.hotkeys;
    const bool up = (event.flags & LLKHF_UP) != 0;
    const UINT key = event.vkCode & 0xFF;
    if (!up && isModifierKey(key) && !matcher.down[key])
        g_state.modifierDownAt[key] = event.time;
    if (!up && !isModifierKey(key) && hotkeyModifiers(matcher) != 0) {
        // A modifier whose release the hooks never saw (the secure desktop of
        // Ctrl+Alt+Del takes it) must not turn a later key into a hotkey. The
        // system's key state says so only for a press that reached it (one
        // kept from every program never shows there), and only once it is
        // settled: Wine answers from a cache that may be 50 ms old.
        for (UINT vk : MODIFIER_KEYS)
            if (matcher.down[vk] && g_state.keys[vk] == kPassed
                && event.time - g_state.modifierDownAt[vk] > kSettledMs
                && !(GetAsyncKeyState(static_cast<int>(vk)) & 0x8000))
                matcher.down[vk] = 0;
    }
    uint32_t combinations[kMaxHotkeys];
    for (int i = 0; i < count; ++i)
        combinations[i] = g_hotkeys[i].load(std::memory_order_relaxed);
    const HotkeyStep step = hotkeyKey(matcher, combinations, count, event.vkCode, up);
    if (step.action >= 0)
        Report(kKeyboard, static_cast<WPARAM>(step.action), &event, sizeof event,
               g_hotkeyMessage.load(std::memory_order_relaxed));
    return step.keep;
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const KBDLLHOOKSTRUCT& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        if (MatchHotkey(event))
            return 1;
        Report(kKeyboard, wParam, &event, sizeof event);
        if (KeepKeyEvent(event))
            return 1;
    }
    return CallNextHookEx(g_state.hook[kKeyboard], code, wParam, lParam);
}

// On the hook thread: install the hook of `kind` unless it is in, and report
// it to window with message from now on.
BOOL InstallOnHookThread(Kind kind, HWND window, UINT message)
{
    HookThreadState& s = g_state;
    if (!s.hook[kind]) {
        s.hook[kind] = kind == kMouse
            ? SetWindowsHookExW(WH_MOUSE_LL, MouseHookProc, g_module, 0)
            : SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, g_module, 0);
        if (!s.hook[kind])
            return FALSE;
    }
    s.window[kind] = window;
    s.message[kind] = message;
    return TRUE;
}

// On the hook thread: unhook, forget the records not yet posted, and leave the
// message loop.
void StopOnHookThread()
{
    HookThreadState& s = g_state;
    for (int kind = kMouse; kind <= kKeyboard; ++kind) {
        if (s.hook[kind])
            UnhookWindowsHookEx(s.hook[kind]);
        s.hook[kind] = nullptr;
        s.window[kind] = nullptr;
    }
    ArmRetry(false);
    for (; s.posted != s.recorded; ++s.posted)
        s.ring[s.posted % kRingSize].reusableAt = 0;
    DestroyWindow(s.control);
    s.control = nullptr;
    PostQuitMessage(0);
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kRequestInstallMouse:
        return InstallOnHookThread(kMouse, reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam));
    case kRequestInstallKeyboard:
        return InstallOnHookThread(kKeyboard, reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam));
    case kRequestStop:
        StopOnHookThread();
        return 0;
    case WM_TIMER:
        if (wParam == kRetryTimer)
            PostWaiting(kPostsPerTick);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The hook thread. It holds a reference on the dll while it runs, so the dll
// cannot be unloaded under it, and drops it as it ends.
DWORD WINAPI HookThreadMain(void*)
{
    HookThreadState& s = g_state;
    s.hook[kMouse] = s.hook[kKeyboard] = nullptr;
    s.window[kMouse] = s.window[kKeyboard] = nullptr;
    s.retryArmed = false;
    std::memset(s.keys, 0, sizeof s.keys);
    std::memset(s.buttons, 0, sizeof s.buttons);
    hotkeyReset(s.hotkeys);
    s.postLimit = ReadPostLimit();

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ControlWindowProc;
    windowClass.hInstance = g_module;
    windowClass.lpszClassName = kControlClass;
    const bool registered = RegisterClassW(&windowClass) != 0;
    s.control = registered
        ? CreateWindowExW(0, kControlClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr)
        : nullptr;
    // A thread that answers the hooks must not wait behind ordinary work.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    g_control = s.control;
    const bool started = s.control != nullptr;
    SetEvent(g_threadReady);

    if (started) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
    }
    if (registered)
        UnregisterClassW(kControlClass, g_module);
    FreeLibraryAndExitThread(g_module, 0);
    return 0;
}

// Under g_apiLock: make sure a hook thread runs and answers. False when it
// cannot be started, or a previous one has not ended yet.
bool StartHookThread()
{
    if (g_thread) {
        // Still running: usable unless it was told to stop and has not ended.
        if (WaitForSingleObject(g_thread, 0) != WAIT_OBJECT_0)
            return g_control != nullptr && g_reporting.load();
        CloseHandle(g_thread);
        g_thread = nullptr;
        g_control = nullptr;
    }
    if (!g_threadReady) {
        g_threadReady = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!g_threadReady)
            return false;
    }
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    HMODULE self = LoadLibraryW(path);
    if (!self)
        return false;
    ResetEvent(g_threadReady);
    g_control = nullptr;
    DWORD id;
    g_thread = CreateThread(nullptr, 0, HookThreadMain, nullptr, 0, &id);
    if (!g_thread) {
        FreeLibrary(self);
        return false;
    }
    if (WaitForSingleObject(g_threadReady, kThreadTimeoutMs) != WAIT_OBJECT_0)
        return false;  // left in g_thread; a later call reaps it
    if (!g_control)
        return false;
    g_reporting.store(true);
    return true;
}

BOOL Install(UINT request, HWND window, UINT message)
{
    // The record's address means something only inside this process.
    DWORD process = 0;
    if (!IsWindow(window) || !GetWindowThreadProcessId(window, &process)
        || process != GetCurrentProcessId())
        return FALSE;
    ApiLock lock;
    if (!StartHookThread())
        return FALSE;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(g_control, request, reinterpret_cast<WPARAM>(window), message,
                             SMTO_NORMAL, kThreadTimeoutMs, &result))
        return FALSE;
    return result != 0;
}

}  // namespace

extern "C" {

BOOL WINAPI InstallMouseHook(HWND window, UINT message)
{
    return Install(kRequestInstallMouse, window, message);
}

BOOL WINAPI InstallKeyboardHook(HWND window, UINT message)
{
    return Install(kRequestInstallKeyboard, window, message);
}

BOOL WINAPI RemoveHooks(HWND)
{
    g_keepKeys.store(0);
    g_keepButtons.store(0);
    g_holdPointer.store(0);
    ApiLock lock;
    if (!g_thread)
        return TRUE;
    // Should the thread not end in time, it still posts nothing more.
    g_reporting.store(false);
    const DWORD start = GetTickCount();
    if (g_control) {
        DWORD_PTR ignored;
        SendMessageTimeoutW(g_control, kRequestStop, 0, 0, SMTO_NORMAL, kThreadTimeoutMs, &ignored);
    }
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent < kThreadTimeoutMs ? kThreadTimeoutMs - spent : 0;
    if (WaitForSingleObject(g_thread, left) == WAIT_OBJECT_0) {
        CloseHandle(g_thread);
        g_thread = nullptr;
        g_control = nullptr;
    }
    return TRUE;
}

BOOL WINAPI SetSecondRemoteFlag(int flag)
{
    g_keepButtons.store(flag != 0 ? 1 : 0);
    return TRUE;
}

BOOL WINAPI SetFirstRemoteFlag(int flag)
{
    g_keepKeys.store(flag != 0 ? 1 : 0);
    return TRUE;
}

BOOL WINAPI SetPointerHold(int flag)
{
    g_holdPointer.store(flag != 0 ? 1 : 0);
    return TRUE;
}

BOOL WINAPI SetHotkeys(UINT message, const DWORD* combinations, int count)
{
    if (count < 0 || !combinations)
        count = 0;
    if (count > kMaxHotkeys)
        count = kMaxHotkeys;
    // None while they change, so the hook thread never matches half a set.
    g_hotkeyCount.store(0, std::memory_order_release);
    for (int i = 0; i < count; ++i)
        g_hotkeys[i].store(combinations[i], std::memory_order_relaxed);
    g_hotkeyMessage.store(message, std::memory_order_relaxed);
    g_hotkeyCount.store(message ? count : 0, std::memory_order_release);
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        InitializeCriticalSection(&g_apiLock);
    } else if (reason == DLL_PROCESS_DETACH) {
        // The hook thread holds a reference, so no thread runs in the dll here
        // unless the whole process is ending.
        DeleteCriticalSection(&g_apiLock);
    }
    return TRUE;
}

}  // extern "C"
