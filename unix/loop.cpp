#include "unix/loop.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "unix/log.h"

namespace {

struct Watch {
    int fd;
    short events;
    FdHandler handler;
    void* context;
    uint64_t generation;  // a watch made again since the wait began is not this one
};

std::vector<Watch> watches;
std::vector<Timer*> timers;
uint64_t generations = 0;
int32_t (*beforeWaitHook)() = nullptr;
bool running = false;
int endCode = 0;

Watch* watchOf(int fd)
{
    for (Watch& watch : watches)
        if (watch.fd == fd) return &watch;
    return nullptr;
}

// Fires every timer that is due; returns how long until the next, or -1.
int32_t fireTimers()
{
    for (bool fired = true; fired;) {
        fired = false;
        const int64_t now = nowMs();
        for (size_t i = 0; i < timers.size(); ++i) {
            Timer* timer = timers[i];
            if (timer->at > now) continue;
            timers.erase(timers.begin() + static_cast<long>(i));
            timer->at = -1;
            timer->fire(timer->context);  // may start timers again: the list is looked at afresh
            fired = true;
            break;
        }
    }
    if (timers.empty()) return -1;
    const int64_t now = nowMs();
    int64_t next = timers[0]->at - now;
    for (const Timer* timer : timers)
        if (timer->at - now < next) next = timer->at - now;
    return next < 0 ? 0 : static_cast<int32_t>(next);
}

int32_t earliest(int32_t a, int32_t b)
{
    if (a < 0) return b;
    if (b < 0) return a;
    return a < b ? a : b;
}

}  // namespace

void watchFd(int fd, short events, FdHandler handler, void* context)
{
    if (Watch* watch = watchOf(fd)) {
        const bool same = watch->handler == handler && watch->context == context;
        *watch = {fd, events, handler, context, same ? watch->generation : ++generations};
        return;
    }
    watches.push_back({fd, events, handler, context, ++generations});
}

void forgetFd(int fd)
{
    for (size_t i = 0; i < watches.size(); ++i) {
        if (watches[i].fd == fd) {
            watches.erase(watches.begin() + static_cast<long>(i));
            return;
        }
    }
}

void timerStart(Timer& timer, int32_t ms, void (*fire)(void*), void* context)
{
    timerStop(timer);
    timer.at = nowMs() + (ms < 0 ? 0 : ms);
    timer.fire = fire;
    timer.context = context;
    timers.push_back(&timer);
}

void timerStop(Timer& timer)
{
    for (size_t i = 0; i < timers.size(); ++i) {
        if (timers[i] == &timer) {
            timers.erase(timers.begin() + static_cast<long>(i));
            break;
        }
    }
    timer.at = -1;
}

int64_t nowMs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void setBeforeWait(int32_t (*beforeWait)())
{
    beforeWaitHook = beforeWait;
}

int runLoop()
{
    running = true;
    std::vector<pollfd> fds;
    std::vector<uint64_t> polled;
    while (running) {
        int32_t wait = fireTimers();
        if (!running) break;
        if (beforeWaitHook) wait = earliest(wait, beforeWaitHook());
        if (!running) break;
        fds.clear();
        polled.clear();
        for (const Watch& watch : watches) {
            fds.push_back({watch.fd, watch.events, 0});
            polled.push_back(watch.generation);
        }
        const int ready = poll(fds.data(), fds.size(), wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            logLine("the event loop failed: poll: %s", strerror(errno));
            return 1;
        }
        for (size_t i = 0; i < fds.size() && running; ++i) {
            if (fds[i].revents == 0) continue;
            // Passed over when forgotten or made again by an earlier handler.
            const Watch* watch = watchOf(fds[i].fd);
            if (!watch || watch->generation != polled[i]) continue;
            watch->handler(fds[i].fd, fds[i].revents, watch->context);
        }
    }
    return endCode;
}

void loopEnd(int code)
{
    endCode = code;
    running = false;
}
