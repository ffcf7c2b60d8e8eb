// The links' life, once for every front end: each PC first tries its
// partner's control port and listens on both ports when that cannot start or
// fails; only the partner's address may connect; the side that made the
// control connection makes the clipboard connection, and makes it again when
// it ends alone; a newcomer from the partner replaces the live connection
// (with a link key, once it has proved the key beside it); a Master tries a
// lost partner again, a little later each time, and lets go of one whose
// packets draw no READY. With a link key, each connection's record layer
// lives here too.
//
// The engine does no I/O of its own and keeps no clock: the front end owns
// the sockets and time. It hands the engine what happened (a connect came
// through, a listener took a connection, bytes arrived, a socket closed or
// drained, the time), and the engine acts only through the one small table
// of what it may ask (`LinkHost`). A test drives it with a fake clock and
// connections passed by hand.
#pragma once

#include <cstdint>

#include "link/link_conn.h"

enum LinkChannel { LINK_CONTROL = 0, LINK_CLIPBOARD = 1 };


constexpr int32_t LIFE_MAX_LINKS = 4;
// A connect that has not come through by then has failed.
constexpr int64_t CONNECT_DEADLINE_MS = 10000;
// The partner has this long to prove the link key on a new connection.
constexpr int64_t HANDSHAKE_DEADLINE_MS = 5000;
// No READY for this long to a packet that asks for one: the partner is gone.
constexpr int64_t SILENT_PARTNER_MS = 8000;
// The waits between tries: 1, 2, 4 and then every 8 seconds.
constexpr int32_t RETRY_FIRST_MS = 1000;
constexpr int32_t RETRY_LONGEST_MS = 8000;

// One partner: on a Slave its Master, on a Master each Slave of the desk.
struct LinkLife {
    int32_t index = 0;
    bool present = false;     // a partner is set up for it
    char host[256] = {};      // its computer name or address
    int32_t port = 0;         // its control port; the clipboard's is the next one up
    uint32_t address = 0;     // as the last lookup found it (network order)
    bool addressKnown = false;
    bool lookingUp = false;   // a lookup is under way

    LifeConn live[2];         // connecting, in its handshake, or up
    LifeConn newcomer[2];     // the partner's newcomer, proving the key beside a proven live one
    bool linked = false;      // the control connection is up
    bool clipboardConnector = false;  // this side made the clipboard connection
    bool clipboardWasUp = false;      // since the control connection came through

    int64_t reconnectAt = -1;
    int32_t reconnectDelay = 0;
    int64_t clipboardRetryAt = -1;
    int32_t clipboardRetryDelay = 0;
    int64_t unansweredSince = -1;  // the oldest packet still awaiting the partner's READY
    void* front = nullptr;         // what the front end keeps for this partner
};

enum class LookUp { Found, Later, Failed };

// Words the engine has for the user; the front end says them its own way.
enum class LinkNote {
    Connected,      // the control connect came through
    Stranger,       // a connection from an address that is no partner's, closed
    Accepted,       // the partner's connection taken
    KeyProven,      // the partner proved the link key on a connection
    KeyNotProven,   // the partner did not prove it (said once)
    ClipboardEnded, // the clipboard connection ended; detail says why
    ConnectFailed,  // a connect failed; detail says why
    ClipboardFailed,  // the first clipboard connect failed, and is not tried again
};

// What the engine may ask of the front end that runs it.
class LinkHost {
public:
    // Starts a connect; NO_CONN when it cannot start. `connected` follows.
    virtual ConnHandle connectTo(uint32_t address, int32_t port) = 0;
    // Listens on the port; NO_CONN when it cannot (the front end says why).
    virtual ConnHandle listenOn(int32_t port) = 0;
    // Writes what the socket takes now: the bytes taken, or -1 when it failed.
    virtual int32_t write(ConnHandle conn, const uint8_t* data, int32_t n) = 0;
    // Whether the engine waits for the socket to drain (`lifeWritable`).
    virtual void waitWritable(ConnHandle conn, bool wait) = 0;
    virtual void closeConn(ConnHandle conn) = 0;
    // The partner's address; Later when `lifeLookedUp` brings it.
    virtual LookUp lookUp(LinkLife& link, uint32_t* address) = 0;
    // Whether a connection from `peer` is the link's partner.
    virtual bool isPartner(const LinkLife& link, uint32_t peer) = 0;
    // Whether the address is this PC's own (a connect there would reach itself).
    virtual bool isOwnAddress(uint32_t address) = 0;
    // A cipher for one keyed connection, given back when it ends.
    virtual LinkCipher* newCipher() = 0;
    virtual void freeCipher(LinkCipher* cipher) = 0;

    // The control connection is up (proven, with a key).
    virtual void linkUp(LinkLife& link) = 0;
    // It ended; `wasUp` when it had been up. Whatever the partner held down
    // goes up with it.
    virtual void linkLost(LinkLife& link, const char* why, bool wasUp) = 0;
    // A clipboard connection is up, or gone: nothing half sent or half
    // received carries over.
    virtual void clipboardFresh(LinkLife& link) = 0;
    // Plaintext from the partner.
    virtual void received(LinkLife& link, int channel, const uint8_t* data, size_t n) = 0;
    // The connection took what waited: a transfer may go on.
    virtual void drained(LinkLife& link, int channel) = 0;
    virtual void note(LinkNote what, const LinkLife* link, const char* detail) = 0;

protected:
    ~LinkHost() = default;
};

struct LinkEngine {
    LinkHost* host = nullptr;
    bool master = false;
    // Whether a clipboard connect that fails before the connection was ever
    // up is tried again (after 1, 2, 4, 8 s), or said once (ClipboardFailed)
    // and left: this side then links without a clipboard.
    bool retryFirstClipboard = true;
    bool keySet = false;
    uint8_t key[LINK_KEY_STRETCHED] = {};
    LinkLife links[LIFE_MAX_LINKS];
    struct Listener {
        int32_t port = 0;
        int channel = LINK_CONTROL;  // what it was opened for
        ConnHandle handle = NO_CONN;
    } listeners[2 * LIFE_MAX_LINKS];
    int32_t listenerCount = 0;
    bool keyNoticeGiven = false;
    int64_t now = 0;
};

// Sets the engine up: no partner yet, nothing connected.
void lifeInit(LinkEngine& engine, LinkHost* host, bool master);
// The link key new connections use, stretched; none when null.
void lifeSetKey(LinkEngine& engine, const uint8_t* stretched);
// Sets a link's partner (empty host: none) and starts it: a connect first.
void lifeStart(LinkEngine& engine, int32_t index, const char* host, int32_t port, int64_t now);
// Ends a link's connections and tries, as a close would; it is tried no more.
void lifeStop(LinkEngine& engine, int32_t index, int64_t now);
// Ends a link's connections as a close would; it heals as after any close.
void lifeCut(LinkEngine& engine, int32_t index, const char* why, int64_t now);
// Listens on a link's two ports, if not yet.
void lifeListen(LinkEngine& engine, int32_t index);
// Whether `conn` is one of the engine's listeners, and what it was opened for.
bool lifeListener(const LinkEngine& engine, ConnHandle conn, int* channel);
// Ends every connection and listener, at exit.
void lifeEnd(LinkEngine& engine);

// What happened, as the front end saw it.
void lifeConnected(LinkEngine& engine, ConnHandle conn, int error, const char* why, int64_t now);
void lifeAccepted(LinkEngine& engine, ConnHandle listener, ConnHandle conn, uint32_t peer, int64_t now);
void lifeReceived(LinkEngine& engine, ConnHandle conn, const uint8_t* data, size_t n, int64_t now);
void lifeClosed(LinkEngine& engine, ConnHandle conn, const char* why, int64_t now);
void lifeWritable(LinkEngine& engine, ConnHandle conn, int64_t now);
void lifeLookedUp(LinkEngine& engine, int32_t index, bool found, uint32_t address, int64_t now);
// The time has come for what was due by `lifeNextWake`.
void lifeTick(LinkEngine& engine, int64_t now);
// When the engine next needs to be woken; -1 when nothing waits.
int64_t lifeNextWake(const LinkEngine& engine);

// Bytes for the partner: queued (sealed, with a key, once it is proven), and
// written when flushed. False when the connection is not there or failed
// (a failed write ends it as a close would).
bool lifeQueue(LinkEngine& engine, LinkLife& link, int channel, const void* data, size_t n);
bool lifeFlush(LinkEngine& engine, LinkLife& link, int channel);
bool lifeSend(LinkEngine& engine, LinkLife& link, int channel, const void* data, size_t n);
// Bytes queued and not yet taken by the socket.
size_t lifePending(const LinkLife& link, int channel);
// Whether the connection of `channel` is up (connected, and proven with a
// key), and whether it is there to queue for at all (with a key, bytes wait
// for the proof).
bool lifeUp(const LinkLife& link, int channel);
bool lifeOpen(const LinkLife& link, int channel);
// The link whose live connection or newcomer is `conn`, with its channel;
// null when none. Whether the engine holds `conn`, and whether its connect
// is under way.
LinkLife* lifeFind(LinkEngine& engine, ConnHandle conn, int* channel, bool* newcomer);
bool lifeHolds(LinkEngine& engine, ConnHandle conn);
bool lifeConnecting(LinkEngine& engine, ConnHandle conn);
// Whether it began with a handshake.
bool lifeKeyed(const LinkLife& link, int channel);

// The Master's watch for a partner that stopped answering: since when the
// oldest packet still unanswered awaits its READY; -1 when none waits.
void lifeWaiting(LinkLife& link, int64_t since);
