// End-to-end runs of the driver and the archive container: the command line,
// every way a file can fail to hold a readable archive frame or block
// stream, the message, the password prompt and the run command. Each run
// compares the whole console output byte for byte and the exit code, for the
// native extractor and the Windows one under wine64.
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "tests/support/sfx_fixture.h"

namespace {

const std::string kReadError = "File read error.\r\nPress Enter key.\a\r\n";
const std::string kBrokenFrame = "This file is broken.  Cannot expand.  Press ENTER key.\a\r\n";
const std::string kBrokenBlock = "This file is broken.\r\nPress Enter key.\a\r\n";

std::string KindName(const testing::TestParamInfo<SfxKind>& info) { return SfxKindName(info.param); }

// "<case>_<kind>" for tables of cases run by every kind.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<std::tuple<SfxKind, Case>>& info) {
    return std::get<1>(info.param).name + std::string("_") + SfxKindName(std::get<0>(info.param));
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string AsString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Bytes that do not compress: an LZ77 coder finds nothing to match in them.
std::string NoiseBytes(size_t count, uint32_t seed) {
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        c = (char)(seed >> 24);
    }
    return bytes;
}

EntryInput FileEntry(const std::string& name, const std::string& contents) {
    return EntryInput{.name = name, .lastAccessTime = FileTimeOf(1600000000),
                     .lastWriteTime = FileTimeOf(1500000000), .contents = Bytes(contents)};
}

// "expanding : " and the full name of an entry expanded into `folder`,
// as the extractor of `kind` shows it, up to where "end." follows.
std::string Expanding(SfxKind kind, const std::string& folder, const std::string& name) {
    return "expanding : " + ShownPath(kind, folder + "/") + name + " ... ";
}

// A frame written by hand: the signature, `head` (message, run command and
// password descriptor, possibly cut short), no blocks, and a true trailer.
std::string HandMadeArchive(const std::string& head) {
    std::string bytes = std::string("TWKX\x07\x00", 6) + head;
    uint64_t length = bytes.size() + 12;
    for (int i = 0; i < 8; i++) bytes += (char)(length >> (8 * i));
    return bytes + std::string(4, '\0');
}

// A line of printable characters whose CRC-16 is `check`.
std::string PasswordWithCheck(uint16_t check) {
    std::string line = "   ";
    for (line[0] = ' '; line[0] <= '~'; line[0]++)
        for (line[1] = ' '; line[1] <= '~'; line[1]++)
            for (line[2] = ' '; line[2] <= '~'; line[2]++)
                if (PasswordCheckOf(line) == check) return line;
    ADD_FAILURE() << "no three-character line has the check value " << check;
    return "";
}

// Waits for a file that another process writes, until it holds `contents`.
bool WaitForFile(const std::string& path, const std::string& contents, int seconds) {
    for (int i = 0; i < seconds * 20; i++) {
        if (ReadFileBytes(path) == contents) return true;
        usleep(50000);
    }
    return false;
}

// ---------------------------------------------------------------------------
// The command line chooses the file that holds the archive and so the target
// folder. The program setup.exe in prog/ holds an archive of own.txt; the
// file data/pack.bin is an archive of pack.txt and nothing else.
// ---------------------------------------------------------------------------

enum class Archive { kOwn, kPack };
enum class Folder { kProgram, kData, kRoot };

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;  // "{pack}": the full path of data/pack.bin as the program's system writes it
    Folder cwd;
    Archive expands;
    Folder target;  // where the entry goes
    // What the entry's name is shown after: "{full}" for the full path of
    // the target folder, otherwise these bytes.
    std::string shownFolder;
    // The same under wine, where they differ (POSIX reads '/' as a separator).
    std::optional<Folder> wineTarget = std::nullopt;
    std::optional<std::string> wineShownFolder = std::nullopt;
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

std::vector<CommandLineCase> CommandLineCases() {
    return {
        {"NoArguments", {}, Folder::kRoot, Archive::kOwn, Folder::kProgram, "{full}"},
        {"OnlySlashE", {"/e"}, Folder::kRoot, Archive::kOwn, Folder::kProgram, "{full}"},
        {"SlashEPathAndMore", {"/e", "{pack}", "more"}, Folder::kRoot, Archive::kOwn, Folder::kProgram, "{full}"},
        {"UpperCaseSlashE", {"/E", "{pack}"}, Folder::kRoot, Archive::kOwn, Folder::kProgram, "{full}"},
        {"SlashEFullPath", {"/e", "{pack}"}, Folder::kRoot, Archive::kPack, Folder::kData, "{full}"},
        {"SlashEBareName", {"/e", "pack.bin"}, Folder::kData, Archive::kPack, Folder::kData, ""},
        // Only the backslash separates folders on Windows: the target folder
        // is empty and the entry goes to the current folder. Natively the
        // path is taken as a POSIX path, so its folder is data\.
        {"SlashEForwardSlashes", {"/e", "data/pack.bin"}, Folder::kRoot, Archive::kPack, Folder::kData, "data\\",
         Folder::kRoot, ""},
    };
}

class CommandLine : public testing::TestWithParam<std::tuple<SfxKind, CommandLineCase>> {};

TEST_P(CommandLine, ChoosesTheArchiveAndTheTargetFolder) {
    const auto& [kind, c] = GetParam();
    std::string root = MakeTempDir(std::string("cmdline-") + c.name + "-" + SfxKindName(kind));
    ASSERT_EQ(mkdir((root + "/prog").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((root + "/data").c_str(), 0777), 0);
    auto folder = [&](Folder f) {
        return f == Folder::kProgram ? root + "/prog" : f == Folder::kData ? root + "/data" : root;
    };
    std::string program = MakeSelfExtractor(kind, root + "/prog", MakeArchive({FileEntry("own.txt", "own\r\n")}));
    std::string pack = root + "/data/pack.bin";
    WriteFileBytes(pack, AsString(MakeArchive({FileEntry("pack.txt", "pack\r\n")})));

    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        if (a == "{pack}") a = kind == kWin64Sfx ? ToWinePath(pack) : pack;
    RunResult r = RunSelfExtractor(kind, program, "", args, folder(c.cwd));
    ASSERT_FALSE(r.timedOut);

    Folder target = kind == kWin64Sfx ? c.wineTarget.value_or(c.target) : c.target;
    std::string shown = kind == kWin64Sfx ? c.wineShownFolder.value_or(c.shownFolder) : c.shownFolder;
    if (shown == "{full}") shown = ShownPath(kind, folder(target) + "/");
    std::string name = c.expands == Archive::kOwn ? "own.txt" : "pack.txt";
    EXPECT_EQ(r.out, std::string(kBannerLine) + "expanding : " + shown + name + " ... end.\r\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(folder(target) + "/" + name), c.expands == Archive::kOwn ? "own\r\n" : "pack\r\n");
    for (Folder f : {Folder::kProgram, Folder::kData, Folder::kRoot})
        for (const char* file : {"own.txt", "pack.txt"})
            if (f != target || file != name) EXPECT_FALSE(FileExists(folder(f) + "/" + file)) << folder(f) << "/" << file;
}

INSTANTIATE_TEST_SUITE_P(Kinds, CommandLine,
                         testing::Combine(testing::ValuesIn(RunnableSfxKinds()), testing::ValuesIn(CommandLineCases())),
                         CaseName<CommandLineCase>);

// ---------------------------------------------------------------------------
// Files that hold no readable archive frame or block stream, each given
// after "/e". Standard input is at its end, so every wait for Enter returns
// at once.
// ---------------------------------------------------------------------------

struct FailureCase {
    const char* name;
    // The bytes of the file; nullopt: there is no such file.
    std::function<std::optional<std::string>()> file;
    std::string stdinBytes;
    std::string outputAfterBanner;
    int exitCode;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

// The archive every case starts from: message "Hi", one small entry.
ArchiveImage BaseImage(ArchiveOptions options = {}) {
    options.message = "Hi";
    return BuildArchive(options, BuildEntryStream({FileEntry("a.txt", "hello\r\n")}));
}

std::string WithTrailerLength(std::function<int64_t(int64_t fileSize)> length) {
    ArchiveOptions options;
    options.trailerLengthOverride = length((int64_t)BaseImage().bytes.size());
    return AsString(BaseImage(options).bytes);
}

std::string WithByteChanged(std::function<size_t(const ArchiveImage&)> offset, uint8_t mask) {
    ArchiveImage image = BaseImage();
    image.bytes.at(offset(image)) ^= mask;
    return AsString(image.bytes);
}

// Nothing but the raw head ("Hi", no run command, no password), then the
// bytes of `tail` as the only block.
std::string WithOnlyBlock(const std::vector<uint8_t>& tail) {
    ArchiveOptions options;
    options.message = "Hi";
    options.rawStreamTail = tail;
    return AsString(BuildArchive(options, {}).bytes);
}

std::vector<FailureCase> FailureCases() {
    // A head cut short runs into the trailer, which is always there: its
    // bytes are read as the rest of the head until a 0x00 ends the string or
    // the descriptor, and the first block read then finds the file pointer
    // past the trailer's start. Of a length under 256, only the low byte is
    // not 0x00.
    const std::string cutInMessage = HandMadeArchive("Hi");
    const std::string cutInDescriptor = HandMadeArchive(std::string("Hi\0run\0\x01", 8));
    // The descriptor's check bytes come from the trailer: the length's low
    // byte and a 0x00, each XORed with the flag byte 1.
    const uint16_t cutCheck = (uint16_t)((1 ^ (uint8_t)cutInDescriptor.size()) | (1 ^ 0) << 8);
    return {
        {"MissingFile", [] { return std::nullopt; }, "", kReadError, 2},
        {"ElevenBytes", [] { return AsString(BaseImage().bytes).substr(0, 11); }, "", kReadError, 2},
        {"TrailerLengthNegative", [] { return WithTrailerLength([](int64_t) { return -1; }); }, "", kBrokenFrame, 1},
        {"TrailerLengthPastFileSize", [] { return WithTrailerLength([](int64_t size) { return size + 1; }); }, "",
         kBrokenFrame, 1},
        {"TrailerLengthZero", [] { return WithTrailerLength([](int64_t) { return 0; }); }, "", kReadError, 2},
        {"TrailerLengthFive", [] { return WithTrailerLength([](int64_t) { return 5; }); }, "", kReadError, 2},
        {"TrailerLengthSix", [] { return WithTrailerLength([](int64_t) { return 6; }); }, "", kBrokenFrame, 1},
        {"TrailerLengthEleven", [] { return WithTrailerLength([](int64_t) { return 11; }); }, "", kBrokenFrame, 1},
        {"SignatureFirstLetter", [] { return WithByteChanged([](const ArchiveImage& i) { return i.archiveStart; }, 1); },
         "", kBrokenFrame, 1},
        {"SignatureFifthByte",
         [] { return WithByteChanged([](const ArchiveImage& i) { return i.archiveStart + 4; }, 0x10); }, "",
         kBrokenFrame, 1},
        {"SignatureSixthByte",
         [] { return WithByteChanged([](const ArchiveImage& i) { return i.archiveStart + 5; }, 0x01); }, "",
         kBrokenFrame, 1},
        {"EndsInsideMessage", [=] { return cutInMessage; }, "",
         "Hi" + std::string(1, (char)cutInMessage.size()) + "\r\n" + kReadError, 2},
        {"EndsInsideRunCommand", [] { return HandMadeArchive(std::string("Hi\0run", 6)); }, "", "Hi\r\n" + kReadError,
         2},
        {"EndsInsidePasswordDescriptor", [=] { return cutInDescriptor; }, PasswordWithCheck(cutCheck) + "\r\n",
         "Hi\r\nPassword : " + kReadError, 2},
        {"EmptyStream", [] { return WithOnlyBlock({}); }, "", "Hi\r\n" + kReadError, 2},
        {"LastBlockTwoZeroBytes", [] { return WithOnlyBlock({0x00, 0x00}); }, "", "Hi\r\n" + kReadError, 2},
        {"LastBlockTwoOtherBytes", [] { return WithOnlyBlock({0x00, 0x01}); }, "", "Hi\r\n" + kBrokenBlock, 2},
    };
}

class Failure : public testing::TestWithParam<std::tuple<SfxKind, FailureCase>> {};

TEST_P(Failure, EndsWithItsMessageAndExitCode) {
    const auto& [kind, c] = GetParam();
    std::string dir = MakeTempDir(std::string("failure-") + c.name + "-" + SfxKindName(kind));
    std::optional<std::string> file = c.file();
    if (file) WriteFileBytes(dir + "/pack.bin", *file);
    RunResult r = RunExplicitArchive(kind, dir + "/pack.bin", c.stdinBytes, dir);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, std::string(kBannerLine) + c.outputAfterBanner);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_FALSE(FileExists(dir + "/a.txt"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Failure,
                         testing::Combine(testing::ValuesIn(RunnableSfxKinds()), testing::ValuesIn(FailureCases())),
                         CaseName<FailureCase>);

// ---------------------------------------------------------------------------
// A damaged second block of three: the first block is read through, so its
// whole entries are expanded; the entry being written when the second block
// is opened ends on its own line and its partial file is deleted.
// ---------------------------------------------------------------------------

class DamagedBlock : public testing::TestWithParam<SfxKind> {};

TEST_P(DamagedBlock, EndsTheEntryBeingWrittenAndDeletesIt) {
    const SfxKind kind = GetParam();
    const std::string big = NoiseBytes(10000, 12345);
    ArchiveImage image =
        BuildArchive({}, BuildEntryStream({FileEntry("a.txt", "first\r\n"), FileEntry("b.txt", "second\r\n"),
                                           FileEntry("big.bin", big)}));
    ASSERT_EQ(image.blockStarts.size(), 3u);
    // One bit of a data byte, and one bit of a check byte, of the second block.
    for (size_t offset : {image.blockStarts[1] + 100, image.blockStarts[2] - 1}) {
        SCOPED_TRACE("offset " + std::to_string(offset));
        std::string dir = MakeTempDir("damaged-block-" + SfxKindName(kind));
        std::string bytes = AsString(image.bytes);
        bytes[offset] ^= 0x08;
        WriteFileBytes(dir + "/pack.bin", bytes);
        RunResult r = RunExplicitArchive(kind, dir + "/pack.bin", "", dir);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, std::string(kBannerLine) + Expanding(kind, dir, "a.txt") + "end.\r\n" +
                             Expanding(kind, dir, "b.txt") + "end.\r\n" + Expanding(kind, dir, "big.bin") +
                             kBrokenBlock);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(ReadFileBytes(dir + "/a.txt"), "first\r\n");
        EXPECT_EQ(ReadFileBytes(dir + "/b.txt"), "second\r\n");
        EXPECT_FALSE(FileExists(dir + "/big.bin"));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedBlock, testing::ValuesIn(RunnableSfxKinds()), KindName);

// ---------------------------------------------------------------------------
// The archive's message is written as stored, then one line end; an empty
// message writes nothing.
// ---------------------------------------------------------------------------

class Message : public testing::TestWithParam<SfxKind> {};

TEST_P(Message, IsPrintedAsStored) {
    const SfxKind kind = GetParam();
    struct Case {
        const char* name;
        std::string message;
        std::string printed;
        std::string locale;
    };
    const Case cases[] = {
        {"two lines", "First line\r\nSecond line", "First line\r\nSecond line\r\n", ""},
        {"ends with a line end", "Only line\r\n", "Only line\r\n\r\n", ""},
        {"empty", "", "", ""},
        // Shift JIS under code page 932: two characters whose trail byte is
        // a backslash, one with a trail byte above 0x7F, and a kana of one
        // byte. Natively these are bytes that are not UTF-8.
        {"double-byte", "\x95\x5c\x83\x5c\x82\xa0 \xb1 ok", "\x95\x5c\x83\x5c\x82\xa0 \xb1 ok\r\n", "ja_JP.UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = MakeTempDir("message-" + SfxKindName(kind));
        ArchiveOptions options;
        options.message = c.message;
        WriteFileBytes(dir + "/pack.bin", AsString(MakeArchive({FileEntry("a.txt", "text\r\n")}, options)));
        SfxOptions sfx;
        sfx.locale = c.locale;
        RunResult r = RunExplicitArchive(kind, dir + "/pack.bin", "", dir, sfx);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, std::string(kBannerLine) + c.printed + Expanding(kind, dir, "a.txt") + "end.\r\n");
        EXPECT_EQ(r.exitCode, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Message, testing::ValuesIn(RunnableSfxKinds()), KindName);

// ---------------------------------------------------------------------------
// The password prompt: three tries; the accepted line's bytes unscramble the
// stream, so a file with the right contents shows the right password was
// taken.
// ---------------------------------------------------------------------------

struct PasswordCase {
    const char* name;
    uint8_t flag;
    std::string stdinBytes;
    int prompts;
    bool accepted;
};

void PrintTo(const PasswordCase& c, std::ostream* os) { *os << c.name; }

std::vector<PasswordCase> PasswordCases() {
    return {
        {"ThirdTry", 1, "wrong\r\nSecret\r\nsecret\r\n", 3, true},
        {"FlagFFFirstTry", 0xFF, "secret\r\n", 1, true},
        {"LinesEndingInLf", 1, "Secret\nsecret\n", 2, true},
        // The fourth line would be right, but is never read.
        {"ThreeWrong", 1, "secret \r\nsecre\r\nSECRET\r\nsecret\r\n", 3, false},
        {"EndOfInput", 1, "", 3, false},
    };
}

class Password : public testing::TestWithParam<std::tuple<SfxKind, PasswordCase>> {};

TEST_P(Password, AllowsThreeTries) {
    const auto& [kind, c] = GetParam();
    std::string dir = MakeTempDir(std::string("password-") + c.name + "-" + SfxKindName(kind));
    ArchiveOptions options;
    options.message = "Protected.";
    options.password = "secret";
    options.passwordFlag = c.flag;
    const std::string contents = NoiseBytes(5000, 777) + "end";  // two blocks: the keystream runs across them
    WriteFileBytes(dir + "/pack.bin", AsString(MakeArchive({FileEntry("a.bin", contents)}, options)));
    RunResult r = RunExplicitArchive(kind, dir + "/pack.bin", c.stdinBytes, dir);
    ASSERT_FALSE(r.timedOut);
    std::string prompts;
    for (int i = 0; i < c.prompts; i++) prompts += "Password : ";
    std::string expected = std::string(kBannerLine) + "Protected.\r\n" + prompts;
    if (c.accepted) expected += Expanding(kind, dir, "a.bin") + "end.\r\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.exitCode, c.accepted ? 0 : 1);
    if (c.accepted)
        EXPECT_EQ(ReadFileBytes(dir + "/a.bin"), contents);
    else
        EXPECT_FALSE(FileExists(dir + "/a.bin"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Password,
                         testing::Combine(testing::ValuesIn(RunnableSfxKinds()), testing::ValuesIn(PasswordCases())),
                         CaseName<PasswordCase>);

// ---------------------------------------------------------------------------
// The run command is started after the last entry, relative to the current
// folder, without waiting for it; one that cannot be started is reported
// and the run still ends with exit code 0.
// ---------------------------------------------------------------------------

class RunCommand : public testing::TestWithParam<SfxKind> {};

TEST_P(RunCommand, IsStartedAfterTheLastEntry) {
    const SfxKind kind = GetParam();
    std::string dir = MakeTempDir("run-command-" + SfxKindName(kind));
    // A program that leaves started.txt in the folder: natively a shell
    // script that writes it into its current folder (the one it inherits);
    // under wine a self-extractor whose archive holds it.
    std::string command;
    if (kind == kNativeSfx) {
        command = "marker.sh";
        WriteFileBytes(dir + "/marker.sh", "#!/bin/sh\nprintf 'started\\r\\n' > started.txt\n", true);
    } else {
        command = "marker.exe";
        MakeSelfExtractor(kind, dir, MakeArchive({FileEntry("started.txt", "started\r\n")}), command);
    }
    ArchiveOptions options;
    options.runCommand = command;
    WriteFileBytes(dir + "/pack.bin", AsString(MakeArchive({FileEntry("a.txt", "text\r\n")}, options)));
    RunResult r = RunExplicitArchive(kind, dir + "/pack.bin", "", dir);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, std::string(kBannerLine) + Expanding(kind, dir, "a.txt") + "end.\r\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(WaitForFile(dir + "/started.txt", "started\r\n", 30));
}

TEST_P(RunCommand, ThatCannotBeStartedIsReported) {
    const SfxKind kind = GetParam();
    std::string dir = MakeTempDir("run-missing-" + SfxKindName(kind));
    ArchiveOptions options;
    options.runCommand = "missing.exe";
    WriteFileBytes(dir + "/pack.bin", AsString(MakeArchive({FileEntry("a.txt", "text\r\n")}, options)));
    RunResult r = RunExplicitArchive(kind, dir + "/pack.bin", "", dir);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, std::string(kBannerLine) + Expanding(kind, dir, "a.txt") + "end.\r\n" +
                         "Couldn't run missing.exe\a\r\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir + "/a.txt"), "text\r\n");
}

INSTANTIATE_TEST_SUITE_P(Kinds, RunCommand, testing::ValuesIn(RunnableSfxKinds()), KindName);

}  // namespace
