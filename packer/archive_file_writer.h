// Writes an archive to a file as its stream grows: the leading program,
// the signature and raw head, then every block as soon as its 4,096 data
// bytes are there, and at the end the last block and the trailer. The
// keystream and the block checks run as in BuildArchive, which builds the
// same bytes in memory, with the same block writer.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "packer/archive_writer.h"

class ArchiveFileWriter {
public:
    // Writes options.leading and the archive's head to `file`. Throws
    // std::runtime_error when a write fails (as every member does).
    ArchiveFileWriter(FILE* file, const ArchiveOptions& options);

    void Append(const uint8_t* bytes, size_t count);
    void Append(const std::vector<uint8_t>& bytes) { Append(bytes.data(), bytes.size()); }

    // The last block and the trailer; the file is not closed.
    void Finish();

    uint64_t StreamBytes() const { return streamBytes_; }
    uint64_t FileBytes() const { return fileBytes_; }

private:
    void Write(const uint8_t* bytes, size_t count);
    void WriteBlock();

    FILE* file_;
    BlockStreamState state_;
    std::vector<uint8_t> block_;  // data bytes of the block being filled
    std::vector<uint8_t> framed_;  // the block as written
    uint64_t streamBytes_ = 0;
    uint64_t fileBytes_ = 0;
    uint64_t archiveStart_ = 0;
};
