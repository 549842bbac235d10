#include "core/decoder/decode_table.h"

// Row d of the first-level build takes the entry of its parent in row
// d - 1 wherever that is a leaf (non-zero). Rows do not overlap.
static void SpreadRow(const uint32_t* __restrict parent, uint32_t* __restrict row, int half) {
    for (int i = 0; i < half; i++) {
        uint32_t p = parent[i];
        uint32_t fresh = 0u - (uint32_t)(p == 0);
        row[i] = p | (row[i] & fresh);
        row[half + i] = p | (row[half + i] & fresh);
    }
}

void BuildDecodeTable(DecodeTable* table, const HuffmanModel* model) {
    const CodeNode* nodes = model->nodes;
    uint32_t* entries = table->entries;

    // Every node's code and depth, from the root down: inner nodes are made
    // after their children, so walking them from the last made visits every
    // parent before its children. Codes are kept to 32 bits; only those of
    // the first kTableBits levels are used here. On the way every node of
    // depth d <= kTableBits puts its entry at entries[2^d + code]: a leaf's
    // entry, a link for an inner node at depth kTableBits, 0 for the inner
    // nodes above (deeper nodes go to entries[0]). Whether a node is a leaf
    // depends on the data, so the index is masked rather than branched on.
    // Nodes 0..511 are the leaves, node s of symbol s.
    uint32_t code[kModelNodes];
    uint16_t depth[kModelNodes];
    code[kModelRoot] = 0;
    depth[kModelRoot] = 0;
    int shallowest = kTableBits;
    for (int n = kModelRoot; n >= kModelSymbols; n--) {
        uint32_t d = depth[n] + 1u;
        uint32_t codes[2] = {code[n], code[n] | 1u << ((d - 1) & 31)};
        int16_t children[2] = {nodes[n].child0, nodes[n].child1};
        uint32_t inFirst = 0u - (uint32_t)(d <= kTableBits);
        uint32_t atLink = 0u - (uint32_t)(d == kTableBits);
        for (int i = 0; i < 2; i++) {
            int16_t c = children[i];
            code[c] = codes[i];
            depth[c] = (uint16_t)d;
            uint32_t leaf = 0u - (uint32_t)(c < kModelSymbols);
            uint32_t entry = ((uint32_t)c << 16) | (d & leaf) | (kEntryLink & atLink & ~leaf);
            entries[((1u << (d & 31)) + codes[i]) & inFirst] = entry & (leaf | atLink);
            shallowest = (leaf & (d < (uint32_t)shallowest)) ? (int)d : shallowest;
        }
    }
    // A short code fills every longer index that begins with it; the last
    // row is the first level. Rows above the shallowest leaf hold inner
    // nodes only.
    for (int d = shallowest + 1; d <= kTableBits; d++)
        SpreadRow(entries + (1 << (d - 1)), entries + (1 << d), 1 << (d - 1));
    table->used = kSecondLevels;
    table->poolFull = false;
}

namespace {

struct PendingNode {
    int16_t node;
    int16_t depth;
    uint32_t code;  // the bits from the subtree's top down to it, the first at bit 0
};

// Depth of the subtree under `top`, counted up to `limit`.
int SubtreeDepth(const CodeNode* nodes, int top, int limit) {
    PendingNode stack[kSubtableBits + 2];
    int count = 0, deepest = 0;
    stack[count++] = {(int16_t)top, 0, 0};
    while (count > 0) {
        PendingNode p = stack[--count];
        if (p.depth > deepest) deepest = p.depth;
        if (nodes[p.node].child0 == kNoChild || p.depth == limit) continue;
        stack[count++] = {nodes[p.node].child1, (int16_t)(p.depth + 1), 0};
        stack[count++] = {nodes[p.node].child0, (int16_t)(p.depth + 1), 0};
    }
    return deepest;
}

// Makes the second level for the inner node `top` at depth kTableBits;
// returns the first-level entry that leads to it (a walk when it does not
// fit).
uint32_t MakeSubtable(DecodeTable* table, const CodeNode* nodes, int top) {
    int bits = SubtreeDepth(nodes, top, kSubtableBits);
    if (table->used + (1 << bits) > kSecondLevels + kSubtablePool) {
        table->poolFull = true;
        return (uint32_t)top << 16 | kEntryLink;
    }
    uint32_t offset = (uint32_t)table->used;
    table->used += 1 << bits;
    uint32_t* sub = table->entries + offset;
    PendingNode stack[kSubtableBits + 2];
    int count = 0;
    stack[count++] = {(int16_t)top, 0, 0};
    while (count > 0) {
        PendingNode p = stack[--count];
        const CodeNode& node = nodes[p.node];
        uint32_t length = (uint32_t)(kTableBits + p.depth);
        if (node.child0 == kNoChild) {
            // A leaf at depth d fills every index whose low d bits are its code.
            uint32_t entry = (uint32_t)node.symbol << 16 | kEntryLeaf | length;
            for (uint32_t i = p.code; i < (1u << bits); i += 1u << p.depth) sub[i] = entry;
        } else if (p.depth == bits) {
            sub[p.code] = (uint32_t)p.node << 16 | kEntryWalk | length;
        } else {
            stack[count++] = {node.child1, (int16_t)(p.depth + 1), p.code | 1u << p.depth};
            stack[count++] = {node.child0, (int16_t)(p.depth + 1), p.code};
        }
    }
    return offset << 16 | kEntrySubtable | (uint32_t)bits;
}

}  // namespace

int DecodeSymbolSlowly(DecodeTable* table, const HuffmanModel* model, BitReader* reader) {
    const CodeNode* nodes = model->nodes;
    if (reader->bitCount < kTableBits + kSubtableBits) RefillFromBlock(reader);
    uint32_t slot = kFirstLevel + (uint32_t)(reader->bits & (kFirstLevel - 1));
    uint32_t entry = table->entries[slot];
    if ((entry & 0x3FF) == kEntryLink && !table->poolFull && reader->bitCount >= kTableBits) {
        entry = MakeSubtable(table, nodes, (int)(entry >> 16));
        table->entries[slot] = entry;
    }
    if ((entry & 0x300) == kEntrySubtable && reader->bitCount >= kTableBits) {
        uint32_t index = (uint32_t)(reader->bits >> kTableBits) & ((1u << (entry & 0xFF)) - 1);
        entry = table->entries[(entry >> 16) + index];
    }
    // A whole code in hand, or the node that a longer one has reached.
    int node = kModelRoot;
    int32_t length = (int32_t)(entry & 0xFF);
    if ((entry & 0x300) != kEntrySubtable && length <= reader->bitCount) {
        reader->bits >>= length;
        reader->bitCount -= length;
        if ((entry & 0x300) == kEntryLeaf) return (int)(entry >> 16);
        node = (int)(entry >> 16);
    }
    // The rest bit by bit: past the tables, or close to the end of the open
    // block, where the next block is opened only for a bit that lies in it.
    do {
        node = NextBit(reader) ? nodes[node].child1 : nodes[node].child0;
    } while (nodes[node].child0 != kNoChild);
    return nodes[node].symbol;
}
