#include "clipboard/dib.h"

#include <cstring>

#include "clipboard/clipboard_buffer.h"

namespace {

constexpr uint32_t BI_RGB = 0, BI_BITFIELDS = 3;
constexpr uint32_t V5_HEADER = 124;
constexpr uint32_t LCS_SRGB = 0x73524742;  // 'sRGB'
constexpr uint32_t LCS_GM_IMAGES = 4;
constexpr size_t FILE_HEADER = 14;

uint32_t get32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint32_t get16(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8);
}

void put32(uint8_t* at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

void put16(uint8_t* at, uint32_t v)
{
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}

// One colour channel of a pixel value, by its mask, as 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(uint32_t m = 0) : mask(m)
    {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1)) ++bits;
    }
    uint8_t of(uint32_t value) const
    {
        if (!mask) return 0;
        const uint32_t v = (value & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
        return static_cast<uint8_t>(v * 255 / ((1u << bits) - 1));
    }
};

struct Layout {
    uint32_t headerSize, bits, compression;
    int32_t width;
    int64_t rows;
    bool topDown;
    int64_t stride;
    uint32_t masksAt;   // offset of the colour masks, 0 when the header holds none
    uint32_t colors;    // palette entries
    size_t paletteAt;
    size_t pixelsAt;    // in a packed DIB
};

bool readLayout(const uint8_t* dib, size_t n, Layout* l)
{
    if (n < 40) return false;
    l->headerSize = get32(dib);
    l->width = static_cast<int32_t>(get32(dib + 4));
    const int32_t height = static_cast<int32_t>(get32(dib + 8));
    l->bits = get16(dib + 14);
    l->compression = get32(dib + 16);
    const uint32_t colorsUsed = get32(dib + 32);
    if (l->headerSize < 40 || l->headerSize > n || l->width <= 0 || height == 0 || height == INT32_MIN) return false;
    if (l->compression != BI_RGB && l->compression != BI_BITFIELDS) return false;  // run-length coded: not read
    if (l->compression == BI_BITFIELDS && l->bits != 16 && l->bits != 32) return false;
    l->topDown = height < 0;
    l->rows = height < 0 ? -static_cast<int64_t>(height) : height;
    l->stride = (static_cast<int64_t>(l->width) * l->bits + 31) / 32 * 4;
    const uint32_t extraMasks = l->compression == BI_BITFIELDS && l->headerSize == 40 ? 12 : 0;
    l->masksAt = l->compression != BI_BITFIELDS ? 0 : 40;
    l->colors = colorsUsed ? colorsUsed : l->bits <= 8 ? (1u << l->bits) : 0;
    l->paletteAt = l->headerSize + extraMasks;
    l->pixelsAt = l->paletteAt + static_cast<size_t>(l->colors) * 4;
    return true;
}

// The pixels of a DIB whose header is at dib and whose pixel rows start at
// pixels (size bytes of them); packedDibSize has checked the header.
bool decode(const uint8_t* dib, const Layout& l, const uint8_t* pixels, Picture* p)
{
    p->width = l.width;
    p->height = static_cast<int32_t>(l.rows);
    p->alpha = false;
    p->rgba.assign(static_cast<size_t>(l.width) * static_cast<size_t>(l.rows) * 4, 0);
    Channel red, green, blue, alpha;
    if (l.compression == BI_BITFIELDS) {
        red = Channel(get32(dib + l.masksAt));
        green = Channel(get32(dib + l.masksAt + 4));
        blue = Channel(get32(dib + l.masksAt + 8));
        if (l.headerSize >= 56) alpha = Channel(get32(dib + 52));
    } else if (l.bits == 16) {
        red = Channel(0x7C00), green = Channel(0x03E0), blue = Channel(0x001F);
    } else if (l.bits == 32) {
        red = Channel(0xFF0000), green = Channel(0xFF00), blue = Channel(0xFF), alpha = Channel(0xFF000000u);
    }
    const uint8_t* palette = dib + l.paletteAt;
    bool anyAlpha = false;
    for (int64_t y = 0; y < l.rows; ++y) {
        const uint8_t* row = pixels + (l.topDown ? y : l.rows - 1 - y) * l.stride;
        uint8_t* out = p->rgba.data() + static_cast<size_t>(y) * static_cast<size_t>(l.width) * 4;
        for (int32_t x = 0; x < l.width; ++x, out += 4) {
            if (l.bits <= 8) {
                const uint32_t perByte = 8 / l.bits;
                const uint32_t byte = row[x / perByte];
                const uint32_t shift = 8 - l.bits * (x % perByte + 1);
                const uint32_t index = (byte >> shift) & ((1u << l.bits) - 1);
                if (index < l.colors) {
                    out[0] = palette[index * 4 + 2], out[1] = palette[index * 4 + 1], out[2] = palette[index * 4];
                }
                out[3] = 255;
            } else if (l.bits == 24) {
                out[0] = row[x * 3 + 2], out[1] = row[x * 3 + 1], out[2] = row[x * 3], out[3] = 255;
            } else {
                const uint32_t v = l.bits == 16 ? get16(row + x * 2) : get32(row + x * 4);
                out[0] = red.of(v), out[1] = green.of(v), out[2] = blue.of(v);
                out[3] = alpha.mask ? alpha.of(v) : 255;
                if (alpha.mask && out[3]) anyAlpha = true;
            }
        }
    }
    if (alpha.mask) {
        // Alpha bytes all zero: the program that copied left them unused.
        for (size_t i = 3; i < p->rgba.size(); i += 4) {
            if (!anyAlpha) p->rgba[i] = 255;
            else if (p->rgba[i] != 255) p->alpha = true;
        }
    }
    return true;
}

}  // namespace

uint64_t dibSizeFor(int64_t width, int64_t height, bool alpha)
{
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return UINT64_MAX;
    const uint64_t stride = alpha ? static_cast<uint64_t>(width) * 4 : (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
    return (alpha ? V5_HEADER : 40) + stride * static_cast<uint64_t>(height);
}

bool pictureFromDib(const uint8_t* dib, size_t n, Picture* picture)
{
    Layout l;
    if (!packedDibSize(dib, n) || !readLayout(dib, n, &l)) return false;
    return decode(dib, l, dib + l.pixelsAt, picture);
}

std::vector<uint8_t> dibFromPicture(const Picture& p, uint32_t* format)
{
    const bool alpha = p.alpha;
    *format = alpha ? CLIP_FORMAT_DIBV5 : CLIP_FORMAT_DIB;
    const uint64_t size = dibSizeFor(p.width, p.height, alpha);
    if (size == UINT64_MAX || p.rgba.size() != static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 4)
        return {};
    std::vector<uint8_t> dib(static_cast<size_t>(size), 0);
    const uint32_t header = alpha ? V5_HEADER : 40;
    const size_t stride = alpha ? static_cast<size_t>(p.width) * 4 : (static_cast<size_t>(p.width) * 3 + 3) / 4 * 4;
    uint8_t* h = dib.data();
    put32(h, header);
    put32(h + 4, static_cast<uint32_t>(p.width));
    put32(h + 8, static_cast<uint32_t>(p.height));  // bottom-up
    put16(h + 12, 1);
    put16(h + 14, alpha ? 32 : 24);
    put32(h + 16, alpha ? BI_BITFIELDS : BI_RGB);
    put32(h + 20, static_cast<uint32_t>(stride * static_cast<size_t>(p.height)));
    if (alpha) {
        put32(h + 40, 0x00FF0000), put32(h + 44, 0x0000FF00), put32(h + 48, 0x000000FF), put32(h + 52, 0xFF000000u);
        put32(h + 56, LCS_SRGB);
        put32(h + 108, LCS_GM_IMAGES);
    }
    for (int32_t y = 0; y < p.height; ++y) {
        const uint8_t* in = p.rgba.data() + static_cast<size_t>(y) * static_cast<size_t>(p.width) * 4;
        uint8_t* out = dib.data() + header + static_cast<size_t>(p.height - 1 - y) * stride;
        for (int32_t x = 0; x < p.width; ++x, in += 4) {
            *out++ = in[2], *out++ = in[1], *out++ = in[0];
            if (alpha) *out++ = in[3];
        }
    }
    return dib;
}

bool pictureFromBmp(const uint8_t* bmp, size_t n, Picture* picture)
{
    if (n < FILE_HEADER + 40 || bmp[0] != 'B' || bmp[1] != 'M') return false;
    const uint8_t* dib = bmp + FILE_HEADER;
    const size_t dibBytes = n - FILE_HEADER;
    Layout l;
    if (!readLayout(dib, dibBytes, &l)) return false;
    const uint32_t pixelsAt = get32(bmp + 10);
    if (pixelsAt == FILE_HEADER + l.pixelsAt || pixelsAt < FILE_HEADER + l.pixelsAt || pixelsAt > n)
        return pictureFromDib(dib, dibBytes, picture);
    // Pixels further on than the palette's end: the packed form, header then pixels.
    std::vector<uint8_t> packed(dib, dib + l.pixelsAt);
    packed.insert(packed.end(), bmp + pixelsAt, bmp + n);
    return pictureFromDib(packed.data(), packed.size(), picture);
}

std::vector<uint8_t> bmpFromPicture(const Picture& picture)
{
    uint32_t format = 0;
    std::vector<uint8_t> dib = dibFromPicture(picture, &format);
    if (dib.empty() || dib.size() > UINT32_MAX - FILE_HEADER) return {};
    std::vector<uint8_t> bmp(FILE_HEADER, 0);
    bmp[0] = 'B', bmp[1] = 'M';
    put32(bmp.data() + 2, static_cast<uint32_t>(FILE_HEADER + dib.size()));
    put32(bmp.data() + 10, static_cast<uint32_t>(FILE_HEADER + get32(dib.data())));
    bmp.insert(bmp.end(), dib.begin(), dib.end());
    return bmp;
}
