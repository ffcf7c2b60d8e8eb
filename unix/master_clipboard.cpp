#include "unix/master_clipboard.h"

void masterClipboardStart(uint32_t) {}
void masterClipboardTakes(int32_t, int32_t) {}
void masterClipboardFresh(int32_t) {}
void masterClipboardEnded(int32_t) {}
void masterClipboardBytes(int32_t, const uint8_t*, size_t) {}
void masterClipboardDrained(int32_t) {}
void masterClipboardEntered(int32_t, int32_t) {}
void masterClipboardLeft(int32_t) {}
