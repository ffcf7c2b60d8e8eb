// The clipboard connection's framing, sender and receiver side.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clipboard/clipboard_buffer.h"
#include "clipboard/file_list.h"

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

// ---- Files and folders

namespace {

// Writes down what the receiver asks of the disk.
struct Disk : FileSink {
    std::string log;
    bool fail = false;
    bool makeFolder(const char* path) override { return log += "mkdir " + std::string(path) + ";", !fail; }
    bool openFile(const char* path, uint64_t size) override
    {
        return log += "open " + std::string(path) + " " + std::to_string(size) + ";", !fail;
    }
    bool writeFile(const uint8_t* data, int32_t n) override
    {
        return log += std::string(data, data + n) + ";", true;
    }
    bool closeFile() override { return log += "close;", true; }
    void discard() override { log += "discard;"; }
    void progress(uint64_t, uint64_t) override {}
};

std::string entry(uint32_t transfer, uint32_t kind, const std::string& path, uint64_t size, uint64_t list)
{
    std::vector<uint8_t> data(FILE_ENTRY_HEADER + path.size());
    FileEntry e;
    e.kind = kind, e.effect = 2, e.size = size, e.listBytes = list, e.path = path.data();
    e.pathLength = static_cast<int32_t>(path.size());
    encodeFileEntry(data.data(), e);
    return chunks(transfer, CLIP_FORMAT_FILE_ENTRY, std::string(data.begin(), data.end()));
}

// Feeds the stream in pieces; returns the disk's log, "placed[effect]" for
// each whole transfer, with the text that came beside its files.
std::string receiveFiles(const std::string& stream, size_t piece, uint64_t limit = 1 << 20)
{
    ClipboardBuffer buffer;
    FileReceiver files;
    Disk disk;
    files.limit = limit;
    EXPECT_TRUE(clipboardReset(buffer));
    for (size_t at = 0; at < stream.size(); at += piece) {
        const size_t n = std::min(piece, stream.size() - at);
        std::copy(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + n), clipboardSpace(buffer));
        for (ClipboardStep step = clipboardCommit(buffer, static_cast<int32_t>(n)); step != ClipboardStep::NeedMore;
             step = clipboardConsume(buffer)) {
            if (takeChunk(assembly, files, disk, clipboardChunk(buffer)) != TransferStep::Whole) continue;
            disk.log += "placed" + std::to_string(files.state == FileListState::Whole ? files.effect : 0);
            for (const ClipboardPart& p : assembly.parts)
                if (clipboardPartWhole(p) && p.format) disk.log += " " + std::string(p.data, p.data + p.total);
            disk.log += ";";
            filesPlaced(files), assemblyClear(assembly);
        }
    }
    std::free(buffer.storage);
    return disk.log;
}

}  // namespace

TEST(FileList, NamesThatCouldLeaveTheFolderOrOpenADeviceAreRefused)
{
    for (const std::string& good : std::vector<std::string>{"a", "a/b c/d.txt", "Gr\xC3\xBC\xC3\x9F" "e/\xF0\x9F\x98\x80.png", ".profile",
                                   "CONSOLE", "com10.txt", "LPT", "a..b", std::string(255, 'n'),
                                   std::string(254, 'n') + "\xF0\x9F\x98\x80" /* 256 units */})
        EXPECT_EQ(filePathAllowed(good.data(), good.size()), good.size() < 258) << good;
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../x", "a/../../x", "a/./b", "/abs", "a/", "a//b", "C:", "c:x",
                                  "a\\b", "\\\\server\\share", "CON", "con.txt", "a/Nul.tar.gz", "AUX ", "com1",
                                  "LPT9.log", "conout$", "prn .x", "trailing.", "trailing ", "tab\tname", "a?b",
                                  "a*", "a|b", "q\"", "<", std::string("nul\0x", 5), "\xC0\xAF" "etc", "\xED\xA0\x80",
                                  "\xF4\x90\x80\x80", "\xE2\x82"})
        EXPECT_FALSE(filePathAllowed(bad.data(), bad.size())) << bad;
    // The whole path: 1,000 UTF-16 units at most.
    std::string deep;
    while (deep.size() < FILE_PATH_MAX) deep += std::string(99, 'd') + "/";
    deep.pop_back();
    EXPECT_TRUE(filePathAllowed(deep.data(), deep.size()));
    deep += "/x";
    EXPECT_FALSE(filePathAllowed(deep.data(), deep.size()));
}

TEST(FileList, AListStreamsToDiskWholeAndAnythingWrongRemovesItAll)
{
    const std::string body(700, 'b'), list = entry(3, FILE_KIND_FILE, "one.txt", 3, 703) + chunks(3, CLIP_FORMAT_FILE_DATA, "abc") +
                                                 entry(3, FILE_KIND_FOLDER, "dir", 0, 703) +
                                                 entry(3, FILE_KIND_FILE, "dir/empty", 0, 703) +
                                                 entry(3, FILE_KIND_FILE, "dir/body", 700, 703) +
                                                 chunks(3, CLIP_FORMAT_FILE_DATA, body, 256);
    const std::string stored = "open one.txt 3;abc;close;mkdir dir;open dir/empty 0;close;open dir/body 700;" +
                               body.substr(0, 256) + ";" + body.substr(256, 256) + ";" + body.substr(512) + ";close;";
    for (size_t piece : {1, 29, 4096})
        EXPECT_EQ(receiveFiles(chunks(3, CLIP_FORMAT_TEXT, "txt") + list + chunks(3, CLIP_FORMAT_END, "", 1, 5), piece),
                  stored + "placed2 txt;")
            << "pieces of " << piece;
    EXPECT_EQ(receiveFiles(list + chunks(3, CLIP_FORMAT_END, "", 1, 4), 100), stored + "placed2;");

    // Each of these is removed and nothing is placed; the stream stays in
    // step, and the text transfer after it arrives.
    const std::string after = chunks(9, CLIP_FORMAT_TEXT, "after") + chunks(9, CLIP_FORMAT_END, "", 1, 1);
    const std::string file = entry(3, FILE_KIND_FILE, "f", 4, 4);
    for (const std::string& broken : std::vector<std::string>{
          file + chunks(3, CLIP_FORMAT_FILE_DATA, "abc") + chunks(3, CLIP_FORMAT_END, "", 1, 1),   // a byte short
          file + chunks(3, CLIP_FORMAT_FILE_DATA, "abcde") + chunks(3, CLIP_FORMAT_END, "", 1, 1),  // one too many
          file + chunks(3, CLIP_FORMAT_FILE_DATA, "ab", 9, 2) + chunks(3, CLIP_FORMAT_FILE_DATA, "ab", 9, 2) +
              chunks(3, CLIP_FORMAT_END, "", 1, 1),                                                  // out of order
          entry(3, FILE_KIND_FILE, "../f", 0, 0) + chunks(3, CLIP_FORMAT_END, "", 1, 1),
          entry(3, FILE_KIND_FILE, "dir/f", 0, 0) + chunks(3, CLIP_FORMAT_END, "", 1, 1),           // its folder never named
          entry(3, FILE_KIND_FILE, "a", 0, 5) + entry(3, FILE_KIND_FILE, "b", 6, 5),                // more than the list
          file + chunks(3, CLIP_FORMAT_FILE_DATA, "ab", 9, 2) + chunks(3, CLIP_FORMAT_END, "", 1, 0),  // given up
          file + chunks(3, CLIP_FORMAT_FILE_DATA, "ab", 9, 2)})                                      // a newer one takes over
    {
        const std::string log = receiveFiles(broken + after, 7);
        const bool wrote = log.find("open") != std::string::npos || log.find("mkdir") != std::string::npos;
        EXPECT_EQ(log.substr(log.find("placed")), "placed0 after;") << log;
        EXPECT_TRUE(!wrote || log.find("discard") != std::string::npos) << log;
    }
    EXPECT_EQ(receiveFiles(file + chunks(3, CLIP_FORMAT_FILE_DATA, "ab", 9, 2) + after, 7),
              "open f 4;ab;discard;placed0 after;");

    // A list past this side's limit is passed over; the text beside it still comes.
    EXPECT_EQ(receiveFiles(chunks(3, CLIP_FORMAT_TEXT, "txt") + list + chunks(3, CLIP_FORMAT_END, "", 1, 5), 64, 702),
              "placed0 txt;");
}
