// The Master's queues of pending button and key events. Each has 255 slots,
// a count of slots written since it was last empty and the slot that goes out
// next; the slots are not a ring. No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

constexpr int32_t QUEUE_CAPACITY = 255;

struct ButtonQueue {
    int32_t events[QUEUE_CAPACITY] = {};
    int32_t count = 0;
    int32_t readIndex = 0;
};

struct KeyQueue {
    int32_t vkCodes[QUEUE_CAPACITY] = {};
    int32_t events[QUEUE_CAPACITY] = {};
    int32_t count = 0;
    int32_t readIndex = 0;
};

// Appends one event. When all 255 slots have been written since the queue was
// last empty, the entries still pending move to the front first, so an event
// is refused (false) only when 255 are truly pending. Nothing is ever written
// past the slots.
bool pushButton(ButtonQueue& queue, int32_t code);
bool pushKey(KeyQueue& queue, int32_t vkCode, int32_t event);

// Takes the oldest pending entry; false (and nothing written) when none is
// pending. Taking the last one empties the queue: count and readIndex go to 0.
bool takeButton(ButtonQueue& queue, int32_t* code);
bool takeKey(KeyQueue& queue, int32_t* vkCode, int32_t* event);

inline bool hasPending(const ButtonQueue& queue) { return queue.readIndex < queue.count; }
inline bool hasPending(const KeyQueue& queue) { return queue.readIndex < queue.count; }

// Releases that found even the backlog full. Each waits here, once per key or
// button, and goes out before anything queued after it: whatever went down on
// the Slave comes up again, however long the Slave was silent.
struct ReleaseOverflow {
    int32_t codes[256] = {};  // VK codes, or the buttons' release codes (EV_LEFT_UP ...)
    int32_t count = 0;
};

// Events that found their queue's 255 slots taken wait in the backlog, in
// order, and move into the queue as slots free: an automated typist's burst
// of thousands of keys arrives whole. The backlog is bounded far beyond what
// anyone types ahead of a live link; past that, presses are refused and
// releases wait in `releases`.
constexpr int32_t BACKLOG_CAPACITY = 65536;

struct EventBacklog {
    int32_t codes[BACKLOG_CAPACITY] = {};   // VK codes, or button event codes
    int32_t events[BACKLOG_CAPACITY] = {};  // key events (0 for buttons)
    int32_t head = 0;                       // the oldest entry
    int32_t count = 0;
    ReleaseOverflow releases;
};

// Queues an event behind anything already waiting in the backlog. False only
// for a press that found the backlog full too: it is refused.
bool queueKeyEvent(KeyQueue& queue, EventBacklog& backlog, int32_t vkCode, int32_t event);
bool queueButtonEvent(ButtonQueue& queue, EventBacklog& backlog, int32_t code);
// Moves waiting events into the queue, oldest first, as far as slots allow.
void refillFromBacklog(KeyQueue& queue, EventBacklog& backlog);
void refillFromBacklog(ButtonQueue& queue, EventBacklog& backlog);
// Events still waiting behind the queue's slots.
inline int32_t backlogSize(const EventBacklog& backlog) { return backlog.count + backlog.releases.count; }
// Forgets every waiting event.
void clearBacklog(EventBacklog& backlog);
// Takes back the newest waiting events while they are presses (`downEvent`)
// of keys `pressOf` picks: the backlog's first, then the queue's, never one
// already sent. Returns how many were taken back.
int32_t dropNewestPresses(KeyQueue& queue, EventBacklog& backlog, int32_t downEvent, bool (*pressOf)(uint32_t vk));

// Wheel turns that arrive while a packet awaits its answer add up, and go out
// together when the partner is ready: addWheel sums (bounded far beyond any
// real spin), takeWheelStep gives the next PKT_WHEEL's delta, within the
// field's 16 signed bits, and leaves the rest pending.
void addWheel(int32_t* pending, int32_t delta);
int32_t takeWheelStep(int32_t* pending);

// Empties a queue without sending: every slot zeroed, count and readIndex 0.
void clearQueue(ButtonQueue& queue);
void clearQueue(KeyQueue& queue);
