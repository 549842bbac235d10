// The archive frame: signature, raw head, block stream and trailer.
//
//   "TWKX" 0x07 0x00                    signature
//   message, 0x00                       shown by the extractor; may hold CR LF
//   run command, 0x00                   empty: nothing is started
//   flag byte [, s0, s1]                0: no password; otherwise the password
//                                       check (CRC-16 of the password), each
//                                       byte XORed with the flag byte
//   blocks                              4,096 scrambled data bytes each (the
//                                       last holds the rest), then the CRC-16
//                                       of the unscrambled data, high byte first
//   archive length (int64 LE), 4 bytes  the trailer; the length runs from the
//                                       signature to the end of the file
//
// The frame may follow leading bytes, such as the extractor program itself.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

struct ArchiveOptions {
    std::vector<uint8_t> leading;           // bytes before the archive, e.g. the extractor
    std::string message;                    // no NUL
    std::string runCommand;                 // no NUL; empty: none
    std::optional<std::string> password;    // protected when set (an empty password is allowed)
    uint8_t passwordFlag = 1;               // the descriptor's flag byte when protected; not 0

    // For broken archives in tests: a trailer length other than the true
    // one, the reserved bytes, and raw bytes put between the last block and
    // the trailer without blocking, scrambling or checks.
    std::optional<int64_t> trailerLengthOverride;
    uint32_t trailerReserved = 0;
    std::vector<uint8_t> rawStreamTail;
};

// Where the parts of a built archive lie, as offsets into ArchiveImage::bytes.
struct ArchiveImage {
    std::vector<uint8_t> bytes;
    size_t archiveStart = 0;   // first signature byte
    size_t streamStart = 0;    // first byte of the first block
    size_t trailerStart = 0;   // first byte of the trailer
    std::vector<size_t> blockStarts;  // first data byte of every block
};

// The password check value: the CRC-16/UMTS of the password's bytes.
uint16_t PasswordCheckOf(const std::string& password);

// The raw head: message, run command and password descriptor.
std::vector<uint8_t> ArchiveHeadBytes(const ArchiveOptions& options);

// The keystream's position in a block stream being written: it runs on
// across blocks, so a writer that emits blocks one at a time keeps it.
struct BlockStreamState {
    bool protectedArchive = false;
    std::string password;
    uint32_t keystreamState = 0;
    int32_t passwordIndex = 1;
};
BlockStreamState StartBlockStream(const ArchiveOptions& options);

// Appends one block of 1..4,096 data bytes: scrambled data, then the CRC-16
// of the plain data, high byte first.
void AppendBlock(std::vector<uint8_t>& out, BlockStreamState& state, const uint8_t* data, size_t count);

// Cuts `stream` into blocks, scrambles their data bytes and appends each
// block with its check bytes to `out`; block starts are added to
// `blockStarts` when it is given. The keystream runs on across blocks.
void AppendBlockStream(std::vector<uint8_t>& out, const std::vector<uint8_t>& stream,
                       const ArchiveOptions& options, std::vector<size_t>* blockStarts = nullptr);

// The whole file: leading bytes, frame, blocks and trailer.
ArchiveImage BuildArchive(const ArchiveOptions& options, const std::vector<uint8_t>& stream);

// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
