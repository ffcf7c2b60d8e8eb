// The Linux program's links: the link engine, fed from poll() with what the
// sockets did and the time, acting through the sockets. One partner on a
// Slave (its Master), up to four on a Master. What each link carries is the
// role's: the Slave's or the Master's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link_life.h"

// What a role does with its links' events (each given the link's index).
struct LinkUser {
    void (*up)(int32_t index);
    // Whatever the partner held down goes up with it.
    void (*lost)(int32_t index, const char* why, bool wasUp);
    void (*clipboardFresh)(int32_t index);
    // The clipboard connection ended: a transfer cut halfway is given up.
    void (*clipboardEnded)(int32_t index);
    void (*received)(int32_t index, int channel, const uint8_t* data, size_t n);
    void (*drained)(int32_t index, int channel);
    // Whether the link's partner asked for the link key this side lacks
    // (then its tries are not said each time).
    bool (*quiet)(int32_t index);
    // What the user calls the partner: "the Master", "Slave 2 (laptop)".
    const char* (*name)(int32_t index);
};

// `stretched`: the link key, or null for the plain wire.
void linksStart(const LinkUser& role, bool master, const uint8_t* stretched);
// Sets a link's partner and starts it: a connect first.
void linksAdd(int32_t index, const std::string& host, int32_t port);
void linksEnd();
// Before each wait: the engine's timers that are due, and how long the wait
// may last (ms, -1 for as long as it likes).
int32_t linksWaitMs();

// Bytes for a partner on a channel: queued, then written by linkFlush
// (false when the connection is not up, or failed and ended).
bool linkQueue(int32_t index, int channel, const void* data, size_t n);
bool linkFlush(int32_t index, int channel);
size_t linkPending(int32_t index, int channel);
// Whether the connection of the channel is up (proven, with a key), and
// whether it is there to queue for at all (with a key, until the proof).
bool linkUp(int32_t index, int channel);
bool linkOpen(int32_t index, int channel);
// Whether the control connection carries the link key.
bool linkKeyed(int32_t index);
// The control connection's socket, or -1.
int linkControlFd(int32_t index);
// The Master's watch for a Slave that stopped answering: whether a packet
// awaits its READY, since when (nowMs).
void linkUnanswered(int32_t index, bool waiting, int64_t since);
