// The connections beneath the Linux Slave's link: TCP sockets set up as the
// Windows side sets its own (keep-alives), and, with a link key, the record
// layer between each socket and what reads and writes it. Without a key the
// bytes pass unchanged and the wire is the plain one.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "link/record_layer.h"
#include "unix/loop.h"
#include "unix/openssl_cipher.h"

enum ConnChannel { CHANNEL_CONTROL = 0, CHANNEL_CLIPBOARD = 1 };

struct Conn {
    int fd = -1;
    int channel = CHANNEL_CONTROL;
    bool connecting = false;   // a connect under way
    bool keyed = false;        // began with a handshake
    bool proven = false;       // and the partner proved the key
    bool failed = false;       // the handshake or a record failed
    LinkSession* session = nullptr;
    OpenSslCipher cipher;
    Timer deadline;            // the connect's or the handshake's
    std::string out;           // bytes for the socket, from outBegin on
    size_t outBegin = 0;
    std::string plainOut;      // bytes to seal first
    FdHandler handler = nullptr;
    void* context = nullptr;
};

// The link key new connections use: the typed key stretched; none when null.
void connSetKey(const uint8_t* stretched);
bool connHaveKey();

// A connection on a socket already made; its events go to the handler, with
// `context` (the connection itself when null).
Conn* connNew(int fd, int channel, FdHandler handler, void* context);
// Closes the socket and forgets everything, the session's keys first.
void connFree(Conn* conn);

// Starts the connection's session: true when it is plain (up now), false
// when the handshake has begun (or failed: conn->failed).
bool connBegin(Conn& conn, LinkRole role);

enum class ReadResult { Open, Closed, Failed };
// Reads what the socket holds and appends its plaintext to `plain`; *proven
// is set when the partner proved the key in it (what follows the proof is
// in `plain`).
ReadResult connRead(Conn& conn, std::string& plain, bool* proven);

// Queues bytes to go (sealed, with a key); connFlush writes what the socket
// takes. False when the connection has failed.
bool connQueue(Conn& conn, const void* data, size_t n);
bool connFlush(Conn& conn);
bool connSend(Conn& conn, const void* data, size_t n);
// Bytes queued and not yet taken by the socket.
size_t connPending(const Conn& conn);
// Watches the socket for reading, and for writing while bytes wait or a
// connect is under way.
void connWatch(Conn& conn);

// Sockets, non-blocking, closed on exec. The connect gives -1 when it cannot
// start; a listener gives -1 with errno set.
int startConnectTo(in_addr address, int32_t port);
int openListener(int32_t port);
int acceptFrom(int listener, in_addr* peer);
// The result of a connect once the socket is writable: 0 or the error.
int connectResult(int fd);
// The partner's first IPv4 address, and whether an address is one of its.
bool resolvePartner(const std::string& host, in_addr* address);
bool isPartnerAddress(const std::string& host, in_addr peer);
// Control packets go at once, as between two PCs that keep a window of them.
void sendAtOnce(int fd);
