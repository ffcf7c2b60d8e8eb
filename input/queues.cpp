#include "input/queues.h"

#include <cstring>

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
