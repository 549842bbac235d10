#include "packer/entry_writer.h"

#include <string.h>

#include <algorithm>
#include <stdexcept>

#include "packer/bit_writer.h"

namespace {

bool EndsWithFolderMark(const std::string& name) {
    return name.size() >= 2 && name[name.size() - 2] == '\\' && name.back() == '.';
}

void AppendFileTime(std::vector<uint8_t>& stream, uint64_t time) {
    for (int i = 0; i < 8; ++i) stream.push_back(static_cast<uint8_t>(time >> (8 * i)));
}

}  // namespace

std::string StoredEntryName(const EntryInput& entry) {
    if (!entry.isFolder || entry.name == "." || EndsWithFolderMark(entry.name)) return entry.name;
    return entry.name + "\\.";
}

EntryBodyStats AppendEntryRecord(std::vector<uint8_t>& stream, const EntryInput& entry, HistoryMirror& history,
                       std::string& previousName, const EncoderOptions& options) {
    std::string name = StoredEntryName(entry);
    if (name.find('\0') != std::string::npos) throw std::invalid_argument("entry name contains a NUL byte");

    size_t common = 0;
    size_t limit = std::min({name.size(), previousName.size(), size_t{255}});
    while (common < limit && name[common] == previousName[common]) ++common;
    int shared = entry.sharedLengthOverride.value_or(static_cast<int>(common));
    if (shared < 0 || shared > 255) throw std::invalid_argument("sharedLength out of range");
    // The reader takes over min(shared, previous length) bytes; they must be
    // the name's own.
    size_t taken = std::min(static_cast<size_t>(shared), previousName.size());
    if (taken > name.size() || name.compare(0, taken, previousName, 0, taken) != 0) {
        throw std::invalid_argument("sharedLength takes over bytes that differ from the name");
    }
    stream.push_back(static_cast<uint8_t>(shared));
    stream.insert(stream.end(), name.begin() + taken, name.end());
    stream.push_back(0);
    previousName = name;
    if (entry.isFolder) return EntryBodyStats();

    AppendFileTime(stream, entry.creationTime);
    AppendFileTime(stream, entry.lastAccessTime);
    AppendFileTime(stream, entry.lastWriteTime);

    const int64_t size = static_cast<int64_t>(entry.contents.size());
    const int r = static_cast<int>(entry.backReference & 0xFF);
    const int32_t prefixLength = r != 0 ? entry.prefixLength : 0;
    const int referenced = ReferencedSlot(history, entry.backReference);
    const std::vector<uint8_t>& slot = history.slots[referenced];
    if (r != 0) {
        if (r > history.fileEntries) throw std::invalid_argument("backReference beyond the first file entry");
        if (prefixLength < 1 || prefixLength > size || prefixLength > static_cast<int64_t>(slot.size())) {
            throw std::invalid_argument("prefixLength out of range");
        }
        if (memcmp(slot.data(), entry.contents.data(), static_cast<size_t>(prefixLength)) != 0) {
            throw std::invalid_argument("the prefix differs from the referenced entry");
        }
    }
    PreloadRange preload = PreloadFor(static_cast<int32_t>(slot.size()), prefixLength);

    BitWriter bits;
    bits.WriteInteger(static_cast<uint64_t>(size));
    bits.WriteInteger(entry.backReference);
    if (r != 0) bits.WriteInteger(static_cast<uint64_t>(prefixLength - 1));
    EntryBodyStats stats = EncodeEntryBody(bits, slot.data() + preload.start, preload.length, entry.contents.data() + prefixLength,
                    size - prefixLength, options);
    bits.Finish();
    const std::vector<uint8_t>& coded = bits.Bytes();
    stream.insert(stream.end(), coded.begin(), coded.end());

    RecordFileEntry(history, entry.contents.data(), size);
    return stats;
}

std::vector<uint8_t> BuildEntryStream(const std::vector<EntryInput>& entries, const EncoderOptions& options) {
    std::vector<uint8_t> stream;
    HistoryMirror history;
    std::string previousName;
    for (const EntryInput& entry : entries) AppendEntryRecord(stream, entry, history, previousName, options);
    return stream;
}

