#include "packer/lz77_encoder.h"

#include <string.h>

#include <limits.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/decoder/huffman_model.h"
#include "core/decoder/output_window.h"
#include "packer/model_encoder.h"

namespace {

const int kMaxHashBits = 16;
const int kMinHashBits = 10;
const int kMaxChainSize = 32768;  // a power of two above the longest distance
const int kLongMatchBase = 257;   // first length of symbol 511
const int kLongMatchBits = 12;
const int kLongMatchSymbol = 511;
const int kShortMatchBias = 254;  // symbol = length + 254 for lengths 2..256
const int kDistanceExtraBits = 5;
const int kMinMatch = 2;

struct Match {
    int32_t length = 0;    // 0: none
    int32_t distance = 0;
};

// The state of one body: the joined preload and data, the hash chains and
// the two models with their counts.
class BodyEncoder {
public:
    BodyEncoder(BitWriter& writer, const uint8_t* preload, int32_t preloadLength, const uint8_t* data,
                int64_t size, const EncoderOptions& options)
        : writer_(writer), options_(options) {
        start_ = preloadLength;
        end_ = preloadLength + size;
        // Eight spare zero bytes let the match comparison load whole words.
        buffer_.resize(static_cast<size_t>(end_) + 8, 0);
        if (preloadLength > 0) memcpy(buffer_.data(), preload, static_cast<size_t>(preloadLength));
        if (size > 0) memcpy(buffer_.data() + preloadLength, data, static_cast<size_t>(size));
        // Tables in proportion to the buffer: a small file (and a trial of
        // a reference) does not pay for clearing large ones. The chain is
        // indexed by position modulo its size, which must exceed both the
        // buffer or the longest distance.
        hashBits_ = kMinHashBits;
        while (hashBits_ < kMaxHashBits && (int64_t{1} << hashBits_) < end_) ++hashBits_;
        chainMask_ = static_cast<int64_t>(std::min<int64_t>(int64_t{1} << hashBits_, kMaxChainSize)) - 1;
        if (chainMask_ + 1 < std::min<int64_t>(end_, kMaxChainSize)) chainMask_ = kMaxChainSize - 1;
        head3_.assign(size_t{1} << hashBits_, -1);
        head2_.assign(size_t{1} << hashBits_, -1);
        prev_.assign(static_cast<size_t>(chainMask_) + 1, -1);
        if (options_.optimal) nearest3_.assign(size_t{1} << hashBits_, -1);
    }

    EntryBodyStats Run();

private:
    uint32_t Hash3(int64_t p) const {
        const uint8_t* b = buffer_.data() + p;
        uint32_t v = b[0] | (b[1] << 8) | (b[2] << 16);
        return (v * 2654435761u) >> (32 - hashBits_);
    }
    uint32_t Hash4(int64_t p) const {
        uint32_t v;
        memcpy(&v, buffer_.data() + p, 4);
        return (v * 2654435761u) >> (32 - hashBits_);
    }
    // Pairs share a table of the same size; a candidate is always checked
    // byte by byte, so a collision costs a comparison, nothing more.
    uint32_t Pair(int64_t p) const {
        uint32_t v = buffer_[p] | (buffer_[p + 1] << 8);
        return hashBits_ >= 16 ? v : (v * 2654435761u) >> (32 - hashBits_);
    }

    // Enters every position below `limit` that is not in the chains yet.
    void InsertUpTo(int64_t limit) {
        if (options_.optimal) {
            // The cost-based parse looks at every position: its chains link
            // four-byte hashes, which in binary data are far fewer false
            // candidates, and the nearest three-byte and two-byte matches
            // are kept on the side.
            for (; inserted_ < limit; ++inserted_) {
                int64_t p = inserted_;
                if (p + 4 <= end_) {
                    uint32_t h = Hash4(p);
                    prev_[p & chainMask_] = head3_[h];
                    head3_[h] = p;
                }
                if (p + 3 <= end_) nearest3_[Hash3(p)] = p;
                if (p + 2 <= end_) head2_[Pair(p)] = p;
            }
            return;
        }
        for (; inserted_ < limit; ++inserted_) {
            int64_t p = inserted_;
            if (p + 3 <= end_) {
                uint32_t h = Hash3(p);
                prev_[p & chainMask_] = head3_[h];
                head3_[h] = p;
            }
            if (p + 2 <= end_) head2_[Pair(p)] = p;
        }
    }

    int32_t MatchLength(int64_t candidate, int64_t p, int32_t maxLength) const {
        const uint8_t* a = buffer_.data() + candidate;
        const uint8_t* b = buffer_.data() + p;
        int32_t n = 0;
        while (n + 8 <= maxLength) {
            uint64_t x, y;
            memcpy(&x, a + n, 8);
            memcpy(&y, b + n, 8);
            if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
            n += 8;
        }
        while (n < maxLength && a[n] == b[n]) ++n;
        return n;
    }

    int64_t LiteralBits(int64_t p, int32_t length) const {
        int64_t bits = 0;
        for (int32_t i = 0; i < length; ++i) bits += CodeLength(*literalLength_, buffer_[p + i]);
        return bits;
    }
    int64_t MatchBits(const Match& m) const {
        int64_t bits = m.length <= 256 ? CodeLength(*literalLength_, m.length + kShortMatchBias)
                                       : CodeLength(*literalLength_, kLongMatchSymbol) + kLongMatchBits;
        return bits + CodeLength(*distance_, (m.distance - 1) >> kDistanceExtraBits) + kDistanceExtraBits;
    }
    // A short match pays only when its code words are cheaper than the
    // literals it replaces, judged with the trees in force now.
    bool Worthwhile(int64_t p, const Match& m) const {
        if (m.length == 0) return false;
        if (m.length > 4) return true;
        return MatchBits(m) < LiteralBits(p, m.length);
    }

    Match FindMatch(int64_t p, int chainLimit) const;

    // Every match at p that is longer than all nearer ones, shortest
    // (and nearest) first, none longer than maxLength. Returns the count.
    int FindMatches(int64_t p, int32_t maxLength, Match* out) const;
    void RunOptimal();
    void ParseBlock(int64_t from, int64_t to);

    void EmitLiteral(uint8_t b);
    void EmitMatch(const Match& m, int64_t p);
    void LiteralLengthSymbolDone() {
        ++symbols_;
        if (LiteralLengthBuildDue(symbols_)) BuildModelEncoder(literalLength_.get());
    }

    BitWriter& writer_;
    EncoderOptions options_;
    std::vector<uint8_t> buffer_;
    int64_t start_ = 0;
    int64_t end_ = 0;
    int64_t inserted_ = 0;
    int hashBits_ = kMaxHashBits;
    int64_t chainMask_ = kMaxChainSize - 1;
    std::vector<int64_t> head3_;  // newest position of each 3-byte hash
    std::vector<int64_t> head2_;  // newest position of each 2-byte pair
    std::vector<int64_t> prev_;   // older position with the same 3-byte hash (4-byte when optimal)
    std::vector<int64_t> nearest3_;  // optimal parse: newest position of each 3-byte hash
    std::unique_ptr<ModelEncoder> literalLength_ = std::make_unique<ModelEncoder>();
    std::unique_ptr<ModelEncoder> distance_ = std::make_unique<ModelEncoder>();
    int64_t symbols_ = 0;  // literal/length symbols written
    // Working arrays of the cost-based parse, one entry per position of a
    // block and one beyond.
    std::vector<int32_t> cost_;
    std::vector<int32_t> stepLength_;    // 1: a literal reaches here; else the match's length
    std::vector<int32_t> stepDistance_;
    std::vector<Match> matches_buffer_;
    std::vector<Match> pathBuffer_;
    int64_t matches_ = 0;  // matches written
    EntryBodyStats stats_;
};

Match BodyEncoder::FindMatch(int64_t p, int chainLimit) const {
    Match best;
    int64_t remaining = end_ - p;
    int32_t maxLength = static_cast<int32_t>(std::min<int64_t>(kMaxMatchLength, remaining));
    if (maxLength < kMinMatch) return best;
    int64_t oldest = std::max<int64_t>(0, p - kMaxDistance);

    if (maxLength >= 3) {
        int32_t bestLength = 2;
        int64_t candidate = head3_[Hash3(p)];
        int chain = chainLimit;
        while (candidate >= oldest && candidate < p && chain-- > 0) {
            if (buffer_[candidate + bestLength] == buffer_[p + bestLength] &&
                buffer_[candidate] == buffer_[p] && buffer_[candidate + 1] == buffer_[p + 1]) {
                int32_t length = MatchLength(candidate, p, maxLength);
                if (length > bestLength) {
                    bestLength = length;
                    best.length = length;
                    best.distance = static_cast<int32_t>(p - candidate);
                    if (length >= options_.niceLength || length == maxLength) break;
                }
            }
            int64_t older = prev_[candidate & chainMask_];
            if (older >= candidate) break;
            candidate = older;
        }
    }
    if (best.length >= 3 && Worthwhile(p, best)) return best;

    // A nearby pair may still pay where a three-byte match does not.
    Match pair;
    int64_t candidate = head2_[Pair(p)];
    if (candidate >= oldest && candidate < p) {
        pair.length = MatchLength(candidate, p, maxLength);
        pair.distance = static_cast<int32_t>(p - candidate);
        if (pair.length >= kMinMatch && Worthwhile(p, pair)) return pair;
    }
    return Match();
}

void BodyEncoder::EmitLiteral(uint8_t b) {
    EncodeSymbol(literalLength_.get(), writer_, b);
    ++stats_.literals;
    LiteralLengthSymbolDone();
}

void BodyEncoder::EmitMatch(const Match& m, int64_t p) {
    if (m.length <= 256) {
        EncodeSymbol(literalLength_.get(), writer_, m.length + kShortMatchBias);
        ++stats_.shortMatches;
    } else {
        EncodeSymbol(literalLength_.get(), writer_, kLongMatchSymbol);
        writer_.WriteBitsLsbFirst(static_cast<uint64_t>(m.length - kLongMatchBase), kLongMatchBits);
        ++stats_.longMatches;
    }
    int32_t d = m.distance - 1;
    EncodeSymbol(distance_.get(), writer_, d >> kDistanceExtraBits);
    writer_.WriteBitsLsbFirst(static_cast<uint64_t>(d & 31), kDistanceExtraBits);
    if (p - m.distance < start_) ++stats_.preloadMatches;
    LiteralLengthSymbolDone();
    ++matches_;
    if (DistanceBuildDue(matches_)) BuildModelEncoder(distance_.get());
}

int BodyEncoder::FindMatches(int64_t p, int32_t maxLength, Match* out) const {
    int count = 0;
    if (maxLength < kMinMatch) return 0;
    int64_t oldest = std::max<int64_t>(0, p - kMaxDistance);
    int32_t bestLength = 1;
    // The nearest pair first: a two-byte match only pays when it is close.
    int64_t candidate = head2_[Pair(p)];
    if (candidate >= oldest && candidate < p) {
        int32_t length = MatchLength(candidate, p, maxLength);
        if (length >= kMinMatch) {
            out[count++] = Match{length, static_cast<int32_t>(p - candidate)};
            bestLength = length;
            if (length == maxLength) return count;
        }
    }
    if (maxLength < 3) return count;
    candidate = nearest3_[Hash3(p)];
    if (candidate >= oldest && candidate < p) {
        int32_t length = MatchLength(candidate, p, maxLength);
        if (length > bestLength) {
            out[count++] = Match{length, static_cast<int32_t>(p - candidate)};
            bestLength = length;
            if (length >= options_.niceLength || length == maxLength) return count;
        }
    }
    if (maxLength < 4) return count;
    candidate = head3_[Hash4(p)];
    int chain = options_.maxChain;
    while (candidate >= oldest && candidate < p && chain-- > 0) {
        if (buffer_[candidate + bestLength] == buffer_[p + bestLength] && buffer_[candidate] == buffer_[p]) {
            int32_t length = MatchLength(candidate, p, maxLength);
            if (length > bestLength) {
                bestLength = length;
                out[count++] = Match{length, static_cast<int32_t>(p - candidate)};
                if (length >= options_.niceLength || length == maxLength) break;
            }
        }
        int64_t older = prev_[candidate & chainMask_];
        if (older >= candidate) break;
        candidate = older;
    }
    return count;
}

// The cheapest sequence of items for buffer_[from .. to), priced with the
// code lengths of the trees in force at `from`: a shortest path through
// the positions, a literal leading from i to i + 1 and a match of length l
// from i to i + l. Matches are cut at `to`, so the path ends there.
void BodyEncoder::ParseBlock(int64_t from, int64_t to) {
    const int32_t n = static_cast<int32_t>(to - from);
    const int32_t kUnreached = INT32_MAX;
    int32_t literalCost[256];
    for (int b = 0; b < 256; ++b) literalCost[b] = CodeLength(*literalLength_, b);
    int32_t lengthCost[257];
    for (int l = kMinMatch; l <= 256; ++l) lengthCost[l] = CodeLength(*literalLength_, l + kShortMatchBias);
    const int32_t longLengthCost = CodeLength(*literalLength_, kLongMatchSymbol) + kLongMatchBits;
    int32_t distanceCost[kModelSymbols];
    for (int d = 0; d < kModelSymbols; ++d) distanceCost[d] = CodeLength(*distance_, d) + kDistanceExtraBits;

    cost_.assign(static_cast<size_t>(n) + 1, kUnreached);
    stepLength_.assign(static_cast<size_t>(n) + 1, 0);
    stepDistance_.assign(static_cast<size_t>(n) + 1, 0);
    if (matches_buffer_.size() < 4400) matches_buffer_.resize(4400);
    Match* found = matches_buffer_.data();
    cost_[0] = 0;

    for (int32_t k = 0; k < n; ++k) {
        const int64_t i = from + k;
        InsertUpTo(i);
        const int32_t here = cost_[k];
        if (here == kUnreached) continue;
        int32_t c = here + literalCost[buffer_[i]];
        if (c < cost_[k + 1]) {
            cost_[k + 1] = c;
            stepLength_[k + 1] = 1;
        }
        int32_t maxLength = static_cast<int32_t>(std::min<int64_t>(kMaxMatchLength, to - i));
        int count = FindMatches(i, maxLength, found);
        if (count == 0) continue;
        const Match& longest = found[count - 1];
        if (longest.length >= options_.niceLength) {
            // Long enough to take as it is: the positions it covers are not
            // parsed on their own.
            int32_t lc = longest.length <= 256 ? lengthCost[longest.length] : longLengthCost;
            int32_t m = here + lc + distanceCost[(longest.distance - 1) >> kDistanceExtraBits];
            int32_t e = k + longest.length;
            if (m < cost_[e]) {
                cost_[e] = m;
                stepLength_[e] = longest.length;
                stepDistance_[e] = longest.distance;
            }
            for (int32_t j = k + 1; j < e; ++j) cost_[j] = kUnreached;
            InsertUpTo(i + longest.length);
            k = e - 1;
            continue;
        }
        int32_t length = kMinMatch;
        for (int j = 0; j < count; ++j) {
            const Match& mj = found[j];
            const int32_t base = here + distanceCost[(mj.distance - 1) >> kDistanceExtraBits];
            for (; length <= mj.length; ++length) {
                int32_t m = base + (length <= 256 ? lengthCost[length] : longLengthCost);
                if (m < cost_[k + length]) {
                    cost_[k + length] = m;
                    stepLength_[k + length] = length;
                    stepDistance_[k + length] = mj.distance;
                }
            }
        }
    }

    // Walk back from the end, then write the items in order.
    std::vector<Match>& path = pathBuffer_;
    path.clear();
    for (int32_t k = n; k > 0;) {
        int32_t l = stepLength_[k];
        path.push_back(Match{l, stepDistance_[k]});
        k -= l;
    }
    int64_t p = from;
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        if (it->length == 1) {
            EmitLiteral(buffer_[p]);
        } else {
            EmitMatch(*it, p);
        }
        p += it->length;
    }
    InsertUpTo(to);
}

void BodyEncoder::RunOptimal() {
    ResetModelEncoder(literalLength_.get(), kLiteralLengthModel);
    ResetModelEncoder(distance_.get(), kDistanceModel);
    BuildModelEncoder(distance_.get());
    BuildModelEncoder(literalLength_.get());
    InsertUpTo(start_);
    const int64_t block = std::max(256, options_.optimalBlock);
    for (int64_t p = start_; p < end_;) {
        int64_t to = std::min(end_, p + block);
        ParseBlock(p, to);
        p = to;
    }
}

EntryBodyStats BodyEncoder::Run() {
    if (end_ == start_) return stats_;
    if (options_.optimal) {
        RunOptimal();
        return stats_;
    }
    // The decoder resets both models, builds the distance tree, and builds
    // the literal/length tree before symbol 0. Later literal/length builds
    // happen right after the symbol that makes them due: nothing changes the
    // weights in between, and the trees are then in force for the choices.
    ResetModelEncoder(literalLength_.get(), kLiteralLengthModel);
    ResetModelEncoder(distance_.get(), kDistanceModel);
    BuildModelEncoder(distance_.get());
    BuildModelEncoder(literalLength_.get());

    InsertUpTo(start_);
    int fullChain = std::max(1, options_.maxChain);
    int64_t p = start_;
    while (p < end_) {
        Match current = FindMatch(p, fullChain);
        if (current.length == 0) {
            InsertUpTo(p + 1);
            EmitLiteral(buffer_[p]);
            ++p;
            continue;
        }
        if (options_.lazy) {
            while (current.length < options_.maxLazyLength && p + 1 < end_) {
                InsertUpTo(p + 1);
                int chain = current.length >= options_.goodLength ? std::max(1, fullChain / 4) : fullChain;
                Match next = FindMatch(p + 1, chain);
                if (next.length <= current.length) break;
                EmitLiteral(buffer_[p]);
                ++p;
                current = next;
            }
        }
        EmitMatch(current, p);
        p += current.length;
        InsertUpTo(p);
    }
    return stats_;
}

}  // namespace

EncoderOptions EncoderOptionsForLevel(int level) {
    level = std::clamp(level, 1, 9);
    // 1-3 greedy, 4-6 lazy, 7-9 the cost-based parse; from 4 on, each
    // file's back-reference is chosen by pricing the candidates' preloads.
    struct Row {
        int maxChain;
        bool lazy;
        bool optimal;
        int maxLazyLength;
        int goodLength;
        int niceLength;
        int referenceTrials;
    };
    static const Row kRows[9] = {
        {4, false, false, 0, 4, 16, 0},       {8, false, false, 0, 8, 32, 0},
        {16, false, false, 0, 16, 64, 0},     {16, true, false, 16, 8, 64, 1},
        {32, true, false, 32, 16, 128, 2},    {64, true, false, 64, 32, 256, 4},
        {32, false, true, 0, 0, 64, 4},       {64, false, true, 0, 0, 128, 6},
        {256, false, true, 0, 0, 256, 16},
    };
    const Row& row = kRows[level - 1];
    EncoderOptions options;
    options.maxChain = row.maxChain;
    options.lazy = row.lazy;
    options.optimal = row.optimal;
    options.maxLazyLength = row.maxLazyLength;
    options.goodLength = row.goodLength;
    options.niceLength = row.niceLength;
    options.referenceTrials = row.referenceTrials;
    options.trialBytes = level == 9 ? 16384 : 8192;
    options.takePrefixAt = level == 9 ? 8192 : 4096;
    return options;
}

EntryBodyStats EncodeEntryBody(BitWriter& writer, const uint8_t* preload, int32_t preloadLength,
                               const uint8_t* data, int64_t size, const EncoderOptions& options) {
    if (preloadLength < 0 || preloadLength > kMaxPreload) {
        throw std::invalid_argument("EncodeEntryBody: preload length out of range");
    }
    if (size < 0) throw std::invalid_argument("EncodeEntryBody: negative size");
    if (size == 0) return EntryBodyStats();
    BodyEncoder encoder(writer, preload, preloadLength, data, size, options);
    return encoder.Run();
}
