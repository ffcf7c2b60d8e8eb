// The Linux program's one thread: poll() over the X connection, the sockets
// and the signals, with one-shot timers. Handlers run one at a time; a
// handler may watch, forget and time anything, its own descriptor included.
#pragma once

#include <cstdint>

using FdHandler = void (*)(int fd, short revents, void* context);

// Watches fd for `events` (POLLIN, POLLOUT); a second call changes them.
void watchFd(int fd, short events, FdHandler handler, void* context);
void forgetFd(int fd);

struct Timer {
    int64_t at = -1;  // when it fires (nowMs), -1 when stopped
    void (*fire)(void* context) = nullptr;
    void* context = nullptr;
};

// Starts (or restarts) the timer to fire once, ms from now.
void timerStart(Timer& timer, int32_t ms, void (*fire)(void*), void* context);
void timerStop(Timer& timer);
inline bool timerRunning(const Timer& timer) { return timer.at >= 0; }

// Milliseconds of the monotonic clock.
int64_t nowMs();

// Called before each wait; returns how long the wait may last at most
// (milliseconds, -1 for as long as it likes).
void setBeforeWait(int32_t (*beforeWait)());

// Runs until loopEnd; returns the code it was given.
int runLoop();
void loopEnd(int code);
