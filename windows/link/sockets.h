// The sockets beneath the links, as the links' life (link/connections.cpp)
// uses them. Internal to link/: everything else goes through connections.h,
// but for the box that reports a failed socket call.
#pragma once

#include "windows/app/appstate.h"

struct Link;

// What became of a connection the listener accepted.
enum class Accepted { Partner, Newcomer, Stranger, Failed };

// Closes `s`, and passes over its notices until WM_SOCKET_GONE comes round.
int closeForGood(SOCKET s);
// Closes the link's newcomer of `channel`, if any, and forgets its session.
void dropNewcomer(Link& link, int channel);
// Whether `s` was closed and its notices may still be waiting.
bool isGone(SOCKET s);
// Starts the socket layer; false when it cannot start.
bool startSocketLayer();
// Starts a connect to `address` on `port` into the slot; 0 when it cannot start.
int connectTo(in_addr address, int32_t port, UINT message, SOCKET* socketSlot);
// The listener entry that `socket` listens for, on the control port or not.
AppState::PortListeners* listenerOfSocket(SOCKET socket, bool control);
// The link's slot of the connection of `channel`.
SOCKET* slotOf(Link& link, int channel);
// Accepts on the listener of `port` and hands the connection to its partner's link.
Accepted acceptInto(SOCKET listener, int32_t port, HWND window, int channel, Link** accepted);
// Closes a connection the partner ended; true when the close succeeded.
bool closeConnection(SOCKET s);
// Empties the slot that held the socket just closed.
void forgetClosedSocket(SOCKET closed, SOCKET* socketSlot);
// The listeners of the link's port; null when none is free.
AppState::PortListeners* listenersOf(const Link& link);
// Listens on the link's control and clipboard ports.
void listenOnBothPorts(const Link& link);
// Whether `address` is one of this PC's own.
bool isOwnAddress(in_addr address);
// A box that says which socket call failed, and with what error.
void reportSocketError(int code, const char* call, HWND owner);
