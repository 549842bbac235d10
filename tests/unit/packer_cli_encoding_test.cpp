// The packer's compression: the cost-based parse and the choice of
// back-references, checked by decoding whole archives with the core's own
// expansion steps, and the streaming archive writer against BuildArchive.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/container/open_archive.h"
#include "core/driver/archive_session.h"
#include "core/expansion/expand_archive.h"
#include "packer/archive_file_writer.h"
#include "packer/entry_writer.h"
#include "packer/reference_choice.h"
#include "platform/platform.h"
#include "tests/support/run_program.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"int ", "return ", "archive", "(x)", ";\n", "window ", "{\n", "}\n",
                                         "const ", "match", " = ", "0x7F", "//", "history"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < size) text += kWords[rng() % 14];
    text.resize(size);
    return Bytes(text.begin(), text.end());
}

Bytes Noise(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (uint8_t& c : b) c = static_cast<uint8_t>(rng() >> 24);
    return b;
}

// Runs of one byte longer than the longest match, repeats at every
// distance up to the window's edge, and noise.
Bytes Mixed(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < size) {
        switch (rng() % 4) {
            case 0: b.insert(b.end(), 1 + rng() % 9000, static_cast<uint8_t>(rng())); break;
            case 1:
                if (b.size() > 20000) {
                    size_t from = b.size() - (1 + rng() % 16384), length = 2 + rng() % 5000;
                    for (size_t i = 0; i < length; ++i) b.push_back(b[from + i]);
                }
                break;
            case 2: { Bytes t = Text(1 + rng() % 3000, rng()); b.insert(b.end(), t.begin(), t.end()); break; }
            default: { Bytes n = Noise(1 + rng() % 500, rng()); b.insert(b.end(), n.begin(), n.end()); }
        }
    }
    b.resize(size);
    return b;
}

// Expands an archive image with the core's steps into memory: the bytes
// of every file entry in order.
std::vector<Bytes> ExpandInProcess(const Bytes& image) {
    std::string dir = MakeTempDir("packer-encoding");
    WriteFileBytes(dir + "/a.twk", std::string(image.begin(), image.end()));
    ResetArchiveSession();
    gSession.unattended = true;
    std::string path = dir + "/a.twk";
    ByteStringAssign(&gSession.archivePath, path.data(), path.size());
    OpenArchiveFile();
    std::vector<Bytes> files;
    ExpansionState* state = BeginExpansion();
    while (ReadNextEntry(state, "")) {
        if (state->record.isFolder) continue;
        std::string out = dir + "/out" + std::to_string(files.size());
        gSession.outputHandle = PlatformCreateForWrite(out.c_str());
        DecodeFileEntry(state, false);
        FlushWindow(&state->decoder.window);
        PlatformClose(gSession.outputHandle);
        gSession.outputHandle = kInvalidFileHandle;
        std::string bytes = ReadFileBytes(out);
        files.emplace_back(bytes.begin(), bytes.end());
    }
    EndExpansion(state);
    return files;
}

// Entries for `contents`, each with the reference ChooseReference picks.
std::vector<uint8_t> StreamOf(const std::vector<Bytes>& contents, const EncoderOptions& options,
                              std::vector<ReferenceChoice>* choices = nullptr) {
    std::vector<uint8_t> stream;
    HistoryMirror history;
    std::string previous;
    for (size_t i = 0; i < contents.size(); ++i) {
        EntryInput input;
        input.name = "f" + std::to_string(i);
        input.contents = contents[i];
        ReferenceChoice c = ChooseReference(history, input.contents.data(), static_cast<int64_t>(input.contents.size()),
                                            options);
        if (choices) choices->push_back(c);
        input.backReference = c.backReference;
        input.prefixLength = c.prefixLength;
        AppendEntryRecord(stream, input, history, previous, options);
    }
    return stream;
}

TEST(PackerOptimalParse, DecodesToTheOriginalAndBeatsTheLazyParse) {
    const std::vector<Bytes> files = {Mixed(400000, 1), Text(70000, 2), Noise(30000, 3), Bytes{7}, Text(5000, 2)};
    EncoderOptions lazy = EncoderOptionsForLevel(6);
    for (int level : {7, 9}) {
        EncoderOptions optimal = EncoderOptionsForLevel(level);
        ASSERT_TRUE(optimal.optimal);
        std::vector<uint8_t> stream = StreamOf(files, optimal);
        std::vector<Bytes> expanded = ExpandInProcess(BuildArchive(ArchiveOptions(), stream).bytes);
        ASSERT_EQ(expanded.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) EXPECT_TRUE(expanded[i] == files[i]) << "level " << level << " file " << i;
        EXPECT_LT(stream.size(), StreamOf(files, lazy).size()) << "level " << level;
    }
}

TEST(PackerReferenceChoice, LongestPrefixAndPricedPreloads) {
    HistoryMirror history;
    Bytes shared = Text(3000, 9);
    Bytes a = shared;  // shares 3,000 bytes
    a.insert(a.end(), 100, 'a');
    Bytes b(shared.begin(), shared.begin() + 1000);  // shares 1,000 bytes
    b.insert(b.end(), 100, 'b');
    RecordFileEntry(history, a.data(), static_cast<int64_t>(a.size()));
    RecordFileEntry(history, b.data(), static_cast<int64_t>(b.size()));
    RecordFileEntry(history, a.data(), static_cast<int64_t>(a.size()));  // the same prefix, nearer

    Bytes file = shared;
    file.insert(file.end(), 50, 'z');
    ReferenceChoice longest = LongestPrefixReference(history, file.data(), static_cast<int64_t>(file.size()));
    EXPECT_EQ(longest.backReference, 1u);
    EXPECT_EQ(longest.prefixLength, 3000);

    // A file that begins like the oldest entry only for one byte but goes on
    // like its body: pricing the preloads finds it; the previous file's
    // preload is unrelated noise.
    HistoryMirror h2;
    Bytes body = Text(12000, 21);
    Bytes old = Bytes{'#'};
    old.insert(old.end(), body.begin(), body.end());
    Bytes noise = Noise(12000, 22);
    RecordFileEntry(h2, old.data(), static_cast<int64_t>(old.size()));
    for (int i = 0; i < 3; ++i) RecordFileEntry(h2, noise.data(), static_cast<int64_t>(noise.size()));
    Bytes similar = Bytes{'#', '!'};
    similar.insert(similar.end(), body.begin() + 1, body.begin() + 9000);
    EncoderOptions options = EncoderOptionsForLevel(9);
    ReferenceChoice priced = ChooseReference(h2, similar.data(), static_cast<int64_t>(similar.size()), options);
    EXPECT_EQ(priced.backReference, 4u);
    EXPECT_EQ(priced.prefixLength, 1);
    options.referenceTrials = 0;
    EXPECT_EQ(ChooseReference(h2, similar.data(), static_cast<int64_t>(similar.size()), options).backReference, 0u);

    // More than 256 files: references stay within the last 255 and the
    // archive expands to the same bytes.
    std::vector<Bytes> many;
    for (int i = 0; i < 300; ++i) {
        Bytes f = Text(200 + (i % 7) * 300, 1000 + i % 5);
        many.push_back(f);
    }
    std::vector<ReferenceChoice> choices;
    std::vector<uint8_t> stream = StreamOf(many, EncoderOptionsForLevel(9), &choices);
    for (const ReferenceChoice& c : choices) EXPECT_LE(c.backReference, 255u);
    std::vector<Bytes> expanded = ExpandInProcess(BuildArchive(ArchiveOptions(), stream).bytes);
    ASSERT_EQ(expanded.size(), many.size());
    for (size_t i = 0; i < many.size(); ++i) EXPECT_TRUE(expanded[i] == many[i]) << i;
}

TEST(PackerArchiveFileWriter, WritesWhatBuildArchiveBuilds) {
    Bytes stream = Noise(3 * 4096 + 77, 5);
    ArchiveOptions options;
    options.leading = Bytes{'M', 'Z', 1, 2, 3};
    options.message = "hello\r\nworld";
    options.runCommand = "setup.exe";
    options.password = "pw";
    std::string dir = MakeTempDir("packer-file-writer");
    std::string path = dir + "/out";
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ArchiveFileWriter writer(file, options);
    // In uneven pieces, across block boundaries.
    for (size_t at = 0; at < stream.size();) {
        size_t n = std::min<size_t>(stream.size() - at, 1000 + at % 3001);
        writer.Append(stream.data() + at, n);
        at += n;
    }
    writer.Finish();
    fclose(file);
    std::string written = ReadFileBytes(path);
    Bytes expected = BuildArchive(options, stream).bytes;
    EXPECT_TRUE(Bytes(written.begin(), written.end()) == expected);
}

}  // namespace
