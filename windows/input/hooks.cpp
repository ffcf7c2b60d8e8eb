#include "windows/input/hooks.h"

#include "windows/hook/srhook.h"

namespace {

// Off while the settings read a new combination: hooks installed meanwhile
// (a link coming up) must not turn the hotkeys on under them.
bool hotkeysOff = false;

void handHotkeys()
{
    DWORD combinations[HOTKEY_COUNT];
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i) combinations[i] = app.hotkeys[i];
    SetHotkeys(hotkeysOff ? 0 : WM_HOOK_HOTKEY, combinations, hotkeysOff ? 0 : HOTKEY_COUNT);
}

// While no hooks were installed (the link was down), a button the hook saw
// pressed may have been let go unseen: without this it would count as held,
// and control would not cross until the next click. The system's own state
// of the buttons counts instead (it reads the physical buttons, so a swapped
// pair is swapped back to what the hook reports).
void heldButtonsAsTheyAre()
{
    const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    const bool physicalLeft = GetAsyncKeyState(VK_LBUTTON) < 0, physicalRight = GetAsyncKeyState(VK_RBUTTON) < 0;
    app.leftHeld = (swapped ? physicalRight : physicalLeft) ? 1 : 0;
    app.rightHeld = (swapped ? physicalLeft : physicalRight) ? 1 : 0;
}

}  // namespace

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
    handHotkeys();
    heldButtonsAsTheyAre();
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
    hotkeysOff = !on;
    handHotkeys();
}
