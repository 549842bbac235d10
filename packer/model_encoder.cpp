#include "packer/model_encoder.h"

#include <stdexcept>

namespace {

const int kPackedCodeBits = 57;  // the most BitWriter::WriteBitsLsbFirst takes at once

// Walks the subtree under `index`; path[0 .. depth) are the bits taken from
// the root to it, child0 being bit 0 and the root's bit coming first.
void ReadCodes(ModelEncoder* encoder, int index, std::vector<uint8_t>& path) {
    const CodeNode& node = encoder->model.nodes[index];
    if (node.child0 == kNoChild) {
        int symbol = node.symbol;
        int depth = static_cast<int>(path.size());
        if (symbol < 0 || symbol >= kModelSymbols || depth == 0) {
            throw std::logic_error("malformed code tree");
        }
        SymbolCode& code = encoder->codes[symbol];
        code.length = depth;
        code.bits = 0;
        if (depth <= kPackedCodeBits) {
            for (int i = 0; i < depth; ++i) code.bits |= static_cast<uint64_t>(path[i]) << i;
        } else {
            code.bits = encoder->longCodes.size();
            encoder->longCodes.push_back(path);
        }
        return;
    }
    if (path.size() >= static_cast<size_t>(kModelSymbols)) throw std::logic_error("code tree too deep");
    path.push_back(0);
    ReadCodes(encoder, node.child0, path);
    path.back() = 1;
    ReadCodes(encoder, node.child1, path);
    path.pop_back();
}

}  // namespace

void ResetModelEncoder(ModelEncoder* encoder, ModelKind kind) {
    ResetModel(&encoder->model, kind);
    for (SymbolCode& code : encoder->codes) code = SymbolCode{0, 0};
    encoder->longCodes.clear();
}

void BuildModelEncoder(ModelEncoder* encoder) {
    BuildCodeTree(&encoder->model);
    encoder->longCodes.clear();
    // The usual tree: every code fits 57 bits, read off with a stack of
    // pending nodes and no copies of paths.
    struct Pending {
        int16_t node;
        int32_t depth;
        uint64_t bits;
    };
    Pending stack[kModelNodes + 1];
    int top = 0;
    stack[top++] = Pending{static_cast<int16_t>(kModelRoot), 0, 0};
    bool deep = false;
    while (top > 0 && !deep) {
        Pending p = stack[--top];
        const CodeNode& node = encoder->model.nodes[p.node];
        if (node.child0 == kNoChild) {
            if (node.symbol < 0 || node.symbol >= kModelSymbols || p.depth == 0) throw std::logic_error("malformed code tree");
            encoder->codes[node.symbol] = SymbolCode{p.bits, p.depth};
            continue;
        }
        if (p.depth >= kPackedCodeBits) {
            deep = true;
            break;
        }
        stack[top++] = Pending{node.child1, p.depth + 1, p.bits | uint64_t{1} << p.depth};
        stack[top++] = Pending{node.child0, p.depth + 1, p.bits};
    }
    if (deep) {
        std::vector<uint8_t> path;
        path.reserve(kModelSymbols);
        ReadCodes(encoder, kModelRoot, path);
    }
}

void EncodeSymbol(ModelEncoder* encoder, BitWriter& writer, int symbol) {
    const SymbolCode& code = encoder->codes[symbol];
    if (code.length <= kPackedCodeBits) {
        writer.WriteBitsLsbFirst(code.bits, code.length);
    } else {
        for (uint8_t bit : encoder->longCodes[code.bits]) writer.WriteBit(bit);
    }
    encoder->model.weights[symbol] += 1;
}
