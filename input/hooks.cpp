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
    applyHotkeys(true);
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

void applyHotkeys(bool on)
{
    DWORD combinations[HOTKEY_COUNT];
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i) combinations[i] = app.hotkeys[i];
    SetHotkeys(on ? WM_HOOK_HOTKEY : 0, combinations, on ? HOTKEY_COUNT : 0);
}
