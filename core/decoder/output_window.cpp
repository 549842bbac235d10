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

void PutByte(OutputWindow* window, uint8_t b) {
    if (window->position - window->base >= kWindowSize) {
        // Full: write the first 32,768 bytes, keep the last 16,384 as the
        // history every distance can reach.
        WriteWindow(window, kWindowSlide);
        window->writeStart = 0;
        memmove(window->bytes, window->bytes + kWindowSlide, kWindowKept);
        window->base += kWindowSlide;
    }
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

void DecodeEntryBody(EntryDecoder* decoder, int64_t bytesToProduce) {
    BitReader* bits = &decoder->bits;
    OutputWindow* window = &decoder->window;
    ResetModel(&decoder->literalLength, kLiteralLengthModel);
    ResetModel(&decoder->distance, kDistanceModel);
    BuildCodeTree(&decoder->distance);

    int64_t produced = 0, n = 0, m = 0;
    while (produced < bytesToProduce) {
        if (LiteralLengthBuildDue(n)) BuildCodeTree(&decoder->literalLength);
        int s = DecodeSymbol(&decoder->literalLength, bits);
        n++;
        if (s < 256) {
            PutByte(window, (uint8_t)s);
            produced++;
            continue;
        }
        int32_t length = s - 254;
        if (s == 511) length += (int32_t)NextBitsLsbFirst(bits, 12);
        int d = DecodeSymbol(&decoder->distance, bits);
        int32_t distance = 32 * d + 1 + (int32_t)NextBitsLsbFirst(bits, 5);
        // Before the first slide a distance can reach in front of the
        // window's first byte; such data are outside the format.
        if (distance > window->position - window->base) BrokenDataExit();
        // Byte by byte, so that a distance shorter than the length repeats
        // the bytes just produced.
        for (int32_t i = 0; i < length; i++)
            PutByte(window, window->bytes[window->position - distance - window->base]);
        produced += length;
        m++;
        if (DistanceBuildDue(m)) BuildCodeTree(&decoder->distance);
    }
}
