// CRC-16/UMTS and the keystream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/container/crc16.h"
#include "core/container/keystream.h"

TEST(Crc16, CheckValueOfDigits) {
    const std::string digits = "123456789";
    EXPECT_EQ(Crc16Of((const uint8_t*)digits.data(), digits.size()), 0xFEE8);
    EXPECT_EQ(Crc16Of(nullptr, 0), 0);
}

TEST(Crc16, MessageFollowedByItsCrcLeavesZero) {
    const std::string data = "any block of data, any length \x01\x02\xff";
    uint16_t crc = Crc16Of((const uint8_t*)data.data(), data.size());
    uint32_t reg = 0;
    for (unsigned char c : data) reg = Crc16(reg, c);
    reg = Crc16(reg, (uint8_t)(crc >> 8));
    reg = Crc16(reg, (uint8_t)crc);
    EXPECT_EQ(reg, 0u);
    // One flipped bit anywhere is caught.
    reg = 0;
    for (size_t i = 0; i < data.size(); i++) reg = Crc16(reg, (uint8_t)(data[i] ^ (i == 7 ? 0x10 : 0)));
    reg = Crc16(Crc16(reg, (uint8_t)(crc >> 8)), (uint8_t)crc);
    EXPECT_NE(reg, 0u);
}

static std::vector<uint8_t> Scramble(std::vector<uint8_t> bytes, uint32_t seed, const std::string& password,
                                     std::vector<size_t> pieces) {
    uint32_t state = seed;
    int32_t index = 1;
    KeystreamCursor cursor = {&state, &index, (const uint8_t*)password.data(), (int32_t)password.size()};
    size_t at = 0;
    for (size_t piece : pieces) {
        KeystreamApply(&cursor, bytes.data() + at, piece);
        at += piece;
    }
    return bytes;
}

TEST(Keystream, ShiftRegisterOutputFromTheUnprotectedSeed) {
    // 0x3C1A7E92 << 1 = 0x7834FD24 -> 0x24; << 1 = 0xF069FA48, bit 31 set,
    // ^ 0x80000009 = 0x7069FA41 -> 0x41.
    std::vector<uint8_t> out = Scramble({0, 0}, kKeystreamSeed, "", {2});
    EXPECT_EQ(out[0], 0x24);
    EXPECT_EQ(out[1], 0x41);
    EXPECT_EQ(KeystreamSeedFor(false, 0x1234), kKeystreamSeed);
    EXPECT_EQ(KeystreamSeedFor(true, 0x1234), 0x3C1A1234u);
}

TEST(Keystream, RunsOnAcrossBlocksWithAThreeBytePassword) {
    // Two blocks' worth of data scrambled block by block equal one run over
    // both: nothing restarts at the boundary. The password bytes are mixed
    // in as 1, 2, 3, 1, 2, 3, ... across it.
    const size_t n = 4096 + 700;
    std::vector<uint8_t> zeros(n, 0);
    const std::string password = "k\x9Fz";
    const uint32_t seed = KeystreamSeedFor(true, 0xBEEF);
    std::vector<uint8_t> whole = Scramble(zeros, seed, password, {n});
    EXPECT_EQ(Scramble(zeros, seed, password, {4096, 700}), whole);
    EXPECT_EQ(Scramble(zeros, seed, password, {1, 4095, 699, 1}), whole);
    std::vector<uint8_t> registerOnly = Scramble(zeros, seed, "", {n});
    for (size_t i = 0; i < n; i++)
        ASSERT_EQ(whole[i] ^ registerOnly[i], (uint8_t)password[i % 3]) << "byte " << i;
    // Scrambling twice gives the data back.
    EXPECT_EQ(Scramble(whole, seed, password, {n}), zeros);
}
