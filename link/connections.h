// The two TCP connections to the partner: the control connection on `port`
// and the clipboard connection on `port` + 1. Each PC first tries to connect
// to its partner and listens on both ports when that cannot start or fails.
#pragma once

#include "app/appstate.h"

void connectOrListen();
int startListening(int32_t port, UINT message, SOCKET* listenerSlot, int32_t* listeningFlag);
int startConnect(const char* host, int32_t port, UINT message, SOCKET* socketSlot);
void onLinkUp(HWND window);

// Socket notifications; `socket` is the one the notification concerns.
void onControlSocketEvent(HWND window, SOCKET socket, LPARAM lParam);
void onClipboardSocketEvent(HWND window, SOCKET socket, LPARAM lParam);
