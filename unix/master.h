// The Linux Master: the Master's decisions over the X display and up to four
// links to its Slaves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "unix/options.h"

// `stretched`: the link key, or null for the plain wire. The display is open.
void startMaster(const Options& options, const uint8_t* stretched);
// Control comes home and every link ends.
void endMaster();
// Before each wait: how long it may last (ms, -1 for as long as it likes).
int32_t masterWaitMs();
// The screen or its monitors changed.
void masterDesktopMoved();
// Whether the Slave of the index has control.
bool masterInControl(int32_t index);
