// Entry records written by the packer, expanded by the extractor's own
// expansion loop: names shared with the previous record, folder entries,
// prefixes and preloads taken from the history of earlier file entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/container/open_archive.h"
#include "core/driver/archive_session.h"
#include "core/expansion/expand_archive.h"
#include "packer/archive_writer.h"
#include "packer/entry_writer.h"
#include "platform/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"entry", "slot", "prefix", "preload", "window", "record", "name",
                                         "folder", "file", "time", "stamp", "history", "back", "reference"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < size) {
        text += kWords[rng() % std::size(kWords)];
        text += rng() % 9 == 0 ? "\r\n" : " ";
        if (rng() % 5 == 0) text += std::to_string(rng() % 100000);
    }
    text.resize(size);
    return Bytes(text.begin(), text.end());
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

EntryInput File(const std::string& name, Bytes contents, uint64_t backReference = 0, int32_t prefixLength = 0) {
    EntryInput entry;
    entry.name = name;
    entry.contents = std::move(contents);
    entry.backReference = backReference;
    entry.prefixLength = prefixLength;
    entry.creationTime = 0x01D9000000000000ull;
    entry.lastAccessTime = 0x01D9000000000000ull;
    entry.lastWriteTime = 0x01D9000000000000ull;
    return entry;
}

EntryInput Folder(const std::string& name) {
    EntryInput entry;
    entry.name = name;
    entry.isFolder = true;
    return entry;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path NativePath(const std::string& entryName) {
    std::string path = entryName;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

// Writes the records into an archive file and expands it into a fresh
// folder with the extractor's loop.
std::filesystem::path Expand(const std::string& test, const std::vector<EntryInput>& entries) {
    std::filesystem::path root = std::filesystem::path(TARNWICK_TEST_TMP) / "entry_writer" / test;
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "out");
    std::filesystem::path archive = root / "archive.bin";
    WriteFileBytes(archive.string(), BuildArchive(ArchiveOptions(), BuildEntryStream(entries)).bytes);

    ResetArchiveSession();
    ByteStringAssign(&gSession.archivePath, archive.c_str(), archive.native().size());
    OpenArchiveFile();
    std::string target = (root / "out").string() + "/";
    PlatformImportPath(target.data());
    ExpandArchive(target.c_str());
    return root / "out";
}

void ExpectFiles(const std::filesystem::path& out, const std::vector<EntryInput>& entries) {
    for (const EntryInput& entry : entries) {
        std::filesystem::path path = out / NativePath(entry.name);
        if (entry.isFolder) {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << entry.name;
        } else {
            EXPECT_TRUE(ReadFile(path) == entry.contents) << entry.name;
        }
    }
}

TEST(EntryWriter, FoldersPrefixesAndPreloads) {
    Bytes a = Text(30000, 1);  // longer than a history slot keeps
    Bytes small = Text(3000, 2);
    std::vector<EntryInput> entries = {
        Folder("docs"),
        File("docs\\a.txt", a),
        // Prefix of 5,000 bytes; the rest repeats a's bytes after the
        // prefix, which the preload (a's bytes 3,976 .. 20,360) supplies.
        File("docs\\b.txt", Concat(Bytes(a.begin(), a.begin() + 5000), Bytes(a.begin() + 5000, a.begin() + 21000)), 1,
             5000),
        Folder("docs\\sub\\deeper"),
        File("docs\\sub\\deeper\\small.txt", small),
        // No back-reference: the preload is the previous file's bytes.
        File("readme.txt", Concat(small, Text(2000, 3))),
        File("empty.bin", {}),
        // The whole file is a prefix: nothing is decoded.
        File("copy-of-small.txt", small, 3, 3000),
        // A prefix of a's whole kept slot (24,576 bytes), then more.
        File("docs\\a-again.txt", Concat(Bytes(a.begin(), a.begin() + 24576), Text(40000, 4)), 6, 24576),
        // 256 has low 8 bits 0: no prefix.
        File("two-five-six.txt", Text(500, 5), 256),
    };
    std::filesystem::path out = Expand("folders_prefixes", entries);
    ExpectFiles(out, entries);
}

TEST(EntryWriter, PreloadIsUsedByTheEncoder) {
    // The mirror picks the preload the extractor lays into its window; an
    // entry that repeats the referenced file is coded almost entirely as
    // matches into it.
    Bytes a = Text(20000, 8);
    HistoryMirror history;
    std::string previous;
    Bytes stream;
    AppendEntryRecord(stream, File("a", a), history, previous);
    size_t afterFirst = stream.size();
    EntryBodyStats stats = AppendEntryRecord(stream, File("b", Bytes(a.begin(), a.begin() + 15000)), history, previous);
    EXPECT_GT(stats.preloadMatches, 0);
    EXPECT_LT(stream.size() - afterFirst, 200u);
    // Shared name: "b" shares nothing with "a".
    EXPECT_EQ(stream[afterFirst], 0);
}

TEST(EntryWriter, HistoryWrapsAfter256FileEntries) {
    // 300 file entries (and folders between, which take no slot): the 256th
    // takes slot 0, the 257th slot 1 again. Later entries refer 1 and 255
    // entries back.
    std::vector<EntryInput> entries;
    std::vector<Bytes> files;
    for (int i = 0; i < 300; ++i) {
        std::string folder = std::string("f").append(std::to_string(i / 50));
        if (i % 50 == 0) entries.push_back(Folder(folder));
        Bytes contents = Text(200 + (i * 37) % 400, 100 + i);
        uint64_t back = 0;
        int32_t prefix = 0;
        if (i >= 256 && i % 2 == 0) {
            back = 255;  // entry i - 255
            const Bytes& from = files[i - 255];
            prefix = static_cast<int32_t>(from.size() / 2);
            contents = Concat(Bytes(from.begin(), from.begin() + prefix), contents);
        } else if (i >= 256) {
            back = 1;
            const Bytes& from = files[i - 1];
            prefix = static_cast<int32_t>(from.size());
            contents = Concat(from, contents);
        }
        files.push_back(contents);
        std::string name = folder.append("\\file").append(std::to_string(i)).append(".txt");
        entries.push_back(File(name, contents, back, prefix));
    }
    std::filesystem::path out = Expand("wrap", entries);
    ExpectFiles(out, entries);
}

TEST(EntryWriter, NameFields) {
    HistoryMirror history;
    std::string previous;
    Bytes stream;
    AppendEntryRecord(stream, Folder("docs"), history, previous);
    EXPECT_EQ(stream, (Bytes{0, 'd', 'o', 'c', 's', '\\', '.', 0}));
    EXPECT_EQ(previous, "docs\\.");
    stream.clear();
    EntryInput file = File("docs\\a", {});
    file.creationTime = 0x0807060504030201ull;
    AppendEntryRecord(stream, file, history, previous);
    // Five bytes shared, the tail, three FILETIMEs, then the bit-coded part:
    // size 0 -> 1, back-reference 0 -> 1, no body: one byte 0x03.
    Bytes expected = {5, 'a', 0, 1, 2, 3, 4, 5, 6, 7, 8};
    for (int i = 0; i < 16; ++i) expected.push_back(i % 8 == 6 ? 0xD9 : i % 8 == 7 ? 0x01 : 0);
    expected.push_back(0x03);
    EXPECT_EQ(stream, expected);

    // An override above the previous name's length takes all of it.
    stream.clear();
    EntryInput more = Folder("docs\\a\\more");
    more.sharedLengthOverride = 200;
    AppendEntryRecord(stream, more, history, previous);
    EXPECT_EQ(stream[0], 200);
    EXPECT_EQ(std::string(stream.begin() + 1, stream.end()), std::string("\\more\\.\0", 8));
    // One that would take over bytes the name does not have is refused.
    EntryInput other = Folder("other");
    other.sharedLengthOverride = 2;
    EXPECT_THROW(AppendEntryRecord(stream, other, history, previous), std::invalid_argument);
}

TEST(EntryWriter, RefusesRecordsOutsideTheFormat) {
    Bytes a = Text(1000, 9);
    std::vector<std::vector<EntryInput>> bad = {
        {File("x", a, 1, 10)},                                  // nothing to refer to yet
        {File("a", a), File("b", a, 2, 10)},                    // only one entry back
        {File("a", a), File("b", Bytes(a.begin(), a.begin() + 10), 1, 11)},  // prefix longer than the file
        {File("a", Bytes(a.begin(), a.begin() + 10)), File("b", a, 1, 11)},  // longer than the referenced entry
        {File("a", a), File("b", Text(1000, 10), 1, 100)},      // prefix differs
        {File("a", a), File("b", a, 1, 0)},                     // a back-reference needs a prefix
    };
    for (size_t i = 0; i < bad.size(); ++i) EXPECT_THROW(BuildEntryStream(bad[i]), std::invalid_argument) << i;
}

}  // namespace
