// One connection of a link, as the links' engine keeps it: the front end's
// handle, what waits to be written, and with a link key its record layer
// (the handshake, then records sealed and opened). Written through the
// front end's LinkHost; no platform header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/byte_queue.h"
#include "link/record_layer.h"

class LinkHost;

// A connection as the front end knows it: a file descriptor or a socket.
using ConnHandle = intptr_t;
constexpr ConnHandle NO_CONN = -1;

// One connection of a link.
struct LifeConn {
    ConnHandle handle = NO_CONN;
    bool connecting = false;  // a connect under way
    bool keyed = false;       // began with a handshake
    bool proven = false;      // and the partner proved the key
    bool failed = false;      // the handshake, a record or a send failed
    int64_t deadline = -1;    // the connect's or the handshake's
    LinkSession* session = nullptr;
    LinkCipher* cipher = nullptr;
    ByteQueue out;            // bytes for the socket
    ByteQueue plainOut;       // bytes to seal once the key is proven
};

// Closes the connection and forgets everything, the session's keys first.
void connFree(LinkHost& host, LifeConn& conn);
// Starts its session with the stretched key: the greeting goes out. False
// (and failed) when it cannot start.
bool connStart(LinkHost& host, LifeConn& conn, LinkRole role, const uint8_t* key);
// Seals what waits for the key, then writes what the socket takes; false
// (and failed) when a seal or a write failed.
bool connFlush(LinkHost& host, LifeConn& conn);
// Opens what arrived on a keyed connection: its plaintext is appended to
// `plain`, *proven says the partner proved the key in it, and the proof goes
// out once the partner's greeting is in. False (and failed) on a failure.
bool connOpen(LinkHost& host, LifeConn& conn, const uint8_t* data, size_t n, ByteQueue* plain, bool* proven);
// Queues bytes to go (to be sealed, with a key); false when it cannot take them.
bool connQueue(LifeConn& conn, const void* data, size_t n);
inline size_t connPending(const LifeConn& conn) { return queueSize(conn.out) + queueSize(conn.plainOut); }
// There to queue for, and up (with a key, proven).
inline bool connOpenFor(const LifeConn& conn) { return conn.handle != NO_CONN && !conn.connecting && !conn.failed; }
inline bool connUp(const LifeConn& conn) { return connOpenFor(conn) && (!conn.keyed || conn.proven); }
