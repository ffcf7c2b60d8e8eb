// Pictures as Linux programs put them on the clipboard: PNG (libpng), JPEG
// (libjpeg-turbo) and BMP, to and from the plain pixels that the Windows
// side's DIB is read into and made from (clipboard/dib.h). No X here: the
// conversions are tested natively, and any Linux clipboard uses them.
#pragma once

#include <cstdint>
#include <string>

#include "clipboard/dib.h"

// The most a picture may be here: the DIB it makes for the partner must fit
// in one part of a transfer (CLIPBOARD_MAX_PART, 64 MB), as on Windows.
// Checked on the dimensions before a single pixel is decoded.
bool pictureFits(int64_t width, int64_t height, bool alpha);

// Decodes a picture; false with a few words in *why (a broken file, too
// large, a kind this side does not read).
bool pictureFromPng(const std::string& png, Picture* picture, std::string* why);
bool pictureFromJpeg(const std::string& jpeg, Picture* picture, std::string* why);
bool pictureFromBmpFile(const std::string& bmp, Picture* picture, std::string* why);

// A PNG of the picture, RGB when it is opaque, RGBA when it has alpha; empty
// when libpng cannot make one.
std::string pngFromPicture(const Picture& picture);
