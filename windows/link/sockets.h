// The sockets beneath the links: the socket layer's start, a connect, a
// listener, who may connect at all, and closing for good. Internal to the
// links: everything else goes through connections.h, but for the box that
// reports a failed socket call.
#pragma once

#include "windows/app/appstate.h"

// Closes `s`, and passes over its notices until WM_SOCKET_GONE comes round.
int closeForGood(SOCKET s);
// Whether `s` was closed and its notices may still be waiting.
bool isGone(SOCKET s);
// WM_SOCKET_GONE came round: the number of `s` may be a live socket's again.
void forgetGone(SOCKET s);
// Starts the socket layer; false when it cannot start.
bool startSocketLayer();
// Starts a connect to `address` on `port`; 0 when it cannot start. Its
// notices come as WM_CONTROL_SOCKET.
SOCKET openConnection(in_addr address, int32_t port);
// A listener on `port`; 0 when it cannot be had (the box that says why
// follows once the engine's turn is done: both of a link's listeners start
// before either failure is shown).
SOCKET openListener(int32_t port);
// Shows the boxes of listeners that failed since last asked.
void showListenerFailures();
// Keep-alives on a connection, so a partner that vanished is noticed.
void keepAlive(SOCKET s);
// Only a partner may link: whether `peer` is one of the addresses of `host`.
bool isPartnerAddress(const char* host, in_addr peer);
// Whether `address` is one of this PC's own.
bool isOwnAddress(in_addr address);
// A box that says which socket call failed, and with what error.
void reportSocketError(int code, const char* call, HWND owner);
