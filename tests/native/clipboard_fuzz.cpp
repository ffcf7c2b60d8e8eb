// Feeds arbitrary bytes, cut into arbitrary pieces, to the clipboard receiver:
// it must never touch memory outside its storage, every text it completes
// must end inside its transfer, and it must stay in step with a model that
// reads the same stream in one piece. Chunks go on to the assembly and the
// file receiver too, whose disk checks every name and size it is handed. A
// partner's picture is read into pixels; a Linux name made one Windows holds
// must pass the receiver's own check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "clipboard/clipboard_buffer.h"
#include "clipboard/dib.h"
#include "clipboard/file_list.h"
#include "clipboard/file_names.h"

namespace {

// A disk that holds the receiver to what it may ask: only names that pass
// the checks, never more bytes than the file it opened, never a write with
// no file open, and a list handed over whole only with every file closed.
struct StrictDisk : FileSink {
    bool open = false;
    uint64_t left = 0;
    void check(const char* path)
    {
        if (open || !filePathAllowed(path, std::strlen(path))) std::abort();
    }
    bool makeFolder(const char* path) override { return check(path), true; }
    bool openFile(const char* path, uint64_t size) override { return check(path), open = true, left = size, true; }
    bool writeFile(const uint8_t*, int32_t n) override
    {
        if (!open || n <= 0 || static_cast<uint64_t>(n) > left) std::abort();
        return left -= static_cast<uint64_t>(n), true;
    }
    bool closeFile() override
    {
        if (!open || left != 0) std::abort();
        return open = false, true;
    }
    void discard() override { open = false; }
    void progress(uint64_t received, uint64_t total) override
    {
        if (received > total) std::abort();
    }
};

// The lengths of the texts the stream completes (a chunk: -1 - its length), read the simple way.
std::vector<int64_t> model(const uint8_t* s, size_t n)
{
    std::vector<int64_t> lengths;
    size_t at = 0;
    while (n - at >= 4) {
        uint32_t length = s[at] | (s[at + 1] << 8) | (s[at + 2] << 16) | (static_cast<uint32_t>(s[at + 3]) << 24);
        const bool chunk = length == CLIPBOARD_CHUNK_MAGIC;
        if (chunk && n - at < CLIPBOARD_CHUNK_HEADER) break;
        if (chunk) std::memcpy(&length, s + at + 20, 4), at += CLIPBOARD_CHUNK_HEADER - 4;  // a little-endian host
        at += 4;
        if (n - at < length) break;
        if (chunk && CLIPBOARD_CHUNK_HEADER + static_cast<uint64_t>(length) <= CLIPBOARD_BUFFER_SIZE) {
            lengths.push_back(-1 - static_cast<int64_t>(length));
        } else if (!chunk && 4 + static_cast<uint64_t>(length) <= CLIPBOARD_BUFFER_SIZE) {
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
    static FileReceiver files;
    StrictDisk disk;
    if (!clipboardReset(buffer)) std::abort();
    assemblyClear(assembly);
    filesPlaced(files);
    files.limit = 1 << 20;
    packedDibSize(data, size);
    filePathAllowed(reinterpret_cast<const char*>(data), size);
    Picture picture;
    pictureFromDib(data, size, &picture);
    pictureFromBmp(data, size, &picture);
    const std::string name = windowsName(std::string(reinterpret_cast<const char*>(data), size < 300 ? size : 300));
    if (!filePathAllowed(name.data(), name.size())) std::abort();
    pathsFromUriList(std::string(reinterpret_cast<const char*>(data), size));
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
                got.push_back(-1 - static_cast<int64_t>(clipboardChunk(buffer).length));
                if (takeChunk(assembly, files, disk, clipboardChunk(buffer)) != TransferStep::Whole) continue;
                if (disk.open) std::abort();
                filesPlaced(files);
                for (const ClipboardPart& part : assembly.parts)
                    if (clipboardPartWhole(part) && part.total) pictureFromDib(part.data, part.total, &picture);
                assemblyClear(assembly);
                continue;
            }
            const int32_t textLength = clipboardTextLength(buffer);
            if (std::strlen(clipboardText(buffer)) != static_cast<size_t>(textLength)) std::abort();
            got.push_back(textLength);
        }
    }
    if (got != model(stream, length)) std::abort();
    dropFiles(files, disk);
    return 0;
}
