#include "HfmCode.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// No tree over byte values has more nodes than this (256 leaves).
const int kMaxNodes = 511;

// A leaf's code packed for the bit writer: chunk c holds code bits
// 32c .. 32c + 31, right-aligned when the last chunk is shorter.
struct tagPackedCode {
    int iLen;
    uint32_t dwChunk[8];
};

// Appends bits to a byte array, first bit in the most significant bit.
// Fewer than 32 bits wait in the accumulator between calls.
class CBitWriter {
public:
    explicit CBitWriter(unsigned char* out) : m_pOut(out), m_qwAcc(0), m_nAcc(0) {}

    // 1 <= bits <= 32; value holds them right-aligned.
    void Put(uint32_t value, int bits)
    {
        m_qwAcc = (m_qwAcc << bits) | value;
        m_nAcc += bits;
        if (m_nAcc >= 32) {
            m_nAcc -= 32;
            const uint32_t w = static_cast<uint32_t>(m_qwAcc >> m_nAcc);
            m_pOut[0] = static_cast<unsigned char>(w >> 24);
            m_pOut[1] = static_cast<unsigned char>(w >> 16);
            m_pOut[2] = static_cast<unsigned char>(w >> 8);
            m_pOut[3] = static_cast<unsigned char>(w);
            m_pOut += 4;
        }
    }

    void PutCode(const tagPackedCode& code)
    {
        if (code.iLen <= 32) {
            Put(code.dwChunk[0], code.iLen);
            return;
        }
        int left = code.iLen;
        for (int c = 0; left > 0; ++c, left -= 32)
            Put(code.dwChunk[c], left < 32 ? left : 32);
    }

    // Writes the waiting bits, the last byte padded with zero bits.
    void Flush()
    {
        while (m_nAcc >= 8) {
            m_nAcc -= 8;
            *m_pOut++ = static_cast<unsigned char>(m_qwAcc >> m_nAcc);
        }
        if (m_nAcc > 0)
            *m_pOut++ = static_cast<unsigned char>(m_qwAcc << (8 - m_nAcc));
        m_nAcc = 0;
    }

private:
    unsigned char* m_pOut;
    uint64_t m_qwAcc;
    int m_nAcc;
};

// Whether the nodes form a tree rooted at node count - 1 that reaches every
// node exactly once through in-range child links. Iterative, so that a
// broken array cannot recurse without end.
bool IsWalkableTree(const CHfmCode::HGMRNCODENODE* nodes, int count)
{
    bool seen[kMaxNodes] = {};
    int stack[kMaxNodes];
    int depth = 0;
    int visited = 0;
    stack[depth++] = count - 1;
    seen[count - 1] = true;
    while (depth > 0) {
        const CHfmCode::HGMRNCODENODE& node = nodes[stack[--depth]];
        ++visited;
        const int children[2] = {node.iLeft, node.iRight};
        for (int child : children) {
            if (child == -1)
                continue;
            if (child < 0 || child >= count || seen[child])
                return false;
            seen[child] = true;
            stack[depth++] = child;
        }
    }
    return visited == count;
}

} // namespace

CHfmCode::HGMRNCODENODE* CHfmCode::GetHfmTree(unsigned char* data, int length, int* nodeCount,
                                              int mode, int subMode)
{
    // The partner leaf of a single-valued page adds 1 to the root's weight.
    if (!data || length < 1 || length == INT_MAX || !nodeCount || mode != 0 || subMode != 0)
        return nullptr;

    // Four tallies side by side: a page is mostly long runs of one byte, and
    // a single tally would wait on its own previous increment every byte.
    int tally[4][256] = {};
    int at = 0;
    for (; at + 4 <= length; at += 4) {
        ++tally[0][data[at]];
        ++tally[1][data[at + 1]];
        ++tally[2][data[at + 2]];
        ++tally[3][data[at + 3]];
    }
    for (; at < length; ++at)
        ++tally[0][data[at]];
    int counts[256];
    for (int v = 0; v < 256; ++v)
        counts[v] = tally[0][v] + tally[1][v] + tally[2][v] + tally[3][v];

    int leafValue[256];
    int leafWeight[256];
    int n = 0;
    for (int v = 0; v < 256; ++v)
        if (counts[v] > 0) {
            leafValue[n] = v;
            leafWeight[n] = counts[v];
            ++n;
        }
    if (n == 1) {
        // A uniform page still needs two leaves so that its byte has a
        // one-bit code; the partner goes after the real leaf.
        leafValue[1] = leafValue[0] < 128 ? leafValue[0] + 1 : leafValue[0] - 1;
        leafWeight[1] = 1;
        n = 2;
    }

    const int total = 2 * n - 1;
    HGMRNCODENODE* nodes =
        static_cast<HGMRNCODENODE*>(std::calloc(static_cast<size_t>(total), sizeof(HGMRNCODENODE)));
    if (!nodes)
        return nullptr;
    for (int k = 0; k < total; ++k) {
        nodes[k].iLeft = -1;
        nodes[k].iRight = -1;
        nodes[k].iParent = -1;
        if (k < n) {
            nodes[k].iWeight = leafWeight[k];
            nodes[k].wSymbol = static_cast<unsigned short>(leafValue[k]);
        } else {
            nodes[k].wSymbol = static_cast<unsigned short>(256 + (k - n));
        }
    }

    for (int k = n; k < total; ++k) {
        int first = -1, second = -1;
        GetMinTreeNode(nodes, k, &first, &second);
        nodes[k].iLeft = first;
        nodes[k].iRight = second;
        nodes[k].iWeight = nodes[first].iWeight + nodes[second].iWeight;
        nodes[first].iParent = k;
        nodes[second].iParent = k;
    }

    // Each leaf's code is the path from the root: collect it leaf-upward,
    // then store it reversed.
    for (int i = 0; i < n; ++i) {
        unsigned char path[kMaxCodeLen];
        int len = 0;
        for (int cur = i; nodes[cur].iParent != -1; cur = nodes[cur].iParent)
            path[len++] = nodes[nodes[cur].iParent].iLeft == cur ? 0 : 1;
        nodes[i].iCodeLen = len;
        for (int b = 0; b < len; ++b)
            nodes[i].byCode[b] = path[len - 1 - b];
    }

    *nodeCount = total;
    return nodes;
}

void CHfmCode::GetMinTreeNode(HGMRNCODENODE* nodes, int count, int* first, int* second)
{
    int a = -1, b = -1;
    if (nodes) {
        // Strict comparisons in ascending index order: the lowest index wins
        // a tie, so leaves beat internal nodes and older nodes beat newer.
        for (int i = 0; i < count; ++i)
            if (nodes[i].iParent == -1 && (a < 0 || nodes[i].iWeight < nodes[a].iWeight))
                a = i;
        for (int i = 0; i < count; ++i)
            if (i != a && nodes[i].iParent == -1 &&
                (b < 0 || nodes[i].iWeight < nodes[b].iWeight))
                b = i;
    }
    if (first)
        *first = a;
    if (second)
        *second = b;
}

void CHfmCode::TreePreorder(HGMRNCODENODE* nodes, int index, unsigned short* out, int* pos)
{
    out[(*pos)++] = nodes[index].wSymbol;
    if (nodes[index].iLeft != -1)
        TreePreorder(nodes, nodes[index].iLeft, out, pos);
    if (nodes[index].iRight != -1)
        TreePreorder(nodes, nodes[index].iRight, out, pos);
}

void CHfmCode::TreeMiddleorder(HGMRNCODENODE* nodes, int index, unsigned short* out, int* pos)
{
    if (nodes[index].iLeft != -1)
        TreeMiddleorder(nodes, nodes[index].iLeft, out, pos);
    out[(*pos)++] = nodes[index].wSymbol;
    if (nodes[index].iRight != -1)
        TreeMiddleorder(nodes, nodes[index].iRight, out, pos);
}

unsigned short* CHfmCode::GetTreePreorder(HGMRNCODENODE* nodes, int count)
{
    if (!nodes || count < 1 || count > kMaxNodes || !IsWalkableTree(nodes, count))
        return nullptr;
    unsigned short* out =
        static_cast<unsigned short*>(std::malloc(static_cast<size_t>(count) * sizeof(unsigned short)));
    if (!out)
        return nullptr;
    int pos = 0;
    TreePreorder(nodes, count - 1, out, &pos);
    return out;
}

unsigned short* CHfmCode::GetTreeMiddleorder(HGMRNCODENODE* nodes, int count)
{
    if (!nodes || count < 1 || count > kMaxNodes || !IsWalkableTree(nodes, count))
        return nullptr;
    unsigned short* out =
        static_cast<unsigned short*>(std::malloc(static_cast<size_t>(count) * sizeof(unsigned short)));
    if (!out)
        return nullptr;
    int pos = 0;
    TreeMiddleorder(nodes, count - 1, out, &pos);
    return out;
}

HFMCODEBLOCK* CHfmCode::HFMDGencoding(HGMRNCODENODE* nodes, int nodeCount, unsigned char* data,
                                      int bytesPerRow, int rows, int blockBytes, int* blockCount)
{
    if (!nodes || !data || !blockCount || nodeCount < 1 || bytesPerRow < 0 || rows < 0)
        return nullptr;

    // Byte value -> packed code of its leaf.
    static_assert(kMaxCodeLen <= 8 * 32, "a code fits eight chunks");
    tagPackedCode codes[256];
    std::memset(codes, 0, sizeof codes);
    for (int i = 0; i < nodeCount; ++i) {
        const HGMRNCODENODE& node = nodes[i];
        if (node.wSymbol >= 256 || node.iCodeLen < 1 || node.iCodeLen > kMaxCodeLen)
            continue;
        tagPackedCode& code = codes[node.wSymbol];
        code.iLen = node.iCodeLen;
        for (int b = 0; b < node.iCodeLen; ++b)
            code.dwChunk[b / 32] = (code.dwChunk[b / 32] << 1) | node.byCode[b];
    }

    // Rows -> blocks. A row whose bits would bring the block to the limit
    // starts a new block, unless the block is still empty.
    const long long limit = (static_cast<long long>(blockBytes) - 1) * 8;
    long long* blockBits =
        static_cast<long long*>(std::malloc((static_cast<size_t>(rows) + 1) * sizeof(long long)));
    if (!blockBits)
        return nullptr;
    int blocks = 0;
    long long totalBits = 0;
    long long current = 0;
    bool allCoded = true;
    for (int r = 0; r < rows; ++r) {
        const unsigned char* row = data + static_cast<size_t>(r) * static_cast<size_t>(bytesPerRow);
        long long bits = 0;
        for (int x = 0; x < bytesPerRow; ++x) {
            const int len = codes[row[x]].iLen;
            bits += len;
            // A byte without a code means the tree is not this data's.
            allCoded &= len != 0;
        }
        if (r == 0) {
            current = bits;
        } else if (current + bits >= limit) {
            blockBits[blocks++] = current;
            current = bits;
        } else {
            current += bits;
        }
        totalBits += bits;
    }
    if (rows > 0)
        blockBits[blocks++] = current;

    // One heap block: the block array, then every block's bytes in order.
    size_t payload = 0;
    bool fits = allCoded;
    for (int b = 0; b < blocks && fits; ++b) {
        const long long len = (blockBits[b] + 7) / 8 + 1;
        if (len > INT_MAX)
            fits = false;
        payload += static_cast<size_t>(len);
    }
    const size_t head = static_cast<size_t>(blocks > 0 ? blocks : 1) * sizeof(HFMCODEBLOCK);
    HFMCODEBLOCK* result = fits ? static_cast<HFMCODEBLOCK*>(std::malloc(head + payload)) : nullptr;
    // The whole page's bits, with one zero byte beyond them for the shifted
    // reads below.
    unsigned char* stream =
        result ? static_cast<unsigned char*>(std::calloc(static_cast<size_t>(totalBits / 8) + 2, 1))
               : nullptr;
    if (!stream) {
        std::free(result);
        std::free(blockBits);
        return nullptr;
    }

    CBitWriter writer(stream);
    const size_t pageBytes = static_cast<size_t>(rows) * static_cast<size_t>(bytesPerRow);
    for (size_t i = 0; i < pageBytes; ++i)
        writer.PutCode(codes[data[i]]);
    writer.Flush();

    // Each block takes its bits from the page's bit sequence; the unused low
    // bits of its last byte are therefore the next block's first bits (zero
    // after the last block).
    unsigned char* out = reinterpret_cast<unsigned char*>(result) + head;
    long long startBit = 0;
    for (int b = 0; b < blocks; ++b) {
        const long long bytes = (blockBits[b] + 7) / 8;
        result[b].pData = out;
        result[b].iLen = static_cast<int>(bytes + 1);
        out[0] = static_cast<unsigned char>(bytes * 8 - blockBits[b]);
        const unsigned char* src = stream + startBit / 8;
        const int shift = static_cast<int>(startBit % 8);
        if (shift == 0) {
            std::memcpy(out + 1, src, static_cast<size_t>(bytes));
        } else {
            for (long long j = 0; j < bytes; ++j)
                out[1 + j] = static_cast<unsigned char>((src[j] << shift) | (src[j + 1] >> (8 - shift)));
        }
        out += bytes + 1;
        startBit += blockBits[b];
    }

    std::free(stream);
    std::free(blockBits);
    *blockCount = blocks;
    return result;
}
