#include "windows/app/elevation_word.h"

#include <cstddef>

#include "app/start_rules.h"
#include "windows/app/startup.h"
#include "windows/link/link.h"

namespace {

HWINEVENTHOOK foregroundHook = nullptr;
ProgramsTold told;
typedef BOOL(WINAPI* QueryImageName)(HANDLE, DWORD, LPSTR, PDWORD);
QueryImageName queryImageName = nullptr;  // Windows Vista's, found when the watch starts

// Since Windows Vista, where alone a program can run as administrator beside
// one that does not.
const DWORD QUERY_LIMITED_INFORMATION = 0x1000;

// The file name of the process's program ("Taskmgr.exe"), or "" if unknown.
void programName(HANDLE process, char (&name)[MAX_PATH + 1])
{
    name[0] = '\0';
    char path[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    if (!queryImageName || !queryImageName(process, 0, path, &size)) return;
    const char* file = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/') file = p + 1;
    lstrcpynA(name, file, sizeof name);
}

// Whether the process runs as administrator. From a program that does not, an
// elevated process's token cannot be opened at all: that says it too.
bool processElevated(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool elevated = tokenElevated(token);
    CloseHandle(token);
    return elevated;
}

void showBalloon(const char* program)
{
    NOTIFYICONDATAA note = {};
    // The layout with balloons (Windows 2000's shell on), whatever the headers' newest.
    note.cbSize = offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof note.dwInfoFlags;
    note.hWnd = app.trayIconData.hWnd;
    note.uID = ID_TRAYICON;
    note.uFlags = NIF_INFO;
    lstrcpyA(note.szInfo, "Windows keeps Skiprail out of ");
    lstrcpynA(note.szInfo + lstrlenA(note.szInfo), program, 96);
    lstrcatA(note.szInfo,
             ", which runs as administrator. Choose Restart with administrator rights in Skiprail's menu.");
    lstrcpyA(note.szInfoTitle, "Skiprail");
    note.dwInfoFlags = NIIF_WARNING;
    note.uTimeout = 15000;
    if (note.hWnd) Shell_NotifyIconA(NIM_MODIFY, &note);
}

void lookAt(HWND window)
{
    if (!window) return;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == 0 || processId == GetCurrentProcessId()) return;
    HANDLE process = OpenProcess(QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return;
    char name[MAX_PATH + 1];
    programName(process, name);
    ForegroundScene scene;
    scene.foregroundElevated = processElevated(process);
    CloseHandle(process);
    scene.selfElevated = runsElevated();
    scene.master = app.mode == MODE_MASTER;
    // The Slave's Master drives it from its entry until it leaves.
    scene.slaveDriven = app.mode == MODE_SLAVE && links[0].controlLinked && links[0].partnerDriving;
    scene.program = name;
    if (shouldTellElevated(scene, told)) showBalloon(name[0] ? name : "a program");
}

void CALLBACK onForeground(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG, DWORD, DWORD)
{
    if (event == EVENT_SYSTEM_FOREGROUND && object == OBJID_WINDOW) lookAt(window);
}

}  // namespace

void watchForeground()
{
    if (foregroundHook || !elevationOffered()) return;
    queryImageName = reinterpret_cast<QueryImageName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
    foregroundHook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, onForeground, 0, 0,
                                     WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    lookAt(GetForegroundWindow());
}

void lookAtForeground()
{
    if (foregroundHook) lookAt(GetForegroundWindow());
}

void stopWatchingForeground()
{
    if (foregroundHook) UnhookWinEvent(foregroundHook);
    foregroundHook = nullptr;
}
