#include <gtest/gtest.h>

#include "clipboard/text_convert.h"

namespace {

std::string fromCp1252(const std::string& bytes)
{
    return utf8FromCp1252(bytes.data(), bytes.size());
}

std::string toCp1252(const std::string& utf8)
{
    return cp1252FromUtf8(utf8.data(), utf8.size());
}

std::string sanitized(const std::string& utf8)
{
    return sanitizedUtf8(utf8.data(), utf8.size());
}

}  // namespace

// The plain transfer's code page both ways: Latin-1, the letters and marks
// Windows-1252 keeps in 0x80 to 0x9F, its five unassigned bytes (kept as the
// control characters Windows reads them as), and what it has no byte for.
TEST(TextConvert, Cp1252RoundTripsWhatItHolds)
{
    EXPECT_EQ(fromCp1252("abc"), "abc");
    EXPECT_EQ(fromCp1252("\xe9\xfc\xdf\xff"), "\u00e9\u00fc\u00df\u00ff");
    EXPECT_EQ(fromCp1252("\x80\x85\x8a\x99\x9f"), "\u20ac\u2026\u0160\u2122\u0178");
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
    EXPECT_EQ(toCp1252(fromCp1252(all)), all);

    EXPECT_EQ(toCp1252("Gr\u00fc\u00dfe \u20ac5"), "Gr\xfc\xdf" "e \x80" "5");
    EXPECT_EQ(toCp1252("\u65e5\u672c \U0001F600 \u0101"), "?? ? ?");  // CJK, an emoji, a-macron
    EXPECT_EQ(toCp1252("a\xff" "b\xc3"), "a?b?");                      // bytes that are no UTF-8
}

// What goes on to X programs and to the Master is well formed UTF-8: each
// broken byte is one U+FFFD, and well formed text passes untouched.
TEST(TextConvert, SanitizingKeepsGoodTextAndMarksTheRest)
{
    const std::string good = "plain \u00e9 \u20ac \U0001F600 \U0010FFFF";
    EXPECT_EQ(sanitized(good), good);
    EXPECT_EQ(sanitized("a\x80z"), "a\ufffdz");                      // a stray continuation
    EXPECT_EQ(sanitized("a\xe2\x82"), "a\ufffd\ufffd");              // cut short at the end
    EXPECT_EQ(sanitized("\xc0\xaf"), "\ufffd\ufffd");                // overlong '/'
    EXPECT_EQ(sanitized("\xed\xa0\x80x"), "\ufffd\ufffd\ufffdx");    // an unpaired surrogate, encoded
    EXPECT_EQ(sanitized("\xf4\x90\x80\x80"), "\ufffd\ufffd\ufffd\ufffd");  // past U+10FFFF
    EXPECT_EQ(std::string(sanitized(std::string("a\0b", 3))), std::string("a\0b", 3));
}

TEST(TextConvert, LineEndsEachWay)
{
    EXPECT_EQ(unixLineEnds("a\r\nb\r\n\r\nc\rd"), "a\nb\n\nc\rd");
    EXPECT_EQ(windowsLineEnds("a\nb\r\n\nc"), "a\r\nb\r\n\r\nc");
    EXPECT_EQ(windowsLineEnds("\n"), "\r\n");
}
