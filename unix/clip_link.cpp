// The clipboard connection with one partner. Plain transfers carry a
// Windows PC's code page (Windows-1252 is taken), the richer ones UTF-8
// text, a picture as the DIB Windows programs paste, and files as the
// partner's walk of them, in chunks, to a partner that announced them. X
// programs get Unix line ends, PNG (or BMP) pictures and file URIs; the
// partner gets Windows line ends. The conversions live in
// clipboard/dib.*, unix/clip_pictures.* and unix/clip_files.*.
#include <cstring>
#include <memory>

#include "clipboard/dib.h"
#include "clipboard/file_names.h"
#include "clipboard/text_convert.h"
#include "unix/clip_offers.h"
#include "unix/clip_pictures.h"
#include "unix/log.h"
#include "unix/clip_link.h"
#include "unix/links.h"
#include "unix/desk.h"

namespace {

// The outgoing transfer is handed to the connection a chunk at a time while
// less than this waits there, so a newer push can take over at a chunk's end.
constexpr size_t SEND_AHEAD = 1024 * 1024;

// One chunk of a file, read straight behind its header.
std::vector<uint8_t> fileChunk;

// The selection's read answers the side that asked last.
ClipSide* readingFor = nullptr;
uint32_t readSerial = 0;  // the selection's serial when it was asked

// Whether the clipboard connection is there to take bytes (with a key they
// wait for the proof).
bool clipboardOpen(const ClipSide& side)
{
    return linkOpen(side.index, LINK_CLIPBOARD);
}

// What came from the partner is on the selection now.
void notePlaced(ClipSide& side)
{
    side.placedSerial = desk().clipboardSerial();
    side.placedKnown = true;
    if (side.arrived) side.arrived(side);
}

std::string pictureSize(const Picture& picture)
{
    return std::to_string(picture.width) + " x " + std::to_string(picture.height) + " picture" +
           (picture.alpha ? " with alpha" : "");
}

void addSaid(std::string& said, const std::string& what)
{
    said += (said.empty() ? "" : ", ") + what;
}

// The Master's picture, offered as PNG and BMP, each made when first asked for.
bool offerPicture(const ClipSide& side, ClipOffers& offers, const ClipboardPart& part, std::string& said)
{
    auto picture = std::make_shared<Picture>();
    if (!pictureFromDib(part.data, part.total, picture.get())) {
        logLine("clipboard: the picture from %s is of a kind this side does not read, and is left out", side.who.c_str());
        return false;
    }
    offers.addProduced(MIME_PNG, [picture]() -> ClipBytes {
        std::string png = pngFromPicture(*picture);
        if (png.empty()) {
            logLine("clipboard: no PNG could be made of the picture that came");
            return nullptr;
        }
        return std::make_shared<const std::string>(std::move(png));
    });
    offers.addProduced(MIME_BMP, [picture]() -> ClipBytes {
        const std::vector<uint8_t> bmp = bmpFromPicture(*picture);
        if (bmp.empty()) return nullptr;
        return std::make_shared<const std::string>(reinterpret_cast<const char*>(bmp.data()), bmp.size());
    });
    addSaid(said, pictureSize(*picture));
    return true;
}

void placeParts(ClipSide& side)
{
    auto offers = std::make_shared<ClipOffers>();
    std::string said;
    const ClipboardPart* picture = nullptr;
    for (int32_t i = 0; i < side.parts.count; ++i) {
        const ClipboardPart& part = side.parts.parts[i];
        if (!clipboardPartWhole(part)) continue;
        if (part.format == CLIP_FORMAT_TEXT && !offers->has(MIME_TEXT)) {
            const char* text = reinterpret_cast<const char*>(part.data);
            const std::string utf8 = unixLineEnds(sanitizedUtf8(text ? text : "", part.total));
            offers->add(MIME_TEXT, utf8);
            addSaid(said, std::to_string(utf8.size()) + " bytes of text");
        } else if (part.format == CLIP_FORMAT_DIBV5 || (part.format == CLIP_FORMAT_DIB && !picture)) {
            picture = &part;  // the version 5 header, where there is one, says the most
        }
    }
    if (picture) offerPicture(side, *offers, *picture, said);
    if (side.files.state == FileListState::Whole) {
        const std::vector<std::string> paths = side.disk.place();
        if (!paths.empty()) {
            offers->add(MIME_URI_LIST, uriListOf(paths));
            offers->add(MIME_GNOME_FILES, gnomeCopiedOf(paths));
            const std::string folder = paths[0].substr(0, paths[0].rfind('/'));
            logLine("files from %s: %d files and folders, %llu bytes, ready to paste from %s", side.who.c_str(),
                    side.files.entries, static_cast<unsigned long long>(side.files.listBytes), folder.c_str());
            addSaid(said, std::to_string(side.files.entries) + " files and folders");
        }
    }
    if (offers->empty()) {
        logVerbose("clipboard received: nothing this side takes");
        return;
    }
    deskOwnOffers(offers);
    desk().flush();
    notePlaced(side);
    logVerbose("clipboard received: %s (in chunks)", said.c_str());
}

void queueChunk(const ClipSide& side, uint32_t number, uint32_t format, uint32_t total, uint32_t offset, const char* data, int32_t n)
{
    uint8_t header[CLIPBOARD_CHUNK_HEADER];
    frameClipboardChunkHeader(header, number, format, total, offset, n);
    linkQueue(side.index, LINK_CLIPBOARD, header, sizeof header);
    if (n > 0) linkQueue(side.index, LINK_CLIPBOARD, data, static_cast<size_t>(n));
}

void flushClipboard(const ClipSide& side)
{
    linkFlush(side.index, LINK_CLIPBOARD);  // a failed send ends the connection as a close would
}

// A transfer still going out gives way, at the end of its last chunk: an END
// that counts no parts tells the partner to drop what it holds of it.
void giveUpOutgoing(ClipSide& side)
{
    OutgoingTransfer& outgoing = side.outgoing;
    if (outgoing.active) queueChunk(side, outgoing.number, CLIP_FORMAT_END, 0, 0, nullptr, 0);
    freeFiles(outgoing.files);
    outgoing = OutgoingTransfer();
}

// The plain transfer, to a Master that announced nothing: text alone, in its code page.
void sendPlain(ClipSide& side, const std::string& text)
{
    // Longer text than the plain transfer carries is not sent rather than cut off.
    const std::string plain = cp1252FromUtf8(text.data(), text.size());
    if (plain.size() > static_cast<size_t>(CLIPBOARD_MAX_TEXT)) {
        logLine("clipboard text of %zu bytes is longer than a plain transfer carries: not sent", plain.size());
        return;
    }
    const uint32_t length = static_cast<uint32_t>(plain.size() + 1);
    const uint8_t prefix[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    linkQueue(side.index, LINK_CLIPBOARD, prefix, sizeof prefix);
    linkQueue(side.index, LINK_CLIPBOARD, plain.c_str(), plain.size() + 1);
    side.sentSerial = readSerial;
    side.sentKnown = true;
    logVerbose("clipboard sent: %zu bytes of text (plain)", plain.size());
    flushClipboard(side);
}

// The selection's picture as the DIB Windows programs paste: PNG, else JPEG, else BMP.
void addPicture(ClipOffers& offers, OutgoingTransfer& transfer, std::string& said)
{
    for (const char* mime : {MIME_PNG, MIME_JPEG, MIME_BMP}) {
        const ClipBytes bytes = offers.get(mime);
        if (!bytes) continue;
        Picture picture;
        std::string why;
        const bool read = mime == MIME_PNG    ? pictureFromPng(*bytes, &picture, &why)
                          : mime == MIME_JPEG ? pictureFromJpeg(*bytes, &picture, &why)
                                              : pictureFromBmpFile(*bytes, &picture, &why);
        if (!read) {
            logLine("clipboard: the picture (%s) stays here: %s", mime, why.c_str());
            return;
        }
        uint32_t format = 0;
        std::vector<uint8_t> dib = dibFromPicture(picture, &format);
        if (dib.empty() || dib.size() > CLIPBOARD_MAX_PART) {
            logLine("clipboard: the %s stays here: more than a Windows PC takes (64 MB)", pictureSize(picture).c_str());
            return;
        }
        transfer.parts.push_back({format, std::string(reinterpret_cast<const char*>(dib.data()), dib.size())});
        addSaid(said, pictureSize(picture));
        return;
    }
}

// What the selection holds, read when control left.
void onSelectionRead(ClipOffers& offers)
{
    if (!readingFor) return;
    ClipSide& side = *readingFor;
    readingFor = nullptr;
    if (offers.empty()) {
        logVerbose("clipboard: nothing here to send");
        return;
    }
    if (!clipboardOpen(side)) {
        logVerbose("clipboard: no clipboard connection, the clipboard stays here");
        return;
    }
    const ClipBytes utf8 = offers.get(MIME_TEXT);
    const std::string text = utf8 ? windowsLineEnds(sanitizedUtf8(utf8->data(), utf8->size())) : std::string();
    if (!(side.partnerTakes & CLIP_CAN_TEXT)) {
        if (text.empty()) logVerbose("clipboard: no text here to send");
        else sendPlain(side, text);
        return;
    }
    OutgoingTransfer transfer;
    std::string said;
    if (!text.empty() && text.size() > CLIPBOARD_MAX_PART) {
        logLine("clipboard text of %zu bytes is longer than %s takes: not sent", text.size(), side.who.c_str());
    } else if (!text.empty()) {
        transfer.parts.push_back({CLIP_FORMAT_TEXT, text});
        addSaid(said, std::to_string(text.size()) + " bytes of text");
    }
    if (side.partnerTakes & CLIP_CAN_PICTURE) addPicture(offers, transfer, said);
    if ((side.partnerTakes & CLIP_CAN_FILES) && side.fileLimit) {
        std::vector<std::string> paths;
        if (const ClipBytes list = offers.get(MIME_GNOME_FILES)) paths = pathsFromGnomeCopied(*list, nullptr);
        else if (const ClipBytes uris = offers.get(MIME_URI_LIST)) paths = pathsFromUriList(*uris);
        if (!paths.empty() && loadFiles(transfer.files, paths, side.fileLimit))
            addSaid(said, std::to_string(transfer.files.items.size()) + " files and folders, " +
                              std::to_string(transfer.files.listBytes) + " bytes");
    }
    if (transfer.parts.empty() && transfer.files.items.empty()) {
        logVerbose("clipboard: nothing here %s takes", side.who.c_str());
        return;
    }
    giveUpOutgoing(side);
    side.outgoing = std::move(transfer);
    side.outgoing.number = ++side.lastTransfer;
    side.outgoing.active = true;
    side.sentSerial = readSerial;
    side.sentKnown = true;
    logVerbose("clipboard sent: %s (in chunks)", said.c_str());
    clipContinue(side);
}

}  // namespace

int32_t clipTakes(const ClipSide& side)
{
    // A limit of 0 turns files off: none are asked for, and none are sent.
    return side.fileLimit ? CLIP_WE_TAKE : CLIP_WE_TAKE & ~CLIP_CAN_FILES;
}

void clipPartnerTakes(ClipSide& side, int32_t version, int32_t takes)
{
    side.partnerTakes = version >= CLIPBOARD_EXTENSION_VERSION ? takes & clipTakes(side) : 0;
}

void clipConnectionUp(ClipSide& side)
{
    // Nothing half received or half sent carries over to a new connection:
    // a list cut off is never offered, and its folder goes.
    clipboardReset(side.incoming);
    assemblyClear(side.parts);
    dropFiles(side.files, side.disk);
    freeFiles(side.outgoing.files);
    side.outgoing = OutgoingTransfer();
    // What the partner holds is not known across a new connection.
    side.sentKnown = side.placedKnown = false;
    if (clipboardOpen(side)) logVerbose("clipboard connection with %s up", side.who.c_str());
}

void clipConnectionEnded(ClipSide& side)
{
    if (side.files.state == FileListState::Receiving)
        logLine("clipboard: the connection ended in the middle of the files from %s: nothing of them is kept",
                side.who.c_str());
    assemblyClear(side.parts);
    dropFiles(side.files, side.disk);
    freeFiles(side.outgoing.files);
    side.outgoing = OutgoingTransfer();
}

void clipBytes(ClipSide& side, const uint8_t* data, size_t size)
{
    ClipboardBuffer& buffer = side.incoming;
    if (!buffer.allocated && !clipboardReset(buffer)) return;
    side.disk.watch(&side.files);
    size_t at = 0;
    while (at < size) {
        const int32_t room = clipboardRoom(buffer);
        uint8_t* space = clipboardSpace(buffer);
        const size_t left = size - at;
        const int32_t n = left < static_cast<size_t>(room) ? static_cast<int32_t>(left) : room;
        if (n <= 0) {
            clipboardReset(buffer);  // never reached: a transfer too long is passed over as it comes
            continue;
        }
        std::memcpy(space, data + at, static_cast<size_t>(n));
        at += static_cast<size_t>(n);
        for (ClipboardStep step = clipboardCommit(buffer, n); step != ClipboardStep::NeedMore;
             step = clipboardConsume(buffer)) {
            if (step == ClipboardStep::Complete) {
                const char* text = clipboardText(buffer);
                const std::string utf8 = unixLineEnds(utf8FromCp1252(text, static_cast<size_t>(clipboardTextLength(buffer))));
                deskOwnText(utf8.data(), static_cast<int32_t>(utf8.size()));
                desk().flush();
                notePlaced(side);
                logVerbose("clipboard received: %zu bytes of text (plain)", utf8.size());
                continue;
            }
            side.files.limit = side.fileLimit;
            const FileListState before = side.files.state;
            const TransferStep whole = takeChunk(side.parts, side.files, side.disk, clipboardChunk(buffer));
            if (before == FileListState::Idle && side.files.state == FileListState::Skipped)
                logLine("clipboard: the files from %s (%llu bytes) are more than file-limit, and stay there",
                        side.who.c_str(), static_cast<unsigned long long>(side.files.listBytes));
            if (before != FileListState::Refused && side.files.state == FileListState::Refused)
                logLine("clipboard: the files from %s were refused (a name that may not cross, or a broken list); "
                        "nothing of them is kept", side.who.c_str());
            if (whole == TransferStep::Unchanged) {
                logVerbose("clipboard received: unchanged, the selection here stays");
                if (side.arrived) side.arrived(side);
            } else if (whole == TransferStep::Whole) {
                placeParts(side);
                assemblyClear(side.parts);
                filesPlaced(side.files);
            }
        }
    }
}

void clipContinue(ClipSide& side)
{
    OutgoingTransfer& outgoing = side.outgoing;
    if (!linkUp(side.index, LINK_CLIPBOARD)) return;
    if (fileChunk.empty()) fileChunk.resize(CLIPBOARD_CHUNK_HEADER + CLIPBOARD_CHUNK_DATA);
    // Chunks go until the socket is full: it then says when it can take more.
    while (outgoing.active) {
        if (linkPending(side.index, LINK_CLIPBOARD) >= SEND_AHEAD) {
            if (!linkFlush(side.index, LINK_CLIPBOARD)) return;
            if (linkPending(side.index, LINK_CLIPBOARD) > 0) return;
        }
        if (outgoing.part < outgoing.parts.size()) {
            const OutgoingTransfer::Part& part = outgoing.parts[outgoing.part];
            const size_t size = part.data.size();
            const size_t left = size - outgoing.offset;
            const int32_t n = left < static_cast<size_t>(CLIPBOARD_CHUNK_DATA) ? static_cast<int32_t>(left)
                                                                                : CLIPBOARD_CHUNK_DATA;
            queueChunk(side, outgoing.number, part.format, static_cast<uint32_t>(size), static_cast<uint32_t>(outgoing.offset),
                       part.data.data() + outgoing.offset, n);
            outgoing.offset += static_cast<size_t>(n);
            if (outgoing.offset == size) ++outgoing.part, outgoing.offset = 0;
            continue;
        }
        const int32_t n = nextFileChunk(outgoing.files, outgoing.number, fileChunk.data());
        if (n > 0) {
            linkQueue(side.index, LINK_CLIPBOARD, fileChunk.data(), static_cast<size_t>(n));
            continue;
        }
        // The END counts the parts and the entries; 0 gives the transfer up.
        if (n < 0) logLine("clipboard: a copied file changed or went while it was being sent: nothing of it is kept");
        const uint32_t parts = n == 0 ? static_cast<uint32_t>(outgoing.parts.size() + outgoing.files.items.size()) : 0;
        if (n == 0 && !outgoing.files.items.empty())
            logVerbose("clipboard: %zu files and folders sent", outgoing.files.items.size());
        queueChunk(side, outgoing.number, CLIP_FORMAT_END, parts, 0, nullptr, 0);
        const uint32_t number = outgoing.number;
        freeFiles(outgoing.files);
        outgoing = OutgoingTransfer();
        outgoing.number = number;
    }
    flushClipboard(side);
}

// The selection goes to the partner, unless it still holds what came from
// there, or (to a partner that takes the word) what went there last time:
// the partner has that already, and a copy made there meanwhile is not
// overwritten.
void clipPush(ClipSide& side)
{
    const uint32_t serial = desk().clipboardSerial();
    const bool cameFromThere = side.placedKnown && serial == side.placedSerial && desk().clipboardStillOurs();
    const bool sentAlready = side.sentKnown && serial == side.sentSerial;
    if (cameFromThere || (sentAlready && (side.partnerTakes & CLIP_CAN_UNCHANGED))) {
        if (clipboardOpen(side) && (side.partnerTakes & CLIP_CAN_UNCHANGED)) {
            giveUpOutgoing(side);
            side.outgoing.number = ++side.lastTransfer;
            queueChunk(side, side.outgoing.number, CLIP_FORMAT_UNCHANGED, 0, 0, nullptr, 0);
            flushClipboard(side);
        }
        logVerbose("clipboard unchanged: not sent to %s", side.who.c_str());
        return;
    }
    // A read under way answers for this one too, for the side that asked last.
    const bool under = readingFor != nullptr;
    readingFor = &side;
    if (under) return;
    readSerial = serial;
    // Of each group the first the selection's owner offers: files (as the
    // GNOME file managers put them, else as URIs), a picture, text.
    ClipWanted wanted;
    if ((side.partnerTakes & CLIP_CAN_FILES) && side.fileLimit) wanted.push_back({MIME_GNOME_FILES, MIME_URI_LIST});
    if (side.partnerTakes & CLIP_CAN_PICTURE) wanted.push_back({MIME_PNG, MIME_JPEG, MIME_BMP});
    wanted.push_back({MIME_TEXT});
    deskRequestOffers(wanted, onSelectionRead);
}
