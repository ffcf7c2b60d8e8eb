// The Linux Slave's connections, as the Windows Slave's: it first tries its
// partner's control port and listens on both ports when that fails; only the
// partner's address may connect; the side that connected makes the
// clipboard connection and makes it again when it ends alone. A newcomer
// from the partner replaces the live connection (with a link key, once it
// has proved the key). Every cut releases every key and button.
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unix/log.h"
#include "unix/slave.h"
#include "unix/x_side.h"

Slave slave;

namespace {

// A connect that has not come through by then has failed (Windows gives up
// after about 21 s; meanwhile this side would not be listening).
constexpr int32_t CONNECT_DEADLINE_MS = 10000;
// The partner has this long to prove the link key on a new connection.
constexpr int32_t HANDSHAKE_DEADLINE_MS = 5000;
constexpr int32_t LOWEST_OPEN_PORT = 1024;

void onConnEvent(int fd, short revents, void* context);

const char* channelName(int channel)
{
    return channel == CHANNEL_CONTROL ? "control" : "clipboard";
}

int32_t portOf(int channel)
{
    return slave.port + (channel == CHANNEL_CONTROL ? 0 : 1);
}

const char* addressText(in_addr address)
{
    static char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "?";
}

// 1, 2, 4 and then every 8 seconds, as the Windows side waits between tries.
int32_t nextDelay(int32_t delay)
{
    return delay == 0 ? 1000 : delay * 2 > 8000 ? 8000 : delay * 2;
}

void scheduleReconnect();
void listenOn(int channel);

void releaseEverything()
{
    xReleaseAll();
    xFlush();
    slave.partnerDriving = false;
}

void controlLost(const char* why)
{
    const bool wasLinked = slave.controlLinked;
    slave.controlLinked = false;
    releaseEverything();
    connFree(slave.live[CHANNEL_CONTROL]);
    slave.live[CHANNEL_CONTROL] = nullptr;
    timerStop(slave.clipboardRetry);
    slave.clipboardRetryDelay = 0;
    // A Master that asks for a link key this side lacks links for a moment at
    // each of its tries: that was said once, and is not said again each time.
    if (wasLinked && !slave.plainNoticeGiven)
        logLine("link with %s lost (%s); every key and button released", slave.partner.c_str(), why);
    else
        logVerbose("control connection ended (%s)", why);
    listenOn(CHANNEL_CONTROL);
    listenOn(CHANNEL_CLIPBOARD);
    scheduleReconnect();
}

void scheduleClipboardRetry();

void clipboardLost(const char* why)
{
    connFree(slave.live[CHANNEL_CLIPBOARD]);
    slave.live[CHANNEL_CLIPBOARD] = nullptr;
    clipboardConnectionUp();  // what was half sent or half received goes with it
    logVerbose("clipboard connection ended (%s)", why);
    listenOn(CHANNEL_CLIPBOARD);
    scheduleClipboardRetry();
}

// A connection that did not prove the link key ends as a close would. The
// user hears once that the partner did not prove it; a newcomer beside a
// live link goes without a word.
void refuse(Conn* conn)
{
    const int channel = conn->channel;
    if (conn == slave.newcomers[channel]) {
        connFree(conn);
        slave.newcomers[channel] = nullptr;
        return;
    }
    if (!conn->proven && !slave.keyNoticeGiven) {
        slave.keyNoticeGiven = true;
        logLine("the partner did not prove the link key, so Skiprail does not link with it: both PCs need the "
                "same key (the Master's \"Link Key...\" dialog, and --key-file here)");
    }
    const char* why = conn->proven ? "a record failed its check" : "the link key was not proven";
    if (channel == CHANNEL_CONTROL) controlLost(why);
    else clipboardLost(why);
}

void onDeadline(void* context)
{
    Conn* conn = static_cast<Conn*>(context);
    if (!conn->connecting) {
        refuse(conn);
        return;
    }
    // A connect that never came through: as a refused one.
    conn->connecting = false;
    if (conn->channel == CHANNEL_CONTROL) controlLost("the partner did not answer");
    else clipboardLost("the partner did not answer");
}

void linkUp()
{
    slave.controlLinked = true;
    inboxReset(slave.inbox);
    timerStop(slave.reconnect);
    slave.reconnectDelay = 0;
    Conn& control = *slave.live[CHANNEL_CONTROL];
    (slave.plainNoticeGiven ? logVerbose : logLine)("linked with %s on port %d%s", slave.partner.c_str(), slave.port,
                                                    control.keyed ? ", protected by the link key" : "");
    announceLink();
}

// A connection of `channel` is in its slot: its session begins. True when
// it failed at once (and is gone).
bool begin(Conn* conn, LinkRole role)
{
    if (connBegin(*conn, role)) {
        if (conn->channel == CHANNEL_CONTROL) linkUp();
        else clipboardConnectionUp();
        return false;
    }
    if (conn->failed) {
        refuse(conn);
        return true;
    }
    timerStart(conn->deadline, HANDSHAKE_DEADLINE_MS, onDeadline, conn);
    return false;
}

// A connection going out on a channel, given CONNECT_DEADLINE_MS to come through.
void goOut(int fd, ConnChannel channel)
{
    Conn* conn = connNew(fd, channel, onConnEvent, nullptr);
    conn->connecting = true;
    connWatch(*conn);
    slave.live[channel] = conn;
    timerStart(conn->deadline, CONNECT_DEADLINE_MS, onDeadline, conn);
}

void connectClipboard()
{
    timerStop(slave.clipboardRetry);
    if (!slave.controlLinked && !slave.live[CHANNEL_CONTROL]) return;
    const int fd = slave.addressKnown ? startConnectTo(slave.address, portOf(CHANNEL_CLIPBOARD)) : -1;
    if (fd < 0) {
        scheduleClipboardRetry();
        return;
    }
    goOut(fd, CHANNEL_CLIPBOARD);
}

void retryClipboard(void*)
{
    if (slave.live[CHANNEL_CLIPBOARD] || !slave.clipboardConnector) return;
    connectClipboard();
}

// Made again by the side that made it, while the control connection is up.
void scheduleClipboardRetry()
{
    if (slave.live[CHANNEL_CLIPBOARD] || !slave.clipboardConnector || !slave.live[CHANNEL_CONTROL]) return;
    slave.clipboardRetryDelay = nextDelay(slave.clipboardRetryDelay);
    timerStart(slave.clipboardRetry, slave.clipboardRetryDelay, retryClipboard, nullptr);
}

// The control connection came through: the session begins, and this side
// makes the clipboard connection, in place of any left from before.
void controlConnected(Conn* conn)
{
    conn->connecting = false;
    timerStop(conn->deadline);
    connWatch(*conn);
    logVerbose("connected to %s:%d", addressText(slave.address), slave.port);
    connFree(slave.live[CHANNEL_CLIPBOARD]);
    slave.live[CHANNEL_CLIPBOARD] = nullptr;
    slave.clipboardConnector = true;
    slave.clipboardRetryDelay = 0;
    if (begin(conn, LinkRole::Connector)) return;
    connectClipboard();
}

void connectControl()
{
    if (slave.live[CHANNEL_CONTROL]) return;
    int fd = -1;
    if (resolvePartner(slave.partner, &slave.address)) {
        slave.addressKnown = true;
        fd = startConnectTo(slave.address, slave.port);
    } else {
        logVerbose("the partner %s cannot be looked up now", slave.partner.c_str());
    }
    if (fd < 0) {
        listenOn(CHANNEL_CONTROL);
        listenOn(CHANNEL_CLIPBOARD);
        scheduleReconnect();
        return;
    }
    goOut(fd, CHANNEL_CONTROL);
}

void reconnectNow(void*)
{
    connectControl();
}

// A Slave listens and waits for its Master. Only one that cannot listen on
// the control port tries its partner again, as a Master does.
void scheduleReconnect()
{
    if (slave.listeners[CHANNEL_CONTROL] >= 0 || slave.live[CHANNEL_CONTROL] || timerRunning(slave.reconnect)) return;
    slave.reconnectDelay = nextDelay(slave.reconnectDelay);
    timerStart(slave.reconnect, slave.reconnectDelay, reconnectNow, nullptr);
}

// The newcomer proved the key: the partner came back (after a restart, or
// over a link this side had not yet found dead). It takes the live one's place.
void takeOver(int channel)
{
    Conn* conn = slave.newcomers[channel];
    slave.newcomers[channel] = nullptr;
    connFree(slave.live[channel]);
    slave.live[channel] = conn;
    slave.clipboardConnector = false;  // the partner made this connection
    timerStop(slave.clipboardRetry);
    if (channel == CHANNEL_CLIPBOARD) {
        clipboardConnectionUp();
        return;
    }
    releaseEverything();  // what the connection that is gone held down goes up
    linkUp();
}

// A connection the partner made. With the live one proven, it must prove
// the key beside it first; otherwise it takes its place at once.
void acceptPartner(int channel, int fd)
{
    Conn* conn = connNew(fd, channel, onConnEvent, nullptr);
    Conn* live = slave.live[channel];
    if (live && live->keyed && live->proven) {
        connFree(slave.newcomers[channel]);  // one still unproven gives way to the latest
        slave.newcomers[channel] = conn;
        if (connBegin(*conn, LinkRole::Acceptor) || conn->failed) {
            refuse(conn);
            return;
        }
        timerStart(conn->deadline, HANDSHAKE_DEADLINE_MS, onDeadline, conn);
        return;
    }
    if (channel == CHANNEL_CONTROL && live) {
        // The connection it replaces may have had keys down.
        releaseEverything();
        slave.controlLinked = false;
    }
    connFree(live);
    slave.live[channel] = conn;
    slave.clipboardConnector = false;  // the partner makes the clipboard connection
    timerStop(slave.clipboardRetry);
    slave.clipboardRetryDelay = 0;
    begin(conn, LinkRole::Acceptor);
}

void onListener(int fd, short, void* context)
{
    const int channel = static_cast<int>(reinterpret_cast<intptr_t>(context));
    for (;;) {
        in_addr peer = {};
        const int accepted = acceptFrom(fd, &peer);
        if (accepted < 0) return;
        if (!isPartnerAddress(slave.partner, peer)) {
            // Before it can type on this PC, or say anything.
            close(accepted);
            logVerbose("a %s connection from %s closed: not the partner", channelName(channel), addressText(peer));
            continue;
        }
        logVerbose("%s connection from %s accepted", channelName(channel), addressText(peer));
        acceptPartner(channel, accepted);
    }
}

// Each port is listened on once; a port that cannot be had is said once, and
// this side goes on linking by connecting out.
void listenOn(int channel)
{
    if (slave.listenTried[channel]) return;
    slave.listenTried[channel] = true;
    const int32_t port = portOf(channel);
    const int fd = openListener(port);
    if (fd >= 0) {
        slave.listeners[channel] = fd;
        watchFd(fd, POLLIN, onListener, reinterpret_cast<void*>(static_cast<intptr_t>(channel)));
        logVerbose("listening on port %d (%s)", port, channelName(channel));
        return;
    }
    static bool lowPortSaid = false;  // one line for both ports
    if (errno == EACCES && port < LOWEST_OPEN_PORT) {
        if (lowPortSaid) return;
        lowPortSaid = true;
        logLine("cannot listen on port %d: a normal user may not listen below 1024. Install the skiprail package "
                "(it grants the program cap_net_bind_service), or set the same port above 1023 on both PCs "
                "(--port). Meanwhile this PC links by connecting to its Master.",
                port);
    } else {
        logLine("cannot listen on port %d: %s%s", port, strerror(errno),
                errno == EADDRINUSE ? " (is skiprail running already?)" : "");
    }
}

void readFrom(Conn* conn)
{
    const int channel = conn->channel;
    const bool newcomer = conn == slave.newcomers[channel];
    std::string plain;
    bool proven = false;
    const ReadResult result = connRead(*conn, plain, &proven);
    if (proven) {
        timerStop(conn->deadline);
        logVerbose("the partner proved the link key on the %s connection", channelName(channel));
        if (newcomer) takeOver(channel);
        else if (channel == CHANNEL_CONTROL) linkUp();
        else clipboardConnectionUp();
    }
    if (result == ReadResult::Failed) {
        refuse(conn);
        return;
    }
    if (!plain.empty()) {
        if (channel == CHANNEL_CONTROL) onControlBytes(plain);
        else onClipboardBytes(plain);
    }
    if (proven && channel == CHANNEL_CLIPBOARD && slave.live[channel] == conn) continueClipboardSend();
    if (result == ReadResult::Closed && (slave.live[channel] == conn || slave.newcomers[channel] == conn)) {
        if (conn == slave.newcomers[channel]) {
            connFree(conn);
            slave.newcomers[channel] = nullptr;
        } else if (channel == CHANNEL_CONTROL) {
            controlLost("the partner closed it");
        } else {
            clipboardLost("the partner closed it");
        }
    }
}

void onConnEvent(int, short revents, void* context)
{
    Conn* conn = static_cast<Conn*>(context);
    const int channel = conn->channel;
    if (conn->connecting) {
        const int error = connectResult(conn->fd);
        if (error == 0 && (revents & POLLOUT)) {
            if (channel == CHANNEL_CONTROL) {
                controlConnected(conn);
            } else {
                conn->connecting = false;
                timerStop(conn->deadline);
                connWatch(*conn);
                slave.clipboardRetryDelay = 0;
                begin(conn, LinkRole::Connector);
            }
            return;
        }
        if (error == 0) return;
        conn->connecting = false;
        logVerbose("the %s connect to %s failed: %s", channelName(channel), addressText(slave.address), strerror(error));
        if (channel == CHANNEL_CONTROL) controlLost(strerror(error));
        else clipboardLost(strerror(error));
        return;
    }
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        readFrom(conn);
        // The connection may be gone now, and its memory with it.
        if (slave.live[channel] != conn && slave.newcomers[channel] != conn) return;
    }
    if (revents & POLLOUT) {
        if (!connFlush(*conn)) {
            if (conn == slave.newcomers[channel]) refuse(conn);
            else if (channel == CHANNEL_CONTROL) controlLost("a send failed");
            else clipboardLost("a send failed");
            return;
        }
        if (channel == CHANNEL_CLIPBOARD && conn == slave.live[channel]) continueClipboardSend();
    }
}

}  // namespace

void startLink(const std::string& partner, int32_t port)
{
    slave.partner = partner;
    slave.port = port;
    connectControl();
}

void endLink()
{
    for (int channel = 0; channel < 2; ++channel) {
        connFree(slave.newcomers[channel]);
        connFree(slave.live[channel]);
        slave.newcomers[channel] = slave.live[channel] = nullptr;
        if (slave.listeners[channel] >= 0) {
            forgetFd(slave.listeners[channel]);
            close(slave.listeners[channel]);
            slave.listeners[channel] = -1;
        }
    }
    slave.controlLinked = false;
    timerStop(slave.reconnect);
    timerStop(slave.clipboardRetry);
}

void controlBroken()
{
    if (slave.live[CHANNEL_CONTROL]) controlLost("a send failed");
}

void clipboardBroken()
{
    if (slave.live[CHANNEL_CLIPBOARD]) clipboardLost("a send failed");
}
