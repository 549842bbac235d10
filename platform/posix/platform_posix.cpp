// platform.h on POSIX: our own stand-in for the Win32 functions, for Linux.
//
// The core speaks in Win32 terms: paths with backslashes, FILETIME stamps,
// the ANSI code page (UTF-8 here), ShellExecuteA results. Every function
// below translates at the boundary and otherwise keeps the Win32 behaviour
// the core relies on: a folder cannot be opened as a file, a negative seek
// fails, a shell start reports success as a value above 32.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/platform.h"

#ifdef TARNWICK_FUZZ_EXIT
#include <stdio.h>

#include "fuzz/fuzz_platform.h"
#endif

extern char** environ;

namespace {

// ShellExecuteA results: above 32 is success; 2 is "file not found", 31 is
// "no application is associated with the file".
const uintptr_t kShellStarted = 33;
const uintptr_t kShellFileNotFound = 2;
const uintptr_t kShellNoAssociation = 31;

int AsDescriptor(FileHandle handle) { return static_cast<int>(handle); }

// A path from the core with every '\' byte mapped to '/', the form the file
// system takes. Short paths stay on the stack; paths have no length limit,
// so longer ones go to the heap. Text() is null when that allocation fails.
class NativePath {
  public:
    explicit NativePath(const char* path) {
        size_t length = strlen(path);
        text_ = length < sizeof(local_) ? local_ : static_cast<char*>(malloc(length + 1));
        if (text_ == nullptr) return;
        for (size_t i = 0; i <= length; ++i) text_[i] = path[i] == '\\' ? '/' : path[i];
    }
    ~NativePath() {
        if (text_ != local_) free(text_);
    }
    NativePath(const NativePath&) = delete;
    NativePath& operator=(const NativePath&) = delete;

    const char* Text() const { return text_; }

  private:
    char local_[256];
    char* text_;
};

// FILETIME counts 100-nanosecond ticks since 1601-01-01 UTC. Dividing the
// unsigned tick count first keeps the seconds exact and the nanoseconds in
// [0, 1e9) for times before 1970 too (the seconds are then negative).
// The value 0 (and all bits set) means "leave this stamp alone" to
// SetFileTime, so it leaves the stamp alone here as well.
timespec ToTimespec(const FileTime* time) {
    timespec result;
    uint64_t ticks = time == nullptr ? 0 : (static_cast<uint64_t>(time->highDateTime) << 32) | time->lowDateTime;
    if (ticks == 0 || ticks == ~static_cast<uint64_t>(0)) {
        result.tv_sec = 0;
        result.tv_nsec = UTIME_OMIT;
        return result;
    }
    const uint64_t kTicksPerSecond = 10000000;
    const int64_t kSecondsFrom1601To1970 = 11644473600;
    result.tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970);
    result.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
    return result;
}

// The first "xdg-open" on PATH that may be executed, in a heap buffer the
// caller frees; nullptr when there is none.
char* FindOpener() {
    static const char kOpener[] = "xdg-open";
    const char* path = getenv("PATH");
    if (path == nullptr) return nullptr;
    while (*path != 0) {
        const char* end = strchr(path, ':');
        size_t length = end != nullptr ? static_cast<size_t>(end - path) : strlen(path);
        if (length > 0) {
            char* candidate = static_cast<char*>(malloc(length + 1 + sizeof(kOpener)));
            if (candidate == nullptr) return nullptr;
            memcpy(candidate, path, length);
            candidate[length] = '/';
            memcpy(candidate + length + 1, kOpener, sizeof(kOpener));
            struct stat info;
            if (stat(candidate, &info) == 0 && S_ISREG(info.st_mode) && access(candidate, X_OK) == 0) {
                return candidate;
            }
            free(candidate);
        }
        if (end == nullptr) break;
        path = end + 1;
    }
    return nullptr;
}

// Arguments as main received them.
int gArgumentTotal = 0;  // argument 0 included
char** gArguments = nullptr;

// The executable's path in the core's form, asked once.
bool gModulePathAsked = false;
char* gModulePath = nullptr;

#ifdef TARNWICK_FUZZ_EXIT
// One run inside a fuzz target (fuzz/fuzz_platform.h).
bool gFuzzRunning = false;
jmp_buf* gFuzzExitTarget = nullptr;
const uint8_t* gFuzzInput = nullptr;
size_t gFuzzInputLeft = 0;
uint64_t gFuzzWriteBudget = 0;

// The extractor holds at most the archive and one output file open.
const int kFuzzMaxOpen = 8;
int gFuzzOpen[kFuzzMaxOpen];
int gFuzzOpenCount = 0;

// Native paths of the files and folders the run created, oldest first.
char** gFuzzCreated = nullptr;
size_t gFuzzCreatedCount = 0;
size_t gFuzzCreatedCapacity = 0;

void FuzzRememberOpen(int descriptor) {
    if (gFuzzOpenCount == kFuzzMaxOpen) __builtin_trap();
    gFuzzOpen[gFuzzOpenCount++] = descriptor;
}

// False when the descriptor was not open.
bool FuzzForgetOpen(int descriptor) {
    for (int i = 0; i < gFuzzOpenCount; ++i) {
        if (gFuzzOpen[i] == descriptor) {
            gFuzzOpen[i] = gFuzzOpen[--gFuzzOpenCount];
            return true;
        }
    }
    return false;
}

void FuzzRememberCreated(const char* nativePath) {
    if (gFuzzCreatedCount == gFuzzCreatedCapacity) {
        size_t capacity = gFuzzCreatedCapacity ? 2 * gFuzzCreatedCapacity : 64;
        char** grown = static_cast<char**>(realloc(gFuzzCreated, capacity * sizeof(char*)));
        if (grown == nullptr) abort();
        gFuzzCreated = grown;
        gFuzzCreatedCapacity = capacity;
    }
    char* copy = strdup(nativePath);
    if (copy == nullptr) abort();
    gFuzzCreated[gFuzzCreatedCount++] = copy;
}
#endif

}  // namespace

#ifdef TARNWICK_FUZZ_EXIT
void FuzzPlatformBegin(jmp_buf* exitTarget, const uint8_t* input, size_t inputSize, uint64_t writeBudget) {
    gFuzzRunning = true;
    gFuzzExitTarget = exitTarget;
    gFuzzInput = input;
    gFuzzInputLeft = inputSize;
    gFuzzWriteBudget = writeBudget;
}

void FuzzPlatformEnd() {
    while (gFuzzOpenCount > 0) close(gFuzzOpen[--gFuzzOpenCount]);
    // Newest first: a folder's contents go before the folder.
    while (gFuzzCreatedCount > 0) {
        char* path = gFuzzCreated[--gFuzzCreatedCount];
        remove(path);
        free(path);
    }
    gFuzzRunning = false;
    gFuzzExitTarget = nullptr;
    gFuzzInput = nullptr;
    gFuzzInputLeft = 0;
}
#endif

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

FileHandle PlatformOpenForRead(const char* path) {
    NativePath native(path);
    if (native.Text() == nullptr) return kInvalidFileHandle;
    int descriptor = open(native.Text(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return kInvalidFileHandle;
    // CreateFileA cannot open a folder as a file; open(2) can.
    struct stat info;
    if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(descriptor);
        return kInvalidFileHandle;
    }
#ifdef TARNWICK_FUZZ_EXIT
    FuzzRememberOpen(descriptor);
#endif
    return descriptor;
}

FileHandle PlatformCreateForWrite(const char* path) {
    NativePath native(path);
    if (native.Text() == nullptr) return kInvalidFileHandle;
    int descriptor = open(native.Text(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) return kInvalidFileHandle;
#ifdef TARNWICK_FUZZ_EXIT
    FuzzRememberOpen(descriptor);
    FuzzRememberCreated(native.Text());
#endif
    return descriptor;
}

// ReadFile and WriteFile on a file move the whole count unless the file
// ends or the device fails; read(2) and write(2) may stop short, so they are
// repeated until `count` bytes have moved, the file ends (a move of 0), or
// the call fails.
template <typename Move>
static bool MoveAll(uint32_t count, uint32_t* transferred, Move move) {
    uint32_t done = 0;
    while (done < count) {
        uint32_t chunk = count - done > 0x40000000u ? 0x40000000u : count - done;
        ssize_t moved = move(done, chunk);
        if (moved < 0) {
            if (errno == EINTR) continue;
            *transferred = done;
            return false;
        }
        if (moved == 0) break;
        done += static_cast<uint32_t>(moved);
    }
    *transferred = done;
    return true;
}

bool PlatformRead(FileHandle handle, void* buffer, uint32_t count, uint32_t* transferred) {
    char* bytes = static_cast<char*>(buffer);
    return MoveAll(count, transferred,
                   [&](uint32_t at, uint32_t n) { return read(AsDescriptor(handle), bytes + at, n); });
}

bool PlatformWrite(FileHandle handle, const void* buffer, uint32_t count, uint32_t* transferred) {
    const char* bytes = static_cast<const char*>(buffer);
#ifdef TARNWICK_FUZZ_EXIT
    // A full disk: the write that passes the run's budget stops short.
    if (gFuzzRunning) {
        if (count > gFuzzWriteBudget) count = static_cast<uint32_t>(gFuzzWriteBudget);
        gFuzzWriteBudget -= count;
    }
#endif
    return MoveAll(count, transferred,
                   [&](uint32_t at, uint32_t n) { return write(AsDescriptor(handle), bytes + at, n); });
}

int64_t PlatformFileSize(FileHandle handle) {
    struct stat info;
    if (fstat(AsDescriptor(handle), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
}

bool PlatformSeek(FileHandle handle, int64_t position) {
    return lseek(AsDescriptor(handle), static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(-1);
}

int64_t PlatformTell(FileHandle handle) {
    off_t position = lseek(AsDescriptor(handle), 0, SEEK_CUR);
    return position == static_cast<off_t>(-1) ? -1 : static_cast<int64_t>(position);
}

bool PlatformClose(FileHandle handle) {
#ifdef TARNWICK_FUZZ_EXIT
    // Closing what is not open could close another file's handle.
    if (!FuzzForgetOpen(AsDescriptor(handle))) __builtin_trap();
#endif
    return close(AsDescriptor(handle)) == 0;
}

bool PlatformSetFileTimes(FileHandle handle, const FileTime*, const FileTime* lastAccessTime,
                          const FileTime* lastWriteTime) {
    timespec times[2] = {ToTimespec(lastAccessTime), ToTimespec(lastWriteTime)};
    return futimens(AsDescriptor(handle), times) == 0;
}

bool PlatformDeleteFile(const char* path) {
    NativePath native(path);
    return native.Text() != nullptr && unlink(native.Text()) == 0;
}

// ---------------------------------------------------------------------------
// Names in the file system
// ---------------------------------------------------------------------------

bool PlatformFindFile(const char* path) {
    NativePath native(path);
    struct stat info;
    return native.Text() != nullptr && lstat(native.Text(), &info) == 0;
}

uint32_t PlatformFileAttributes(const char* path) {
    static const uint32_t kAttributeNormal = 0x80u;
    NativePath native(path);
    struct stat info;
    if (native.Text() == nullptr || stat(native.Text(), &info) != 0) return kPlatformNoAttributes;
    return S_ISDIR(info.st_mode) ? kPlatformAttributeDirectory : kAttributeNormal;
}

bool PlatformCreateFolder(const char* path) {
    NativePath native(path);
    if (native.Text() == nullptr || mkdir(native.Text(), 0777) != 0) return false;
#ifdef TARNWICK_FUZZ_EXIT
    FuzzRememberCreated(native.Text());
#endif
    return true;
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

// One UTF-8 character: a lead byte with exactly the continuation bytes it
// announces, each in the range that keeps the sequence well-formed (no
// overlong forms, no surrogates, nothing above U+10FFFF). Any byte that does
// not start such a sequence is a character of its own. NUL is never a
// continuation byte, so the step never passes the end of the string.
const char* PlatformCharNext(const char* p) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
    unsigned char lead = s[0];
    if (lead == 0) return p;
    if (lead < 0x80) return p + 1;
    int trailCount;
    unsigned char secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailCount = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailCount = 2;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailCount = 3;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return p + 1;
    }
    if (s[1] < secondLow || s[1] > secondHigh) return p + 1;
    for (int i = 2; i <= trailCount; ++i) {
        if ((s[i] & 0xC0) != 0x80) return p + 1;
    }
    return p + 1 + trailCount;
}

// ---------------------------------------------------------------------------
// Process
// ---------------------------------------------------------------------------

void PlatformStart(int argc, char** argv) {
    gArgumentTotal = argc;
    gArguments = argv;
    // A closed standard output must not end the program: console failures
    // are ignored, as on Windows.
    signal(SIGPIPE, SIG_IGN);
}

int PlatformArgumentCount() { return gArgumentTotal > 0 ? gArgumentTotal - 1 : 0; }

const char* PlatformArgument(int index) {
    if (index < 1 || index >= gArgumentTotal) return nullptr;
    return gArguments[index];
}

const char* PlatformModulePath() {
    if (gModulePathAsked) return gModulePath;
    gModulePathAsked = true;
    for (size_t size = 256; size <= (1u << 24); size *= 2) {
        char* buffer = static_cast<char*>(malloc(size));
        if (buffer == nullptr) return nullptr;
        ssize_t length = readlink("/proc/self/exe", buffer, size);
        if (length < 0) {
            free(buffer);
            return nullptr;
        }
        if (static_cast<size_t>(length) < size) {
            buffer[length] = 0;
            PlatformImportPath(buffer);
            gModulePath = buffer;
            return gModulePath;
        }
        free(buffer);
    }
    return nullptr;
}

void PlatformImportPath(char* path) {
    for (; *path != 0; ++path) {
        if (*path == '/') *path = '\\';
    }
}

// The run command is one path, relative to the current folder unless it is
// absolute, never split into a program and parameters. An executable file
// is started directly; any other existing name goes to the desktop's opener,
// the nearest thing to the shell's default action. The child shares our
// standard input and output, and nobody waits for it.
uintptr_t PlatformShellStart(const char* file) {
#ifdef TARNWICK_FUZZ_EXIT
    // A fuzz run starts nothing.
    (void)file;
    return kShellFileNotFound;
#endif
    NativePath native(file);
    struct stat info;
    if (native.Text() == nullptr || native.Text()[0] == 0 || stat(native.Text(), &info) != 0) {
        return kShellFileNotFound;
    }

    char* opener = nullptr;
    char* arguments[3];
    const char* program;
    if (S_ISREG(info.st_mode) && access(native.Text(), X_OK) == 0) {
        program = native.Text();
        arguments[0] = const_cast<char*>(native.Text());
        arguments[1] = nullptr;
    } else {
        opener = FindOpener();
        if (opener == nullptr) return kShellNoAssociation;
        program = opener;
        arguments[0] = const_cast<char*>("xdg-open");
        arguments[1] = const_cast<char*>(native.Text());
        arguments[2] = nullptr;
    }

    // We ignore SIGPIPE; the child starts with the default again.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t child;
    int result = posix_spawn(&child, program, nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    free(opener);
    return result == 0 ? kShellStarted : kShellFileNotFound;
}

void PlatformExit(int exitCode) {
#ifdef TARNWICK_FUZZ_EXIT
    if (gFuzzRunning) {
        if (gFuzzExitTarget != nullptr) longjmp(*gFuzzExitTarget, exitCode + 1);
        throw FuzzExit{exitCode};
    }
#endif
    _exit(exitCode);
}

// ---------------------------------------------------------------------------
// Console
// ---------------------------------------------------------------------------

void PlatformConsoleWrite(const void* bytes, size_t count) {
#ifdef TARNWICK_FUZZ_EXIT
    if (gFuzzRunning) return;
#endif
    const char* p = static_cast<const char*>(bytes);
    while (count > 0) {
        ssize_t written = write(STDOUT_FILENO, p, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        p += written;
        count -= static_cast<size_t>(written);
    }
}

size_t PlatformConsoleRead(void* buffer, size_t capacity) {
#ifdef TARNWICK_FUZZ_EXIT
    if (gFuzzRunning) {
        size_t count = capacity < gFuzzInputLeft ? capacity : gFuzzInputLeft;
        if (count > 0) memcpy(buffer, gFuzzInput, count);
        gFuzzInput += count;
        gFuzzInputLeft -= count;
        return count;
    }
#endif
    for (;;) {
        ssize_t received = read(STDIN_FILENO, buffer, capacity);
        if (received < 0 && errno == EINTR) continue;
        return received > 0 ? static_cast<size_t>(received) : 0;
    }
}
