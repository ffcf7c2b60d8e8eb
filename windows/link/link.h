// One link per partner: on a Master, one for each Slave of the desk; on a
// Slave, the one to its Master. A link holds everything the program keeps for
// its partner: the two connections and their healing, the partner's desktop,
// READY and the queues, the packets half read, the clipboard transfers. The
// application state keeps only what belongs to this PC, and which link has
// control. The code that serves one partner serves each, given its link.
#pragma once

#include "windows/app/appstate.h"
#include "clipboard/clipboard_buffer.h"
#include "windows/clipboard/clipboard_files.h"
#include "input/master_core.h"
#include "link/byte_queue.h"
#include "link/packet.h"

// A richer clipboard transfer going out: its parts, copied off the
// clipboard, live until its END has gone (or it is given up), and go out a
// chunk at a time through the outbox.
struct OutgoingTransfer {
    struct Part {
        uint32_t format;
        uint8_t* data;
        uint32_t size;
    } parts[CLIPBOARD_MAX_PARTS] = {};
    int32_t count = 0;
    int32_t part = 0;      // the part whose next chunk goes next
    uint32_t offset = 0;   // where in it
    uint32_t number = 0;   // the transfer number
    bool active = false;   // chunks of it remain, END included
    bool underWay = false; // the socket has taken bytes of it
    OutgoingFiles files;   // after the parts: its files and folders, read as they go
};

// What the Master's decisions see of a Slave (its desktop, READY and the
// queues) is the SlaveLine the link starts with; a Slave's link to its Master
// uses its index, its connection's state and its desktop.
struct Link : SlaveLine {
    int32_t present = 0;  // a partner is set up for it
    char host[256] = {};  // the partner's computer name or address
    int32_t port = 0;     // its control port; the clipboard's is the next one up

    // The connections, as the link engine keeps them (link/link_life.h):
    // their sockets, 0 when none, and whether the control connection is up.
    SOCKET controlSocket = 0, clipboardSocket = 0;
    HANDLE lookup = nullptr;      // the lookup of the partner's name under way
    char hostEntry[MAXGETHOSTSTRUCT] = {};  // where its answer lands

    int32_t remoteSizeFromPartner = 0;  // 1 once a PKT_SCREEN_SIZE was taken
    bool partnerDriving = false;  // on a Slave: the Master has entered and not left

    // The control connection's reader, and what was last sent.
    PacketInbox inbox;
    uint8_t batch[64 * 1024] = {};
    int32_t batchBegin = 0, batchEnd = 0;

    // The clipboard transfers, both ways.
    ClipboardBuffer clipboardBuffer;
    ClipboardOutbox outbox;
    OutgoingTransfer outgoing;
    ClipboardAssembly incoming;
    FileReceiver incomingFiles;  // the files and folders of the transfer coming in
    DiskSink disk;               // and where they land
    uint32_t lastTransfer = 0;
    int32_t partnerTakes = 0;   // what the partner announced it takes in chunks; 0: plain text only
    bool loading = false;       // the clipboard is being read for it (its boxes run a message loop)
    bool pushWaiting = false;   // a push came while a transfer was still going out
    bool receiving = false;     // its receive is running
    ByteQueue heldBack;         // what arrived while it ran, taken next
    long staleNotices = 0;      // read notices whose bytes were read before they came
    // This PC's clipboard sequence number when it last sent its clipboard to
    // the partner, and right after it last placed the partner's; 0: unknown.
    DWORD sentSequence = 0, placedSequence = 0;
};

extern Link links[MAX_SLAVES];

// The link of the Slave in control, or null.
inline Link* controlLink()
{
    return static_cast<Link*>(app.control);
}

// The links set up now: on a Slave only the first; on a Master one per Slave.
inline int32_t linkCount()
{
    return app.mode == MODE_MASTER ? MAX_SLAVES : 1;
}

// The link of an index a message carries; the first for any other number.
inline Link& linkAt(WPARAM index)
{
    return links[index < static_cast<WPARAM>(MAX_SLAVES) ? index : 0];
}


// Fills the links from the settings: Slave 1 (or this Slave's Master) from
// the four values, Slaves 2 to 4 beside them. Returns a mask of the links
// whose partner or port changed, which must be made again.
int32_t linksFromSettings();

// Places the Slaves on the desk from the settings: at every load of them, so
// that a setting loaded takes effect at the next move.
void followDesk();

// How many Slaves are set up: on a Master the links present, on a Slave 0.
inline int32_t slavesSetUp()
{
    if (app.mode != MODE_MASTER) return 0;
    int32_t n = 0;
    for (const Link& link : links) n += link.present ? 1 : 0;
    return n;
}

// What the user calls the PC at the other end: "Slave 2", or on a Slave "the Master".
const char* linkName(const Link& link);
