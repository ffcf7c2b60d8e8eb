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

// Empties a queue without sending: every slot zeroed, count and readIndex 0.
void clearQueue(ButtonQueue& queue);
void clearQueue(KeyQueue& queue);
