// The Linux Slave's link to its Master: the link engine, fed from poll()
// with what the sockets did and the time, acting through the sockets here.
// Every cut releases every key and button.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unix/log.h"
#include "unix/loop.h"
#include "unix/openssl_cipher.h"
#include "unix/slave.h"
#include "unix/sockets.h"
#include "unix/desk.h"

Slave slave;

namespace {

constexpr int32_t LOWEST_OPEN_PORT = 1024;
// One read takes at most this much: a long clipboard transfer goes in few reads.
constexpr size_t READ_SIZE = 256 * 1024;

LinkEngine engine;

LinkLife& master()
{
    return engine.links[0];
}

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

void releaseEverything()
{
    desk().releaseAll();
    desk().flush();
    slave.partnerDriving = false;
}

class SlaveHost final : public LinkHost {
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
                        "both PCs (--port). Meanwhile this PC links by connecting to its Master.",
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
        inboxReset(slave.inbox);
        desk().linkUp();
        (slave.plainNoticeGiven ? logVerbose : logLine)("linked with %s on port %d%s", slave.partner.c_str(),
                                                        slave.port,
                                                        lifeKeyed(link, LINK_CONTROL) ? ", protected by the link key" : "");
        announceLink();
    }

    void linkLost(LinkLife&, const char* why, bool wasUp) override
    {
        releaseEverything();
        desk().linkDown();
        // A Master that asks for a link key this side lacks links for a moment
        // at each of its tries: that was said once, and is not said again each time.
        if (wasUp && !slave.plainNoticeGiven)
            logLine("link with %s lost (%s); every key and button released", slave.partner.c_str(), why);
        else
            logVerbose("control connection ended (%s)", why);
    }

    void clipboardFresh(LinkLife&) override
    {
        clipboardConnectionUp();
    }

    void received(LinkLife&, int channel, const uint8_t* data, size_t n) override
    {
        if (channel == LINK_CONTROL) onControlBytes(data, n);
        else onClipboardBytes(data, n);
    }

    void drained(LinkLife&, int channel) override
    {
        if (channel == LINK_CLIPBOARD) continueClipboardSend();
    }

    void note(LinkNote what, const LinkLife*, const char* detail) override
    {
        switch (what) {
        case LinkNote::Connected:
            logVerbose("connected to %s:%d", addressText(master().address), slave.port);
            break;
        case LinkNote::Stranger: logVerbose("%s closed: not the partner", detail); break;
        case LinkNote::Accepted: logVerbose("%s accepted", detail); break;
        case LinkNote::KeyProven: logVerbose("the partner proved the link key on the %s connection", detail); break;
        case LinkNote::KeyNotProven:
            logLine("the partner did not prove the link key, so Skiprail does not link with it: both PCs need the "
                    "same key (the Master's \"Link Key...\" dialog, and --key-file here)");
            break;
        case LinkNote::ClipboardEnded: logVerbose("clipboard connection ended (%s)", detail); break;
        case LinkNote::ClipboardFailed: logLine("the clipboard connection could not be made: %s", detail ? detail : "no socket"); break;
        case LinkNote::ConnectFailed:
            logVerbose("the connect to %s (%s) failed: %s", slave.partner.c_str(), addressText(master().address),
                       detail);
            break;
        }
    }
};

SlaveHost host;

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

}  // namespace

void startLink(const std::string& partner, int32_t port, const uint8_t* stretched)
{
    slave.partner = partner;
    slave.port = port;
    lifeInit(engine, &host, false);
    lifeSetKey(engine, stretched);
    lifeStart(engine, 0, partner.c_str(), port, nowMs());
}

void endLink()
{
    lifeEnd(engine);
}

int32_t linkWaitMs()
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

bool partnerQueue(int channel, const void* data, size_t n)
{
    return lifeQueue(engine, master(), channel, data, n);
}

bool partnerFlush(int channel)
{
    return lifeFlush(engine, master(), channel);
}

size_t partnerPending(int channel)
{
    return lifePending(master(), channel);
}

bool partnerUp(int channel)
{
    return lifeUp(master(), channel) && (channel != LINK_CONTROL || master().linked);
}

bool partnerOpen(int channel)
{
    return lifeOpen(master(), channel);
}

int controlFd()
{
    return lifeUp(master(), LINK_CONTROL) ? static_cast<int>(master().live[LINK_CONTROL].handle) : -1;
}
