// Feeds hostile bytes, cut into pieces, to the protected link's record layer:
// once as the partner's handshake, once as records after a real handshake.
// It must never touch memory outside its buffers, never hand out plaintext
// before the partner proved the key, and never any from a record that did not
// open; whatever fails stays failed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/record_layer.h"
#include "stand_in_cipher.h"

namespace {

const uint8_t KEY[] = "FUZZKEY0123456789ABCDEFG";

// `room` bytes of the reader's own are offered for records to land in (none
// when 0); they are on the heap, exactly that long, so a write past them shows.
void feedAll(LinkSession& session, const uint8_t* data, size_t n, size_t piece, int32_t room)
{
    uint8_t* space = room ? new uint8_t[room] : nullptr;
    size_t at = 0;
    bool failed = false;
    while (at < n) {
        const int32_t step = static_cast<int32_t>(piece < n - at ? piece : n - at);
        LinkEvent event;
        int32_t landed = -1;
        const int32_t taken = linkFeed(session, data + at, step, &event, space, room, &landed);
        if (taken < 0 || taken > step || landed < 0 || landed > room) std::abort();
        if (event != LinkEvent::Plaintext && landed != 0) std::abort();
        if (event == LinkEvent::Plaintext) {
            if (session.state != LinkState::Proven) std::abort();
            const int32_t length = landed ? landed : linkPlainLength(session);
            if (length <= 0 || length > RECORD_MAX_PLAIN || (landed && linkPlainLength(session) != 0)) std::abort();
            volatile uint8_t sink = landed ? space[length - 1] : linkPlain(session)[length - 1];
            (void)sink;
        }
        if (failed && event != LinkEvent::Failed) std::abort();
        if (event == LinkEvent::Failed) {
            failed = true;
            if (session.state != LinkState::Failed) std::abort();
            if (taken != 0 && linkFeed(session, data + at, step, &event) != 0) std::abort();
            break;
        }
        if (taken == 0) std::abort();  // a live session always takes what it is given
        at += taken;
    }
    delete[] space;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] % 97;
    const int32_t rooms[] = {0, 64, RECORD_MAX_PLAIN};
    const int32_t room = rooms[data[0] / 97 % 3];
    ++data;
    --size;

    static StandInCipher acceptorCipher, connectorCipher;
    static LinkSession acceptor, connector;

    // The partner's handshake and whatever follows, as it arrives.
    acceptorCipher.seed = 5;
    linkStart(acceptor, &acceptorCipher, LinkRole::Acceptor, KEY, sizeof KEY - 1);
    feedAll(acceptor, data, size, piece, room);

    // Records after a real handshake.
    connectorCipher.seed = 9;
    acceptorCipher.seed = 5;
    linkStart(connector, &connectorCipher, LinkRole::Connector, KEY, sizeof KEY - 1);
    linkStart(acceptor, &acceptorCipher, LinkRole::Acceptor, KEY, sizeof KEY - 1);
    LinkEvent event;
    for (int round = 0; round < 2; ++round) {
        const int32_t c = linkOutputLength(connector), a = linkOutputLength(acceptor);
        uint8_t cOut[GREETING_SIZE], aOut[GREETING_SIZE];
        __builtin_memcpy(cOut, linkOutput(connector), c);
        __builtin_memcpy(aOut, linkOutput(acceptor), a);
        linkOutputTaken(connector, c);
        linkOutputTaken(acceptor, a);
        linkFeed(acceptor, cOut, c, &event);
        linkFeed(connector, aOut, a, &event);
    }
    if (acceptor.state != LinkState::Proven || connector.state != LinkState::Proven) std::abort();
    feedAll(acceptor, data, size, piece, room);
    return 0;
}
