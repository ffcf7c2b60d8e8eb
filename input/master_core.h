// The Master's decisions, once for every front end: where a push against an
// edge leads on the desk of up to four Slaves, the guards against crossing by
// accident, control handed over, passed on and taken back, the keys that move
// control and the lock, and what goes to the Slave in control: one packet at
// a time awaits its READY, or, between two that announced it, a window of
// them, with the queues behind.
//
// Like the links' engine it does no I/O of its own: the front end hands it
// what the hand did (a point, a step of a held pointer, a button, the wheel, a
// key, a hotkey), what the partner said (READY, its size, its announcement)
// and the link's coming and going, and it acts only through `MasterHost`.
// No <windows.h>, no X: built natively and tested with a fake host.
#pragma once

#include <cstdint>

#include "app/constants.h"
#include "input/desktop_math.h"
#include "input/hotkeys.h"
#include "input/key_rules.h"
#include "input/layout.h"
#include "input/queues.h"
#include "link/packet.h"
#include "link/send_window.h"

// One Slave as the Master's decisions see it: its desktop, READY and the
// queues. A front end keeps the rest of what it holds for the Slave beside it.
struct SlaveLine {
    int32_t index = 0;            // 0 to 3: Slaves 1 to 4
    bool controlLinked = false;   // its control connection is up

    // The partner's desktop, as far as known: this PC's own until it tells.
    int32_t remoteLeft = 0, remoteTop = 0;
    int32_t remoteWidth = 0, remoteHeight = 0;

    // peerReady: the next event may go at once.
    int32_t peerReady = 0;
    SendWindow window;
    ButtonQueue buttonQueue;
    KeyQueue keyQueue;
    EventBacklog keyBacklog, buttonBacklog;
    int32_t pendingWheel = 0;
    int32_t pendingSideWheel = 0;  // only for a partner that takes the sideways wheel
    int32_t partnerInput = 0;      // what the partner announced it takes of input (INPUT_CAN_ bits)
    int32_t lastSentX = 0, lastSentY = 0;
    bool sendFailed = false;       // the last packet sent did not go
};

// How control moved, for the front end's notice.
enum class ControlMove { Entered, Switched, Left };

// What the Master's decisions may ask of the front end.
class MasterHost {
public:
    // The time in milliseconds (wrapping).
    virtual uint32_t now() = 0;
    // Queues the packet on the Slave's control connection; false when there
    // is no connection to send on.
    virtual bool send(SlaveLine& line, const uint8_t packet[PACKET_SIZE]) = 0;
    // After each packet that asks for a READY, and each READY: whether one
    // awaits its answer, and how long the oldest has waited.
    virtual void unanswered(SlaveLine& line, bool waiting, uint32_t waitedMs) = 0;
    // A wheel packet could not go (the front end may say so).
    virtual void sendRefused(SlaveLine& line) = 0;
    // Wheel turns wait to go once a READY found them: the front end calls
    // `masterSendWheel` soon, outside the read that brought the READY.
    virtual void wheelLater(SlaveLine& line) = 0;

    // The hand's input is the Slave's from here: this PC's programs get none
    // of it and its pointer is hidden. `held`: the pointer is held still on
    // `holdAt` and each step the hand makes comes as a step; otherwise it is
    // confined to the rectangle of the Slave's size at the origin. Called
    // again, as control passes to another Slave or the Slave's desktop
    // changes, with the new terms.
    virtual void capture(const SlaveLine& line, bool held, Point holdAt) = 0;
    // The hand's input is this PC's again, the pointer free and shown.
    virtual void release() = 0;
    // Puts the pointer at `at`: on a Slave's desktop while one has control,
    // on this PC's otherwise. The front end tells `masterPlaced` once it
    // stands there while a Slave has control, later (not from here), unless
    // the pointer is held.
    virtual void place(Point at) = 0;
    // Where this PC's pointer stands, for a point reported past every monitor.
    virtual Point pointerAt(Point reported) = 0;
    // The guard's switch delay: `masterGuardDue` in `ms`.
    virtual void guardTimer(uint32_t ms) = 0;
    // Control moved: `to` the Slave in control now (null when it came back).
    virtual void controlMoved(ControlMove how, SlaveLine* from, SlaveLine* to) = 0;
    // The lock was taken or let go.
    virtual void lockChanged(bool locked) = 0;
    // A press refused for a full queue, for the user's eyes; a key or a button
    // queued, for the diagnostics.
    virtual void status(int32_t slot, const char* text) = 0;

protected:
    ~MasterHost() = default;
};

struct MasterState {
    MasterHost* host = nullptr;
    SlaveLine* lines[MAX_SLAVES] = {};  // the front end's Slaves, each with its index

    // The desk and this PC's desktop: localWidth and localHeight are the
    // primary monitor's, `desktop` every monitor.
    Desk desk = {};
    CrossGuards guards = {};
    Desktop desktop = {};
    int32_t localWidth = 0, localHeight = 0;
    // The pointer is held (and steps read) whatever the Slave's size: a front
    // end that reads the hand's motion only as steps.
    bool alwaysHold = false;

    // Control: STATE_LOCAL, or STATE_REMOTE with `control` the Slave that has
    // it. cursorX and cursorY: the newest position, on the Slave in control.
    int32_t controlState = STATE_LOCAL;
    SlaveLine* control = nullptr;
    int32_t cursorX = 0, cursorY = 0;
    int32_t leftHeld = 0, rightHeld = 0;
    int32_t crossingLocked = 0;

    bool held = false;      // the pointer is held on holdAt; slaveAt follows the steps
    Point holdAt = {0, 0};
    Point slaveAt = {0, 0};
    bool arriving = false;  // from a crossing until the pointer stands on the entry point
    Point lastOnSlave[MAX_SLAVES] = {};
    bool knownOnSlave[MAX_SLAVES] = {};
    Point lastOnMaster = {0, 0};
    GuardState guard = {};
    Point lastPoint = {0, 0};
    uint8_t keysDown[256] = {};
    uint8_t releaseStays[256] = {};
    const SlaveLine* pressedOn[3] = {};
};

// ---- The pointer and control.
// A point the hand moved the pointer to (unclipped, past an edge where it
// was pushed). While the pointer is held it is the held point plus the step.
// True when the pointer is free under a Slave in control, for a front end
// that keeps something under it.
bool masterPointer(MasterState& m, Point p);
// The pointer stands on the entry point: the points from here are the Slave's.
void masterPlaced(MasterState& m);
// The switch delay ran: a pointer still against the edge crosses.
void masterGuardDue(MasterState& m);
// A hotkey (HotkeyAction) was pressed.
void masterHotkey(MasterState& m, int32_t action);
// Control comes back at once without telling the Slave (its link failed).
void masterDrop(MasterState& m);
// This PC's desktop or the Slave's changed while the Slave has control.
void masterRefit(MasterState& m);
// A Slave whose control connection is up; null otherwise.
SlaveLine* masterLinked(const MasterState& m, int32_t index);

// ---- Input to the Slave in control.
// A button (EV_LEFT_DOWN ... EV_X2_UP). The left and right are followed in
// either state (a held one keeps control where it is).
void masterButton(MasterState& m, int32_t code);
// A notch of the wheel or the sideways wheel (PKT_WHEEL, PKT_HWHEEL).
void masterWheel(MasterState& m, int32_t type, int32_t delta);
// A key as the keyboard reports it: its virtual-key code, and what it queues
// (null when it queues nothing).
void masterKey(MasterState& m, uint32_t vk, bool up, const KeyEvent* key);
// A hotkey is about to move control: the modifiers held for it stay with the
// PC they were pressed for.
void modifiersStayBehind(MasterState& m);

// ---- The Slave's side of the link.
// A PKT_READY arrived: the next pending packet goes out.
void onPeerReady(MasterState& m, SlaveLine& line);
// The partner announced what it takes of input (PKT_CLIPBOARD_CAPS offset
// 12). True when the window opened: packets go without awaiting each READY.
bool masterAnnounced(SlaveLine& line, int32_t takes);
// Its desktop's size (PKT_SCREEN_SIZE); a size not positive is ignored.
void masterSlaveSize(MasterState& m, SlaveLine& line, int32_t width, int32_t height);
// The control connection came up: one packet at a time until the partner
// announces more. Or it ended: keys not yet sent are forgotten, and control
// comes back if it had it.
void masterLinkUp(MasterState& m, SlaveLine& line);
void masterLinkDown(MasterState& m, SlaveLine& line);
// The wheel turns that added up while a packet awaited its answer, sent
// apart from the READY that found them (see MasterHost::wheelLater).
void masterSendWheel(MasterState& m, SlaveLine& line);

// ---- For the front end's own senders.
// Sends one packet on the line: the pointer's position is noted, and one
// that asks for a READY joins those under way. False when it could not go.
bool lineSend(MasterState& m, SlaveLine& line, const InputPacket& packet);
bool lastSentPositionIs(const SlaveLine& line, int32_t x, int32_t y);
// A READY came: false when no packet awaited one.
bool noteReady(MasterState& m, SlaveLine& line);
// The senders: a packet of `type` with the pointer at (x, y) and the next
// button of the queue, if one waits; PKT_INPUT with the next key of the
// queue; a wheel's turn. A button or key packet that cannot go brings control
// home when its Slave had it; a wheel's says so (MasterHost::sendRefused).
void sendButtonPacket(MasterState& m, SlaveLine& line, int32_t type, int32_t x, int32_t y);
void sendKeyPacket(MasterState& m, SlaveLine& line, int32_t x, int32_t y);
void sendWheelPacket(MasterState& m, SlaveLine& line, int32_t type, int32_t delta);
// A packet asking for a READY went out on the line: stop-and-wait waits for
// its answer, a window with room left lets the next go at once.
void packetSent(SlaveLine& line);
void forgetPendingInput(SlaveLine& line);
void forgetPendingKeys(SlaveLine& line);
