#include "core/decoder/output_window.h"

#include <string.h>

#include "core/container/file_ops.h"
#include "core/driver/archive_session.h"
#include "core/driver/fatal_exit.h"

void StartOutputWindow(OutputWindow* window, const uint8_t* preload, int32_t preloadLength,
                       int32_t prefixLength, uint8_t* captureData, bool skipEntry) {
    if (preloadLength > 0) memcpy(window->bytes, preload, (size_t)preloadLength);
    window->position = preloadLength;
    window->base = 0;
    window->writeStart = preloadLength;  // the preload never reaches the file
    window->skipEntry = skipEntry;
    window->captureOffset = (int64_t)prefixLength - preloadLength;
    window->captureData = captureData;
}

// Writes bytes[writeStart .. end) unless the entry is skipped.
static void WriteWindow(OutputWindow* window, int32_t end) {
    if (window->skipEntry) return;
    if (!WriteExact(gSession.outputHandle, window->bytes + window->writeStart,
                    (uint32_t)(end - window->writeStart)))
        WriteErrorExit();
}

// The window is full: write the first 32,768 bytes, keep the last 16,384
// as the history every distance can reach. Done only when the next byte
// arrives, so a window that fills at an entry's end is left to FlushWindow.
static void SlideWindow(OutputWindow* window) {
    WriteWindow(window, kWindowSlide);
    window->writeStart = 0;
    memmove(window->bytes, window->bytes + kWindowSlide, kWindowKept);
    window->base += kWindowSlide;
}

void PutByte(OutputWindow* window, uint8_t b) {
    if (window->position - window->base >= kWindowSize) SlideWindow(window);
    window->bytes[window->position - window->base] = b;
    int64_t e = window->position + window->captureOffset;
    if (e >= 0 && e < kHistorySlotSize) window->captureData[e] = b;
    window->position++;
}

void FlushWindow(OutputWindow* window) {
    if (window->position > window->base) {
        if (!WriteExact(gSession.outputHandle, window->bytes + window->writeStart,
                        (uint32_t)(window->position - window->base - window->writeStart)))
            WriteErrorExit();
    }
}

// Copies `count` (>= 1) bytes from `distance` back to `out`, with the result
// of a byte-by-byte copy: a distance below the count repeats the last
// `distance` bytes. May write up to 15 bytes past the end.
static inline void CopyMatch(uint8_t* out, int32_t distance, int32_t count) {
    uint8_t* stop = out + count;
    const uint8_t* from = out - distance;
    if (distance >= 16) {
        // Source and destination of each 16-byte step do not overlap.
        do {
            memcpy(out, from, 16);
            out += 16;
            from += 16;
        } while (out < stop);
    } else if (distance >= 8) {
        do {
            memcpy(out, from, 8);
            out += 8;
            from += 8;
        } while (out < stop);
    } else {
        // Short distances: fill with the repeating pattern, stepping by a
        // multiple of the distance so every word lines up with it.
        uint8_t pattern[8];
        for (int i = 0; i < 8; i++) pattern[i] = from[i % distance];
        int32_t step = 8 - 8 % distance;
        do {
            memcpy(out, pattern, 8);
            out += step;
        } while (out < stop);
    }
}

// Keeps the produced bytes at entry offsets [at, at + count) that fall
// into the history slot.
static inline void CaptureBytes(uint8_t* captureData, int64_t at, const uint8_t* bytes, int32_t count) {
    int64_t from = at < 0 ? 0 : at;
    int64_t to = at + count < kHistorySlotSize ? at + count : kHistorySlotSize;
    if (from < to) memcpy(captureData + from, bytes + (from - at), (size_t)(to - from));
}

void DecodeEntryBody(EntryDecoder* decoder, int64_t bytesToProduce) {
    BitReader* reader = &decoder->bits;
    OutputWindow* window = &decoder->window;
    HuffmanModel* literalLength = &decoder->literalLength;
    HuffmanModel* distanceModel = &decoder->distance;
    DecodeTable* literalLengthTable = &decoder->literalLengthTable;
    DecodeTable* distanceTable = &decoder->distanceTable;
    ResetModel(literalLength, kLiteralLengthModel);
    ResetModel(distanceModel, kDistanceModel);
    BuildCodeTree(distanceModel);
    BuildDecodeTable(distanceTable, distanceModel);

    // The bit reader and the window's fill point live in locals while the
    // loop runs (the window's byte stores could otherwise alias them);
    // they go back to their records around every call that needs them.
    uint64_t bits = reader->bits;
    int32_t bitCount = reader->bitCount;
    const uint8_t* next = reader->next;
    const uint8_t* end = reader->end;
    auto save = [&] {
        reader->bits = bits;
        reader->bitCount = bitCount;
        reader->next = next;
        reader->end = end;
    };
    auto load = [&] {
        bits = reader->bits;
        bitCount = reader->bitCount;
        next = reader->next;
        end = reader->end;
    };
    // Up to 56 bits or more in hand, as far as the open block has bytes.
    auto refill = [&] {
        if (end - next >= 8) {
            uint64_t word;
            memcpy(&word, next, 8);
            bits |= word << bitCount;
            next += (63 - bitCount) >> 3;
            bitCount |= 56;
        } else {
            save();
            RefillFromBlock(reader);
            load();
        }
    };
    auto decode = [&](DecodeTable* table, HuffmanModel* model) -> int {
        uint32_t entry = table->entries[kFirstLevel + (bits & (kFirstLevel - 1))];
        if ((entry & 0x300) == kEntrySubtable && bitCount >= kTableBits + (int32_t)(entry & 0xFF))
            entry = table->entries[(entry >> 16) + ((uint32_t)(bits >> kTableBits) & ((1u << (entry & 0xFF)) - 1))];
        int32_t length = (int32_t)(entry & 0x3FF);
        int symbol;
        if (length <= bitCount) {
            bits >>= length;
            bitCount -= length;
            symbol = (int)(entry >> 16);
        } else {
            save();
            symbol = DecodeSymbolSlowly(table, model, reader);
            load();
        }
        model->weights[symbol]++;
        return symbol;
    };
    auto take = [&](int count) -> uint32_t {
        if (bitCount >= count) {
            uint32_t value = (uint32_t)(bits & ((1u << count) - 1));
            bits >>= count;
            bitCount -= count;
            return value;
        }
        save();
        uint32_t value = NextBitsSlowly(reader, count);
        load();
        return value;
    };

    // The window's fill point as a pointer; position = base + (out - bytes).
    uint8_t* const bytes = window->bytes;
    uint8_t* const full = bytes + kWindowSize;
    window->base = 0;
    uint8_t* out = bytes + window->position;
    uint8_t* const captureData = window->captureData;
    int64_t capture = window->position + window->captureOffset;  // entry offset of the next byte

    int64_t produced = 0, n = 0, m = 0;
    while (produced < bytesToProduce) {
        if (LiteralLengthBuildDue(n)) {
            BuildCodeTree(literalLength);
            BuildDecodeTable(literalLengthTable, literalLength);
        }
        // Topped up at every item (whether it is needed is too hard to
        // predict to be worth a branch): the longest usual item, codes of
        // up to 16 bits and 17 extra bits, then needs no further refill.
        refill();
        int s = decode(literalLengthTable, literalLength);
        n++;
        if (s < 256) {
            if (out == full) {
                SlideWindow(window);
                out -= kWindowSlide;
            }
            *out++ = (uint8_t)s;
            if ((uint64_t)capture < (uint64_t)kHistorySlotSize) captureData[capture] = (uint8_t)s;
            capture++;
            produced++;
            continue;
        }
        int32_t length = s - 254;
        if (s == 511) length += (int32_t)take(12);
        if (bitCount < 21) refill();
        int d = decode(distanceTable, distanceModel);
        int32_t distance = 32 * d + 1 + (int32_t)take(5);
        // Before the first slide a distance can reach in front of the
        // window's first byte; such data are outside the format.
        if (distance > out - bytes) BrokenDataExit();
        // A match that fills the window slides it between two of its bytes.
        int32_t left = length;
        for (;;) {
            if (out == full) {
                SlideWindow(window);
                out -= kWindowSlide;
            }
            int32_t chunk = (int32_t)(full - out) < left ? (int32_t)(full - out) : left;
            CopyMatch(out, distance, chunk);
            CaptureBytes(captureData, capture, out, chunk);
            out += chunk;
            capture += chunk;
            left -= chunk;
            if (left == 0) break;
        }
        produced += length;
        m++;
        if (DistanceBuildDue(m)) {
            BuildCodeTree(distanceModel);
            BuildDecodeTable(distanceTable, distanceModel);
        }
    }
    window->position = window->base + (out - bytes);
    save();
    SettleBitReader(reader);
}
