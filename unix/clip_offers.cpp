#include "unix/clip_offers.h"

const char* const MIME_TEXT = "text/plain;charset=utf-8";
const char* const MIME_PNG = "image/png";
const char* const MIME_JPEG = "image/jpeg";
const char* const MIME_BMP = "image/bmp";
const char* const MIME_URI_LIST = "text/uri-list";
const char* const MIME_GNOME_FILES = "x-special/gnome-copied-files";

void ClipOffers::add(const std::string& mime, ClipBytes bytes)
{
    offers_.push_back({mime, std::move(bytes), nullptr});
}

void ClipOffers::add(const std::string& mime, const std::string& bytes)
{
    add(mime, std::make_shared<const std::string>(bytes));
}

void ClipOffers::addProduced(const std::string& mime, std::function<ClipBytes()> produce)
{
    offers_.push_back({mime, nullptr, std::move(produce)});
}

bool ClipOffers::has(const std::string& mime) const
{
    for (const Offer& offer : offers_)
        if (offer.mime == mime) return true;
    return false;
}

ClipBytes ClipOffers::get(const std::string& mime)
{
    for (Offer& offer : offers_) {
        if (offer.mime != mime) continue;
        if (!offer.bytes && offer.produce) {
            offer.bytes = offer.produce();
            offer.produce = nullptr;  // made once, or refused from now on
        }
        return offer.bytes;
    }
    return nullptr;
}

std::vector<std::string> ClipOffers::mimes() const
{
    std::vector<std::string> out;
    for (const Offer& offer : offers_) out.push_back(offer.mime);
    return out;
}
