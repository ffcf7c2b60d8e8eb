// The link key: its dialog ("Link Key..." in the tray menu) and its store.
// The key is kept under the user's settings key, protected by the system's
// data protection (CryptProtectData, from crypt32.dll looked up at run time),
// never in clear.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// Reads the stored key, if any, and hands it to the record layers.
void loadLinkKey();
// Stores the key as typed, protected; an empty text removes it. True when stored.
bool storeLinkKey(const char* text);
// The stored key as typed into out (room bytes, terminated); false when none.
bool readStoredLinkKey(char* out, int32_t room);

// Runs the dialog modally, owned by the main window. OK on a changed key
// stores it and ends the current link, which is then made again with it.
// While it is open, a second call only brings it to the front.
void runLinkKeyDialog();
INT_PTR CALLBACK linkKeyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
