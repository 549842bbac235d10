// The LZ77 encoder of a file entry's compressed data.
//
// It writes the items the extractor decodes: literals, short matches
// (length 2..256), long matches (257..4,352, with 12 extra bits) and after
// each match its distance (1..16,384, counted back from the byte about to be
// produced). The two adaptive models are reset, counted and rebuilt exactly
// as the decoder does it, so the code words agree bit for bit.
//
// The decoder's window starts with a preload: bytes of an earlier entry
// that precede the data but are not part of it. Matches may copy from it.
// The decoder copies a last match whole, so no match runs past the data.
#pragma once

#include <stdint.h>

#include "packer/bit_writer.h"

struct EncoderOptions {
    int maxChain = 64;        // hash-chain candidates looked at per position
    bool lazy = true;         // defer a match when the next position starts a longer one
    int maxLazyLength = 64;   // a match this long is taken at once, without the lazy look
    int goodLength = 32;      // with a match this long in hand, the lazy look walks a quarter of the chain
    int niceLength = 256;     // the chain walk stops at a match this long

    // Cost-based parse (the top levels): every position's matches are
    // priced with the code lengths of the trees in force, and the cheapest
    // path of literals and matches through a stretch of the data is taken.
    bool optimal = false;
    int optimalBlock = 4096;  // bytes parsed at once before the models move on

    // The choice of each file's back-reference (see reference_choice.h).
    int referenceTrials = 0;    // candidates priced by compression besides "none"; 0: longest prefix only
    int trialBytes = 8192;      // bytes after the prefix compressed per candidate
    int takePrefixAt = 4096;    // a shared prefix this long is taken without trials
    int minimumPrefix = 8;      // without trials, a shorter shared prefix is not taken
};

// Sound settings from 1 (fastest) to 9 (smallest); other values are clamped.
EncoderOptions EncoderOptionsForLevel(int level);

// What one body was made of, for tests and statistics.
struct EntryBodyStats {
    int64_t literals = 0;
    int64_t shortMatches = 0;      // length 2..256
    int64_t longMatches = 0;       // length 257..4,352
    int64_t preloadMatches = 0;    // matches whose source begins in the preload
};

// Writes the compressed data of `size` bytes at `data`, with the window
// preloaded with preload[0 .. preloadLength) (0..16,384 bytes; preload may
// be null when preloadLength is 0). An empty entry writes nothing. Does not
// pad: the caller finishes the byte.
EntryBodyStats EncodeEntryBody(BitWriter& writer, const uint8_t* preload, int32_t preloadLength,
                               const uint8_t* data, int64_t size,
                               const EncoderOptions& options = EncoderOptions());
