#include "packer/bit_writer.h"

#include <stdexcept>
#include <utility>

void BitWriter::Drain() {
    while (pendingCount_ >= 8) {
        bytes_.push_back(static_cast<uint8_t>(pending_));
        pending_ >>= 8;
        pendingCount_ -= 8;
    }
}

void BitWriter::WriteBit(int bit) {
    pending_ |= static_cast<uint64_t>(bit & 1) << pendingCount_;
    if (++pendingCount_ == 8) Drain();
}

void BitWriter::WriteBitsLsbFirst(uint64_t value, int count) {
    if (count < 0 || count > 57) throw std::invalid_argument("WriteBitsLsbFirst: count out of range");
    if (count == 0) return;
    if (count < 64) value &= (uint64_t{1} << count) - 1;
    pending_ |= value << pendingCount_;
    pendingCount_ += count;
    Drain();
}

void BitWriter::WriteInteger(uint64_t value) {
    if (value == 0) {
        WriteBit(1);
        return;
    }
    int significant = 64 - __builtin_clzll(value);
    // The zero run and the one bit: significant zeros, then 1.
    for (int i = 0; i < significant; ++i) WriteBit(0);
    WriteBit(1);
    for (int i = significant - 2; i >= 0; --i) WriteBit(static_cast<int>((value >> i) & 1));
}

void BitWriter::Finish() {
    if (pendingCount_ > 0) {
        bytes_.push_back(static_cast<uint8_t>(pending_));
        pending_ = 0;
        pendingCount_ = 0;
    }
}

std::vector<uint8_t> BitWriter::TakeBytes() {
    Finish();
    std::vector<uint8_t> out = std::move(bytes_);
    bytes_.clear();
    return out;
}
