#include "unix/conn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unix/log.h"

namespace {

// Keep-alive probes after 2 s of silence, as the Windows side sets them. Linux
// counts their interval in whole seconds: five probes a second apart give up
// after about 7 s, where Windows' ten half-second probes take 7 s too. Data
// that goes unacknowledged that long ends the connection as well (Linux would
// otherwise retransmit for a quarter of an hour, keys held down meanwhile).
constexpr int KEEPALIVE_IDLE_S = 2;
constexpr int KEEPALIVE_INTERVAL_S = 1;
constexpr int KEEPALIVE_PROBES = 5;
constexpr unsigned UNACKNOWLEDGED_MS = 7000;

// One read takes at most this much: a long clipboard transfer goes in few reads.
constexpr size_t READ_SIZE = 256 * 1024;

uint8_t linkKey[LINK_KEY_STRETCHED];
bool keySet = false;

void keepAlive(int fd)
{
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KEEPALIVE_IDLE_S, sizeof KEEPALIVE_IDLE_S);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KEEPALIVE_INTERVAL_S, sizeof KEEPALIVE_INTERVAL_S);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KEEPALIVE_PROBES, sizeof KEEPALIVE_PROBES);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &UNACKNOWLEDGED_MS, sizeof UNACKNOWLEDGED_MS);
}

int newSocket()
{
    return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool fail(Conn& conn)
{
    conn.failed = true;
    return false;
}

// Moves what the session has sealed into the socket's queue.
void takeSealed(Conn& conn)
{
    const int32_t n = linkOutputLength(*conn.session);
    if (n <= 0) return;
    conn.out.append(reinterpret_cast<const char*>(linkOutput(*conn.session)), static_cast<size_t>(n));
    linkOutputTaken(*conn.session, n);
}

}  // namespace

void connSetKey(const uint8_t* stretched)
{
    keySet = stretched != nullptr;
    if (keySet) std::memcpy(linkKey, stretched, sizeof linkKey);
    else std::memset(linkKey, 0, sizeof linkKey);
}

bool connHaveKey()
{
    return keySet;
}

Conn* connNew(int fd, int channel, FdHandler handler, void* context)
{
    Conn* conn = new Conn();
    conn->fd = fd;
    conn->channel = channel;
    conn->handler = handler;
    conn->context = context ? context : conn;
    connWatch(*conn);
    return conn;
}

void connFree(Conn* conn)
{
    if (!conn) return;
    timerStop(conn->deadline);
    if (conn->fd >= 0) {
        forgetFd(conn->fd);
        close(conn->fd);
    }
    if (conn->session) {
        linkReset(*conn->session);
        delete conn->session;
    }
    delete conn;
}

bool connBegin(Conn& conn, LinkRole role)
{
    conn.keyed = keySet;
    if (!conn.keyed) return true;
    conn.session = new LinkSession();
    if (!linkStart(*conn.session, &conn.cipher, role, linkKey, LINK_KEY_STRETCHED)) return fail(conn);
    takeSealed(conn);
    if (!connFlush(conn)) return fail(conn);
    return false;
}

ReadResult connRead(Conn& conn, std::string& plain, bool* proven)
{
    *proven = false;
    static uint8_t raw[READ_SIZE];
    const ssize_t n = recv(conn.fd, raw, sizeof raw, 0);
    if (n == 0) return ReadResult::Closed;
    if (n < 0) return errno == EAGAIN || errno == EINTR ? ReadResult::Open : ReadResult::Closed;
    if (!conn.keyed) {
        plain.append(reinterpret_cast<const char*>(raw), static_cast<size_t>(n));
        return ReadResult::Open;
    }
    for (int32_t at = 0; at < n;) {
        LinkEvent event = LinkEvent::None;
        const int32_t taken = linkFeed(*conn.session, raw + at, static_cast<int32_t>(n) - at, &event);
        at += taken;
        if (event == LinkEvent::Failed || conn.session->state == LinkState::Failed) {
            conn.failed = true;
            return ReadResult::Failed;
        }
        if (event == LinkEvent::Proven) {
            conn.proven = true;
            *proven = true;
        }
        if (event == LinkEvent::Plaintext) {
            plain.append(reinterpret_cast<const char*>(linkPlain(*conn.session)),
                         static_cast<size_t>(linkPlainLength(*conn.session)));
            linkPlainTaken(*conn.session, linkPlainLength(*conn.session));
        }
        if (taken == 0 && event == LinkEvent::None) break;
    }
    takeSealed(conn);  // the proof, once the partner's greeting is in
    return connFlush(conn) ? ReadResult::Open : ReadResult::Failed;
}

bool connQueue(Conn& conn, const void* data, size_t n)
{
    if (conn.failed) return false;
    if (conn.keyed) conn.plainOut.append(static_cast<const char*>(data), n);
    else conn.out.append(static_cast<const char*>(data), n);
    return true;
}

bool connFlush(Conn& conn)
{
    if (conn.failed || conn.fd < 0) return false;
    if (conn.keyed && conn.proven && !conn.plainOut.empty()) {
        size_t at = 0;
        while (at < conn.plainOut.size()) {
            const size_t left = conn.plainOut.size() - at;
            const int32_t step = left < static_cast<size_t>(RECORD_MAX_PLAIN) ? static_cast<int32_t>(left)
                                                                               : RECORD_MAX_PLAIN;
            const int32_t sealed = linkSeal(*conn.session, reinterpret_cast<const uint8_t*>(conn.plainOut.data() + at), step);
            if (sealed <= 0) return fail(conn);
            takeSealed(conn);
            at += static_cast<size_t>(sealed);
        }
        conn.plainOut.clear();
    }
    while (conn.outBegin < conn.out.size()) {
        const ssize_t n = send(conn.fd, conn.out.data() + conn.outBegin, conn.out.size() - conn.outBegin, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) break;
            return fail(conn);
        }
        conn.outBegin += static_cast<size_t>(n);
    }
    if (conn.outBegin == conn.out.size()) {
        conn.out.clear();
        conn.outBegin = 0;
    } else if (conn.outBegin > (1u << 20)) {
        conn.out.erase(0, conn.outBegin);  // what went is let go now and then, not at every write
        conn.outBegin = 0;
    }
    connWatch(conn);
    return true;
}

bool connSend(Conn& conn, const void* data, size_t n)
{
    return connQueue(conn, data, n) && connFlush(conn);
}

size_t connPending(const Conn& conn)
{
    return conn.out.size() - conn.outBegin + conn.plainOut.size();
}

void connWatch(Conn& conn)
{
    if (conn.fd < 0) return;
    const bool writing = conn.connecting || conn.outBegin < conn.out.size();
    watchFd(conn.fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), conn.handler, conn.context);
}

int startConnectTo(in_addr address, int32_t port)
{
    const int fd = newSocket();
    if (fd < 0) return -1;
    keepAlive(fd);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    target.sin_addr = address;
    if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0 || errno == EINPROGRESS) return fd;
    close(fd);
    return -1;
}

int openListener(int32_t port)
{
    const int fd = newSocket();
    if (fd < 0) return -1;
    // A port the last run left in TIME_WAIT is taken again at once, as Windows does.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(fd, 4) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int acceptFrom(int listener, in_addr* peer)
{
    sockaddr_in from = {};
    socklen_t length = sizeof from;
    const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return -1;
    *peer = from.sin_addr;
    keepAlive(fd);
    return fd;
}

int connectResult(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

bool resolvePartner(const std::string& host, in_addr* address)
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

bool isPartnerAddress(const std::string& host, in_addr peer)
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
    bool partner = false;
    for (const addrinfo* entry = found; entry && !partner; entry = entry->ai_next)
        partner = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr == peer.s_addr;
    freeaddrinfo(found);
    return partner;
}

void sendAtOnce(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}
