// The protected link's record layer: what lies between a socket and the
// packet and clipboard receivers once both PCs hold a link key. Without a key
// no session is started and the bytes pass unchanged.
//
// A connection then opens with a handshake, each side sending the same three
// things in turn:
//   greeting  56 bytes: "SRLK", version 2, its role (1 connector, 2 acceptor),
//             two zero bytes, 32 fresh random bytes, 16 zero bytes
//   proof     32 bytes: HMAC-SHA256 under the proof key of its role byte and
//             both greetings, the connector's first
// and from then on records:
//   record    a 32-bit little-endian length L (1 to RECORD_MAX_PLAIN), L bytes
//             of AES-256-GCM ciphertext, its 16-byte tag; the length is
//             authenticated too. The nonce is four zero bytes and the
//             direction's record counter, 64 bits little-endian.
// The keys come from the link key by HKDF over HMAC-SHA256: extracted with
// both random values as the salt, expanded to a proof key and one key for
// each direction. The link key that goes in is the typed one stretched
// (linkStretchKey), so a recorded handshake gives no fast test of a guess;
// version 1 took the typed key as it was. A greeting is as long as a packet,
// and its first four bytes read as no packet type, so a partner without a key
// drops it as unknown.
//
// No <windows.h>: the cipher comes in through LinkCipher (the system's under
// Windows, a stand-in in the native tests and the fuzzer).
#pragma once

#include <cstdint>

constexpr int32_t GREETING_SIZE = 56;
constexpr int32_t PROOF_SIZE = 32;
constexpr int32_t RECORD_HEADER = 4;
constexpr int32_t RECORD_TAG = 16;
constexpr int32_t RECORD_NONCE = 12;
constexpr int32_t RECORD_MAX_PLAIN = 16384;
constexpr int32_t RECORD_MAX_WIRE = RECORD_HEADER + RECORD_MAX_PLAIN + RECORD_TAG;
// The longest link key text that counts; the rest of a longer one is ignored.
constexpr int32_t LINK_KEY_MAX = 128;
// What waits to be written: room for 64 full records (a megabyte), so a long
// clipboard transfer goes to the socket in few large writes and seldom waits
// for the socket to drain.
constexpr int32_t LINK_OUT_CAPACITY = 64 * RECORD_MAX_WIRE;

// The typed key is stretched once, when it is set or loaded: PBKDF2 over
// HMAC-SHA256 with this salt and count, 32 bytes. The count costs about a
// tenth of a second with the system's PBKDF2 (`srbench stretch`).
constexpr int32_t LINK_KEY_STRETCHED = 32;
constexpr uint32_t LINK_KEY_ROUNDS = 100000;
constexpr char LINK_KEY_SALT[] = "Skiprail link key, stretched";
constexpr int32_t LINK_KEY_SALT_SIZE = sizeof LINK_KEY_SALT - 1;

class LinkCipher {
public:
    virtual bool random(uint8_t* out, int32_t n) = 0;
    virtual bool hmac(const uint8_t* key, int32_t keyLength, const uint8_t* data, int32_t n, uint8_t out[32]) = 0;
    // The keys of one connection's two directions, 32 bytes each.
    virtual bool setKeys(const uint8_t sendKey[32], const uint8_t receiveKey[32]) = 0;
    // Encrypts n bytes from `in` to `out` (which may be the same),
    // authenticating `header` alongside.
    virtual bool seal(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength,
                      const uint8_t* in, uint8_t* out, int32_t n, uint8_t tag[RECORD_TAG]) = 0;
    // Decrypts n bytes from `in` to `out`; false when the tag does not match.
    virtual bool open(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength,
                      const uint8_t* in, uint8_t* out, int32_t n, const uint8_t tag[RECORD_TAG]) = 0;
    virtual void dropKeys() = 0;

protected:
    ~LinkCipher() = default;
};

enum class LinkRole : uint8_t { Connector = 1, Acceptor = 2 };

enum class LinkState : uint8_t {
    Plain,          // no session: bytes pass unchanged
    AwaitGreeting,  // our greeting is out, the partner's not yet in
    AwaitProof,     // our proof is out, the partner's not yet in
    Proven,         // records both ways
    Failed,         // the partner failed; nothing more is read or written
};

// Why a session failed: the handshake kinds mean that the partner did not
// prove the link key; a record that fails later is damage or tampering.
enum class LinkFailure : uint8_t { None, Greeting, Proof, Record, Cipher };

enum class LinkEvent : uint8_t {
    None,       // the bytes were taken, nothing to report
    Proven,     // the partner proved the key: records may flow
    Plaintext,  // a record was opened: linkPlain() holds its bytes
    Failed,     // the session has failed (see failure)
};

struct LinkSession {
    LinkCipher* cipher = nullptr;
    LinkState state = LinkState::Plain;
    LinkFailure failure = LinkFailure::None;
    LinkRole role = LinkRole::Connector;
    uint8_t key[LINK_KEY_MAX] = {};
    int32_t keyLength = 0;
    uint8_t proofKey[32] = {};
    uint8_t ownGreeting[GREETING_SIZE] = {};
    uint8_t peerGreeting[GREETING_SIZE] = {};
    uint64_t sendCounter = 0, receiveCounter = 0;

    // The unit being collected (greeting, proof or record); an opened record's
    // plaintext stays in it, from plainBegin to plainEnd, until the next feed.
    // The two buffers are only ever read where they were written, and carry
    // no initializer: a session of a link that is never used (one of each
    // per link a desk may have) never touches their megabyte.
    uint8_t unit[RECORD_MAX_WIRE];
    int32_t unitFilled = 0;
    int32_t plainBegin = 0, plainEnd = 0;

    // Bytes waiting to be written: greeting, proof, sealed records.
    uint8_t out[LINK_OUT_CAPACITY];
    int32_t outBegin = 0, outEnd = 0;
};

// Starts a session: the greeting waits in the output. `key` is the link key's
// text as it counts (see normalizeLinkKey). False (and Failed) when the
// cipher gives no random bytes.
bool linkStart(LinkSession& session, LinkCipher* cipher, LinkRole role, const uint8_t* key, int32_t keyLength);

// Stretches the typed key (LINK_KEY_SALT, LINK_KEY_ROUNDS) through the
// cipher's HMAC, for systems whose own PBKDF2 is missing; false when the HMAC
// fails.
bool linkStretchKey(LinkCipher* cipher, const uint8_t* key, int32_t n, uint8_t out[LINK_KEY_STRETCHED]);

// Forgets everything, keys first; the session is Plain again.
void linkReset(LinkSession& session);

// Takes up to n bytes from the partner; returns how many were taken. Stops at
// the end of each unit that gives an event, so the caller acts on it (and
// takes the plaintext) before feeding on. A failed session takes nothing.
// Given room of its own (`into`, `intoRoom`, `landed`), the caller may find a
// record opened straight into it: `landed` says how many bytes, and
// linkPlain() then holds none; saves copying a long transfer once more.
int32_t linkFeed(LinkSession& session, const uint8_t* data, int32_t n, LinkEvent* event, uint8_t* into = nullptr,
                 int32_t intoRoom = 0, int32_t* landed = nullptr);

// The plaintext of the record last opened, and that part of it taken.
inline const uint8_t* linkPlain(const LinkSession& session) { return session.unit + session.plainBegin; }
inline int32_t linkPlainLength(const LinkSession& session) { return session.plainEnd - session.plainBegin; }
inline void linkPlainTaken(LinkSession& session, int32_t n) { session.plainBegin += n; }

// Seals up to n bytes into records in the output, as far as it has room;
// returns the bytes taken (0 when there is no room), or -1 when the session
// is not proven or the cipher failed (the session is then Failed).
int32_t linkSeal(LinkSession& session, const uint8_t* data, int32_t n);

// What waits to be written, and that part of it written.
inline const uint8_t* linkOutput(const LinkSession& session) { return session.out + session.outBegin; }
inline int32_t linkOutputLength(const LinkSession& session) { return session.outEnd - session.outBegin; }
void linkOutputTaken(LinkSession& session, int32_t n);
