#include "unix/sockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
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

}  // namespace

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

int32_t writeSome(int fd, const void* data, size_t n)
{
    for (;;) {
        const ssize_t written = send(fd, data, n, MSG_NOSIGNAL);
        if (written >= 0) return static_cast<int32_t>(written);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool isLocalAddress(in_addr address)
{
    if ((ntohl(address.s_addr) >> 24) == 127) return true;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return false;
    bool own = false;
    for (const ifaddrs* entry = all; entry && !own; entry = entry->ifa_next)
        own = entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET &&
              reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == address.s_addr;
    freeifaddrs(all);
    return own;
}
