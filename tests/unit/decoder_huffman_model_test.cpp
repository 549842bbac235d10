// The adaptive Huffman model: tree shape, tie-breaks, rebuild schedule.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "core/decoder/huffman_model.h"

// Code of every symbol, as the bits a decoder reads ("0101..."), found by
// walking the tree from the root.
static std::map<int, std::string> Codes(const HuffmanModel& model) {
    std::map<int, std::string> codes;
    struct Walk {
        const HuffmanModel& m;
        std::map<int, std::string>& out;
        void operator()(int node, const std::string& path) {
            const CodeNode& n = m.nodes[node];
            if (n.child0 == kNoChild) {
                out[n.symbol] = path;
                return;
            }
            (*this)(n.child0, path + "0");
            (*this)(n.child1, path + "1");
        }
    };
    Walk{model, codes}(kModelRoot, "");
    return codes;
}

TEST(HuffmanModel, CodesRightAfterAReset) {
    auto model = std::make_unique<HuffmanModel>();
    ResetModel(model.get(), kLiteralLengthModel);
    BuildCodeTree(model.get());
    auto ll = Codes(*model);
    ASSERT_EQ(ll.size(), 512u);
    for (auto& [symbol, code] : ll) ASSERT_EQ(code.size(), 9u) << symbol;
    struct Case { int symbol; const char* code; };
    for (Case c : {Case{0, "010101010"}, {1, "010101011"}, {2, "010101000"}, {255, "001010101"},
                   {256, "110101010"}, {510, "101010100"}, {511, "101010101"}})
        EXPECT_EQ(ll[c.symbol], c.code) << "literal/length " << c.symbol;

    ResetModel(model.get(), kDistanceModel);
    BuildCodeTree(model.get());
    auto d = Codes(*model);
    for (auto& [symbol, code] : d) {
        size_t expected = symbol < 64 ? 8 : (symbol >= 128 && symbol < 256) ? 10 : 9;
        ASSERT_EQ(code.size(), expected) << symbol;
    }
    for (Case c : {Case{0, "01101010"}, {63, "01010101"}, {64, "001101010"}, {128, "0000101010"},
                   {255, "0001010101"}, {511, "101010101"}})
        EXPECT_EQ(d[c.symbol], c.code) << "distance " << c.symbol;
}

TEST(HuffmanModel, HeavySymbolGetsOneBit) {
    auto model = std::make_unique<HuffmanModel>();
    ResetModel(model.get(), kLiteralLengthModel);
    model->weights[65] = 257;
    BuildCodeTree(model.get());
    EXPECT_EQ(Codes(*model)[65], "1");
    EXPECT_EQ(model->nodes[model->nodes[kModelRoot].child0].weight, 511);
}

TEST(HuffmanModel, TiesFollowThePreviousBuild) {
    auto model = std::make_unique<HuffmanModel>();
    ResetModel(model.get(), kLiteralLengthModel);
    model->weights[10] = 6;
    model->weights[300] = 6;
    BuildCodeTree(model.get());
    auto fromIdentity = Codes(*model);
    EXPECT_EQ(fromIdentity[10], "0000001");
    EXPECT_EQ(fromIdentity[300], "0000010");

    // A build in which 300 alone weighed 6 puts it first; the tie then
    // keeps that order.
    ResetModel(model.get(), kLiteralLengthModel);
    model->weights[300] = 6;
    BuildCodeTree(model.get());
    model->weights[10] = 6;
    BuildCodeTree(model.get());
    auto afterPrevious = Codes(*model);
    EXPECT_EQ(afterPrevious[300], "0000001");
    EXPECT_EQ(afterPrevious[10], "0000010");
}

TEST(HuffmanModel, RebuildSchedule) {
    struct Case { int64_t count; bool literalBuild; bool distanceBuild; };
    for (Case c : {Case{0, true, true}, {256, true, true}, {1792, true, false}, {2048, true, true},
                   {2304, false, false}, {3072, true, true}, {64, false, true}, {960, false, true},
                   {1024, true, true}, {1088, false, false}, {1536, true, true}, {2560, false, true},
                   {1, false, false}})
    {
        EXPECT_EQ(LiteralLengthBuildDue(c.count), c.literalBuild) << c.count;
        EXPECT_EQ(DistanceBuildDue(c.count), c.distanceBuild) << c.count;
    }
}
