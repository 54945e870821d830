#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "HfmCode.h"
#include "HfmDecoder.h"

namespace {

using Node = CHfmCode::HGMRNCODENODE;
using Bytes = std::vector<unsigned char>;
using Symbols = std::vector<uint16_t>;
using testing_support::CHfmDecoder;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Heap = std::unique_ptr<T, FreeDeleter>;

struct Tree {
    Heap<Node> nodes;
    int count = 0;
};

Tree BuildTree(Bytes data)
{
    CHfmCode hfm;
    Tree t;
    t.nodes.reset(hfm.GetHfmTree(data.data(), static_cast<int>(data.size()), &t.count, 0, 0));
    return t;
}

std::string CodeText(const Node& n)
{
    std::string s;
    for (int b = 0; b < n.iCodeLen; ++b)
        s += n.byCode[b] ? '1' : '0';
    return s;
}

// Byte value -> code text, over the leaves of a tree.
std::map<int, std::string> Codes(const Tree& t)
{
    std::map<int, std::string> codes;
    for (int i = 0; i < t.count; ++i)
        if (t.nodes.get()[i].wSymbol < 256)
            codes[t.nodes.get()[i].wSymbol] = CodeText(t.nodes.get()[i]);
    return codes;
}

Symbols Preorder(Tree& t)
{
    CHfmCode hfm;
    Heap<unsigned short> list(hfm.GetTreePreorder(t.nodes.get(), t.count));
    return list ? Symbols(list.get(), list.get() + t.count) : Symbols();
}

Symbols Inorder(Tree& t)
{
    CHfmCode hfm;
    Heap<unsigned short> list(hfm.GetTreeMiddleorder(t.nodes.get(), t.count));
    return list ? Symbols(list.get(), list.get() + t.count) : Symbols();
}

struct Coded {
    Heap<HFMCODEBLOCK> blocks;
    int count = -1;
    std::vector<Bytes> Blocks() const
    {
        std::vector<Bytes> out;
        for (int i = 0; i < count; ++i)
            out.emplace_back(blocks.get()[i].pData, blocks.get()[i].pData + blocks.get()[i].iLen);
        return out;
    }
};

Coded Encode(Tree& t, Bytes& data, int stride, int rows, int blockBytes = 256)
{
    CHfmCode hfm;
    Coded c;
    c.blocks.reset(
        hfm.HFMDGencoding(t.nodes.get(), t.count, data.data(), stride, rows, blockBytes, &c.count));
    return c;
}

// The page's bit sequence as text, built code by code from the tree.
std::string BitText(const Tree& t, const Bytes& data)
{
    const std::map<int, std::string> codes = Codes(t);
    std::string bits;
    for (unsigned char b : data)
        bits += codes.at(b);
    return bits;
}

// Packs a run of bit text as a block is laid out: padding count, then the
// bits, the last byte completed from `after` (the bits that follow).
Bytes PackBlock(const std::string& bits, const std::string& after)
{
    const size_t bytes = (bits.size() + 7) / 8;
    Bytes out{static_cast<unsigned char>(bytes * 8 - bits.size())};
    std::string all = bits + after.substr(0, bytes * 8 - bits.size());
    all.resize(bytes * 8, '0');
    for (size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(std::stoi(all.substr(8 * i, 8), nullptr, 2)));
    return out;
}

// ---------------------------------------------------------------------------
// Tree building

TEST(HfmTree, FourEqualBytesPairInIndexOrder)
{
    Tree t = BuildTree({0x01, 0x02, 0x03, 0x04});
    ASSERT_TRUE(t.nodes);
    ASSERT_EQ(t.count, 7);
    const Node* n = t.nodes.get();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(n[i].wSymbol, i + 1);
        EXPECT_EQ(n[i].iWeight, 1);
        EXPECT_EQ(n[i].iLeft, -1);
        EXPECT_EQ(n[i].iRight, -1);
    }
    // node: symbol, left, right, weight, parent
    const int expected[3][5] = {{256, 0, 1, 2, 6}, {257, 2, 3, 2, 6}, {258, 4, 5, 4, -1}};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k + 4);
        EXPECT_EQ(n[k + 4].wSymbol, expected[k][0]);
        EXPECT_EQ(n[k + 4].iLeft, expected[k][1]);
        EXPECT_EQ(n[k + 4].iRight, expected[k][2]);
        EXPECT_EQ(n[k + 4].iWeight, expected[k][3]);
        EXPECT_EQ(n[k + 4].iParent, expected[k][4]);
        EXPECT_EQ(n[k + 4].iCodeLen, 0);
    }
    EXPECT_EQ(Codes(t), (std::map<int, std::string>{{1, "00"}, {2, "01"}, {3, "10"}, {4, "11"}}));
}

TEST(HfmTree, TieRulesDecideTheCodes)
{
    struct Case {
        const char* what;
        Bytes data;
        std::map<int, std::string> codes;
    };
    const Case cases[] = {
        {"leaf before an internal node of equal weight",
         {0x0A, 0x0B, 0x0C, 0x0C},
         {{0x0A, "10"}, {0x0B, "11"}, {0x0C, "0"}}},
        {"lightest first, whatever its index",
         {0x10, 0x10, 0x10, 0x20, 0x30},
         {{0x10, "1"}, {0x20, "00"}, {0x30, "01"}}},
        {"older internal node before a newer one",
         {1, 2, 3, 4, 5, 5, 5},
         {{1, "100"}, {2, "101"}, {3, "110"}, {4, "111"}, {5, "0"}}},
        {"leaves in ascending byte value, whatever the data order",
         {0xC0, 0x40, 0x80, 0x40, 0x80, 0xC0},
         {{0x40, "10"}, {0x80, "11"}, {0xC0, "0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t = BuildTree(c.data);
        ASSERT_TRUE(t.nodes);
        EXPECT_EQ(Codes(t), c.codes);
    }
}

TEST(HfmTree, SingleValuedPageGetsAPartnerLeaf)
{
    struct Case {
        unsigned char value;
        int length;
        unsigned char partner;
        std::string valueCode;
        Symbols pre, in;
    };
    const Case cases[] = {
        // value 0x00: partner 0x01 (weight 1) is picked first, so it is the left child.
        {0x00, 100, 0x01, "1", {256, 0x01, 0x00}, {0x01, 256, 0x00}},
        {0xFF, 100, 0xFE, "1", {256, 0xFE, 0xFF}, {0xFE, 256, 0xFF}},
        {0x7F, 5, 0x80, "1", {256, 0x80, 0x7F}, {0x80, 256, 0x7F}},
        {0x80, 5, 0x7F, "1", {256, 0x7F, 0x80}, {0x7F, 256, 0x80}},
        // One byte: both weights 1, the real leaf has the lower index and goes left.
        {0x41, 1, 0x42, "0", {256, 0x41, 0x42}, {0x41, 256, 0x42}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << int(c.value) << " x" << c.length);
        Tree t = BuildTree(Bytes(static_cast<size_t>(c.length), c.value));
        ASSERT_TRUE(t.nodes);
        ASSERT_EQ(t.count, 3);
        // The partner comes after the real leaf, also when its value is lower.
        EXPECT_EQ(t.nodes.get()[0].wSymbol, c.value);
        EXPECT_EQ(t.nodes.get()[1].wSymbol, c.partner);
        EXPECT_EQ(t.nodes.get()[1].iWeight, 1);
        EXPECT_EQ(t.nodes.get()[2].iWeight, c.length + 1);
        EXPECT_EQ(CodeText(t.nodes.get()[0]), c.valueCode);
        EXPECT_EQ(CodeText(t.nodes.get()[1]), c.valueCode == "1" ? "0" : "1");
        EXPECT_EQ(Preorder(t), c.pre);
        EXPECT_EQ(Inorder(t), c.in);
    }
}

TEST(HfmTree, AllByteValuesGive511NodesAndAFullPrefixCode)
{
    Bytes data;
    for (int v = 0; v < 256; ++v)
        data.insert(data.end(), static_cast<size_t>(1 + (v * 37) % 11), static_cast<unsigned char>(v));
    Tree t = BuildTree(data);
    ASSERT_TRUE(t.nodes);
    ASSERT_EQ(t.count, 511);
    const Node* n = t.nodes.get();
    for (int i = 0; i < 511; ++i)
        EXPECT_EQ(n[i].wSymbol, i); // leaves 0..255 in order, internal 256..510
    EXPECT_EQ(n[510].iParent, -1);
    EXPECT_EQ(n[510].iWeight, static_cast<int>(data.size()));

    // Kraft sum of a full binary code is exactly 1.
    double kraft = 0;
    for (int i = 0; i < 256; ++i)
        kraft += std::ldexp(1.0, -n[i].iCodeLen);
    EXPECT_DOUBLE_EQ(kraft, 1.0);

    const Symbols pre = Preorder(t), in = Inorder(t);
    ASSERT_EQ(pre.size(), 511u);
    EXPECT_EQ(pre.front(), 510);
    Symbols sorted = in;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 511; ++i)
        ASSERT_EQ(sorted[static_cast<size_t>(i)], i);

    CHfmDecoder dec;
    ASSERT_TRUE(dec.Build(pre, in)) << dec.Error();
    EXPECT_EQ(dec.NodeCount(), 511);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(dec.CodeOf(static_cast<unsigned>(v)), CodeText(n[v])) << v;
}

TEST(HfmTree, RefusesInputItCannotCode)
{
    CHfmCode hfm;
    unsigned char data[4] = {1, 2, 3, 4};
    int count = -7;
    EXPECT_EQ(hfm.GetHfmTree(nullptr, 4, &count, 0, 0), nullptr);
    EXPECT_EQ(hfm.GetHfmTree(data, 0, &count, 0, 0), nullptr);
    EXPECT_EQ(hfm.GetHfmTree(data, -1, &count, 0, 0), nullptr);
    EXPECT_EQ(hfm.GetHfmTree(data, 4, nullptr, 0, 0), nullptr);
    EXPECT_EQ(hfm.GetHfmTree(data, 4, &count, 1, 0), nullptr);
    EXPECT_EQ(count, -7);

    EXPECT_EQ(hfm.GetTreePreorder(nullptr, 3), nullptr);
    EXPECT_EQ(hfm.GetTreeMiddleorder(nullptr, 3), nullptr);

    Tree t = BuildTree({1, 2, 3, 4});
    EXPECT_EQ(hfm.GetTreePreorder(t.nodes.get(), 0), nullptr);
    // Counting fewer nodes moves the root to an internal node whose
    // children reach only part of the array.
    EXPECT_EQ(hfm.GetTreePreorder(t.nodes.get(), 6), nullptr);
    // A link back to the root would walk for ever.
    t.nodes.get()[5].iRight = 6;
    EXPECT_EQ(hfm.GetTreePreorder(t.nodes.get(), 7), nullptr);
    EXPECT_EQ(hfm.GetTreeMiddleorder(t.nodes.get(), 7), nullptr);
    t.nodes.get()[5].iRight = 9;   // outside the array
    EXPECT_EQ(hfm.GetTreeMiddleorder(t.nodes.get(), 7), nullptr);
}

// ---------------------------------------------------------------------------
// Coding into blocks

TEST(HfmCoding, TwoRowPageCodesToOneBlock)
{
    Bytes page = {0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00};
    Tree t = BuildTree(page);
    ASSERT_EQ(t.count, 3);
    EXPECT_EQ(Codes(t), (std::map<int, std::string>{{0x00, "1"}, {0xFF, "0"}}));
    EXPECT_EQ(Preorder(t), (Symbols{256, 255, 0}));
    EXPECT_EQ(Inorder(t), (Symbols{255, 256, 0}));
    Coded c = Encode(t, page, 4, 2);
    ASSERT_TRUE(c.blocks);
    // 1111 0111: eight bits, no padding.
    EXPECT_EQ(c.Blocks(), (std::vector<Bytes>{{0x00, 0xF7}}));
}

TEST(HfmCoding, RowsGoIntoBlocksBelowTheLimit)
{
    // Blank pages code every byte as one bit, so a row is `stride` bits.
    struct Case {
        const char* what;
        int stride, rows, blockBytes;
        std::vector<int> lengths;
    };
    const Case cases[] = {
        {"42 rows of 48 bits, the 43rd would make 2064", 48, 100, 256, {253, 253, 97}},
        {"a row bringing the total to exactly 2040 starts a new block", 40, 51, 256, {251, 6}},
        {"50 rows of 40 bits stay in one block", 40, 50, 256, {251}},
        {"rows of exactly 2040 bits each form a block", 2040, 3, 256, {256, 256, 256}},
        {"rows above the limit each form a longer block", 2044, 2, 256, {257, 257}},
        {"a small block size: limit 16 bits", 4, 8, 3, {3, 3, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes page(static_cast<size_t>(c.stride) * c.rows, 0x00);
        Tree t = BuildTree(page);
        Coded coded = Encode(t, page, c.stride, c.rows, c.blockBytes);
        ASSERT_TRUE(coded.blocks);
        std::vector<int> lengths;
        for (const Bytes& b : coded.Blocks())
            lengths.push_back(static_cast<int>(b.size()));
        EXPECT_EQ(lengths, c.lengths);

        // Every bit is a 1 (the code of 0x00); padding bits repeat the next
        // block's ones and are zero only after the last block.
        const std::string bits = BitText(t, page);
        size_t at = 0;
        for (const Bytes& b : coded.Blocks()) {
            const size_t n = (b.size() - 1) * 8 - b[0];
            EXPECT_EQ(b, PackBlock(bits.substr(at, n), bits.substr(at + n)));
            at += n;
        }
    }
}

TEST(HfmCoding, UnusedBitsCarryTheNextBlocksFirstBits)
{
    // A foreign tree: 0xAA = "1", 0xBB = "00", 0xCC = "01".
    Tree t = BuildTree({0xAA, 0xAA, 0xAA, 0xAA, 0xBB, 0xCC});
    ASSERT_EQ(Codes(t), (std::map<int, std::string>{{0xAA, "1"}, {0xBB, "00"}, {0xCC, "01"}}));

    // Rows of 1020, 2040 and 1020 bits: the long middle row cannot join
    // either neighbour, so each row is a block of its own.
    const int stride = 1020;
    Bytes page;
    page.insert(page.end(), stride, 0xAA);
    page.insert(page.end(), stride, 0xCC);
    page.insert(page.end(), stride, 0xAA);
    Coded c = Encode(t, page, stride, 3);
    ASSERT_TRUE(c.blocks);
    const std::vector<Bytes> blocks = c.Blocks();
    ASSERT_EQ(blocks.size(), 3u);

    Bytes first{0x04};
    first.insert(first.end(), 127, 0xFF);
    first.push_back(0xF5); // 1111 then 0101 from the middle block
    Bytes middle{0x00};
    middle.insert(middle.end(), 255, 0x55);
    Bytes last{0x04};
    last.insert(last.end(), 127, 0xFF);
    last.push_back(0xF0); // nothing follows the last block
    EXPECT_EQ(blocks[0], first);
    EXPECT_EQ(blocks[1], middle);
    EXPECT_EQ(blocks[2], last);
}

TEST(HfmCoding, RefusesDataTheTreeDoesNotCover)
{
    CHfmCode hfm;
    Tree t = BuildTree({0x10, 0x20});
    Bytes page = {0x10, 0x20, 0x30, 0x10};
    int count = -7;
    EXPECT_EQ(hfm.HFMDGencoding(t.nodes.get(), t.count, page.data(), 4, 1, 256, &count), nullptr);
    EXPECT_EQ(hfm.HFMDGencoding(nullptr, t.count, page.data(), 4, 1, 256, &count), nullptr);
    EXPECT_EQ(hfm.HFMDGencoding(t.nodes.get(), t.count, nullptr, 4, 1, 256, &count), nullptr);
    EXPECT_EQ(hfm.HFMDGencoding(t.nodes.get(), t.count, page.data(), -4, 1, 256, &count), nullptr);
    EXPECT_EQ(hfm.HFMDGencoding(t.nodes.get(), t.count, page.data(), 4, -1, 256, &count), nullptr);
    EXPECT_EQ(count, -7);
}

// A hand-made caterpillar tree over all 256 byte values: value 255 has the
// code 0, value v (v >= 1) the code of 255 - v ones and a zero, except that
// values 0 and 1 share the deepest level (254 ones and 0 or 1): 255-bit
// codes, far beyond any accumulator.
Tree CaterpillarTree()
{
    Tree t;
    t.count = 511;
    t.nodes.reset(static_cast<Node*>(std::calloc(511, sizeof(Node))));
    Node* n = t.nodes.get();
    for (int i = 0; i < 511; ++i) {
        n[i].wSymbol = static_cast<unsigned short>(i);
        n[i].iLeft = n[i].iRight = n[i].iParent = -1;
        n[i].iWeight = 1;
    }
    n[256].iLeft = 0;
    n[256].iRight = 1;
    for (int j = 1; j < 255; ++j) {
        n[256 + j].iLeft = j + 1;
        n[256 + j].iRight = 256 + j - 1;
    }
    for (int i = 256; i < 511; ++i) {
        n[n[i].iLeft].iParent = i;
        n[n[i].iRight].iParent = i;
    }
    for (int leaf = 0; leaf < 256; ++leaf) {
        std::string path;
        for (int cur = leaf; n[cur].iParent != -1; cur = n[cur].iParent)
            path += n[n[cur].iParent].iLeft == cur ? '0' : '1';
        std::reverse(path.begin(), path.end());
        n[leaf].iCodeLen = static_cast<int>(path.size());
        for (size_t b = 0; b < path.size(); ++b)
            n[leaf].byCode[b] = path[b] == '1';
    }
    return t;
}

TEST(HfmCoding, CodesUpTo255BitsPackAndDecode)
{
    Tree t = CaterpillarTree();
    ASSERT_EQ(t.nodes.get()[0].iCodeLen, 255);
    ASSERT_EQ(t.nodes.get()[255].iCodeLen, 1);

    std::mt19937 rng(255);
    const int stride = 12, rows = 40;
    Bytes page(static_cast<size_t>(stride) * rows);
    for (auto& b : page)
        b = static_cast<unsigned char>(rng());
    Coded c = Encode(t, page, stride, rows);
    ASSERT_TRUE(c.blocks);

    CHfmDecoder dec;
    ASSERT_TRUE(dec.Build(Preorder(t), Inorder(t))) << dec.Error();
    EXPECT_EQ(dec.CodeOf(0), CodeText(t.nodes.get()[0]));

    const std::string bits = BitText(t, page);
    Bytes decoded;
    size_t at = 0;
    for (const Bytes& b : c.Blocks()) {
        ASSERT_TRUE(dec.DecodeBlock(b.data(), b.size(), decoded)) << dec.Error();
        const size_t n = (b.size() - 1) * 8 - b[0];
        EXPECT_EQ(b, PackBlock(bits.substr(at, n), bits.substr(at + n)));
        at += n;
    }
    EXPECT_EQ(at, bits.size());
    EXPECT_EQ(decoded, page);
}

// ---------------------------------------------------------------------------
// Seeded random pages, decoded back with the tree rebuilt from its lists.

enum class Mix { Uniform, SparseInk, TwoValues, Fibonacci };

Bytes RandomPage(Mix mix, size_t size, std::mt19937& rng)
{
    Bytes page(size);
    switch (mix) {
    case Mix::Uniform:
        for (auto& b : page)
            b = static_cast<unsigned char>(rng());
        break;
    case Mix::SparseInk: // mostly blank, a few dots of ink
        for (auto& b : page)
            b = rng() % 32 == 0 ? static_cast<unsigned char>(rng()) : 0x00;
        break;
    case Mix::TwoValues:
        for (auto& b : page)
            b = rng() % 5 == 0 ? 0xFF : 0x00;
        break;
    case Mix::Fibonacci: {
        // Counts 1, 1, 2, 3, 5, ... make the deepest possible tree: codes of
        // up to one bit less than the number of values.
        size_t fill = 0;
        unsigned long a = 1, b = 1;
        for (int v = 0; fill + a <= size; ++v) {
            std::fill(page.begin() + static_cast<long>(fill),
                      page.begin() + static_cast<long>(fill + a), static_cast<unsigned char>(v * 7));
            fill += a;
            const unsigned long next = a + b;
            a = b;
            b = next;
        }
        std::fill(page.begin() + static_cast<long>(fill), page.end(), 0xEE);
        std::shuffle(page.begin(), page.end(), rng);
        break;
    }
    }
    return page;
}

TEST(HfmCoding, RandomPagesDecodeBackToTheirBytes)
{
    struct Case {
        Mix mix;
        int stride, rows;
        unsigned seed;
    };
    const Case cases[] = {
        {Mix::Uniform, 4, 1, 1},          {Mix::Uniform, 48, 100, 2},
        {Mix::Uniform, 72, 300, 3},       {Mix::SparseInk, 72, 2000, 4},
        {Mix::SparseInk, 200, 37, 5},     {Mix::TwoValues, 16, 500, 6},
        {Mix::TwoValues, 300, 9, 7},      {Mix::Fibonacci, 8, 40000, 8},
        {Mix::Fibonacci, 2000, 60, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mix " << int(c.mix) << ", " << c.stride << " x "
                                        << c.rows << ", seed " << c.seed);
        std::mt19937 rng(c.seed);
        Bytes page = RandomPage(c.mix, static_cast<size_t>(c.stride) * c.rows, rng);
        Tree t = BuildTree(page);
        ASSERT_TRUE(t.nodes);
        int longest = 0;
        for (int i = 0; i < t.count; ++i)
            longest = std::max(longest, t.nodes.get()[i].iCodeLen);
        if (c.mix == Mix::Fibonacci) {
            EXPECT_GE(longest, 20);
        }

        CHfmDecoder dec;
        ASSERT_TRUE(dec.Build(Preorder(t), Inorder(t))) << dec.Error();
        Coded coded = Encode(t, page, c.stride, c.rows);
        ASSERT_TRUE(coded.blocks);
        const std::vector<Bytes> blocks = coded.Blocks();
        ASSERT_GE(blocks.size(), 1u);

        // Row lengths in bits, to check where the blocks were cut.
        std::vector<long> rowBits;
        {
            const std::map<int, std::string> codes = Codes(t);
            for (int r = 0; r < c.rows; ++r) {
                long n = 0;
                for (int x = 0; x < c.stride; ++x)
                    n += static_cast<long>(codes.at(page[static_cast<size_t>(r * c.stride + x)]).size());
                rowBits.push_back(n);
            }
        }

        Bytes decoded;
        size_t row = 0;
        for (size_t i = 0; i < blocks.size(); ++i) {
            const Bytes& b = blocks[i];
            const size_t before = decoded.size();
            ASSERT_TRUE(dec.DecodeBlock(b.data(), b.size(), decoded)) << "block " << i << ": "
                                                                       << dec.Error();
            const size_t got = decoded.size() - before;
            ASSERT_EQ(got % static_cast<size_t>(c.stride), 0u) << "block " << i << " cuts a row";
            const size_t blockRows = got / static_cast<size_t>(c.stride);
            ASSERT_GE(blockRows, 1u) << "block " << i << " is empty";
            const long bits = static_cast<long>((b.size() - 1) * 8 - b[0]);
            if (blockRows > 1) {
                EXPECT_LT(bits, 2040) << "block " << i;
            }
            row += blockRows;
            if (i + 1 < blocks.size()) {
                // The next row did not fit.
                EXPECT_GE(bits + rowBits[row], 2040) << "block " << i;
                // Unused low bits repeat the next block's first bits.
                const int pad = b[0];
                const int mask = (1 << pad) - 1;
                EXPECT_EQ(b.back() & mask, (blocks[i + 1][1] >> (8 - pad)) & mask) << "block " << i;
            } else {
                EXPECT_EQ(b.back() & ((1 << b[0]) - 1), 0) << "last block";
            }
        }
        EXPECT_EQ(decoded, page);
    }
}

} // namespace
