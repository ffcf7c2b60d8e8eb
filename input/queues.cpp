#include "input/queues.h"

#include <cstring>

#include "app/constants.h"

namespace {

// Moves the pending slots [readIndex, count) to the front of each array.
template <typename Queue>
void compact(Queue& queue, int32_t* const* arrays, int arrayCount)
{
    const int32_t pending = queue.count - queue.readIndex;
    for (int a = 0; a < arrayCount; ++a)
        std::memmove(arrays[a], arrays[a] + queue.readIndex, sizeof(int32_t) * static_cast<size_t>(pending));
    queue.count = pending;
    queue.readIndex = 0;
}

template <typename Queue>
bool makeRoom(Queue& queue, int32_t* const* arrays, int arrayCount)
{
    if (queue.count < QUEUE_CAPACITY) return true;
    if (queue.readIndex == 0) return false;  // 255 events truly pending
    compact(queue, arrays, arrayCount);
    return true;
}

template <typename Queue>
void advance(Queue& queue)
{
    ++queue.readIndex;
    if (queue.readIndex >= queue.count) {
        queue.readIndex = 0;
        queue.count = 0;
    }
}

}  // namespace

bool pushButton(ButtonQueue& queue, int32_t code)
{
    int32_t* const arrays[] = {queue.events};
    if (!makeRoom(queue, arrays, 1)) return false;
    queue.events[queue.count++] = code;
    return true;
}

bool pushKey(KeyQueue& queue, int32_t vkCode, int32_t event)
{
    int32_t* const arrays[] = {queue.vkCodes, queue.events};
    if (!makeRoom(queue, arrays, 2)) return false;
    queue.vkCodes[queue.count] = vkCode;
    queue.events[queue.count] = event;
    ++queue.count;
    return true;
}

bool takeButton(ButtonQueue& queue, int32_t* code)
{
    if (!hasPending(queue)) return false;
    *code = queue.events[queue.readIndex];
    advance(queue);
    return true;
}

bool takeKey(KeyQueue& queue, int32_t* vkCode, int32_t* event)
{
    if (!hasPending(queue)) return false;
    *vkCode = queue.vkCodes[queue.readIndex];
    *event = queue.events[queue.readIndex];
    advance(queue);
    return true;
}

void clearQueue(ButtonQueue& queue) { queue = ButtonQueue{}; }
void clearQueue(KeyQueue& queue) { queue = KeyQueue{}; }

namespace {

bool waiting(const ReleaseOverflow& overflow, int32_t code)
{
    for (int32_t i = 0; i < overflow.count; ++i)
        if (overflow.codes[i] == code) return true;
    return false;
}

// Parks a release; a key already waiting to come up needs no second entry.
void park(ReleaseOverflow& overflow, int32_t code)
{
    if (!waiting(overflow, code) && overflow.count < 256) overflow.codes[overflow.count++] = code;
}

void dropFirst(ReleaseOverflow& overflow)
{
    std::memmove(overflow.codes, overflow.codes + 1, sizeof(int32_t) * static_cast<size_t>(--overflow.count));
}

}  // namespace

void refillReleases(KeyQueue& queue, ReleaseOverflow& overflow)
{
    while (overflow.count > 0 && pushKey(queue, overflow.codes[0], EV_KEY_UP)) dropFirst(overflow);
}

void refillReleases(ButtonQueue& queue, ReleaseOverflow& overflow)
{
    while (overflow.count > 0 && pushButton(queue, overflow.codes[0])) dropFirst(overflow);
}

bool queueKeyEvent(KeyQueue& queue, ReleaseOverflow& overflow, int32_t vkCode, int32_t event)
{
    refillReleases(queue, overflow);
    if (overflow.count == 0 && pushKey(queue, vkCode, event)) return true;
    if (event != EV_KEY_UP) return false;
    park(overflow, vkCode);
    return true;
}

bool queueButtonEvent(ButtonQueue& queue, ReleaseOverflow& overflow, int32_t code)
{
    refillReleases(queue, overflow);
    if (overflow.count == 0 && pushButton(queue, code)) return true;
    if (code != EV_LEFT_UP && code != EV_RIGHT_UP) return false;
    park(overflow, code);
    return true;
}

void addWheel(int32_t* pending, int32_t delta)
{
    constexpr int32_t bound = 1 << 30;
    const int64_t sum = static_cast<int64_t>(*pending) + delta;
    *pending = static_cast<int32_t>(sum > bound ? bound : sum < -bound ? -bound : sum);
}

int32_t takeWheelStep(int32_t* pending)
{
    const int32_t step = *pending > 32767 ? 32767 : *pending < -32768 ? -32768 : *pending;
    *pending -= step;
    return step;
}
