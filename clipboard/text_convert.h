// Clipboard text between the forms the two ends keep it in: the plain
// transfer's bytes (the Master's ANSI code page, Windows-1252 on the usual
// Western system), UTF-8 as the richer transfer and X programs carry it, and
// Windows' line ends beside Unix ones. No <windows.h>: built natively.
#pragma once

#include <cstddef>
#include <string>

// Windows-1252 bytes as UTF-8. The five bytes the code page leaves
// unassigned become the control characters of the same number, as Windows
// reads them, so nothing is lost on the way back.
std::string utf8FromCp1252(const char* text, size_t n);

// UTF-8 as Windows-1252: every character the code page has becomes its byte,
// any other (and any byte that is not UTF-8) a '?'.
std::string cp1252FromUtf8(const char* text, size_t n);

// UTF-8 as it may be handed on: each byte that does not belong to a well
// formed character (a stray continuation, a sequence cut short or too long,
// an encoded surrogate, a value past U+10FFFF) becomes U+FFFD.
std::string sanitizedUtf8(const char* text, size_t n);

// Line ends: "\r\n" as "\n" for X programs, and each lone "\n" as "\r\n" for
// Windows' edit controls.
std::string unixLineEnds(const std::string& text);
std::string windowsLineEnds(const std::string& text);
