// What the Linux program's clipboard holds or reads, whichever clipboard
// serves it (the X selection in x_clipboard.cpp, a Wayland data offer
// alike): MIME types, each with its bytes, or with a producer that makes
// them when a program first asks (a PNG is only made for a paste that wants
// it). The clipboard serves the types as they are; text is the one type a
// clipboard also serves under its own older names (UTF8_STRING, STRING).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

using ClipBytes = std::shared_ptr<const std::string>;

// Text, UTF-8 with Unix line ends.
extern const char* const MIME_TEXT;  // "text/plain;charset=utf-8"
extern const char* const MIME_PNG;
extern const char* const MIME_JPEG;
extern const char* const MIME_BMP;
extern const char* const MIME_URI_LIST;
extern const char* const MIME_GNOME_FILES;  // x-special/gnome-copied-files

class ClipOffers {
public:
    void add(const std::string& mime, ClipBytes bytes);
    void add(const std::string& mime, const std::string& bytes);
    // Made on the first get(); a producer that fails gives null, and the
    // type is then refused to whoever asks.
    void addProduced(const std::string& mime, std::function<ClipBytes()> produce);

    bool has(const std::string& mime) const;
    // The bytes, produced now if need be; null when the type is not offered.
    ClipBytes get(const std::string& mime);
    // The types in the order they were added.
    std::vector<std::string> mimes() const;
    bool empty() const { return offers_.empty(); }

private:
    struct Offer {
        std::string mime;
        ClipBytes bytes;
        std::function<ClipBytes()> produce;
    };
    std::vector<Offer> offers_;
};

// What a reader asks an owner for: groups of types, each in the order liked
// best (for files: the GNOME list, else the URI list); of each group the
// first type the owner offers is read.
using ClipWanted = std::vector<std::vector<std::string>>;
