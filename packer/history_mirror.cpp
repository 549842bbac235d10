#include "packer/history_mirror.h"

#include <algorithm>


int ReferencedSlot(const HistoryMirror& history, uint64_t backReference) {
    int r = static_cast<int>(backReference & 0xFF);
    if (r == 0) r = 1;
    return (history.currentSlot + kHistorySlots - r) % kHistorySlots;
}

PreloadRange PreloadFor(int32_t slotLength, int32_t prefixLength) {
    PreloadRange range;
    ComputePreload(slotLength, prefixLength, &range.start, &range.length);
    return range;
}

void RecordFileEntry(HistoryMirror& history, const uint8_t* fileBytes, int64_t size) {
    int64_t kept = std::min<int64_t>(size, kHistorySlotSize);
    history.slots[history.currentSlot].assign(fileBytes, fileBytes + kept);
    history.currentSlot = (history.currentSlot + 1) % kHistorySlots;
    ++history.fileEntries;
}
