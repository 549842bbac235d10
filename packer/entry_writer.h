// Entry records: the contents of the block stream.
//
// Every record starts with the entry name, shared with the previous
// record's name: sharedLength (1 byte: how many leading bytes of the
// previous name are taken over), then the rest of the name and a 0 byte.
// A name ending in "\." is a folder entry and has nothing more. A file
// entry goes on with three FILETIMEs (creation, last access, last write;
// 8 bytes each, little-endian) and a bit-coded part that starts on a fresh
// byte: entrySize, backReference and, when backReference's low 8 bits are
// not 0, prefixLength - 1, each in the integer code; then the compressed
// bytes after the prefix; padded to a byte.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "packer/history_mirror.h"
#include "packer/lz77_encoder.h"

struct EntryInput {
    std::string name;     // relative path with backslashes, no NUL
    bool isFolder = false;  // "\." is appended unless the name already ends with it (or is ".")
    uint64_t creationTime = 0;    // FILETIMEs
    uint64_t lastAccessTime = 0;
    uint64_t lastWriteTime = 0;
    std::vector<uint8_t> contents;  // the whole file, prefix included
    // Written as is; only its low 8 bits count (so 256 means "no prefix").
    uint64_t backReference = 0;
    // Bytes taken from the referenced entry; used only when backReference's
    // low 8 bits are not 0, then 1 .. min(size, referenced entry's kept bytes).
    int32_t prefixLength = 0;
    std::optional<int> sharedLengthOverride;  // 0..255; default: the longest common prefix
};

// The name as the record stores it: a folder's name ends with "\.".
std::string StoredEntryName(const EntryInput& entry);

// Appends one record to `stream`, using and updating the history and the
// previous name. Throws std::invalid_argument for a record the format does
// not allow (a prefix that is longer than the file or the referenced entry,
// differs from it, or refers to an entry that does not exist). Returns what
// the compressed part was made of (nothing for a folder).
EntryBodyStats AppendEntryRecord(std::vector<uint8_t>& stream, const EntryInput& entry, HistoryMirror& history,
                       std::string& previousName, const EncoderOptions& options = EncoderOptions());

// The stream bytes of a whole archive.
std::vector<uint8_t> BuildEntryStream(const std::vector<EntryInput>& entries,
                                      const EncoderOptions& options = EncoderOptions());
