// The POSIX platform layer as the fuzz targets run it.
//
// platform/posix/platform_posix.cpp compiled with TARNWICK_FUZZ_EXIT lets
// one process run the extractor on millions of inputs. Between
// FuzzPlatformBegin and FuzzPlatformEnd:
//   - PlatformExit(code) does not end the process: it jumps back to
//     *exitTarget, where setjmp returns code + 1; or, when exitTarget is
//     null, it throws FuzzExit, for callers that hold objects with
//     destructors (the packer's reader);
//   - standard input is the given bytes, then end of input; console output
//     is dropped;
//   - all writes to files together move at most writeBudget bytes; the
//     write that would pass it stops short, as on a full disk;
//   - PlatformShellStart starts nothing and reports "file not found";
//   - every file and folder the run creates is remembered, and so is every
//     file it holds open. Closing a handle that is not open is a bug and
//     traps.
#pragma once

#include <setjmp.h>
#include <stddef.h>
#include <stdint.h>

struct FuzzExit {
    int exitCode;
};

void FuzzPlatformBegin(jmp_buf* exitTarget, const uint8_t* input, size_t inputSize, uint64_t writeBudget);

// Closes the files the run left open and removes what it created, newest
// first; afterwards PlatformExit ends the process again.
void FuzzPlatformEnd();
