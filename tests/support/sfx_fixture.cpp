#include "tests/support/sfx_fixture.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

const char kBannerLine[] = "*** Tarnwick Ver. 2.11 ***  Tarnwick self-extractor\r\n";

std::vector<SfxKind> RunnableSfxKinds() {
    std::vector<SfxKind> kinds = {kNativeSfx};
    if (HaveWin64Sfx()) kinds.push_back(kWin64Sfx);
    return kinds;
}

std::string SfxKindName(SfxKind kind) { return kind == kNativeSfx ? "native" : "win64"; }

std::vector<uint8_t> MakeArchive(const std::vector<EntryInput>& entries, const ArchiveOptions& options) {
    return BuildArchive(options, BuildEntryStream(entries)).bytes;
}

std::string MakeSelfExtractor(SfxKind kind, const std::string& dir, const std::vector<uint8_t>& archive,
                              const std::string& name) {
    std::string program = ReadFileBytes(SfxPath(kind));
    EXPECT_FALSE(program.empty()) << "no extractor at " << SfxPath(kind);
    program.append(archive.begin(), archive.end());
    std::string path = dir + "/" + name;
    WriteFileBytes(path, program, true);
    return path;
}

RunResult RunSelfExtractor(SfxKind kind, const std::string& program, const std::string& stdinBytes,
                           const std::vector<std::string>& args, const std::string& cwd,
                           const SfxOptions& options) {
    SfxOptions o = options;
    o.program = program;
    std::string folder = cwd.empty() ? program.substr(0, program.rfind('/')) : cwd;
    return RunSfx(kind, args, stdinBytes, folder, o);
}

RunResult RunExplicitArchive(SfxKind kind, const std::string& path, const std::string& stdinBytes,
                             const std::string& cwd, const SfxOptions& options) {
    std::string shown = kind == kWin64Sfx ? ToWinePath(path) : path;
    return RunSfx(kind, {"/e", shown}, stdinBytes, cwd, options);
}

std::string ShownPath(SfxKind kind, const std::string& path) {
    if (kind == kWin64Sfx) return ToWinePath(path);
    std::string shown = path;
    for (char& c : shown)
        if (c == '/') c = '\\';
    return shown;
}

uint64_t FileTimeOf(int64_t unixSeconds, uint32_t ticks) {
    return (uint64_t)(unixSeconds * 10000000 + 116444736000000000LL) + ticks;
}

static uint64_t FileTimeOf(const struct timespec& t) {
    return FileTimeOf(t.tv_sec, (uint32_t)(t.tv_nsec / 100));
}

FileTimes ReadFileTimes(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return {FileTimeOf(st.st_atim), FileTimeOf(st.st_mtim)};
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
