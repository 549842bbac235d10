// Lookup tables that decode a code word of a HuffmanModel from the next
// bits in hand instead of walking its tree bit by bit.
//
// The first level is indexed by the next kTableBits bits (the first bit
// read is the index's lowest bit): a code of that length or shorter fills
// every entry whose low bits are the code. A tree node at depth kTableBits
// gets a second-level table, indexed by the bits after those, of up to
// kSubtableBits bits (fewer when its subtree is shallower); it is made when
// a code first leads there, since trees are rebuilt often and most of their
// long codes are never read. Codes can be longer still (far beyond 64 bits
// with very skewed weights): their entries send the decoder to the tree
// node reached, to walk on from there.
#pragma once

#include <stdint.h>

#include "core/decoder/bit_reader.h"
#include "core/decoder/huffman_model.h"

static const int kTableBits = 10;
static const int kSubtableBits = 6;
static const int kSubtablePool = 2048;  // entries for all second levels of one tree

// An entry: bits 0-7 how many bits it takes (from the start of the code
// word), bits 8-9 its kind, bits 16-31 a symbol, table offset or node.
// A leaf entry's low 10 bits are its length alone, so one comparison with
// the bits in hand both finds a leaf and checks that its code is all there.
static const uint32_t kEntryLeaf = 0x000;
static const uint32_t kEntrySubtable = 0x100;  // bits 0-7: the second level's index bits
static const uint32_t kEntryWalk = 0x200;      // takes the bits in 0-7, then walks the tree from the node
// A first-level walk from depth kTableBits: the second level is not made yet.
static const uint32_t kEntryLink = kEntryWalk | kTableBits;

// entries[2^d + c], for d = 1..kTableBits, is the entry for the code c of d
// bits (while the table is built); the first level proper is the last of
// these rows, at kFirstLevel. Second levels follow it.
static const int kFirstLevel = 1 << kTableBits;
static const int kSecondLevels = 2 << kTableBits;

struct DecodeTable {
    uint32_t entries[kSecondLevels + kSubtablePool];
    int32_t used;   // end of the second levels made so far
    bool poolFull;  // a second level did not fit: the rest stay walks
};

// Fills the table from the model's tree; after every BuildCodeTree.
void BuildDecodeTable(DecodeTable* table, const HuffmanModel* model);

// One code word, for any entry and any number of bits in hand; does not
// count the symbol. Opens the next block only for a bit that lies in it.
int DecodeSymbolSlowly(DecodeTable* table, const HuffmanModel* model, BitReader* reader);

// One code word of `model` (counting it in the model's weights, as
// DecodeSymbol does).
inline int DecodeTableSymbol(DecodeTable* table, HuffmanModel* model, BitReader* reader) {
    if (reader->bitCount < kTableBits) RefillFromBlock(reader);
    uint32_t entry = table->entries[kFirstLevel + (reader->bits & (kFirstLevel - 1))];
    int symbol;
    int32_t length = (int32_t)(entry & 0x3FF);
    if (length <= reader->bitCount) {
        reader->bits >>= length;
        reader->bitCount -= length;
        symbol = (int)(entry >> 16);
    } else {
        symbol = DecodeSymbolSlowly(table, model, reader);
    }
    model->weights[symbol]++;
    return symbol;
}
