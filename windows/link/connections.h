// The links' life on Windows: the portable link engine (link/link_life.h),
// fed from the window messages Winsock posts for each socket, the lookups
// of partners' names and one timer, and acting through the sockets of
// windows/link/sockets.cpp. What the engine's links carry goes to the
// receivers here; what the engine decides (connect first, then listen; only
// the partner; the newcomer that proves the key; healing; the silent
// partner) is the engine's, the same on every PC.
#pragma once

#include "windows/app/appstate.h"
#include "link/link_life.h"

struct Link;

// Every partner set up links: a connect to each, or listening when that
// cannot start or fails. The links are filled from the settings first.
void connectOrListen();
// Listens on the first link's ports, as the diagnostic panel asks.
void startListening(int32_t port);
// A linked Slave sends the size of its desktop (PKT_SCREEN_SIZE).
void reportScreenSize(HWND window);

// Socket notifications, of the control and the clipboard connections and
// their listeners alike: the engine knows which socket is which.
void onSocketEvent(HWND window, SOCKET socket, LPARAM lParam);

// WM_LINK_BROKEN: a send on `socket` failed for good; it ends as a close would.
void onControlLinkBroken(HWND window, SOCKET socket);
// WM_SOCKET_GONE: the notices of a closed socket have all come round; its
// number may belong to a live socket again.
void onSocketGone(SOCKET socket);
// WM_HOST_FOUND: the lookup of a partner's name ended; a retry goes on with it.
void onHostFound(HANDLE lookup, LPARAM result);
// TIMER_LINK_ENGINE: what the engine waited for is due.
void onLinkTimer(HWND window);
// The link key changed: every connection ends, and is made again with it.
void endLinkForNewKey(HWND window);
// The settings changed: the links follow the Slaves now set up, and a Master
// tries at once each partner it has no link with.
void reconnectNow();

// What the receivers and senders ask of a link's connections.
LinkLife& lifeOf(Link& link);
const LinkLife& lifeOf(const Link& link);
bool linkQueue(Link& link, int channel, const void* data, size_t n);
bool linkFlushNow(Link& link, int channel);
size_t linkPending(Link& link, int channel);
// Whether the connection of `channel` is up (proven, with a key), and whether
// it is there at all (with a key, bytes wait for the proof).
bool linkUpNow(Link& link, int channel);
bool linkOpen(Link& link, int channel);
// The Master's watch for a partner that stopped answering: whether a packet
// awaits its READY, and how long the oldest has waited.
void linkUnanswered(Link& link, bool waiting, uint32_t waited);
