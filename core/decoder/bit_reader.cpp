#include "core/decoder/bit_reader.h"

#include "core/container/block_stream.h"

int NextBit(BitReader* reader) {
    if (reader->bitsUsed == 0) NextStreamByte(&reader->currentByte);
    int bit = reader->currentByte & 1;
    reader->currentByte >>= 1;
    reader->bitsUsed = (uint8_t)((reader->bitsUsed + 1) & 7);
    return bit;
}

uint32_t NextBitsLsbFirst(BitReader* reader, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; i++) value |= (uint32_t)NextBit(reader) << i;
    return value;
}

uint64_t NextInteger(BitReader* reader) {
    uint64_t zeros = 0;
    while (NextBit(reader) == 0) zeros++;
    if (zeros == 0) return 0;
    // The leading 1 is implied; shifting in more than 63 further bits keeps
    // only the last 64.
    uint64_t value = 1;
    for (uint64_t i = 1; i < zeros; i++) value = value << 1 | (uint64_t)NextBit(reader);
    return value;
}
