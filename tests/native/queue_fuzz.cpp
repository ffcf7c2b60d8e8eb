// Random pushes and takes against a plain model of the queue: nothing is lost,
// doubled or reordered, and an event is refused only with 255 truly pending.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "input/queues.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KeyQueue q;
    std::deque<int32_t> model;
    int32_t next = 1;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] & 1) {
            const bool accepted = pushKey(q, next, data[i]);
            if (accepted != (model.size() < QUEUE_CAPACITY)) std::abort();
            if (accepted) model.push_back(next);
            ++next;
        } else {
            int32_t vk = 0, ev = 0;
            const bool taken = takeKey(q, &vk, &ev);
            if (taken != !model.empty()) std::abort();
            if (taken) {
                if (vk != model.front()) std::abort();
                model.pop_front();
            }
        }
        if (q.count < 0 || q.count > QUEUE_CAPACITY || q.readIndex < 0 || q.readIndex > q.count) std::abort();
        if (q.count == 0 && q.readIndex != 0) std::abort();
    }
    return 0;
}
