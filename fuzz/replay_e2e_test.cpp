// The fuzz targets' inputs, replayed through the native extractor: the seed
// corpus (fuzz/corpus), whose archives are all sound, and every input that
// once made a target fail (fuzz/regressions). Each input is laid out as the
// targets take it: 1 byte n, n bytes of standard input, then the archive,
// which is run as "/e run/a.bin" from the folder above.
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sfx_fixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> InputsIn(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code error;
    for (const fs::directory_entry& item : fs::directory_iterator(std::string(TARNWICK_FUZZ_INPUTS) + "/" + folder, error)) {
        if (item.is_regular_file() && item.path().filename().string()[0] != '.') paths.push_back(item.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Runs one input; returns the exit code after checking what holds for
// every input: the run ends by itself with one of the program's codes,
// prints the banner first and nothing on standard error, and creates
// nothing outside the archive's folder.
int Replay(const std::string& input) {
    SCOPED_TRACE(input);
    std::string bytes = ReadFileBytes(input);
    if (bytes.empty()) return 0;
    size_t stdinLength = std::min<size_t>(static_cast<uint8_t>(bytes[0]), bytes.size() - 1);
    std::string parent = MakeTempDir("replay");
    fs::create_directory(parent + "/run");
    WriteFileBytes(parent + "/run/a.bin", bytes.substr(1 + stdinLength));
    SfxOptions options;
    options.timeoutSeconds = 30;
    RunResult r = RunSfx(kNativeSfx, {"/e", parent + "/run/a.bin"}, bytes.substr(1, stdinLength), parent, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRUE(r.exitCode >= 0 && r.exitCode <= 2) << "exit code " << r.exitCode << "\n" << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.compare(0, strlen(kBannerLine), kBannerLine), 0) << r.out;
    std::vector<std::string> left;
    for (const fs::directory_entry& item : fs::directory_iterator(parent)) left.push_back(item.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"run"});
    if (!testing::Test::HasFailure()) fs::remove_all(parent);
    return r.exitCode;
}

TEST(FuzzInputs, EverySeedIsASoundArchiveThatExpandsWhole) {
    std::vector<std::string> seeds = InputsIn("corpus");
    EXPECT_GE(seeds.size(), 10u);
    for (const std::string& seed : seeds) EXPECT_EQ(Replay(seed), 0) << seed;
}

TEST(FuzzInputs, EveryEarlierFindingEndsInTheProgramsOwnWay) {
    for (const std::string& finding : InputsIn("regressions")) Replay(finding);
}

}  // namespace
