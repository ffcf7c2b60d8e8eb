#include "unix/setup.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "settings/key_text.h"
#include "unix/openssl_cipher.h"

namespace {

// The most of a key file that is read: a key counts 128 letters at most.
constexpr size_t KEY_FILE_MOST = 4096;

std::string expandHome(const std::string& path)
{
    const char* home = getenv("HOME");
    if (path.compare(0, 2, "~/") == 0 && home) return std::string(home) + path.substr(1);
    return path;
}

// A word of an Exec line, quoted where the desktop entry rules ask for it.
std::string execWord(const std::string& word)
{
    std::string quoted;
    bool plain = !word.empty();
    for (char c : word) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          std::strchr("-_./:=+,@", c) != nullptr;
        if (!safe) plain = false;
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += "\\\\";
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return plain ? quoted : "\"" + quoted + "\"";
}

bool makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string part = slash == std::string::npos ? path : path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

bool loadKeyFile(const std::string& given, uint8_t stretched[LINK_KEY_STRETCHED], std::string* error)
{
    const std::string path = expandHome(given);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot read the key file " + path + ": " + strerror(errno);
        return false;
    }
    struct stat status = {};
    char text[KEY_FILE_MOST + 1] = {};
    ssize_t n = -1;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error = "the key file " + path + " is not a plain file";
    } else if (status.st_mode & 077) {
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        *error = "the key file " + path + " may be read or written by others (mode " + mode +
                 "), so it is not used: chmod 600 " + path;
    } else if ((n = read(fd, text, KEY_FILE_MOST)) < 0) {
        *error = "cannot read the key file " + path + ": " + strerror(errno);
    }
    close(fd);
    if (n < 0) return false;
    text[n] = '\0';
    uint8_t key[LINK_KEY_MAX];
    const int32_t length = normalizeLinkKey(text, key, sizeof key);
    const bool enough = linkKeySymbols(key, length) >= LINK_KEY_MIN_SYMBOLS;
    const bool stretchedOk = enough && stretchLinkKeyOpenSsl(key, length, stretched);
    OPENSSL_cleanse(text, sizeof text);
    OPENSSL_cleanse(key, sizeof key);
    if (!enough) *error = "the key in " + path + " is too short: a link key needs at least 16 letters or digits";
    else if (!stretchedOk) *error = "the link key could not be prepared (OpenSSL's PBKDF2 failed)";
    return stretchedOk;
}

std::string newLinkKey()
{
    uint8_t random[NEW_KEY_RANDOM_BYTES];
    if (RAND_bytes(random, sizeof random) != 1) return "";
    char text[NEW_KEY_TEXT];
    formatNewKey(random, text);
    const std::string key = text;
    OPENSSL_cleanse(random, sizeof random);
    OPENSSL_cleanse(text, sizeof text);
    return key;
}

bool writeAutostart(const std::string& configHome, const std::vector<std::string>& arguments, std::string* done,
                    std::string* error)
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        *error = "cannot tell where this program lies: " + std::string(strerror(errno));
        return false;
    }
    std::string exec = execWord(self);
    for (const std::string& argument : arguments) exec += " " + execWord(argument);
    // A line break or other control character would end the Exec line and
    // make the rest of the word a line of its own.
    for (const char c : exec) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            *error = "a setting holds a line break or another control character, which an autostart entry cannot carry";
            return false;
        }
    }
    const std::string folder = configHome + "/autostart";
    const std::string path = folder + "/skiprail.desktop";
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Skiprail\n"
                              "Comment=The keyboard and mouse of the Windows PC beside this one\n"
                              "Exec=" + exec + "\n"
                              "Terminal=false\n"
                              "NoDisplay=true\n"
                              "X-GNOME-Autostart-enabled=true\n";
    // Written beside and renamed, so a session never reads half an entry.
    const std::string partial = path + ".new";
    FILE* file = makeFolders(folder) ? fopen(partial.c_str(), "w") : nullptr;
    const bool written = file && fwrite(entry.data(), 1, entry.size(), file) == entry.size();
    const bool closed = file && fclose(file) == 0;
    if (!written || !closed || rename(partial.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + strerror(errno);
        unlink(partial.c_str());
        return false;
    }
    *done = "skiprail starts with the desktop session now: " + path;
    return true;
}

bool removeAutostart(const std::string& configHome, std::string* done, std::string* error)
{
    const std::string path = configHome + "/autostart/skiprail.desktop";
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        *error = "cannot remove " + path + ": " + strerror(errno);
        return false;
    }
    *done = "skiprail no longer starts with the desktop session";
    return true;
}

