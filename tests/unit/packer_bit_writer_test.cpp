// The packer's bit writer: bit order within bytes and the integer code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packer/bit_writer.h"

namespace {

// The bits of the writer's bytes in writing order, as '0'/'1', up to `count`.
std::string BitsOf(const std::vector<uint8_t>& bytes, size_t count) {
    std::string bits;
    for (size_t i = 0; i < count; ++i) bits += ((bytes[i / 8] >> (i % 8)) & 1) ? '1' : '0';
    return bits;
}

TEST(BitWriter, IntegerCodeTable) {
    struct Row {
        uint64_t value;
        const char* bits;
    } rows[] = {
        {0, "1"},      {1, "01"},         {2, "0010"},       {3, "0011"},
        {4, "000100"}, {7, "000111"},     {8, "00001000"},   {192, "000000001" "1000000"},
        {uint64_t{1} << 63, "0000000000000000000000000000000000000000000000000000000000000000"
                            "1000000000000000000000000000000000000000000000000000000000000000"},
    };
    for (const Row& row : rows) {
        BitWriter writer;
        writer.WriteInteger(row.value);
        size_t count = writer.BitCount();
        writer.Finish();
        EXPECT_EQ(BitsOf(writer.Bytes(), count), row.bits) << row.value;
    }
    // The top value keeps all its low bits, most significant first.
    BitWriter writer;
    writer.WriteInteger(~uint64_t{0});
    EXPECT_EQ(writer.BitCount(), 128u);
    writer.Finish();
    EXPECT_EQ(BitsOf(writer.Bytes(), 128), std::string(64, '0') + std::string(64, '1'));
}

TEST(BitWriter, BytesFillFromTheLowestBit) {
    // 2, 0, 0, 1 -> bits 0010 1 1 01 -> 0xB4, and the byte is complete.
    BitWriter writer;
    for (uint64_t v : {2, 0, 0, 1}) writer.WriteInteger(v);
    EXPECT_EQ(writer.BitCount(), 8u);
    EXPECT_EQ(writer.Bytes(), (std::vector<uint8_t>{0xB4}));

    BitWriter wide;
    wide.WriteInteger(192);
    EXPECT_EQ(wide.TakeBytes(), (std::vector<uint8_t>{0x00, 0x03}));
}

TEST(BitWriter, ExtraBitsLeastSignificantFirstAndPadding) {
    BitWriter writer;
    writer.WriteBit(1);
    writer.WriteBitsLsbFirst(0x0ABC, 12);  // crosses a byte boundary
    writer.WriteBitsLsbFirst(0x1F, 5);     // 18 bits in all
    writer.WriteBitsLsbFirst(0xFFFF, 0);   // nothing
    EXPECT_EQ(writer.BitCount(), 18u);
    writer.Finish();
    // 1, then 0xABC lowest bit first (0011 1101 0101), then 11111: byte 0: bits 1,0,0,1,1,1,1,0 = 0x79;
    // byte 1: 1,0,1,0,1,1,1,1 = 0xF5; byte 2: 1,1 then zero padding = 0x03.
    EXPECT_EQ(writer.Bytes(), (std::vector<uint8_t>{0x79, 0xF5, 0x03}));
    // Finish on a byte boundary adds nothing; the next bit starts a new byte.
    writer.Finish();
    EXPECT_EQ(writer.Bytes().size(), 3u);
    writer.WriteBit(1);
    writer.Finish();
    EXPECT_EQ(writer.Bytes(), (std::vector<uint8_t>{0x79, 0xF5, 0x03, 0x01}));
}

}  // namespace
