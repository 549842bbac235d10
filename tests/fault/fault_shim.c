/* File system faults for the end-to-end tests, preloaded into the native
 * extractor (LD_PRELOAD); the program itself has no switch for them.
 *
 *   TARNWICK_FAULT=write:N        the N-th write to a regular file fails
 *                                 with ENOSPC (the disk is full)
 *   TARNWICK_FAULT=write:N:short  the N-th write to a regular file moves
 *                                 half of its bytes; every later write to
 *                                 a regular file fails with ENOSPC
 *   TARNWICK_FAULT=mkdir:N        the N-th mkdir fails with EACCES
 *   TARNWICK_FAULT=times:N        the N-th futimens / utimensat fails
 *                                 with EPERM
 *   TARNWICK_FAULT_LOG=path       appends one line per write to a regular
 *                                 file ("write COUNT") to path, so a test
 *                                 can count the writes of a whole run
 *
 * Writes to anything but a regular file (the console, pipes) pass
 * untouched and are not counted. Counts start at 1. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

enum FaultKind { kNoFault, kWriteFault, kMkdirFault, kTimesFault };

static enum FaultKind gKind = kNoFault;
static long gWhich = 0;  /* the call that fails, 1-based */
static int gShort = 0;   /* a write fault moves half its bytes first */
static int gDiskFull = 0;
static long gWrites = 0, gMkdirs = 0, gTimes = 0;
static int gConfigured = 0;
static int gLogDescriptor = -1;

typedef ssize_t (*WriteFunction)(int, const void*, size_t);
typedef int (*MkdirFunction)(const char*, mode_t);
typedef int (*FutimensFunction)(int, const struct timespec[2]);
typedef int (*UtimensatFunction)(int, const char*, const struct timespec[2], int);

static void Configure(void) {
    if (gConfigured) return;
    gConfigured = 1;
    const char* fault = getenv("TARNWICK_FAULT");
    if (fault != NULL) {
        const char* colon = strchr(fault, ':');
        size_t nameLength = colon != NULL ? (size_t)(colon - fault) : strlen(fault);
        if (nameLength == 5 && strncmp(fault, "write", 5) == 0) gKind = kWriteFault;
        if (nameLength == 5 && strncmp(fault, "mkdir", 5) == 0) gKind = kMkdirFault;
        if (nameLength == 5 && strncmp(fault, "times", 5) == 0) gKind = kTimesFault;
        if (colon != NULL) {
            char* end = NULL;
            gWhich = strtol(colon + 1, &end, 10);
            if (end != NULL && strcmp(end, ":short") == 0) gShort = 1;
        }
    }
    const char* log = getenv("TARNWICK_FAULT_LOG");
    if (log != NULL) gLogDescriptor = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

static WriteFunction RealWrite(void) {
    static WriteFunction real = NULL;
    if (real == NULL) real = (WriteFunction)dlsym(RTLD_NEXT, "write");
    return real;
}

static int IsRegularFile(int descriptor) {
    struct stat info;
    return fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
}

ssize_t write(int descriptor, const void* bytes, size_t count) {
    Configure();
    if (descriptor == gLogDescriptor || !IsRegularFile(descriptor)) return RealWrite()(descriptor, bytes, count);
    ++gWrites;
    if (gLogDescriptor >= 0) {
        char line[64];
        int length = snprintf(line, sizeof line, "write %zu\n", count);
        RealWrite()(gLogDescriptor, line, (size_t)length);
    }
    if (gKind == kWriteFault && gWrites == gWhich) {
        if (gShort && count > 1) {
            gDiskFull = 1;
            return RealWrite()(descriptor, bytes, count / 2);
        }
        errno = ENOSPC;
        return -1;
    }
    if (gDiskFull) {
        errno = ENOSPC;
        return -1;
    }
    return RealWrite()(descriptor, bytes, count);
}

int mkdir(const char* path, mode_t mode) {
    static MkdirFunction real = NULL;
    if (real == NULL) real = (MkdirFunction)dlsym(RTLD_NEXT, "mkdir");
    Configure();
    if (gKind == kMkdirFault && ++gMkdirs == gWhich) {
        errno = EACCES;
        return -1;
    }
    return real(path, mode);
}

int futimens(int descriptor, const struct timespec times[2]) {
    static FutimensFunction real = NULL;
    if (real == NULL) real = (FutimensFunction)dlsym(RTLD_NEXT, "futimens");
    Configure();
    if (gKind == kTimesFault && ++gTimes == gWhich) {
        errno = EPERM;
        return -1;
    }
    return real(descriptor, times);
}

int utimensat(int directory, const char* path, const struct timespec times[2], int flags) {
    static UtimensatFunction real = NULL;
    if (real == NULL) real = (UtimensatFunction)dlsym(RTLD_NEXT, "utimensat");
    Configure();
    if (gKind == kTimesFault && ++gTimes == gWhich) {
        errno = EPERM;
        return -1;
    }
    return real(directory, path, times, flags);
}
