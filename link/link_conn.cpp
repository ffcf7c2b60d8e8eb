#include "link/link_conn.h"

#include <cstdlib>
#include <new>

#include "link/link_life.h"

namespace {

// Moves what the session has sealed into the socket's queue; false when
// there is no memory for it.
bool takeSealed(LifeConn& conn)
{
    const int32_t n = linkOutputLength(*conn.session);
    if (n <= 0) return true;
    if (!queueAppend(conn.out, linkOutput(*conn.session), static_cast<size_t>(n))) return false;
    linkOutputTaken(*conn.session, n);
    return true;
}

bool fail(LifeConn& conn)
{
    conn.failed = true;
    return false;
}

}  // namespace

void connFree(LinkHost& host, LifeConn& conn)
{
    if (conn.handle != NO_CONN) host.closeConn(conn.handle);
    if (conn.session) {
        linkReset(*conn.session);
        conn.session->~LinkSession();
        std::free(conn.session);
    }
    if (conn.cipher) host.freeCipher(conn.cipher);
    queueFree(conn.out);
    queueFree(conn.plainOut);
    conn = LifeConn();
}

bool connStart(LinkHost& host, LifeConn& conn, LinkRole role, const uint8_t* key)
{
    conn.keyed = true;
    // Its megabyte of room is taken as it is, untouched until used; no
    // allocation that could throw.
    void* room = std::malloc(sizeof(LinkSession));
    conn.session = room ? new (room) LinkSession : nullptr;
    conn.cipher = host.newCipher();
    if (!conn.session || !conn.cipher || !linkStart(*conn.session, conn.cipher, role, key, LINK_KEY_STRETCHED) ||
        !takeSealed(conn))
        return fail(conn);
    return connFlush(host, conn);
}

bool connFlush(LinkHost& host, LifeConn& conn)
{
    if (conn.failed || conn.handle == NO_CONN) return false;
    if (conn.keyed && conn.proven) {
        while (queueSize(conn.plainOut) > 0) {
            const size_t left = queueSize(conn.plainOut);
            const int32_t step = left < static_cast<size_t>(RECORD_MAX_PLAIN) ? static_cast<int32_t>(left) : RECORD_MAX_PLAIN;
            const int32_t sealed = linkSeal(*conn.session, queueFront(conn.plainOut), step);
            if (sealed <= 0 || !takeSealed(conn)) return fail(conn);
            queueTaken(conn.plainOut, static_cast<size_t>(sealed));
        }
    }
    while (queueSize(conn.out) > 0) {
        const size_t left = queueSize(conn.out);
        const int32_t n = left > (1u << 30) ? (1 << 30) : static_cast<int32_t>(left);
        const int32_t written = host.write(conn.handle, queueFront(conn.out), n);
        if (written < 0) return fail(conn);
        if (written == 0) break;
        queueTaken(conn.out, static_cast<size_t>(written));
    }
    host.waitWritable(conn.handle, queueSize(conn.out) > 0);
    return true;
}

bool connOpen(LinkHost& host, LifeConn& conn, const uint8_t* data, size_t n, ByteQueue* plain, bool* proven)
{
    *proven = false;
    if (conn.failed) return false;
    for (size_t at = 0; at < n;) {
        const size_t left = n - at;
        LinkEvent event = LinkEvent::None;
        const int32_t taken =
            linkFeed(*conn.session, data + at, left > (1u << 30) ? (1 << 30) : static_cast<int32_t>(left), &event);
        at += static_cast<size_t>(taken);
        if (event == LinkEvent::Failed || conn.session->state == LinkState::Failed) return fail(conn);
        if (event == LinkEvent::Proven) *proven = conn.proven = true;
        if (event == LinkEvent::Plaintext) {
            if (!queueAppend(*plain, linkPlain(*conn.session), static_cast<size_t>(linkPlainLength(*conn.session))))
                return fail(conn);
            linkPlainTaken(*conn.session, linkPlainLength(*conn.session));
        }
        if (taken == 0 && event == LinkEvent::None) break;
    }
    if (!takeSealed(conn)) return fail(conn);  // the proof, once the partner's greeting is in
    return connFlush(host, conn);
}

bool connQueue(LifeConn& conn, const void* data, size_t n)
{
    return connOpenFor(conn) && queueAppend(conn.keyed ? conn.plainOut : conn.out, data, n);
}
