// Fuzz target: the packer's reader of archives, `tarnwick list` and
// `tarnwick test`, called through their entry functions as the command
// line calls them.
//
// Inputs are laid out as for the extractor's target, so both share one
// corpus:
//
//   n          1 byte
//   password   min(n, what is left) bytes, given as --password-file
//   archive    the rest
//
// The last byte of the input, which lies in the trailer's reserved bytes
// that no reader reads, chooses the command: bits 0-1 list, list --json,
// test, list --json; bits 2-3 the code page of the names: 1252, 932, utf8,
// 1252.
//
// The core ends a damaged archive's run through the platform's exit, which
// throws FuzzExit here (fuzz/fuzz_platform.h), so the reader's objects are
// destroyed on the way out. The stream on standard output that the reader
// opens with fdopen would be left open by such an end: the link wraps
// fdopen and fclose, and the run closes what is left.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_platform.h"
#include "packer/cli_support.h"
#include "packer/commands.h"

namespace {

std::string gFolder, gArchivePath, gPasswordPath;
int gNullOutput = -1;
bool gInRun = false;
std::vector<FILE*> gStreams;  // opened by the reader in this run

void WriteFile(const std::string& path, const uint8_t* bytes, size_t size) {
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) abort();
    while (size > 0) {
        ssize_t written = write(descriptor, bytes, size);
        if (written <= 0) abort();
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    close(descriptor);
}

}  // namespace

extern "C" FILE* __real_fdopen(int descriptor, const char* mode);
extern "C" int __real_fclose(FILE* stream);

extern "C" FILE* __wrap_fdopen(int descriptor, const char* mode) {
    FILE* stream = __real_fdopen(descriptor, mode);
    // The wrap covers the fuzzer's own streams too: only the run's are kept.
    if (stream != nullptr && gInRun) gStreams.push_back(stream);
    return stream;
}

extern "C" int __wrap_fclose(FILE* stream) {
    gStreams.erase(std::remove(gStreams.begin(), gStreams.end(), stream), gStreams.end());
    return __real_fclose(stream);
}

// A run that ends through an exit leaves what the core's callers held, as
// in the extractor's target.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    if (base == nullptr || base[0] == 0) base = "/tmp";
    std::string pattern = std::string(base) + "/tarnwick-fuzz-reader-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    gFolder = pattern;
    gArchivePath = gFolder + "/a.bin";
    gPasswordPath = gFolder + "/password";
    gNullOutput = open("/dev/null", O_WRONLY | O_CLOEXEC);
    atexit([] {
        unlink(gArchivePath.c_str());
        unlink(gPasswordPath.c_str());
        rmdir(gFolder.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t passwordLength = std::min<size_t>(data[0], size - 1);
    WriteFile(gPasswordPath, data + 1, passwordLength);
    WriteFile(gArchivePath, data + 1 + passwordLength, size - 1 - passwordLength);

    static const char* const kCodePages[] = {"1252", "932", "utf8", "1252"};
    const uint8_t choice = data[size - 1];
    const bool test = (choice & 3) == 2;
    std::vector<std::string> args = {"tarnwick", test ? "test" : "list"};
    if (test) {
        args.push_back("-q");
    } else {
        if (choice & 1) args.push_back("--json");
        args.insert(args.end(), {"--codepage", kCodePages[(choice >> 2) & 3]});
    }
    args.insert(args.end(), {"--password-file", gPasswordPath, gArchivePath});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    // The reader moves the core's output from standard output to standard
    // error and writes its own results to standard output: both go nowhere.
    dup2(gNullOutput, STDOUT_FILENO);
    int exitCode;
    FuzzPlatformBegin(nullptr, nullptr, 0, 0);
    gInRun = true;
    try {
        exitCode = test ? TestCommand(static_cast<int>(args.size()), argv.data(), 2)
                        : ListCommand(static_cast<int>(args.size()), argv.data(), 2);
    } catch (const FuzzExit& exit) {
        exitCode = exit.exitCode;
    } catch (const CliError& error) {
        exitCode = error.exitCode;
    }
    gInRun = false;
    FuzzPlatformEnd();
    while (!gStreams.empty()) __wrap_fclose(gStreams.back());
    // The extractor's codes: a sound archive, no archive or a wrong
    // password, damaged data.
    if (exitCode < 0 || exitCode > 2) __builtin_trap();
    return 0;
}
