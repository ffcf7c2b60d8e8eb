// The Linux Slave's one link to its Master, as the Windows Slave keeps it:
// the two connections and how they heal, what the Master announced, the
// control connection's reader and the clipboard's transfers both ways.
#pragma once

#include <cstdint>
#include <string>

#include <vector>

#include "clipboard/clipboard_buffer.h"
#include "clipboard/file_list.h"
#include "link/packet.h"
#include "link/link_life.h"
#include "unix/clip_files.h"

// What this side takes: of the richer clipboard transfers text, pictures,
// files (unless file-limit is 0: slaveTakesClipboard) and the word that the
// Master's clipboard is unchanged; of input everything.
constexpr int32_t SLAVE_TAKES_CLIPBOARD = CLIP_CAN_TEXT | CLIP_CAN_PICTURE | CLIP_CAN_UNCHANGED | CLIP_CAN_FILES;
constexpr int32_t SLAVE_TAKES_INPUT = INPUT_CAN_SCAN_CODES | INPUT_CAN_WINDOW | INPUT_CAN_MORE_BUTTONS;

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

struct Slave {
    std::string partner;
    int32_t port = 447;
    bool plainNoticeGiven = false;  // the Master asked for a link key this side lacks
    uint64_t fileLimit = 2048ull << 20;  // file-limit in bytes: 0 lets no files across

    // The control connection's reader and what the Master announced.
    PacketInbox inbox;
    int32_t partnerInput = 0;
    int32_t partnerTakes = 0;
    bool partnerDriving = false;    // entered and not left

    // The clipboard both ways.
    ClipboardBuffer incoming;
    ClipboardAssembly parts;
    FileReceiver files;
    DropSink disk;
    OutgoingTransfer outgoing;
    uint32_t lastTransfer = 0;
    bool readingClipboard = false;  // the selection's owner has been asked
    uint32_t readSerial = 0;        // the selection's serial when it was asked
    // The selection's serial when its text last went to the Master, for the
    // word "unchanged" instead of the text again; forgotten with the connection.
    uint32_t sentSerial = 0;
    bool sentKnown = false;
};

extern Slave slave;

// What this side announces it takes of the clipboard.
int32_t slaveTakesClipboard();

// unix/slave_link.cpp: the connections, run by the link engine.
// `stretched`: the link key, or null for the plain wire.
void startLink(const std::string& partner, int32_t port, const uint8_t* stretched);
void endLink();
// Before each wait: the engine's timers that are due, and how long the wait
// may last (ms, -1 for as long as it likes).
int32_t linkWaitMs();
// Bytes for the Master on a channel: queued, then written by partnerFlush
// (false when the connection is not up, or failed and ended).
bool partnerQueue(int channel, const void* data, size_t n);
bool partnerFlush(int channel);
size_t partnerPending(int channel);
// Whether the connection of the channel is up (proven, with a key), and
// whether it is there to queue for at all (with a key, until the proof).
bool partnerUp(int channel);
bool partnerOpen(int channel);
// The control connection's socket, or -1.
int controlFd();

// unix/replay.cpp: what the control connection carries.
void announceLink();
void onControlBytes(const uint8_t* data, size_t n);
void announceDesktop();

// unix/clipboard_link.cpp: what the clipboard connection carries.
void clipboardConnectionUp();
// The connection ended: files half received go, their folder with them.
void clipboardConnectionEnded();
void onClipboardBytes(const uint8_t* data, size_t n);
void continueClipboardSend();
void pushClipboardBack();
