// The clipboard connection's framing, sender and receiver side.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include <string>
#include <vector>

#include "clipboard/clipboard_buffer.h"

namespace {

std::vector<uint8_t> frame(const std::string& text)
{
    std::vector<uint8_t> out(CLIPBOARD_BUFFER_SIZE);
    const int32_t n = frameClipboardText(text.data(), text.size(), out.data());
    out.resize(static_cast<size_t>(n));
    return out;
}

// What the chunks assembled: each transfer stored, its parts as
// "format:bytes" joined by "|".
ClipboardAssembly assembly;
std::vector<std::string> stored;

void takeChunk(const ClipboardBuffer& buffer)
{
    if (!assembleChunk(assembly, clipboardChunk(buffer))) return;
    std::string transfer;
    for (int32_t i = 0; i < assembly.count; ++i) {
        const ClipboardPart& part = assembly.parts[i];
        if (!clipboardPartWhole(part)) continue;
        if (!transfer.empty()) transfer += "|";
        transfer += std::to_string(part.format) + ":" + std::string(part.data, part.data + part.total);
    }
    stored.push_back(transfer);
    assemblyClear(assembly);
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One part of a transfer in chunks of at most `size` bytes, as a sender cuts it.
std::vector<uint8_t> chunks(uint32_t transfer, uint32_t format, const std::string& data, size_t size)
{
    std::vector<uint8_t> out;
    size_t at = 0;
    do {
        const size_t n = data.size() - at < size ? data.size() - at : size;
        std::vector<uint8_t> chunk(CLIPBOARD_CHUNK_HEADER + n);
        frameClipboardChunk(chunk.data(), transfer, format, static_cast<uint32_t>(data.size()),
                            static_cast<uint32_t>(at), reinterpret_cast<const uint8_t*>(data.data()) + at,
                            static_cast<int32_t>(n));
        out.insert(out.end(), chunk.begin(), chunk.end());
        at += n;
    } while (at < data.size());
    return out;
}

std::vector<uint8_t> end(uint32_t transfer, uint32_t parts)
{
    std::vector<uint8_t> out(CLIPBOARD_CHUNK_HEADER);
    frameClipboardChunk(out.data(), transfer, CLIP_FORMAT_END, parts, 0, nullptr, 0);
    return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Feeds the stream in pieces of the given sizes (the rest in one) and
// returns every text that completed, in order; chunks go to `stored`.
std::vector<std::string> receive(ClipboardBuffer& buffer, const std::vector<uint8_t>& stream,
                                 std::vector<size_t> pieces = {})
{
    std::vector<std::string> texts;
    size_t at = 0, piece = 0;
    while (at < stream.size()) {
        size_t n = piece < pieces.size() ? pieces[piece++] : stream.size() - at;
        if (n > stream.size() - at) n = stream.size() - at;
        while (n > 0) {
            const size_t room = static_cast<size_t>(clipboardRoom(buffer));
            const size_t take = n < room ? n : room;
            std::copy(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + take),
                      clipboardSpace(buffer));
            at += take;
            n -= take;
            for (ClipboardStep step = clipboardCommit(buffer, static_cast<int32_t>(take));
                 step != ClipboardStep::NeedMore; step = clipboardConsume(buffer)) {
                if (step == ClipboardStep::Chunk) takeChunk(buffer);
                else texts.emplace_back(clipboardText(buffer), static_cast<size_t>(clipboardTextLength(buffer)));
            }
        }
    }
    return texts;
}

struct Clipboard : ::testing::Test {
    ClipboardBuffer buffer;
    void SetUp() override { ASSERT_TRUE(clipboardReset(buffer)); }
    void TearDown() override
    {
        std::free(buffer.storage);
        assemblyClear(assembly);
        stored.clear();
    }
};

TEST_F(Clipboard, FramesTextAsLengthTextAndNul)
{
    EXPECT_EQ(frame("abc"), (std::vector<uint8_t>{4, 0, 0, 0, 'a', 'b', 'c', 0}));
    EXPECT_EQ(frame(""), (std::vector<uint8_t>{1, 0, 0, 0, 0}));

    // The longest text fills the storage exactly; one byte more is not framed.
    std::vector<uint8_t> out(CLIPBOARD_BUFFER_SIZE);
    std::string longest(CLIPBOARD_MAX_TEXT, 'x');
    EXPECT_EQ(frameClipboardText(longest.data(), longest.size(), out.data()), CLIPBOARD_BUFFER_SIZE);
    EXPECT_EQ(frameClipboardText(longest.data(), longest.size() + 1, out.data()), 0);
}

TEST_F(Clipboard, ReceivesTransfersHoweverTheyAreCut)
{
    std::vector<uint8_t> stream = frame("abc");
    // Split at every byte boundary, the length field's included: the text
    // completes only with the read that brings its last byte.
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        ASSERT_TRUE(clipboardReset(buffer));
        EXPECT_EQ(receive(buffer, std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<long>(cut))),
                  std::vector<std::string>{})
            << "cut at " << cut;
        EXPECT_EQ(receive(buffer, std::vector<uint8_t>(stream.begin() + static_cast<long>(cut), stream.end())),
                  std::vector<std::string>{"abc"})
            << "cut at " << cut;
    }

    // Two transfers and the start of a third in one read: the bytes after a
    // complete transfer begin the next one.
    ASSERT_TRUE(clipboardReset(buffer));
    std::vector<uint8_t> three = frame("first");
    for (auto part : {frame(""), frame("third")}) three.insert(three.end(), part.begin(), part.end());
    EXPECT_EQ(receive(buffer, three, {three.size() - 3}), (std::vector<std::string>{"first", "", "third"}));

    // The largest text arrives whole, twice running, in odd pieces.
    ASSERT_TRUE(clipboardReset(buffer));
    std::string big(CLIPBOARD_MAX_TEXT, 'q');
    big[0] = 'A';
    big.back() = 'Z';
    std::vector<uint8_t> twice = frame(big);
    twice.insert(twice.end(), twice.begin(), twice.end());
    const auto texts = receive(buffer, twice, std::vector<size_t>(200, 65521));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[0] == big && texts[1] == big);
}

TEST_F(Clipboard, PassesOverWhatCannotFitAndStaysInStep)
{
    // An announcement one byte too long, then an honest transfer: the first
    // is passed over whole, the second arrives.
    const uint32_t tooLong = CLIPBOARD_BUFFER_SIZE - 3;
    std::vector<uint8_t> stream = {static_cast<uint8_t>(tooLong), static_cast<uint8_t>(tooLong >> 8),
                                   static_cast<uint8_t>(tooLong >> 16), static_cast<uint8_t>(tooLong >> 24)};
    stream.resize(4 + tooLong, 'j');
    const auto after = frame("after");
    stream.insert(stream.end(), after.begin(), after.end());
    EXPECT_EQ(receive(buffer, stream, std::vector<size_t>(100, 99991)), std::vector<std::string>{"after"});

    // A length of 4 GB does not wrap around into something that fits.
    ASSERT_TRUE(clipboardReset(buffer));
    std::vector<uint8_t> huge = {0xFF, 0xFF, 0xFF, 0xFF, 'x', 'y'};
    EXPECT_EQ(receive(buffer, huge), std::vector<std::string>{});
    EXPECT_EQ(buffer.skipRemaining, 0xFFFFFFFFu - 2);

    // A partner's text without its NUL, and a length of 0, read as text that
    // ends inside the transfer.
    ASSERT_TRUE(clipboardReset(buffer));
    std::vector<uint8_t> odd = {3, 0, 0, 0, 'n', 'o', '!', 0, 0, 0, 0};
    EXPECT_EQ(receive(buffer, odd), (std::vector<std::string>{"no", ""}));
}

TEST_F(Clipboard, ChunkedTransfersArriveWholeBesidePlainOnesHoweverCut)
{
    // A picture in several chunks with text beside it, a plain transfer, and
    // a second transfer: cut at every size the reads may bring.
    std::string picture(1000, '\0');
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7);
    const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80";
    const auto stream = chunks(1, CLIP_FORMAT_TEXT, text, 3) + chunks(1, CLIP_FORMAT_DIB, picture, 300) + end(1, 2) +
                        frame("plain") + chunks(2, CLIP_FORMAT_TEXT, "", 8) + end(2, 1);
    for (size_t piece : {1, 5, 23, 24, 25, 1000, 100000}) {
        ASSERT_TRUE(clipboardReset(buffer));
        stored.clear();
        EXPECT_EQ(receive(buffer, stream, std::vector<size_t>(5000, piece)), std::vector<std::string>{"plain"});
        EXPECT_EQ(stored, (std::vector<std::string>{"1:" + text + "|2:" + picture, "1:"})) << "pieces of " << piece;
    }
}

TEST_F(Clipboard, AGivenUpOrBrokenTransferIsNeverStoredAndTheStreamStaysInStep)
{
    const std::string picture(600, 'p');
    // Given up for a newer one half way: only the newer one is stored, and
    // what was held of the first is not counted among its parts.
    auto firstHalf = chunks(3, CLIP_FORMAT_DIB, picture, 200);
    firstHalf.resize(2 * (CLIPBOARD_CHUNK_HEADER + 200));  // two of its three chunks
    EXPECT_EQ(receive(buffer, firstHalf + chunks(4, CLIP_FORMAT_TEXT, "newer", 4) + end(4, 1)),
              std::vector<std::string>{});
    EXPECT_EQ(stored, std::vector<std::string>{"1:newer"});

    // Given up with an END of no parts, a chunk missing from a part, or an
    // END that counts more parts than came: nothing stored, nothing held.
    stored.clear();
    auto gap = chunks(6, CLIP_FORMAT_DIB, picture, 200);
    gap.erase(gap.begin() + CLIPBOARD_CHUNK_HEADER + 200, gap.begin() + 2 * (CLIPBOARD_CHUNK_HEADER + 200));
    receive(buffer, firstHalf + end(3, 0) + gap + end(6, 1) + chunks(7, CLIP_FORMAT_TEXT, "x", 4) + end(7, 2));
    EXPECT_EQ(stored, std::vector<std::string>{});
    EXPECT_EQ(assembly.count, 0);

    // A chunk larger than any sender makes is passed over byte for byte; a
    // part of a format not known here, or over the largest size, is left
    // out while the rest of its transfer is stored.
    std::vector<uint8_t> huge(CLIPBOARD_CHUNK_HEADER);
    frameClipboardChunk(huge.data(), 8, CLIP_FORMAT_TEXT, CLIPBOARD_BUFFER_SIZE, 0, nullptr, 0);
    huge[20] = static_cast<uint8_t>(CLIPBOARD_BUFFER_SIZE & 0xFF);
    huge[21] = static_cast<uint8_t>((CLIPBOARD_BUFFER_SIZE >> 8) & 0xFF);
    huge[22] = static_cast<uint8_t>(CLIPBOARD_BUFFER_SIZE >> 16);
    huge.resize(CLIPBOARD_CHUNK_HEADER + CLIPBOARD_BUFFER_SIZE, 'h');
    std::vector<uint8_t> tooLarge(CLIPBOARD_CHUNK_HEADER + 1);
    frameClipboardChunk(tooLarge.data(), 9, CLIP_FORMAT_DIB, CLIPBOARD_MAX_PART + 1, 0,
                        reinterpret_cast<const uint8_t*>("d"), 1);
    EXPECT_EQ(receive(buffer, huge + end(8, 1) + tooLarge + chunks(9, 77, "later", 2) +
                                  chunks(9, CLIP_FORMAT_TEXT, "kept", 2) + end(9, 3) + frame("in step"),
                      std::vector<size_t>(100, 65536)),
              std::vector<std::string>{"in step"});
    EXPECT_EQ(stored, std::vector<std::string>{"1:kept"});
}

std::vector<uint8_t> dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression = 0, uint32_t colors = 0,
                         uint32_t headerSize = 40)
{
    std::vector<uint8_t> out;
    put32(out, headerSize);
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height));
    out.push_back(1);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(bits));
    out.push_back(0);
    put32(out, compression);
    for (int i = 0; i < 3; ++i) put32(out, 0);
    put32(out, colors);
    put32(out, 0);
    out.resize(headerSize);
    return out;
}

TEST_F(Clipboard, APictureIsSizedFromItsHeaderAndOneThatDoesNotAddUpIsRefused)
{
    // Rows padded to four bytes; palettes, masks after a plain header.
    EXPECT_EQ(packedDibSize(dib(3, 2, 24).data(), 1 << 20), 40u + 2 * 12);
    EXPECT_EQ(packedDibSize(dib(3, -2, 24).data(), 1 << 20), 40u + 2 * 12);
    EXPECT_EQ(packedDibSize(dib(9, 1, 1).data(), 1 << 20), 40u + 2 * 4 + 4);
    EXPECT_EQ(packedDibSize(dib(2, 2, 8, 0, 16).data(), 1 << 20), 40u + 16 * 4 + 8);
    EXPECT_EQ(packedDibSize(dib(2, 2, 32, 3).data(), 1 << 20), 40u + 12 + 16);
    EXPECT_EQ(packedDibSize(dib(2, 2, 32, 3, 0, 124).data(), 1 << 20), 124u + 16);
    EXPECT_EQ(packedDibSize(dib(3840, 2160, 32).data(), CLIPBOARD_MAX_PART), 40u + 3840 * 2160 * 4);
    // A profile named in a version 5 header lies within the picture.
    auto v5 = dib(2, 2, 32, 0, 0, 124);
    v5[56] = 'D', v5[57] = 'E', v5[58] = 'B', v5[59] = 'M';
    v5[112] = 200, v5[116] = 30;
    EXPECT_EQ(packedDibSize(v5.data(), 1 << 20), 230u);

    // The bytes in hand must hold it all; sizes that overflow, depths and
    // codings a reader does not expect, and no rows are refused.
    EXPECT_EQ(packedDibSize(dib(3, 2, 24).data(), 40 + 2 * 12 - 1), 0u);
    EXPECT_EQ(packedDibSize(dib(3, 2, 24).data(), 39), 0u);
    EXPECT_EQ(packedDibSize(dib(0x7FFFFFFF, 0x7FFFFFFF, 32).data(), 1 << 20), 0u);
    EXPECT_EQ(packedDibSize(dib(0x7FFFFFFF, INT32_MIN, 32).data(), 1 << 20), 0u);
    EXPECT_EQ(packedDibSize(dib(4096, 4097, 32).data(), 0xFFFFFFFF), 0u);  // over the largest part
    EXPECT_EQ(packedDibSize(dib(2, 2, 7).data(), 1 << 20), 0u);
    EXPECT_EQ(packedDibSize(dib(2, 2, 24, 3).data(), 1 << 20), 0u);
    EXPECT_EQ(packedDibSize(dib(2, 2, 8, 0, 257).data(), 1 << 20), 0u);
    EXPECT_EQ(packedDibSize(dib(2, 0, 8).data(), 1 << 20), 0u);
    EXPECT_EQ(packedDibSize(dib(2, 2, 8, 0, 0, 200).data(), 100), 0u);
}

}  // namespace
