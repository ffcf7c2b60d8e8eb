// The protected link's Windows half: the system's cipher (CNG, loaded at run
// time, so the program still starts where there is none), one record layer
// for each of the two connections between the sockets and their receivers,
// the handshake's deadline and the notice of a partner that did not prove
// the link key. Each link to a partner has its own pair; one link key
// protects every link of the desk. Without a link key every call passes
// straight to Winsock and the wire is exactly what it was.
#pragma once

#include "windows/app/appstate.h"
#include "link/record_layer.h"
#include "windows/link/system_cipher.h"

struct Link;

enum LinkChannel { LINK_CONTROL = 0, LINK_CLIPBOARD = 1 };

// The partner has this long to prove the link key on a new connection.
constexpr UINT HANDSHAKE_DEADLINE_MS = 5000;

// The link key that new connections use, as it counts (normalizeLinkKey);
// none when n is 0. It is stretched here, once (about a tenth of a second):
// the handshake uses the stretched key. Connections already made keep what
// they began with.
void setLinkKey(const uint8_t* key, int32_t n);
bool haveLinkKey();

// Whether the connection on `socket` began with a handshake.
bool linkKeyed(const Link& link, int channel, SOCKET socket);
// Whether a control connection is up, and every one that is up is protected.
bool linkProtectedNow();

// A connection of `channel` was made on `socket`. True when it is plain (no
// link key): it is up now. False when the handshake has begun: it is up
// when WM_LINK_PROVEN comes, or refused with WM_LINK_REFUSED.
bool linkBegin(const Link& link, int channel, SOCKET socket, LinkRole role);
// Whether `socket` is the connection of `channel` and has proved the link key:
// a newcomer from the partner's address must then prove it too before it may
// take the connection's place.
bool linkHoldsProven(const Link& link, int channel, SOCKET socket);
// A newcomer on `socket` (this side accepted it) runs its handshake beside the
// live connection; one that came before and is still unproven is replaced
// (the caller closes it). WM_LINK_PROVEN or WM_LINK_REFUSED follows, with the
// newcomer's socket.
void linkBeginNewcomer(const Link& link, int channel, SOCKET socket);
// The newcomer of `channel` now, or 0.
SOCKET linkNewcomer(const Link& link, int channel);
// The proven newcomer becomes the connection of `channel`; the session of the
// one it replaces is forgotten (the caller closes its socket).
void linkTakeOver(const Link& link, int channel);
// The connection on `socket` (live or newcomer) is closed: its session is forgotten.
void linkEnd(const Link& link, int channel, SOCKET socket);
// WM_LINK_PROVEN and WM_LINK_REFUSED carry the socket, and in lParam the
// channel and the link's index.
inline LPARAM linkNotice(int channel, int32_t link) { return channel | (link << 8); }
inline int noticeChannel(LPARAM notice) { return static_cast<int>(notice & 0xFF); }
inline int32_t noticeLink(LPARAM notice) { return static_cast<int32_t>((notice >> 8) & 0xFF); }

// WM_LINK_PROVEN has been handled: the records that followed the proof are read on.
void linkResume(const Link& link, int channel);

// As recv, send and ioctlsocket(FIONREAD) on the connection's socket, with
// records opened and sealed in between. linkRecv gives WSAEWOULDBLOCK while
// no plaintext is in hand; linkSend does until the handshake is done.
int linkRecv(const Link& link, int channel, SOCKET socket, char* buffer, int room);
int linkSend(const Link& link, int channel, SOCKET socket, const char* data, int n);
int linkWaiting(const Link& link, int channel, SOCKET socket, u_long* waiting);
// FD_WRITE: what was sealed and not yet taken by the socket goes out.
void linkFlush(const Link& link, int channel, SOCKET socket);

// TIMER_HANDSHAKE_* and TIMER_NEWCOMER_*: a handshake that did not finish in
// time is refused.
void onHandshakeTimer(HWND window, UINT_PTR id);
// WM_LINK_KEY_NOTICE: the partner did not prove the link key (once per start).
void showLinkKeyNotice(HWND window);
