#include "link/byte_queue.h"

#include <cstdlib>
#include <cstring>

bool queueAppend(ByteQueue& queue, const void* bytes, size_t n)
{
    if (n == 0) return true;
    if (queue.capacity - queue.end < n && queue.begin > 0) {
        // What was taken is let go first: the rest moves to the front.
        std::memmove(queue.data, queue.data + queue.begin, queueSize(queue));
        queue.end -= queue.begin;
        queue.begin = 0;
    }
    if (queue.capacity - queue.end < n) {
        size_t capacity = queue.capacity ? queue.capacity : 4096;
        while (capacity - queue.end < n) {
            if (capacity > SIZE_MAX / 2) return false;
            capacity *= 2;
        }
        uint8_t* grown = static_cast<uint8_t*>(std::realloc(queue.data, capacity));
        if (!grown) return false;
        queue.data = grown;
        queue.capacity = capacity;
    }
    std::memcpy(queue.data + queue.end, bytes, n);
    queue.end += n;
    return true;
}

void queueTaken(ByteQueue& queue, size_t n)
{
    queue.begin += n < queueSize(queue) ? n : queueSize(queue);
    if (queue.begin == queue.end) queue.begin = queue.end = 0;
}

void queueClear(ByteQueue& queue)
{
    queue.begin = queue.end = 0;
}

void queueFree(ByteQueue& queue)
{
    std::free(queue.data);
    queue = ByteQueue();
}
