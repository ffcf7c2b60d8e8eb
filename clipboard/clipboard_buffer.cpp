#include "clipboard/clipboard_buffer.h"

#include <cstdlib>
#include <cstring>

namespace {

uint32_t getUint32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

void putUint32(uint8_t* at, uint32_t v)
{
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
    at[2] = static_cast<uint8_t>(v >> 16);
    at[3] = static_cast<uint8_t>(v >> 24);
}

// Bytes held of the transfer being received.
int32_t held(const ClipboardBuffer& b)
{
    return b.fillLength - b.start;
}

// The whole transfer's size once its length is known.
int64_t transferSize(const ClipboardBuffer& b)
{
    return 4 + static_cast<int64_t>(b.expectedLength);
}

void dropHeld(ClipboardBuffer& b, int32_t n)
{
    b.start += n;
    if (b.start == b.fillLength) b.start = b.fillLength = 0;
}

// Looks at what is held: takes the length once four bytes are in hand, passes
// over a transfer that cannot fit, and says whether a transfer is complete.
ClipboardStep examine(ClipboardBuffer& b)
{
    for (;;) {
        if (b.skipRemaining > 0) {
            const int32_t h = held(b);
            const int32_t drop = b.skipRemaining < static_cast<uint32_t>(h) ? static_cast<int32_t>(b.skipRemaining) : h;
            b.skipRemaining -= static_cast<uint32_t>(drop);
            dropHeld(b, drop);
            if (b.skipRemaining > 0) return ClipboardStep::NeedMore;
        }
        if (!b.lengthKnown) {
            if (held(b) < 4) return ClipboardStep::NeedMore;
            b.expectedLength = getUint32(b.storage + b.start);
            if (transferSize(b) > CLIPBOARD_BUFFER_SIZE) {
                // It can never fit: its bytes are passed over as they come.
                b.skipRemaining = b.expectedLength;
                b.expectedLength = 0;
                dropHeld(b, 4);
                continue;
            }
            b.lengthKnown = 1;
        }
        return transferSize(b) <= held(b) ? ClipboardStep::Complete : ClipboardStep::NeedMore;
    }
}

}  // namespace

bool clipboardReset(ClipboardBuffer& b)
{
    if (!b.allocated) {
        b.storage = static_cast<uint8_t*>(std::calloc(CLIPBOARD_BUFFER_SIZE, 1));
        if (!b.storage) return false;
        b.allocated = 1;
    } else {
        // Only what was written can be non-zero: zero that, not all five million.
        std::memset(b.storage, 0, static_cast<size_t>(b.dirtyLength));
    }
    b.dirtyLength = 0;
    b.fillLength = 0;
    b.start = 0;
    b.expectedLength = 0;
    b.lengthKnown = 0;
    b.skipRemaining = 0;
    return true;
}

bool clipboardOutboxReset(ClipboardOutbox& o)
{
    if (!o.storage) o.storage = static_cast<uint8_t*>(std::calloc(CLIPBOARD_BUFFER_SIZE, 1));
    o.length = 0;
    o.sent = 0;
    return o.storage != nullptr;
}

int32_t frameClipboardText(const char* text, size_t n, uint8_t* out)
{
    if (n > static_cast<size_t>(CLIPBOARD_MAX_TEXT)) return 0;
    putUint32(out, static_cast<uint32_t>(n + 1));
    if (n > 0) std::memcpy(out + 4, text, n);
    out[4 + n] = 0;
    return static_cast<int32_t>(n + 5);
}

uint8_t* clipboardSpace(ClipboardBuffer& b)
{
    if (b.start > 0) {
        std::memmove(b.storage, b.storage + b.start, static_cast<size_t>(held(b)));
        b.fillLength -= b.start;
        b.start = 0;
    }
    return b.storage + b.fillLength;
}

int32_t clipboardRoom(const ClipboardBuffer& b)
{
    return b.storage ? CLIPBOARD_BUFFER_SIZE - held(b) : 0;
}

ClipboardStep clipboardCommit(ClipboardBuffer& b, int32_t n)
{
    if (n > 0 && b.storage) {
        if (n > clipboardRoom(b)) n = clipboardRoom(b);
        b.fillLength += n;
        if (b.fillLength > b.dirtyLength) b.dirtyLength = b.fillLength;
    }
    return examine(b);
}

const char* clipboardText(const ClipboardBuffer& b)
{
    if (b.expectedLength == 0) return "";  // not even room for the NUL: empty text
    uint8_t* text = b.storage + b.start + 4;
    // A partner's text whose last byte is not its NUL loses that byte to one:
    // nothing that reads the text may run past its end.
    text[b.expectedLength - 1] = 0;
    return reinterpret_cast<const char*>(text);
}

int32_t clipboardTextLength(const ClipboardBuffer& b)
{
    if (b.expectedLength == 0) return 0;
    const uint8_t* text = b.storage + b.start + 4;
    const void* nul = std::memchr(text, 0, b.expectedLength);
    return nul ? static_cast<int32_t>(static_cast<const uint8_t*>(nul) - text)
               : static_cast<int32_t>(b.expectedLength - 1);
}

ClipboardStep clipboardConsume(ClipboardBuffer& b)
{
    if (b.lengthKnown) dropHeld(b, static_cast<int32_t>(transferSize(b)));
    b.lengthKnown = 0;
    b.expectedLength = 0;
    return examine(b);
}
