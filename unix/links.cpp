// The Linux program's links: the link engine's host over poll(). Every cut
// is told to the role, which lets go of whatever the partner held down.
#include "unix/links.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unix/log.h"
#include "unix/loop.h"
#include "unix/openssl_cipher.h"
#include "unix/sockets.h"

namespace {

constexpr int32_t LOWEST_OPEN_PORT = 1024;
// One read takes at most this much: a long clipboard transfer goes in few reads.
constexpr size_t READ_SIZE = 256 * 1024;

LinkEngine engine;
LinkUser role = {};

in_addr asAddress(uint32_t address)
{
    in_addr a = {};
    a.s_addr = address;
    return a;
}

const char* addressText(uint32_t address)
{
    static char text[INET_ADDRSTRLEN];
    const in_addr a = asAddress(address);
    return inet_ntop(AF_INET, &a, text, sizeof text) ? text : "?";
}

void onConnEvent(int fd, short revents, void*);
void onListener(int fd, short, void*);

class UnixLinkHost final : public LinkHost {
public:
    ConnHandle connectTo(uint32_t address, int32_t port) override
    {
        const int fd = startConnectTo(asAddress(address), port);
        if (fd >= 0) watchFd(fd, POLLIN | POLLOUT, onConnEvent, nullptr);
        return fd;
    }

    ConnHandle listenOn(int32_t port) override
    {
        const int fd = openListener(port);
        if (fd >= 0) {
            watchFd(fd, POLLIN, onListener, nullptr);
            logVerbose("listening on port %d", port);
            return fd;
        }
        static bool lowPortSaid = false;  // one line for both ports
        if (errno == EACCES && port < LOWEST_OPEN_PORT) {
            if (!lowPortSaid)
                logLine("cannot listen on port %d: a normal user may not listen below 1024. Install the skiprail "
                        "package (it grants the program cap_net_bind_service), or set the same port above 1023 on "
                        "both PCs (--port). Meanwhile this PC links by connecting to its partner.",
                        port);
            lowPortSaid = true;
        } else {
            logLine("cannot listen on port %d: %s%s", port, strerror(errno),
                    errno == EADDRINUSE ? " (is skiprail running already?)" : "");
        }
        return NO_CONN;
    }

    int32_t write(ConnHandle conn, const uint8_t* data, int32_t n) override
    {
        return writeSome(static_cast<int>(conn), data, static_cast<size_t>(n));
    }

    void waitWritable(ConnHandle conn, bool wait) override
    {
        watchFd(static_cast<int>(conn), static_cast<short>(POLLIN | (wait ? POLLOUT : 0)), onConnEvent, nullptr);
    }

    void closeConn(ConnHandle conn) override
    {
        forgetFd(static_cast<int>(conn));
        close(static_cast<int>(conn));
    }

    LookUp lookUp(LinkLife& link, uint32_t* address) override
    {
        in_addr found = {};
        if (!resolvePartner(link.host, &found)) return LookUp::Failed;
        *address = found.s_addr;
        return LookUp::Found;
    }

    bool isPartner(const LinkLife& link, uint32_t peer) override
    {
        return isPartnerAddress(link.host, asAddress(peer));
    }

    bool isOwnAddress(uint32_t address) override
    {
        return isLocalAddress(asAddress(address));
    }

    LinkCipher* newCipher() override
    {
        return new OpenSslCipher();
    }

    void freeCipher(LinkCipher* cipher) override
    {
        delete static_cast<OpenSslCipher*>(cipher);
    }

    void linkUp(LinkLife& link) override
    {
        (role.quiet(link.index) ? logVerbose : logLine)("linked with %s on port %d%s", role.name(link.index),
                                                        link.port,
                                                        lifeKeyed(link, LINK_CONTROL) ? ", protected by the link key" : "");
        role.up(link.index);
    }

    void linkLost(LinkLife& link, const char* why, bool wasUp) override
    {
        role.lost(link.index, why, wasUp);
        // A partner that asks for a link key this side lacks links for a
        // moment at each of its tries: that was said once, and is not said
        // again each time.
        if (wasUp && !role.quiet(link.index))
            logLine("link with %s lost (%s); every key and button released", role.name(link.index), why);
        else
            logVerbose("control connection to %s ended (%s)", role.name(link.index), why);
    }

    void clipboardFresh(LinkLife& link) override
    {
        role.clipboardFresh(link.index);
    }

    void received(LinkLife& link, int channel, const uint8_t* data, size_t n) override
    {
        role.received(link.index, channel, data, n);
    }

    void drained(LinkLife& link, int channel) override
    {
        role.drained(link.index, channel);
    }

    void note(LinkNote what, const LinkLife* link, const char* detail) override
    {
        const char* who = link ? role.name(link->index) : "the partner";
        switch (what) {
        case LinkNote::Connected:
            logVerbose("connected to %s at %s:%d", who, link ? addressText(link->address) : "?", link ? link->port : 0);
            break;
        case LinkNote::Stranger: logVerbose("%s closed: not a partner", detail); break;
        case LinkNote::Accepted: logVerbose("%s accepted", detail); break;
        case LinkNote::KeyProven: logVerbose("%s proved the link key on the %s connection", who, detail); break;
        case LinkNote::KeyNotProven:
            logLine("the partner did not prove the link key, so Skiprail does not link with it: both PCs need the "
                    "same key (\"Link Key...\" on a Windows PC, --key-file here)");
            break;
        case LinkNote::ClipboardEnded:
            logVerbose("clipboard connection to %s ended (%s)", who, detail);
            if (link) role.clipboardEnded(link->index);
            break;
        case LinkNote::ClipboardFailed:
            logLine("the clipboard connection to %s could not be made: %s", who, detail ? detail : "no socket");
            break;
        case LinkNote::ConnectFailed:
            logVerbose("the connect to %s at %s failed: %s", who, link ? addressText(link->address) : "?", detail);
            break;
        }
    }
};

UnixLinkHost host;

void onListener(int fd, short, void*)
{
    for (;;) {
        in_addr peer = {};
        const int accepted = acceptFrom(fd, &peer);
        if (accepted < 0) return;
        watchFd(accepted, POLLIN, onConnEvent, nullptr);  // a stranger's is closed, and forgotten, at once
        lifeAccepted(engine, fd, accepted, peer.s_addr, nowMs());
    }
}

void onConnEvent(int fd, short revents, void*)
{
    if (lifeConnecting(engine, fd)) {
        const int error = connectResult(fd);
        if (error == 0 && !(revents & POLLOUT)) return;
        lifeConnected(engine, fd, error, strerror(error), nowMs());
        return;
    }
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        static uint8_t raw[READ_SIZE];
        const ssize_t n = recv(fd, raw, sizeof raw, 0);
        if (n > 0) lifeReceived(engine, fd, raw, static_cast<size_t>(n), nowMs());
        else if (n == 0) lifeClosed(engine, fd, "the partner closed it", nowMs());
        else if (errno != EAGAIN && errno != EINTR) lifeClosed(engine, fd, strerror(errno), nowMs());
        // The connection may be gone now, its number with it.
        if (!lifeHolds(engine, fd)) return;
    }
    if (revents & POLLOUT) lifeWritable(engine, fd, nowMs());
}

LinkLife* at(int32_t index)
{
    return index >= 0 && index < LIFE_MAX_LINKS ? &engine.links[index] : nullptr;
}

}  // namespace

void linksStart(const LinkUser& given, bool master, const uint8_t* stretched)
{
    role = given;
    lifeInit(engine, &host, master);
    lifeSetKey(engine, stretched);
}

void linksAdd(int32_t index, const std::string& partner, int32_t port)
{
    lifeStart(engine, index, partner.c_str(), port, nowMs());
}

void linksEnd()
{
    lifeEnd(engine);
}

int32_t linksWaitMs()
{
    int64_t now = nowMs();
    int64_t next = lifeNextWake(engine);
    if (next >= 0 && next <= now) {
        lifeTick(engine, now);
        now = nowMs();
        next = lifeNextWake(engine);
    }
    if (next < 0) return -1;
    return next <= now ? 0 : static_cast<int32_t>(next - now);
}

bool linkQueue(int32_t index, int channel, const void* data, size_t n)
{
    LinkLife* link = at(index);
    return link && lifeQueue(engine, *link, channel, data, n);
}

bool linkFlush(int32_t index, int channel)
{
    LinkLife* link = at(index);
    return link && lifeFlush(engine, *link, channel);
}

size_t linkPending(int32_t index, int channel)
{
    const LinkLife* link = at(index);
    return link ? lifePending(*link, channel) : 0;
}

bool linkUp(int32_t index, int channel)
{
    const LinkLife* link = at(index);
    return link && lifeUp(*link, channel) && (channel != LINK_CONTROL || link->linked);
}

bool linkOpen(int32_t index, int channel)
{
    const LinkLife* link = at(index);
    return link && lifeOpen(*link, channel);
}

bool linkKeyed(int32_t index)
{
    const LinkLife* link = at(index);
    return link && lifeKeyed(*link, LINK_CONTROL);
}

int linkControlFd(int32_t index)
{
    return linkUp(index, LINK_CONTROL) ? static_cast<int>(engine.links[index].live[LINK_CONTROL].handle) : -1;
}

void linkUnanswered(int32_t index, bool waiting, int64_t since)
{
    if (LinkLife* link = at(index)) lifeWaiting(*link, waiting ? since : -1);
}
