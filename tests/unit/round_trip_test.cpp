// Round trips: bytes encoded by the packer's encoder, framed and scrambled
// by the archive writer, read back through the extractor's own archive
// opening, block stream and decoder, and compared with the original.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/container/open_archive.h"
#include "core/decoder/output_window.h"
#include "core/driver/archive_session.h"
#include "packer/archive_writer.h"
#include "packer/bit_writer.h"
#include "packer/lz77_encoder.h"
#include "platform/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Readable English-like text: words, punctuation, line breaks.
Bytes MakeText(size_t size, uint32_t seed) {
    static const char* const kWords[] = {
        "the", "archive", "of", "a", "file", "and", "to", "in", "window", "block", "is", "that",
        "stream", "bytes", "with", "for", "it", "as", "was", "on", "decoder", "match", "be", "at",
        "by", "this", "had", "not", "are", "but", "from", "or", "have", "an", "they", "which",
        "one", "you", "were", "all", "we", "when", "there", "can", "folder", "been", "has", "more",
        "if", "no", "out", "so", "said", "what", "up", "its", "about", "into", "than", "them",
        "only", "other", "new", "some", "could", "time", "these", "two", "may", "first", "then",
        "do", "any", "like", "my", "now", "over", "such", "our", "man", "me", "even", "most",
        "made", "after", "also", "did", "many", "before", "must", "through", "back", "years",
        "where", "much", "your", "way", "well", "down", "should", "because", "each", "just",
        "those", "people", "password", "how", "too", "little", "state", "good", "very", "make",
        "world", "still", "own", "see", "men", "work", "long", "get", "here", "between", "both",
        "life", "being", "under", "never", "day", "same", "another", "know", "while", "last"};
    std::mt19937 rng(seed);
    std::string text;
    bool capital = true;
    while (text.size() < size) {
        std::string word = kWords[rng() % std::size(kWords)];
        if (capital) word[0] = static_cast<char>(toupper(word[0]));
        capital = false;
        text += word;
        unsigned r = rng() % 100;
        if (r < 6) {
            text += ". ";
            capital = true;
        } else if (r < 9) {
            text += ", ";
        } else if (r < 11) {
            text += ".\r\n";
            capital = true;
        } else {
            text += ' ';
        }
    }
    text.resize(size);
    return Bytes(text.begin(), text.end());
}

Bytes MakeRandom(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() >> 24);
    return bytes;
}

// Long runs of one byte (some longer than the longest match), repeats of
// earlier pieces at all distances, and stretches of noise.
Bytes MakeRuns(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        unsigned kind = rng() % 4;
        if (kind == 0) {
            size_t length = 1 + rng() % 9000;
            bytes.insert(bytes.end(), length, static_cast<uint8_t>(rng()));
        } else if (kind == 1 && bytes.size() > 100) {
            size_t distance = 1 + rng() % std::min<size_t>(bytes.size(), 20000);
            size_t length = 2 + rng() % 5000;
            size_t from = bytes.size() - distance;
            for (size_t i = 0; i < length; ++i) bytes.push_back(bytes[from + i]);
        } else {
            size_t length = 1 + rng() % 300;
            for (size_t i = 0; i < length; ++i) bytes.push_back(static_cast<uint8_t>(rng() % 7));
        }
    }
    bytes.resize(size);
    return bytes;
}

std::filesystem::path TempFolder() {
    std::filesystem::path folder = std::filesystem::path(TARNWICK_TEST_TMP) / "round_trip";
    std::filesystem::create_directories(folder);
    return folder;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Decoded {
    Bytes bytes;                   // what reached the output file
    Bytes captured;                // what reached the history slot
    bool endOfArchive = false;
    int64_t streamPosition = 0;    // stream bytes the decoder took
};

// Opens the archive file through the extractor's frame reader and decodes
// one entry body from the start of its stream into a file.
Decoded DecodeArchive(const std::filesystem::path& archive, const Bytes& preload, int64_t size) {
    std::filesystem::path output = archive;
    output += ".out";
    ResetArchiveSession();
    ByteStringAssign(&gSession.archivePath, archive.c_str(), archive.native().size());
    OpenArchiveFile();
    gSession.endOfArchive = false;

    auto decoder = std::make_unique<EntryDecoder>();
    Bytes capture(kHistorySlotSize, 0xEE);
    gSession.outputHandle = PlatformCreateForWrite(output.c_str());
    EXPECT_NE(gSession.outputHandle, kInvalidFileHandle);
    ResetBitReader(&decoder->bits);
    StartOutputWindow(&decoder->window, preload.data(), static_cast<int32_t>(preload.size()), 0, capture.data(),
                      false);
    DecodeEntryBody(decoder.get(), size);
    FlushWindow(&decoder->window);
    PlatformClose(gSession.outputHandle);
    gSession.outputHandle = kInvalidFileHandle;
    PlatformClose(gSession.archiveHandle);
    gSession.archiveHandle = kInvalidFileHandle;

    Decoded result;
    result.bytes = ReadFile(output);
    result.captured.assign(capture.begin(), capture.begin() + std::min<int64_t>(size, kHistorySlotSize));
    result.endOfArchive = gSession.endOfArchive;
    result.streamPosition = gSession.streamPosition;
    return result;
}

enum class PreloadKind { kNone, kDataStart, kUnrelated };

struct Case {
    const char* name;
    Bytes data;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = [] {
        std::vector<Case> c;
        c.push_back({"empty", {}});
        c.push_back({"one byte", {0x41}});
        c.push_back({"window size", MakeText(kWindowSize, 7)});
        c.push_back({"runs", MakeRuns(400000, 11)});
        c.push_back({"random", MakeRandom(300000, 13)});
        c.push_back({"text", MakeText(350000, 17)});
        return c;
    }();
    return cases;
}

Bytes PreloadFor(PreloadKind kind, const Bytes& data) {
    switch (kind) {
    case PreloadKind::kNone:
        return {};
    case PreloadKind::kDataStart: {
        // The whole window's worth of history: the data's own start (padded
        // with text when the data are short), so matches reach back exactly
        // 16,384 bytes into the preload.
        Bytes preload(data.begin(), data.begin() + std::min<size_t>(data.size(), kMaxPreload));
        Bytes pad = MakeText(kMaxPreload - preload.size(), 3);
        preload.insert(preload.begin(), pad.begin(), pad.end());
        return preload;
    }
    case PreloadKind::kUnrelated:
        return MakeText(777, 5);
    }
    return {};
}

class RoundTrip : public ::testing::TestWithParam<std::tuple<size_t, PreloadKind>> {};

TEST_P(RoundTrip, DecodesToTheOriginalThroughTheArchive) {
    const Case& c = Cases()[std::get<0>(GetParam())];
    PreloadKind kind = std::get<1>(GetParam());
    Bytes preload = PreloadFor(kind, c.data);

    BitWriter writer;
    EntryBodyStats stats = EncodeEntryBody(writer, preload.data(), static_cast<int32_t>(preload.size()),
                                           c.data.data(), static_cast<int64_t>(c.data.size()));
    Bytes stream = writer.TakeBytes();
    if (c.data.empty()) {
        EXPECT_TRUE(stream.empty());
    }

    ArchiveOptions options;
    ArchiveImage image = BuildArchive(options, stream);
    std::filesystem::path path = TempFolder() / ("case" + std::to_string(std::get<0>(GetParam())) + "_" +
                                                 std::to_string(static_cast<int>(kind)));
    WriteFileBytes(path.string(), image.bytes);

    Decoded decoded = DecodeArchive(path, preload, static_cast<int64_t>(c.data.size()));
    ASSERT_EQ(decoded.bytes.size(), c.data.size()) << c.name;
    EXPECT_TRUE(decoded.bytes == c.data) << c.name;
    EXPECT_TRUE(std::equal(decoded.captured.begin(), decoded.captured.end(), c.data.begin())) << c.name;
    // The last item ends in the stream's last byte: the decoder took every
    // byte and the end of the archive was reached exactly there.
    EXPECT_EQ(decoded.streamPosition, static_cast<int64_t>(stream.size())) << c.name;
    EXPECT_EQ(decoded.endOfArchive, !stream.empty()) << c.name;

    // The encoder did the work its input invites.
    std::string name = c.name;
    if (name == "runs") {
        EXPECT_GT(stats.longMatches, 0);
        EXPECT_LT(stream.size(), c.data.size() / 10);
    }
    if (name == "text") {
        EXPECT_LT(stream.size(), c.data.size() / 2);
    }
    if (name == "random") {
        EXPECT_LT(stream.size(), c.data.size() + c.data.size() / 50);
    }
    if (kind == PreloadKind::kDataStart && c.data.size() >= static_cast<size_t>(kMaxPreload)) {
        EXPECT_GT(stats.preloadMatches, 0) << c.name;
    }
    if (kind == PreloadKind::kDataStart && name == "random") {
        // The first 16,384 bytes repeat the preload: they cost next to nothing.
        BitWriter alone;
        EncodeEntryBody(alone, nullptr, 0, c.data.data(), static_cast<int64_t>(c.data.size()));
        EXPECT_LT(stream.size() + 15000, alone.TakeBytes().size());
    }
}

std::string CaseName(const ::testing::TestParamInfo<RoundTrip::ParamType>& info) {
    static const char* const kPreloads[] = {"NoPreload", "DataStartPreload", "UnrelatedPreload"};
    std::string name = Cases()[std::get<0>(info.param)].name;
    std::string out;
    bool upper = true;
    for (char ch : name) {
        if (ch == ' ') {
            upper = true;
            continue;
        }
        out += upper ? static_cast<char>(toupper(ch)) : ch;
        upper = false;
    }
    return out + "_" + kPreloads[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTrip,
                         ::testing::Combine(::testing::Range<size_t>(0, 6),
                                            ::testing::Values(PreloadKind::kNone, PreloadKind::kDataStart,
                                                              PreloadKind::kUnrelated)),
                         CaseName);

// Every encoder level produces the same bytes after decoding, including
// the fast ones without lazy evaluation.
TEST(RoundTripLevels, EveryLevelDecodesToTheOriginal) {
    Bytes data = MakeText(60000, 23);
    Bytes runs = MakeRuns(60000, 29);
    data.insert(data.end(), runs.begin(), runs.end());
    Bytes preload = MakeText(5000, 31);
    for (int level = 1; level <= 9; ++level) {
        BitWriter writer;
        EncodeEntryBody(writer, preload.data(), static_cast<int32_t>(preload.size()), data.data(),
                        static_cast<int64_t>(data.size()), EncoderOptionsForLevel(level));
        Bytes stream = writer.TakeBytes();
        std::filesystem::path path = TempFolder() / ("level" + std::to_string(level));
        WriteFileBytes(path.string(), BuildArchive(ArchiveOptions(), stream).bytes);
        Decoded decoded = DecodeArchive(path, preload, static_cast<int64_t>(data.size()));
        EXPECT_TRUE(decoded.bytes == data) << "level " << level;
        EXPECT_EQ(decoded.streamPosition, static_cast<int64_t>(stream.size())) << "level " << level;
    }
}

// A protected archive: the password's bytes are mixed into every data byte
// across blocks, and the extractor asks for the password on standard input.
TEST(RoundTripPassword, DecodesWithThePasswordTyped) {
    Bytes data = MakeText(30000, 37);
    BitWriter writer;
    EncodeEntryBody(writer, nullptr, 0, data.data(), static_cast<int64_t>(data.size()));
    Bytes stream = writer.TakeBytes();
    ArchiveOptions options;
    options.password = "s3cr\xE9t";
    options.passwordFlag = 0xA5;
    options.message = "Two lines\r\nof message";
    options.runCommand = "setup.exe";
    std::filesystem::path path = TempFolder() / "password";
    WriteFileBytes(path.string(), BuildArchive(options, stream).bytes);

    std::filesystem::path input = TempFolder() / "password.in";
    WriteFileBytes(input.string(), Bytes{'s', '3', 'c', 'r', 0xE9, 't', '\r', '\n'});
    int savedInput = dup(0);
    FILE* typed = fopen(input.c_str(), "rb");
    ASSERT_NE(typed, nullptr);
    dup2(fileno(typed), 0);
    Decoded decoded = DecodeArchive(path, {}, static_cast<int64_t>(data.size()));
    dup2(savedInput, 0);
    close(savedInput);
    fclose(typed);

    EXPECT_TRUE(gSession.passwordFlag);
    EXPECT_STREQ(ByteStringText(&gSession.runCommand), "setup.exe");
    EXPECT_TRUE(decoded.bytes == data);
    EXPECT_TRUE(decoded.endOfArchive);
}

}  // namespace
