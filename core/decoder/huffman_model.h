// Adaptive Huffman model: 512 symbols whose prefix-code tree is rebuilt
// from running counts at fixed points of each file entry.
//
// The packer builds the very same trees at the very same points, so every
// rule here is part of the archive format:
//   - initial weights (literal/length: 1 each; distance: 2 for symbols
//     0..63, 1 for 64..511);
//   - a stable sort into non-increasing weight that starts from the order
//     of the previous build (ties keep their previous order);
//   - merging the two last entries into a node that is inserted after every
//     entry of greater or equal weight;
//   - bit 0 leads to the heavier of the two merged entries.
//
// Two instances: the literal/length model (0..255 literal byte, 256..510
// match of length symbol - 254, 511 long match with 12 extra bits) and the
// distance model (symbol d: distances 32d + 1 .. 32d + 32, 5 extra bits).
#pragma once

#include <stdint.h>

#include "core/decoder/bit_reader.h"

static const int kModelSymbols = 512;
static const int kModelNodes = 2 * kModelSymbols - 1;  // 512 leaves, 511 inner nodes
static const int kModelRoot = kModelNodes - 1;         // the last node merged
static const int16_t kNoChild = -1;

enum ModelKind { kLiteralLengthModel, kDistanceModel };

// A node of the code tree. Nodes 0..511 are the leaves of symbols 0..511;
// nodes 512..1022 are inner nodes in order of creation. A node is a leaf
// exactly when child0 is kNoChild.
struct CodeNode {
    int64_t weight;  // a leaf's weight at the build; an inner node's children summed
    int32_t symbol;  // leaves only
    int16_t child0;  // the heavier (or equally heavy) side: bit 0
    int16_t child1;  // the lighter side: bit 1
};

struct HuffmanModel {
    int64_t weights[kModelSymbols];    // initial weight + times decoded in this entry
    int32_t order[kModelSymbols];      // position of each symbol in the last build's sorted list
    CodeNode nodes[kModelNodes];
    int16_t buildList[kModelSymbols];  // working list of the format's plain build; [0] is the root after a build
};

// Sets the initial weights and the identity order, and lays out the leaf
// nodes (symbol, no children); builds only change their weights.
void ResetModel(HuffmanModel* model, ModelKind kind);

// Builds the tree from the current weights, starting from the order of the
// previous build, and records the new order. The result is the tree of the
// rules above; the work is linear in the symbols for the nearly sorted
// lists that rebuilds start from (two queues instead of insertion walks).
void BuildCodeTree(HuffmanModel* model);

// One code word, walking the tree bit by bit (DecodeTableSymbol is the fast
// way); adds 1 to the symbol's weight.
int DecodeSymbol(HuffmanModel* model, BitReader* reader);

// Rebuild schedule. The literal/length tree is built before symbol number
// n (from 0) when n is a multiple of 256 below 2,048, or a multiple of
// 1,024. The distance tree is built when an entry's decoding begins and
// again after match number m (from 1) when m is a multiple of 64 below
// 1,024, or a multiple of 512.
inline bool LiteralLengthBuildDue(int64_t n) {
    return (n & 255) == 0 && (n < 2048 || (n & 1023) == 0);
}
inline bool DistanceBuildDue(int64_t m) {
    return (m & 63) == 0 && (m < 1024 || (m & 511) == 0);
}
