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
};

// Counts n bytes that a read wrote at clipboardSpace (n at most clipboardRoom)
// and says whether a transfer is now complete. A transfer whose length can
// never fit is passed over byte for byte, so the stream stays in step.
ClipboardStep clipboardCommit(ClipboardBuffer& buffer, int32_t n);

// The completed transfer's text, NUL-terminated within its length.
const char* clipboardText(const ClipboardBuffer& buffer);
int32_t clipboardTextLength(const ClipboardBuffer& buffer);  // bytes up to the NUL

// Drops the completed transfer; bytes that followed it in the same read stay
// as the start of the next. Returns Complete when they already hold a whole
// transfer.
ClipboardStep clipboardConsume(ClipboardBuffer& buffer);
