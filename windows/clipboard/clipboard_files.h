// Files and folders copied to the clipboard (CF_HDROP), read off the disk a
// chunk at a time as they go out, and written to a folder of their own under
// the temporary folder as they come in: %TEMP%\Skiprail\<number>. Neither
// side holds a whole file in memory.
#pragma once

#include "windows/app/appstate.h"
#include "clipboard/file_list.h"

// The list going out: every file and folder under what the clipboard names,
// in the order of a walk, each folder before what it holds.
struct OutgoingFiles {
    struct Item {
        uint32_t kind;
        uint64_t size;
        char* path;      // below the list's top, UTF-8, '/' between names
        wchar_t* full;   // where it is on this PC
    };
    Item* items = nullptr;
    int32_t count = 0, capacity = 0;
    int32_t next = 0;           // the item whose entry goes next
    HANDLE file = INVALID_HANDLE_VALUE;  // the file whose bytes go now
    uint64_t fileSize = 0, fileLeft = 0;
    uint64_t listBytes = 0, sent = 0;
    uint32_t effect = 0;
    DWORD started = 0;          // for the progress in the tray tip
    int32_t shown = -1;         // the percentage the tip shows, -1 none
};

// With the clipboard open: the files and folders it names, when the whole
// tree is at most `limit` bytes and every name in it can cross; otherwise
// none (they stay behind, without a word).
void loadFiles(OutgoingFiles& files, uint64_t limit);
// Frames the list's next chunk into out, which holds CLIPBOARD_BUFFER_SIZE
// bytes: its size; 0 once the list has gone; -1 when a file can no longer be
// read as it was listed (the transfer is then given up).
int32_t nextFileChunk(OutgoingFiles& files, uint32_t transfer, uint8_t* out);
void freeFiles(OutgoingFiles& files);

// The incoming list's folder on this PC's disk.
class DiskSink : public FileSink {
public:
    bool makeFolder(const char* path) override;
    bool openFile(const char* path, uint64_t size) override;
    bool writeFile(const uint8_t* data, int32_t n) override;
    bool closeFile() override;
    void discard() override;
    void progress(uint64_t received, uint64_t total) override;
    // A whole list: CF_HDROP naming its top files and folders, and the drop
    // effect beside it; the folder stays for Explorer to copy from. Null
    // blocks when they cannot be made (the folder is then removed).
    void place(uint32_t effect, HGLOBAL* drop, HGLOBAL* dropEffect);

private:
    bool begin();
    bool fullPath(const char* path);
    void addTop(const char* path);
    void forget();

    wchar_t* folder_ = nullptr;  // \\?\...\Skiprail\<number>, once made
    int32_t folderLength_ = 0;
    wchar_t* full_ = nullptr;    // the path of the latest entry
    wchar_t* tops_ = nullptr;    // the top entries' full paths, each NUL-ended
    int32_t topsLength_ = 0, topsCapacity_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    DWORD started_ = 0;
    int32_t shown_ = -1;
};

// The setting SRFileLimit (MB) in bytes: 2 GB when it is not stored.
uint64_t fileLimit();
// Removes the folders that earlier transfers left: all of them at start,
// else those older than a day.
void removeReceivedFiles(bool all);
// The drop effect format's number ("Preferred DropEffect").
UINT dropEffectFormat();
