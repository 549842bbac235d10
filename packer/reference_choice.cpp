#include "packer/reference_choice.h"

#include <string.h>

#include <algorithm>

#include "packer/bit_writer.h"

namespace {

int32_t SharedPrefix(const std::vector<uint8_t>& slot, const uint8_t* data, int64_t size) {
    int32_t limit = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(slot.size()), size));
    int32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t a, b;
        memcpy(&a, slot.data() + n, 8);
        memcpy(&b, data + n, 8);
        if (a != b) return n + (__builtin_ctzll(a ^ b) >> 3);
        n += 8;
    }
    while (n < limit && slot[n] == data[n]) ++n;
    return n;
}

int IntegerBits(uint64_t value) { return value == 0 ? 1 : 2 * (64 - __builtin_clzll(value)); }

struct Candidate {
    ReferenceChoice choice;
    int32_t shared = 0;
};

// Bits of the record's reference numbers and of the compressed bytes from
// the end of the prefix up to `end`.
int64_t TrialBits(const HistoryMirror& history, const Candidate& c, const uint8_t* data, int64_t end,
                  const EncoderOptions& options) {
    const std::vector<uint8_t>& slot = history.slots[ReferencedSlot(history, c.choice.backReference)];
    PreloadRange preload = PreloadFor(static_cast<int32_t>(slot.size()), c.choice.prefixLength);
    BitWriter scratch;
    int64_t bits = IntegerBits(c.choice.backReference);
    if (c.choice.backReference != 0) bits += IntegerBits(static_cast<uint64_t>(c.choice.prefixLength - 1));
    if (end > c.choice.prefixLength) {
        EncodeEntryBody(scratch, slot.data() + preload.start, preload.length, data + c.choice.prefixLength,
                        end - c.choice.prefixLength, options);
    }
    return bits + static_cast<int64_t>(scratch.BitCount());
}

}  // namespace

ReferenceChoice LongestPrefixReference(const HistoryMirror& history, const uint8_t* data, int64_t size) {
    ReferenceChoice best;
    int64_t entries = std::min<int64_t>(history.fileEntries, 255);
    for (int r = 1; r <= entries; ++r) {
        const std::vector<uint8_t>& slot = history.slots[ReferencedSlot(history, static_cast<uint64_t>(r))];
        int32_t shared = SharedPrefix(slot, data, size);
        if (shared > best.prefixLength) {
            best.prefixLength = shared;
            best.backReference = static_cast<uint64_t>(r);
        }
    }
    return best;
}

ReferenceChoice ChooseReference(const HistoryMirror& history, const uint8_t* data, int64_t size,
                                const EncoderOptions& options) {
    if (size <= 0) return ReferenceChoice();
    int64_t entries = std::min<int64_t>(history.fileEntries, 255);
    std::vector<Candidate> shared;
    for (int r = 1; r <= entries; ++r) {
        const std::vector<uint8_t>& slot = history.slots[ReferencedSlot(history, static_cast<uint64_t>(r))];
        int32_t n = SharedPrefix(slot, data, size);
        if (n > 0) shared.push_back({{static_cast<uint64_t>(r), n}, n});
    }
    // Longest first; among equals the nearer entry.
    std::stable_sort(shared.begin(), shared.end(),
                     [](const Candidate& a, const Candidate& b) { return a.shared > b.shared; });

    // A file that is mostly a copy of an earlier one's first bytes: nothing
    // to weigh.
    if (!shared.empty() && (shared[0].shared == size || shared[0].shared >= options.takePrefixAt)) {
        return shared[0].choice;
    }
    if (options.referenceTrials <= 0) {
        if (!shared.empty() && shared[0].shared >= options.minimumPrefix) return shared[0].choice;
        return ReferenceChoice();
    }

    std::vector<Candidate> candidates = {Candidate()};
    for (size_t i = 0; i < shared.size() && static_cast<int>(candidates.size()) <= options.referenceTrials; ++i) {
        candidates.push_back(shared[i]);
    }
    int32_t longest = shared.empty() ? 0 : shared[0].shared;
    int64_t end = std::min<int64_t>(size, longest + options.trialBytes);
    // Priced with the quick lazy parse: the order of the candidates is what
    // counts, not their exact sizes.
    EncoderOptions trial = options;
    trial.referenceTrials = 0;
    trial.optimal = false;
    trial.lazy = true;
    trial.maxChain = std::min(options.maxChain, 32);
    trial.niceLength = std::min(options.niceLength, 128);
    Candidate best;
    int64_t bestBits = -1;
    for (const Candidate& c : candidates) {
        int64_t bits = TrialBits(history, c, data, end, trial);
        if (bestBits < 0 || bits < bestBits) {
            bestBits = bits;
            best = c;
        }
    }
    return best.choice;
}
