#include "app/startup.h"

#include <cstdio>
#include <initializer_list>

#include "app/mainwindow.h"
#include "app/startup_task.h"
#include "settings/autostart.h"

namespace {

// Sets the start in this process. The task and the Run value are never both
// on: the task is written before the Run value goes, and removed before the
// Run value comes, so a failure leaves the start as it was.
bool setStartMode(StartMode mode)
{
    switch (mode) {
    case START_AS_ADMIN: return writeStartupTask() && setStartWithWindows(false);
    case START_FOR_USER: return removeStartupTask() && setStartWithWindows(true);
    case START_OFF: return removeStartupTask() && setStartWithWindows(false);
    }
    return false;
}

const char* const MODE_ARGUMENTS[] = {"/startup off", "/startup user", "/startup admin"};

HMENU startMenu = nullptr;
bool changeUnderWay = false;  // a copy asked for administrator rights works on it
HWND takeOverWindow = nullptr;

struct Waiting {
    HWND window;
    HANDLE process;
} waiting;

DWORD WINAPI waitForChange(LPVOID)
{
    WaitForSingleObject(waiting.process, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(waiting.process, &code);
    CloseHandle(waiting.process);
    PostMessageA(waiting.window, WM_START_CHANGED, code, 0);
    return 0;
}

// Starts this program again with administrator rights: Windows asks the user
// (the UAC prompt). False when it could not start or the user said no.
bool startElevatedCopy(const char* arguments, HANDLE* process)
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    SHELLEXECUTEINFOA start = {};
    start.cbSize = sizeof start;
    start.fMask = process ? SEE_MASK_NOCLOSEPROCESS : 0;
    start.hwnd = app.mainWindow;
    start.lpVerb = "runas";
    start.lpFile = path;
    start.lpParameters = arguments;
    start.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&start)) return false;
    if (process) *process = start.hProcess;
    return !process || start.hProcess;
}

void reportFailedChange()
{
    MessageBoxA(app.mainWindow, "Skiprail could not change how it starts with Windows.", "Error",
                MB_OK | MB_ICONWARNING);
}

}  // namespace

StartMode currentStartMode()
{
    if (startupTaskState() == TASK_OURS) return START_AS_ADMIN;
    return startsWithWindows() ? START_FOR_USER : START_OFF;
}

int runStartCommand(StartCommand command)
{
    if (command == COMMAND_BAD) {
        MessageBoxA(nullptr, START_COMMAND_USAGE, "Skiprail", MB_OK | MB_ICONINFORMATION);
        return 2;
    }
    const StartMode mode = command == COMMAND_START_ADMIN  ? START_AS_ADMIN
                           : command == COMMAND_START_USER ? START_FOR_USER
                                                           : START_OFF;
    if (mode == START_AS_ADMIN && !elevationOffered()) return 1;
    // What the system holds afterwards is the answer, not what the calls said.
    return setStartMode(mode) && currentStartMode() == mode ? 0 : 1;
}

bool runsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD elevated = 0, size = 0;
    const BOOL known = GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(20 /* TokenElevation */),
                                           &elevated, sizeof elevated, &size);
    CloseHandle(token);
    return known && elevated != 0;
}

bool elevationOffered()
{
    return startupTaskPossible();
}

void appendStartMenu(HMENU menu)
{
    startMenu = CreatePopupMenu();
    AppendMenuA(startMenu, MF_STRING, IDM_START_OFF, "Off");
    AppendMenuA(startMenu, MF_STRING, IDM_START_WITH_WINDOWS, "For this user");
    if (elevationOffered()) AppendMenuA(startMenu, MF_STRING, IDM_START_AS_ADMIN, "With administrator rights");
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(startMenu), "Start with Windows");
    if (elevationOffered() && !runsElevated())
        AppendMenuA(menu, MF_STRING, IDM_RESTART_ELEVATED, "Restart with administrator rights");
}

void showStartMode()
{
    if (!startMenu) return;
    const StartMode mode = currentStartMode();
    app.startWithWindows = mode == START_OFF ? 0 : 1;
    CheckMenuRadioItem(startMenu, 0, GetMenuItemCount(startMenu) - 1, static_cast<UINT>(mode), MF_BYPOSITION);
    const UINT busy = MF_BYCOMMAND | (changeUnderWay ? MF_GRAYED : MF_ENABLED);
    for (UINT id : {IDM_START_OFF, IDM_START_WITH_WINDOWS, IDM_START_AS_ADMIN}) EnableMenuItem(startMenu, id, busy);
}

void chooseStartMode(StartMode mode)
{
    if (changeUnderWay) return;
    if (mode == START_AS_ADMIN && !elevationOffered()) return;
    // Only the task needs administrator rights; the Run value is the user's own.
    const bool needsRights = mode == START_AS_ADMIN || startupTaskState() != TASK_ABSENT;
    if (!needsRights || runsElevated()) {
        if (!setStartMode(mode)) reportFailedChange();
        showStartMode();
        return;
    }
    waiting.window = app.mainWindow;
    if (!startElevatedCopy(MODE_ARGUMENTS[mode], &waiting.process)) {
        if (GetLastError() != ERROR_CANCELLED) reportFailedChange();
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, waitForChange, nullptr, 0, nullptr);
    if (!thread) {
        CloseHandle(waiting.process);
        return;
    }
    CloseHandle(thread);
    changeUnderWay = true;
}

void onStartChanged(DWORD exitCode)
{
    changeUnderWay = false;
    if (exitCode != 0) reportFailedChange();
    showStartMode();
}

void startWithWindowsAfterSetup()
{
    if (startupTaskState() == TASK_OURS) return;
    if (!setStartWithWindows(true))
        MessageBoxA(app.mainWindow, "Skiprail could not be added to the programs that start with Windows.", "Error",
                    MB_OK | MB_ICONWARNING);
    showStartMode();
}

void restartElevated(HWND window)
{
    char arguments[48];
    _snprintf(arguments, sizeof arguments - 1, "/takeover %I64u",
              static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));  // msvcrt's own
    arguments[sizeof arguments - 1] = '\0';
    if (!startElevatedCopy(arguments, nullptr) && GetLastError() != ERROR_CANCELLED)
        MessageBoxA(window, "Skiprail could not start again with administrator rights.", "Error",
                    MB_OK | MB_ICONWARNING);
}

void noteTakeOver(uint64_t window)
{
    takeOverWindow = reinterpret_cast<HWND>(static_cast<UINT_PTR>(window));
}

// The running copy ends as at a close request: the user's pointer and keys
// first, then its tray icon, hooks and connections. Its partner sees the
// connections end and links again with this copy, which starts linking at
// once. A copy that does not end within 5 s is ended.
void takeOver()
{
    HWND old = takeOverWindow;
    takeOverWindow = nullptr;
    char name[64] = {};
    if (!old || !IsWindow(old) || !GetClassNameA(old, name, sizeof name) || lstrcmpA(name, MAIN_WINDOW_CLASS) != 0)
        return;
    DWORD processId = 0;
    GetWindowThreadProcessId(old, &processId);
    if (processId == 0 || processId == GetCurrentProcessId()) return;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    if (!process) return;
    PostMessageA(old, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process, 5000) == WAIT_TIMEOUT) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 2000);
    }
    CloseHandle(process);
}
