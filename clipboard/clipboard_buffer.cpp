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
            const uint32_t first = getUint32(b.storage + b.start);
            if (first == CLIPBOARD_CHUNK_MAGIC) {
                // A chunk: its size is in its header.
                if (held(b) < CLIPBOARD_CHUNK_HEADER) return ClipboardStep::NeedMore;
                const uint32_t n = getUint32(b.storage + b.start + 20);
                if (static_cast<int64_t>(n) + CLIPBOARD_CHUNK_HEADER > CLIPBOARD_BUFFER_SIZE) {
                    // Larger than any sender makes: passed over, and the part
                    // it belongs to is left with a gap that voids it.
                    b.skipRemaining = n;
                    dropHeld(b, CLIPBOARD_CHUNK_HEADER);
                    continue;
                }
                b.expectedLength = static_cast<uint32_t>(CLIPBOARD_CHUNK_HEADER - 4) + n;
                b.isChunk = 1;
            } else {
                b.expectedLength = first;
                if (transferSize(b) > CLIPBOARD_BUFFER_SIZE) {
                    // It can never fit: its bytes are passed over as they come.
                    b.skipRemaining = b.expectedLength;
                    b.expectedLength = 0;
                    dropHeld(b, 4);
                    continue;
                }
                b.isChunk = 0;
            }
            b.lengthKnown = 1;
        }
        if (transferSize(b) > held(b)) return ClipboardStep::NeedMore;
        return b.isChunk ? ClipboardStep::Chunk : ClipboardStep::Complete;
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
    b.isChunk = 0;
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
    b.isChunk = 0;
    return examine(b);
}

void frameClipboardChunkHeader(uint8_t* out, uint32_t transfer, uint32_t format, uint32_t total, uint32_t offset,
                               int32_t n)
{
    putUint32(out, CLIPBOARD_CHUNK_MAGIC);
    putUint32(out + 4, transfer);
    putUint32(out + 8, format);
    putUint32(out + 12, total);
    putUint32(out + 16, offset);
    putUint32(out + 20, static_cast<uint32_t>(n));
}

int32_t frameClipboardChunk(uint8_t* out, uint32_t transfer, uint32_t format, uint32_t total, uint32_t offset,
                            const uint8_t* data, int32_t n)
{
    frameClipboardChunkHeader(out, transfer, format, total, offset, n);
    if (n > 0) std::memcpy(out + CLIPBOARD_CHUNK_HEADER, data, static_cast<size_t>(n));
    return CLIPBOARD_CHUNK_HEADER + n;
}

ClipboardChunk clipboardChunk(const ClipboardBuffer& b)
{
    ClipboardChunk c;
    if (!b.isChunk || !b.lengthKnown) return c;
    const uint8_t* at = b.storage + b.start;
    c.transfer = getUint32(at + 4);
    c.format = getUint32(at + 8);
    c.total = getUint32(at + 12);
    c.offset = getUint32(at + 16);
    c.length = static_cast<int32_t>(getUint32(at + 20));
    c.data = at + CLIPBOARD_CHUNK_HEADER;
    return c;
}

bool clipboardPartWhole(const ClipboardPart& p)
{
    return !p.refused && !p.broken && p.filled == p.total && (p.total == 0 || p.data);
}

void assemblyClear(ClipboardAssembly& a)
{
    for (ClipboardPart& p : a.parts) {
        std::free(p.data);
        p = ClipboardPart();
    }
    a.count = 0;
    a.active = 0;
}

bool assembleChunk(ClipboardAssembly& a, const ClipboardChunk& c)
{
    if (!a.active || c.transfer != a.transfer) {
        // A new transfer: one under way before it was given up for it.
        assemblyClear(a);
        a.active = 1;
        a.transfer = c.transfer;
    }
    if (c.format == CLIP_FORMAT_END) {
        // Stored only when every part came and none came broken; parts left
        // out by choice (too large, unknown) are left out of the store.
        bool whole = c.total > 0 && c.total == static_cast<uint32_t>(a.count);
        for (int32_t i = 0; i < a.count; ++i)
            if (!a.parts[i].refused && !clipboardPartWhole(a.parts[i])) whole = false;
        if (!whole) {
            assemblyClear(a);
            return false;
        }
        a.active = 0;
        return true;
    }
    ClipboardPart* part = nullptr;
    for (int32_t i = 0; i < a.count; ++i)
        if (a.parts[i].format == c.format) part = &a.parts[i];
    if (!part) {
        if (a.count == CLIPBOARD_MAX_PARTS) return false;  // more parts than any sender makes: END voids it
        part = &a.parts[a.count++];
        part->format = c.format;
        part->total = c.total;
        const bool known = c.format == CLIP_FORMAT_TEXT || c.format == CLIP_FORMAT_DIB || c.format == CLIP_FORMAT_DIBV5;
        if (!known || c.total > CLIPBOARD_MAX_PART) part->refused = 1;
        else if (c.total > 0 && !(part->data = static_cast<uint8_t*>(std::malloc(c.total)))) part->refused = 1;
    }
    if (part->refused || part->broken) return false;
    if (c.total != part->total || c.offset != part->filled || c.length < 0 ||
        static_cast<uint32_t>(c.length) > part->total - part->filled) {
        part->broken = 1;
        std::free(part->data);
        part->data = nullptr;
        return false;
    }
    if (c.length > 0) std::memcpy(part->data + part->filled, c.data, static_cast<size_t>(c.length));
    part->filled += static_cast<uint32_t>(c.length);
    return false;
}

uint32_t packedDibSize(const uint8_t* dib, size_t n)
{
    if (n < 40) return 0;
    const uint32_t headerSize = getUint32(dib);
    const int32_t width = static_cast<int32_t>(getUint32(dib + 4));
    const int32_t height = static_cast<int32_t>(getUint32(dib + 8));
    const uint32_t planes = dib[12] | (dib[13] << 8);
    const uint32_t bits = dib[14] | (dib[15] << 8);
    const uint32_t compression = getUint32(dib + 16);
    const uint32_t imageSize = getUint32(dib + 20);
    const uint32_t colorsUsed = getUint32(dib + 32);
    if (headerSize < 40 || headerSize > n || width <= 0 || height == 0 || height == INT32_MIN || planes != 1)
        return 0;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
    if (colorsUsed > 256 || (bits <= 8 && colorsUsed > (1u << bits))) return 0;
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    const int64_t stride = (static_cast<int64_t>(width) * bits + 31) / 32 * 4;
    if (stride > CLIPBOARD_MAX_PART) return 0;  // and stride * rows cannot overflow
    int64_t pixels = 0;
    int64_t masks = 0;
    if (compression == 0) {  // BI_RGB
        pixels = stride * rows;
    } else if (compression == 3) {  // BI_BITFIELDS: three masks after a plain header
        if (bits != 16 && bits != 32) return 0;
        pixels = stride * rows;
        if (headerSize == 40) masks = 12;
    } else if ((compression == 1 && bits == 8) || (compression == 2 && bits == 4)) {  // run-length coded
        if (imageSize == 0) return 0;
        pixels = imageSize;
    } else {
        return 0;
    }
    const int64_t colors = colorsUsed ? colorsUsed : bits <= 8 ? (1 << bits) : 0;
    int64_t size = headerSize + masks + colors * 4 + pixels;
    if (headerSize >= 124) {
        // A version 5 header may name a colour profile held after the pixels.
        const uint32_t space = getUint32(dib + 56);
        if (space == 0x4D424544 || space == 0x4C494E4B) {  // 'MBED', 'LINK'
            const int64_t end = static_cast<int64_t>(getUint32(dib + 112)) + getUint32(dib + 116);
            if (end > size) size = end;
        }
    }
    if (size > CLIPBOARD_MAX_PART || size > static_cast<int64_t>(n)) return 0;
    return static_cast<uint32_t>(size);
}
