#include "windows/clipboard/clipboard_files.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app/front_end.h"

namespace {

constexpr int32_t LONG_PATH = 32768;  // the longest path Windows takes, in UTF-16 units
constexpr uint64_t DEFAULT_FILE_LIMIT_MB = 2048;
constexpr ULONGLONG DAY = 24ull * 60 * 60 * 10000000;  // in FILETIME's 100 ns

// One walk or removal at a time, on the GUI thread: its path is built here.
wchar_t walkPath[LONG_PATH];
char walkName[FILE_PATH_BYTES + 1];

uint64_t sizeOf(const WIN32_FIND_DATAW& found)
{
    return (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

bool isDots(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// Appends `\name` to walkPath at `length`; the new length, or 0 when it does not fit.
size_t appendName(size_t length, const wchar_t* name)
{
    const size_t n = std::wcslen(name);
    if (length + 1 + n + 2 >= static_cast<size_t>(LONG_PATH)) return 0;
    walkPath[length] = L'\\';
    std::memcpy(walkPath + length + 1, name, (n + 1) * sizeof(wchar_t));
    return length + 1 + n;
}

// The path as the system takes one of any length: "\\?\C:\...", "\\?\UNC\server\...".
size_t longForm(const wchar_t* path, wchar_t* out, size_t room)
{
    const size_t n = std::wcslen(path);
    const wchar_t* prefix = L"";
    size_t skip = 0;
    if (path[0] && path[1] == L':' && path[2] == L'\\') prefix = L"\\\\?\\";
    else if (path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.') prefix = L"\\\\?\\UNC", skip = 1;
    const size_t p = std::wcslen(prefix);
    if (p + n - skip + 1 > room) return 0;
    std::memcpy(out, prefix, p * sizeof(wchar_t));
    std::memcpy(out + p, path + skip, (n - skip + 1) * sizeof(wchar_t));
    return p + n - skip;
}

// Removes what walkPath (of `length`) names, and everything in it. A link to
// elsewhere (a junction) is removed itself, never followed.
void removeTree(size_t length)
{
    if (!appendName(length, L"*")) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(walkPath, &found);
    walkPath[length] = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (isDots(found.cFileName)) continue;
            const size_t at = appendName(length, found.cFileName);
            if (!at) continue;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(walkPath, FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(walkPath);
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveDirectoryW(walkPath);
            } else {
                removeTree(at);
            }
            walkPath[length] = 0;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(walkPath);
}

// \\?\<temporary folder>\Skiprail into walkPath; its length, 0 when there is none.
size_t receivedFilesFolder()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return 0;
    if (temp[n - 1] == L'\\') temp[n - 1] = 0;
    const size_t length = longForm(temp, walkPath, LONG_PATH);
    return length ? appendName(length, L"Skiprail") : 0;
}

void showProgress(DWORD* started, int32_t* shown, uint64_t done, uint64_t total)
{
    if (*started == 0) *started = GetTickCount() | 1;
    if (total == 0 || GetTickCount() - *started < 1000) return;  // a short transfer shows nothing
    const int32_t percent = static_cast<int32_t>(done / (total / 100 + 1));
    if (percent == *shown) return;
    *shown = percent < 100 ? percent : 99;
    frontEnd.filesProgress(*shown);
}

void endProgress(DWORD* started, int32_t* shown)
{
    if (*shown >= 0) frontEnd.filesProgress(-1);
    *shown = -1;
    *started = 0;
}

// ---- going out

bool addItem(OutgoingFiles& f, uint32_t kind, uint64_t size, size_t nameLength)
{
    if (f.count == f.capacity) {
        const int32_t capacity = f.capacity ? 2 * f.capacity : 64;
        void* grown = std::realloc(f.items, sizeof(OutgoingFiles::Item) * static_cast<size_t>(capacity));
        if (!grown) return false;
        f.items = static_cast<OutgoingFiles::Item*>(grown);
        f.capacity = capacity;
    }
    const size_t fullLength = std::wcslen(walkPath);
    OutgoingFiles::Item item = {kind, size, static_cast<char*>(std::malloc(nameLength + 1)),
                                static_cast<wchar_t*>(std::malloc((fullLength + 1) * sizeof(wchar_t)))};
    if (!item.path || !item.full) {
        std::free(item.path), std::free(item.full);
        return false;
    }
    std::memcpy(item.path, walkName, nameLength + 1);
    std::memcpy(item.full, walkPath, (fullLength + 1) * sizeof(wchar_t));
    f.items[f.count++] = item;
    return true;
}

// Lists what walkPath (of `length`) names, found as `found`, under the name
// walkName holds up to `nameAt`, and all it holds. False when the list
// cannot go: a name that cannot cross, past the limit, or out of memory.
bool walk(OutgoingFiles& f, uint64_t limit, size_t length, size_t nameAt, const WIN32_FIND_DATAW& found)
{
    const int room = FILE_PATH_BYTES - static_cast<int>(nameAt);
    const int n = room > 0 ? WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, walkName + nameAt, room, nullptr,
                                                 nullptr)
                           : 0;
    if (n <= 1) return false;
    const size_t nameLength = nameAt + static_cast<size_t>(n) - 1;
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const uint64_t size = folder ? 0 : sizeOf(found);
    if (!filePathAllowed(walkName, nameLength) || f.count >= FILE_ENTRIES_MAX || size > limit - f.listBytes)
        return false;
    f.listBytes += size;
    if (!addItem(f, folder ? FILE_KIND_FOLDER : FILE_KIND_FILE, size, nameLength)) return false;
    // A folder that links elsewhere goes empty: a walk never follows a link.
    if (!folder || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    if (!appendName(length, L"*")) return false;
    WIN32_FIND_DATAW inner;
    HANDLE search = FindFirstFileW(walkPath, &inner);
    walkPath[length] = 0;
    if (search == INVALID_HANDLE_VALUE) return true;  // an empty folder, or one not to be read: it goes empty
    bool ok = true;
    do {
        if (isDots(inner.cFileName)) continue;
        const size_t at = appendName(length, inner.cFileName);
        walkName[nameLength] = '/';
        ok = at && walk(f, limit, at, nameLength + 1, inner);
        walkPath[length] = 0;
        walkName[nameLength] = 0;
    } while (ok && FindNextFileW(search, &inner));
    FindClose(search);
    return ok;
}

// One path the clipboard names, with what it holds.
bool walkTop(OutgoingFiles& f, uint64_t limit, const wchar_t* path)
{
    const size_t length = longForm(path, walkPath, LONG_PATH - 2);
    if (!length) return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(walkPath, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return walk(f, limit, length, 0, found);
}

// A file's size as the system tells it now; -1 when it cannot.
int64_t currentSize(HANDLE file)
{
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

void closeFile(OutgoingFiles& f)
{
    if (f.file != INVALID_HANDLE_VALUE) CloseHandle(f.file);
    f.file = INVALID_HANDLE_VALUE;
}

// ---- coming in

DWORD dropEffectOf(uint32_t effect)
{
    return effect ? effect : DROPEFFECT_COPY;
}

}  // namespace

UINT dropEffectFormat()
{
    // Asked once; no guarded static, which would link the runtime's thread support.
    static UINT format = 0;
    if (!format) format = RegisterClipboardFormatA("Preferred DropEffect");
    return format;
}

uint64_t fileLimit()
{
    return static_cast<uint64_t>(app.fileLimitMB) * 1024 * 1024;
}

void removeReceivedFiles(bool all)
{
    const size_t length = receivedFilesFolder();
    if (!length || !appendName(length, L"*")) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG today = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(walkPath, &found);
    walkPath[length] = 0;
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const ULONGLONG made =
            (static_cast<ULONGLONG>(found.ftCreationTime.dwHighDateTime) << 32) | found.ftCreationTime.dwLowDateTime;
        if (isDots(found.cFileName) || !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (!all && (made > today || today - made < DAY)) continue;  // a clock set back removes nothing
        if (const size_t at = appendName(length, found.cFileName)) removeTree(at);
        walkPath[length] = 0;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void loadFiles(OutgoingFiles& f, uint64_t limit)
{
    freeFiles(f);
    if (!IsClipboardFormatAvailable(CF_HDROP)) return;
    HANDLE data = GetClipboardData(CF_HDROP);
    const uint8_t* block = data ? static_cast<const uint8_t*>(GlobalLock(data)) : nullptr;
    if (!block) return;
    const SIZE_T size = GlobalSize(data);
    const DROPFILES* drop = reinterpret_cast<const DROPFILES*>(block);
    bool ok = size >= sizeof(DROPFILES) && drop->pFiles >= sizeof(DROPFILES) && drop->pFiles < size;
    wchar_t* path = static_cast<wchar_t*>(std::malloc(LONG_PATH * sizeof(wchar_t)));
    ok = ok && path;
    // The names follow one another, each NUL-ended, and an empty one ends
    // them; nothing is read past the block.
    for (SIZE_T at = ok ? drop->pFiles : size; ok && at < size;) {
        size_t n = 0;
        if (drop->fWide) {
            const wchar_t* name = reinterpret_cast<const wchar_t*>(block + at);
            const size_t room = (size - at) / sizeof(wchar_t);
            n = wcsnlen(name, room);
            if (n == room || n >= LONG_PATH) break;
            std::memcpy(path, name, (n + 1) * sizeof(wchar_t));
            at += (n + 1) * sizeof(wchar_t);
        } else {
            const char* name = reinterpret_cast<const char*>(block + at);
            const size_t bytes = strnlen(name, size - at);
            if (bytes == size - at) break;
            n = bytes ? static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, name, static_cast<int>(bytes), path,
                                                                LONG_PATH - 1))
                      : 0;
            path[n] = 0;
            at += bytes + 1;
        }
        if (n == 0) break;
        walkName[0] = 0;
        ok = walkTop(f, limit, path);
    }
    std::free(path);
    GlobalUnlock(data);
    if (f.count == 0) ok = false;
    if (!ok) {
        // What cannot go whole stays behind: the rest of the clipboard still goes.
        freeFiles(f);
        return;
    }
    f.effect = DROPEFFECT_COPY;
    if (HANDLE effect = IsClipboardFormatAvailable(dropEffectFormat()) ? GetClipboardData(dropEffectFormat()) : nullptr)
        if (const DWORD* value = static_cast<const DWORD*>(GlobalLock(effect))) {
            if (GlobalSize(effect) >= sizeof(DWORD)) f.effect = *value;
            GlobalUnlock(effect);
        }
}

int32_t nextFileChunk(OutgoingFiles& f, uint32_t transfer, uint8_t* out)
{
    if (f.file != INVALID_HANDLE_VALUE) {
        // The next piece of the file read straight into the chunk: one piece
        // in memory at a time, however large the file.
        const uint64_t at = f.fileSize - f.fileLeft;
        const DWORD n = static_cast<DWORD>(f.fileLeft < CLIPBOARD_CHUNK_DATA ? f.fileLeft : CLIPBOARD_CHUNK_DATA);
        DWORD read = 0;
        if (!ReadFile(f.file, out + CLIPBOARD_CHUNK_HEADER, n, &read, nullptr) || read != n) return closeFile(f), -1;
        frameClipboardChunkHeader(out, transfer, CLIP_FORMAT_FILE_DATA, static_cast<uint32_t>(f.fileSize),
                                  static_cast<uint32_t>(at), static_cast<int32_t>(n));
        f.fileLeft -= n;
        f.sent += n;
        showProgress(&f.started, &f.shown, f.sent, f.listBytes);
        if (f.fileLeft == 0) {
            // A file that grew meanwhile would arrive cut off and look whole.
            const bool same = currentSize(f.file) == static_cast<int64_t>(f.fileSize);
            closeFile(f);
            if (!same) return -1;
        }
        return CLIPBOARD_CHUNK_HEADER + static_cast<int32_t>(n);
    }
    if (f.next == f.count) {
        endProgress(&f.started, &f.shown);
        return 0;
    }
    const OutgoingFiles::Item& item = f.items[f.next++];
    if (item.kind == FILE_KIND_FILE) {
        f.file = CreateFileW(item.full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (f.file == INVALID_HANDLE_VALUE) return -1;
        if (currentSize(f.file) != static_cast<int64_t>(item.size)) return closeFile(f), -1;
        f.fileSize = f.fileLeft = item.size;
        if (item.size == 0) closeFile(f);
    }
    FileEntry entry;
    entry.kind = item.kind;
    entry.effect = f.effect;
    entry.size = item.size;
    entry.listBytes = f.listBytes;
    entry.path = item.path;
    entry.pathLength = static_cast<int32_t>(std::strlen(item.path));
    const int32_t n = encodeFileEntry(out + CLIPBOARD_CHUNK_HEADER, entry);
    frameClipboardChunkHeader(out, transfer, CLIP_FORMAT_FILE_ENTRY, static_cast<uint32_t>(n), 0, n);
    return CLIPBOARD_CHUNK_HEADER + n;
}

void freeFiles(OutgoingFiles& f)
{
    closeFile(f);
    endProgress(&f.started, &f.shown);
    for (int32_t i = 0; i < f.count; ++i) std::free(f.items[i].path), std::free(f.items[i].full);
    std::free(f.items);
    f = OutgoingFiles();
}

// ---- DiskSink

bool DiskSink::begin()
{
    if (folder_) return true;
    removeReceivedFiles(false);  // what waits from a day ago or more goes first
    size_t length = receivedFilesFolder();
    if (!length) return false;
    CreateDirectoryW(walkPath, nullptr);
    wchar_t name[16];
    const DWORD seed = GetTickCount();
    size_t made = 0;
    for (DWORD i = 0; i < 100 && !made; ++i) {
        _snwprintf(name, 15, L"%lu", static_cast<unsigned long>(seed + i));  // msvcrt's own, on every Windows
        name[15] = 0;
        made = appendName(length, name);
        if (made && !CreateDirectoryW(walkPath, nullptr)) made = 0;
        walkPath[length] = 0;
    }
    if (!made) return false;
    appendName(length, name);
    folder_ = static_cast<wchar_t*>(std::malloc(LONG_PATH * sizeof(wchar_t)));
    full_ = static_cast<wchar_t*>(std::malloc(LONG_PATH * sizeof(wchar_t)));
    if (!folder_ || !full_) {
        std::free(folder_), std::free(full_);
        folder_ = full_ = nullptr;
        RemoveDirectoryW(walkPath);
        return false;
    }
    folderLength_ = static_cast<int32_t>(made);
    std::memcpy(folder_, walkPath, (made + 1) * sizeof(wchar_t));
    return true;
}

// full_ = the folder, '\', and the path with each '/' a '\'.
bool DiskSink::fullPath(const char* path)
{
    if (!begin()) return false;
    std::memcpy(full_, folder_, static_cast<size_t>(folderLength_) * sizeof(wchar_t));
    full_[folderLength_] = L'\\';
    const int room = LONG_PATH - folderLength_ - 1;
    const int n = MultiByteToWideChar(CP_UTF8, 0, path, -1, full_ + folderLength_ + 1, room);
    if (n <= 1) return false;
    for (wchar_t* c = full_ + folderLength_ + 1; *c; ++c)
        if (*c == L'/') *c = L'\\';
    addTop(path);
    return true;
}

// A top file or folder: CF_HDROP will name it, in the short form Explorer reads.
void DiskSink::addTop(const char* path)
{
    if (std::strchr(path, '/')) return;
    const wchar_t* shortForm = full_ + 4;  // past "\\?\"
    if (std::wcsncmp(full_, L"\\\\?\\UNC\\", 8) == 0) shortForm = full_ + 6;
    const int32_t n = static_cast<int32_t>(std::wcslen(shortForm));
    if (topsLength_ + n + 2 > topsCapacity_) {
        const int32_t capacity = (topsLength_ + n + 2) * 2;
        void* grown = std::realloc(tops_, static_cast<size_t>(capacity) * sizeof(wchar_t));
        if (!grown) return;
        tops_ = static_cast<wchar_t*>(grown);
        topsCapacity_ = capacity;
    }
    std::memcpy(tops_ + topsLength_, shortForm, (static_cast<size_t>(n) + 1) * sizeof(wchar_t));
    if (shortForm == full_ + 6) tops_[topsLength_] = L'\\';  // "UNC\server" back to "\\server"
    topsLength_ += n + 1;
}

bool DiskSink::makeFolder(const char* path)
{
    return fullPath(path) && CreateDirectoryW(full_, nullptr);
}

bool DiskSink::openFile(const char* path, uint64_t)
{
    if (!fullPath(path)) return false;
    // Never over anything: a name twice in a list is refused here.
    file_ = CreateFileW(full_, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                        nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

bool DiskSink::writeFile(const uint8_t* data, int32_t n)
{
    while (n > 0) {
        DWORD written = 0;
        if (!WriteFile(file_, data, static_cast<DWORD>(n), &written, nullptr) || written == 0) return false;
        data += written;
        n -= static_cast<int32_t>(written);
    }
    return true;
}

bool DiskSink::closeFile()
{
    const bool closed = file_ != INVALID_HANDLE_VALUE && CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    return closed;
}

void DiskSink::discard()
{
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (folder_) {
        std::memcpy(walkPath, folder_, (static_cast<size_t>(folderLength_) + 1) * sizeof(wchar_t));
        removeTree(static_cast<size_t>(folderLength_));
    }
    forget();
}

void DiskSink::forget()
{
    std::free(folder_), std::free(full_), std::free(tops_);
    folder_ = full_ = tops_ = nullptr;
    folderLength_ = topsLength_ = topsCapacity_ = 0;
    endProgress(&started_, &shown_);
}

void DiskSink::progress(uint64_t received, uint64_t total)
{
    showProgress(&started_, &shown_, received, total);
}

void DiskSink::place(uint32_t effect, HGLOBAL* drop, HGLOBAL* dropEffect)
{
    *drop = *dropEffect = nullptr;
    const size_t names = (static_cast<size_t>(topsLength_) + 1) * sizeof(wchar_t);
    HGLOBAL block = topsLength_ ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names) : nullptr;
    HGLOBAL value = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
    DROPFILES* files = block ? static_cast<DROPFILES*>(GlobalLock(block)) : nullptr;
    DWORD* to = value ? static_cast<DWORD*>(GlobalLock(value)) : nullptr;
    if (!files || !to) {
        if (files) GlobalUnlock(block);
        if (to) GlobalUnlock(value);
        if (block) GlobalFree(block);
        if (value) GlobalFree(value);
        discard();
        return;
    }
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::memcpy(files + 1, tops_, names - sizeof(wchar_t));  // the last NUL is the block's zero
    *to = dropEffectOf(effect);
    GlobalUnlock(block);
    GlobalUnlock(value);
    *drop = block;
    *dropEffect = value;
    forget();  // the folder stays: the clipboard names it
}
