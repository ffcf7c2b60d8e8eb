// The clipboard connection with one partner, for the Slave's link to its
// Master and for each of a Master's Slaves: what comes (text, a picture,
// files and folders) becomes the offers of the CLIPBOARD selection, and what
// the selection holds goes to the partner when control moves there (the
// Master's push as it enters) or back (the Slave's as control leaves).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "clipboard/clipboard_buffer.h"
#include "clipboard/file_list.h"
#include "unix/clip_files.h"

// What this side takes of the richer transfers: text, pictures, files
// (unless file-limit is 0) and the word that the partner's clipboard is unchanged.
constexpr int32_t CLIP_WE_TAKE = CLIP_CAN_TEXT | CLIP_CAN_PICTURE | CLIP_CAN_UNCHANGED | CLIP_CAN_FILES;

// A clipboard transfer in chunks going out: fed to the connection as it
// drains, its parts (text, picture) first, then its files read a chunk at a time.
struct OutgoingTransfer {
    struct Part {
        uint32_t format;
        std::string data;
    };
    std::vector<Part> parts;
    size_t part = 0;      // the part whose chunk goes next
    size_t offset = 0;    // within it
    OutgoingFiles files;
    uint32_t number = 0;
    bool active = false;
};

struct ClipSide {
    int32_t index = 0;              // the link's
    std::string who = "the Master"; // what the log calls the partner
    uint64_t fileLimit = 2048ull << 20;  // file-limit in bytes: 0 lets no files across
    int32_t partnerTakes = 0;       // what the partner announced it takes

    ClipboardBuffer incoming;
    ClipboardAssembly parts;
    FileReceiver files;
    DropSink disk;
    OutgoingTransfer outgoing;
    uint32_t lastTransfer = 0;
    // The selection's serial when what it holds last went to the partner,
    // and right after what came from the partner was placed on it: the same
    // serial again means the partner has it already. Forgotten with the
    // connection.
    uint32_t sentSerial = 0, placedSerial = 0;
    bool sentKnown = false, placedKnown = false;
    // A transfer from the partner was placed, or it said its clipboard is
    // unchanged: the Master passes it on to the Slave in control.
    void (*arrived)(ClipSide& side) = nullptr;
};

// What this side announces it takes of the clipboard.
int32_t clipTakes(const ClipSide& side);
// The partner's announcement (PKT_CLIPBOARD_CAPS x and y).
void clipPartnerTakes(ClipSide& side, int32_t version, int32_t takes);
// The clipboard connection is up, or ended: nothing half received or half
// sent carries over, and files half received go, their folder with them.
void clipConnectionUp(ClipSide& side);
void clipConnectionEnded(ClipSide& side);
void clipBytes(ClipSide& side, const uint8_t* data, size_t n);
// The connection drained: the transfer going out goes on.
void clipContinue(ClipSide& side);
// The selection goes to the partner, unless the partner has it already (it
// came from there, or went there last time): then, to a partner that takes
// it, the word that it is unchanged.
void clipPush(ClipSide& side);
