// ModelEncoder: the writing side of an adaptive Huffman model.
//
// It holds the extractor's own HuffmanModel, built by the core's
// BuildCodeTree at the same points as the decoder builds it, and a code
// table read off that tree. Encoding a symbol writes its code word and
// counts the symbol exactly as DecodeSymbol does, so both sides stay in step.
#pragma once

#include <stdint.h>

#include <vector>

#include "core/decoder/huffman_model.h"
#include "packer/bit_writer.h"

struct SymbolCode {
    uint64_t bits;    // the code word, its first bit in bit 0 (codes of up to 57 bits)
    int32_t length;   // bits in the code word; at least 1 once a tree is built
};

struct ModelEncoder {
    HuffmanModel model;
    SymbolCode codes[kModelSymbols];
    // Code words longer than fit into SymbolCode::bits, one bit per byte in
    // writing order. Such trees need weights far beyond any real entry, but
    // the format allows them.
    std::vector<std::vector<uint8_t>> longCodes;
};

// Weights to their initial values and the order to the identity; no tree.
void ResetModelEncoder(ModelEncoder* encoder, ModelKind kind);

// BuildCodeTree on the model, then the code table read off the new tree.
void BuildModelEncoder(ModelEncoder* encoder);

// Writes the symbol's code word and adds 1 to its weight.
void EncodeSymbol(ModelEncoder* encoder, BitWriter& writer, int symbol);

// Length in bits of the symbol's current code word.
inline int32_t CodeLength(const ModelEncoder& encoder, int symbol) {
    return encoder.codes[symbol].length;
}
