// Bytes waiting their turn, in a block grown with realloc: nothing here
// throws or needs more of the C++ runtime than the Windows 2000 program has.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteQueue {
    uint8_t* data = nullptr;
    size_t begin = 0, end = 0, capacity = 0;
};

// Appends n bytes; false (and nothing appended) when no memory can be had.
bool queueAppend(ByteQueue& queue, const void* bytes, size_t n);
inline size_t queueSize(const ByteQueue& queue) { return queue.end - queue.begin; }
inline const uint8_t* queueFront(const ByteQueue& queue) { return queue.data + queue.begin; }
// The first n bytes are gone.
void queueTaken(ByteQueue& queue, size_t n);
void queueClear(ByteQueue& queue);
// Gives the block back.
void queueFree(ByteQueue& queue);
