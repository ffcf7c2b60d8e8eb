#include "link/packet.h"

#include <cstring>

namespace {

void putInt32(uint8_t* at, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
    at[2] = static_cast<uint8_t>(v >> 16);
    at[3] = static_cast<uint8_t>(v >> 24);
}

int32_t getInt32(const uint8_t* at)
{
    const uint32_t v = static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
                       (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
    return static_cast<int32_t>(v);
}

}  // namespace

int16_t wheelDelta(const InputPacket& packet)
{
    return static_cast<int16_t>(static_cast<uint16_t>(packet.x & 0xFFFF));
}

InputPacket makeWheelPacket(int32_t type, int32_t delta)
{
    InputPacket packet;
    packet.type = type;
    packet.x = delta & 0xFFFF;
    return packet;
}

bool isButtonEvent(int32_t code)
{
    return (code >= EV_LEFT_UP && code <= EV_RIGHT_DOWN) || (code >= EV_MIDDLE_UP && code <= EV_X2_DOWN);
}

bool isMoveOnly(const InputPacket& packet)
{
    const bool button = isButtonEvent(packet.button);
    const bool key = packet.keyCode != 0 && (packet.keyEvent == EV_KEY_UP || packet.keyEvent == EV_KEY_DOWN);
    return packet.type == PKT_INPUT && !button && !key;
}

void encodePacket(const InputPacket& packet, uint8_t out[PACKET_SIZE])
{
    std::memset(out, 0, PACKET_SIZE);
    putInt32(out + 0, packet.type);
    putInt32(out + 4, packet.x);
    putInt32(out + 8, packet.y);
    putInt32(out + 12, packet.button);
    putInt32(out + 16, packet.keyCode);
    putInt32(out + 20, packet.keyEvent);
    putInt32(out + 24, packet.keyScan);
    putInt32(out + 28, packet.keyFlags);
}

InputPacket decodePacket(const uint8_t in[PACKET_SIZE])
{
    InputPacket packet;
    packet.type = getInt32(in + 0);
    packet.x = getInt32(in + 4);
    packet.y = getInt32(in + 8);
    packet.button = getInt32(in + 12);
    packet.keyCode = getInt32(in + 16);
    packet.keyEvent = getInt32(in + 20);
    packet.keyScan = getInt32(in + 24);
    packet.keyFlags = getInt32(in + 28);
    return packet;
}

bool inboxCommit(PacketInbox& inbox, int32_t n, InputPacket* out)
{
    if (n <= 0) return false;
    if (n > inboxRoom(inbox)) n = inboxRoom(inbox);
    inbox.filled += n;
    if (inbox.filled < PACKET_SIZE) return false;
    *out = decodePacket(inbox.bytes);
    inbox.filled = 0;
    return true;
}

int32_t inboxFeed(PacketInbox& inbox, const uint8_t* data, int32_t n, InputPacket* out, bool* complete)
{
    *complete = false;
    if (n <= 0) return 0;
    const int32_t take = n < inboxRoom(inbox) ? n : inboxRoom(inbox);
    std::memcpy(inboxSpace(inbox), data, static_cast<size_t>(take));
    *complete = inboxCommit(inbox, take, out);
    return take;
}

bool supersededMove(int32_t partnerInput, const InputPacket& packet, const PacketInbox& inbox, const uint8_t* rest,
                    int32_t restBytes)
{
    if (!(partnerInput & INPUT_CAN_WINDOW) || !isMoveOnly(packet) || inbox.filled != 0 || restBytes < PACKET_SIZE)
        return false;
    return isMoveOnly(decodePacket(rest));
}
