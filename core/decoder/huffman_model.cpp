#include "core/decoder/huffman_model.h"

void ResetModel(HuffmanModel* model, ModelKind kind) {
    for (int s = 0; s < kModelSymbols; s++) {
        model->weights[s] = (kind == kDistanceModel && s < 64) ? 2 : 1;
        model->order[s] = s;
    }
}

void BuildCodeTree(HuffmanModel* model) {
    CodeNode* nodes = model->nodes;
    int16_t* list = model->buildList;

    // Leaves, laid out in the previous build's order.
    for (int s = 0; s < kModelSymbols; s++) {
        nodes[s].weight = model->weights[s];
        nodes[s].symbol = s;
        nodes[s].child0 = kNoChild;
        nodes[s].child1 = kNoChild;
        list[model->order[s]] = (int16_t)s;
    }

    // Stable sort into non-increasing weight: bubble passes from the back,
    // each starting just after the front-most swap of the pass before. The
    // list is nearly sorted already, so the passes are short.
    int front = 0;
    while (front < kModelSymbols - 1) {
        int firstSwap = -1;
        for (int j = kModelSymbols - 2; j >= front; j--) {
            if (nodes[list[j + 1]].weight > nodes[list[j]].weight) {
                int16_t t = list[j];
                list[j] = list[j + 1];
                list[j + 1] = t;
                firstSwap = j;
            }
        }
        if (firstSwap < 0) break;
        front = firstSwap + 1;
    }

    // The next build starts from this order (leaves only).
    for (int k = 0; k < kModelSymbols; k++) model->order[nodes[list[k]].symbol] = k;

    // Merge the two last (lightest) entries; the new node goes after every
    // entry of greater or equal weight.
    for (int k = kModelSymbols - 1; k >= 1; k--) {
        int16_t x = list[k - 1], y = list[k];
        int16_t inner = (int16_t)(kModelNodes - k);
        CodeNode& node = nodes[inner];
        node.weight = nodes[x].weight + nodes[y].weight;
        node.symbol = 0;
        node.child0 = x;
        node.child1 = y;
        int place = k - 1;
        while (place > 0 && nodes[list[place - 1]].weight < node.weight) {
            list[place] = list[place - 1];
            place--;
        }
        list[place] = inner;
    }
}

int DecodeSymbol(HuffmanModel* model, BitReader* reader) {
    const CodeNode* nodes = model->nodes;
    int node = kModelRoot;
    do {
        node = NextBit(reader) ? nodes[node].child1 : nodes[node].child0;
    } while (nodes[node].child0 != kNoChild);
    int symbol = nodes[node].symbol;
    model->weights[symbol]++;
    return symbol;
}
