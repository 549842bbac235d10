// The writer's copy of the extractor's history of earlier file entries.
//
// The extractor keeps the first bytes of the last 256 file entries in 256
// slots. File entries take the slots in turn, starting with slot 1; slot 0
// stands for an empty file until the 256th file entry takes it. A file
// entry may begin with a prefix copied from the slot `backReference` entries
// back, and the same slot preloads the decoder's window. The writer has to
// pick the very same preload, so it keeps the same slots.
#pragma once

#include <stdint.h>

#include <vector>

#include "core/expansion/history_table.h"

struct PreloadRange {
    int32_t start = 0;   // offset into the referenced slot's data
    int32_t length = 0;  // 0..16,384
};

struct HistoryMirror {
    std::vector<std::vector<uint8_t>> slots = std::vector<std::vector<uint8_t>>(kHistorySlots);  // each slot's valid bytes
    int currentSlot = 1;       // the slot the next file entry takes
    int64_t fileEntries = 0;   // file entries recorded so far
};

// The slot r = low 8 bits of backReference entries back (r = 0 counts as 1).
int ReferencedSlot(const HistoryMirror& history, uint64_t backReference);

// The window preload for a slot holding `slotLength` bytes and a prefix of
// `prefixLength` bytes: up to 15,360 bytes after the prefix, preceded by as
// many of the prefix's last bytes as fit into 16,384.
PreloadRange PreloadFor(int32_t slotLength, int32_t prefixLength);

// Records the file entry whose bytes are `fileBytes` (prefix included) in
// the current slot and moves on to the next slot.
void RecordFileEntry(HistoryMirror& history, const uint8_t* fileBytes, int64_t size);
