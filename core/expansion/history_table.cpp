#include "core/expansion/history_table.h"

void ComputePreload(int32_t slotLength, int32_t prefixLength, int32_t* preloadStart,
                    int32_t* preloadLength) {
    int32_t ahead = slotLength - prefixLength;
    if (ahead > kMaxPreloadAhead) ahead = kMaxPreloadAhead;
    int32_t behind = kMaxPreload - ahead;
    if (behind > prefixLength) behind = prefixLength;
    *preloadLength = ahead + behind;
    *preloadStart = prefixLength - behind;
}
