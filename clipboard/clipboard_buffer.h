// The one buffer of the clipboard connection: outgoing text is assembled in
// it, incoming text collected in it. No <windows.h>.
#pragma once

#include <cstdint>

constexpr int32_t CLIPBOARD_BUFFER_SIZE = 5000000;

struct ClipboardBuffer {
    uint8_t* storage = nullptr;   // CLIPBOARD_BUFFER_SIZE bytes once allocated
    int32_t allocated = 0;
    int32_t fillLength = 0;       // bytes held, from the start of storage
    uint32_t expectedLength = 0;  // length announced by the transfer being received
};
