#include "input/hooks.h"

#include "hook/srhook.h"

int installHooks(HWND window)
{
    int installed = 1;
    if (!InstallMouseHook(window, WM_HOOK_MOUSE)) {
        MessageBoxA(nullptr, "Could not set mouse hook!", "Program Error", MB_OK);
        installed = 0;
    }
    if (!InstallKeyboardHook(window, WM_HOOK_KEYBOARD)) {
        MessageBoxA(nullptr, "Could not set keyboard hook!", "Program Error", MB_OK);
        installed = 0;
    }
    return installed;
}

void releaseHooks()
{
    RemoveHooks(app.mainWindow);
}

void setRemoteFlags(int flag)
{
    SetFirstRemoteFlag(flag);
    SetSecondRemoteFlag(flag);
}

void holdPointer(int flag)
{
    SetPointerHold(flag);
}
