#include "link/record_layer.h"

#include <cstring>

namespace {

const uint8_t MAGIC[4] = {'S', 'R', 'L', 'K'};
// 2: the link key goes in stretched; a partner of version 1 fails the greeting.
const uint8_t VERSION = 2;
const int32_t RANDOM_OFFSET = 8;
const int32_t RANDOM_SIZE = 32;

// Zeroes key material where the compiler may not drop the stores as dead.
void wipe(void* area, size_t n)
{
    volatile uint8_t* p = static_cast<volatile uint8_t*>(area);
    while (n--) *p++ = 0;
}

void putLittle32(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t little32(const uint8_t* in)
{
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

void makeNonce(uint64_t counter, uint8_t nonce[RECORD_NONCE])
{
    std::memset(nonce, 0, RECORD_NONCE);
    for (int i = 0; i < 8; ++i) nonce[4 + i] = static_cast<uint8_t>(counter >> (8 * i));
}

// Compares without stopping at the first difference, so the time taken tells
// nothing about how much of a forged proof was right.
bool sameBytes(const uint8_t* a, const uint8_t* b, int32_t n)
{
    uint8_t difference = 0;
    for (int32_t i = 0; i < n; ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
    return difference == 0;
}

void fail(LinkSession& session, LinkFailure why)
{
    session.state = LinkState::Failed;
    session.failure = why;
    session.plainBegin = session.plainEnd = 0;
    if (session.cipher) session.cipher->dropKeys();
    wipe(session.key, sizeof session.key);
    wipe(session.proofKey, sizeof session.proofKey);
}

// HKDF-Expand for one block: HMAC(prk, info || 0x01).
bool expand(LinkCipher* cipher, const uint8_t prk[32], const char* info, uint8_t out[32])
{
    uint8_t input[64] = {};
    const size_t n = std::strlen(info);
    std::memcpy(input, info, n);
    input[n] = 1;
    return cipher->hmac(prk, 32, input, static_cast<int32_t>(n + 1), out);
}

const uint8_t* connectorGreeting(const LinkSession& session)
{
    return session.role == LinkRole::Connector ? session.ownGreeting : session.peerGreeting;
}

const uint8_t* acceptorGreeting(const LinkSession& session)
{
    return session.role == LinkRole::Acceptor ? session.ownGreeting : session.peerGreeting;
}

// The proof a side of `role` gives: its role byte, then both greetings.
bool proofOf(LinkSession& session, LinkRole role, uint8_t out[32])
{
    uint8_t transcript[1 + 2 * GREETING_SIZE];
    transcript[0] = static_cast<uint8_t>(role);
    std::memcpy(transcript + 1, connectorGreeting(session), GREETING_SIZE);
    std::memcpy(transcript + 1 + GREETING_SIZE, acceptorGreeting(session), GREETING_SIZE);
    return session.cipher->hmac(session.proofKey, 32, transcript, sizeof transcript, out);
}

bool appendOutput(LinkSession& session, const uint8_t* data, int32_t n)
{
    if (session.outEnd + n > LINK_OUT_CAPACITY) return false;
    std::memcpy(session.out + session.outEnd, data, n);
    session.outEnd += n;
    return true;
}

// The partner's greeting is in: derive the keys of this connection and send
// the proof. A greeting of the wrong shape, or our own sent back, fails.
void takeGreeting(LinkSession& session)
{
    const uint8_t* greeting = session.unit;
    const LinkRole expected = session.role == LinkRole::Connector ? LinkRole::Acceptor : LinkRole::Connector;
    if (std::memcmp(greeting, MAGIC, 4) != 0 || greeting[4] != VERSION || greeting[5] != static_cast<uint8_t>(expected) ||
        std::memcmp(greeting + RANDOM_OFFSET, session.ownGreeting + RANDOM_OFFSET, RANDOM_SIZE) == 0) {
        fail(session, LinkFailure::Greeting);
        return;
    }
    std::memcpy(session.peerGreeting, greeting, GREETING_SIZE);

    uint8_t salt[2 * RANDOM_SIZE];
    std::memcpy(salt, connectorGreeting(session) + RANDOM_OFFSET, RANDOM_SIZE);
    std::memcpy(salt + RANDOM_SIZE, acceptorGreeting(session) + RANDOM_OFFSET, RANDOM_SIZE);
    uint8_t prk[32];
    uint8_t proof[32];
    uint8_t toAcceptor[32], toConnector[32];
    const bool derived = session.cipher->hmac(salt, sizeof salt, session.key, session.keyLength, prk) &&
                         expand(session.cipher, prk, "skiprail link proof", session.proofKey) &&
                         expand(session.cipher, prk, "skiprail connector to acceptor", toAcceptor) &&
                         expand(session.cipher, prk, "skiprail acceptor to connector", toConnector) &&
                         proofOf(session, session.role, proof);
    const bool keyed =
        derived && (session.role == LinkRole::Connector ? session.cipher->setKeys(toAcceptor, toConnector)
                                                        : session.cipher->setKeys(toConnector, toAcceptor));
    wipe(prk, sizeof prk);
    wipe(toAcceptor, sizeof toAcceptor);
    wipe(toConnector, sizeof toConnector);
    wipe(session.key, sizeof session.key);  // all that is needed of it is derived
    if (!keyed || !appendOutput(session, proof, PROOF_SIZE)) {
        fail(session, LinkFailure::Cipher);
        return;
    }
    session.state = LinkState::AwaitProof;
}

void takeProof(LinkSession& session, LinkEvent* event)
{
    const LinkRole peer = session.role == LinkRole::Connector ? LinkRole::Acceptor : LinkRole::Connector;
    uint8_t expected[32];
    if (!proofOf(session, peer, expected)) {
        fail(session, LinkFailure::Cipher);
    } else if (!sameBytes(expected, session.unit, PROOF_SIZE)) {
        fail(session, LinkFailure::Proof);
    } else {
        wipe(session.proofKey, sizeof session.proofKey);
        session.state = LinkState::Proven;
        *event = LinkEvent::Proven;
        return;
    }
    *event = LinkEvent::Failed;
}

// Opens a record whose header is at `header` and whose body and tag are at
// `body`, into `into`. A record that fails leaves nothing of itself there.
bool openRecord(LinkSession& session, const uint8_t* header, const uint8_t* body, int32_t length, uint8_t* into,
                LinkEvent* event)
{
    uint8_t nonce[RECORD_NONCE];
    makeNonce(session.receiveCounter, nonce);
    if (!session.cipher->open(nonce, header, RECORD_HEADER, body, into, length, body + length)) {
        wipe(into, length);
        fail(session, LinkFailure::Record);
        *event = LinkEvent::Failed;
        return false;
    }
    ++session.receiveCounter;
    *event = LinkEvent::Plaintext;
    return true;
}

// Opens a record into the unit, after the header's place.
void takeRecord(LinkSession& session, const uint8_t* header, const uint8_t* body, int32_t length, LinkEvent* event)
{
    if (!openRecord(session, header, body, length, session.unit + RECORD_HEADER, event)) return;
    session.plainBegin = RECORD_HEADER;
    session.plainEnd = RECORD_HEADER + length;
}

}  // namespace

bool linkStart(LinkSession& session, LinkCipher* cipher, LinkRole role, const uint8_t* key, int32_t keyLength)
{
    linkReset(session);
    session.cipher = cipher;
    session.role = role;
    session.keyLength = keyLength < LINK_KEY_MAX ? keyLength : LINK_KEY_MAX;
    std::memcpy(session.key, key, session.keyLength);
    session.state = LinkState::AwaitGreeting;
    uint8_t* greeting = session.ownGreeting;
    std::memcpy(greeting, MAGIC, 4);
    greeting[4] = VERSION;
    greeting[5] = static_cast<uint8_t>(role);
    if (!cipher->random(greeting + RANDOM_OFFSET, RANDOM_SIZE)) {
        fail(session, LinkFailure::Cipher);
        return false;
    }
    appendOutput(session, greeting, GREETING_SIZE);
    return true;
}

bool linkStretchKey(LinkCipher* cipher, const uint8_t* key, int32_t n, uint8_t out[LINK_KEY_STRETCHED])
{
    // One block of PBKDF2: U1 = HMAC(key, salt || 1), each U the HMAC of the
    // one before, all of them added up by exclusive or.
    uint8_t block[LINK_KEY_SALT_SIZE + 4] = {};
    std::memcpy(block, LINK_KEY_SALT, LINK_KEY_SALT_SIZE);
    block[LINK_KEY_SALT_SIZE + 3] = 1;  // the block's number, big-endian
    uint8_t u[32], next[32];
    bool done = cipher->hmac(key, n, block, sizeof block, u);
    if (done) std::memcpy(out, u, 32);
    for (uint32_t round = 1; done && round < LINK_KEY_ROUNDS; ++round) {
        done = cipher->hmac(key, n, u, 32, next);
        for (int i = 0; i < 32; ++i) out[i] ^= u[i] = next[i];
    }
    wipe(u, sizeof u);
    wipe(next, sizeof next);
    if (!done) wipe(out, LINK_KEY_STRETCHED);
    return done;
}

void linkReset(LinkSession& session)
{
    if (session.cipher) session.cipher->dropKeys();
    wipe(session.key, sizeof session.key);
    wipe(session.proofKey, sizeof session.proofKey);
    session.cipher = nullptr;
    session.state = LinkState::Plain;
    session.failure = LinkFailure::None;
    session.keyLength = 0;
    session.sendCounter = session.receiveCounter = 0;
    session.unitFilled = session.plainBegin = session.plainEnd = 0;
    session.outBegin = session.outEnd = 0;
}

int32_t linkFeed(LinkSession& session, const uint8_t* data, int32_t n, LinkEvent* event, uint8_t* into,
                 int32_t intoRoom, int32_t* landed)
{
    *event = LinkEvent::None;
    if (landed) *landed = 0;
    session.plainBegin = session.plainEnd = 0;
    int32_t taken = 0;
    while (taken < n) {
        // A whole record at hand is opened where it lies, without first
        // being gathered: the usual case on a busy link. It lands in the
        // caller's room when it fits there, and in the unit otherwise.
        if (session.state == LinkState::Proven && session.unitFilled == 0 && n - taken >= RECORD_HEADER) {
            const uint32_t length = little32(data + taken);
            if (length > 0 && length <= static_cast<uint32_t>(RECORD_MAX_PLAIN) &&
                static_cast<uint32_t>(n - taken) >= RECORD_HEADER + length + RECORD_TAG) {
                const int32_t size = static_cast<int32_t>(length);
                const uint8_t* header = data + taken;
                if (into && landed && size <= intoRoom) {
                    if (!openRecord(session, header, header + RECORD_HEADER, size, into, event)) return taken;
                    *landed = size;
                } else {
                    takeRecord(session, header, header + RECORD_HEADER, size, event);
                    if (*event == LinkEvent::Failed) return taken;
                }
                return taken + RECORD_HEADER + size + RECORD_TAG;
            }
        }
        int32_t needed = 0;
        switch (session.state) {
        case LinkState::AwaitGreeting: needed = GREETING_SIZE; break;
        case LinkState::AwaitProof:    needed = PROOF_SIZE; break;
        case LinkState::Proven:
            needed = RECORD_HEADER;
            if (session.unitFilled >= RECORD_HEADER)
                needed = RECORD_HEADER + static_cast<int32_t>(little32(session.unit)) + RECORD_TAG;
            break;
        case LinkState::Plain:
        case LinkState::Failed:
            if (session.state == LinkState::Failed) *event = LinkEvent::Failed;
            return taken;
        }
        const int32_t want = needed - session.unitFilled;
        const int32_t step = want < n - taken ? want : n - taken;
        std::memcpy(session.unit + session.unitFilled, data + taken, step);
        session.unitFilled += step;
        taken += step;
        if (session.unitFilled < needed) continue;
        // A record's header alone only tells how long the record is: one
        // longer than a record can be is refused at once.
        if (session.state == LinkState::Proven && needed == RECORD_HEADER) {
            const uint32_t length = little32(session.unit);
            if (length == 0 || length > static_cast<uint32_t>(RECORD_MAX_PLAIN)) {
                fail(session, LinkFailure::Record);
                *event = LinkEvent::Failed;
                return taken;
            }
            continue;
        }

        session.unitFilled = 0;
        switch (session.state) {
        case LinkState::AwaitGreeting: takeGreeting(session); break;
        case LinkState::AwaitProof:    takeProof(session, event); break;
        case LinkState::Proven:
            takeRecord(session, session.unit, session.unit + RECORD_HEADER, needed - RECORD_HEADER - RECORD_TAG, event);
            break;
        default: break;
        }
        if (session.state == LinkState::Failed) *event = LinkEvent::Failed;
        if (*event != LinkEvent::None) return taken;
    }
    return taken;
}

int32_t linkSeal(LinkSession& session, const uint8_t* data, int32_t n)
{
    if (session.state != LinkState::Proven) return -1;
    // What was written already makes room at the front, when the room
    // behind is too small for what comes.
    const int32_t wanted = (n < RECORD_MAX_PLAIN ? n : RECORD_MAX_PLAIN) + RECORD_HEADER + RECORD_TAG;
    if (session.outBegin > 0 && LINK_OUT_CAPACITY - session.outEnd < wanted) {
        std::memmove(session.out, session.out + session.outBegin, session.outEnd - session.outBegin);
        session.outEnd -= session.outBegin;
        session.outBegin = 0;
    }
    int32_t taken = 0;
    while (taken < n) {
        const int32_t room = LINK_OUT_CAPACITY - session.outEnd - RECORD_HEADER - RECORD_TAG;
        if (room <= 0) break;
        int32_t length = n - taken;
        if (length > RECORD_MAX_PLAIN) length = RECORD_MAX_PLAIN;
        if (length > room) length = room;
        uint8_t* record = session.out + session.outEnd;
        putLittle32(record, static_cast<uint32_t>(length));
        uint8_t nonce[RECORD_NONCE];
        makeNonce(session.sendCounter, nonce);
        if (!session.cipher->seal(nonce, record, RECORD_HEADER, data + taken, record + RECORD_HEADER, length,
                                  record + RECORD_HEADER + length)) {
            fail(session, LinkFailure::Cipher);
            return -1;
        }
        ++session.sendCounter;
        session.outEnd += RECORD_HEADER + length + RECORD_TAG;
        taken += length;
    }
    return taken;
}

void linkOutputTaken(LinkSession& session, int32_t n)
{
    session.outBegin += n;
    if (session.outBegin >= session.outEnd) session.outBegin = session.outEnd = 0;
}
