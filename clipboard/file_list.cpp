#include "clipboard/file_list.h"

#include <cstring>
#include <initializer_list>

namespace {

uint32_t getUint32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint64_t getUint64(const uint8_t* at)
{
    return getUint32(at) | (static_cast<uint64_t>(getUint32(at + 4)) << 32);
}

void putUint32(uint8_t* at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

void putUint64(uint8_t* at, uint64_t v)
{
    putUint32(at, static_cast<uint32_t>(v));
    putUint32(at + 4, static_cast<uint32_t>(v >> 32));
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// A name Windows takes for a device whatever follows its first dot: "nul",
// "COM1.txt", "con .log" all open a device, not a file.
bool isDeviceName(const char* name, size_t n)
{
    size_t base = 0;
    while (base < n && name[base] != '.') ++base;
    while (base > 0 && name[base - 1] == ' ') --base;
    char word[8] = {};
    if (base < 3 || base > 7) return false;
    for (size_t i = 0; i < base; ++i) word[i] = upper(name[i]);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (std::strcmp(word, device) == 0) return true;
    return base == 4 && (std::memcmp(word, "COM", 3) == 0 || std::memcmp(word, "LPT", 3) == 0) && word[3] >= '1' &&
           word[3] <= '9';
}

// The UTF-16 units of one well-formed UTF-8 sequence at s (n bytes left),
// its length in *bytes; 0 when it is not well formed.
int32_t utf16Units(const uint8_t* s, size_t n, size_t* bytes)
{
    const uint8_t c = s[0];
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || length > n) return 0;
    uint32_t point = length == 1 ? c : c & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        point = (point << 6) | (s[i] & 0x3F);
    }
    static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < LEAST[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    *bytes = length;
    return point >= 0x10000 ? 2 : 1;
}

bool nameAllowed(const char* name, size_t n)
{
    if (n == 0 || name[n - 1] == '.' || name[n - 1] == ' ') return false;  // ".", "..", and names Windows would cut
    return !isDeviceName(name, n);
}

}  // namespace

bool filePathAllowed(const char* path, size_t n)
{
    if (n == 0 || n > static_cast<size_t>(FILE_PATH_BYTES)) return false;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(path);
    int32_t units = 0, nameUnits = 0;
    size_t nameStart = 0;
    for (size_t at = 0; at <= n;) {
        if (at == n || s[at] == '/') {
            if (!nameAllowed(path + nameStart, at - nameStart)) return false;
            units += at < n ? 1 : 0;  // the '/'
            nameStart = ++at;
            nameUnits = 0;
            continue;
        }
        if (s[at] < 0x20 || std::strchr("\\:*?\"<>|", s[at])) return false;
        size_t bytes = 0;
        const int32_t u = utf16Units(s + at, n - at, &bytes);
        if (u == 0) return false;
        units += u;
        nameUnits += u;
        if (nameUnits > FILE_NAME_MAX) return false;
        at += bytes;
    }
    return units <= FILE_PATH_MAX;
}

int32_t encodeFileEntry(uint8_t* out, const FileEntry& e)
{
    putUint32(out, e.kind);
    putUint32(out + 4, e.effect);
    putUint64(out + 8, e.size);
    putUint64(out + 16, e.listBytes);
    if (e.pathLength > 0) std::memcpy(out + FILE_ENTRY_HEADER, e.path, static_cast<size_t>(e.pathLength));
    return FILE_ENTRY_HEADER + e.pathLength;
}

bool decodeFileEntry(const uint8_t* data, int32_t n, FileEntry* e)
{
    if (n < FILE_ENTRY_HEADER) return false;
    e->kind = getUint32(data);
    e->effect = getUint32(data + 4);
    e->size = getUint64(data + 8);
    e->listBytes = getUint64(data + 16);
    e->path = reinterpret_cast<const char*>(data + FILE_ENTRY_HEADER);
    e->pathLength = n - FILE_ENTRY_HEADER;
    return e->kind == FILE_KIND_FOLDER || e->kind == FILE_KIND_FILE;
}

namespace {

void refuse(FileReceiver& f, FileSink& sink)
{
    if (f.state == FileListState::Receiving) sink.discard();
    f.state = FileListState::Refused;
    f.fileOpen = false;
}

// The file's last byte is in: closed, and the list goes on.
bool finishFile(FileReceiver& f, FileSink& sink)
{
    f.fileOpen = false;
    if (!sink.closeFile()) return false;
    sink.progress(f.received, f.listBytes);
    return true;
}

// Whether the entry's folder is the top or one the walk has made on its way
// down to here: a walk names each folder before what it holds.
bool parentMade(const FileReceiver& f, const char* path, size_t n)
{
    size_t parent = n;
    while (parent > 0 && path[parent - 1] != '/') --parent;
    if (parent == 0) return true;
    --parent;  // without its '/'
    const size_t made = std::strlen(f.folder);
    return made >= parent && std::memcmp(f.folder, path, parent) == 0 && (made == parent || f.folder[parent] == '/');
}

void takeEntry(FileReceiver& f, FileSink& sink, const ClipboardChunk& c)
{
    FileEntry e;
    if (f.state == FileListState::Idle) {
        // The first entry opens the list; its total says how much comes.
        if (!decodeFileEntry(c.data, c.length, &e)) {
            f.state = FileListState::Refused;
            return;
        }
        f.state = e.listBytes > f.limit || f.limit == 0 ? FileListState::Skipped : FileListState::Receiving;
        f.listBytes = e.listBytes;
        f.effect = e.effect;
    }
    ++f.entries;
    if (f.state != FileListState::Receiving) return;
    if (f.fileOpen || c.offset != 0 || c.total != static_cast<uint32_t>(c.length) ||
        !decodeFileEntry(c.data, c.length, &e) || e.listBytes != f.listBytes || f.entries > FILE_ENTRIES_MAX ||
        !filePathAllowed(e.path, static_cast<size_t>(e.pathLength)) ||
        !parentMade(f, e.path, static_cast<size_t>(e.pathLength)) ||
        (e.kind == FILE_KIND_FOLDER && e.size != 0) || e.size > f.listBytes - f.announced)
        return refuse(f, sink);
    std::memcpy(f.path, e.path, static_cast<size_t>(e.pathLength));
    f.path[e.pathLength] = 0;
    f.announced += e.size;
    if (e.kind == FILE_KIND_FOLDER) {
        std::memcpy(f.folder, f.path, static_cast<size_t>(e.pathLength) + 1);
        if (!sink.makeFolder(f.path)) refuse(f, sink);
        return;
    }
    if (!sink.openFile(f.path, e.size)) return refuse(f, sink);
    f.fileOpen = true;
    f.fileSize = f.fileLeft = e.size;
    if (e.size == 0 && !finishFile(f, sink)) refuse(f, sink);
}

void takeData(FileReceiver& f, FileSink& sink, const ClipboardChunk& c)
{
    if (f.state == FileListState::Skipped) return;
    if (f.state != FileListState::Receiving) return refuse(f, sink);  // data before any entry
    const uint64_t at = f.fileSize - f.fileLeft;
    if (!f.fileOpen || c.length <= 0 || static_cast<uint64_t>(c.length) > f.fileLeft ||
        c.total != static_cast<uint32_t>(f.fileSize) || c.offset != static_cast<uint32_t>(at))
        return refuse(f, sink);
    if (!sink.writeFile(c.data, c.length)) return refuse(f, sink);
    f.fileLeft -= static_cast<uint64_t>(c.length);
    f.received += static_cast<uint64_t>(c.length);
    if (f.fileLeft == 0) {
        if (!finishFile(f, sink)) refuse(f, sink);
    } else {
        sink.progress(f.received, f.listBytes);
    }
}

// END of the transfer: its total counts the parts and the entries.
bool finishTransfer(ClipboardAssembly& a, FileReceiver& f, FileSink& sink, const ClipboardChunk& end)
{
    if (f.state == FileListState::Idle) return assembleChunk(a, end);
    const bool listWhole = f.state == FileListState::Skipped ||
                           (f.state == FileListState::Receiving && !f.fileOpen && f.received == f.listBytes &&
                            f.announced == f.listBytes);
    bool whole = listWhole && end.total >= static_cast<uint32_t>(f.entries);
    if (whole) {
        ClipboardChunk parts = end;
        parts.total -= static_cast<uint32_t>(f.entries);
        const bool partsHeld = a.active && a.transfer == end.transfer && a.count > 0;
        if (parts.total > 0 || partsHeld) {
            whole = assembleChunk(a, parts);
        } else {
            assemblyClear(a);  // files alone
            a.transfer = end.transfer;
        }
    }
    if (!whole) {
        assemblyClear(a);
        refuse(f, sink);
        filesPlaced(f);
        return false;
    }
    if (f.state == FileListState::Skipped) {
        filesPlaced(f);  // the rest goes without the files
        return a.count > 0;
    }
    f.state = FileListState::Whole;
    return true;
}

}  // namespace

TransferStep takeChunk(ClipboardAssembly& a, FileReceiver& f, FileSink& sink, const ClipboardChunk& c)
{
    if (f.state != FileListState::Idle && c.transfer != f.transfer) dropFiles(f, sink);
    if (c.format == CLIP_FORMAT_UNCHANGED) {
        assemblyClear(a);
        dropFiles(f, sink);
        return TransferStep::Unchanged;
    }
    if (c.format == CLIP_FORMAT_FILE_ENTRY || c.format == CLIP_FORMAT_FILE_DATA) {
        if (f.state == FileListState::Idle) f.transfer = c.transfer;
        if (!a.active || a.transfer != c.transfer) {
            // A list with no parts before it still ends what was held of another transfer.
            assemblyClear(a);
            a.active = 1;
            a.transfer = c.transfer;
        }
        if (c.format == CLIP_FORMAT_FILE_ENTRY) takeEntry(f, sink, c);
        else if (f.state == FileListState::Idle) f.state = FileListState::Refused;
        else takeData(f, sink, c);
        return TransferStep::Pending;
    }
    if (c.format == CLIP_FORMAT_END) return finishTransfer(a, f, sink, c) ? TransferStep::Whole : TransferStep::Pending;
    assembleChunk(a, c);
    return TransferStep::Pending;
}

void dropFiles(FileReceiver& f, FileSink& sink)
{
    if (f.state == FileListState::Receiving || f.state == FileListState::Whole) sink.discard();
    filesPlaced(f);
}

void filesPlaced(FileReceiver& f)
{
    const uint64_t limit = f.limit;
    f = FileReceiver();
    f.limit = limit;
}
