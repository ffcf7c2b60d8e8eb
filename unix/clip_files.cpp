#include "unix/clip_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "clipboard/clipboard_buffer.h"
#include "clipboard/file_names.h"
#include "unix/log.h"

namespace {

constexpr int64_t DAY_S = 24 * 60 * 60;
// Room kept free in the runtime folder (memory, as a rule) beside a list.
constexpr uint64_t RUNTIME_SPARE = 64u << 20;
constexpr const char* PART = ".part";

int64_t nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string megabytes(uint64_t bytes)
{
    char text[32];
    snprintf(text, sizeof text, bytes < (10u << 20) ? "%.1f" : "%.0f", static_cast<double>(bytes) / (1 << 20));
    return text;
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes each missing folder of path, readable by the user alone.
bool makeFolders(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return isDirectory(path);
}

// Removes `name` in the folder `parent` and all it holds; a link is removed
// itself, never followed.
void removeTree(int parent, const char* name)
{
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        unlinkat(parent, name, 0);
        return;
    }
    if (DIR* dir = fdopendir(fd)) {
        while (dirent* entry = readdir(dir)) {
            if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
            struct stat st;
            if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
                removeTree(fd, entry->d_name);
            else
                unlinkat(fd, entry->d_name, 0);
        }
        closedir(dir);  // closes fd
    } else {
        close(fd);
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

void removeIn(const std::string& root, bool all)
{
    const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    const int64_t now = time(nullptr);
    std::vector<std::string> old;
    if (DIR* dir = fdopendir(dup(fd))) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
            const int64_t made = std::strtoll(entry->d_name, nullptr, 10);
            if (all || (made <= now && now - made >= DAY_S)) old.push_back(entry->d_name);
        }
        closedir(dir);
    }
    for (const std::string& name : old) removeTree(fd, name.c_str());
    close(fd);
}

// The UTF-16 units of a path below the top, as Windows counts them.
int32_t pathUnits(const std::string& path)
{
    int32_t units = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

// A walk of the copied paths.
struct Walk {
    OutgoingFiles& files;
    uint64_t limit;
    std::vector<std::string> tops;  // the copied paths as they really are: links inside them may be followed
    std::vector<std::pair<dev_t, ino_t>> within;  // the folders the walk is inside
    std::string failure;

    bool inside(const std::string& real) const
    {
        for (const std::string& top : tops)
            if (real == top || (real.size() > top.size() && real.compare(0, top.size(), top) == 0 &&
                                (top == "/" || real[top.size()] == '/')))
                return true;
        return false;
    }

    void skip(const std::string& full, const char* why)
    {
        ++files.skipped;
        logLine("clipboard: %s stays here: %s", full.c_str(), why);
    }

    // One file or folder at full, to be named path below the top.
    bool add(const std::string& full, const std::string& path, bool top)
    {
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) {
            skip(full, strerror(errno));
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            char* real = realpath(full.c_str(), nullptr);
            const std::string target = real ? real : "";
            std::free(real);
            if (target.empty() || stat(full.c_str(), &st) != 0) {
                skip(full, "a symbolic link to nothing");
                return true;
            }
            if (!top && !inside(target)) {
                skip(full, "a symbolic link out of the copied folders");
                return true;
            }
        }
        if (pathUnits(path) > FILE_PATH_MAX || !filePathAllowed(path.data(), path.size())) {
            failure = "the path " + path + " is longer than Windows takes";
            return false;
        }
        if (files.items.size() >= static_cast<size_t>(FILE_ENTRIES_MAX)) {
            failure = "more than " + std::to_string(FILE_ENTRIES_MAX) + " files and folders";
            return false;
        }
        if (S_ISREG(st.st_mode)) {
            const uint64_t size = static_cast<uint64_t>(st.st_size);
            if (size > limit - files.listBytes) {
                failure = "more than file-limit, " + megabytes(limit) + " MB, together";
                return false;
            }
            files.listBytes += size;
            files.items.push_back({FILE_KIND_FILE, size, path, full});
            return true;
        }
        if (!S_ISDIR(st.st_mode)) {
            skip(full, "not a file or folder");
            return true;
        }
        for (const auto& [dev, ino] : within)
            if (dev == st.st_dev && ino == st.st_ino) {
                skip(full, "a symbolic link to a folder it lies in");
                return true;
            }
        files.items.push_back({FILE_KIND_FOLDER, 0, path, full});
        DIR* dir = opendir(full.c_str());
        if (!dir) {
            skip(full + "'s contents", strerror(errno));  // the folder goes, empty
            return true;
        }
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..")) names.push_back(entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        within.push_back({st.st_dev, st.st_ino});
        FolderNames taken;
        bool ok = true;
        for (size_t i = 0; ok && i < names.size(); ++i)
            ok = add(full + "/" + names[i], path + "/" + name(taken, full + "/" + names[i], names[i]), false);
        within.pop_back();
        return ok;
    }

    // The name as it goes, said when it is not the one here.
    std::string name(FolderNames& taken, const std::string& full, const std::string& here)
    {
        const std::string there = taken.unique(windowsName(here));
        if (there != here) {
            ++files.renamed;
            logLine("clipboard: %s goes to Windows as \"%s\"", full.c_str(), there.c_str());
        }
        return there;
    }
};

void closeFile(OutgoingFiles& f)
{
    if (f.fd >= 0) close(f.fd);
    f.fd = -1;
}

int64_t currentSize(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

}  // namespace

void FilesProgress::say(const char* what, uint64_t done, uint64_t total)
{
    const int64_t now = nowMs();
    if (started == 0) started = now;
    if (total == 0 || now - started < 1000 || now - lastSaid < 1000) return;  // a short transfer says nothing
    const int32_t percent = static_cast<int32_t>(done / (total / 100 + 1));
    if (percent == shown || percent >= 100) return;
    shown = percent;
    lastSaid = now;
    logLine("%s: %d%% (%s of %s MB)", what, percent, megabytes(done).c_str(), megabytes(total).c_str());
}

std::string receivedFilesRoot(bool cache)
{
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (!cache && runtime && runtime[0] == '/' && isDirectory(runtime)) return std::string(runtime) + "/skiprail/received";
    const char* xdgCache = getenv("XDG_CACHE_HOME");
    if (xdgCache && xdgCache[0] == '/') return std::string(xdgCache) + "/skiprail/received";
    const char* home = getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/skiprail/received";
    return "";
}

void removeReceivedFiles(bool all)
{
    for (bool cache : {false, true}) {
        const std::string root = receivedFilesRoot(cache);
        if (!root.empty()) removeIn(root, all);
    }
}

// ---- coming in

DropSink::~DropSink()
{
    forget();
}

bool DropSink::begin()
{
    if (folderFd_ >= 0) return true;
    removeReceivedFiles(false);  // what waits from a day ago or more goes first
    root_ = receivedFilesRoot();
    // The runtime folder lives in memory as a rule: a large list goes to the cache folder.
    struct statvfs room;
    const uint64_t needed = receiver_ ? receiver_->listBytes : 0;
    if (!root_.empty() && makeFolders(root_) && statvfs(root_.c_str(), &room) == 0 &&
        static_cast<uint64_t>(room.f_bavail) * room.f_frsize < needed + RUNTIME_SPARE)
        root_ = receivedFilesRoot(true);
    if (root_.empty() || !makeFolders(root_)) {
        logLine("clipboard: no folder to put the Master's files in (%s)", root_.empty() ? "no home" : root_.c_str());
        return false;
    }
    static uint32_t serial = 0;
    for (int i = 0; i < 100 && folderFd_ < 0; ++i) {
        name_ = std::to_string(static_cast<long long>(time(nullptr))) + "-" + std::to_string(getpid()) + "-" +
                std::to_string(++serial);
        const std::string part = root_ + "/" + name_ + PART;
        if (mkdir(part.c_str(), 0700) == 0)
            folderFd_ = open(part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (folderFd_ < 0) logLine("clipboard: no folder for the Master's files under %s: %s", root_.c_str(), strerror(errno));
    return folderFd_ >= 0;
}

// The folder that holds path's last name, reached one name at a time below
// the list's folder and never through a link; its name in *leaf. The list's
// own folder is not to be closed by the caller.
int DropSink::openParent(const char* path, std::string* leaf)
{
    if (!begin()) return -1;
    int fd = folderFd_;
    const char* at = path;
    for (const char* slash; (slash = std::strchr(at, '/'));) {
        const std::string name(at, static_cast<size_t>(slash - at));
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd != folderFd_) close(fd);
        if (next < 0) return -1;
        fd = next;
        at = slash + 1;
    }
    *leaf = at;
    if (at == path) tops_.push_back(at);
    return fd;
}

bool DropSink::makeFolder(const char* path)
{
    std::string leaf;
    const int parent = openParent(path, &leaf);
    if (parent < 0) return false;
    const bool made = mkdirat(parent, leaf.c_str(), 0700) == 0;
    if (parent != folderFd_) close(parent);
    return made;
}

bool DropSink::openFile(const char* path, uint64_t)
{
    std::string leaf;
    const int parent = openParent(path, &leaf);
    if (parent < 0) return false;
    // Never over anything: a name twice in a list is refused here. Readable
    // and writable by the user alone.
    fileFd_ = openat(parent, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (parent != folderFd_) close(parent);
    return fileFd_ >= 0;
}

bool DropSink::writeFile(const uint8_t* data, int32_t n)
{
    while (n > 0) {
        const ssize_t written = write(fileFd_, data, static_cast<size_t>(n));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            logLine("clipboard: the Master's files cannot be written: %s", written < 0 ? strerror(errno) : "no room");
            return false;
        }
        data += written;
        n -= static_cast<int32_t>(written);
    }
    return true;
}

bool DropSink::closeFile()
{
    const bool closed = fileFd_ >= 0 && close(fileFd_) == 0;
    fileFd_ = -1;
    return closed;
}

void DropSink::discard()
{
    if (folderFd_ >= 0) {
        const int root = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root >= 0) {
            removeTree(root, (name_ + PART).c_str());
            close(root);
        }
    }
    forget();
}

void DropSink::forget()
{
    if (fileFd_ >= 0) close(fileFd_);
    if (folderFd_ >= 0) close(folderFd_);
    fileFd_ = folderFd_ = -1;
    tops_.clear();
    progress_.reset();
}

void DropSink::progress(uint64_t received, uint64_t total)
{
    progress_.say("files from the Master", received, total);
}

std::vector<std::string> DropSink::place()
{
    std::vector<std::string> paths;
    if (folderFd_ < 0) return paths;
    const std::string folder = root_ + "/" + name_;
    if (rename((folder + PART).c_str(), folder.c_str()) != 0) {
        logLine("clipboard: the Master's files cannot be placed in %s: %s", folder.c_str(), strerror(errno));
        discard();
        return paths;
    }
    for (const std::string& top : tops_) paths.push_back(folder + "/" + top);
    forget();
    return paths;
}

// ---- going out

bool loadFiles(OutgoingFiles& f, const std::vector<std::string>& paths, uint64_t limit)
{
    freeFiles(f);
    Walk walk{f, limit, {}, {}, {}};
    for (const std::string& path : paths) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            walk.tops.push_back(real);
            std::free(real);
        }
    }
    FolderNames taken;
    bool ok = true;
    for (size_t i = 0; ok && i < paths.size(); ++i) {
        const size_t slash = paths[i].rfind('/');
        const std::string here = paths[i].substr(slash == std::string::npos ? 0 : slash + 1);
        ok = walk.add(paths[i], walk.name(taken, paths[i], here), true);
    }
    if (ok && f.items.empty()) walk.failure = "nothing that can go";
    if (!ok || f.items.empty()) {
        logLine("clipboard: the copied files stay here: %s", walk.failure.c_str());
        freeFiles(f);
        return false;
    }
    return true;
}

int32_t nextFileChunk(OutgoingFiles& f, uint32_t transfer, uint8_t* out)
{
    if (f.fd >= 0) {
        // The next piece of the file, read straight into the chunk.
        const uint64_t at = f.fileSize - f.fileLeft;
        const size_t n = static_cast<size_t>(f.fileLeft < CLIPBOARD_CHUNK_DATA ? f.fileLeft : CLIPBOARD_CHUNK_DATA);
        size_t got = 0;
        while (got < n) {
            const ssize_t r = read(f.fd, out + CLIPBOARD_CHUNK_HEADER + got, n - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return closeFile(f), -1;  // shorter than it was: it would arrive cut off and look whole
            got += static_cast<size_t>(r);
        }
        frameClipboardChunkHeader(out, transfer, CLIP_FORMAT_FILE_DATA, static_cast<uint32_t>(f.fileSize),
                                  static_cast<uint32_t>(at), static_cast<int32_t>(n));
        f.fileLeft -= n;
        f.sent += n;
        f.progress.say("files to the Master", f.sent, f.listBytes);
        if (f.fileLeft == 0) {
            const bool same = currentSize(f.fd) == static_cast<int64_t>(f.fileSize);
            closeFile(f);
            if (!same) return -1;
        }
        return CLIPBOARD_CHUNK_HEADER + static_cast<int32_t>(n);
    }
    if (f.next == f.items.size()) return 0;
    const OutgoingFiles::Item& item = f.items[f.next++];
    if (item.kind == FILE_KIND_FILE) {
        f.fd = open(item.full.c_str(), O_RDONLY | O_CLOEXEC);
        if (f.fd < 0) {
            logLine("clipboard: %s cannot be read: %s", item.full.c_str(), strerror(errno));
            return -1;
        }
        if (currentSize(f.fd) != static_cast<int64_t>(item.size)) return closeFile(f), -1;
        posix_fadvise(f.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        f.fileSize = f.fileLeft = item.size;
        if (item.size == 0) closeFile(f);
    }
    FileEntry entry;
    entry.kind = item.kind;
    entry.effect = f.effect;
    entry.size = item.size;
    entry.listBytes = f.listBytes;
    entry.path = item.path.data();
    entry.pathLength = static_cast<int32_t>(item.path.size());
    const int32_t n = encodeFileEntry(out + CLIPBOARD_CHUNK_HEADER, entry);
    frameClipboardChunkHeader(out, transfer, CLIP_FORMAT_FILE_ENTRY, static_cast<uint32_t>(n), 0, n);
    return CLIPBOARD_CHUNK_HEADER + n;
}

void freeFiles(OutgoingFiles& f)
{
    closeFile(f);
    f = OutgoingFiles();
}
