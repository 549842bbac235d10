// LZ77 match decoding and the output window.
//
// Items of a file entry's compressed data, in reading order:
//   literal       literal/length symbol s < 256: the byte s
//   short match   s = 256..510: length s - 254 (2..256), then a distance
//   long match    s = 511: 12 extra bits x, length 257 + x (..4,352),
//                 then a distance
//   distance      distance symbol d, 5 extra bits y: 32d + 1 + y (1..16,384)
// Extra bits are read least significant first. There is no end symbol:
// decoding stops between items once the entry's bytes are produced, and a
// last match is always copied whole.
//
// The window is a flat array that slides by 32,768 bytes when full and
// keeps the last 16,384, so every byte a distance can reach is present and
// a byte's place is one subtraction. It is also the write buffer: the
// output file receives 32,768-byte pieces (the first shorter by the
// preload) and one final piece from FlushWindow.
#pragma once

#include <stdint.h>

#include "core/decoder/bit_reader.h"
#include "core/decoder/decode_table.h"
#include "core/decoder/huffman_model.h"

static const int32_t kWindowSize = 49152;
static const int32_t kWindowSlide = 32768;
static const int32_t kWindowKept = kWindowSize - kWindowSlide;  // 16,384
static const int32_t kMaxPreload = 16384;
static const int32_t kMaxDistance = 16384;
static const int32_t kMaxMatchLength = 4352;
static const int32_t kHistorySlotSize = 24576;  // bytes of each entry kept for later entries
// Match copies move whole words and may write up to 15 bytes past the
// match's end, into positions not produced yet (or this slack).
static const int32_t kWindowSlack = 16;

struct OutputWindow {
    uint8_t bytes[kWindowSize + kWindowSlack];
    // Bytes that entered the window in this entry, preload included; the
    // next byte takes this position. position - base never exceeds kWindowSize.
    int64_t position;
    int64_t base;        // position of bytes[0]; raised by kWindowSlide at each slide
    int32_t writeStart;  // bytes[writeStart .. position - base) are produced but not yet written
    bool skipEntry;      // decode into the window and the slot, write nothing
    // Produced byte at window position p is byte p + captureOffset of the
    // entry's file (captureOffset = prefixLength - preloadLength); it is kept
    // in captureData while that offset lies below kHistorySlotSize.
    int64_t captureOffset;
    uint8_t* captureData;  // the current history slot's data
};

// The decoder's whole state for one expansion: fixed size, set up once,
// nothing allocated while an entry is decoded.
struct EntryDecoder {
    BitReader bits;
    HuffmanModel literalLength;
    HuffmanModel distance;
    DecodeTable literalLengthTable;  // rebuilt with each model's tree
    DecodeTable distanceTable;
    OutputWindow window;
};

// Lays the preload into the window and prepares it for one entry. preload
// may be null when preloadLength is 0.
void StartOutputWindow(OutputWindow* window, const uint8_t* preload, int32_t preloadLength,
                       int32_t prefixLength, uint8_t* captureData, bool skipEntry);

// Decodes items until `bytesToProduce` bytes have been produced (nothing when
// it is 0 or less). Reads bits through decoder->bits, which stands at the
// first bit of the compressed data, and settles it at the end: the stream
// then stands at the byte after the entry's last used bit. Writes to
// gSession.outputHandle unless the window skips.
void DecodeEntryBody(EntryDecoder* decoder, int64_t bytesToProduce);

void PutByte(OutputWindow* window, uint8_t b);

// Writes what the window still holds to gSession.outputHandle.
void FlushWindow(OutputWindow* window);
