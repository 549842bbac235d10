// The Windows extractors as files: the format of each program, its console
// subsystem, the DLLs it imports, its manifest, and the size of the shipped
// 32-bit program, which is prepended to every archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace {

struct PeProgram {
    const char* name;         // for messages
    std::string path;         // empty when this build was not given one
    const char* toolPrefix;   // of the MinGW binutils that read it
    const char* fileFormat;   // as objdump names it
    const char* magic;        // optional header magic: PE32 or PE32+
};

void PrintTo(const PeProgram& program, std::ostream* out) { *out << program.name; }

std::vector<PeProgram> Programs() {
    return {
        {"i686", TARNWICK_WIN32_SFX, "i686-w64-mingw32-", "pei-i386", "010b"},
        {"x86_64", TARNWICK_WIN64_SFX, "x86_64-w64-mingw32-", "pei-x86-64", "020b"},
    };
}

std::string ToLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The value on the first line of objdump's listing that begins with `key`
// (leading blanks aside), up to the end of that line, trimmed.
std::string FieldAfter(const std::string& listing, const std::string& key) {
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        if (!value.empty() && value[0] != ' ' && value[0] != '\t' && value[0] != ':') continue;
        size_t first = value.find_first_not_of(" \t:");
        size_t last = value.find_last_not_of(" \t\r");
        return first == std::string::npos ? "" : value.substr(first, last - first + 1);
    }
    return "";
}

std::vector<std::string> ImportedDlls(const std::string& listing) {
    std::vector<std::string> dlls;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::string name = FieldAfter(line, "DLL Name:");
        if (!name.empty()) dlls.push_back(name);
    }
    return dlls;
}

class PeChecks : public ::testing::TestWithParam<PeProgram> {
  protected:
    void SetUp() override {
        if (GetParam().path.empty()) GTEST_SKIP() << "no " << GetParam().name << " Windows build given";
        ASSERT_FALSE(ReadFileBytes(GetParam().path).empty()) << "cannot read " << GetParam().path;
        RunResult dump = RunProgram({std::string(GetParam().toolPrefix) + "objdump", "-p", GetParam().path},
                                    "", "", {}, 120);
        ASSERT_EQ(dump.exitCode, 0) << dump.err;
        listing_ = dump.out;
    }

    std::string listing_;
};

TEST_P(PeChecks, IsAConsoleProgramOfItsArchitecture) {
    EXPECT_NE(listing_.find("file format " + std::string(GetParam().fileFormat)), std::string::npos) << listing_;
    EXPECT_EQ(FieldAfter(listing_, "Magic").substr(0, 4), GetParam().magic);
    // Subsystem 3 is the Windows character-mode (console) subsystem.
    EXPECT_EQ(FieldAfter(listing_, "Subsystem").substr(0, 8), "00000003");
}

TEST_P(PeChecks, ImportsOnlySystemDlls) {
    // What every Windows installation has: a program built statically needs
    // no other DLL to start on a bare system.
    const std::vector<std::string> allowed = {"kernel32.dll", "shell32.dll", "msvcrt.dll", "user32.dll",
                                              "advapi32.dll"};
    std::vector<std::string> dlls = ImportedDlls(listing_);
    EXPECT_FALSE(dlls.empty()) << listing_;
    for (const std::string& dll : dlls) {
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), ToLower(dll)), allowed.end())
            << GetParam().name << " program imports " << dll;
    }
}

TEST_P(PeChecks, RunsAsInvoker) {
    // Without this manifest Windows would ask for administrator rights for a
    // program named like an installer (setup.exe).
    std::string bytes = ReadFileBytes(GetParam().path);
    EXPECT_NE(bytes.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(WindowsPrograms, PeChecks, ::testing::ValuesIn(Programs()),
                         [](const ::testing::TestParamInfo<PeProgram>& param) { return std::string(param.param.name); });

// Every self-extracting archive carries the 32-bit program in front of its
// data, so its size is part of every archive's size. Measured after strip,
// whatever the build did.
TEST(PeSize, StrippedI686ProgramFitsIn64KiB) {
    const std::string path = TARNWICK_WIN32_SFX;
    if (path.empty()) GTEST_SKIP() << "no i686 Windows build given";
    std::string stripped = MakeTempDir("pe-size") + "/tarnwick-sfx.exe";
    RunResult strip = RunProgram({"i686-w64-mingw32-strip", "-o", stripped, path}, "", "", {}, 120);
    ASSERT_EQ(strip.exitCode, 0) << strip.err;
    size_t size = ReadFileBytes(stripped).size();
    ASSERT_GT(size, 0u);
    RecordProperty("i686_stripped_bytes", static_cast<int>(size));
    std::cout << "stripped i686 tarnwick-sfx.exe: " << size << " bytes\n";
    EXPECT_LE(size, 65536u);
}

}  // namespace
