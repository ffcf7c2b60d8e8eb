#include "link/send_window.h"

void windowReset(SendWindow& window, int32_t size)
{
    window = SendWindow{};
    window.size = size < 1 ? 1 : (size > WINDOW_PACKETS ? WINDOW_PACKETS : size);
}

void windowSent(SendWindow& window, uint32_t now)
{
    // Beyond its width (stop-and-wait sends PKT_ENTER whatever is under way)
    // a packet is counted, and the newest send time stands for the ones the
    // ring cannot hold: the watch then starts no earlier than it should.
    const int32_t slot = (window.oldest + (window.unanswered < WINDOW_PACKETS ? window.unanswered : WINDOW_PACKETS - 1)) %
                         WINDOW_PACKETS;
    window.sentAt[slot] = now;
    if (window.unanswered < WINDOW_PACKETS) ++window.unanswered;
}

bool windowAnswered(SendWindow& window)
{
    if (window.unanswered == 0) return false;
    --window.unanswered;
    window.oldest = window.unanswered == 0 ? 0 : (window.oldest + 1) % WINDOW_PACKETS;
    return true;
}

uint32_t windowWaited(const SendWindow& window, uint32_t now)
{
    return window.unanswered == 0 ? 0 : now - window.sentAt[window.oldest];
}
