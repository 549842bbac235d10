// Bit input: the bit-coded part of a file entry's record.
//
// Bits are taken from each stream byte least significant first, and the
// stream sees a byte fetched at the moment its first bit is needed, never
// earlier: the end of the archive and a damaged block are noticed exactly
// where the format says. For speed the reader keeps up to 64 bits in hand,
// but takes them only from the block that is already open and verified
// (looking there is invisible); the next block is opened, through
// NextStreamByte, only when a bit of it is needed. SettleBitReader then
// gives back the whole bytes that were looked at but not used.
//
// The integer code (entry size, back-reference, prefix length - 1) is a
// zero-run code: z zero bits, a one bit, then the z - 1 bits of the value
// below its leading 1, most significant first. 0 is the single bit 1.
//   0 -> 1    1 -> 01    2 -> 0010    3 -> 0011    4 -> 000100
#pragma once

#include <stdint.h>
#include <string.h>

struct BitReader {
    // Bits in hand, the next one at bit 0. Above bitCount the word holds
    // zeros or the bits of the bytes at `next`, never anything else, so a
    // byte can be ORed in at bitCount.
    uint64_t bits;
    int32_t bitCount;
    // The open block's verified bytes that are not in `bits` yet.
    const uint8_t* next;
    const uint8_t* end;
};

// Drops the rest of the current byte: the next bit is the lowest bit of the
// next stream byte. Called before every file entry's bit-coded part.
void ResetBitReader(BitReader* reader);

// Delivers to the stream the bytes whose bits have been used and gives back
// the whole bytes taken ahead, so that the stream position (and the end of
// the archive) are what bit-by-bit reading would have left. NextInteger and
// DecodeEntryBody call it when they finish.
void SettleBitReader(BitReader* reader);

int NextBit(BitReader* reader);

// NextBitsLsbFirst when fewer than `count` bits are in hand.
uint32_t NextBitsSlowly(BitReader* reader, int count);

// Reads `count` (<= 32) bits, the first read counting 1, the next 2, ...
inline uint32_t NextBitsLsbFirst(BitReader* reader, int count) {
    if (reader->bitCount < count) return NextBitsSlowly(reader, count);
    uint32_t value = (uint32_t)(reader->bits & (((uint64_t)1 << count) - 1));
    reader->bits >>= count;
    reader->bitCount -= count;
    return value;
}

// One number of the integer code. A run of more than 64 zeros keeps only
// the last 64 bits of the value; the caller checks what it gets.
uint64_t NextInteger(BitReader* reader);

// Tops the bits in hand up to at least 56 from the open block, as far as it
// has bytes. Never opens a block.
inline void RefillFromBlock(BitReader* reader) {
    if (reader->end - reader->next >= 8) {
        // Eight bytes at once (the machine is little-endian); as many whole
        // bytes as fit are taken, the rest of the word is the zeros-or-next
        // bytes above bitCount.
        uint64_t word;
        memcpy(&word, reader->next, 8);
        reader->bits |= word << reader->bitCount;
        reader->next += (63 - reader->bitCount) >> 3;
        reader->bitCount |= 56;
        return;
    }
    while (reader->bitCount < 56 && reader->next < reader->end) {
        reader->bits |= (uint64_t)*reader->next++ << reader->bitCount;
        reader->bitCount += 8;
    }
}
