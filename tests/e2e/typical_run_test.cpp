// The typical run: an archive of readme.txt and docs\guide.txt appended to
// setup.exe expands into the program's folder, with the whole dialogue.
#include <gtest/gtest.h>

#include "tests/support/sfx_fixture.h"

class TypicalRun : public testing::TestWithParam<SfxKind> {};

TEST_P(TypicalRun, ExpandsIntoTheProgramsFolder) {
    const SfxKind kind = GetParam();
    std::string dir = MakeTempDir("typical-" + SfxKindName(kind));
    std::string readme(20000, 'r');
    for (size_t i = 0; i < readme.size(); i += 7) readme[i] = (char)('a' + i % 26);
    std::string guide = readme.substr(100, 5000) + "guide only\r\n";
    EntryInput a{.name = "readme.txt", .creationTime = FileTimeOf(1000000000),
                .lastAccessTime = FileTimeOf(1600000000, 1234567), .lastWriteTime = FileTimeOf(1500000000, 7654321),
                .contents = Bytes(readme)};
    EntryInput b{.name = "docs\\guide.txt", .lastAccessTime = FileTimeOf(1600000001),
                .lastWriteTime = FileTimeOf(1400000000), .contents = Bytes(guide)};
    ArchiveOptions options;
    options.message = "Welcome.\r\nSecond line.";
    std::string program = MakeSelfExtractor(kind, dir, MakeArchive({a, b}, options));

    RunResult r = RunSelfExtractor(kind, program, "");
    ASSERT_FALSE(r.timedOut);
    std::string target = ShownPath(kind, dir + "/");
    EXPECT_EQ(r.out, std::string(kBannerLine) + "Welcome.\r\nSecond line.\r\n" +
                         "expanding : " + target + "readme.txt ... end.\r\n" +
                         "expanding : " + target + "docs\\guide.txt ... end.\r\n");
    EXPECT_EQ(r.exitCode, 0);
    // Times first: reading a file may move its access time.
    FileTimes t = ReadFileTimes(dir + "/readme.txt");
    EXPECT_EQ(t.lastWrite, a.lastWriteTime);
    EXPECT_EQ(t.lastAccess, a.lastAccessTime);
    EXPECT_EQ(ReadFileTimes(dir + "/docs/guide.txt").lastWrite, b.lastWriteTime);
    EXPECT_EQ(ReadFileBytes(dir + "/readme.txt"), readme);
    EXPECT_EQ(ReadFileBytes(dir + "/docs/guide.txt"), guide);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TypicalRun, testing::ValuesIn(RunnableSfxKinds()),
                         [](const testing::TestParamInfo<SfxKind>& info) { return SfxKindName(info.param); });
