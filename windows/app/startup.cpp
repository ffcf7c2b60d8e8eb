#include "windows/app/startup.h"

#include <cstdio>
#include <initializer_list>

#include "windows/app/mainwindow.h"
#include "windows/app/program_place.h"
#include "windows/app/startup_task.h"
#include "windows/settings/autostart.h"

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

// `/startup admin` from a place others can change: not the bad argument's 2.
const int EXIT_UNSAFE_PLACE = 3;

const char ADMIN_ITEM[] = "With administrator rights";
const char ADMIN_ITEM_UNSAFE[] = "With administrator rights (install Skiprail for all users first)";
const char UNSAFE_PLACE[] =
    "Skiprail cannot start with administrator rights from this folder: programs you run without administrator "
    "rights can change it, and what they put there would then run as administrator.\n\n"
    "Install Skiprail for all users first, then choose this start in the installed Skiprail.";
const char UNSAFE_START_MOVED[] =
    "Skiprail no longer starts with administrator rights: programs you run without administrator rights can "
    "change its folder, and what they put there would run as administrator at your next logon. It now starts "
    "for this user.\n\nTo start it with administrator rights, install Skiprail for all users first and choose "
    "this start there.";
const char UNSAFE_START_KEPT[] =
    "Skiprail must no longer start with administrator rights: programs you run without administrator rights can "
    "change its folder, and what they put there would run as administrator at your next logon. Windows now asks "
    "for administrator rights to start it for this user instead.\n\nTo start it with administrator rights, "
    "install Skiprail for all users first and choose this start there.";

HMENU startMenu = nullptr;
HWND takeOverWindow = nullptr;

// A copy of the program with administrator rights, started and (for a change
// of the start) waited for on a thread of its own: Windows' prompt and the
// copy's work must not hold up this thread's hooks and sockets. One at a time.
struct ElevatedRun {
    bool underWay = false;
    bool restart = false;      // a copy that takes over, not a change of the start
    char arguments[48] = {};
    HWND window = nullptr;
    DWORD restartedAt = 0;     // when a copy that takes over was last started
    bool restarted = false;
} run;

enum ElevatedOutcome : WPARAM { RUN_DONE = 0, RUN_DECLINED = 1, RUN_FAILED = 2 };

// Starts this program again with administrator rights: Windows asks the user
// (the UAC prompt). False when it could not start or the user said no.
bool startElevatedCopy(const char* arguments, HWND owner, HANDLE* process)
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    SHELLEXECUTEINFOA start = {};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_FLAG_DDEWAIT | (process ? SEE_MASK_NOCLOSEPROCESS : 0);
    start.hwnd = owner;
    start.lpVerb = "runas";
    start.lpFile = path;
    start.lpParameters = arguments;
    start.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&start)) return false;
    if (process) *process = start.hProcess;
    return !process || start.hProcess;
}

DWORD WINAPI runElevated(LPVOID)
{
    HANDLE process = nullptr;
    WPARAM outcome = RUN_DONE;
    if (!startElevatedCopy(run.arguments, run.window, run.restart ? nullptr : &process)) {
        outcome = GetLastError() == ERROR_CANCELLED ? RUN_DECLINED : RUN_FAILED;
    } else if (process) {
        WaitForSingleObject(process, INFINITE);
        DWORD code = 1;
        if (!GetExitCodeProcess(process, &code) || code != 0) outcome = RUN_FAILED;
        CloseHandle(process);
    }
    PostMessageA(run.window, WM_ELEVATED_DONE, outcome, 0);
    return 0;
}

bool startElevatedRun(bool restart, const char* arguments)
{
    if (run.underWay) return false;
    run.restart = restart;
    lstrcpynA(run.arguments, arguments, sizeof run.arguments);
    run.window = app.mainWindow;
    HANDLE thread = CreateThread(nullptr, 0, runElevated, nullptr, 0, nullptr);
    if (!thread) return false;
    CloseHandle(thread);
    run.underWay = true;
    return true;
}

void reportFailedChange()
{
    MessageBoxA(app.mainWindow, "Skiprail could not change how it starts with Windows.", "Error",
                MB_OK | MB_ICONWARNING);
}

void refuseUnsafePlace(HWND owner)
{
    MessageBoxA(owner, UNSAFE_PLACE, "Skiprail", MB_OK | MB_ICONWARNING);
}

// A task that starts this program from a place others can change is taken
// off at start, on a thread of its own (the scheduler may take a moment):
// the start falls back to the Run value. The user is told on the main thread.
DWORD WINAPI reviewTask(LPVOID window)
{
    if (startupTaskState() != TASK_OURS || programPlaceSafe()) return 0;
    const bool moved = setStartMode(START_FOR_USER);
    PostMessageA(static_cast<HWND>(window), WM_UNSAFE_START, moved ? 1 : 0, 0);
    return 0;
}

void reportFailedRestart(HWND owner)
{
    MessageBoxA(owner, "Skiprail could not start again with administrator rights.", "Error", MB_OK | MB_ICONWARNING);
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
    if (mode == START_AS_ADMIN && !programPlaceSafe()) {
        refuseUnsafePlace(nullptr);
        return EXIT_UNSAFE_PLACE;
    }
    // What the system holds afterwards is the answer, not what the calls said.
    return setStartMode(mode) && currentStartMode() == mode ? 0 : 1;
}

bool tokenElevated(HANDLE token)
{
    DWORD elevated = 0, size = 0;
    return GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(20 /* TokenElevation */), &elevated,
                               sizeof elevated, &size) &&
           elevated != 0;
}

bool runsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const bool elevated = tokenElevated(token);
    CloseHandle(token);
    return elevated;
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
    if (elevationOffered()) AppendMenuA(startMenu, MF_STRING, IDM_START_AS_ADMIN, ADMIN_ITEM);
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(startMenu), "Start with Windows");
    if (elevationOffered() && !runsElevated())
        AppendMenuA(menu, MF_STRING, IDM_RESTART_ELEVATED, "Restart with administrator rights");
}

void showStartMode()
{
    if (!startMenu) return;
    const StartMode mode = currentStartMode();
    app.startWithWindows = mode == START_OFF ? 0 : 1;
    // A greyed item cannot show a tip: its text says why.
    const bool safe = elevationOffered() && programPlaceSafe();
    if (elevationOffered())
        ModifyMenuA(startMenu, IDM_START_AS_ADMIN, MF_BYCOMMAND | MF_STRING, IDM_START_AS_ADMIN,
                    safe ? ADMIN_ITEM : ADMIN_ITEM_UNSAFE);
    CheckMenuRadioItem(startMenu, 0, GetMenuItemCount(startMenu) - 1, static_cast<UINT>(mode), MF_BYPOSITION);
    const UINT busy = MF_BYCOMMAND | (run.underWay ? MF_GRAYED : MF_ENABLED);
    for (UINT id : {IDM_START_OFF, IDM_START_WITH_WINDOWS, IDM_START_AS_ADMIN}) EnableMenuItem(startMenu, id, busy);
    if (!safe) EnableMenuItem(startMenu, IDM_START_AS_ADMIN, MF_BYCOMMAND | MF_GRAYED);
}

void chooseStartMode(StartMode mode)
{
    if (run.underWay) return;
    if (mode == START_AS_ADMIN && !elevationOffered()) return;
    if (mode == START_AS_ADMIN && !programPlaceSafe()) {
        refuseUnsafePlace(app.mainWindow);
        return;
    }
    // Only the task needs administrator rights; the Run value is the user's own.
    const bool needsRights = mode == START_AS_ADMIN || startupTaskState() != TASK_ABSENT;
    if (!needsRights || runsElevated()) {
        if (!setStartMode(mode)) reportFailedChange();
        showStartMode();
        return;
    }
    if (!startElevatedRun(false, MODE_ARGUMENTS[mode])) reportFailedChange();
}

void onElevatedDone(WPARAM outcome)
{
    run.underWay = false;
    if (run.restart) {
        run.restarted = outcome == RUN_DONE;
        run.restartedAt = GetTickCount();
        if (outcome == RUN_FAILED) reportFailedRestart(app.mainWindow);
        return;
    }
    if (outcome == RUN_FAILED) reportFailedChange();
    showStartMode();
}

void reviewStartAtStart()
{
    if (!elevationOffered()) return;
    HANDLE thread = CreateThread(nullptr, 0, reviewTask, app.mainWindow, 0, nullptr);
    if (thread) CloseHandle(thread);
}

void onUnsafeStart(WPARAM moved)
{
    MessageBoxA(app.mainWindow, moved ? UNSAFE_START_MOVED : UNSAFE_START_KEPT, "Skiprail", MB_OK | MB_ICONWARNING);
    // Not taken off without administrator rights: the copy that has them does it.
    if (!moved) chooseStartMode(START_FOR_USER);
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
    // The copy started a moment ago is about to take over: no second one.
    if (run.underWay || (run.restarted && GetTickCount() - run.restartedAt < 10000)) return;
    char arguments[48];
    _snprintf(arguments, sizeof arguments - 1, "/takeover %I64u",
              static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));  // msvcrt's own
    arguments[sizeof arguments - 1] = '\0';
    if (!startElevatedRun(true, arguments)) reportFailedRestart(window);
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
