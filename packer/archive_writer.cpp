#include "packer/archive_writer.h"

#include <stdio.h>

#include <algorithm>
#include <stdexcept>

#include "core/container/crc16.h"
#include "core/container/keystream.h"
#include "core/driver/archive_session.h"

namespace {

const uint8_t kSignature[6] = {'T', 'W', 'K', 'X', 0x07, 0x00};

void AppendString(std::vector<uint8_t>& out, const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos) {
        throw std::invalid_argument(std::string(what) + " must not contain a NUL byte");
    }
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

void AppendLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

uint16_t PasswordCheckOf(const std::string& password) {
    return Crc16Of(reinterpret_cast<const uint8_t*>(password.data()), password.size());
}

std::vector<uint8_t> ArchiveHeadBytes(const ArchiveOptions& options) {
    std::vector<uint8_t> head;
    AppendString(head, options.message, "message");
    AppendString(head, options.runCommand, "run command");
    if (!options.password) {
        head.push_back(0);
    } else {
        if (options.passwordFlag == 0) throw std::invalid_argument("a protected archive needs a flag byte other than 0");
        uint16_t check = PasswordCheckOf(*options.password);
        head.push_back(options.passwordFlag);
        head.push_back(static_cast<uint8_t>((check & 0xFF) ^ options.passwordFlag));
        head.push_back(static_cast<uint8_t>((check >> 8) ^ options.passwordFlag));
    }
    return head;
}

BlockStreamState StartBlockStream(const ArchiveOptions& options) {
    BlockStreamState state;
    state.protectedArchive = options.password.has_value();
    if (state.protectedArchive) state.password = *options.password;
    uint16_t check = state.protectedArchive ? PasswordCheckOf(state.password) : 0;
    state.keystreamState = KeystreamSeedFor(state.protectedArchive, check);
    state.passwordIndex = 1;
    return state;
}

void AppendBlock(std::vector<uint8_t>& out, BlockStreamState& state, const uint8_t* data, size_t count) {
    KeystreamCursor cursor;
    cursor.keystreamState = &state.keystreamState;
    cursor.passwordIndex = &state.passwordIndex;
    cursor.password = state.protectedArchive ? reinterpret_cast<const uint8_t*>(state.password.data()) : nullptr;
    cursor.passwordLength = state.protectedArchive ? static_cast<int32_t>(state.password.size()) : 0;
    uint16_t crc = Crc16Of(data, count);
    size_t at = out.size();
    out.insert(out.end(), data, data + count);
    KeystreamApply(&cursor, out.data() + at, count);
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc & 0xFF));
}

void AppendBlockStream(std::vector<uint8_t>& out, const std::vector<uint8_t>& stream,
                       const ArchiveOptions& options, std::vector<size_t>* blockStarts) {
    BlockStreamState state = StartBlockStream(options);
    for (size_t offset = 0; offset < stream.size(); offset += kBlockDataSize) {
        size_t count = std::min<size_t>(kBlockDataSize, stream.size() - offset);
        if (blockStarts) blockStarts->push_back(out.size());
        AppendBlock(out, state, stream.data() + offset, count);
    }
}

ArchiveImage BuildArchive(const ArchiveOptions& options, const std::vector<uint8_t>& stream) {
    ArchiveImage image;
    std::vector<uint8_t>& out = image.bytes;
    out = options.leading;
    image.archiveStart = out.size();
    out.insert(out.end(), kSignature, kSignature + 6);
    std::vector<uint8_t> head = ArchiveHeadBytes(options);
    out.insert(out.end(), head.begin(), head.end());
    image.streamStart = out.size();
    AppendBlockStream(out, stream, options, &image.blockStarts);
    out.insert(out.end(), options.rawStreamTail.begin(), options.rawStreamTail.end());
    image.trailerStart = out.size();
    int64_t length = static_cast<int64_t>(out.size() + 12 - image.archiveStart);
    AppendLittleEndian(out, static_cast<uint64_t>(options.trailerLengthOverride.value_or(length)), 8);
    AppendLittleEndian(out, options.trailerReserved, 4);
    return image;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot create " + path);
    size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), file);
    bool closed = fclose(file) == 0;
    if (written != bytes.size() || !closed) throw std::runtime_error("cannot write " + path);
}
