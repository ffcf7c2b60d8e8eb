#include "link/link_life.h"

#include <cstring>

namespace {

const char* channelName(int channel)
{
    return channel == LINK_CONTROL ? "control" : "clipboard";
}

int32_t portOf(const LinkLife& link, int channel)
{
    return link.port + (channel == LINK_CONTROL ? 0 : 1);
}

int32_t nextDelay(int32_t delay)
{
    return delay == 0 ? RETRY_FIRST_MS : delay * 2 > RETRY_LONGEST_MS ? RETRY_LONGEST_MS : delay * 2;
}

// Appends `text` to `out` (of `room` bytes, always ended); no printf, whose
// library takes more of the system than the oldest Windows has.
void append(char* out, size_t room, const char* text)
{
    size_t at = std::strlen(out);
    for (; *text && at + 1 < room; ++text) out[at++] = *text;
    out[at] = 0;
}

// "WHAT CHANNEL from a.b.c.d" for an IPv4 address in network order, in `text`.
const char* fromAddress(char (&text)[64], const char* what, const char* channel, uint32_t address)
{
    text[0] = 0;
    append(text, sizeof text, what);
    append(text, sizeof text, channel);
    append(text, sizeof text, " connection from ");
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
    for (int i = 0; i < 4; ++i) {
        char number[5] = {};
        int n = 0;
        if (b[i] >= 100) number[n++] = static_cast<char>('0' + b[i] / 100);
        if (b[i] >= 10) number[n++] = static_cast<char>('0' + b[i] / 10 % 10);
        number[n++] = static_cast<char>('0' + b[i] % 10);
        if (i < 3) number[n] = '.';
        append(text, sizeof text, number);
    }
    return text;
}

bool sooner(int64_t at, int64_t than)
{
    return at >= 0 && (than < 0 || at < than);
}

void freeConn(LinkEngine& engine, LifeConn& conn)
{
    connFree(*engine.host, conn);
}

bool flushConn(LinkEngine& engine, LifeConn& conn)
{
    return connFlush(*engine.host, conn);
}

bool holds(const LifeConn& conn, ConnHandle handle)
{
    return handle != NO_CONN && conn.handle == handle;
}

// The link and channel whose live connection or newcomer is `handle`.
LinkLife* find(LinkEngine& engine, ConnHandle handle, int* channel, bool* newcomer)
{
    for (LinkLife& link : engine.links) {
        for (int c = 0; c < 2; ++c) {
            if (holds(link.live[c], handle) || holds(link.newcomer[c], handle)) {
                *channel = c;
                *newcomer = holds(link.newcomer[c], handle);
                return &link;
            }
        }
    }
    return nullptr;
}

const LinkEngine::Listener* listenerOf(const LinkEngine& engine, int32_t port)
{
    for (int32_t i = 0; i < engine.listenerCount; ++i)
        if (engine.listeners[i].port == port) return &engine.listeners[i];
    return nullptr;
}

// Each port is listened on once; a port that cannot be had leaves this side
// linking by connecting out.
void listenOn(LinkEngine& engine, const LinkLife& link, int channel)
{
    const int32_t port = portOf(link, channel);
    if (listenerOf(engine, port) || engine.listenerCount >= 2 * LIFE_MAX_LINKS) return;
    LinkEngine::Listener& entry = engine.listeners[engine.listenerCount++];
    entry.port = port;
    entry.channel = channel;
    entry.handle = engine.host->listenOn(port);
}

void listenOnBoth(LinkEngine& engine, const LinkLife& link)
{
    listenOn(engine, link, LINK_CONTROL);
    listenOn(engine, link, LINK_CLIPBOARD);
}

bool controlListening(const LinkEngine& engine, const LinkLife& link)
{
    const LinkEngine::Listener* entry = listenerOf(engine, link.port);
    return entry && entry->handle != NO_CONN;
}

// A Master tries a partner it has no link with again, a little later each
// time. A Slave listens and waits for its Master, so the two never race each
// other: only one that cannot listen tries again, as a Master does.
void scheduleReconnect(LinkEngine& engine, LinkLife& link)
{
    if (!link.present || link.linked || link.live[LINK_CONTROL].handle != NO_CONN || link.lookingUp ||
        link.reconnectAt >= 0)
        return;
    if (!engine.master && controlListening(engine, link)) return;
    link.reconnectDelay = nextDelay(link.reconnectDelay);
    link.reconnectAt = engine.now + link.reconnectDelay;
}

// Made again by the side that made it, while the control connection is there.
void scheduleClipboardRetry(LinkEngine& engine, LinkLife& link)
{
    if (link.live[LINK_CLIPBOARD].handle != NO_CONN || !link.clipboardConnector ||
        link.live[LINK_CONTROL].handle == NO_CONN)
        return;
    link.clipboardRetryDelay = nextDelay(link.clipboardRetryDelay);
    link.clipboardRetryAt = engine.now + link.clipboardRetryDelay;
}

void linkUp(LinkEngine& engine, LinkLife& link)
{
    link.linked = true;
    link.reconnectAt = -1;
    link.reconnectDelay = 0;
    link.unansweredSince = -1;
    engine.host->linkUp(link);
}

void controlLost(LinkEngine& engine, LinkLife& link, const char* why)
{
    const bool wasUp = link.linked;
    link.linked = false;
    link.unansweredSince = -1;
    freeConn(engine, link.live[LINK_CONTROL]);
    link.clipboardRetryAt = -1;
    link.clipboardRetryDelay = 0;
    // The partner's next connections come here; a clipboard connection still
    // up keeps its port until it ends too.
    listenOn(engine, link, LINK_CONTROL);
    if (link.live[LINK_CLIPBOARD].handle == NO_CONN) listenOn(engine, link, LINK_CLIPBOARD);
    scheduleReconnect(engine, link);
    engine.host->linkLost(link, why, wasUp);
}

void clipboardLost(LinkEngine& engine, LinkLife& link, const char* why)
{
    freeConn(engine, link.live[LINK_CLIPBOARD]);
    engine.host->note(LinkNote::ClipboardEnded, &link, why);
    listenOn(engine, link, LINK_CLIPBOARD);
    scheduleClipboardRetry(engine, link);
    engine.host->clipboardFresh(link);  // what was half sent or half received goes with it
}

void lost(LinkEngine& engine, LinkLife& link, int channel, const char* why)
{
    if (channel == LINK_CONTROL) controlLost(engine, link, why);
    else clipboardLost(engine, link, why);
}

// A connection that did not prove the link key ends as a close would. The
// user hears once that the partner did not prove it; a newcomer beside a
// live link goes without a word.
void refuse(LinkEngine& engine, LinkLife& link, int channel, bool newcomer)
{
    if (newcomer) {
        freeConn(engine, link.newcomer[channel]);
        return;
    }
    const bool proven = link.live[channel].proven;
    if (!proven && !engine.keyNoticeGiven) {
        engine.keyNoticeGiven = true;
        engine.host->note(LinkNote::KeyNotProven, &link, channelName(channel));
    }
    lost(engine, link, channel, proven ? "a record failed its check" : "the link key was not proven");
}

// Starts the connection's session: a handshake with a key, given
// HANDSHAKE_DEADLINE_MS; false when it failed at once.
bool startSession(LinkEngine& engine, LifeConn& conn, LinkRole role)
{
    conn.deadline = engine.now + HANDSHAKE_DEADLINE_MS;
    return connStart(*engine.host, conn, role, engine.key);
}

// A connection is in its slot: plain, it is up now; with a key, once the
// partner proves it. False when it failed at once (and is gone).
bool begin(LinkEngine& engine, LinkLife& link, int channel, LinkRole role)
{
    if (!engine.keySet) {
        if (channel == LINK_CONTROL) {
            linkUp(engine, link);
        } else {
            link.clipboardWasUp = true;
            engine.host->clipboardFresh(link);
        }
        return true;
    }
    if (startSession(engine, link.live[channel], role)) return true;
    refuse(engine, link, channel, false);
    return false;
}

void goOut(LinkEngine& engine, LifeConn& conn, ConnHandle handle)
{
    conn = LifeConn();
    conn.handle = handle;
    conn.connecting = true;
    conn.deadline = engine.now + CONNECT_DEADLINE_MS;
    engine.host->waitWritable(handle, true);
}

void connectClipboard(LinkEngine& engine, LinkLife& link)
{
    link.clipboardRetryAt = -1;
    if (link.live[LINK_CONTROL].handle == NO_CONN || link.live[LINK_CLIPBOARD].handle != NO_CONN) return;
    const ConnHandle handle =
        link.addressKnown ? engine.host->connectTo(link.address, portOf(link, LINK_CLIPBOARD)) : NO_CONN;
    if (handle == NO_CONN) {
        scheduleClipboardRetry(engine, link);
        return;
    }
    goOut(engine, link.live[LINK_CLIPBOARD], handle);
}

// A try at the partner's address, unless it is this PC's own while this PC
// listens on the port: a connect there would only reach this PC itself.
void connectAgain(LinkEngine& engine, LinkLife& link, uint32_t address)
{
    link.address = address;
    link.addressKnown = true;
    ConnHandle handle = NO_CONN;
    if (!(controlListening(engine, link) && engine.host->isOwnAddress(address)))
        handle = engine.host->connectTo(address, link.port);
    if (handle == NO_CONN) {
        listenOnBoth(engine, link);
        scheduleReconnect(engine, link);
        return;
    }
    goOut(engine, link.live[LINK_CONTROL], handle);
}

void tryPartner(LinkEngine& engine, LinkLife& link)
{
    link.reconnectAt = -1;
    if (!link.present || link.linked || link.live[LINK_CONTROL].handle != NO_CONN || link.lookingUp) return;
    uint32_t address = 0;
    switch (engine.host->lookUp(link, &address)) {
    case LookUp::Found: connectAgain(engine, link, address); break;
    case LookUp::Later: link.lookingUp = true; break;
    case LookUp::Failed:
        engine.host->note(LinkNote::ConnectFailed, &link, "the partner's name cannot be looked up now");
        listenOnBoth(engine, link);
        scheduleReconnect(engine, link);
        break;
    }
}

// The control connection came through: the session begins, and this side
// makes the clipboard connection, in place of any left from before.
void controlConnected(LinkEngine& engine, LinkLife& link)
{
    LifeConn& conn = link.live[LINK_CONTROL];
    conn.connecting = false;
    conn.deadline = -1;
    engine.host->waitWritable(conn.handle, false);
    engine.host->note(LinkNote::Connected, &link, nullptr);
    freeConn(engine, link.live[LINK_CLIPBOARD]);
    link.clipboardConnector = true;
    link.clipboardWasUp = false;
    link.clipboardRetryDelay = 0;
    link.clipboardRetryAt = -1;
    if (begin(engine, link, LINK_CONTROL, LinkRole::Connector)) connectClipboard(engine, link);
}

// The newcomer proved the key: the partner came back (after a restart, or
// over a link this side had not yet found dead). It takes the live one's
// place; whatever the one that is gone held down goes up.
void takeOver(LinkEngine& engine, LinkLife& link, int channel)
{
    const LifeConn conn = link.newcomer[channel];  // its queues and session go with it
    link.newcomer[channel] = LifeConn();
    freeConn(engine, link.live[channel]);
    link.live[channel] = conn;
    link.clipboardConnector = false;  // the partner made this connection
    link.clipboardRetryAt = -1;
    link.clipboardRetryDelay = 0;
    if (channel == LINK_CLIPBOARD) {
        engine.host->clipboardFresh(link);
        return;
    }
    const ConnHandle handle = link.live[LINK_CONTROL].handle;
    const bool wasUp = link.linked;
    link.linked = false;
    engine.host->linkLost(link, "the partner came back on a new connection", wasUp);
    if (holds(link.live[LINK_CONTROL], handle) && !link.live[LINK_CONTROL].failed) linkUp(engine, link);
}

// A connection the partner made. With the live one proven, the newcomer
// must prove the key beside it first; otherwise it takes its place at once.
void acceptPartner(LinkEngine& engine, LinkLife& link, int channel, ConnHandle handle)
{
    LifeConn& live = link.live[channel];
    if (live.handle != NO_CONN && live.keyed && live.proven && engine.keySet) {
        freeConn(engine, link.newcomer[channel]);  // one still unproven gives way to the latest
        link.newcomer[channel].handle = handle;
        if (!startSession(engine, link.newcomer[channel], LinkRole::Acceptor)) refuse(engine, link, channel, true);
        return;
    }
    const bool replaced = live.handle != NO_CONN;
    freeConn(engine, live);
    link.live[channel].handle = handle;
    link.clipboardConnector = false;  // the partner makes the clipboard connection
    link.clipboardRetryAt = -1;
    link.clipboardRetryDelay = 0;
    if (channel == LINK_CONTROL && replaced) {
        // The connection it replaces may have had keys down.
        const bool wasUp = link.linked;
        link.linked = false;
        engine.host->linkLost(link, "the partner connected anew", wasUp);
        if (!holds(link.live[channel], handle)) return;
    }
    begin(engine, link, channel, LinkRole::Acceptor);
}

}  // namespace

void lifeInit(LinkEngine& engine, LinkHost* host, bool master)
{
    lifeEnd(engine);
    engine.host = host;
    engine.master = master;
    for (int32_t i = 0; i < LIFE_MAX_LINKS; ++i) engine.links[i].index = i;
}

void lifeSetKey(LinkEngine& engine, const uint8_t* stretched)
{
    engine.keySet = stretched != nullptr;
    for (int32_t i = 0; i < LINK_KEY_STRETCHED; ++i) engine.key[i] = stretched ? stretched[i] : 0;
}

void lifeStart(LinkEngine& engine, int32_t index, const char* host, int32_t port, int64_t now)
{
    engine.now = now;
    if (index < 0 || index >= LIFE_MAX_LINKS) return;
    LinkLife& link = engine.links[index];
    link.present = host && host[0] && port >= 1 && port <= 65534;
    size_t n = 0;
    for (; host && host[n] && n + 1 < sizeof link.host; ++n) link.host[n] = host[n];
    link.host[n] = 0;
    link.port = port;
    link.reconnectDelay = 0;
    tryPartner(engine, link);
}

void lifeStop(LinkEngine& engine, int32_t index, int64_t now)
{
    engine.now = now;
    if (index < 0 || index >= LIFE_MAX_LINKS) return;
    LinkLife& link = engine.links[index];
    link.present = false;
    link.lookingUp = false;
    link.reconnectAt = link.clipboardRetryAt = -1;
    link.reconnectDelay = link.clipboardRetryDelay = 0;
    freeConn(engine, link.newcomer[LINK_CONTROL]);
    freeConn(engine, link.newcomer[LINK_CLIPBOARD]);
    if (link.live[LINK_CLIPBOARD].handle != NO_CONN) {
        freeConn(engine, link.live[LINK_CLIPBOARD]);
        engine.host->clipboardFresh(link);
    }
    if (link.live[LINK_CONTROL].handle != NO_CONN) {
        const bool wasUp = link.linked;
        link.linked = false;
        freeConn(engine, link.live[LINK_CONTROL]);
        engine.host->linkLost(link, "the partner was taken off the desk", wasUp);
    }
}

void lifeCut(LinkEngine& engine, int32_t index, const char* why, int64_t now)
{
    engine.now = now;
    if (index < 0 || index >= LIFE_MAX_LINKS) return;
    LinkLife& link = engine.links[index];
    freeConn(engine, link.newcomer[LINK_CONTROL]);
    freeConn(engine, link.newcomer[LINK_CLIPBOARD]);
    if (link.live[LINK_CLIPBOARD].handle != NO_CONN) clipboardLost(engine, link, why);
    if (link.live[LINK_CONTROL].handle != NO_CONN) controlLost(engine, link, why);
}

void lifeListen(LinkEngine& engine, int32_t index)
{
    if (index >= 0 && index < LIFE_MAX_LINKS) listenOnBoth(engine, engine.links[index]);
}

bool lifeListener(const LinkEngine& engine, ConnHandle handle, int* channel)
{
    for (int32_t i = 0; i < engine.listenerCount; ++i) {
        if (handle == NO_CONN || engine.listeners[i].handle != handle) continue;
        *channel = engine.listeners[i].channel;
        return true;
    }
    return false;
}

void lifeEnd(LinkEngine& engine)
{
    if (!engine.host) return;
    for (LinkLife& link : engine.links) {
        for (int c = 0; c < 2; ++c) {
            freeConn(engine, link.newcomer[c]);
            freeConn(engine, link.live[c]);
        }
        link.linked = false;
        link.reconnectAt = link.clipboardRetryAt = -1;
    }
    for (int32_t i = 0; i < engine.listenerCount; ++i)
        if (engine.listeners[i].handle != NO_CONN) engine.host->closeConn(engine.listeners[i].handle);
    engine.listenerCount = 0;
}

void lifeConnected(LinkEngine& engine, ConnHandle handle, int error, const char* why, int64_t now)
{
    engine.now = now;
    int channel = 0;
    bool newcomer = false;
    LinkLife* link = find(engine, handle, &channel, &newcomer);
    if (!link || newcomer || !link->live[channel].connecting) return;
    if (error != 0) {
        link->live[channel].connecting = false;
        if (channel == LINK_CLIPBOARD && !link->clipboardWasUp && !engine.retryFirstClipboard) {
            // Said once; control goes on without a clipboard connection.
            freeConn(engine, link->live[LINK_CLIPBOARD]);
            engine.host->note(LinkNote::ClipboardFailed, link, why);
            return;
        }
        engine.host->note(LinkNote::ConnectFailed, link, why);
        lost(engine, *link, channel, why);
        return;
    }
    if (channel == LINK_CONTROL) {
        controlConnected(engine, *link);
        return;
    }
    LifeConn& conn = link->live[LINK_CLIPBOARD];
    conn.connecting = false;
    conn.deadline = -1;
    engine.host->waitWritable(handle, false);
    link->clipboardRetryDelay = 0;
    begin(engine, *link, LINK_CLIPBOARD, LinkRole::Connector);
}

void lifeAccepted(LinkEngine& engine, ConnHandle listener, ConnHandle handle, uint32_t peer, int64_t now)
{
    engine.now = now;
    int32_t port = 0;
    int listened = LINK_CONTROL;
    for (int32_t i = 0; i < engine.listenerCount; ++i)
        if (engine.listeners[i].handle == listener) port = engine.listeners[i].port, listened = engine.listeners[i].channel;
    // Several partners may share a port (on separate computers): the
    // partner's address says whose connection it is.
    for (LinkLife& link : engine.links) {
        if (!link.present || port == 0) continue;
        for (int channel = 0; channel < 2; ++channel) {
            if (portOf(link, channel) != port || !engine.host->isPartner(link, peer)) continue;
            char text[64];
            engine.host->note(LinkNote::Accepted, &link, fromAddress(text, "", channelName(channel), peer));
            acceptPartner(engine, link, channel, handle);
            return;
        }
    }
    // With one partner its address alone counts: a listener keeps the port
    // it was started on when the settings name another.
    int32_t present = 0;
    LinkLife* only = nullptr;
    for (LinkLife& link : engine.links)
        if (link.present) ++present, only = &link;
    if (present == 1 && port != 0 && engine.host->isPartner(*only, peer)) {
        acceptPartner(engine, *only, listened, handle);
        return;
    }
    // Before it can type on this PC, or say anything.
    engine.host->closeConn(handle);
    char text[64];
    engine.host->note(LinkNote::Stranger, nullptr, fromAddress(text, "a", "", peer));
}

void lifeReceived(LinkEngine& engine, ConnHandle handle, const uint8_t* data, size_t n, int64_t now)
{
    engine.now = now;
    int channel = 0;
    bool newcomer = false;
    LinkLife* found = find(engine, handle, &channel, &newcomer);
    if (!found || n == 0) return;
    LinkLife& link = *found;
    LifeConn* conn = newcomer ? &link.newcomer[channel] : &link.live[channel];
    if (conn->connecting) return;  // nothing comes before the connect's result
    if (!conn->keyed) {
        engine.host->received(link, channel, data, n);
        return;
    }
    ByteQueue plain;
    bool proven = false;
    const bool failed = !connOpen(*engine.host, *conn, data, n, &plain, &proven);
    if (proven) {
        conn->deadline = -1;
        engine.host->note(LinkNote::KeyProven, &link, channelName(channel));
        if (channel == LINK_CLIPBOARD) link.clipboardWasUp = true;
        if (newcomer) takeOver(engine, link, channel);
        else if (channel == LINK_CONTROL) linkUp(engine, link);
        else engine.host->clipboardFresh(link);
        newcomer = false;
    }
    if (failed) {
        queueFree(plain);
        if (holds(link.live[channel], handle) || holds(link.newcomer[channel], handle))
            refuse(engine, link, channel, holds(link.newcomer[channel], handle));
        return;
    }
    if (queueSize(plain) > 0 && holds(link.live[channel], handle))
        engine.host->received(link, channel, queueFront(plain), queueSize(plain));
    queueFree(plain);
    // A transfer that waited for the handshake goes now.
    if (proven && channel == LINK_CLIPBOARD && holds(link.live[channel], handle)) engine.host->drained(link, channel);
}

void lifeClosed(LinkEngine& engine, ConnHandle handle, const char* why, int64_t now)
{
    engine.now = now;
    int channel = 0;
    bool newcomer = false;
    LinkLife* link = find(engine, handle, &channel, &newcomer);
    if (!link) return;
    if (newcomer) freeConn(engine, link->newcomer[channel]);
    else lost(engine, *link, channel, why);
}

void lifeWritable(LinkEngine& engine, ConnHandle handle, int64_t now)
{
    engine.now = now;
    int channel = 0;
    bool newcomer = false;
    LinkLife* found = find(engine, handle, &channel, &newcomer);
    if (!found) return;
    LinkLife& link = *found;
    LifeConn& conn = newcomer ? link.newcomer[channel] : link.live[channel];
    if (conn.connecting) return;
    if (!flushConn(engine, conn)) {
        if (newcomer) refuse(engine, link, channel, true);
        else lost(engine, link, channel, "a send failed");
        return;
    }
    if (!newcomer && channel == LINK_CLIPBOARD && lifeUp(link, channel)) engine.host->drained(link, channel);
}

void lifeLookedUp(LinkEngine& engine, int32_t index, bool found, uint32_t address, int64_t now)
{
    engine.now = now;
    if (index < 0 || index >= LIFE_MAX_LINKS) return;
    LinkLife& link = engine.links[index];
    if (!link.lookingUp) return;
    link.lookingUp = false;
    if (!link.present || link.linked || link.live[LINK_CONTROL].handle != NO_CONN) return;
    if (found) {
        connectAgain(engine, link, address);
    } else {
        listenOnBoth(engine, link);
        scheduleReconnect(engine, link);
    }
}

void lifeTick(LinkEngine& engine, int64_t now)
{
    engine.now = now;
    for (LinkLife& link : engine.links) {
        if (link.reconnectAt >= 0 && link.reconnectAt <= now) tryPartner(engine, link);
        if (link.clipboardRetryAt >= 0 && link.clipboardRetryAt <= now) connectClipboard(engine, link);
        for (int channel = 0; channel < 2; ++channel) {
            if (link.newcomer[channel].deadline >= 0 && link.newcomer[channel].deadline <= now)
                refuse(engine, link, channel, true);
            LifeConn& conn = link.live[channel];
            if (conn.deadline < 0 || conn.deadline > now) continue;
            conn.deadline = -1;
            if (conn.connecting) {
                conn.connecting = false;
                engine.host->note(LinkNote::ConnectFailed, &link, "the partner did not answer");
                lost(engine, link, channel, "the partner did not answer");
            } else {
                refuse(engine, link, channel, false);
            }
        }
        // The partner stopped answering without closing: it froze, slept or
        // lost its network. This side ends the connection.
        if (engine.master && link.linked && link.unansweredSince >= 0 &&
            now - link.unansweredSince > SILENT_PARTNER_MS)
            controlLost(engine, link, "the partner stopped answering");
    }
}

int64_t lifeNextWake(const LinkEngine& engine)
{
    int64_t next = -1;
    for (const LinkLife& link : engine.links) {
        if (sooner(link.reconnectAt, next)) next = link.reconnectAt;
        if (sooner(link.clipboardRetryAt, next)) next = link.clipboardRetryAt;
        for (int channel = 0; channel < 2; ++channel) {
            if (sooner(link.live[channel].deadline, next)) next = link.live[channel].deadline;
            if (sooner(link.newcomer[channel].deadline, next)) next = link.newcomer[channel].deadline;
        }
        if (engine.master && link.linked && link.unansweredSince >= 0 &&
            sooner(link.unansweredSince + SILENT_PARTNER_MS + 1, next))
            next = link.unansweredSince + SILENT_PARTNER_MS + 1;
    }
    return next;
}

bool lifeQueue(LinkEngine&, LinkLife& link, int channel, const void* data, size_t n)
{
    return connQueue(link.live[channel], data, n);
}

bool lifeFlush(LinkEngine& engine, LinkLife& link, int channel)
{
    LifeConn& conn = link.live[channel];
    if (conn.handle == NO_CONN || conn.connecting) return false;
    if (flushConn(engine, conn)) return true;
    lost(engine, link, channel, "a send failed");
    return false;
}

bool lifeSend(LinkEngine& engine, LinkLife& link, int channel, const void* data, size_t n)
{
    return lifeQueue(engine, link, channel, data, n) && lifeFlush(engine, link, channel);
}

size_t lifePending(const LinkLife& link, int channel)
{
    return connPending(link.live[channel]);
}

bool lifeUp(const LinkLife& link, int channel)
{
    return connUp(link.live[channel]);
}

bool lifeOpen(const LinkLife& link, int channel)
{
    return connOpenFor(link.live[channel]);
}

LinkLife* lifeFind(LinkEngine& engine, ConnHandle handle, int* channel, bool* newcomer)
{
    return find(engine, handle, channel, newcomer);
}

bool lifeHolds(LinkEngine& engine, ConnHandle handle)
{
    int channel = 0;
    bool newcomer = false;
    return find(engine, handle, &channel, &newcomer) != nullptr;
}

bool lifeConnecting(LinkEngine& engine, ConnHandle handle)
{
    int channel = 0;
    bool newcomer = false;
    const LinkLife* link = find(engine, handle, &channel, &newcomer);
    return link && !newcomer && link->live[channel].connecting;
}

bool lifeKeyed(const LinkLife& link, int channel)
{
    return link.live[channel].keyed;
}

void lifeWaiting(LinkLife& link, int64_t since)
{
    link.unansweredSince = since;
}
