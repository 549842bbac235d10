// Fuzz target: the extractor's whole run on an archive from a stranger.
//
// An input is laid out as
//
//   n          1 byte: how many bytes of standard input follow
//   stdin      min(n, what is left) bytes: the password and overwrite answers
//   archive    the rest: the file given after "/e"
//
// Each input runs the real run sequence, "/e scratch/a.bin", in this
// process: the archive is opened, its message read, the password asked for,
// every entry expanded into the scratch folder (a tmpfs when there is one)
// and the run command "started". Every way the extractor ends jumps back
// here (fuzz/fuzz_platform.h); the exit code must be one of the program's.
// The run then closes what it left open and removes what it created, so the
// next input finds the scratch folder as the first did.
//
// The files an input may write are capped at kWriteBudget bytes in all:
// a few hundred input bytes can describe megabytes of matches, and past the
// cap the write fails like one on a full disk, which is worth running too.
#include <fcntl.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/driver/archive_session.h"
#include "core/driver/console.h"
#include "core/driver/run_sequence.h"
#include "fuzz/fuzz_platform.h"
#include "platform/platform.h"

namespace {

const uint64_t kWriteBudget = 1 << 20;

char gArchivePath[4096];
char gScratchFolder[4096];

// A fresh folder for this process's runs: under /dev/shm when it exists
// (nothing reaches a disk), else under TMPDIR or /tmp.
void MakeScratchFolder() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    if (base == nullptr || base[0] == 0) base = "/tmp";
    snprintf(gScratchFolder, sizeof gScratchFolder - 8, "%s/tarnwick-fuzz-XXXXXX", base);
    if (mkdtemp(gScratchFolder) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    snprintf(gArchivePath, sizeof gArchivePath, "%s/a.bin", gScratchFolder);
    atexit([] {
        unlink(gArchivePath);
        rmdir(gScratchFolder);
    });
}

void WriteArchive(const uint8_t* bytes, size_t size) {
    int descriptor = open(gArchivePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) abort();
    while (size > 0) {
        ssize_t written = write(descriptor, bytes, size);
        if (written <= 0) abort();
        bytes += written;
        size -= (size_t)written;
    }
    close(descriptor);
}

}  // namespace

// A run that ends through an exit leaves what its callers held (the target
// folder's string, for one): the process would have ended there. Those
// leaks are bounded by the run; growth across runs shows in -rss_limit_mb.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t stdinLength = data[0] < size - 1 ? data[0] : size - 1;
    const uint8_t* stdinBytes = data + 1;
    WriteArchive(data + 1 + stdinLength, size - 1 - stdinLength);

    static char program[] = "tarnwick-sfx";
    static char mode[] = "/e";
    static char* argv[] = {program, mode, gArchivePath, nullptr};
    PlatformStart(3, argv);
    ResetArchiveSession();
    ConsoleReset();

    jmp_buf exitTarget;
    int exitCode = setjmp(exitTarget) - 1;
    if (exitCode < 0) {
        FuzzPlatformBegin(&exitTarget, stdinBytes, stdinLength, kWriteBudget);
        RunSequence();
    }
    // The program's own exit codes, and no others.
    if (exitCode > 2) __builtin_trap();
    FuzzPlatformEnd();
    return 0;
}
