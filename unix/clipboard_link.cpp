// The clipboard connection of the Linux Slave: text from the Master becomes
// the X CLIPBOARD selection, and the selection's text goes back when control
// leaves. Plain transfers carry the Master's code page (Windows-1252 is
// taken), the richer ones UTF-8 in chunks, to a Master that announced them.
// X programs get Unix line ends, the Master Windows ones.
#include <cstring>

#include "clipboard/text_convert.h"
#include "unix/log.h"
#include "unix/slave.h"
#include "unix/desk.h"

namespace {

// The outgoing transfer is handed to the connection a chunk at a time while
// less than this waits there, so a newer push can take over at a chunk's end.
constexpr size_t SEND_AHEAD = 1024 * 1024;

// Files are not taken here (none are announced): a list that comes all the
// same is refused before anything is written.
class NoFiles final : public FileSink {
public:
    bool makeFolder(const char*) override { return false; }
    bool openFile(const char*, uint64_t) override { return false; }
    bool writeFile(const uint8_t*, int32_t) override { return false; }
    bool closeFile() override { return false; }
    void discard() override {}
    void progress(uint64_t, uint64_t) override {}
};
NoFiles noFiles;

// Whether the clipboard connection is there to take bytes (with a key they
// wait for the proof).
bool clipboardOpen()
{
    return partnerOpen(LINK_CLIPBOARD);
}

void own(const std::string& utf8, const char* how)
{
    deskOwnText(utf8.data(), static_cast<int32_t>(utf8.size()));
    desk().flush();
    logVerbose("clipboard received: %zu bytes of text (%s)", utf8.size(), how);
}

void placeParts()
{
    for (int32_t i = 0; i < slave.parts.count; ++i) {
        const ClipboardPart& part = slave.parts.parts[i];
        if (part.format != CLIP_FORMAT_TEXT || !clipboardPartWhole(part)) continue;
        const char* text = reinterpret_cast<const char*>(part.data);
        own(unixLineEnds(sanitizedUtf8(text ? text : "", part.total)), "in chunks");
        return;
    }
    logVerbose("clipboard received: nothing this side takes");
}

void queueChunk(uint32_t format, uint32_t total, uint32_t offset, const char* data, int32_t n)
{
    uint8_t header[CLIPBOARD_CHUNK_HEADER];
    frameClipboardChunkHeader(header, slave.outgoing.number, format, total, offset, n);
    partnerQueue(LINK_CLIPBOARD, header, sizeof header);
    if (n > 0) partnerQueue(LINK_CLIPBOARD, data, static_cast<size_t>(n));
}

void flushClipboard()
{
    partnerFlush(LINK_CLIPBOARD);  // a failed send ends the connection as a close would
}

// The selection's text, read when control left.
void onSelectionRead(const char* utf8, int32_t n)
{
    slave.readingClipboard = false;
    if (!utf8 || n <= 0) {
        logVerbose("clipboard: no text here to send");
        return;
    }
    if (!clipboardOpen()) {
        logVerbose("clipboard: no clipboard connection, the text stays here");
        return;
    }
    const std::string text = windowsLineEnds(sanitizedUtf8(utf8, static_cast<size_t>(n)));
    if (slave.partnerTakes & CLIP_CAN_TEXT) {
        if (text.size() > CLIPBOARD_MAX_PART) {
            logLine("clipboard text of %zu bytes is longer than the Master takes: not sent", text.size());
            return;
        }
        // A transfer still going out gives way, at the end of its last chunk.
        OutgoingText& outgoing = slave.outgoing;
        if (outgoing.active) queueChunk(CLIP_FORMAT_END, 0, 0, nullptr, 0);
        outgoing.text = text;
        outgoing.number = ++slave.lastTransfer;
        outgoing.offset = 0;
        outgoing.active = true;
        slave.sentSerial = slave.readSerial;
        slave.sentKnown = true;
        logVerbose("clipboard sent: %zu bytes of text (in chunks)", text.size());
        continueClipboardSend();
        return;
    }
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

}  // namespace

void clipboardConnectionUp()
{
    // Nothing half received or half sent carries over to a new connection.
    clipboardReset(slave.incoming);
    assemblyClear(slave.parts);
    dropFiles(slave.files, noFiles);
    slave.outgoing = OutgoingText();
    slave.sentKnown = false;  // what the partner holds is not known across a new connection
    if (clipboardOpen()) logVerbose("clipboard connection up");
}

void onClipboardBytes(const uint8_t* data, size_t size)
{
    ClipboardBuffer& buffer = slave.incoming;
    if (!buffer.allocated && !clipboardReset(buffer)) return;
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
                own(unixLineEnds(utf8FromCp1252(text, static_cast<size_t>(clipboardTextLength(buffer)))), "plain");
                continue;
            }
            const TransferStep whole = takeChunk(slave.parts, slave.files, noFiles, clipboardChunk(buffer));
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
    OutgoingText& outgoing = slave.outgoing;
    if (!partnerUp(LINK_CLIPBOARD)) return;
    // Chunks go until the socket is full: it then says when it can take more.
    while (outgoing.active) {
        if (partnerPending(LINK_CLIPBOARD) >= SEND_AHEAD) {
            if (!partnerFlush(LINK_CLIPBOARD)) return;
            if (partnerPending(LINK_CLIPBOARD) > 0) return;
        }
        const size_t size = outgoing.text.size();
        const size_t left = size - outgoing.offset;
        const int32_t n = left < static_cast<size_t>(CLIPBOARD_CHUNK_DATA) ? static_cast<int32_t>(left)
                                                                            : CLIPBOARD_CHUNK_DATA;
        queueChunk(CLIP_FORMAT_TEXT, static_cast<uint32_t>(size), static_cast<uint32_t>(outgoing.offset),
                   outgoing.text.data() + outgoing.offset, n);
        outgoing.offset += static_cast<size_t>(n);
        if (outgoing.offset == size) {
            queueChunk(CLIP_FORMAT_END, 1, 0, nullptr, 0);
            outgoing = OutgoingText{std::string(), outgoing.number, 0, false};
        }
    }
    flushClipboard();
}

// Control left: the selection's text goes to the Master, unless the
// selection still holds what the Master sent, or (to a Master that takes the
// word) what went to it last time: the Master has that already, and a copy
// made there meanwhile is not overwritten.
void pushClipboardBack()
{
    const bool sentAlready = slave.sentKnown && desk().clipboardSerial() == slave.sentSerial;
    if (desk().clipboardStillOurs() || (sentAlready && (slave.partnerTakes & CLIP_CAN_UNCHANGED))) {
        if (clipboardOpen() && (slave.partnerTakes & CLIP_CAN_UNCHANGED)) {
            OutgoingText& outgoing = slave.outgoing;
            if (outgoing.active) queueChunk(CLIP_FORMAT_END, 0, 0, nullptr, 0);
            outgoing = OutgoingText();
            outgoing.number = ++slave.lastTransfer;
            queueChunk(CLIP_FORMAT_UNCHANGED, 0, 0, nullptr, 0);
            flushClipboard();
        }
        logVerbose("clipboard unchanged: not sent back");
        return;
    }
    if (slave.readingClipboard) return;  // the read under way answers for this leave too
    slave.readingClipboard = true;
    slave.readSerial = desk().clipboardSerial();
    deskRequestText(onSelectionRead);
}
