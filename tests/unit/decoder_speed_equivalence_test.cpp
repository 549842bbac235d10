// The fast decoder against the plain rules: linear-time tree builds against
// the insertion walk and bubble sort, table decoding against the tree walk,
// the bit input's look-ahead against bit-by-bit reading at block
// boundaries, and the table-driven CRC and block-wise keystream against
// their one-step definitions.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/container/block_stream.h"
#include "core/container/crc16.h"
#include "core/container/keystream.h"
#include "core/container/open_archive.h"
#include "core/decoder/decode_table.h"
#include "core/decoder/output_window.h"
#include "core/driver/archive_session.h"
#include "packer/archive_writer.h"
#include "packer/bit_writer.h"
#include "packer/lz77_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The tree build as the format states it: bubble passes from the back, then
// 511 merges that insert each new node by walking toward the front.
struct PlainTree {
    int64_t weight[kModelNodes];
    int16_t child0[kModelNodes];
    int16_t child1[kModelNodes];
};

void PlainBuild(const int64_t* weights, int32_t* order, PlainTree* tree) {
    int16_t list[kModelSymbols];
    for (int s = 0; s < kModelSymbols; s++) {
        tree->weight[s] = weights[s];
        tree->child0[s] = tree->child1[s] = kNoChild;
        list[order[s]] = (int16_t)s;
    }
    int front = 0;
    while (front <= kModelSymbols - 2) {
        int smallestSwap = -1;
        for (int j = kModelSymbols - 2; j >= front; j--) {
            if (tree->weight[list[j + 1]] > tree->weight[list[j]]) {
                std::swap(list[j], list[j + 1]);
                smallestSwap = j;
            }
        }
        if (smallestSwap < 0) break;
        front = smallestSwap + 1;
    }
    for (int k = 0; k < kModelSymbols; k++) order[list[k]] = k;
    for (int k = kModelSymbols - 1; k >= 1; k--) {
        int16_t x = list[k - 1], y = list[k];
        int16_t inner = (int16_t)(kModelNodes - k);
        tree->weight[inner] = tree->weight[x] + tree->weight[y];
        tree->child0[inner] = x;
        tree->child1[inner] = y;
        int place = k - 1;
        while (place > 0 && tree->weight[list[place - 1]] < tree->weight[inner]) {
            list[place] = list[place - 1];
            place--;
        }
        list[place] = inner;
    }
}

// Code of every symbol as the bits read, first bit first.
std::vector<std::string> Codes(const HuffmanModel& model) {
    std::vector<std::string> codes(kModelSymbols);
    std::vector<std::pair<int, std::string>> stack = {{kModelRoot, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        const CodeNode& n = model.nodes[node];
        if (n.child0 == kNoChild) {
            codes[n.symbol] = path;
            continue;
        }
        stack.push_back({n.child0, path + "0"});
        stack.push_back({n.child1, path + "1"});
    }
    return codes;
}

// Weight histories of the kinds decoding meets: near-uniform counts, a
// skewed alphabet, a few symbols only, runs of one symbol, and counts that
// grow like Fibonacci numbers (the deepest trees 64-bit weights allow).
enum class History { kUniform, kSkewed, kFewSymbols, kBursts, kFibonacci };

void Grow(History kind, std::mt19937_64& rng, int step, int64_t* weights) {
    switch (kind) {
    case History::kUniform:
        for (int i = 0; i < 1024; i++) weights[rng() % kModelSymbols]++;
        break;
    case History::kSkewed:
        for (int i = 0; i < 1024; i++) {
            double u = std::uniform_real_distribution<double>(0, 1)(rng);
            weights[std::min<int>(kModelSymbols - 1, (int)(u * u * u * u * kModelSymbols))]++;
        }
        break;
    case History::kFewSymbols:
        for (int i = 0; i < 300; i++) weights[(rng() % 5) * 97]++;
        break;
    case History::kBursts:
        weights[rng() % kModelSymbols] += 1 + rng() % 2000;
        weights[rng() % 8] += rng() % 3;
        break;
    case History::kFibonacci: {
        // Symbol s (s < 80) at about phi^s; the rest stay at their start.
        int64_t a = 1, b = 1;
        for (int s = 0; s < 80 && s <= step * 8; s++) {
            weights[(s * 37) % kModelSymbols] = std::max(weights[(s * 37) % kModelSymbols], a);
            int64_t c = a + b;
            a = b;
            b = c;
        }
        break;
    }
    }
}

void ExpectSameTree(const HuffmanModel& model, const PlainTree& plain, const int32_t* plainOrder,
                    const std::string& where) {
    for (int n = 0; n < kModelNodes; n++) {
        ASSERT_EQ(model.nodes[n].weight, plain.weight[n]) << where << " node " << n;
        ASSERT_EQ(model.nodes[n].child0, plain.child0[n]) << where << " node " << n;
        ASSERT_EQ(model.nodes[n].child1, plain.child1[n]) << where << " node " << n;
        if (n < kModelSymbols) ASSERT_EQ(model.nodes[n].symbol, n) << where;
    }
    for (int s = 0; s < kModelSymbols; s++) ASSERT_EQ(model.order[s], plainOrder[s]) << where << " symbol " << s;
}

TEST(LinearTreeBuild, SameTreesAsThePlainRuleOnRandomHistories) {
    const History kinds[] = {History::kUniform, History::kSkewed, History::kFewSymbols, History::kBursts,
                             History::kFibonacci};
    for (History kind : kinds) {
        for (ModelKind modelKind : {kLiteralLengthModel, kDistanceModel}) {
            for (uint64_t seed = 1; seed <= 6; seed++) {
                std::mt19937_64 rng(seed * 1000 + (int)kind);
                auto model = std::make_unique<HuffmanModel>();
                auto plain = std::make_unique<PlainTree>();
                ResetModel(model.get(), modelKind);
                int32_t plainOrder[kModelSymbols];
                for (int s = 0; s < kModelSymbols; s++) plainOrder[s] = s;
                for (int step = 0; step < 40; step++) {
                    std::string where = "kind " + std::to_string((int)kind) + " model " +
                                        std::to_string((int)modelKind) + " seed " + std::to_string(seed) +
                                        " build " + std::to_string(step);
                    PlainBuild(model->weights, plainOrder, plain.get());
                    BuildCodeTree(model.get());
                    ExpectSameTree(*model, *plain, plainOrder, where);
                    if (HasFatalFailure()) return;
                    Grow(kind, rng, step, model->weights);
                }
            }
        }
    }
}

TEST(LinearTreeBuild, TiesBetweenManyEqualWeights) {
    // Equal weights give groups of equal inner nodes, taken newest first;
    // a few heavier symbols and the previous order decide the rest.
    for (int64_t heavy : {1, 2, 3, 255, 256, 257, 1000}) {
        auto model = std::make_unique<HuffmanModel>();
        auto plain = std::make_unique<PlainTree>();
        ResetModel(model.get(), kDistanceModel);
        int32_t plainOrder[kModelSymbols];
        for (int s = 0; s < kModelSymbols; s++) plainOrder[s] = s;
        for (int round = 0; round < 4; round++) {
            PlainBuild(model->weights, plainOrder, plain.get());
            BuildCodeTree(model.get());
            ExpectSameTree(*model, *plain, plainOrder, "heavy " + std::to_string(heavy));
            if (HasFatalFailure()) return;
            for (int s = round; s < kModelSymbols; s += 7) model->weights[s] += heavy;
            model->weights[511 - round] += 2 * heavy;
        }
    }
}

std::string TempPath(const std::string& name) {
    mkdir(TARNWICK_TEST_TMP, 0777);
    return std::string(TARNWICK_TEST_TMP) + "/decoder_speed_" + name;
}

// Writes `stream` as the block stream of an archive and opens it; the next
// NextStreamByte delivers stream[0]. `damagedBlock` (from 0) gets one data
// bit flipped after its check bytes were computed.
void OpenStream(const Bytes& stream, const std::string& name, int damagedBlock = -1) {
    std::string path = TempPath(name + ".twk");
    ArchiveImage image = BuildArchive(ArchiveOptions(), stream);
    if (damagedBlock >= 0) image.bytes[image.blockStarts.at((size_t)damagedBlock) + 3] ^= 0x10;
    WriteFileBytes(path, image.bytes);
    ResetArchiveSession();
    gSession.unattended = true;
    ByteStringAssign(&gSession.archivePath, path.data(), path.size());
    OpenArchiveFile();
    gSession.endOfArchive = false;
}

void CloseStream() {
    PlatformClose(gSession.archiveHandle);
    gSession.archiveHandle = kInvalidFileHandle;
}

// Symbols written with the codes of a tree and read back with the table
// of the same tree, through the block stream: short codes from the first
// level, long ones through second levels and walks, and codes that cross
// block boundaries.
TEST(DecodeTable, DecodesWhatTheTreeEncodes) {
    const History kinds[] = {History::kUniform, History::kSkewed, History::kFewSymbols, History::kFibonacci};
    int caseNumber = 0;
    for (History kind : kinds) {
        for (uint64_t seed = 1; seed <= 3; seed++) {
            std::mt19937_64 rng(seed * 77 + (int)kind);
            auto model = std::make_unique<HuffmanModel>();
            auto table = std::make_unique<DecodeTable>();
            ResetModel(model.get(), kLiteralLengthModel);
            for (int step = 0; step < 12; step++) Grow(kind, rng, step, model->weights);
            BuildCodeTree(model.get());
            BuildDecodeTable(table.get(), model.get());
            std::vector<std::string> codes = Codes(*model);
            size_t longest = 0;
            for (const std::string& code : codes) longest = std::max(longest, code.size());

            // Every symbol at least once, then random ones, favouring the
            // longest codes so that deep walks are common.
            std::vector<int> symbols;
            for (int s = 0; s < kModelSymbols; s++) symbols.push_back(s);
            for (int i = 0; i < 20000; i++) {
                int s = (int)(rng() % kModelSymbols);
                if (i % 3 == 0) s = (int)(std::max_element(codes.begin(), codes.end(),
                                                            [](auto& a, auto& b) { return a.size() < b.size(); }) -
                                           codes.begin());
                symbols.push_back(s);
            }
            BitWriter writer;
            for (int s : symbols)
                for (char bit : codes[s]) writer.WriteBit(bit == '1');
            Bytes stream = writer.TakeBytes();
            OpenStream(stream, "table" + std::to_string(caseNumber++));
            BitReader reader;
            ResetBitReader(&reader);
            int64_t weightsBefore = model->weights[symbols[0]];
            for (size_t i = 0; i < symbols.size(); i++) {
                int got = DecodeTableSymbol(table.get(), model.get(), &reader);
                ASSERT_EQ(got, symbols[i]) << "symbol " << i << ", longest code " << longest;
            }
            EXPECT_GT(model->weights[symbols[0]], weightsBefore);
            SettleBitReader(&reader);
            EXPECT_EQ(gSession.streamPosition, (int64_t)stream.size());
            EXPECT_TRUE(gSession.endOfArchive);
            CloseStream();
            if (kind == History::kFibonacci) EXPECT_GT(longest, 40u);
        }
    }
}

Bytes MakeData(size_t size, uint32_t seed) {
    // Text-like words, repeats at short distances, and noise.
    std::mt19937 rng(seed);
    static const char* const kWords[] = {"block", "stream", "entry", "the", "of", "window", "aaaa", "abab"};
    Bytes out;
    while (out.size() < size) {
        unsigned kind = rng() % 4;
        if (kind == 0) {
            for (int i = 0, n = 1 + rng() % 40; i < n; i++) out.push_back((uint8_t)rng());
        } else if (kind == 1 && out.size() > 20) {
            size_t distance = 1 + rng() % std::min<size_t>(out.size(), 20);
            for (int i = 0, n = 2 + rng() % 200; i < n; i++) out.push_back(out[out.size() - distance]);
        } else {
            const char* w = kWords[rng() % 8];
            out.insert(out.end(), w, w + strlen(w));
            out.push_back(' ');
        }
    }
    out.resize(size);
    return out;
}

struct EntryUnderTest {
    Bytes data;
    Bytes body;  // the compressed bits, padded to a byte
};

EntryUnderTest MakeEntry(size_t size, uint32_t seed) {
    EntryUnderTest entry;
    entry.data = MakeData(size, seed);
    BitWriter writer;
    EncodeEntryBody(writer, nullptr, 0, entry.data.data(), (int64_t)entry.data.size());
    entry.body = writer.TakeBytes();
    return entry;
}

// Reads `count` bytes with NextStreamByte.
Bytes ReadBytes(size_t count) {
    Bytes bytes(count);
    for (uint8_t& b : bytes) NextStreamByte(&b);
    return bytes;
}

// Decodes one entry body that starts after `before` stream bytes, into a
// skipped window (nothing is written), and returns what reached the
// history slot.
Bytes DecodeBody(EntryDecoder* decoder, size_t before, int64_t size) {
    ReadBytes(before);
    static Bytes capture(kHistorySlotSize);
    ResetBitReader(&decoder->bits);
    StartOutputWindow(&decoder->window, nullptr, 0, 0, capture.data(), true);
    DecodeEntryBody(decoder, size);
    return Bytes(capture.begin(), capture.begin() + std::min<int64_t>(size, kHistorySlotSize));
}

// An entry whose bits end at every offset around a block boundary and
// around the stream's end: the stream then stands exactly after the
// entry's last byte, the bytes after it are delivered unchanged, and the
// end of the archive is noticed with the stream's last byte, not before.
TEST(BitInputLookAhead, EntriesEndingAroundBlockBoundaries) {
    EntryUnderTest entry = MakeEntry(30000, 5);
    ASSERT_GT(entry.body.size(), 4200u);
    auto decoder = std::make_unique<EntryDecoder>();
    for (int shift = -9; shift <= 9; shift++) {
        for (size_t after : {0, 1, 2, 5, 4100}) {
            // The body ends `shift` bytes after the second block's end.
            size_t before = 2 * kBlockDataSize + shift - entry.body.size();
            Bytes stream(before, 0x5A);
            stream.insert(stream.end(), entry.body.begin(), entry.body.end());
            for (size_t i = 0; i < after; i++) stream.push_back((uint8_t)(0xA0 + i));
            std::string name = "end" + std::to_string(shift + 9) + "_" + std::to_string(after);
            OpenStream(stream, name);
            Bytes captured = DecodeBody(decoder.get(), before, (int64_t)entry.data.size());
            ASSERT_TRUE(std::equal(captured.begin(), captured.end(), entry.data.begin())) << name;
            ASSERT_EQ(gSession.streamPosition, (int64_t)(before + entry.body.size())) << name;
            ASSERT_EQ(gSession.endOfArchive, after == 0) << name;
            Bytes rest = ReadBytes(after);
            for (size_t i = 0; i < after; i++) ASSERT_EQ(rest[i], (uint8_t)(0xA0 + i)) << name;
            ASSERT_TRUE(gSession.endOfArchive) << name;
            CloseStream();
        }
    }
}

// Two entries back to back, each with its integer codes first, the way
// the expansion loop reads them: NextInteger and DecodeEntryBody leave the
// stream at the next record whatever the bit reader looked at.
TEST(BitInputLookAhead, IntegersAndBodiesOfConsecutiveEntries) {
    EntryUnderTest first = MakeEntry(9000, 7), second = MakeEntry(20000, 8);
    for (size_t gap = 0; gap < 40; gap += 3) {
        BitWriter head1, head2;
        head1.WriteInteger(first.data.size());
        head1.WriteInteger(0);
        head2.WriteInteger(second.data.size());
        head2.WriteInteger(0);
        Bytes h1 = head1.TakeBytes(), h2 = head2.TakeBytes();
        // The integer codes end on a byte of their own here, as the body's
        // bits follow them on the same byte in real records; what counts is
        // where each reader leaves the stream.
        Bytes stream(kBlockDataSize - 5 - gap, 0x11);
        size_t firstAt = stream.size();
        stream.insert(stream.end(), h1.begin(), h1.end());
        stream.insert(stream.end(), first.body.begin(), first.body.end());
        stream.push_back(0xEE);
        stream.insert(stream.end(), h2.begin(), h2.end());
        stream.insert(stream.end(), second.body.begin(), second.body.end());
        stream.push_back(0xEF);
        OpenStream(stream, "pair" + std::to_string(gap));
        auto decoder = std::make_unique<EntryDecoder>();
        ReadBytes(firstAt);
        static Bytes capture(kHistorySlotSize);
        for (const EntryUnderTest* e : {&first, &second}) {
            ResetBitReader(&decoder->bits);
            EXPECT_EQ(NextInteger(&decoder->bits), e->data.size());
            EXPECT_EQ(NextInteger(&decoder->bits), 0u);
            ResetBitReader(&decoder->bits);
            StartOutputWindow(&decoder->window, nullptr, 0, 0, capture.data(), true);
            DecodeEntryBody(decoder.get(), (int64_t)e->data.size());
            size_t kept = std::min<size_t>(e->data.size(), kHistorySlotSize);
            EXPECT_TRUE(std::equal(capture.begin(), capture.begin() + kept, e->data.begin()));
            EXPECT_FALSE(gSession.endOfArchive);
            EXPECT_EQ(ReadBytes(1)[0], e == &first ? 0xEE : 0xEF) << gap;
        }
        EXPECT_TRUE(gSession.endOfArchive);
        CloseStream();
    }
}

// A damaged block right after an entry's last byte is not opened by that
// entry: the entry is decoded whole, and "This file is broken." comes only
// when the next record's first byte is read. A damaged block that holds a
// byte the entry needs ends the decoding.
TEST(BitInputLookAhead, DamagedBlockAfterTheEntryIsOpenedOnlyByTheNextRead) {
    EntryUnderTest entry = MakeEntry(30000, 9);
    size_t before = 2 * kBlockDataSize - entry.body.size();
    Bytes stream(before, 0x33);
    stream.insert(stream.end(), entry.body.begin(), entry.body.end());
    stream.insert(stream.end(), 100, 0x44);
    auto decoder = std::make_unique<EntryDecoder>();

    OpenStream(stream, "damaged_after", 2);
    Bytes captured = DecodeBody(decoder.get(), before, (int64_t)entry.data.size());
    EXPECT_TRUE(std::equal(captured.begin(), captured.end(), entry.data.begin()));
    EXPECT_EQ(gSession.streamPosition, 2 * kBlockDataSize);
    EXPECT_EXIT((dup2(2, 1), ReadBytes(1)), testing::ExitedWithCode(2), "This file is broken.");
    CloseStream();

    OpenStream(stream, "damaged_inside", 1);
    EXPECT_EXIT((dup2(2, 1), DecodeBody(decoder.get(), before, (int64_t)entry.data.size())),
                testing::ExitedWithCode(2), "This file is broken.");
    CloseStream();
}

TEST(MatchCopy, EveryShortDistanceAndLengthRoundTrips) {
    // Periodic runs of every period 1..40 and many lengths, between noise,
    // so that matches of short distances take the pattern fill and longer
    // ones the word copies, across window slides.
    std::mt19937 rng(3);
    Bytes data;
    for (int round = 0; data.size() < 300000; round++) {
        int period = 1 + round % 40;
        int length = 2 + (int)(rng() % 700);
        for (int i = 0; i < period; i++) data.push_back((uint8_t)rng());
        for (int i = 0; i < length; i++) data.push_back(data[data.size() - period]);
    }
    BitWriter writer;
    EncodeEntryBody(writer, nullptr, 0, data.data(), (int64_t)data.size());
    Bytes body = writer.TakeBytes();
    OpenStream(body, "periods");
    std::string out = TempPath("periods.out");
    auto decoder = std::make_unique<EntryDecoder>();
    static Bytes capture(kHistorySlotSize);
    gSession.outputHandle = PlatformCreateForWrite(out.c_str());
    ResetBitReader(&decoder->bits);
    StartOutputWindow(&decoder->window, nullptr, 0, 0, capture.data(), false);
    DecodeEntryBody(decoder.get(), (int64_t)data.size());
    FlushWindow(&decoder->window);
    PlatformClose(gSession.outputHandle);
    gSession.outputHandle = kInvalidFileHandle;
    CloseStream();
    FILE* f = fopen(out.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Bytes written(data.size() + 1);
    written.resize(fread(written.data(), 1, written.size(), f));
    fclose(f);
    EXPECT_TRUE(written == data);
}

TEST(Crc16Table, EqualsTheOneStepRegisterForEveryLength) {
    std::mt19937 rng(11);
    Bytes data(300);
    for (uint8_t& b : data) b = (uint8_t)rng();
    for (size_t n = 0; n <= data.size(); n++) {
        uint32_t reg = 0;
        for (size_t i = 0; i < n; i++) reg = Crc16(reg, data[i]);
        reg = Crc16(Crc16(reg, 0), 0);
        ASSERT_EQ(Crc16Of(data.data(), n), reg) << n;
    }
}

TEST(KeystreamBlock, EqualsTheOneStepRegisterInAnyPieces) {
    std::mt19937 rng(13);
    for (uint32_t seed : {kKeystreamSeed, 0x80000001u, 0x7FFFFFFFu, 1u, 0xFFFFFFFFu}) {
        for (int passwordLength : {0, 1, 3, 8}) {
            std::string password;
            for (int i = 0; i < passwordLength; i++) password += (char)(rng() | 1);
            Bytes data(5000);
            for (uint8_t& b : data) b = (uint8_t)rng();
            // One step at a time, as the format defines it.
            Bytes expected = data;
            uint32_t state = seed;
            int32_t index = 1;
            for (uint8_t& b : expected) {
                if (passwordLength > 0) {
                    b ^= (uint8_t)password[index - 1];
                    index = index == passwordLength ? 1 : index + 1;
                }
                state <<= 1;
                if (state & 0x80000000u) state ^= 0x80000009u;
                b ^= (uint8_t)state;
            }
            uint32_t fastState = seed;
            int32_t fastIndex = 1;
            KeystreamCursor cursor = {&fastState, &fastIndex, (const uint8_t*)password.data(), passwordLength};
            for (size_t at = 0; at < data.size();) {
                size_t piece = std::min<size_t>(data.size() - at, rng() % 20 == 0 ? 0 : 1 + rng() % 700);
                KeystreamApply(&cursor, data.data() + at, piece);
                at += piece;
            }
            ASSERT_TRUE(data == expected) << std::hex << seed << " password " << passwordLength;
            EXPECT_EQ(fastState, state);
            EXPECT_EQ(fastIndex, index);
        }
    }
}

}  // namespace
