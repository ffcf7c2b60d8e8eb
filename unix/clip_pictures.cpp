#include "unix/clip_pictures.h"

#include <png.h>
#include <setjmp.h>

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "clipboard/clipboard_buffer.h"

bool pictureFits(int64_t width, int64_t height, bool alpha)
{
    return dibSizeFor(width, height, alpha) <= CLIPBOARD_MAX_PART;
}

namespace {

bool tooLarge(int64_t width, int64_t height, bool alpha, std::string* why)
{
    if (pictureFits(width, height, alpha)) return false;
    char text[128];
    snprintf(text, sizeof text, "%lld x %lld pixels is more than the Master takes (64 MB)",
             static_cast<long long>(width), static_cast<long long>(height));
    *why = text;
    return true;
}

// Whether any pixel is less than opaque.
bool anyAlpha(const Picture& p)
{
    for (size_t i = 3; i < p.rgba.size(); i += 4)
        if (p.rgba[i] != 255) return true;
    return false;
}

// libjpeg reports a broken file by calling error_exit, which must not return.
struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void jpegFailed(j_common_ptr info)
{
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    info->err->format_message(info, error->message);
    longjmp(error->back, 1);
}

void jpegQuiet(j_common_ptr, int) {}

}  // namespace

bool pictureFromPng(const std::string& png, Picture* picture, std::string* why)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) {
        *why = std::string("not a PNG libpng reads: ") + image.message;
        return false;
    }
    const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    if (tooLarge(image.width, image.height, alpha, why)) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    picture->width = static_cast<int32_t>(image.width);
    picture->height = static_cast<int32_t>(image.height);
    picture->rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, picture->rgba.data(), 0, nullptr)) {
        *why = std::string("a broken PNG: ") + image.message;
        picture->rgba.clear();
        return false;
    }
    picture->alpha = alpha && anyAlpha(*picture);
    return true;
}

bool pictureFromJpeg(const std::string& jpeg, Picture* picture, std::string* why)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFailed;
    error.manager.emit_message = jpegQuiet;
    std::vector<uint8_t> row;
    picture->rgba.clear();
    if (setjmp(error.back)) {
        jpeg_destroy_decompress(&info);
        *why = std::string("a broken JPEG: ") + error.message;
        picture->rgba.clear();
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    if (tooLarge(info.image_width, info.image_height, false, why)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&info);
    const int channels = info.output_components;
    picture->width = static_cast<int32_t>(info.output_width);
    picture->height = static_cast<int32_t>(info.output_height);
    picture->alpha = false;
    picture->rgba.assign(static_cast<size_t>(info.output_width) * info.output_height * 4, 255);
    row.resize(static_cast<size_t>(info.output_width) * static_cast<size_t>(channels));
    // Adobe's CMYK JPEGs hold their inks inverted.
    const bool inverted = info.saw_Adobe_marker;
    while (info.output_scanline < info.output_height) {
        const size_t y = info.output_scanline;
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        uint8_t* out = picture->rgba.data() + y * info.output_width * 4;
        for (size_t x = 0; x < info.output_width; ++x, out += 4) {
            const uint8_t* in = row.data() + x * static_cast<size_t>(channels);
            if (!cmyk) {
                out[0] = in[0], out[1] = in[1], out[2] = in[2];
                continue;
            }
            const unsigned k = inverted ? in[3] : 255u - in[3];
            for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((inverted ? in[c] : 255u - in[c]) * k / 255);
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool pictureFromBmpFile(const std::string& bmp, Picture* picture, std::string* why)
{
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bmp.data());
    if (bmp.size() >= 26 && bmp[0] == 'B' && bmp[1] == 'M') {
        const int32_t width = static_cast<int32_t>(data[18] | data[19] << 8 | data[20] << 16 |
                                                   static_cast<uint32_t>(data[21]) << 24);
        int32_t height = static_cast<int32_t>(data[22] | data[23] << 8 | data[24] << 16 |
                                              static_cast<uint32_t>(data[25]) << 24);
        if (height < 0 && height != INT32_MIN) height = -height;
        if (tooLarge(width, height, false, why)) return false;
    }
    if (pictureFromBmp(data, bmp.size(), picture)) return true;
    *why = "a BMP this side does not read";
    return false;
}

std::string pngFromPicture(const Picture& picture)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGBA;
    // Speed before size: the PNG is made while the paste waits for it.
    image.flags = PNG_IMAGE_FLAG_FAST;
    if (picture.rgba.size() != static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4)
        return "";
    std::vector<uint8_t> rgb;
    const void* pixels = picture.rgba.data();
    if (!picture.alpha) {
        // Opaque: RGB, a quarter smaller and what every reader takes.
        rgb.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3);
        for (size_t i = 0, o = 0; i < picture.rgba.size(); i += 4, o += 3)
            rgb[o] = picture.rgba[i], rgb[o + 1] = picture.rgba[i + 1], rgb[o + 2] = picture.rgba[i + 2];
        image.format = PNG_FORMAT_RGB;
        pixels = rgb.data();
    }
    // Room for the worst case, so the picture is compressed once.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    std::string png(size, '\0');
    if (!png_image_write_to_memory(&image, &png[0], &size, 0, pixels, 0, nullptr)) {
        png_image_free(&image);
        return "";
    }
    png.resize(size);
    return png;
}
