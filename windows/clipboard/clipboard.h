// Clipboard text follows control: at each crossing the PC that gives up
// control sends its clipboard text over the clipboard connection, and the
// partner puts it on its own clipboard. Each link has its own transfers both
// ways; this PC's clipboard is one.
#pragma once

#include "windows/app/appstate.h"

struct Link;

// Empties both directions: the transfer being received and any still going
// out. Allocates the storage on first use.
void resetClipboardBuffer(Link& link);
// As the control connection comes up: forgets what the partner took, and
// gives what this side reads of the richer transfers, for the announcement.
// Until the partner announces the same, it is sent plain CF_TEXT.
int32_t clipboardAnnouncement(Link& link);
// TIMER_CLIPBOARD_STORE: a received transfer tries the clipboard again.
void onClipboardTimer();
// PKT_CLIPBOARD_CAPS from the partner.
void notePartnerClipboard(Link& link, int32_t version, int32_t takes);
// Frames this PC's CF_TEXT into the outgoing storage, or leaves it empty.
void loadClipboardText(Link& link);
// Sends what was loaded; what the socket cannot take yet goes on FD_WRITE.
void sendClipboardBuffer(HWND window, Link& link);
// loadClipboardText, then sendClipboardBuffer; to a partner that announced
// the richer transfers, its Unicode text and picture in chunks instead.
// While an earlier transfer is still going out, the push waits for it (a
// richer one gives way at the end of its current chunk) and then sends what
// the clipboard holds at that moment.
void pushClipboard(HWND window, Link& link);
// FD_WRITE on the clipboard connection: the socket can take more.
void continueClipboardSend(HWND window, Link& link);
// FD_READ on the clipboard connection.
void receiveClipboardBytes(Link& link, const uint8_t* data, size_t n);
// Puts the completed incoming transfer on this PC's clipboard.
void storeClipboardText(Link& link);
// Control went straight from the Slave `from` to the Slave `to`: what
// `from` sends on leaving is put on this PC's clipboard, and pushed on to
// `to` as soon as it is there, while `to` still has control.
void relayClipboard(Link& from, Link& to);
// "Value of integer: %d" in a box titled "ShowInt".
void showInteger(int value);
