// Feeds arbitrary bytes, cut into arbitrary pieces, to the clipboard receiver:
// it must never touch memory outside its storage, every text it completes
// must end inside its transfer, and it must stay in step with a model that
// reads the same stream in one piece. Every chunk goes on to the assembly,
// whose stored parts must be whole, and every picture part is sized.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "clipboard/clipboard_buffer.h"

namespace {

uint32_t get32(const uint8_t* at)
{
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// The lengths of the texts the stream completes, read the simple way; a
// chunk counts as -1 - its data's length.
std::vector<int64_t> model(const uint8_t* s, size_t n)
{
    std::vector<int64_t> lengths;
    size_t at = 0;
    while (n - at >= 4) {
        const uint32_t length = get32(s + at);
        if (length == CLIPBOARD_CHUNK_MAGIC) {
            if (n - at < CLIPBOARD_CHUNK_HEADER) break;
            const uint32_t data = get32(s + at + 20);
            at += CLIPBOARD_CHUNK_HEADER;
            if (n - at < data) break;
            if (CLIPBOARD_CHUNK_HEADER + static_cast<uint64_t>(data) <= CLIPBOARD_BUFFER_SIZE)
                lengths.push_back(-1 - static_cast<int64_t>(data));
            at += data;
            continue;
        }
        at += 4;
        if (n - at < length) break;
        if (4 + static_cast<uint64_t>(length) <= CLIPBOARD_BUFFER_SIZE) {
            const void* nul = length ? std::memchr(s + at, 0, length) : nullptr;
            lengths.push_back(length == 0 ? 0 : nul ? static_cast<const uint8_t*>(nul) - (s + at) : length - 1);
        }
        at += length;
    }
    return lengths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    static ClipboardBuffer buffer;
    static ClipboardAssembly assembly;
    if (!clipboardReset(buffer)) std::abort();
    assemblyClear(assembly);
    packedDibSize(data, size);
    const size_t piece = 1 + data[0] % 23;
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;
    std::vector<int64_t> got;
    for (size_t at = 0; at < length;) {
        const size_t n = length - at < piece ? length - at : piece;
        std::memcpy(clipboardSpace(buffer), stream + at, n);
        at += n;
        for (ClipboardStep step = clipboardCommit(buffer, static_cast<int32_t>(n)); step != ClipboardStep::NeedMore;
             step = clipboardConsume(buffer)) {
            if (step == ClipboardStep::Chunk) {
                const ClipboardChunk chunk = clipboardChunk(buffer);
                got.push_back(-1 - static_cast<int64_t>(chunk.length));
                if (!assembleChunk(assembly, chunk)) continue;
                for (int32_t i = 0; i < assembly.count; ++i) {
                    const ClipboardPart& part = assembly.parts[i];
                    if (!clipboardPartWhole(part)) continue;
                    if (part.filled != part.total || (part.total && !part.data)) std::abort();
                    if (part.format != CLIP_FORMAT_TEXT) packedDibSize(part.data, part.total);
                }
                assemblyClear(assembly);
                continue;
            }
            const int32_t textLength = clipboardTextLength(buffer);
            if (std::strlen(clipboardText(buffer)) != static_cast<size_t>(textLength)) std::abort();
            got.push_back(textLength);
        }
    }
    if (got != model(stream, length)) std::abort();
    return 0;
}
