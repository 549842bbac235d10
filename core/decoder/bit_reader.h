// Bit input: the bit-coded part of a file entry's record.
//
// Bits are taken from each stream byte least significant first, and a byte
// is fetched from the block stream at the moment its first bit is needed,
// never earlier: the end of the archive and a damaged block are noticed
// exactly where the format says.
//
// The integer code (entry size, back-reference, prefix length - 1) is a
// zero-run code: z zero bits, a one bit, then the z - 1 bits of the value
// below its leading 1, most significant first. 0 is the single bit 1.
//   0 -> 1    1 -> 01    2 -> 0010    3 -> 0011    4 -> 000100
#pragma once

#include <stdint.h>

struct BitReader {
    uint8_t currentByte;  // unused bits of the last fetched byte, next bit at bit 0
    uint8_t bitsUsed;     // 0..7; 0 means the next bit needs a new byte
};

// Drops the rest of the current byte: the next bit is the lowest bit of the
// next stream byte. Called before every file entry's bit-coded part.
inline void ResetBitReader(BitReader* reader) { reader->bitsUsed = 0; }

int NextBit(BitReader* reader);

// Reads `count` (<= 32) bits, the first read counting 1, the next 2, ...
uint32_t NextBitsLsbFirst(BitReader* reader, int count);

// One number of the integer code. A run of more than 64 zeros keeps only
// the last 64 bits of the value; the caller checks what it gets.
uint64_t NextInteger(BitReader* reader);
