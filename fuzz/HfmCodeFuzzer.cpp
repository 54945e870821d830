// The Huffman coder on arbitrary images. The coded page must decode, with
// the tree rebuilt from its two symbol lists, back to exactly the image;
// blocks must hold whole rows, stay under their limit unless one row alone
// reaches it, end only where the next row would reach it, and fill their
// last byte with the bits that follow. A tree that is not the data's must
// be refused, and a broken node array must never be walked.
//
// Input layout:
//   byte 0      what to do: % 4 = 0, 1 round trip; 2 coding with the tree
//               of other data; 3 list builders and coder on a node array
//               made from the input
//   bytes 1-2   bytes per row - 1 (% 300)
//   byte 3      block size: < 128 the system's 256; 255 gives 0, 254
//               gives -1; else b - 127
//   rest        the image bytes (mode 3: the node array, then the image)
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "HfmCode.h"
#include "HfmDecoder.h"

using namespace fuzz_support;
using Node = CHfmCode::HGMRNCODENODE;

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Heap = std::unique_ptr<T, FreeDeleter>;

int BlockBytesFor(uint8_t b)
{
    if (b < 128)
        return 256;
    if (b == 255)
        return 0;
    if (b == 254)
        return -1;
    return b - 127;
}

int Bit(const unsigned char* bytes, long long i)
{
    return (bytes[i / 8] >> (7 - i % 8)) & 1;
}

// Codes `rows` rows of `bpr` bytes with `tree` and checks the blocks
// against everything the coder promises.
void CheckCoding(Node* tree, int count, const unsigned char* data, int bpr, int rows,
                 int blockBytes)
{
    CHfmCode hfm;
    Heap<unsigned short> pre(hfm.GetTreePreorder(tree, count));
    Heap<unsigned short> in(hfm.GetTreeMiddleorder(tree, count));
    FUZZ_CHECK(pre && in, "no symbol lists for a built tree of %d nodes", count);
    testing_support::CHfmDecoder decoder;
    FUZZ_CHECK(decoder.Build(std::vector<uint16_t>(pre.get(), pre.get() + count),
                             std::vector<uint16_t>(in.get(), in.get() + count)),
               "tree does not rebuild from its lists: %s", decoder.Error().c_str());

    int blockCount = -1;
    Heap<HFMCODEBLOCK> blocks(hfm.HFMDGencoding(tree, count, const_cast<unsigned char*>(data), bpr,
                                                rows, blockBytes, &blockCount));
    FUZZ_CHECK(blocks, "coding failed: %d rows of %d bytes", rows, bpr);
    FUZZ_CHECK(blockCount >= (rows > 0 ? 1 : 0) && blockCount <= rows, "%d blocks for %d rows",
               blockCount, rows);

    // Bits per row, from the codes the tree gives.
    long long codeLen[256];
    for (int v = 0; v < 256; ++v)
        codeLen[v] = static_cast<long long>(decoder.CodeOf(static_cast<unsigned>(v)).size());
    std::vector<long long> rowBits(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        for (int x = 0; x < bpr; ++x)
            rowBits[r] += codeLen[data[static_cast<size_t>(r) * bpr + x]];

    const long long limit = (static_cast<long long>(blockBytes) - 1) * 8;
    std::vector<unsigned char> decoded;
    std::vector<int> bits;       // the page's bit sequence, block after block
    std::vector<int> fillStart;  // per block: where its fill bits begin in `bits`
    std::vector<int> fillCount;
    std::vector<const unsigned char*> lastByte;
    int row = 0;
    for (int b = 0; b < blockCount; ++b) {
        const HFMCODEBLOCK& blk = blocks.get()[b];
        FUZZ_CHECK(blk.iLen >= 1 && blk.pData[0] <= 7 && (blk.iLen > 1 || blk.pData[0] == 0),
                   "block %d: %d bytes, %d unused bits", b, blk.iLen, blk.iLen > 0 ? blk.pData[0] : -1);
        const long long blockBits = 8LL * (blk.iLen - 1) - blk.pData[0];
        const size_t before = decoded.size();
        FUZZ_CHECK(decoder.DecodeBlock(blk.pData, static_cast<size_t>(blk.iLen), decoded),
                   "block %d does not decode: %s", b, decoder.Error().c_str());
        const size_t got = decoded.size() - before;
        FUZZ_CHECK(got > 0 && got % static_cast<size_t>(bpr) == 0, "block %d holds %zu bytes", b, got);
        const int blockRows = static_cast<int>(got / static_cast<size_t>(bpr));
        long long expect = 0;
        for (int r = row; r < row + blockRows && r < rows; ++r)
            expect += rowBits[r];
        FUZZ_CHECK(expect == blockBits, "block %d: %lld bits, its rows code to %lld", b, blockBits, expect);
        FUZZ_CHECK(blockRows == 1 || blockBits < limit, "block %d of %d rows reaches the limit", b, blockRows);
        row += blockRows;
        // The block ended only because the next row would reach the limit.
        if (row < rows)
            FUZZ_CHECK(blockBits + rowBits[row] >= limit, "block %d ended early", b);

        for (long long i = 0; i < blockBits; ++i)
            bits.push_back(Bit(blk.pData + 1, i));
        fillStart.push_back(static_cast<int>(bits.size()));
        fillCount.push_back(blk.pData[0]);
        lastByte.push_back(blk.pData + blk.iLen - 1);
    }
    FUZZ_CHECK(row == rows, "blocks hold %d rows of %d", row, rows);
    FUZZ_CHECK(decoded.size() == static_cast<size_t>(rows) * bpr &&
                   std::equal(decoded.begin(), decoded.end(), data),
               "decoded image differs from the coded one");

    // Unused bits of a block's last byte: the bits that follow, then 0.
    for (size_t b = 0; b < fillStart.size(); ++b)
        for (int i = 0; i < fillCount[b]; ++i) {
            const size_t at = static_cast<size_t>(fillStart[b]) + static_cast<size_t>(i);
            const int want = at < bits.size() ? bits[at] : 0;
            const int got = (*lastByte[b] >> (fillCount[b] - 1 - i)) & 1;
            FUZZ_CHECK(got == want, "block %zu fill bit %d is %d, the sequence has %d", b, i, got, want);
        }
}

void CheckTree(const Node* tree, int count, const unsigned char* data, int length)
{
    int distinct = 0;
    bool present[256] = {};
    for (int i = 0; i < length; ++i)
        if (!present[data[i]]) {
            present[data[i]] = true;
            ++distinct;
        }
    const int leaves = distinct > 1 ? distinct : 2;
    FUZZ_CHECK(count == 2 * leaves - 1, "%d nodes for %d byte values", count, distinct);
    for (int i = 0; i < leaves; ++i) {
        FUZZ_CHECK(tree[i].wSymbol < 256 && tree[i].iCodeLen >= 1 &&
                       tree[i].iCodeLen <= CHfmCode::kMaxCodeLen,
                   "leaf %d: symbol %d, code length %d", i, tree[i].wSymbol, tree[i].iCodeLen);
        if (distinct > 1 && i > 0)
            FUZZ_CHECK(tree[i - 1].wSymbol < tree[i].wSymbol, "leaves out of order at %d", i);
    }
    FUZZ_CHECK(tree[count - 1].iParent == -1 && tree[count - 1].iWeight == length + (distinct == 1),
               "root weight %d for %d bytes", tree[count - 1].iWeight, length);
}

void RoundTrip(const unsigned char* data, int length, int bpr, int blockBytes)
{
    CHfmCode hfm;
    int count = -1;
    Heap<Node> tree(hfm.GetHfmTree(const_cast<unsigned char*>(data), length, &count, 0, 0));
    if (length < 1) {
        FUZZ_CHECK(!tree, "a tree over no bytes");
        return;
    }
    FUZZ_CHECK(tree, "no tree over %d bytes", length);
    CheckTree(tree.get(), count, data, length);
    CheckCoding(tree.get(), count, data, bpr, length / bpr, blockBytes);
}

// Codes `data` with the tree of `other`: refused exactly when a byte of
// data has no leaf there.
void ForeignTree(const unsigned char* other, int otherLength, const unsigned char* data,
                 int length, int bpr, int blockBytes)
{
    CHfmCode hfm;
    int count = -1;
    Heap<Node> tree(hfm.GetHfmTree(const_cast<unsigned char*>(other), otherLength, &count, 0, 0));
    if (!tree)
        return;
    bool leaf[256] = {};
    for (int i = 0; i < count; ++i)
        if (tree.get()[i].wSymbol < 256)
            leaf[tree.get()[i].wSymbol] = true;
    const int rows = length / bpr;
    bool covered = true;
    for (int i = 0; i < rows * bpr; ++i)
        covered &= leaf[data[i]];
    if (covered) {
        CheckCoding(tree.get(), count, data, bpr, rows, blockBytes);
        return;
    }
    int blockCount = -1;
    Heap<HFMCODEBLOCK> blocks(hfm.HFMDGencoding(tree.get(), count, const_cast<unsigned char*>(data),
                                                bpr, rows, blockBytes, &blockCount));
    FUZZ_CHECK(!blocks, "data coded with a tree that lacks some of its bytes");
}

// A node array straight from the input: the list builders must refuse it
// unless it is a tree, and then list each node once; the coder must not
// fail in any other way than by returning null.
void NodeArray(CFuzzInput& in, int bpr, int blockBytes)
{
    const int count = 1 + in.Byte() % 600;
    std::vector<Node> nodes(static_cast<size_t>(count));
    for (Node& n : nodes) {
        std::memset(&n, 0, sizeof n);
        n.iLeft = static_cast<int8_t>(in.Byte());
        n.iRight = static_cast<int8_t>(in.Byte());
        n.wSymbol = in.Le16();
        n.iCodeLen = static_cast<int8_t>(in.Byte());
        const uint8_t pattern = in.Byte();
        for (int b = 0; b < 258; ++b)
            n.byCode[b] = (pattern >> (b % 8)) & 1;
    }
    CHfmCode hfm;
    for (int order = 0; order < 2; ++order) {
        Heap<unsigned short> list(order == 0 ? hfm.GetTreePreorder(nodes.data(), count)
                                             : hfm.GetTreeMiddleorder(nodes.data(), count));
        if (!list)
            continue;
        std::map<unsigned short, int> want, got;
        for (const Node& n : nodes)
            ++want[n.wSymbol];
        for (int i = 0; i < count; ++i)
            ++got[list.get()[i]];
        FUZZ_CHECK(want == got, "list does not hold each node once");
    }
    const int rows = static_cast<int>(in.RestSize()) / bpr;
    int blockCount = -1;
    Heap<HFMCODEBLOCK> blocks(hfm.HFMDGencoding(nodes.data(), count, const_cast<uint8_t*>(in.Rest()),
                                                bpr, rows, blockBytes, &blockCount));
    if (blocks)
        FUZZ_CHECK(blockCount >= 0 && blockCount <= rows, "%d blocks for %d rows", blockCount, rows);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    const int mode = in.Byte() % 4;
    const int bpr = 1 + in.Le16() % 300;
    const int blockBytes = BlockBytesFor(in.Byte());
    const unsigned char* image = in.Rest();
    const int length = static_cast<int>(in.RestSize());
    switch (mode) {
    case 0:
    case 1:
        RoundTrip(image, length, bpr, blockBytes);
        break;
    case 2:
        ForeignTree(image, length / 2, image + length / 2, length - length / 2, bpr, blockBytes);
        break;
    default:
        NodeArray(in, bpr, blockBytes);
        break;
    }
    return 0;
}
