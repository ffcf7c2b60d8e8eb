// The Linux Slave's one link to its Master, as the Windows Slave keeps it:
// the two connections and how they heal, what the Master announced, the
// control connection's reader and the clipboard's transfers both ways.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "clipboard/clipboard_buffer.h"
#include "clipboard/file_list.h"
#include "link/packet.h"
#include "unix/conn.h"
#include "unix/loop.h"

// What this side takes: of the richer clipboard transfers text alone (and
// the word that the Master's clipboard is unchanged), of input everything.
constexpr int32_t SLAVE_TAKES_CLIPBOARD = CLIP_CAN_TEXT | CLIP_CAN_UNCHANGED;
constexpr int32_t SLAVE_TAKES_INPUT = INPUT_CAN_SCAN_CODES | INPUT_CAN_WINDOW | INPUT_CAN_MORE_BUTTONS;

// A clipboard transfer in chunks going out: fed to the connection as it drains.
struct OutgoingText {
    std::string text;     // UTF-8
    uint32_t number = 0;
    size_t offset = 0;
    bool active = false;
};

struct Slave {
    std::string partner;
    int32_t port = 447;
    in_addr address = {};           // the partner, as the control connect found it
    bool addressKnown = false;

    // The listeners, each started once; a port that cannot be listened on
    // leaves this side linking by connecting out.
    int listeners[2] = {-1, -1};
    bool listenTried[2] = {false, false};
    Timer reconnect;                // connecting out again, for a side that cannot listen
    int32_t reconnectDelay = 0;

    // The live connections (connecting, in their handshake, or up), and a
    // newcomer from the partner that must prove the key before it may take
    // a proven one's place.
    Conn* live[2] = {nullptr, nullptr};
    Conn* newcomers[2] = {nullptr, nullptr};
    bool controlLinked = false;
    bool clipboardConnector = false;  // this side made the clipboard connection
    Timer clipboardRetry;
    int32_t clipboardRetryDelay = 0;
    bool keyNoticeGiven = false;
    bool plainNoticeGiven = false;

    // The control connection's reader and what the Master announced.
    PacketInbox inbox;
    int32_t partnerInput = 0;
    int32_t partnerTakes = 0;
    bool partnerDriving = false;    // entered and not left

    // The clipboard both ways.
    ClipboardBuffer incoming;
    ClipboardAssembly parts;
    FileReceiver files;
    OutgoingText outgoing;
    uint32_t lastTransfer = 0;
    bool readingClipboard = false;  // the selection's owner has been asked
    uint32_t readSerial = 0;        // the selection's serial when it was asked
    // The selection's serial when its text last went to the Master, for the
    // word "unchanged" instead of the text again; forgotten with the connection.
    uint32_t sentSerial = 0;
    bool sentKnown = false;
};

extern Slave slave;

// unix/slave_link.cpp: the connections' life.
void startLink(const std::string& partner, int32_t port);
void endLink();
// The control connection failed under a send: it ends as a close would.
void controlBroken();

// unix/replay.cpp: what the control connection carries.
void announceLink();
void onControlBytes(const std::string& plain);
void announceDesktop();

// unix/clipboard_link.cpp: what the clipboard connection carries.
void clipboardConnectionUp();
void onClipboardBytes(const std::string& plain);
void continueClipboardSend();
void pushClipboardBack();
// The clipboard connection failed under a send.
void clipboardBroken();
