// The archive frame, and opening it.
//
// An archive lies at the end of a file (the extractor's own executable, or
// any file named after "/e"). With S the file size and L the archive length
// stored in the trailer, the archive starts at A = S - L:
//
//   A        6 bytes   signature "TWKX" 07 00
//            m+1       message, NUL-terminated (CR LF line breaks allowed)
//            c+1       run command, NUL-terminated (empty: none)
//            1 or 3    password descriptor: flag f, then s0 s1 when f != 0
//            ...       block stream
//   S - 12   8 bytes   L, signed 64-bit little-endian, trailer included
//   S - 4    4 bytes   reserved, never read
//
// Message, run command and descriptor are the raw head: plain bytes, not
// scrambled, covered by no check. The password check value is
// (f ^ s0) + 256 * (f ^ s1), the CRC-16/UMTS of the password.
#pragma once

#include <stdint.h>

#include "core/driver/byte_string.h"

static const uint8_t kArchiveSignature[6] = {'T', 'W', 'K', 'X', 0x07, 0x00};

// Prints the banner, chooses the archive file from the mode, and opens it
// (OpenArchiveFile). Returns only on success.
void OpenArchive();

// Opens gSession.archivePath and works through the frame: trailer,
// signature, message, run command, password descriptor and, for a
// protected archive, the password prompt. On return the file pointer
// stands on the first block and the stream position is 0.
void OpenArchiveFile();

// Reads a NUL-terminated string at the archive's file pointer.
void ReadRawString(ByteString* s);
void PrintArchiveMessage();
void ReadPasswordDescriptor();

// "This file is broken.  Cannot expand.  Press ENTER key." BEL; waits for a
// line; exit code 1. The file holds no valid archive frame.
[[noreturn]] void BrokenArchiveExit();
