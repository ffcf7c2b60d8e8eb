// The protected link's handshake and records, with a stand-in cipher.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/packet.h"
#include "link/record_layer.h"
#include "settings/key_text.h"
#include "stand_in_cipher.h"

namespace {

// A session holds a megabyte of output room: each side keeps its own on the heap.
struct Side {
    StandInCipher cipher;
    std::unique_ptr<LinkSession> owned = std::make_unique<LinkSession>();
    LinkSession& session = *owned;
    std::vector<uint8_t> received;  // plaintext that came out
    bool proven = false;
    bool failed = false;
    bool leaked = false;  // a failed record left bytes in the reader's room
};

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

void start(Side& side, LinkRole role, const std::string& key, uint64_t seed)
{
    side.cipher.seed = seed;
    ASSERT_TRUE(linkStart(side.session, &side.cipher, role, reinterpret_cast<const uint8_t*>(key.data()),
                          static_cast<int32_t>(key.size())));
}

// Takes what `from` has waiting to write.
std::vector<uint8_t> drain(Side& from)
{
    std::vector<uint8_t> bytes(linkOutput(from.session), linkOutput(from.session) + linkOutputLength(from.session));
    linkOutputTaken(from.session, linkOutputLength(from.session));
    return bytes;
}

// Feeds bytes to `to` in pieces of `piece` bytes, as reads would bring them;
// with `room`, a reader's room of that size is offered for records to land in.
void deliver(Side& to, const std::vector<uint8_t>& bytes, size_t piece = 7, int32_t room = 0)
{
    const uint8_t untouched = 0xEE;
    std::vector<uint8_t> space(room, untouched);
    size_t at = 0;
    while (at < bytes.size()) {
        const int32_t n = static_cast<int32_t>(std::min(piece, bytes.size() - at));
        int32_t used = 0;
        while (used < n) {
            LinkEvent event;
            int32_t landed = -1;
            const int32_t taken = linkFeed(to.session, bytes.data() + at + used, n - used, &event,
                                           room ? space.data() : nullptr, room, &landed);
            used += taken;
            if (event == LinkEvent::Proven) to.proven = true;
            if (event == LinkEvent::Plaintext) {
                to.received.insert(to.received.end(), space.begin(), space.begin() + landed);
                to.received.insert(to.received.end(), linkPlain(to.session),
                                   linkPlain(to.session) + linkPlainLength(to.session));
                std::fill(space.begin(), space.end(), untouched);
            }
            if (event == LinkEvent::Failed) {
                to.failed = true;
                for (uint8_t b : space) to.leaked = to.leaked || (b != untouched && b != 0);
                return;
            }
            if (taken == 0 && event == LinkEvent::None) break;
        }
        at += n;
    }
}

// Both sides send their greeting at once, then each its proof.
void handshake(Side& connector, Side& acceptor)
{
    const std::vector<uint8_t> c = drain(connector), a = drain(acceptor);
    deliver(acceptor, c);
    deliver(connector, a);
    const std::vector<uint8_t> cp = drain(connector), ap = drain(acceptor);
    deliver(acceptor, cp);
    deliver(connector, ap);
}

std::vector<uint8_t> seal(Side& from, const std::vector<uint8_t>& plain)
{
    size_t at = 0;
    std::vector<uint8_t> wire;
    while (at < plain.size()) {
        const int32_t n = linkSeal(from.session, plain.data() + at, static_cast<int32_t>(plain.size() - at));
        EXPECT_GT(n, 0);
        if (n <= 0) break;
        at += n;
        const std::vector<uint8_t> out = drain(from);
        wire.insert(wire.end(), out.begin(), out.end());
    }
    return wire;
}

const std::string KEY = "K7QF2MXD9PZR4TWA3HNB6YCE";

TEST(RecordLayer, SameKeyProvesBothWaysAndCarriesPacketsAndLongChunks)
{
    Side connector, acceptor;
    start(connector, LinkRole::Connector, KEY, 11);
    start(acceptor, LinkRole::Acceptor, KEY, 22);

    // A greeting is one packet long and reads as no packet type, so a partner
    // without a key drops it as unknown.
    ASSERT_EQ(linkOutputLength(connector.session), GREETING_SIZE);
    ASSERT_EQ(GREETING_SIZE, PACKET_SIZE);
    const int32_t type = decodePacket(linkOutput(connector.session)).type;
    for (int32_t known : {PKT_INPUT, PKT_READY, PKT_ENTER, PKT_SCREEN_SIZE, PKT_LEAVE, PKT_WHEEL}) EXPECT_NE(type, known);

    handshake(connector, acceptor);
    ASSERT_TRUE(connector.proven && acceptor.proven);
    EXPECT_FALSE(connector.failed || acceptor.failed);

    // A packet each way, then a transfer longer than several records, fed in
    // odd pieces: what comes out is what went in, in order.
    uint8_t packet[PACKET_SIZE];
    InputPacket screen;
    screen.type = PKT_SCREEN_SIZE;
    screen.x = 1024;
    screen.y = 768;
    encodePacket(screen, packet);
    deliver(connector, seal(acceptor, std::vector<uint8_t>(packet, packet + PACKET_SIZE)), 3);
    ASSERT_EQ(connector.received.size(), static_cast<size_t>(PACKET_SIZE));
    EXPECT_EQ(decodePacket(connector.received.data()).x, 1024);

    std::vector<uint8_t> text(3 * RECORD_MAX_PLAIN + 1234);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i * 31 + 7);
    const std::vector<uint8_t> wire = seal(connector, text);
    // Sealed, not sent in the clear: no long run of the text shows on the wire.
    EXPECT_EQ(std::search(wire.begin(), wire.end(), text.begin() + 100, text.begin() + 132), wire.end());
    deliver(acceptor, wire, 5000);
    EXPECT_EQ(acceptor.received, text);
    EXPECT_FALSE(acceptor.failed);

    // Read as the socket layer reads a long transfer: whole records at hand
    // opened straight into the reader's room, and with a room too small for
    // a record, in the session as before.
    const std::vector<uint8_t> again = seal(connector, text);
    acceptor.received.clear();
    deliver(acceptor, again, again.size(), RECORD_MAX_PLAIN + 10);
    EXPECT_EQ(acceptor.received, text);
    acceptor.received.clear();
    deliver(acceptor, seal(connector, text), 100000, 1000);
    EXPECT_EQ(acceptor.received, text);
    EXPECT_FALSE(acceptor.failed);
}

TEST(RecordLayer, WrongKeyRecordedSessionPlainPartnerAndReflectionAreRefused)
{
    {   // Different keys: each side finds the other's proof wrong.
        Side connector, acceptor;
        start(connector, LinkRole::Connector, KEY, 1);
        start(acceptor, LinkRole::Acceptor, KEY + "X", 2);
        handshake(connector, acceptor);
        EXPECT_FALSE(connector.proven || acceptor.proven);
        EXPECT_TRUE(connector.failed && acceptor.failed);
        EXPECT_EQ(acceptor.session.failure, LinkFailure::Proof);
        // A failed session seals nothing.
        const uint8_t byte = 1;
        EXPECT_EQ(linkSeal(acceptor.session, &byte, 1), -1);
    }
    {   // A recorded connector's greeting and proof, sent again to a new
        // session: its random value differs, so the old proof does not fit.
        Side connector, acceptor;
        start(connector, LinkRole::Connector, KEY, 3);
        start(acceptor, LinkRole::Acceptor, KEY, 4);
        const std::vector<uint8_t> greeting = drain(connector);
        deliver(acceptor, greeting);
        deliver(connector, drain(acceptor));
        const std::vector<uint8_t> proof = drain(connector);
        Side later;
        start(later, LinkRole::Acceptor, KEY, 5);
        deliver(later, greeting);
        deliver(later, proof);
        EXPECT_FALSE(later.proven);
        EXPECT_EQ(later.session.failure, LinkFailure::Proof);
    }
    {   // A partner without a key speaks packets: the first is no greeting.
        Side acceptor;
        start(acceptor, LinkRole::Acceptor, KEY, 6);
        uint8_t packet[PACKET_SIZE];
        InputPacket screen;
        screen.type = PKT_SCREEN_SIZE;
        encodePacket(screen, packet);
        deliver(acceptor, std::vector<uint8_t>(packet, packet + PACKET_SIZE));
        EXPECT_EQ(acceptor.session.failure, LinkFailure::Greeting);
    }
    {   // A partner of the version before (its key went in unstretched):
        // refused at the greeting, as one without the key is.
        Side older, acceptor;
        start(older, LinkRole::Connector, KEY, 10);
        start(acceptor, LinkRole::Acceptor, KEY, 11);
        std::vector<uint8_t> greeting = drain(older);
        ASSERT_EQ(greeting[4], 2);
        greeting[4] = 1;
        deliver(acceptor, greeting);
        EXPECT_EQ(acceptor.session.failure, LinkFailure::Greeting);
    }
    {   // Our own greeting sent back, or one claiming our role.
        Side connector;
        start(connector, LinkRole::Connector, KEY, 7);
        deliver(connector, drain(connector));
        EXPECT_EQ(connector.session.failure, LinkFailure::Greeting);
        Side other, acceptor;
        start(other, LinkRole::Acceptor, KEY, 8);
        start(acceptor, LinkRole::Acceptor, KEY, 9);
        deliver(acceptor, drain(other));
        EXPECT_EQ(acceptor.session.failure, LinkFailure::Greeting);
    }
}

TEST(RecordLayer, DamagedReorderedReplayedOrOverlongRecordsEndTheSession)
{
    auto proven = [](Side& connector, Side& acceptor) {
        start(connector, LinkRole::Connector, KEY, 31);
        start(acceptor, LinkRole::Acceptor, KEY, 32);
        handshake(connector, acceptor);
        ASSERT_TRUE(acceptor.proven);
    };
    const std::vector<uint8_t> first = bytesOf("first record"), second = bytesOf("second record");

    // A bit flipped anywhere in a record: its header, its body, its tag.
    for (size_t at : {size_t(0), size_t(RECORD_HEADER + 3), size_t(RECORD_HEADER + first.size() + 2)}) {
        Side connector, acceptor;
        proven(connector, acceptor);
        // A second record follows, as on a busy link: a longer length read
        // from a damaged header then finds its end among the next bytes.
        std::vector<uint8_t> wire = seal(connector, first);
        const std::vector<uint8_t> next = seal(connector, second);
        wire.insert(wire.end(), next.begin(), next.end());
        wire[at] ^= 0x01;
        // Offered the reader's room, a failed record leaves nothing there.
        deliver(acceptor, wire, wire.size(), 64);
        EXPECT_TRUE(acceptor.failed) << "flipped at " << at;
        EXPECT_TRUE(acceptor.received.empty());
        EXPECT_FALSE(acceptor.leaked) << "flipped at " << at;
    }
    {   // Two records swapped, and one sent twice.
        Side connector, acceptor;
        proven(connector, acceptor);
        const std::vector<uint8_t> one = seal(connector, first), two = seal(connector, second);
        deliver(acceptor, two);
        EXPECT_TRUE(acceptor.failed);

        Side c2, a2;
        proven(c2, a2);
        const std::vector<uint8_t> once = seal(c2, first);
        deliver(a2, once);
        EXPECT_EQ(a2.received, first);
        deliver(a2, once);
        EXPECT_TRUE(a2.failed);
        EXPECT_EQ(a2.received, first);
    }
    {   // A length beyond a record's: refused from the header alone.
        Side connector, acceptor;
        proven(connector, acceptor);
        const uint8_t header[4] = {0x01, 0x40, 0x00, 0x00};  // 16385
        deliver(acceptor, std::vector<uint8_t>(header, header + 4));
        EXPECT_TRUE(acceptor.failed);
        EXPECT_EQ(acceptor.session.failure, LinkFailure::Record);
    }
}

TEST(KeyText, NewKeysReadCleanlyAndTypingVariantsCountTheSame)
{
    uint8_t random[NEW_KEY_RANDOM_BYTES];
    for (int i = 0; i < NEW_KEY_RANDOM_BYTES; ++i) random[i] = static_cast<uint8_t>(0xA5 ^ (i * 37));
    char text[NEW_KEY_TEXT];
    formatNewKey(random, text);
    ASSERT_EQ(std::strlen(text), 29u);
    for (int i = 0; i < 29; ++i) {
        if (i % 5 == 4) {
            EXPECT_EQ(text[i], '-');
        } else {
            EXPECT_NE(std::strchr(KEY_SYMBOLS, text[i]), nullptr);
            EXPECT_EQ(std::strchr("ILOU", text[i]), nullptr);
        }
    }
    // 120 random bits: two keys that differ in one random bit read differently.
    char other[NEW_KEY_TEXT];
    random[NEW_KEY_RANDOM_BYTES - 1] ^= 1;
    formatNewKey(random, other);
    EXPECT_STRNE(text, other);

    uint8_t a[LINK_KEY_MAX], b[LINK_KEY_MAX];
    const int32_t na = normalizeLinkKey("K7QF-2MXD-1O0L", a, sizeof a);
    const int32_t nb = normalizeLinkKey(" k7qf 2mxd io0l ", b, sizeof b);
    ASSERT_EQ(na, nb);
    EXPECT_EQ(std::memcmp(a, b, na), 0);
    EXPECT_EQ(linkKeySymbols(a, na), 12);
    // A key longer than counts is cut, never overrun.
    const std::string longKey(300, 'Q');
    EXPECT_EQ(normalizeLinkKey(longKey.c_str(), a, sizeof a), LINK_KEY_MAX);
}

}  // namespace
