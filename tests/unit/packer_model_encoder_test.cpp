// The packer's code tables, read off the trees the extractor's model builds.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "packer/bit_writer.h"
#include "packer/model_encoder.h"

namespace {

std::string CodeString(const ModelEncoder& encoder, int symbol) {
    const SymbolCode& code = encoder.codes[symbol];
    std::string bits;
    for (int i = 0; i < code.length; ++i) bits += ((code.bits >> i) & 1) ? '1' : '0';
    return bits;
}

TEST(ModelEncoder, CodesAfterAResetInReadingOrder) {
    auto literal = std::make_unique<ModelEncoder>();
    auto distance = std::make_unique<ModelEncoder>();
    ResetModelEncoder(literal.get(), kLiteralLengthModel);
    ResetModelEncoder(distance.get(), kDistanceModel);
    BuildModelEncoder(literal.get());
    BuildModelEncoder(distance.get());
    struct Row {
        const ModelEncoder* model;
        int symbol;
        const char* code;
    } rows[] = {
        {literal.get(), 0, "010101010"},    {literal.get(), 1, "010101011"},
        {literal.get(), 2, "010101000"},    {literal.get(), 255, "001010101"},
        {literal.get(), 256, "110101010"},  {literal.get(), 510, "101010100"},
        {literal.get(), 511, "101010101"},  {distance.get(), 0, "01101010"},
        {distance.get(), 63, "01010101"},   {distance.get(), 64, "001101010"},
        {distance.get(), 128, "0000101010"}, {distance.get(), 255, "0001010101"},
        {distance.get(), 511, "101010101"},
    };
    for (const Row& row : rows) EXPECT_EQ(CodeString(*row.model, row.symbol), row.code) << row.symbol;
    for (int s = 0; s < kModelSymbols; ++s) {
        EXPECT_EQ(literal->codes[s].length, 9);
        EXPECT_EQ(distance->codes[s].length, s < 64 ? 8 : (s >= 128 && s < 256) ? 10 : 9) << s;
    }
}

TEST(ModelEncoder, EncodeWritesTheCodeAndCountsLikeTheDecoder) {
    auto literal = std::make_unique<ModelEncoder>();
    ResetModelEncoder(literal.get(), kLiteralLengthModel);
    BuildModelEncoder(literal.get());
    BitWriter writer;
    EncodeSymbol(literal.get(), writer, 0);    // 010101010
    EncodeSymbol(literal.get(), writer, 511);  // 101010101
    EXPECT_EQ(writer.BitCount(), 18u);
    writer.Finish();
    // Bits 0,1,0,1,0,1,0,1 | 0,1,0,1,0,1,0,1 | 0,1 -> 0xAA 0xAA 0x02.
    EXPECT_EQ(writer.Bytes(), (std::vector<uint8_t>{0xAA, 0xAA, 0x02}));
    EXPECT_EQ(literal->model.weights[0], 2);
    EXPECT_EQ(literal->model.weights[511], 2);
    EXPECT_EQ(literal->model.weights[1], 1);

    // The counts shape the next build: with every weight 1 except 257 for
    // symbol 65, symbol 65 gets the one-bit code 1.
    ResetModelEncoder(literal.get(), kLiteralLengthModel);
    BuildModelEncoder(literal.get());
    std::string before = CodeString(*literal, 65);
    for (int i = 0; i < 256; ++i) EncodeSymbol(literal.get(), writer, 65);
    EXPECT_EQ(CodeString(*literal, 65), before);  // no code changes before the next build
    BuildModelEncoder(literal.get());
    EXPECT_EQ(CodeString(*literal, 65), "1");
}

TEST(ModelEncoder, TiesFollowThePreviousBuild) {
    auto model = std::make_unique<ModelEncoder>();
    ResetModelEncoder(model.get(), kLiteralLengthModel);
    model->model.weights[10] = 6;
    model->model.weights[300] = 6;
    BuildModelEncoder(model.get());
    EXPECT_EQ(CodeString(*model, 10), "0000001");
    EXPECT_EQ(CodeString(*model, 300), "0000010");

    ResetModelEncoder(model.get(), kLiteralLengthModel);
    model->model.weights[300] = 6;
    BuildModelEncoder(model.get());
    model->model.weights[10] = 6;
    BuildModelEncoder(model.get());
    EXPECT_EQ(CodeString(*model, 300), "0000001");
    EXPECT_EQ(CodeString(*model, 10), "0000010");
}

// Weights that grow like the Fibonacci numbers make a chain-shaped tree;
// code words longer than a machine word still come out right.
TEST(ModelEncoder, VeryLongCodeWords) {
    auto model = std::make_unique<ModelEncoder>();
    ResetModelEncoder(model.get(), kLiteralLengthModel);
    for (int64_t& weight : model->model.weights) weight = 0;
    int64_t a = 1, b = 1;
    for (int s = 0; s < 80; ++s) {
        model->model.weights[s] = a;
        int64_t next = a + b;
        a = b;
        b = next;
    }
    BuildModelEncoder(model.get());
    int longest = 0, longestSymbol = -1;
    for (int s = 0; s < kModelSymbols; ++s) {
        if (model->codes[s].length > longest) {
            longest = model->codes[s].length;
            longestSymbol = s;
        }
    }
    ASSERT_GT(longest, 64);
    // Walk the tree with the bits the encoder writes: it must end in the leaf.
    BitWriter writer;
    EncodeSymbol(model.get(), writer, longestSymbol);
    EXPECT_EQ(writer.BitCount(), static_cast<uint64_t>(longest));
    writer.Finish();
    const std::vector<uint8_t>& bytes = writer.Bytes();
    int node = kModelRoot;
    for (int i = 0; i < longest; ++i) {
        ASSERT_NE(model->model.nodes[node].child0, kNoChild);
        int bit = (bytes[i / 8] >> (i % 8)) & 1;
        node = bit ? model->model.nodes[node].child1 : model->model.nodes[node].child0;
    }
    EXPECT_EQ(model->model.nodes[node].child0, kNoChild);
    EXPECT_EQ(model->model.nodes[node].symbol, longestSymbol);
}

}  // namespace
