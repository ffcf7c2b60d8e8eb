// Files and folders on the Linux program's clipboard. Those from the partner
// are written under a folder of the user's own, one folder a transfer:
// $XDG_RUNTIME_DIR/skiprail/received/<time>-<pid>-<n> (the cache folder,
// ~/.cache/skiprail/received, when there is no runtime folder or it has not
// the room), first as <...>.part, renamed once the last byte is in, so a
// transfer cut halfway offers nothing half-written. Every name is made below
// that folder's own handle, never through a symbolic link. Those copied here
// go out as the partner's walk of them, a chunk at a time, their names made
// ones Windows can hold. Progress goes to the log. No X here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "clipboard/file_list.h"

// Says how far a list has come, at most once a second and only for one that
// takes longer than a second: "files from the Master: 40% (16 of 40 MB)".
struct FilesProgress {
    int64_t started = 0, lastSaid = 0;
    int32_t shown = -1;
    void say(const char* what, uint64_t done, uint64_t total);
    void reset() { *this = FilesProgress(); }
};

// Where received files land: the runtime folder's, else the cache folder's
// (both end in skiprail/received). Empty when neither can be named.
std::string receivedFilesRoot(bool cache = false);
// Removes the folders that earlier transfers left: all of them at start,
// else those older than a day (a clock set back removes nothing).
void removeReceivedFiles(bool all);

class DropSink final : public FileSink {
public:
    ~DropSink();
    // The list being received (for its size before the first file).
    void watch(const FileReceiver* receiver) { receiver_ = receiver; }
    bool makeFolder(const char* path) override;
    bool openFile(const char* path, uint64_t size) override;
    bool writeFile(const uint8_t* data, int32_t n) override;
    bool closeFile() override;
    void discard() override;
    void progress(uint64_t received, uint64_t total) override;
    // A whole list: its folder takes its final name, and the paths of its top
    // files and folders come back, in the order they came; empty when that
    // cannot be (the folder is then removed).
    std::vector<std::string> place();

private:
    bool begin();
    int openParent(const char* path, std::string* leaf);
    void forget();

    const FileReceiver* receiver_ = nullptr;
    std::string root_, name_;  // the folder is root_/name_, name_ + ".part" while it comes
    int folderFd_ = -1;
    int fileFd_ = -1;
    std::vector<std::string> tops_;
    FilesProgress progress_;
};

// The list going out: every file and folder under the paths copied, in the
// order of a walk, each folder before what it holds.
struct OutgoingFiles {
    struct Item {
        uint32_t kind;
        uint64_t size;
        std::string path;  // below the list's top, as Windows can hold it, '/' between names
        std::string full;  // where it is here
    };
    std::vector<Item> items;
    size_t next = 0;       // the item whose entry goes next
    int fd = -1;           // the file whose bytes go now
    uint64_t fileSize = 0, fileLeft = 0;
    uint64_t listBytes = 0, sent = 0;
    uint32_t effect = 1;   // always a copy: a cut in a file manager is taken as one
    int32_t renamed = 0, skipped = 0;
    FilesProgress progress;
};

// Walks the paths: symbolic links are sent as what they point to only when
// that lies inside the copied tree (and a link to a folder the walk is
// inside goes not at all), special files are skipped, names Windows cannot
// hold are renamed; each said in the log. False, with a line in the log,
// when the list cannot go whole: more than `limit` bytes, a path longer than
// Windows takes, more than FILE_ENTRIES_MAX entries, or nothing to send.
bool loadFiles(OutgoingFiles& files, const std::vector<std::string>& paths, uint64_t limit);
// Frames the list's next chunk into out (CLIPBOARD_CHUNK_HEADER +
// CLIPBOARD_CHUNK_DATA bytes): its size; 0 once the list has gone; -1 when a
// file can no longer be read as it was listed (the transfer is given up).
int32_t nextFileChunk(OutgoingFiles& files, uint32_t transfer, uint8_t* out);
void freeFiles(OutgoingFiles& files);
