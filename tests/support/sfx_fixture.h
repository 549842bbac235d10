// End-to-end fixtures: archives made by our own writer, self-extracting
// programs made from them, and runs of both extractors (native, and the
// x86_64 Windows build under wine64) on them.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "packer/archive_writer.h"
#include "packer/entry_writer.h"
#include "tests/support/run_program.h"

// The extractor kinds this build can run: native always, win64 when given.
std::vector<SfxKind> RunnableSfxKinds();
std::string SfxKindName(SfxKind kind);  // "native" / "win64", for test names

// The first line of every run.
extern const char kBannerLine[];

// An archive image (no leading bytes unless options say so) holding
// `entries`.
std::vector<uint8_t> MakeArchive(const std::vector<EntryInput>& entries, const ArchiveOptions& options = {});

// A self-extracting program: a copy of the extractor of `kind` with
// `archive` appended, written to dir/name (executable). Returns its path.
std::string MakeSelfExtractor(SfxKind kind, const std::string& dir, const std::vector<uint8_t>& archive,
                              const std::string& name = "setup.exe");

// Runs a program made by MakeSelfExtractor with `args`, in `cwd` (its own
// folder when empty).
RunResult RunSelfExtractor(SfxKind kind, const std::string& program, const std::string& stdinBytes,
                           const std::vector<std::string>& args = {}, const std::string& cwd = "",
                           const SfxOptions& options = SfxOptions());

// Runs the extractor of `kind` as "/e path". `path` is a Unix path, given
// to the program as that system writes it (a wine path for win64); relative
// paths stay relative to `cwd`.
RunResult RunExplicitArchive(SfxKind kind, const std::string& path, const std::string& stdinBytes,
                             const std::string& cwd, const SfxOptions& options = SfxOptions());

// How the extractor of `kind` names a file it reached through the
// absolute Unix path `path`: "\dir\file" natively (its module path comes
// back with backslashes), "Z:\dir\file" under wine.
std::string ShownPath(SfxKind kind, const std::string& path);

// A FILETIME for tests: seconds since 1970 plus 100-ns ticks.
uint64_t FileTimeOf(int64_t unixSeconds, uint32_t ticks = 0);

// Reads a file's last write and last access times as FILETIMEs
// (100-ns precision where the file system keeps it).
struct FileTimes { uint64_t lastAccess; uint64_t lastWrite; };
FileTimes ReadFileTimes(const std::string& path);

std::vector<uint8_t> Bytes(const std::string& s);
