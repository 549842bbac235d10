// BitWriter: the writing side of the extractor's bit input.
//
// Bits fill each byte from the least significant bit up, so the first bit
// written is the first bit the extractor reads. A file entry's bit-coded
// part starts on a fresh byte and is padded with zero high bits at its end.
#pragma once

#include <stdint.h>

#include <vector>

class BitWriter {
public:
    void WriteBit(int bit);

    // The low `count` bits of value (count <= 57), the lowest first: the
    // order of the extra bits of lengths and distances, and of code words
    // stored with their first bit in bit 0.
    void WriteBitsLsbFirst(uint64_t value, int count);

    // One number of the integer code: 0 is "1"; v >= 1 with L significant
    // bits is L zero bits, a one bit, then the L - 1 bits below the top bit,
    // most significant first.
    void WriteInteger(uint64_t value);

    // Pads the last byte with zero high bits; the next bit starts a new byte.
    void Finish();

    // Bits written so far, padding included.
    uint64_t BitCount() const { return bytes_.size() * 8 + pendingCount_; }

    // The finished bytes; call Finish() first to include a partial last byte.
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> TakeBytes();

private:
    void Drain();

    std::vector<uint8_t> bytes_;
    uint64_t pending_ = 0;  // bits not yet moved into bytes_, the oldest in bit 0
    int pendingCount_ = 0;  // always below 8 between calls
};
