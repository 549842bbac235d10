// Entry records: the block stream is a sequence of them, nothing between.
//
//   sharedLength  1 byte    leading bytes taken over from the previous
//                           record's entry name (all of it when shorter)
//   nameTail      bytes, 0  the rest of the entry name
//
// A record whose full name ends in "\." is a folder entry and ends there.
// A file entry goes on:
//
//   creationTime, lastAccessTime, lastWriteTime   8-byte FILETIMEs
//   then, bit-coded from the next byte on (integer code):
//   entrySize            signed 64-bit
//   backReference        low 8 bits: how many file entries back the prefix
//                        and the preload come from; 0 = no prefix
//   prefixLength - 1     only when backReference's low 8 bits are not 0
//   compressed data      the file's last entrySize - prefixLength bytes
//
// The bit-coded part ends inside its last byte; the next record begins at
// the following byte.
#pragma once

#include <stdint.h>

#include "core/decoder/bit_reader.h"
#include "core/driver/byte_string.h"
#include "platform/platform.h"

struct EntryRecord {
    ByteString name;  // the entry name, relative to the target folder
    bool isFolder;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    int64_t entrySize;
    uint32_t backReference;  // low 8 bits
    int32_t prefixLength;
};

// Reads the two name fields; record->name starts as the previous record's
// name (kept in record->name) and becomes this record's.
void ReadEntryName(EntryRecord* record);

// True when the full name ends in "\." (a folder entry).
bool IsFolderName(const ByteString* fullName);

// Reads a file entry's time stamps and numbers, up to the compressed data.
void ReadEntryHeader(EntryRecord* record, BitReader* bits);

// True when an entry name stays inside the target folder: relative, no
// parent component ("..", also "..." or ".. ", with "\" or "/" between
// components), no ":" (drives, alternate streams), no Windows device name
// (CON, PRN, AUX, NUL, COM1..9, LPT1..9, with any extension).
bool EntryNameIsSafe(const char* name);
