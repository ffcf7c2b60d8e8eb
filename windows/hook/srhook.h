// srhook.dll: the program's low-level mouse and keyboard hooks.
//
// The seven functions are exported by name at ordinals 1 to 7 (srhook.def);
// the program links an import library of the ordinals alone
// (srhook_ordinals.def, made by the build) and so imports them by ordinal.
//
// The hook thread. The hooks live on a thread of the library's own, started by
// the first install, with its own message loop. Each hook procedure copies the
// event into the library's ring of records, posts the notification and returns
// at once: it never waits for the window, so a busy or blocked window thread
// (a message box, a slow handler) neither slows the pointer nor gets the hooks
// dropped by the system for answering late.
//
// Notifications. For every mouse event the window gets
//     message (as given to InstallMouseHook), wParam = the mouse message
//     (WM_MOUSEMOVE, WM_LBUTTONDOWN, ... WM_MOUSEWHEEL), lParam = address of a
//     copy of the event's MSLLHOOKSTRUCT,
// and for every key event
//     message (as given to InstallKeyboardHook), wParam = the key message
//     (WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP), lParam = address of a
//     copy of the event's KBDLLHOOKSTRUCT.
// Injected events are reported like any other. pt is the point as the hook got
// it: a move pushed past the screen edge (or past a ClipCursor rectangle) is
// reported beyond it, although the pointer stops on the last pixel.
//
// Order and loss. Notifications are posted in the order of the events, mouse
// and keyboard alike. When the window's queue is full, the records wait in the
// library and the hook thread posts them later, still in order, so none is lost
// while the window is busy. Only when the window retrieves no notification while
// 32768 further events happen is the notification of each event beyond that
// dropped (the event itself is still passed or kept as the flags say).
//
// Lifetime of the copy. The copies live in a ring of 32768 records. A record is
// reused only for the 32768th event after its own, and only after at least
// L + 1 later notifications have been posted, L being the system's limit on
// posted messages in one thread's queue (10,000 by default, or the larger
// USERPostMessageLimit set in the registry). Once that many are posted the
// window has retrieved the next notification after the record's own. So, when
// both hooks report to windows of one thread and that thread handles its
// notifications one at a time, a record stays valid until its notification
// has been handled. A handler that runs a nested message loop (a message box)
// lets later notifications be handled inside it; it should read what it needs
// from the record before starting one.
//
// Flags. Each event is first reported, then passed on to the Master's own
// programs or kept from them:
//   - first flag (SetFirstRemoteFlag) 1: key events are kept;
//   - second flag (SetSecondRemoteFlag) 1: mouse button and wheel events are
//     kept; moves pass unless the pointer is held (below).
//   A key or button whose press reached the Master's programs keeps its
//   release there: that release passes whatever the flag is by then, so
//   nothing stays held down on the Master. Releases of presses the library has
//   not seen (pressed before the hooks were installed) pass too.
//   - pointer hold (SetPointerHold) 1: moves are kept too, so the pointer
//     stands still while each move is still reported with the point it
//     would have taken.
// All flags start at 0. They may be set from any thread.
//
// Removal. RemoveHooks removes both hooks, waits (at most about 5 seconds) for
// the hook thread to end, discards the records not yet posted and returns all
// flags to 0. After it returns no new notification is posted; notifications
// posted before stay in the window's queue with their records valid as above.
// It is harmless when nothing is installed and when called twice.
#pragma once

#include <windows.h>

#ifdef SRHOOK_BUILD
#define SRHOOK_API          // exported through srhook.def
#else
#define SRHOOK_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Hotkeys (SetHotkeys). A hotkey is its key pressed, not repeated, while
// exactly its modifiers are held (Ctrl, Alt, Shift and Win, either side).
// That key's press, its repeats and its release are kept from every program
// and are not reported as keys; the press is reported instead as
//     message (as given to SetHotkeys), wParam = the hotkey's index in the
//     list, lParam = address of a copy of the press's KBDLLHOOKSTRUCT,
// to the keyboard hook's window, in order with the other notifications. The
// modifiers are reported and passed as any key, whatever the flags. Released
// modifiers whose release the hook missed are found with GetAsyncKeyState,
// among those the system was given (not those kept from it) a second or more
// before.
//
// Ordinal 1. Installs the low-level mouse hook, reporting to window with
// message. Non-zero on success. When the hook is installed already it is kept
// (no second report per event) and window and message are replaced.
// Fails when window is not a window of this process, the hook thread cannot
// start or the system refuses the hook.
SRHOOK_API BOOL WINAPI InstallMouseHook(HWND window, UINT message);

// Ordinal 2. The same for the low-level keyboard hook.
SRHOOK_API BOOL WINAPI InstallKeyboardHook(HWND window, UINT message);

// Ordinal 3. Removes both hooks, whatever window is given (see Removal above).
// Returns TRUE.
SRHOOK_API BOOL WINAPI RemoveHooks(HWND window);

// Ordinal 4. flag 1: keep mouse button and wheel events from the Master's own
// programs; 0: pass them. Any non-zero value counts as 1. Returns TRUE.
SRHOOK_API BOOL WINAPI SetSecondRemoteFlag(int flag);

// Ordinal 5. flag 1: keep key events from the Master's own programs; 0: pass
// them. Any non-zero value counts as 1. Returns TRUE.
SRHOOK_API BOOL WINAPI SetFirstRemoteFlag(int flag);

// Ordinal 6. flag 1: keep pointer moves from the system as well, so that the
// pointer stays where it stands; 0: pass them. Any non-zero value counts as
// 1. Returns TRUE.
SRHOOK_API BOOL WINAPI SetPointerHold(int flag);

// Ordinal 7. The hotkeys, from now on: count combinations (at most 8; the
// key's virtual-key code in the low byte, 0x100 Ctrl, 0x200 Alt, 0x400 Shift,
// 0x800 Win; 0 for one that is off), reported with message. A count of 0 or a
// message of 0 turns them all off. They stay set across RemoveHooks and
// reinstalls. Returns TRUE.
SRHOOK_API BOOL WINAPI SetHotkeys(UINT message, const DWORD* combinations, int count);

#ifdef __cplusplus
}
#endif
