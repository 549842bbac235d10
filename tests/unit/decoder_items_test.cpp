// The decoder on item streams written by hand: integer codes, literals,
// matches of every length form, distances, the window's slides and writes.
// Each stream goes through a real archive file, so bits are read through the
// block stream as in the extractor.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/container/open_archive.h"
#include "core/decoder/output_window.h"
#include "core/driver/archive_session.h"
#include "packer/archive_writer.h"
#include "packer/bit_writer.h"
#include "packer/model_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string TempPath(const std::string& name) {
    mkdir(TARNWICK_TEST_TMP, 0777);
    return std::string(TARNWICK_TEST_TMP) + "/decoder_items_" + name;
}

// Writes `stream` as the block stream of an archive and opens it; the
// next NextStreamByte delivers stream[0].
void OpenStream(const Bytes& stream, const std::string& name) {
    std::string path = TempPath(name + ".twk");
    WriteFileBytes(path, BuildArchive(ArchiveOptions(), stream).bytes);
    ResetArchiveSession();
    gSession.unattended = true;
    ByteStringAssign(&gSession.archivePath, path.data(), path.size());
    OpenArchiveFile();
    gSession.endOfArchive = false;
}

int64_t FileSize(const std::string& path) {
    struct stat st = {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

Bytes ReadAll(const std::string& path) {
    Bytes bytes(FileSize(path));
    FILE* f = fopen(path.c_str(), "rb");
    if (f) {
        EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), f), bytes.size());
        fclose(f);
    }
    return bytes;
}

TEST(IntegerCode, ReadsTheFormatsExamples) {
    // 0xB4 = bits 0,0,1,0,1,1,0,1: 2, 0, 0, 1, ending on a byte boundary.
    // 0x00 0x03: eight zeros, the one bit, then 1,0,0,0,0,0,0: 192.
    // 0xAA = bits 0,1,0,1,...: 1 and a third bit, then a reset drops the
    // rest of that byte; 0x01 then gives 0.
    OpenStream({0xB4, 0x00, 0x03, 0xAA, 0x01}, "integers");
    BitReader bits;
    ResetBitReader(&bits);
    for (uint64_t expected : {2, 0, 0, 1}) EXPECT_EQ(NextInteger(&bits), expected);
    EXPECT_EQ(gSession.streamPosition, 1);
    EXPECT_EQ(NextInteger(&bits), 192u);
    EXPECT_EQ(gSession.streamPosition, 3);
    EXPECT_EQ(NextInteger(&bits), 1u);
    EXPECT_EQ(NextBit(&bits), 0);
    ResetBitReader(&bits);
    EXPECT_EQ(NextInteger(&bits), 0u);
    EXPECT_EQ(gSession.streamPosition, 5);
    EXPECT_TRUE(gSession.endOfArchive);
}

TEST(IntegerCode, LongZeroRunsKeepTheLast64Bits) {
    struct Case { int zeros; uint64_t payload; uint64_t expected; } cases[] = {
        // 64 zeros: the leading one lands on bit 63.
        {64, 0x0123456789ABCDEFull & ((1ull << 63) - 1), (1ull << 63) | (0x0123456789ABCDEFull & ((1ull << 63) - 1))},
        // 65 zeros: the leading one is shifted out; the last 64 bits remain.
        {65, 0xFEDCBA9876543210ull, 0xFEDCBA9876543210ull},
    };
    for (const Case& c : cases) {
        BitWriter w;
        for (int i = 0; i < c.zeros; i++) w.WriteBit(0);
        w.WriteBit(1);
        for (int i = c.zeros - 2; i >= 0; i--) w.WriteBit(i < 64 ? (int)(c.payload >> i & 1) : 0);
        w.Finish();
        OpenStream(w.TakeBytes(), "zeros" + std::to_string(c.zeros));
        BitReader bits;
        ResetBitReader(&bits);
        EXPECT_EQ(NextInteger(&bits), c.expected) << c.zeros;
    }
}

// Items as the format codes them, written with the packer's model encoders
// on the decoder's rebuild schedule, and applied to a plain byte vector as
// the reference.
struct Item { int length; int distance; uint8_t literal; int symbolOverride; };
Item Literal(uint8_t b) { return {0, 0, b, -1}; }
Item Match(int length, int distance) { return {length, distance, 0, -1}; }

struct ItemStream {
    BitWriter w;
    std::unique_ptr<ModelEncoder> literalLength = std::make_unique<ModelEncoder>();
    std::unique_ptr<ModelEncoder> distance = std::make_unique<ModelEncoder>();
    int64_t n = 0, m = 0;
    ItemStream() {
        ResetModelEncoder(literalLength.get(), kLiteralLengthModel);
        ResetModelEncoder(distance.get(), kDistanceModel);
        BuildModelEncoder(distance.get());
    }
    void Put(const Item& item) {
        if (LiteralLengthBuildDue(n++)) BuildModelEncoder(literalLength.get());
        if (item.length == 0) {
            EncodeSymbol(literalLength.get(), w, item.literal);
            return;
        }
        if (item.length <= 256) {
            EncodeSymbol(literalLength.get(), w, item.length + 254);
        } else {
            EncodeSymbol(literalLength.get(), w, 511);
            w.WriteBitsLsbFirst(item.length - 257, 12);
        }
        EncodeSymbol(distance.get(), w, (item.distance - 1) / 32);
        w.WriteBitsLsbFirst((item.distance - 1) % 32, 5);
        if (DistanceBuildDue(++m)) BuildModelEncoder(distance.get());
    }
};

Bytes Apply(const Bytes& preload, const std::vector<Item>& items) {
    Bytes all = preload;
    for (const Item& item : items) {
        if (item.length == 0) all.push_back(item.literal);
        for (int i = 0; i < item.length; i++) all.push_back(all[all.size() - item.distance]);
    }
    return Bytes(all.begin() + preload.size(), all.end());
}

// Decodes `items` (encoded after `preload`) into a file; returns its bytes.
Bytes Decode(const std::string& name, const Bytes& preload, const std::vector<Item>& items, int64_t toProduce) {
    ItemStream s;
    for (const Item& item : items) s.Put(item);
    s.w.Finish();
    Bytes stream = s.w.TakeBytes();
    stream.push_back(0x5A);  // the next record's first byte: must stay unread
    OpenStream(stream, name);
    auto decoder = std::make_unique<EntryDecoder>();
    Bytes capture(kHistorySlotSize);
    std::string out = TempPath(name + ".out");
    gSession.outputHandle = PlatformCreateForWrite(out.c_str());
    ResetBitReader(&decoder->bits);
    StartOutputWindow(&decoder->window, preload.data(), (int32_t)preload.size(), 0, capture.data(), false);
    DecodeEntryBody(decoder.get(), toProduce);
    FlushWindow(&decoder->window);
    PlatformClose(gSession.outputHandle);
    gSession.outputHandle = kInvalidFileHandle;
    EXPECT_FALSE(gSession.endOfArchive) << name << ": read into the next record";
    PlatformClose(gSession.archiveHandle);
    gSession.archiveHandle = kInvalidFileHandle;
    return ReadAll(out);
}

int64_t Produced(const std::vector<Item>& items) {
    int64_t n = 0;
    for (const Item& item : items) n += item.length ? item.length : 1;
    return n;
}

TEST(DecodeEntryBody, Items) {
    std::vector<Item> fill;  // 50,000 varied literals: the window slides once
    for (int i = 0; i < 50000; i++) fill.push_back(Literal((uint8_t)(i * 7 + i / 251)));
    std::vector<Item> slideInMatch;  // a match that crosses the slide at 49,152
    for (int i = 0; i < 49100; i++) slideInMatch.push_back(Literal((uint8_t)(i * 13)));
    slideInMatch.push_back(Match(300, 5));
    slideInMatch.push_back(Match(4352, 16384));
    Bytes preload(16384);
    for (size_t i = 0; i < preload.size(); i++) preload[i] = (uint8_t)(i % 251);

    struct Case { const char* name; Bytes preload; std::vector<Item> items; };
    std::vector<Case> cases = {
        {"run of one byte", {}, {Literal(65), Match(10, 1)}},
        {"overlapping pair", {}, {Literal(1), Literal(2), Match(5, 2)}},
        {"shortest and longest short match", {}, {Literal(9), Literal(8), Match(2, 2), Match(256, 3)}},
        {"long matches", {}, {Literal(3), Match(257, 1), Match(258, 1), Match(4352, 1)}},
        {"distance 34 and 16,384", {}, {Literal(1), Match(4352, 1), Literal(2), Match(300, 34), Match(4352, 1),
                                         Match(4352, 1), Match(4352, 1), Match(256, 16384)}},
        {"distance 1 copies the last preloaded byte", preload, {Match(3, 1), Match(100, 16384)}},
        {"matches across the slide", {}, slideInMatch},
        {"one slide after many literals", preload, fill},
    };
    for (const Case& c : cases) {
        Bytes expected = Apply(c.preload, c.items);
        EXPECT_EQ(Decode(c.name, c.preload, c.items, Produced(c.items)), expected) << c.name;
    }
}

TEST(DecodeEntryBody, LastMatchIsCopiedWhole) {
    // Asked for 5 bytes, the match delivers all 10: the file is longer.
    std::vector<Item> items = {Literal(7), Match(10, 1)};
    EXPECT_EQ(Decode("whole", {}, items, 5), Apply({}, items));
    // Nothing to produce: no bit is read.
    EXPECT_EQ(Decode("nothing", {}, {}, 0), Bytes());
}

TEST(DecodeEntryBody, DistanceBeforeTheWindowIsBroken) {
    // The extractor's console is standard output; the death test reads
    // standard error, so the dying child points one at the other.
    EXPECT_EXIT((dup2(2, 1), Decode("before", Bytes(5, 1), {Match(4, 7)}, 4)), testing::ExitedWithCode(2),
                "This file is broken\\.\r\nPress Enter key\\.");
    EXPECT_EXIT((dup2(2, 1), Decode("before-empty", {}, {Literal(1), Match(4, 2)}, 5)),
                testing::ExitedWithCode(2), "This file is broken");
}

TEST(OutputWindow, WritesInSlidesOf32KiB) {
    struct Case { int32_t preload; int64_t silentUpTo; int64_t firstWrite; } cases[] = {
        {10000, 39152, 22768},
        {0, 49152, 32768},
    };
    for (const Case& c : cases) {
        std::string out = TempPath("slides" + std::to_string(c.preload));
        ResetArchiveSession();
        gSession.outputHandle = PlatformCreateForWrite(out.c_str());
        auto window = std::make_unique<OutputWindow>();
        Bytes preload(c.preload, 0xEE), capture(kHistorySlotSize);
        StartOutputWindow(window.get(), preload.data(), c.preload, 0, capture.data(), false);
        for (int64_t i = 0; i < c.silentUpTo; i++) PutByte(window.get(), (uint8_t)i);
        EXPECT_EQ(FileSize(out), 0) << c.preload;
        PutByte(window.get(), 0);
        EXPECT_EQ(FileSize(out), c.firstWrite) << c.preload;
        FlushWindow(window.get());
        PlatformClose(gSession.outputHandle);
        Bytes written = ReadAll(out);
        ASSERT_EQ((int64_t)written.size(), c.silentUpTo + 1);
        for (int64_t i = 0; i < c.silentUpTo; i++) ASSERT_EQ(written[i], (uint8_t)i) << i;
        // The first 24,576 produced bytes are captured for later entries.
        for (int64_t i = 0; i < kHistorySlotSize; i++) ASSERT_EQ(capture[i], (uint8_t)i) << i;
    }
}

}  // namespace
