#include "packer/lz77_encoder.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/decoder/huffman_model.h"
#include "core/decoder/output_window.h"
#include "packer/model_encoder.h"

namespace {

const int kHashBits = 16;
const int kHashSize = 1 << kHashBits;
const int kChainSize = 32768;  // a power of two above the longest distance
const int kChainMask = kChainSize - 1;
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
        head3_.assign(kHashSize, -1);
        head2_.assign(65536, -1);
        prev_.assign(kChainSize, -1);
    }

    EntryBodyStats Run();

private:
    uint32_t Hash3(int64_t p) const {
        const uint8_t* b = buffer_.data() + p;
        uint32_t v = b[0] | (b[1] << 8) | (b[2] << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    uint32_t Pair(int64_t p) const { return buffer_[p] | (buffer_[p + 1] << 8); }

    // Enters every position below `limit` that is not in the chains yet.
    void InsertUpTo(int64_t limit) {
        for (; inserted_ < limit; ++inserted_) {
            int64_t p = inserted_;
            if (p + 3 <= end_) {
                uint32_t h = Hash3(p);
                prev_[p & kChainMask] = head3_[h];
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
    std::vector<int64_t> head3_;  // newest position of each 3-byte hash
    std::vector<int64_t> head2_;  // newest position of each 2-byte pair
    std::vector<int64_t> prev_;   // older position with the same 3-byte hash
    std::unique_ptr<ModelEncoder> literalLength_ = std::make_unique<ModelEncoder>();
    std::unique_ptr<ModelEncoder> distance_ = std::make_unique<ModelEncoder>();
    int64_t symbols_ = 0;  // literal/length symbols written
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
            int64_t older = prev_[candidate & kChainMask];
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

EntryBodyStats BodyEncoder::Run() {
    if (end_ == start_) return stats_;
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
    struct Row {
        int maxChain;
        bool lazy;
        int maxLazyLength;
        int goodLength;
        int niceLength;
    };
    static const Row kRows[9] = {
        {4, false, 0, 4, 16},     {8, false, 0, 8, 32},     {16, false, 0, 16, 64},
        {16, true, 16, 8, 64},    {32, true, 32, 16, 128},  {64, true, 64, 32, 256},
        {128, true, 128, 64, 512}, {512, true, 512, 128, 1024}, {2048, true, 4352, 512, 4352},
    };
    const Row& row = kRows[level - 1];
    EncoderOptions options;
    options.maxChain = row.maxChain;
    options.lazy = row.lazy;
    options.maxLazyLength = row.maxLazyLength;
    options.goodLength = row.goodLength;
    options.niceLength = row.niceLength;
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
