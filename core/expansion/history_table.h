// The history of earlier file entries.
//
// A file may begin with a prefix copied from one of the last 256 file
// entries, and the same entry supplies up to 16,384 bytes that are preloaded
// into the decoder's window, so the compressed rest can copy from them. The
// table keeps the first 24,576 bytes of each of the last 256 file entries.
// File entries take the slots in turn, the first one slot 1; slot 0 stands
// for an empty file until the 256th file entry takes it. Folder entries take
// no slot.
#pragma once

#include <stdint.h>

#include "core/decoder/output_window.h"

static const int kHistorySlots = 256;
// Preloaded bytes taken from behind the prefix, at most.
static const int32_t kMaxPreloadAhead = 15360;

struct HistorySlot {
    int32_t length;  // valid bytes of data: min(entrySize, 24,576)
    uint8_t data[kHistorySlotSize];
};

struct HistoryTable {
    HistorySlot slots[kHistorySlots];
};

// The preload for a referenced slot of `slotLength` valid bytes and a prefix
// of `prefixLength` bytes (0 <= prefixLength <= slotLength): the 16,384
// bytes (or fewer, when offset 0 comes first) that end at offset
// min(slotLength, prefixLength + 15,360) of the slot's data.
void ComputePreload(int32_t slotLength, int32_t prefixLength, int32_t* preloadStart,
                    int32_t* preloadLength);
