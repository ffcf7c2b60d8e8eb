// The clipboard connection's framing, sender and receiver side.
#include <gtest/gtest.h>

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

ClipboardAssembly assembly;

// A part cut into chunks of `size` bytes (an END: no data, total the parts).
std::string chunks(uint32_t transfer, uint32_t format, const std::string& data, size_t size = 1 << 20, size_t total = 0)
{
    std::string out;
    for (size_t at = 0; at < data.size() || out.empty(); at += size) {
        const size_t n = std::min(size, data.size() - at);
        out.resize(out.size() + CLIPBOARD_CHUNK_HEADER + n);
        frameClipboardChunk(reinterpret_cast<uint8_t*>(&out[out.size() - CLIPBOARD_CHUNK_HEADER - n]), transfer, format,
                            static_cast<uint32_t>(total + data.size()), static_cast<uint32_t>(at),
                            reinterpret_cast<const uint8_t*>(data.data()) + at, static_cast<int32_t>(n));
    }
    return out;
}

// Feeds the stream in pieces of the given sizes (the rest in one) and
// returns every text that completed, in order (chunks: "stored FORMAT:BYTES ...").
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
                if (step == ClipboardStep::Complete) {
                    texts.emplace_back(clipboardText(buffer), static_cast<size_t>(clipboardTextLength(buffer)));
                } else if (assembleChunk(assembly, clipboardChunk(buffer))) {
                    texts.emplace_back("stored");
                    for (const ClipboardPart& p : assembly.parts)
                        if (clipboardPartWhole(p) && p.format)
                            texts.back() += " " + std::to_string(p.format) + ":" + std::string(p.data, p.data + p.total);
                    assemblyClear(assembly);
                }
            }
        }
    }
    return texts;
}

struct Clipboard : ::testing::Test {
    ClipboardBuffer buffer;
    void SetUp() override { ASSERT_TRUE(clipboardReset(buffer)); }
    void TearDown() override { std::free(buffer.storage), assemblyClear(assembly); }
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

TEST_F(Clipboard, ChunksArriveWholeBesidePlainTextAndAGivenUpOrBrokenTransferIsNeverStored)
{
    const std::string picture(1000, 'p'), text = "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80";
    auto given_up = chunks(1, CLIP_FORMAT_DIB, picture, 400), twice = chunks(1, CLIP_FORMAT_DIB, "ab", 1);
    given_up.resize(2 * (CLIPBOARD_CHUNK_HEADER + 400));  // two of its three chunks
    twice.resize(CLIPBOARD_CHUNK_HEADER + 1), twice = twice + twice;  // "a" twice: the right size, out of order
    const auto plain = frame("plain");
    const std::string stream = given_up + chunks(2, CLIP_FORMAT_TEXT, text, 3) + chunks(2, CLIP_FORMAT_DIB, picture, 300) +
                               chunks(2, CLIP_FORMAT_END, "", 1, 2) + std::string(plain.begin(), plain.end()) + given_up +
                               chunks(1, 0, "", 1, 0) + twice + chunks(1, 0, "", 1, 1) + given_up +
                               chunks(4, CLIP_FORMAT_TEXT, "") + chunks(4, 0, "", 1, 1);
    for (size_t piece : {1, 7, 24, 1000, 1 << 20}) {
        ASSERT_TRUE(clipboardReset(buffer));
        EXPECT_EQ(receive(buffer, std::vector<uint8_t>(stream.begin(), stream.end()), std::vector<size_t>(6000, piece)),
                  (std::vector<std::string>{"stored 1:" + text + " 2:" + picture, "plain", "stored 1:"}))
            << "pieces of " << piece;
    }
}

}  // namespace
