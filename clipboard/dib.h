// Pictures between the Windows clipboard's packed DIB (CF_DIB, CF_DIBV5, and
// a BMP file, which is a DIB behind a 14-byte file header) and plain pixels,
// for a side whose programs trade pictures as PNG or JPEG (the Linux
// program's codecs are in unix/clip_pictures.*). No <windows.h>: built and
// tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Pixels as 8-bit R, G, B, A, the top row first; alpha is straight, not
// premultiplied. `alpha` says whether any pixel is less than opaque.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    bool alpha = false;
    std::vector<uint8_t> rgba;  // width * height * 4 bytes
};

// The size of the packed DIB dibFromPicture makes of a picture this large,
// 64-bit so a partner's or a file's dimensions cannot overflow it.
uint64_t dibSizeFor(int64_t width, int64_t height, bool alpha);

// Reads a packed DIB: 1, 4, 8 (with their palette), 16, 24 and 32 bits,
// BI_RGB or BI_BITFIELDS, bottom-up or top-down. A 32-bit picture whose
// alpha bytes are all zero is opaque, as Windows programs mean it; one with
// any other alpha keeps it. False for what packedDibSize refuses and for
// run-length coded pixels.
bool pictureFromDib(const uint8_t* dib, size_t n, Picture* picture);

// The packed DIB Windows programs paste: for an opaque picture a 24-bit
// BI_RGB one (CLIP_FORMAT_DIB), for one with alpha a version 5 header with
// 32 bits and an alpha mask (CLIP_FORMAT_DIBV5); bottom-up, as Windows keeps
// them. *format says which.
std::vector<uint8_t> dibFromPicture(const Picture& picture, uint32_t* format);

// A BMP file: "BM", its size, where its pixels start, then a DIB.
bool pictureFromBmp(const uint8_t* bmp, size_t n, Picture* picture);
std::vector<uint8_t> bmpFromPicture(const Picture& picture);
