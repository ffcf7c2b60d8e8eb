// The Linux Master's clipboard: it follows control to each Slave and back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clipboard/clipboard_buffer.h"

constexpr int32_t MASTER_TAKES_CLIPBOARD = CLIP_CAN_TEXT | CLIP_CAN_UNCHANGED;

void masterClipboardStart(uint32_t fileLimitMB);
void masterClipboardTakes(int32_t index, int32_t takes);
void masterClipboardFresh(int32_t index);
void masterClipboardEnded(int32_t index);
void masterClipboardBytes(int32_t index, const uint8_t* data, size_t n);
void masterClipboardDrained(int32_t index);
// Control went to the Slave `to` (from the Slave `from`, or -1 from here),
// or came back from one.
void masterClipboardEntered(int32_t from, int32_t to);
void masterClipboardLeft(int32_t index);
