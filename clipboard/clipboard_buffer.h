// The clipboard connection's framing and the buffers it is assembled and
// collected in. A transfer on the wire is a 32-bit little-endian length (the
// text bytes plus one), the CF_TEXT bytes, and one NUL; transfers follow one
// another on the stream. No <windows.h>: this builds natively for the
// sanitizers and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t CLIPBOARD_BUFFER_SIZE = 5000000;
// The longest text that fits: its length field is MAX + 1, the transfer
// CLIPBOARD_BUFFER_SIZE bytes in all.
constexpr int32_t CLIPBOARD_MAX_TEXT = CLIPBOARD_BUFFER_SIZE - 5;

// Incoming text is collected here, transfer by transfer.
struct ClipboardBuffer {
    uint8_t* storage = nullptr;   // CLIPBOARD_BUFFER_SIZE bytes once allocated
    int32_t allocated = 0;
    int32_t fillLength = 0;       // bytes held, from the start of storage
    int32_t start = 0;            // where the transfer being received begins
    uint32_t expectedLength = 0;  // length announced by the transfer being received
    int32_t lengthKnown = 0;      // expectedLength has been taken from four bytes in hand
    uint32_t skipRemaining = 0;   // bytes still to pass over of a transfer that cannot fit
    int32_t dirtyLength = 0;      // bytes of storage that may be non-zero
    int32_t isChunk = 0;          // what is being received is a chunk, not a plain transfer
};

// Outgoing text waits here until the socket has taken its last byte.
struct ClipboardOutbox {
    uint8_t* storage = nullptr;   // CLIPBOARD_BUFFER_SIZE bytes once allocated
    int32_t length = 0;           // bytes of the transfer loaded, 0 when none
    int32_t sent = 0;             // bytes of it the socket has taken
};

// Allocates the storage on first use (zero-filled), else zeroes what was
// used; empties the buffer. Returns false when the storage cannot be had.
bool clipboardReset(ClipboardBuffer& buffer);
bool clipboardOutboxReset(ClipboardOutbox& outbox);

// Frames text of n bytes (no NUL among them needed) into out, which holds
// CLIPBOARD_BUFFER_SIZE bytes. Returns the transfer's size, or 0 when the text
// is longer than CLIPBOARD_MAX_TEXT and nothing was written.
int32_t frameClipboardText(const char* text, size_t n, uint8_t* out);

// Where the next read may write, and how much room is left there. Moves what
// is held of the transfer being received to the start of the storage first.
uint8_t* clipboardSpace(ClipboardBuffer& buffer);
int32_t clipboardRoom(const ClipboardBuffer& buffer);

enum class ClipboardStep {
    NeedMore,  // no transfer is complete yet
    Complete,  // a transfer is whole: its text is clipboardText(), clipboardTextLength() bytes
    Chunk,     // a chunk of a richer transfer is whole: clipboardChunk()
};

// Counts n bytes that a read wrote at clipboardSpace (n at most clipboardRoom)
// and says whether a transfer (or a chunk) is now complete. A transfer whose length can
// never fit is passed over byte for byte, so the stream stays in step.
ClipboardStep clipboardCommit(ClipboardBuffer& buffer, int32_t n);

// The completed transfer's text, NUL-terminated within its length.
const char* clipboardText(const ClipboardBuffer& buffer);
int32_t clipboardTextLength(const ClipboardBuffer& buffer);  // bytes up to the NUL

// Drops the completed transfer or chunk; bytes that followed it in the same read stay
// as the start of the next. Returns Complete when they already hold a whole
// transfer.
ClipboardStep clipboardConsume(ClipboardBuffer& buffer);

// ---- The richer transfers
//
// Once both sides have announced them (PKT_CLIPBOARD_CAPS on the control
// connection), clipboard contents go as chunks on the same stream. A chunk
// opens with a word that no plain transfer can carry as its length, so one
// receiver reads both kinds:
//
//   offset 0   4  CLIPBOARD_CHUNK_MAGIC, the bytes "SRXC"
//   offset 4   4  transfer number: one more for each transfer a side sends
//   offset 8   4  format of the part (CLIP_FORMAT_*); CLIP_FORMAT_END closes
//                 the transfer, with the number of its parts in `total`
//                 (0: the transfer was given up, nothing is stored)
//   offset 12  4  total: the part's size in bytes
//   offset 16  4  where this chunk's data lies within the part
//   offset 20  4  n: bytes of data that follow
//   offset 24  n  the data
//
// All little-endian. A part's chunks come in order, back to back; the parts
// of one transfer follow one another, and its END last. A transfer is put
// on the clipboard whole, all its parts at once, or not at all.
constexpr uint32_t CLIPBOARD_CHUNK_MAGIC = 0x43585253;  // "SRXC"
constexpr int32_t CLIPBOARD_CHUNK_HEADER = 24;
// The most data a sender puts in one chunk: the next crossing's transfer
// can take over at the end of any chunk.
constexpr int32_t CLIPBOARD_CHUNK_DATA = 256 * 1024;
// The largest part either side sends or takes: a 3840 x 2160 picture at 32
// bits is 33,177,640 bytes, a 5120 x 2880 one 58,982,440.
constexpr uint32_t CLIPBOARD_MAX_PART = 64u * 1024 * 1024;
constexpr int32_t CLIPBOARD_MAX_PARTS = 4;

constexpr uint32_t CLIP_FORMAT_END = 0;
constexpr uint32_t CLIP_FORMAT_TEXT = 1;   // UTF-8, no NUL
constexpr uint32_t CLIP_FORMAT_DIB = 2;    // a packed DIB as CF_DIB holds it
constexpr uint32_t CLIP_FORMAT_DIBV5 = 3;  // a packed DIB as CF_DIBV5 holds it
// A transfer of this one chunk (total 0, no data) says the sender's clipboard
// holds what it last placed from its partner, or last sent it: the partner
// keeps its own clipboard. Sent only to a partner that announced
// CLIP_CAN_UNCHANGED.
constexpr uint32_t CLIP_FORMAT_UNCHANGED = 4;

// The announcement: x of PKT_CLIPBOARD_CAPS is the version, y what this side
// takes in chunks.
constexpr int32_t CLIPBOARD_EXTENSION_VERSION = 1;
constexpr int32_t CLIP_CAN_TEXT = 1;
constexpr int32_t CLIP_CAN_PICTURE = 2;
constexpr int32_t CLIP_CAN_UNCHANGED = 4;

// Writes one chunk of n data bytes to out; returns its size, header included.
// The header alone, for data already in place after it.
void frameClipboardChunkHeader(uint8_t* out, uint32_t transfer, uint32_t format, uint32_t total, uint32_t offset,
                               int32_t n);
int32_t frameClipboardChunk(uint8_t* out, uint32_t transfer, uint32_t format, uint32_t total, uint32_t offset,
                            const uint8_t* data, int32_t n);

// The chunk that clipboardCommit or clipboardConsume has just completed
// (ClipboardStep::Chunk); its data stays in the buffer until consumed.
struct ClipboardChunk {
    uint32_t transfer = 0, format = 0, total = 0, offset = 0;
    int32_t length = 0;
    const uint8_t* data = nullptr;
};
ClipboardChunk clipboardChunk(const ClipboardBuffer& buffer);

// One part of an incoming transfer, collected in storage of its own size.
struct ClipboardPart {
    uint32_t format = 0;
    uint32_t total = 0;
    uint32_t filled = 0;
    uint8_t* data = nullptr;
    int32_t refused = 0;  // too large, of a format not known here, or no memory: left out
    int32_t broken = 0;   // a chunk out of order or past its end: the transfer is not stored
};

// The transfer being received. Its parts' storage lives only as long as it.
struct ClipboardAssembly {
    uint32_t transfer = 0;
    int32_t active = 0;
    int32_t count = 0;
    ClipboardPart parts[CLIPBOARD_MAX_PARTS];
};

// Takes one chunk. A chunk of another transfer number drops what was held
// of the one before. True when an END made the transfer whole: the caller
// stores each part for which clipboardPartWhole holds, then assemblyClear.
bool assembleChunk(ClipboardAssembly& assembly, const ClipboardChunk& chunk);
bool clipboardPartWhole(const ClipboardPart& part);
void assemblyClear(ClipboardAssembly& assembly);

// The size of the packed DIB at dib (header, masks, palette, pixels and any
// profile) as its header tells it, or 0 when the header is not one a program
// can read safely, the picture is larger than CLIPBOARD_MAX_PART, or the n
// bytes in hand do not hold it all.
uint32_t packedDibSize(const uint8_t* dib, size_t n);
