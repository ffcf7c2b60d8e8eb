// The packets of a control connection that await their READY. With a partner
// that announced it, up to WINDOW_PACKETS of them may be under way at once,
// each READY opening one place; with any other, one at a time awaits the
// partner's READY. No <windows.h>: built natively as well.
#pragma once

#include <cstdint>

// Enough for a round trip of 10 ms at 1,000 events a second, twice over.
constexpr int32_t WINDOW_PACKETS = 48;

struct SendWindow {
    int32_t size = 1;                       // 1: stop-and-wait
    int32_t unanswered = 0;                 // packets sent that await their READY
    int32_t oldest = 0;                     // sentAt's slot of the oldest of them
    uint32_t sentAt[WINDOW_PACKETS] = {};   // when each went, in milliseconds
};

// A new connection, or the partner's announcement: nothing awaits an answer
// (a READY still coming for an earlier packet then opens nothing), and the
// window is `size` packets wide (1 to WINDOW_PACKETS).
void windowReset(SendWindow& window, int32_t size);

// A packet that asks for a READY went out at `now`.
void windowSent(SendWindow& window, uint32_t now);

// A READY came: it answers the oldest packet. False when none awaited one; a
// READY too many opens the window no wider.
bool windowAnswered(SendWindow& window);

// Whether one more packet may go out now.
inline bool windowOpen(const SendWindow& window) { return window.unanswered < window.size; }

// How long the oldest packet has awaited its READY at `now` (0 when none does).
uint32_t windowWaited(const SendWindow& window, uint32_t now);
