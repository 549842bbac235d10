#include "packer/archive_file_writer.h"

#include <algorithm>
#include <stdexcept>

#include "core/driver/archive_session.h"

ArchiveFileWriter::ArchiveFileWriter(FILE* file, const ArchiveOptions& options) : file_(file) {
    state_ = StartBlockStream(options);
    block_.reserve(kBlockDataSize);
    Write(options.leading.data(), options.leading.size());
    archiveStart_ = fileBytes_;
    static const uint8_t kSignature[6] = {'T', 'W', 'K', 'X', 0x07, 0x00};
    Write(kSignature, sizeof kSignature);
    std::vector<uint8_t> head = ArchiveHeadBytes(options);
    Write(head.data(), head.size());
}

void ArchiveFileWriter::Write(const uint8_t* bytes, size_t count) {
    if (count > 0 && fwrite(bytes, 1, count, file_) != count) throw std::runtime_error("cannot write the archive");
    fileBytes_ += count;
}

void ArchiveFileWriter::WriteBlock() {
    if (block_.empty()) return;
    framed_.clear();
    AppendBlock(framed_, state_, block_.data(), block_.size());
    Write(framed_.data(), framed_.size());
    block_.clear();
}

void ArchiveFileWriter::Append(const uint8_t* bytes, size_t count) {
    streamBytes_ += count;
    while (count > 0) {
        size_t n = std::min(count, static_cast<size_t>(kBlockDataSize) - block_.size());
        block_.insert(block_.end(), bytes, bytes + n);
        bytes += n;
        count -= n;
        if (block_.size() == static_cast<size_t>(kBlockDataSize)) WriteBlock();
    }
}

void ArchiveFileWriter::Finish() {
    WriteBlock();
    uint64_t length = fileBytes_ + 12 - archiveStart_;
    uint8_t trailer[12] = {};
    for (int i = 0; i < 8; ++i) trailer[i] = static_cast<uint8_t>(length >> (8 * i));
    Write(trailer, sizeof trailer);
}
