// The clipboard connection of the Linux Slave: what comes from the Master
// (text, a picture, files and folders) becomes the offers of the CLIPBOARD
// selection, and what the selection holds goes back when control leaves.
// Plain transfers carry the Master's code page (Windows-1252 is taken), the
// richer ones UTF-8 text, a picture as the DIB Windows programs paste, and
// files as the partner's walk of them, in chunks, to a Master that announced
// them. X programs get Unix line ends, PNG (or BMP) pictures and file URIs;
// the Master gets Windows line ends. The conversions live in
// clipboard/dib.*, unix/clip_pictures.* and unix/clip_files.*.
#include <cstring>
#include <memory>

#include "clipboard/dib.h"
#include "clipboard/file_names.h"
#include "clipboard/text_convert.h"
#include "unix/clip_offers.h"
#include "unix/clip_pictures.h"
#include "unix/log.h"
#include "unix/slave.h"
#include "unix/x_side.h"

namespace {

// The outgoing transfer is handed to the connection a chunk at a time while
// less than this waits there, so a newer push can take over at a chunk's end.
constexpr size_t SEND_AHEAD = 1024 * 1024;

// One chunk of a file, read straight behind its header.
std::vector<uint8_t> fileChunk;

// Whether the clipboard connection is there to take bytes (with a key they
// wait for the proof).
bool clipboardOpen()
{
    return partnerOpen(LINK_CLIPBOARD);
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
bool offerPicture(ClipOffers& offers, const ClipboardPart& part, std::string& said)
{
    auto picture = std::make_shared<Picture>();
    if (!pictureFromDib(part.data, part.total, picture.get())) {
        logLine("clipboard: the Master's picture is of a kind this side does not read, and is left out");
        return false;
    }
    offers.addProduced(MIME_PNG, [picture]() -> ClipBytes {
        std::string png = pngFromPicture(*picture);
        if (png.empty()) {
            logLine("clipboard: no PNG could be made of the Master's picture");
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

void placeParts()
{
    auto offers = std::make_shared<ClipOffers>();
    std::string said;
    const ClipboardPart* picture = nullptr;
    for (int32_t i = 0; i < slave.parts.count; ++i) {
        const ClipboardPart& part = slave.parts.parts[i];
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
    if (picture) offerPicture(*offers, *picture, said);
    if (slave.files.state == FileListState::Whole) {
        const std::vector<std::string> paths = slave.disk.place();
        if (!paths.empty()) {
            offers->add(MIME_URI_LIST, uriListOf(paths));
            offers->add(MIME_GNOME_FILES, gnomeCopiedOf(paths));
            const std::string folder = paths[0].substr(0, paths[0].rfind('/'));
            logLine("files from the Master: %d files and folders, %llu bytes, ready to paste from %s",
                    slave.files.entries, static_cast<unsigned long long>(slave.files.listBytes), folder.c_str());
            addSaid(said, std::to_string(slave.files.entries) + " files and folders");
        }
    }
    if (offers->empty()) {
        logVerbose("clipboard received: nothing this side takes");
        return;
    }
    xOwnClipboard(offers);
    xFlush();
    logVerbose("clipboard received: %s (in chunks)", said.c_str());
}

void queueChunk(uint32_t number, uint32_t format, uint32_t total, uint32_t offset, const char* data, int32_t n)
{
    uint8_t header[CLIPBOARD_CHUNK_HEADER];
    frameClipboardChunkHeader(header, number, format, total, offset, n);
    partnerQueue(LINK_CLIPBOARD, header, sizeof header);
    if (n > 0) partnerQueue(LINK_CLIPBOARD, data, static_cast<size_t>(n));
}

void flushClipboard()
{
    partnerFlush(LINK_CLIPBOARD);  // a failed send ends the connection as a close would
}

// A transfer still going out gives way, at the end of its last chunk: an END
// that counts no parts tells the Master to drop what it holds of it.
void giveUpOutgoing()
{
    OutgoingTransfer& outgoing = slave.outgoing;
    if (outgoing.active) queueChunk(outgoing.number, CLIP_FORMAT_END, 0, 0, nullptr, 0);
    freeFiles(outgoing.files);
    outgoing = OutgoingTransfer();
}

// The plain transfer, to a Master that announced nothing: text alone, in its code page.
void sendPlain(const std::string& text)
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
    partnerQueue(LINK_CLIPBOARD, prefix, sizeof prefix);
    partnerQueue(LINK_CLIPBOARD, plain.c_str(), plain.size() + 1);
    logVerbose("clipboard sent: %zu bytes of text (plain)", plain.size());
    flushClipboard();
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
            logLine("clipboard: the %s stays here: more than the Master takes (64 MB)", pictureSize(picture).c_str());
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
    slave.readingClipboard = false;
    if (offers.empty()) {
        logVerbose("clipboard: nothing here to send");
        return;
    }
    if (!clipboardOpen()) {
        logVerbose("clipboard: no clipboard connection, the clipboard stays here");
        return;
    }
    const ClipBytes utf8 = offers.get(MIME_TEXT);
    const std::string text = utf8 ? windowsLineEnds(sanitizedUtf8(utf8->data(), utf8->size())) : std::string();
    if (!(slave.partnerTakes & CLIP_CAN_TEXT)) {
        if (text.empty()) logVerbose("clipboard: no text here to send");
        else sendPlain(text);
        return;
    }
    OutgoingTransfer transfer;
    std::string said;
    if (!text.empty() && text.size() > CLIPBOARD_MAX_PART) {
        logLine("clipboard text of %zu bytes is longer than the Master takes: not sent", text.size());
    } else if (!text.empty()) {
        transfer.parts.push_back({CLIP_FORMAT_TEXT, text});
        addSaid(said, std::to_string(text.size()) + " bytes of text");
    }
    if (slave.partnerTakes & CLIP_CAN_PICTURE) addPicture(offers, transfer, said);
    if ((slave.partnerTakes & CLIP_CAN_FILES) && slave.fileLimit) {
        std::vector<std::string> paths;
        if (const ClipBytes list = offers.get(MIME_GNOME_FILES)) paths = pathsFromGnomeCopied(*list, nullptr);
        else if (const ClipBytes uris = offers.get(MIME_URI_LIST)) paths = pathsFromUriList(*uris);
        if (!paths.empty() && loadFiles(transfer.files, paths, slave.fileLimit))
            addSaid(said, std::to_string(transfer.files.items.size()) + " files and folders, " +
                              std::to_string(transfer.files.listBytes) + " bytes");
    }
    if (transfer.parts.empty() && transfer.files.items.empty()) {
        logVerbose("clipboard: nothing here the Master takes");
        return;
    }
    giveUpOutgoing();
    slave.outgoing = std::move(transfer);
    slave.outgoing.number = ++slave.lastTransfer;
    slave.outgoing.active = true;
    slave.sentSerial = slave.readSerial;
    slave.sentKnown = true;
    logVerbose("clipboard sent: %s (in chunks)", said.c_str());
    continueClipboardSend();
}

}  // namespace

int32_t slaveTakesClipboard()
{
    // A limit of 0 turns files off: none are asked for, and none are sent.
    return slave.fileLimit ? SLAVE_TAKES_CLIPBOARD : SLAVE_TAKES_CLIPBOARD & ~CLIP_CAN_FILES;
}

void clipboardConnectionUp()
{
    // Nothing half received or half sent carries over to a new connection:
    // a list cut off is never offered, and its folder goes.
    clipboardReset(slave.incoming);
    assemblyClear(slave.parts);
    dropFiles(slave.files, slave.disk);
    freeFiles(slave.outgoing.files);
    slave.outgoing = OutgoingTransfer();
    slave.sentKnown = false;  // what the partner holds is not known across a new connection
    if (clipboardOpen()) logVerbose("clipboard connection up");
}

void clipboardConnectionEnded()
{
    if (slave.files.state == FileListState::Receiving)
        logLine("clipboard: the connection ended in the middle of the Master's files: nothing of them is kept");
    assemblyClear(slave.parts);
    dropFiles(slave.files, slave.disk);
    freeFiles(slave.outgoing.files);
    slave.outgoing = OutgoingTransfer();
}

void onClipboardBytes(const uint8_t* data, size_t size)
{
    ClipboardBuffer& buffer = slave.incoming;
    if (!buffer.allocated && !clipboardReset(buffer)) return;
    slave.disk.watch(&slave.files);
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
                xOwnClipboard(utf8.data(), static_cast<int32_t>(utf8.size()));
                xFlush();
                logVerbose("clipboard received: %zu bytes of text (plain)", utf8.size());
                continue;
            }
            slave.files.limit = slave.fileLimit;
            const FileListState before = slave.files.state;
            const TransferStep whole = takeChunk(slave.parts, slave.files, slave.disk, clipboardChunk(buffer));
            if (before == FileListState::Idle && slave.files.state == FileListState::Skipped)
                logLine("clipboard: the Master's files (%llu bytes) are more than file-limit, and stay there",
                        static_cast<unsigned long long>(slave.files.listBytes));
            if (before != FileListState::Refused && slave.files.state == FileListState::Refused)
                logLine("clipboard: the Master's files were refused (a name that may not cross, or a broken list); "
                        "nothing of them is kept");
            if (whole == TransferStep::Unchanged) {
                logVerbose("clipboard received: unchanged, the selection here stays");
            } else if (whole == TransferStep::Whole) {
                placeParts();
                assemblyClear(slave.parts);
                filesPlaced(slave.files);
            }
        }
    }
}

void continueClipboardSend()
{
    OutgoingTransfer& outgoing = slave.outgoing;
    if (!partnerUp(LINK_CLIPBOARD)) return;
    if (fileChunk.empty()) fileChunk.resize(CLIPBOARD_CHUNK_HEADER + CLIPBOARD_CHUNK_DATA);
    // Chunks go until the socket is full: it then says when it can take more.
    while (outgoing.active) {
        if (partnerPending(LINK_CLIPBOARD) >= SEND_AHEAD) {
            if (!partnerFlush(LINK_CLIPBOARD)) return;
            if (partnerPending(LINK_CLIPBOARD) > 0) return;
        }
        if (outgoing.part < outgoing.parts.size()) {
            const OutgoingTransfer::Part& part = outgoing.parts[outgoing.part];
            const size_t size = part.data.size();
            const size_t left = size - outgoing.offset;
            const int32_t n = left < static_cast<size_t>(CLIPBOARD_CHUNK_DATA) ? static_cast<int32_t>(left)
                                                                                : CLIPBOARD_CHUNK_DATA;
            queueChunk(outgoing.number, part.format, static_cast<uint32_t>(size), static_cast<uint32_t>(outgoing.offset),
                       part.data.data() + outgoing.offset, n);
            outgoing.offset += static_cast<size_t>(n);
            if (outgoing.offset == size) ++outgoing.part, outgoing.offset = 0;
            continue;
        }
        const int32_t n = nextFileChunk(outgoing.files, outgoing.number, fileChunk.data());
        if (n > 0) {
            partnerQueue(LINK_CLIPBOARD, fileChunk.data(), static_cast<size_t>(n));
            continue;
        }
        // The END counts the parts and the entries; 0 gives the transfer up.
        if (n < 0) logLine("clipboard: a copied file changed or went while it was being sent: nothing of it is kept");
        const uint32_t parts = n == 0 ? static_cast<uint32_t>(outgoing.parts.size() + outgoing.files.items.size()) : 0;
        if (n == 0 && !outgoing.files.items.empty())
            logVerbose("clipboard: %zu files and folders sent", outgoing.files.items.size());
        queueChunk(outgoing.number, CLIP_FORMAT_END, parts, 0, nullptr, 0);
        const uint32_t number = outgoing.number;
        freeFiles(outgoing.files);
        outgoing = OutgoingTransfer();
        outgoing.number = number;
    }
    flushClipboard();
}

// Control left: the selection goes to the Master, unless it still holds
// what the Master sent, or (to a Master that takes the word) what went to it
// last time: the Master has that already, and a copy made there meanwhile is
// not overwritten.
void pushClipboardBack()
{
    const bool sentAlready = slave.sentKnown && xClipboardSerial() == slave.sentSerial;
    if (xClipboardStillOurs() || (sentAlready && (slave.partnerTakes & CLIP_CAN_UNCHANGED))) {
        if (clipboardOpen() && (slave.partnerTakes & CLIP_CAN_UNCHANGED)) {
            giveUpOutgoing();
            slave.outgoing.number = ++slave.lastTransfer;
            queueChunk(slave.outgoing.number, CLIP_FORMAT_UNCHANGED, 0, 0, nullptr, 0);
            flushClipboard();
        }
        logVerbose("clipboard unchanged: not sent back");
        return;
    }
    if (slave.readingClipboard) return;  // the read under way answers for this leave too
    slave.readingClipboard = true;
    slave.readSerial = xClipboardSerial();
    // Of each group the first the selection's owner offers: files (as the
    // GNOME file managers put them, else as URIs), a picture, text.
    ClipWanted wanted;
    if ((slave.partnerTakes & CLIP_CAN_FILES) && slave.fileLimit) wanted.push_back({MIME_GNOME_FILES, MIME_URI_LIST});
    if (slave.partnerTakes & CLIP_CAN_PICTURE) wanted.push_back({MIME_PNG, MIME_JPEG, MIME_BMP});
    wanted.push_back({MIME_TEXT});
    xRequestClipboardOffers(wanted, onSelectionRead);
}
