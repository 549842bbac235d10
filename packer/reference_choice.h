// The choice of a file entry's back-reference: which of the last 255 file
// entries its prefix and its window preload come from.
//
// A prefix is copied whole, at the cost of one number; the preload is the
// referenced entry's bytes around the end of the prefix, from which the
// compressed rest may copy. Without a back-reference there is no prefix and
// the preload is the first bytes of the previous file entry.
#pragma once

#include <stdint.h>

#include <vector>

#include "packer/history_mirror.h"
#include "packer/lz77_encoder.h"

struct ReferenceChoice {
    uint64_t backReference = 0;  // 0: none; else 1..255 file entries back
    int32_t prefixLength = 0;    // 0 without a back-reference, else 1.. min(size, slot length)
};

// The longest prefix that `data` shares with the first bytes of each of
// the last min(255, entries so far) file entries; ties go to the nearer.
ReferenceChoice LongestPrefixReference(const HistoryMirror& history, const uint8_t* data, int64_t size);

// The back-reference for the file `data`: a long shared prefix wins at
// once; otherwise, at the levels that try references (options.
// referenceTrials > 0), the candidates (no back-reference, the longest
// prefixes, the nearest entries) are priced by compressing the file's first
// bytes after each preload, and the cheapest is taken.
ReferenceChoice ChooseReference(const HistoryMirror& history, const uint8_t* data, int64_t size,
                                const EncoderOptions& options);
