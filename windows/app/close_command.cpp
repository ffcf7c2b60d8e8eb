#include "windows/app/close_command.h"

#include <cstring>

#include "windows/app/mainwindow.h"

namespace {

// Under the settings key, but volatile: a note nobody took is gone at the
// next logon, and a removal of the settings takes it along.
const char REOPEN_NOTE[] = "Software\\Tamberlode\\Skiprail\\Reopen";

// A main window of the program: its class, and its caption, as another
// program might name a class of its own the same.
HWND nextCopy()
{
    for (HWND window = FindWindowExA(nullptr, nullptr, MAIN_WINDOW_CLASS, nullptr); window;
         window = FindWindowExA(nullptr, window, MAIN_WINDOW_CLASS, nullptr)) {
        char caption[16] = {};
        GetWindowTextA(window, caption, sizeof caption);
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (std::strncmp(caption, "Skiprail ", 9) == 0 && processId != 0 && processId != GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

bool endCopy(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    if (!process) return false;
    PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD waited = WaitForSingleObject(process, 10000);
    if (waited == WAIT_TIMEOUT && TerminateProcess(process, 1)) waited = WaitForSingleObject(process, 5000);
    CloseHandle(process);
    return waited == WAIT_OBJECT_0;
}

}  // namespace

int closeRunningCopies()
{
    int ended = 0;
    bool stuck = false;
    // A bound, in case a window that looks like ours keeps coming back.
    for (HWND window = nextCopy(); window && !stuck && ended < 16; window = nextCopy()) {
        if (endCopy(window)) ++ended;
        else stuck = true;
    }
    if (ended > 0) {
        HKEY note = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, REOPEN_NOTE, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                            &note, nullptr) == ERROR_SUCCESS)
            RegCloseKey(note);
    }
    return stuck || nextCopy() ? 1 : 0;
}

bool takeReopenNote()
{
    return RegDeleteKeyA(HKEY_CURRENT_USER, REOPEN_NOTE) == ERROR_SUCCESS;
}
