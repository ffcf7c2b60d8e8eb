// Feeds arbitrary bytes, cut into arbitrary pieces, through the packet inbox:
// every packet must come out exactly as its 56 bytes on the stream say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] % 80;
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;
    PacketInbox inbox;
    size_t at = 0, packets = 0;
    while (at < length) {
        const size_t n = length - at < piece ? length - at : piece;
        size_t used = 0;
        while (used < n) {
            InputPacket p;
            bool complete = false;
            used += static_cast<size_t>(inboxFeed(inbox, stream + at + used, static_cast<int32_t>(n - used), &p, &complete));
            if (complete) {
                uint8_t again[PACKET_SIZE];
                encodePacket(p, again);
                if (std::memcmp(again, stream + packets * PACKET_SIZE, 24) != 0) std::abort();
                ++packets;
            }
        }
        at += n;
    }
    if (packets != length / PACKET_SIZE || static_cast<size_t>(inbox.filled) != length % PACKET_SIZE) std::abort();
    return 0;
}
