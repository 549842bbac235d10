// The expansion loop end to end, natively and under wine: folders and
// folder entries, the history of earlier file entries across the slot wrap,
// empty and large files, the overwrite dialogue, a protected archive, the
// run command, double-byte names, refused names, and every failure that
// ends an expansion half-way.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "packer/bit_writer.h"
#include "tests/support/sfx_fixture.h"

namespace {

const char kPressEnter[] = "Press Enter key.\a\r\n";
const char kOverwrite[] = " already exists. Overwrite? (Y/N) : \a";

// Text from a few words: compresses, with matches near and far.
std::string Text(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"tarn ", "wick ", "entry ", "slot ", "window ", "prefix ", "\r\n", "0123 "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += kWords[rng() % 8];
    s.resize(n);
    return s;
}

// Bytes of every value: hardly compresses.
std::string Noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, 0);
    for (char& c : s) c = (char)rng();
    return s;
}

// A file entry with stamps of its own (a FILETIME of 0 would leave a stamp
// alone); `stamp` tells entries apart.
EntryInput File(const std::string& name, const std::string& contents, int stamp = 0) {
    return {.name = name,
            .creationTime = FileTimeOf(1000000000 + stamp),
            .lastAccessTime = FileTimeOf(1600000000 + stamp, 1234567),
            .lastWriteTime = FileTimeOf(1500000000 - 3600 * stamp, 7654321),
            .contents = Bytes(contents)};
}

EntryInput Folder(const std::string& name) { return {.name = name, .isFolder = true}; }

// A file entry that starts with `prefixLength` bytes of the file entry
// `backReference` file entries back.
EntryInput FileWithPrefix(const std::string& name, const std::string& contents, int stamp, uint64_t backReference,
                         int32_t prefixLength) {
    EntryInput e = File(name, contents, stamp);
    e.backReference = backReference;
    e.prefixLength = prefixLength;
    return e;
}

std::string OnDisk(const std::string& dir, const std::string& entryName) {
    std::string path = dir + "/" + entryName;
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string Expanded(const std::string& target, const std::string& name) {
    return "expanding : " + target + name + " ... end.\r\n";
}

// Every name under root, relative, folders with a trailing "/".
std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        names.insert(std::filesystem::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    return names;
}

// The stamps are read before the contents: reading moves the access time.
void ExpectFile(const std::string& path, const std::string& contents, uint64_t lastWrite, uint64_t lastAccess) {
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path << " is missing";
    ASSERT_TRUE(S_ISREG(st.st_mode)) << path;
    FileTimes t = ReadFileTimes(path);
    EXPECT_EQ(t.lastWrite, lastWrite) << path;
    EXPECT_EQ(t.lastAccess, lastAccess) << path;
    std::string got = ReadFileBytes(path);
    size_t differs = 0;
    while (differs < got.size() && differs < contents.size() && got[differs] == contents[differs]) ++differs;
    EXPECT_TRUE(got == contents) << path << ": " << got.size() << " bytes, " << contents.size()
                                 << " expected, first difference at " << differs;
}

void ExpectExpanded(const std::string& dir, const EntryInput& e) {
    ExpectFile(OnDisk(dir, e.name), std::string(e.contents.begin(), e.contents.end()), e.lastWriteTime,
               e.lastAccessTime);
}

// A file that is there before the run, with old stamps of its own.
const uint64_t kOldAccess = FileTimeOf(1100000000);
const uint64_t kOldWrite = FileTimeOf(1050000000);
void MakeExisting(const std::string& path, const std::string& contents) {
    WriteFileBytes(path, contents);
    timespec times[2] = {{1100000000, 0}, {1050000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string NameOf(const testing::TestParamInfo<SfxKind>& info) { return SfxKindName(info.param); }

class Expansion : public testing::TestWithParam<SfxKind> {
  protected:
    SfxKind Kind() const { return GetParam(); }
    std::string NewDir(const std::string& label) { return MakeTempDir(label + "-" + SfxKindName(Kind())); }
    std::string Target(const std::string& dir) const { return ShownPath(Kind(), dir + "/"); }
    // Appends the archive to a copy of the extractor in dir and runs it there.
    RunResult Run(const std::string& dir, const std::vector<uint8_t>& archive, const std::string& stdinBytes = "") {
        RunResult r = RunSelfExtractor(Kind(), MakeSelfExtractor(Kind(), dir, archive), stdinBytes);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
};

TEST_P(Expansion, FoldersAndFolderEntries) {
    std::string dir = NewDir("folders");
    std::string top = Text(3000, 1);
    std::vector<EntryInput> entries = {
        Folder("."),  // the target folder itself
        File("top.txt", top, 1),
        Folder("a\\b\\c"),
        // A folder entry takes no slot: one back is still top.txt.
        FileWithPrefix("a\\b\\c\\deep.txt", top.substr(0, 700) + Text(900, 2), 2, 1, 700),
        File("x\\y\\z.txt", Text(400, 3), 3),  // its folders are made for it
        File("readme", "read me\r\n", 4),
        File("readme.old", "read me, old\r\n", 5),
        Folder("a\\b"),  // already there
        Folder("empty"),  // the stream ends with a folder entry
    };
    entries[6].sharedLengthOverride = 255;  // more than "readme" has: all of it
    RunResult r = Run(dir, MakeArchive(entries));

    std::string t = Target(dir);
    EXPECT_EQ(r.out, kBannerLine + Expanded(t, "top.txt") + Expanded(t, "a\\b\\c\\deep.txt") +
                         Expanded(t, "x\\y\\z.txt") + Expanded(t, "readme") + Expanded(t, "readme.old"));
    EXPECT_EQ(r.exitCode, 0);
    for (const EntryInput& e : entries)
        if (!e.isFolder) ExpectExpanded(dir, e);
    EXPECT_EQ(Tree(dir), (std::set<std::string>{"setup.exe", "top.txt", "a/", "a/b/", "a/b/c/", "a/b/c/deep.txt",
                                                "x/", "x/y/", "x/y/z.txt", "readme", "readme.old", "empty/"}));
}

// 300 file entries: the slots wrap after 255, so the 256th file entry takes
// slot 0 and the 257th slot 1 again; prefixes reach 255 entries back and up
// to the 24,576 bytes a slot keeps.
TEST_P(Expansion, HistoryWrapsPastTheLastSlot) {
    std::string dir = NewDir("history");
    std::mt19937 rng(300);
    std::vector<EntryInput> entries;
    std::vector<std::string> files;
    auto add = [&](std::string contents, uint64_t backReference = 0, int32_t prefixLength = 0) {
        char name[32];
        snprintf(name, sizeof name, "h\\f%03zu.bin", files.size());
        entries.push_back(FileWithPrefix(name, contents, (int)files.size(), backReference, prefixLength));
        files.push_back(std::move(contents));
    };
    // Ahead of the prefix the writer's model checks that it is what the
    // referenced entry starts with.
    auto withPrefix = [&](int r, int32_t prefixLength, const std::string& rest) {
        add(files[files.size() - r].substr(0, prefixLength) + rest, r, prefixLength);
    };

    add(Text(30000, 0));      // f000, slot 1; bytes from 24,576 on are not kept
    add(Text(500, 1), 256);   // f001: 256 counts as 0, no prefix length follows
    while (files.size() < 255) {
        size_t i = files.size();
        std::string rest = "f" + std::to_string(i) + Text(20 + rng() % 400, (uint32_t)i);
        if (i % 50 == 0) {
            add(Text(25000, (uint32_t)i) + rest);  // big enough for a whole slot
        } else if (i % 7 == 0) {
            int r = 1 + (int)(rng() % std::min<size_t>(i, 255));
            int32_t kept = (int32_t)std::min<size_t>(files[i - r].size(), 24576);
            withPrefix(r, 1 + (int32_t)(rng() % kept), rest);
        } else {
            add(rest);  // preloaded from the entry before
        }
    }
    withPrefix(255, 24576, Text(5000, 255));   // f255, slot 0: f000 from slot 1
    withPrefix(255, (int32_t)files[1].size(), "after wrap");  // f256, slot 1 again: f001 from slot 2
    withPrefix(1, (int32_t)files[256].size(), "from f256");  // f257: slot 1 now holds f256
    withPrefix(3, 24576, Text(3000, 258));      // f258: f255 from slot 0
    withPrefix(255, (int32_t)std::min<size_t>(files[4].size(), 100), "255 back");  // f259: f004
    while (files.size() < 299) {
        size_t i = files.size();
        int r = 1 + (int)(rng() % 255);
        int32_t kept = (int32_t)std::min<size_t>(files[i - r].size(), 24576);
        withPrefix(r, 1 + (int32_t)(rng() % kept), "f" + std::to_string(i) + Text(rng() % 300, (uint32_t)i));
    }
    add(Text(2000, 299) + "last", 256);  // f299

    RunResult r = Run(dir, MakeArchive(entries));
    std::string expected = kBannerLine;
    for (const EntryInput& e : entries) expected += Expanded(Target(dir), e.name);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.exitCode, 0);
    for (const EntryInput& e : entries) ExpectExpanded(dir, e);
}

TEST_P(Expansion, EmptyAndLargeFiles) {
    std::string dir = NewDir("sizes");
    // 1.5 MB of noise, runs and text, with copies from up to 16,000 back.
    std::mt19937 rng(15);
    std::string big;
    while (big.size() < 1500000) {
        switch (rng() % 4) {
            case 0: big += Noise(1 + rng() % 3000, rng()); break;
            case 1: big.append(300 + rng() % 6000, (char)rng()); break;
            case 2: big += Text(rng() % 5000, rng()); break;
            default:
                if (big.size() > 20000) big += big.substr(big.size() - 1 - rng() % 16000, 257 + rng() % 4000);
        }
    }
    std::vector<EntryInput> entries = {
        File("empty-first.txt", "", 1),
        File("big.bin", big, 2),
        File("empty-after.txt", "", 3),
        FileWithPrefix("after-big.bin", big.substr(0, 24576) + "tail", 4, 2, 24576),
        File("sub\\empty-last.txt", "", 5),
    };
    RunResult r = Run(dir, MakeArchive(entries));

    std::string expected = kBannerLine;
    for (const EntryInput& e : entries) expected += Expanded(Target(dir), e.name);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.exitCode, 0);
    for (const EntryInput& e : entries) ExpectExpanded(dir, e);
}

// Only the first character of an answer line counts; anything but y or n
// is passed over without a second question; end of input keeps the file.
// A kept file's entry is decoded all the same and fills its slot.
TEST_P(Expansion, OverwriteQuestion) {
    std::string dir = NewDir("overwrite");
    for (const char* name : {"keep.txt", "over.txt", "junk.txt", "eof.txt"})
        MakeExisting(dir + "/" + name, std::string("old ") + name);
    std::string keep = Text(3000, 1);
    std::string junk = Text(1000, 3);
    std::string eof = junk.substr(0, 600) + Text(2000, 4);  // kept, with a prefix
    std::vector<EntryInput> entries = {
        File("keep.txt", keep, 1),
        FileWithPrefix("from-keep.txt", keep.substr(0, 2500) + "mine", 2, 1, 2500),
        File("over.txt", Text(1000, 2), 3),
        File("junk.txt", junk, 4),
        FileWithPrefix("eof.txt", eof, 5, 1, 600),
        FileWithPrefix("from-eof.txt", eof.substr(0, 1999) + Text(100, 6), 6, 1, 1999),
    };
    RunResult r = Run(dir, MakeArchive(entries), "no thanks\r\nyes\r\n\r\n?\r\nYES\r\n");

    std::string t = Target(dir);
    EXPECT_EQ(r.out, kBannerLine +
                         t + "keep.txt" + kOverwrite + "skipping : " + t + "keep.txt\r\n" +
                         Expanded(t, "from-keep.txt") +
                         t + "over.txt" + kOverwrite + Expanded(t, "over.txt") +
                         t + "junk.txt" + kOverwrite + Expanded(t, "junk.txt") +
                         t + "eof.txt" + kOverwrite + "skipping : " + t + "eof.txt\r\n" +
                         Expanded(t, "from-eof.txt"));
    EXPECT_EQ(r.exitCode, 0);
    ExpectFile(dir + "/keep.txt", "old keep.txt", kOldWrite, kOldAccess);
    ExpectFile(dir + "/eof.txt", "old eof.txt", kOldWrite, kOldAccess);
    for (int i : {1, 2, 3, 5}) ExpectExpanded(dir, entries[i]);
}

// The password reaches every block's keystream: the data span several.
TEST_P(Expansion, ProtectedArchive) {
    std::string dir = NewDir("password");
    std::vector<EntryInput> entries = {File("noise.bin", Noise(10000, 1), 1), File("text.txt", Text(5000, 2), 2)};
    ArchiveOptions options;
    options.password = "Open Sesame";
    RunResult r = Run(dir, MakeArchive(entries, options), "open sesame\r\nOpen Sesame\r\n");

    std::string t = Target(dir);
    EXPECT_EQ(r.out, std::string(kBannerLine) + "Password : Password : " + Expanded(t, "noise.bin") +
                         Expanded(t, "text.txt"));
    EXPECT_EQ(r.exitCode, 0);
    for (const EntryInput& e : entries) ExpectExpanded(dir, e);
}

TEST_P(Expansion, RunCommandThatCannotStart) {
    std::string dir = NewDir("run");
    EntryInput file = File("readme.txt", "read me\r\n", 1);
    ArchiveOptions options;
    options.runCommand = "missing-tool.exe";
    RunResult r = Run(dir, MakeArchive({file}, options));

    EXPECT_EQ(r.out, kBannerLine + Expanded(Target(dir), "readme.txt") + "Couldn't run missing-tool.exe\a\r\n");
    EXPECT_EQ(r.exitCode, 0);
    ExpectExpanded(dir, file);
}

// A folder named 表, whose second byte in code page 932 is 0x5C, the
// backslash: paths and names are walked a character at a time, so that byte
// never separates (nor does "con" after it make a device name). Under wine the ANSI code page is 932 and the file system holds
// the name in UTF-8; natively the ANSI code page is UTF-8 itself.
TEST_P(Expansion, DoubleByteFolderNames) {
    std::string dir = NewDir("cp932");
    const std::string table = "\xE8\xA1\xA8";  // 表 in UTF-8
    const std::string ansi = Kind() == kWin64Sfx ? "\x95\x5C" : table;
    SfxOptions options;
    if (Kind() == kWin64Sfx) {
        options.locale = "ja_JP.UTF-8";
    }
    std::string folder = dir + "/" + table;
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    std::vector<EntryInput> entries = {
        File("a.txt", Text(500, 1), 1),
        File(ansi + "\\b" + ansi + "con.txt", Text(600, 2), 2),
        Folder(ansi + "\\" + ansi),
    };
    WriteFileBytes(folder + "/pack.bin", MakeArchive(entries));
    RunResult r = RunExplicitArchive(Kind(), folder + "/pack.bin", "", dir, options);
    ASSERT_FALSE(r.timedOut);

    std::string t = Target(dir) + ansi + "\\";
    EXPECT_EQ(r.out, kBannerLine + Expanded(t, "a.txt") + Expanded(t, ansi + "\\b" + ansi + "con.txt"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Tree(folder), (std::set<std::string>{"pack.bin", "a.txt", table + "/", table + "/b" + table + "con.txt",
                                                   table + "/" + table + "/"}));
    ExpectFile(folder + "/a.txt", Text(500, 1), entries[0].lastWriteTime, entries[0].lastAccessTime);
    ExpectFile(folder + "/" + table + "/b" + table + "con.txt", Text(600, 2), entries[1].lastWriteTime,
               entries[1].lastAccessTime);
}

// Names that stay inside the target folder, however close they come to
// the refused ones, are expanded.
TEST_P(Expansion, NamesCloseToRefusedOnes) {
    std::string dir = NewDir("lookalike");
    std::vector<EntryInput> entries;
    std::string expected = kBannerLine;
    int stamp = 0;
    for (const char* name : {"..a.txt", "a..b", ".hidden", "a\\.\\b.txt", "CONSOLE.txt", "COM0.txt", "LPT10.txt",
                             "nul-x.txt", "xaux.txt"}) {
        entries.push_back(File(name, std::string("contents of ") + name, ++stamp));
        expected += Expanded(Target(dir), name);
    }
    RunResult r = Run(dir, MakeArchive(entries));
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.exitCode, 0);
    for (const EntryInput& e : entries) ExpectExpanded(dir, e);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Expansion, testing::ValuesIn(RunnableSfxKinds()), NameOf);

// Names that would leave the target folder, or name a device, end the run
// as a broken archive; nothing is written for them, earlier files stay.
struct RefusedName {
    const char* label;
    const char* name;
    bool isFolder;
};

class RefusedNames : public testing::TestWithParam<std::tuple<SfxKind, RefusedName>> {};

TEST_P(RefusedNames, EndTheRunAsBroken) {
    auto [kind, refused] = GetParam();
    std::string root = MakeTempDir(std::string("refused-") + refused.label + "-" + SfxKindName(kind));
    std::string dir = root + "/p/q";  // room for names that climb out
    std::filesystem::create_directories(dir);
    EntryInput first = File("first.txt", "first\r\n", 1);
    EntryInput bad = refused.isFolder ? Folder(refused.name) : File(refused.name, "not to be written\r\n", 2);
    std::string program = MakeSelfExtractor(kind, dir, MakeArchive({first, bad, File("later.txt", "later", 3)}));
    RunResult r = RunSelfExtractor(kind, program, "");
    ASSERT_FALSE(r.timedOut);

    EXPECT_EQ(r.out, kBannerLine + Expanded(ShownPath(kind, dir + "/"), "first.txt") + "This file is broken.\r\n" +
                         kPressEnter);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(Tree(root), (std::set<std::string>{"p/", "p/q/", "p/q/setup.exe", "p/q/first.txt"}));
    ExpectExpanded(dir, first);
}

const RefusedName kRefusedNames[] = {
    {"Parent", "..\\evil.txt", false},
    {"ParentDeeper", "a\\..\\..\\evil.txt", false},
    {"ParentWithSlashes", "a/../../evil.txt", false},
    {"ParentLast", "a\\..", false},
    {"ThreeDots", "...\\evil.txt", false},
    {"DotsAndBlank", ".. \\evil.txt", false},
    {"ParentFolderEntry", "..\\up", true},
    {"LeadingBackslash", "\\evil.txt", false},
    {"LeadingSlash", "/evil.txt", false},
    {"Drive", "C:evil.txt", false},
    {"Stream", "first.txt:hidden", false},
    {"Con", "CON", false},
    {"PrnFolderEntry", "prn", true},
    {"AuxWithExtension", "aux.log", false},
    {"NulInFolder", "sub\\Nul.txt", false},
    {"Com1", "COM1", false},
    {"Lpt9WithExtension", "LPT9.tar.gz", false},
};

INSTANTIATE_TEST_SUITE_P(Kinds, RefusedNames,
                         testing::Combine(testing::ValuesIn(RunnableSfxKinds()), testing::ValuesIn(kRefusedNames)),
                         [](const testing::TestParamInfo<std::tuple<SfxKind, RefusedName>>& info) {
                             return std::string(std::get<1>(info.param).label) + "_" +
                                    SfxKindName(std::get<0>(info.param));
                         });

// Runs that end half-way. Every archive starts with first.txt, which must
// stay; the expected output follows its "expanding" line, with '@' for the
// target folder.
struct Failure {
    const char* label;
    void (*setup)(const std::string& dir);  // what is there before the run
    std::vector<uint8_t> (*archive)();
    const char* stdinBytes;
    const char* expected;
    int exitCode;
    std::set<std::string> tree;  // the program's folder afterwards
};

const EntryInput kFirst = File("first.txt", "first file\r\n", 1);

std::vector<uint8_t> Stream(const std::vector<EntryInput>& entries) { return BuildEntryStream(entries); }
std::vector<uint8_t> Archive(const std::vector<uint8_t>& stream) { return BuildArchive({}, stream).bytes; }

// A file entry written field by field, for records our writer refuses to
// make. The checks come before any compressed data is read; the filler
// keeps a reader that goes on anyway inside the stream.
std::vector<uint8_t> FileRecord(uint64_t entrySize, uint64_t backReference, uint64_t prefixLengthMinus1 = 0) {
    // sharedLength 0, the name, its 0 byte, the three time stamps.
    std::vector<uint8_t> record = Bytes(std::string("\0bad.txt\0", 9) + std::string(24, '\x11'));
    BitWriter bits;
    bits.WriteInteger(entrySize);
    bits.WriteInteger(backReference);
    if (backReference & 0xFF) bits.WriteInteger(prefixLengthMinus1);
    bits.Finish();
    record.insert(record.end(), bits.Bytes().begin(), bits.Bytes().end());
    record.insert(record.end(), 64, 0x5A);
    return record;
}

std::vector<uint8_t> AfterFirst(const std::vector<uint8_t>& record) {
    std::vector<uint8_t> stream = Stream({kFirst});
    stream.insert(stream.end(), record.begin(), record.end());
    return Archive(stream);
}

// A file whose compressed data fill many blocks; the window has written
// 32,768-byte pieces of it long before its last block.
const EntryInput kBig = File("big.bin", Noise(100000, 7), 2);

const std::vector<Failure> kFailures = {
    {"FileInTheWayOfAFilesFolder", [](const std::string& dir) { MakeExisting(dir + "/blocker", "in the way"); },
     [] { return Archive(Stream({kFirst, File("blocker\\inner.txt", "inner", 2)})); }, "",
     "expanding : @blocker\\inner.txt ... Cannot make folder : @blocker\a\r\n", 2,
     {"setup.exe", "first.txt", "blocker"}},
    {"FileInTheWayOfAFolderEntry",
     [](const std::string& dir) {
         mkdir((dir + "/sub").c_str(), 0777);
         MakeExisting(dir + "/sub/blocker", "in the way");
     },
     [] { return Archive(Stream({kFirst, Folder("sub\\blocker\\deeper")})); }, "",
     "Cannot make folder : @sub\\blocker\a\r\n", 2, {"setup.exe", "first.txt", "sub/", "sub/blocker"}},
    {"FolderWhereTheFileGoes",
     [](const std::string& dir) {
         mkdir((dir + "/out.txt").c_str(), 0777);
         MakeExisting(dir + "/out.txt/keep", "inside");
     },
     [] { return Archive(Stream({kFirst, File("out.txt", "out", 2)})); }, "y\r\n",
     "@out.txt already exists. Overwrite? (Y/N) : \aexpanding : @out.txt ... File write error.\r\n"
     "Press Enter key.\a\r\n",
     2, {"setup.exe", "first.txt", "out.txt/", "out.txt/keep"}},
    {"DamagedBlockWhileWriting", nullptr,
     [] {
         ArchiveImage image = BuildArchive({}, Stream({kFirst, kBig}));
         image.bytes[image.blockStarts.back() + 10] ^= 0x40;
         return image.bytes;
     },
     "", "expanding : @big.bin ... This file is broken.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
    {"StrayByteAfterTheLastRecord", nullptr,
     [] {
         std::vector<uint8_t> stream = Stream({kFirst});
         stream.push_back(3);
         return Archive(stream);
     },
     "", "File read error.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
    {"StreamEndsInsideTheTimeStamps", nullptr,
     [] {
         std::vector<uint8_t> stream = Stream({kFirst, File("second.txt", "second", 2)});
         stream.resize(Stream({kFirst}).size() + 1 + 11 + 10);  // sharedLength, "second.txt", 0, 10 stamp bytes
         return Archive(stream);
     },
     "", "File read error.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
    {"StreamEndsInsideCompressedData", nullptr,
     [] {
         std::vector<uint8_t> stream = Stream({kFirst, kBig});
         stream.resize(stream.size() - 5);
         return Archive(stream);
     },
     "", "expanding : @big.bin ... File read error.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
    {"PrefixLongerThanTheEntry", nullptr, [] { return AfterFirst(FileRecord(5, 1, 7)); }, "",
     "This file is broken.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
    {"PrefixLongerThanTheSlot", nullptr, [] { return AfterFirst(FileRecord(500, 1, 12)); }, "",
     "This file is broken.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
    {"ReferenceToAnUnfilledSlot", nullptr, [] { return AfterFirst(FileRecord(500, 2, 0)); }, "",
     "This file is broken.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
    {"NegativeSize", nullptr, [] { return AfterFirst(FileRecord(0x8000000000000005ull, 0)); }, "",
     "This file is broken.\r\nPress Enter key.\a\r\n", 2, {"setup.exe", "first.txt"}},
};

class FailedRuns : public testing::TestWithParam<std::tuple<SfxKind, Failure>> {};

TEST_P(FailedRuns, EndWithTheirMessage) {
    auto [kind, failure] = GetParam();
    std::string dir = MakeTempDir(std::string("failure-") + failure.label + "-" + SfxKindName(kind));
    if (failure.setup) failure.setup(dir);
    std::string program = MakeSelfExtractor(kind, dir, failure.archive());
    RunResult r = RunSelfExtractor(kind, program, failure.stdinBytes);
    ASSERT_FALSE(r.timedOut);

    std::string target = ShownPath(kind, dir + "/");
    std::string expected = kBannerLine + Expanded(target, "first.txt");
    for (const char* p = failure.expected; *p; ++p) expected += *p == '@' ? target : std::string(1, *p);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.exitCode, failure.exitCode);
    EXPECT_EQ(Tree(dir), failure.tree);
    ExpectExpanded(dir, kFirst);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailedRuns,
                         testing::Combine(testing::ValuesIn(RunnableSfxKinds()), testing::ValuesIn(kFailures)),
                         [](const testing::TestParamInfo<std::tuple<SfxKind, Failure>>& info) {
                             return std::string(std::get<1>(info.param).label) + "_" +
                                    SfxKindName(std::get<0>(info.param));
                         });

}  // namespace
