// The Linux Master's clipboard, one connection a Slave: this PC's clipboard
// goes to a Slave as control enters it; a Slave's comes back as control
// leaves it and is placed here; one left for the next Slave is passed on to
// that one once it is here (or at once, when it said it holds what it had
// from here).
#include "unix/master_clipboard.h"

#include <string>

#include "app/constants.h"
#include "unix/clip_link.h"
#include "unix/master.h"

namespace {

ClipSide sides[MAX_SLAVES];
// Control passed straight from one Slave to another: what the one left sends
// back goes on to the other, while it has control.
int32_t relayFrom = -1, relayTo = -1;

void passOn(ClipSide& side)
{
    if (side.index != relayFrom || relayTo < 0 || !masterInControl(relayTo)) return;
    const int32_t to = relayTo;
    relayFrom = relayTo = -1;
    clipPush(sides[to]);
}

ClipSide* at(int32_t index)
{
    return index >= 0 && index < MAX_SLAVES ? &sides[index] : nullptr;
}

}  // namespace

void masterClipboardStart(uint32_t fileLimitMB)
{
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        sides[i].index = i;
        sides[i].who = "Slave " + std::to_string(i + 1);
        sides[i].fileLimit = static_cast<uint64_t>(fileLimitMB) << 20;
        sides[i].arrived = passOn;
    }
}

int32_t masterClipboardOffer()
{
    return clipTakes(sides[0]);
}

void masterClipboardTakes(int32_t index, int32_t version, int32_t takes)
{
    if (ClipSide* side = at(index)) clipPartnerTakes(*side, version, takes);
}

void masterClipboardFresh(int32_t index)
{
    if (ClipSide* side = at(index)) clipConnectionUp(*side);
}

void masterClipboardEnded(int32_t index)
{
    if (ClipSide* side = at(index)) clipConnectionEnded(*side);
    if (index == relayTo || index == relayFrom) relayFrom = relayTo = -1;
}

void masterClipboardBytes(int32_t index, const uint8_t* data, size_t n)
{
    if (ClipSide* side = at(index)) clipBytes(*side, data, n);
}

void masterClipboardDrained(int32_t index)
{
    if (ClipSide* side = at(index)) clipContinue(*side);
}

void masterClipboardEntered(int32_t from, int32_t to)
{
    ClipSide* side = at(to);
    if (!side) return;
    if (from >= 0) {
        // What the Slave left holds comes first: it goes on once it is here.
        relayFrom = from;
        relayTo = to;
        return;
    }
    relayFrom = relayTo = -1;
    clipPush(*side);
}
