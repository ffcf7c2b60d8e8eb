// The picture conversions between the Windows side's DIB and what Linux
// programs paste: DIB <-> pixels <-> PNG (libpng), JPEG (libjpeg-turbo) and
// BMP, pixel for pixel; 24 and 32 bits, with and without alpha, bottom-up and
// top-down, odd widths whose rows end in padding.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "clipboard/clipboard_buffer.h"
#include "clipboard/dib.h"
#include "unix/clip_pictures.h"

namespace {

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// A picture whose every pixel differs from its neighbours; alpha 255, or
// varied when `alpha`.
Picture pattern(int32_t width, int32_t height, bool alpha)
{
    Picture p;
    p.width = width, p.height = height, p.alpha = alpha;
    p.rgba.resize(static_cast<size_t>(width) * height * 4);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* px = &p.rgba[(static_cast<size_t>(y) * width + x) * 4];
            px[0] = static_cast<uint8_t>(x * 7 + y), px[1] = static_cast<uint8_t>(y * 13 + x * 3);
            px[2] = static_cast<uint8_t>(x ^ y), px[3] = alpha ? static_cast<uint8_t>((x + y * 5) % 256) : 255;
        }
    return p;
}

// A packed DIB as a Windows program places one: bits 24 or 32, BI_RGB,
// bottom-up (height > 0) or top-down; 32-bit pixels carry `alphaByte(x, y)`.
template <typename Alpha>
std::vector<uint8_t> windowsDib(const Picture& p, int bits, bool topDown, Alpha alphaByte)
{
    const size_t stride = (static_cast<size_t>(p.width) * bits + 31) / 32 * 4;
    std::vector<uint8_t> dib(40 + stride * p.height, 0xEE);  // padding that is not zero
    std::memset(dib.data(), 0, 40);
    put32(dib, 0, 40), put32(dib, 4, p.width), put32(dib, 8, topDown ? -p.height : p.height);
    dib[12] = 1, dib[14] = static_cast<uint8_t>(bits);
    put32(dib, 20, static_cast<uint32_t>(stride * p.height));
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* row = &dib[40 + (topDown ? y : p.height - 1 - y) * stride];
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t* px = &p.rgba[(static_cast<size_t>(y) * p.width + x) * 4];
            uint8_t* out = row + x * bits / 8;
            out[0] = px[2], out[1] = px[1], out[2] = px[0];
            if (bits == 32) out[3] = alphaByte(x, y);
        }
    }
    return dib;
}

void expectSame(const Picture& a, const Picture& b)
{
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    EXPECT_EQ(a.alpha, b.alpha);
    EXPECT_TRUE(a.rgba == b.rgba) << "the pixels differ";
}

Picture opaque(Picture p)
{
    for (size_t i = 3; i < p.rgba.size(); i += 4) p.rgba[i] = 255;
    p.alpha = false;
    return p;
}

}  // namespace

TEST(ClipPictures, WindowsDibsAtEveryDepthAndOrderReadPixelForPixel)
{
    const Picture withAlpha = pattern(101, 37, true);  // 101: 24-bit rows end in a byte of padding
    const Picture plain = opaque(withAlpha);
    for (bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        Picture got;
        std::vector<uint8_t> dib = windowsDib(plain, 24, topDown, [](int, int) { return 0; });
        ASSERT_TRUE(pictureFromDib(dib.data(), dib.size(), &got));
        expectSame(got, plain);
        // 32 bits with the alpha bytes all zero: opaque, as Windows programs mean it.
        dib = windowsDib(plain, 32, topDown, [](int, int) { return 0; });
        ASSERT_TRUE(pictureFromDib(dib.data(), dib.size(), &got));
        expectSame(got, plain);
        // 32 bits with real alpha: kept.
        dib = windowsDib(withAlpha, 32, topDown,
                         [&](int x, int y) { return withAlpha.rgba[(static_cast<size_t>(y) * 101 + x) * 4 + 3]; });
        ASSERT_TRUE(pictureFromDib(dib.data(), dib.size(), &got));
        expectSame(got, withAlpha);
    }
    // A palette of two colours, one bit a pixel.
    std::vector<uint8_t> mono(40 + 8 + 4 * 2, 0);
    put32(mono, 0, 40), put32(mono, 4, 3), put32(mono, 8, 2);
    mono[12] = 1, mono[14] = 1;
    put32(mono, 40, 0x00000000), put32(mono, 44, 0x00FF8040);  // black; R FF G 80 B 40
    mono[48] = 0xA0, mono[52] = 0x40;                            // bottom row 1 0 1, top row 0 1 0
    Picture got;
    ASSERT_TRUE(pictureFromDib(mono.data(), mono.size(), &got));
    EXPECT_EQ(std::vector<uint8_t>(got.rgba.begin(), got.rgba.begin() + 8),
              (std::vector<uint8_t>{0, 0, 0, 255, 0xFF, 0x80, 0x40, 255}));
    // What the header does not add up to, and run-length coding, are refused.
    std::vector<uint8_t> cut = windowsDib(plain, 24, false, [](int, int) { return 0; });
    cut.pop_back();
    EXPECT_FALSE(pictureFromDib(cut.data(), cut.size(), &got));
    std::vector<uint8_t> rle = mono;
    put32(rle, 16, 1);
    EXPECT_FALSE(pictureFromDib(rle.data(), rle.size(), &got));
}

TEST(ClipPictures, PicturesGoToWindowsAsTheDibsItsProgramsPaste)
{
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "with alpha" : "opaque");
        const Picture p = pattern(99, 41, alpha);
        uint32_t format = 0;
        const std::vector<uint8_t> dib = dibFromPicture(p, &format);
        EXPECT_EQ(format, alpha ? CLIP_FORMAT_DIBV5 : CLIP_FORMAT_DIB);
        EXPECT_EQ(packedDibSize(dib.data(), dib.size()), dib.size());
        EXPECT_EQ(dib.size(), dibSizeFor(99, 41, alpha));
        EXPECT_EQ(dib[0], alpha ? 124 : 40);
        EXPECT_EQ(dib[14], alpha ? 32 : 24);
        EXPECT_GT(static_cast<int32_t>(dib[8] | dib[9] << 8), 0);  // bottom-up
        Picture back;
        ASSERT_TRUE(pictureFromDib(dib.data(), dib.size(), &back));
        expectSame(back, p);
        const std::vector<uint8_t> bmp = bmpFromPicture(p);
        ASSERT_TRUE(pictureFromBmp(bmp.data(), bmp.size(), &back));
        expectSame(back, p);
    }
}

TEST(ClipPictures, PngBothWaysPixelForPixelWithAndWithoutAlpha)
{
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "with alpha" : "opaque");
        const Picture p = pattern(257, 3, alpha);
        const std::string png = pngFromPicture(p);
        ASSERT_GT(png.size(), 8u);
        EXPECT_EQ(png.compare(1, 3, "PNG"), 0);
        EXPECT_EQ(png[25], alpha ? 6 : 2);  // the colour type: RGBA, or RGB
        Picture back;
        std::string why;
        ASSERT_TRUE(pictureFromPng(png, &back, &why)) << why;
        expectSame(back, p);
    }
    // An RGBA PNG whose pixels are all opaque is an opaque picture.
    Picture p = pattern(5, 5, true);
    p = opaque(p);
    p.alpha = true;  // written with an alpha channel
    Picture back;
    std::string why;
    ASSERT_TRUE(pictureFromPng(pngFromPicture(p), &back, &why));
    EXPECT_FALSE(back.alpha);
    EXPECT_FALSE(pictureFromPng("not a png", &back, &why));
    EXPECT_FALSE(why.empty());
}

TEST(ClipPictures, JpegAndBmpFromLinuxProgramsAndTheSizeLimit)
{
    // A JPEG of flat colour halves, made by libjpeg at full quality.
    const int width = 64, height = 16;
    std::vector<uint8_t> rgb(width * height * 3);
    for (int i = 0; i < width * height; ++i) {
        const bool left = (i % width) < width / 2;
        rgb[i * 3] = left ? 200 : 10, rgb[i * 3 + 1] = left ? 30 : 220, rgb[i * 3 + 2] = left ? 60 : 90;
    }
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = width, info.image_height = height, info.input_components = 3, info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rgb[info.next_scanline * width * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::string jpeg(reinterpret_cast<char*>(out), size);
    free(out);
    Picture p;
    std::string why;
    ASSERT_TRUE(pictureFromJpeg(jpeg, &p, &why)) << why;
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
    EXPECT_FALSE(p.alpha);
    for (int x : {2, 60})
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(p.rgba[(5 * width + x) * 4 + c], rgb[(5 * width + x) * 3 + c], 4);
    EXPECT_FALSE(pictureFromJpeg(jpeg.substr(0, 200) + "broken", &p, &why));
    EXPECT_FALSE(why.empty());

    const std::vector<uint8_t> bmp = bmpFromPicture(pattern(7, 7, false));
    ASSERT_TRUE(pictureFromBmpFile(std::string(bmp.begin(), bmp.end()), &p, &why));
    expectSame(p, pattern(7, 7, false));

    // The Windows side's size: 64 MB of DIB. A 3840 x 2160 screenshot fits
    // either way, 5120 x 2880 without alpha only; larger is refused before a
    // pixel is decoded.
    EXPECT_TRUE(pictureFits(3840, 2160, true));
    EXPECT_TRUE(pictureFits(5120, 2880, false));
    EXPECT_FALSE(pictureFits(8192, 8192, false));
    // A small PNG whose header says 8192 x 8192 (its checksum made anew).
    std::string png = pngFromPicture(pattern(2, 2, false));
    for (size_t at : {16u, 20u}) png[at] = 0, png[at + 1] = 0, png[at + 2] = 0x20, png[at + 3] = 0;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 12; i < 29; ++i) {
        crc ^= static_cast<uint8_t>(png[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    EXPECT_FALSE(pictureFromPng(png, &p, &why));
    EXPECT_NE(why.find("more than the Master takes"), std::string::npos) << why;
}
