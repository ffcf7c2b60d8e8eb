// Files and folders on the clipboard, as they cross in chunks: the entry that
// names each, the checks its name must pass, and the receiver that turns a
// stream of entries and data into "make this folder", "open this file",
// "write these bytes" for the side that owns the disk. No <windows.h>: this
// builds natively for the sanitizers and the fuzzer.
//
// A file list follows the text and picture parts of a transfer, in the
// order a walk of the tree meets it: each folder before what it holds.
//
//   CLIP_FORMAT_FILE_ENTRY, one chunk per file or folder: total and n the
//   entry's length, offset 0; its data, all little-endian:
//     offset 0   4  kind: FILE_KIND_FOLDER or FILE_KIND_FILE
//     offset 4   4  the drop effect the clipboard names (1 copy, 2 cut)
//     offset 8   8  the file's size in bytes (0 for a folder)
//     offset 16  8  the size of every file of the list together
//     offset 24     the path below the list's top, UTF-8, '/' between names
//   CLIP_FORMAT_FILE_DATA, the file's bytes right after its entry, in order:
//   total and offset are the low 32 bits of its size and of where the chunk
//   lies (sizes are 64-bit in the entry, so a file may pass 4 GB).
//
// The transfer's END counts each entry as a part beside the text and the
// picture. Nothing of a list is kept unless every entry and every byte came
// as announced.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clipboard/clipboard_buffer.h"

constexpr uint32_t CLIP_FORMAT_FILE_ENTRY = 5;
constexpr uint32_t CLIP_FORMAT_FILE_DATA = 6;
constexpr int32_t CLIP_CAN_FILES = 8;

constexpr uint32_t FILE_KIND_FOLDER = 1;
constexpr uint32_t FILE_KIND_FILE = 2;
constexpr int32_t FILE_ENTRY_HEADER = 24;

// One name of a path: at most 255 UTF-16 units, as every Windows file system
// takes. A whole path below the list's top: at most 1,000, so that it fits
// below the receiver's folder in the temporary folder on any Windows.
constexpr int32_t FILE_NAME_MAX = 255;
constexpr int32_t FILE_PATH_MAX = 1000;
// Entries of one list at most: a partner cannot fill a disk with empty files.
constexpr int32_t FILE_ENTRIES_MAX = 100000;
// The longest path in UTF-8 (each UTF-16 unit is at most 3 bytes).
constexpr int32_t FILE_PATH_BYTES = 3 * FILE_PATH_MAX;

struct FileEntry {
    uint32_t kind = 0;
    uint32_t effect = 0;
    uint64_t size = 0;
    uint64_t listBytes = 0;
    const char* path = nullptr;  // within the chunk's data, not terminated
    int32_t pathLength = 0;
};

// Whether a path may name something below the receiver's folder: UTF-8
// names joined by '/', none empty, "." or "..", none holding a drive, a '\'
// or a character Windows refuses in names, none ending in a dot or a space,
// none a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$,
// CONOUT$, with or without an extension), and within the lengths above.
bool filePathAllowed(const char* path, size_t n);

// Writes an entry into out (FILE_ENTRY_HEADER + pathLength bytes); returns its size.
int32_t encodeFileEntry(uint8_t* out, const FileEntry& entry);
// Reads an entry from a chunk's data; false when it is too short or of no known kind.
bool decodeFileEntry(const uint8_t* data, int32_t n, FileEntry* entry);

// The disk side of a receiver. Paths are checked with filePathAllowed and
// terminated; every call but discard may fail, which refuses the list.
class FileSink {
public:
    virtual bool makeFolder(const char* path) = 0;
    virtual bool openFile(const char* path, uint64_t size) = 0;
    virtual bool writeFile(const uint8_t* data, int32_t n) = 0;
    virtual bool closeFile() = 0;  // the file's last byte is in
    virtual void discard() = 0;    // everything of the list is removed
    // The list is whole: the caller places it, then the sink forgets it.
    virtual void progress(uint64_t received, uint64_t total) = 0;

protected:
    ~FileSink() = default;
};

enum class FileListState : int32_t {
    Idle,       // no list under way
    Receiving,  // entries and data come in
    Skipped,    // larger than this side takes: passed over, the rest of the transfer still counts
    Refused,    // broken or unsafe: removed, the transfer is not placed
    Whole,      // complete: the caller places it
};

struct FileReceiver {
    uint64_t limit = 0;  // the most bytes a list may bring here; 0: none is taken
    FileListState state = FileListState::Idle;
    uint32_t transfer = 0;
    int32_t entries = 0;
    uint32_t effect = 0;
    uint64_t listBytes = 0;   // announced by the first entry
    uint64_t announced = 0;   // sizes of the entries so far
    uint64_t received = 0;    // bytes written so far
    bool fileOpen = false;
    uint64_t fileLeft = 0;    // bytes of the open file still to come
    uint64_t fileSize = 0;
    char path[FILE_PATH_BYTES + 1] = {};    // the entry being handled, terminated
    char folder[FILE_PATH_BYTES + 1] = {};  // the folder last made: a walk's way down
};

enum class TransferStep {
    Pending,    // more to come
    Whole,      // END made the transfer whole: place its parts and its list
    Unchanged,  // the partner's clipboard is what this side has: keep it
};

// Takes one chunk of the richer transfers: text and picture parts go to the
// assembly, entries and file data to the sink. A chunk of another transfer
// drops what was held of the one before, its files included.
TransferStep takeChunk(ClipboardAssembly& assembly, FileReceiver& files, FileSink& sink, const ClipboardChunk& chunk);
// Drops a list under way (the connection ended, or a newer transfer came).
void dropFiles(FileReceiver& files, FileSink& sink);
// After a whole transfer is placed: the receiver is free for the next.
void filesPlaced(FileReceiver& files);
