#include "core/decoder/huffman_model.h"

void ResetModel(HuffmanModel* model, ModelKind kind) {
    for (int s = 0; s < kModelSymbols; s++) {
        model->weights[s] = (kind == kDistanceModel && s < 64) ? 2 : 1;
        model->order[s] = s;
        // The leaves keep their symbol and their lack of children; builds
        // only set their weights.
        model->nodes[s].symbol = s;
        model->nodes[s].child0 = kNoChild;
        model->nodes[s].child1 = kNoChild;
    }
}

// The format's build, step by step: bubble passes from the back, then
// merges that insert each new node by walking toward the front. Used only
// for weights outside the range of the fast build (below 1, or summing to
// 2^52 or more), which decoding never produces.
static void BuildCodeTreePlainly(HuffmanModel* model) {
    CodeNode* nodes = model->nodes;
    int16_t* list = model->buildList;
    for (int s = 0; s < kModelSymbols; s++) list[model->order[s]] = (int16_t)s;
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
    for (int k = 0; k < kModelSymbols; k++) model->order[list[k]] = k;
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

// The fast build packs an entry of the merge list into one key: the weight
// above kKeyShift bits, below them 0x400 | symbol for a leaf and node - 512
// for an inner node. Comparing keys compares weights, and of equal weights
// puts the inner node first.
static const int kKeyShift = 11;
static const uint64_t kLeafTag = 0x400;
static const uint64_t kNoEntry = ~(uint64_t)0;  // weighs more than any entry

static inline int16_t NodeOfKey(uint64_t key) {
    return (int16_t)((key & 0x1FF) | ((~key & kLeafTag) >> 1));
}

// Stable merge of the runs [from, middle) and [middle, to), heavier first,
// the left run winning ties.
static void MergeRuns(const uint64_t* keys, int from, int middle, int to, uint64_t* out) {
    int a = from, b = middle, k = from;
    while (a < middle && b < to) out[k++] = (keys[b] >> kKeyShift) > (keys[a] >> kKeyShift) ? keys[b++] : keys[a++];
    while (a < middle) out[k++] = keys[a++];
    while (b < to) out[k++] = keys[b++];
}

// Sorts the leaf keys into non-increasing weight, keeping the order of
// equal weights (any stable sort gives the list of the format's bubble
// sort). Started from the previous build's order the list is nearly
// sorted, and insertion costs one step per displaced place; when an unusual
// history displaces many, a merge sort finishes the job in n log n. The
// partly sorted list still has its equal weights in their first order, so
// the merge sort's result is the same.
static void SortLeaves(uint64_t* keys) {
    const int kInsertionBudget = 4 * kModelSymbols;
    int moves = 0;
    for (int i = 1; i < kModelSymbols; i++) {
        uint64_t key = keys[i];
        uint64_t weight = key >> kKeyShift;
        if (weight <= keys[i - 1] >> kKeyShift) continue;
        int j = i;
        do {
            keys[j] = keys[j - 1];
            j--;
        } while (j > 0 && keys[j - 1] >> kKeyShift < weight);
        keys[j] = key;
        moves += i - j;
        if (moves > kInsertionBudget) break;
    }
    if (moves <= kInsertionBudget) return;

    uint64_t other[kModelSymbols];
    uint64_t* from = keys;
    uint64_t* to = other;
    for (int width = 1; width < kModelSymbols; width *= 2) {
        for (int start = 0; start < kModelSymbols; start += 2 * width) {
            int middle = start + width < kModelSymbols ? start + width : kModelSymbols;
            int stop = start + 2 * width < kModelSymbols ? start + 2 * width : kModelSymbols;
            MergeRuns(from, start, middle, stop, to);
        }
        uint64_t* t = from;
        from = to;
        to = t;
    }
    if (from != keys)
        for (int k = 0; k < kModelSymbols; k++) keys[k] = from[k];
}

// Puts inner keys [from, to), a group of equal weight, into taking order:
// newest first.
static void ReverseKeys(uint64_t* keys, int from, int to) {
    for (int a = from, b = to - 1; a < b; a++, b--) {
        uint64_t key = keys[a];
        keys[a] = keys[b];
        keys[b] = key;
    }
}

void BuildCodeTree(HuffmanModel* model) {
    CodeNode* nodes = model->nodes;
    // The leaves in the previous build's order at 2..513; entries 0 and 1
    // stand for "no leaf left".
    uint64_t leafKeys[kModelSymbols + 2];
    leafKeys[0] = leafKeys[1] = kNoEntry;
    // Keys hold weights below 2^52, and so does the root if the total is.
    const int64_t kKeyWeights = (int64_t)1 << 52;
    uint64_t total = 0;
    bool inRange = true;
    for (int s = 0; s < kModelSymbols; s++) {
        int64_t weight = model->weights[s];
        nodes[s].weight = weight;
        inRange &= weight >= 1 && weight < kKeyWeights;
        total += (uint64_t)weight & (uint64_t)(kKeyWeights - 1);
        leafKeys[model->order[s] + 2] = (uint64_t)weight << kKeyShift | kLeafTag | (uint64_t)s;
    }
    if (!inRange || total >= (uint64_t)kKeyWeights) {
        BuildCodeTreePlainly(model);
        return;
    }
    SortLeaves(leafKeys + 2);

    // The next build starts from this order (leaves only).
    for (int k = 0; k < kModelSymbols; k++) model->order[leafKeys[k + 2] & 0x1FF] = k;

    // The merge rule takes the two last (lightest) entries of the list and
    // puts the new node after every entry of greater or equal weight. Every
    // new node weighs at least as much as the one before, so the list is
    // the sorted leaves interleaved with the inner nodes in the order they
    // were made, and its last entry is the lighter of two queues' heads:
    //   - the leaves, taken from the back of the sorted list;
    //   - the inner nodes, oldest first, except that among inner nodes of
    //     equal weight the newest stands last and goes first. A tie
    //     between a leaf and an inner node goes to the inner node, which
    //     was inserted behind the leaf (the keys compare so).
    // With weights of at least 1 no node joins a group of equal weight once
    // one of the group has been taken: each is the sum of two weights no
    // smaller than that taken one. So inner nodes [head, group) are kept in
    // taking order, and the newest weight's nodes [group, tail) oldest
    // first until a heavier node follows them or one of them is taken, when
    // they are turned round once.
    uint64_t innerKeys[kModelSymbols + 2];
    innerKeys[0] = innerKeys[1] = kNoEntry;
    int head = 0, group = 0, tail = 0;
    int leafCount = kModelSymbols + 1;  // index of the lightest leaf left
    for (int k = kModelSymbols - 1; k >= 1; k--) {
        // Both entries of a merge are chosen at once from the two lightest
        // of each queue. The choices depend on the data, so they are made
        // with masks rather than branches.
        uint64_t leaf0 = leafKeys[leafCount], leaf1 = leafKeys[leafCount - 1];
        uint64_t inner0 = innerKeys[head];
        int lastInner = inner0 < leaf0;  // Y
        uint64_t leafNext = lastInner ? leaf0 : leaf1;
        int beforeInner = innerKeys[head + lastInner] < leafNext;  // X
        int innerTaken = lastInner + beforeInner;
        if (head + innerTaken > group && group < tail) {
            ReverseKeys(innerKeys, group, tail);
            group = tail;
            inner0 = innerKeys[head];
        }
        uint64_t lastMask = 0 - (uint64_t)lastInner;
        uint64_t beforeMask = 0 - (uint64_t)beforeInner;
        uint64_t last = (inner0 & lastMask) | (leaf0 & ~lastMask);
        uint64_t before = (innerKeys[head + lastInner] & beforeMask) | (leafNext & ~beforeMask);
        head += innerTaken;
        leafCount -= 2 - innerTaken;

        int16_t created = (int16_t)(kModelNodes - k);
        int64_t weight = (int64_t)(last >> kKeyShift) + (int64_t)(before >> kKeyShift);
        CodeNode& node = nodes[created];
        node.weight = weight;
        node.symbol = 0;
        node.child0 = NodeOfKey(before);
        node.child1 = NodeOfKey(last);
        if ((innerKeys[group] >> kKeyShift) != (uint64_t)weight) {
            ReverseKeys(innerKeys, group, tail);
            group = tail;
        }
        innerKeys[tail++] = (uint64_t)weight << kKeyShift | (uint64_t)(created - kModelSymbols);
        innerKeys[tail] = innerKeys[tail + 1] = kNoEntry;
    }
    model->buildList[0] = kModelRoot;
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
