// Random pushes and takes against a plain model of the queue: nothing is lost,
// doubled or reordered, and an event is refused only with 255 truly pending.
// With the backlog behind the slots (first byte odd), nothing is refused at
// all at these sizes, and what comes out is exactly what went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>

#include "app/constants.h"
#include "input/queues.h"

namespace {

// Takes the oldest key, which must be the model's oldest; false when both
// were empty.
bool takeAgainstModel(KeyQueue& q, std::deque<int32_t>& model)
{
    int32_t vk = 0, ev = 0;
    const bool taken = takeKey(q, &vk, &ev);
    if (taken != !model.empty()) std::abort();
    if (taken) {
        if (vk != model.front()) std::abort();
        model.pop_front();
    }
    return taken;
}

// The same, then the freed slot refilled from the backlog.
bool takeAgainstModel(KeyQueue& q, EventBacklog& backlog, std::deque<int32_t>& model)
{
    const bool taken = takeAgainstModel(q, model);
    refillFromBacklog(q, backlog);
    return taken;
}

void slotsAlone(const uint8_t* data, size_t size)
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
            takeAgainstModel(q, model);
        }
        if (q.count < 0 || q.count > QUEUE_CAPACITY || q.readIndex < 0 || q.readIndex > q.count) std::abort();
        if (q.count == 0 && q.readIndex != 0) std::abort();
    }
}


void withBacklog(const uint8_t* data, size_t size)
{
    static auto backlog = std::make_unique<EventBacklog>();
    clearBacklog(*backlog);
    KeyQueue q;
    std::deque<int32_t> model;
    int32_t next = 1;
    for (size_t i = 0; i < size; ++i) {
        // Bursts: the low bits say how many events arrive before the next take.
        for (int n = data[i] & 7; n > 0; --n) {
            if (!queueKeyEvent(q, *backlog, next, (data[i] & 8) ? EV_KEY_UP : EV_KEY_DOWN)) std::abort();
            model.push_back(next++);
        }
        takeAgainstModel(q, *backlog, model);
    }
    while (takeAgainstModel(q, *backlog, model)) {
    }
    if (backlogSize(*backlog) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    if (data[0] & 1)
        withBacklog(data + 1, size - 1);
    else
        slotsAlone(data + 1, size - 1);
    return 0;
}
