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

void append(EventBacklog& backlog, int32_t code, int32_t event)
{
    const int32_t at = (backlog.head + backlog.count) % BACKLOG_CAPACITY;
    backlog.codes[at] = code;
    backlog.events[at] = event;
    ++backlog.count;
}

void dropOldest(EventBacklog& backlog)
{
    backlog.head = (backlog.head + 1) % BACKLOG_CAPACITY;
    if (--backlog.count == 0) backlog.head = 0;
}

// Parked releases came after everything in the backlog: they join its end as
// room appears there.
void unpark(EventBacklog& backlog, int32_t releaseEvent)
{
    ReleaseOverflow& parked = backlog.releases;
    while (parked.count > 0 && backlog.count < BACKLOG_CAPACITY) {
        append(backlog, parked.codes[0], releaseEvent);
        dropFirst(parked);
    }
}

bool isRelease(int32_t code)
{
    return code == EV_LEFT_UP || code == EV_RIGHT_UP || code == EV_MIDDLE_UP || code == EV_X1_UP || code == EV_X2_UP;
}

// Behind a non-empty backlog an event waits its turn; a press that finds the
// backlog full is refused, a release is parked.
bool wait(EventBacklog& backlog, int32_t code, int32_t event, bool release)
{
    if (backlog.releases.count == 0 && backlog.count < BACKLOG_CAPACITY) {
        append(backlog, code, event);
        return true;
    }
    if (!release) return false;
    park(backlog.releases, code);
    return true;
}

}  // namespace

void refillFromBacklog(KeyQueue& queue, EventBacklog& backlog)
{
    for (;;) {
        while (backlog.count > 0 && pushKey(queue, backlog.codes[backlog.head], backlog.events[backlog.head]))
            dropOldest(backlog);
        if (backlog.count > 0 || backlog.releases.count == 0) return;
        unpark(backlog, EV_KEY_UP);
    }
}

void refillFromBacklog(ButtonQueue& queue, EventBacklog& backlog)
{
    for (;;) {
        while (backlog.count > 0 && pushButton(queue, backlog.codes[backlog.head])) dropOldest(backlog);
        if (backlog.count > 0 || backlog.releases.count == 0) return;
        unpark(backlog, 0);
    }
}

bool queueKeyEvent(KeyQueue& queue, EventBacklog& backlog, int32_t vkCode, int32_t event)
{
    refillFromBacklog(queue, backlog);
    unpark(backlog, EV_KEY_UP);
    if (backlogSize(backlog) == 0 && pushKey(queue, vkCode, event)) return true;
    return wait(backlog, vkCode, event, event == EV_KEY_UP);
}

bool queueButtonEvent(ButtonQueue& queue, EventBacklog& backlog, int32_t code)
{
    refillFromBacklog(queue, backlog);
    unpark(backlog, 0);
    if (backlogSize(backlog) == 0 && pushButton(queue, code)) return true;
    return wait(backlog, code, 0, isRelease(code));
}

void clearBacklog(EventBacklog& backlog)
{
    backlog.head = 0;
    backlog.count = 0;
    backlog.releases.count = 0;
}

int32_t dropNewestPresses(KeyQueue& queue, EventBacklog& backlog, int32_t downEvent, bool (*pressOf)(uint32_t vk))
{
    int32_t dropped = 0;
    while (backlog.count > 0) {
        const int32_t newest = (backlog.head + backlog.count - 1) % BACKLOG_CAPACITY;
        if (backlog.events[newest] != downEvent || !pressOf(static_cast<uint32_t>(backlog.codes[newest]))) return dropped;
        --backlog.count;
        ++dropped;
    }
    while (queue.count > queue.readIndex && queue.events[queue.count - 1] == downEvent &&
           pressOf(static_cast<uint32_t>(queue.vkCodes[queue.count - 1]))) {
        --queue.count;
        queue.vkCodes[queue.count] = 0;
        queue.events[queue.count] = 0;
        ++dropped;
    }
    if (queue.count == queue.readIndex) queue.count = queue.readIndex = 0;
    return dropped;
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
