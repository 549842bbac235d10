// The archive frame as the packer writes it: signature, raw head, password
// descriptor, blocks with their check bytes, and the trailer.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/container/crc16.h"
#include "core/container/keystream.h"
#include "packer/archive_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

int64_t ReadInt64(const Bytes& bytes, size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | bytes[at + i];
    return static_cast<int64_t>(v);
}

// Descrambles all blocks of an image in one keystream run and checks each
// block's CRC: the data bytes followed by the two check bytes leave 0.
// Returns the stream, or nothing when a block fails its check.
std::optional<Bytes> ReadBackStream(const ArchiveImage& image, const std::string* password) {
    uint32_t state = KeystreamSeedFor(password != nullptr, password ? Crc16Of((const uint8_t*)password->data(),
                                                                              password->size()) : 0);
    int32_t index = 1;
    KeystreamCursor cursor = {&state, &index, password ? (const uint8_t*)password->data() : nullptr,
                              password ? (int32_t)password->size() : 0};
    Bytes stream;
    for (size_t i = 0; i < image.blockStarts.size(); ++i) {
        size_t start = image.blockStarts[i];
        size_t end = i + 1 < image.blockStarts.size() ? image.blockStarts[i + 1] : image.trailerStart;
        EXPECT_GE(end - start, 3u);
        Bytes data(image.bytes.begin() + start, image.bytes.begin() + end - 2);
        KeystreamApply(&cursor, data.data(), data.size());
        uint32_t reg = 0;
        for (uint8_t b : data) reg = Crc16(reg, b);
        reg = Crc16(reg, image.bytes[end - 2]);
        reg = Crc16(reg, image.bytes[end - 1]);
        if (reg != 0) return std::nullopt;
        stream.insert(stream.end(), data.begin(), data.end());
    }
    return stream;
}

TEST(ArchiveWriter, FrameLayout) {
    ArchiveOptions options;
    options.leading = Bytes{'M', 'Z', 0, 0, 0xFF};
    options.message = "Line one\r\nline two";
    options.runCommand = "setup.exe /q";
    Bytes stream = Pattern(2 * 4096 + 1);
    ArchiveImage image = BuildArchive(options, stream);
    const Bytes& b = image.bytes;

    EXPECT_EQ(Bytes(b.begin(), b.begin() + 5), options.leading);
    EXPECT_EQ(image.archiveStart, 5u);
    EXPECT_EQ(Bytes(b.begin() + 5, b.begin() + 11), (Bytes{'T', 'W', 'K', 'X', 0x07, 0x00}));
    std::string head(b.begin() + 11, b.begin() + static_cast<long>(image.streamStart));
    EXPECT_EQ(head, std::string("Line one\r\nline two\0setup.exe /q\0\0", 33));

    // Blocks of 4,098 bytes, then a last one of 1 data byte + 2 check bytes.
    ASSERT_EQ(image.blockStarts.size(), 3u);
    EXPECT_EQ(image.blockStarts[0], image.streamStart);
    EXPECT_EQ(image.blockStarts[1], image.streamStart + 4098);
    EXPECT_EQ(image.blockStarts[2], image.streamStart + 2 * 4098);
    EXPECT_EQ(image.trailerStart, image.streamStart + 2 * 4098 + 3);
    EXPECT_EQ(ReadBackStream(image, nullptr), stream);

    // Trailer: the length from the signature to the end, then 4 zero bytes.
    ASSERT_EQ(b.size(), image.trailerStart + 12);
    EXPECT_EQ(ReadInt64(b, image.trailerStart), static_cast<int64_t>(b.size() - 5));
    EXPECT_EQ(Bytes(b.end() - 4, b.end()), Bytes(4, 0));
}

TEST(ArchiveWriter, BlockCutAndEmptyStream) {
    for (size_t size : {size_t{1}, size_t{4095}, size_t{4096}, size_t{4097}, size_t{3 * 4096}}) {
        Bytes stream = Pattern(size);
        ArchiveImage image = BuildArchive(ArchiveOptions(), stream);
        size_t blocks = (size + 4095) / 4096;
        ASSERT_EQ(image.blockStarts.size(), blocks) << size;
        EXPECT_EQ(image.trailerStart - image.streamStart, size + 2 * blocks) << size;
        EXPECT_EQ(ReadBackStream(image, nullptr), stream) << size;
    }
    // No stream, no block: the descriptor is followed by the trailer.
    ArchiveImage empty = BuildArchive(ArchiveOptions(), Bytes());
    EXPECT_TRUE(empty.blockStarts.empty());
    EXPECT_EQ(empty.trailerStart, empty.streamStart);
    EXPECT_EQ(empty.bytes.size(), 6u + 3u + 12u);
    EXPECT_EQ(ReadInt64(empty.bytes, empty.trailerStart), 21);
}

TEST(ArchiveWriter, ShiftRegisterScramblesAndCheckBytesAreHighFirst) {
    // Without password the register starts at 0x3C1A7E92; its first two
    // outputs are 0x24 and 0x41. CRC-16/UMTS of "123456789" is 0xFEE8.
    ArchiveImage zeros = BuildArchive(ArchiveOptions(), Bytes{0, 0});
    EXPECT_EQ(zeros.bytes[zeros.streamStart], 0x24);
    EXPECT_EQ(zeros.bytes[zeros.streamStart + 1], 0x41);

    std::string digits = "123456789";
    ArchiveImage image = BuildArchive(ArchiveOptions(), Bytes(digits.begin(), digits.end()));
    EXPECT_EQ(image.bytes[image.trailerStart - 2], 0xFE);
    EXPECT_EQ(image.bytes[image.trailerStart - 1], 0xE8);
}

TEST(ArchiveWriter, PasswordDescriptorAndScrambling) {
    // The check value of "123456789" is 0xFEE8; each stored byte is XORed
    // with the flag byte.
    struct Row {
        uint8_t flag, s0, s1;
    } rows[] = {{1, 0xE9, 0xFF}, {0xFF, 0x17, 0x01}};
    const std::string password = "123456789";
    Bytes stream = Pattern(4096 + 1000);
    for (const Row& row : rows) {
        ArchiveOptions options;
        options.password = password;
        options.passwordFlag = row.flag;
        ArchiveImage image = BuildArchive(options, stream);
        ASSERT_EQ(image.streamStart, 6u + 2u + 3u);
        EXPECT_EQ(image.bytes[8], row.flag);
        EXPECT_EQ(image.bytes[9], row.s0);
        EXPECT_EQ(image.bytes[10], row.s1);
        // Password bytes and the register seeded with the check value run on
        // across the block boundary.
        EXPECT_EQ(ReadBackStream(image, &password), stream);
        EXPECT_EQ(ReadBackStream(image, nullptr), std::nullopt);
    }
    EXPECT_EQ(ArchiveHeadBytes(ArchiveOptions()), (Bytes{0, 0, 0}));
}

TEST(ArchiveWriter, PiecesForBrokenArchives) {
    ArchiveOptions options;
    options.trailerLengthOverride = -5;
    options.trailerReserved = 0xDEADBEEF;
    options.rawStreamTail = Bytes{1, 2, 3};
    ArchiveImage image = BuildArchive(options, Pattern(10));
    const Bytes& b = image.bytes;
    EXPECT_EQ(ReadInt64(b, image.trailerStart), -5);
    EXPECT_EQ(Bytes(b.end() - 4, b.end()), (Bytes{0xEF, 0xBE, 0xAD, 0xDE}));
    EXPECT_EQ(Bytes(b.begin() + static_cast<long>(image.trailerStart) - 3, b.begin() + static_cast<long>(image.trailerStart)),
              (Bytes{1, 2, 3}));
    EXPECT_EQ(image.trailerStart, image.streamStart + 12 + 3);
}

TEST(ArchiveWriter, RefusesWhatTheFrameCannotHold) {
    ArchiveOptions nul;
    nul.message = std::string("a\0b", 3);
    EXPECT_THROW(BuildArchive(nul, Bytes()), std::invalid_argument);
    ArchiveOptions command;
    command.runCommand = std::string("\0", 1);
    EXPECT_THROW(BuildArchive(command, Bytes()), std::invalid_argument);
    ArchiveOptions flag;
    flag.password = "pw";
    flag.passwordFlag = 0;
    EXPECT_THROW(BuildArchive(flag, Bytes()), std::invalid_argument);
}

}  // namespace
