// The Linux Master's clipboard: it follows control to each Slave, and what a
// Slave held comes back as control leaves it (and goes on to the next Slave
// when control passed straight there).
#pragma once

#include <cstddef>
#include <cstdint>

void masterClipboardStart(uint32_t fileLimitMB);
// What this side announces it takes, and what Slave `index` announced.
int32_t masterClipboardOffer();
void masterClipboardTakes(int32_t index, int32_t version, int32_t takes);
void masterClipboardFresh(int32_t index);
void masterClipboardEnded(int32_t index);
void masterClipboardBytes(int32_t index, const uint8_t* data, size_t n);
void masterClipboardDrained(int32_t index);
// Control went to the Slave `to`, from this PC (`from` -1) or straight from
// the Slave `from`.
void masterClipboardEntered(int32_t from, int32_t to);
