// The two TCP connections to each partner: the control connection on its
// port and the clipboard connection on the next one up. Each PC first tries to connect
// to its partner and listens on both ports when that cannot start or fails.
// A Master without a control connection tries its partner again every few
// seconds; a Slave listens, so the two never race each other. Both
// connections carry TCP keep-alives, and a Master whose packet draws no READY
// for several seconds counts the link as lost: a partner that vanished
// without closing frees the Master's user within about ten seconds.
#pragma once

#include "windows/app/appstate.h"

struct Link;

// Every partner set up links: a connect to each, or listening when that
// cannot start or fails. The links are filled from the settings first.
void connectOrListen();
// The listener on `port` (into the slot and flag given), once: a listener
// whose start failed is never tried again.
int startListening(int32_t port, UINT message, SOCKET* listenerSlot, int32_t* listeningFlag);
// The control listener of `port`, beside the listeners of every other port.
int startListening(int32_t port);
int startConnect(Link& link, const char* host, int32_t port, UINT message, SOCKET* socketSlot);
void onLinkUp(HWND window, Link& link);
// A linked Slave sends the size of its desktop (PKT_SCREEN_SIZE).
void reportScreenSize(HWND window);

// Socket notifications; `socket` is the one the notification concerns, which
// tells the link (or the listener) it belongs to.
void onControlSocketEvent(HWND window, SOCKET socket, LPARAM lParam);
void onClipboardSocketEvent(HWND window, SOCKET socket, LPARAM lParam);

// WM_LINK_BROKEN: a send on the control socket failed for good.
void onControlLinkBroken(HWND window, SOCKET socket);
// WM_SOCKET_GONE: the notices of a closed socket have all come round; its
// number may belong to a live socket again.
void onSocketGone(SOCKET socket);
// WM_HOST_FOUND: the lookup of a partner's name ended; a retry goes on with it.
void onHostFound(HANDLE lookup, LPARAM result);
// Each link's TIMER_RECONNECT, TIMER_LINK_WATCH and TIMER_CLIPBOARD_RETRY.
void onLinkTimer(HWND window, UINT_PTR id);
// WM_LINK_PROVEN: the partner proved the link key, the connection is up.
void onLinkProven(HWND window, SOCKET socket, LPARAM notice);
// WM_LINK_REFUSED: the connection failed the handshake or a record; it ends as
// if the partner had closed it, and the link heals as after any close.
void onLinkRefused(HWND window, SOCKET socket, LPARAM notice);
// The link key changed: every connection ends, and is made again with it.
void endLinkForNewKey(HWND window);
// The settings changed: the links follow the Slaves now set up, and a Master
// tries at once each partner it has no link with.
void reconnectNow();
