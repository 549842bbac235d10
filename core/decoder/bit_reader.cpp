#include "core/decoder/bit_reader.h"

#include "core/container/block_stream.h"

void ResetBitReader(BitReader* reader) {
    reader->bits = 0;
    reader->bitCount = 0;
    CurrentBlockBytes(&reader->next, &reader->end);
}

void SettleBitReader(BitReader* reader) {
    // The bits in hand are the unused rest of a byte already begun (fewer
    // than 8) and then whole bytes not begun.
    int32_t unused = reader->bitCount >> 3;
    reader->next -= unused;
    reader->bitCount &= 7;
    reader->bits &= ((uint64_t)1 << reader->bitCount) - 1;
    DeliverBlockBytes(reader->next);
}

// Called with no bit in hand: takes bytes from the open block, or, when it
// is used up, the next stream byte, opening the next block if that is where
// it lies.
static void FetchBits(BitReader* reader) {
    RefillFromBlock(reader);
    if (reader->bitCount > 0) return;
    DeliverBlockBytes(reader->next);
    uint8_t b;
    NextStreamByte(&b);
    reader->bits = b;
    reader->bitCount = 8;
    CurrentBlockBytes(&reader->next, &reader->end);
}

int NextBit(BitReader* reader) {
    if (reader->bitCount == 0) FetchBits(reader);
    int bit = (int)(reader->bits & 1);
    reader->bits >>= 1;
    reader->bitCount--;
    return bit;
}

uint32_t NextBitsSlowly(BitReader* reader, int count) {
    RefillFromBlock(reader);
    if (reader->bitCount >= count) return NextBitsLsbFirst(reader, count);
    // Close to the end of the open block: bit by bit, so that the next block
    // is opened only for a bit that lies in it.
    uint32_t value = 0;
    for (int i = 0; i < count; i++) value |= (uint32_t)NextBit(reader) << i;
    return value;
}

uint64_t NextInteger(BitReader* reader) {
    uint64_t zeros = 0;
    while (NextBit(reader) == 0) zeros++;
    uint64_t value = 0;
    if (zeros > 0) {
        // The leading 1 is implied; shifting in more than 63 further bits
        // keeps only the last 64.
        value = 1;
        for (uint64_t i = 1; i < zeros; i++) value = value << 1 | (uint64_t)NextBit(reader);
    }
    SettleBitReader(reader);
    return value;
}
