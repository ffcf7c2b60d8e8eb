// Clipboard text follows control: at each crossing the PC that gives up
// control sends its clipboard text over the clipboard connection, and the
// partner puts it on its own clipboard.
#pragma once

#include "app/appstate.h"

// Empties both directions: the transfer being received and any still going
// out. Allocates the storage on first use.
void resetClipboardBuffer();
// Frames this PC's CF_TEXT into the outgoing storage, or leaves it empty.
void loadClipboardText();
// Sends what was loaded; what the socket cannot take yet goes on FD_WRITE.
void sendClipboardBuffer(HWND window);
// loadClipboardText, then sendClipboardBuffer. While an earlier transfer is
// still going out, the push waits for it and then sends the text the
// clipboard holds at that moment.
void pushClipboard(HWND window);
// FD_WRITE on the clipboard connection: the socket can take more.
void continueClipboardSend(HWND window);
// FD_READ on the clipboard connection.
void receiveClipboardData();
// Puts the completed incoming transfer on this PC's clipboard.
void storeClipboardText();
// "Value of integer: %d" in a box titled "ShowInt".
void showInteger(int value);
