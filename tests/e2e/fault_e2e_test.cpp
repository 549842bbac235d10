// A failing file system under the native extractor: the disk fills at the
// first write, in the middle of a file and at the last write; a folder
// cannot be made; the time stamps cannot be set. The faults come from a
// preloaded shim (tests/fault/fault_shim.c); the program has no switch
// for them. Each run ends with the program's message and exit code, leaves
// no partial file, and leaves alone the existing file the user chose to
// keep.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sfx_fixture.h"

namespace fs = std::filesystem;

namespace {

const char kPressEnter[] = "Press Enter key.\a\r\n";
const char kKept[] = "precious, not to be overwritten\n";
const int64_t kKeptTime = 1000000000;  // 2001

std::string Text(size_t count, uint32_t seed) {
    static const char* const kWords[] = {"disk ", "full ", "fault ", "write ", "folder ", "stamp ", "\n"};
    std::mt19937 generator(seed);
    std::string text;
    while (text.size() < count) text += kWords[generator() % 7];
    text.resize(count);
    return text;
}

EntryInput File(const std::string& name, const std::string& contents, int stamp) {
    return {.name = name, .lastAccessTime = FileTimeOf(1600000000 + stamp),
            .lastWriteTime = FileTimeOf(1500000000 + stamp), .contents = Bytes(contents)};
}

// keep.txt exists and is kept (answered n); big.bin is written in several
// pieces (the window writes 32,768 bytes at a time); small.txt, last, in one.
const std::string kBig = Text(150000, 1);
const std::string kSmall = "the last file\n";

std::vector<EntryInput> WriteEntries() {
    return {File("keep.txt", "new contents", 1), File("big.bin", kBig, 2), File("small.txt", kSmall, 3)};
}

// keep.txt again; then a folder entry and a file two folders deep.
std::vector<EntryInput> FolderEntries() {
    return {File("keep.txt", "new contents", 1), {.name = "made", .isFolder = true},
            File("sub\\inner\\file.txt", kSmall, 4)};
}

struct FaultRun {
    std::string dir;     // the target folder
    std::string shown;   // as the program writes it
    RunResult result;
};

// The shim, preloaded; a sanitizer build's runtime must not insist on
// being loaded first.
std::vector<std::string> ShimEnvironment(const std::string& fault, const std::string& log = "") {
    const char* asan = getenv("ASAN_OPTIONS");
    std::vector<std::string> env = {
        std::string("LD_PRELOAD=") + TARNWICK_FAULT_SHIM, "TARNWICK_FAULT=" + fault,
        std::string("ASAN_OPTIONS=") + (asan != nullptr && *asan ? std::string(asan) + ":" : "") +
            "verify_asan_link_order=0"};
    if (!log.empty()) env.push_back("TARNWICK_FAULT_LOG=" + log);
    return env;
}

// Writes the archive and the file to keep into a new folder, then runs
// "/e a.bin" with the fault, answering n to the question about keep.txt.
FaultRun RunWithFault(const std::vector<EntryInput>& entries, const std::string& fault, const std::string& log = "") {
    FaultRun run;
    run.dir = MakeTempDir("fault");
    run.shown = ShownPath(kNativeSfx, run.dir + "/");
    std::vector<uint8_t> archive = MakeArchive(entries);
    WriteFileBytes(run.dir + "/a.bin", std::string(archive.begin(), archive.end()));
    WriteFileBytes(run.dir + "/keep.txt", kKept);
    struct timespec times[2] = {{kKeptTime, 0}, {kKeptTime, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, (run.dir + "/keep.txt").c_str(), times, 0), 0);
    SfxOptions options;
    options.extraEnv = ShimEnvironment(fault, log);
    run.result = RunSfx(kNativeSfx, {"/e", run.dir + "/a.bin"}, "n\r\n", run.dir, options);
    return run;
}

std::string KeepDialogue(const FaultRun& run) {
    return std::string(kBannerLine) + run.shown + "keep.txt already exists. Overwrite? (Y/N) : \askipping : " +
           run.shown + "keep.txt\r\n";
}

void ExpectKeptFileUntouched(const FaultRun& run) {
    EXPECT_EQ(ReadFileBytes(run.dir + "/keep.txt"), kKept);
    struct stat info;
    ASSERT_EQ(stat((run.dir + "/keep.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, kKeptTime);
}

// What the run left in its folder besides the archive, sorted.
std::vector<std::string> FilesLeft(const std::string& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& item : fs::recursive_directory_iterator(dir)) {
        std::string name = fs::relative(item.path(), dir).string();
        if (name != "a.bin") names.push_back(name + (item.is_directory() ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Writes to regular files in a whole run without faults, from the shim's log.
int CountWrites() {
    std::string log = MakeTempDir("fault-log") + "/writes";
    FaultRun run = RunWithFault(WriteEntries(), "none", log);
    EXPECT_EQ(run.result.exitCode, 0) << run.result.out;
    EXPECT_EQ(ReadFileBytes(run.dir + "/big.bin"), kBig);
    std::istringstream lines(ReadFileBytes(log));
    int count = 0;
    for (std::string line; std::getline(lines, line);) ++count;
    return count;
}

TEST(Faults, TheShimCountsEveryWriteOfAWholeRun) {
    // big.bin takes several writes and small.txt one, so the cases below
    // hit the first, a middle and the last write where they mean to.
    EXPECT_GE(CountWrites(), 4);
}

struct WriteFault {
    const char* label;
    const char* fault;      // "%d" stands for the count of all writes
    bool bigFails;          // else small.txt fails and big.bin is whole
};

void PrintTo(const WriteFault& fault, std::ostream* out) { *out << fault.label; }

class WriteFaults : public testing::TestWithParam<WriteFault> {};

TEST_P(WriteFaults, EndInWriteErrorAndDeleteThePartialFile) {
    const WriteFault& c = GetParam();
    std::string fault = c.fault;
    size_t last = fault.find("%d");
    if (last != std::string::npos) fault.replace(last, 2, std::to_string(CountWrites()));
    FaultRun run = RunWithFault(WriteEntries(), fault);
    ASSERT_FALSE(run.result.timedOut);
    std::string dialogue = KeepDialogue(run);
    if (c.bigFails) {
        dialogue += "expanding : " + run.shown + "big.bin ... File write error.\r\n" + kPressEnter;
        EXPECT_EQ(FilesLeft(run.dir), std::vector<std::string>{"keep.txt"});
    } else {
        dialogue += "expanding : " + run.shown + "big.bin ... end.\r\n" + "expanding : " + run.shown +
                    "small.txt ... File write error.\r\n" + kPressEnter;
        EXPECT_EQ(FilesLeft(run.dir), (std::vector<std::string>{"big.bin", "keep.txt"}));
        EXPECT_EQ(ReadFileBytes(run.dir + "/big.bin"), kBig);
        EXPECT_EQ(ReadFileTimes(run.dir + "/big.bin").lastWrite, FileTimeOf(1500000002));
    }
    EXPECT_EQ(run.result.out, dialogue);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.result.exitCode, 2);
    ExpectKeptFileUntouched(run);
}

INSTANTIATE_TEST_SUITE_P(
    DiskFull, WriteFaults,
    testing::Values(WriteFault{"FirstWrite", "write:1", true}, WriteFault{"MiddleOfAFile", "write:2", true},
                    WriteFault{"ShortWriteInTheMiddle", "write:2:short", true},
                    WriteFault{"LastWrite", "write:%d", false}, WriteFault{"ShortLastWrite", "write:%d:short", false}),
    [](const testing::TestParamInfo<WriteFault>& info) { return std::string(info.param.label); });

TEST(Faults, TimeStampsThatCannotBeSetEndInWriteErrorAndDeleteTheFile) {
    FaultRun run = RunWithFault(WriteEntries(), "times:1");
    EXPECT_EQ(run.result.out,
              KeepDialogue(run) + "expanding : " + run.shown + "big.bin ... File write error.\r\n" + kPressEnter);
    EXPECT_EQ(run.result.exitCode, 2);
    EXPECT_EQ(FilesLeft(run.dir), std::vector<std::string>{"keep.txt"});
    ExpectKeptFileUntouched(run);
}

TEST(Faults, AFolderEntryThatCannotBeMadeEndsAtOnce) {
    FaultRun run = RunWithFault(FolderEntries(), "mkdir:1");
    EXPECT_EQ(run.result.out, KeepDialogue(run) + "Cannot make folder : " + run.shown + "made\a\r\n");
    EXPECT_EQ(run.result.exitCode, 2);
    EXPECT_EQ(FilesLeft(run.dir), std::vector<std::string>{"keep.txt"});
    ExpectKeptFileUntouched(run);
}

TEST(Faults, AFileFolderThatCannotBeMadeEndsAtOnceKeepingTheFoldersMadeBefore) {
    // mkdir 1 makes "made", 2 "sub"; the third, "sub\inner", fails.
    FaultRun run = RunWithFault(FolderEntries(), "mkdir:3");
    EXPECT_EQ(run.result.out, KeepDialogue(run) + "expanding : " + run.shown + "sub\\inner\\file.txt ... " +
                                  "Cannot make folder : " + run.shown + "sub\\inner\a\r\n");
    EXPECT_EQ(run.result.exitCode, 2);
    EXPECT_EQ(FilesLeft(run.dir), (std::vector<std::string>{"keep.txt", "made/", "sub/"}));
    ExpectKeptFileUntouched(run);
}

}  // namespace
