#include "HfmTreeDecoder.h"

#include <algorithm>

namespace NS_DECODE {

bool CHfmTreeDecoder::Build(const unsigned char* pData, size_t nLen, std::string& why)
{
    m_nodes.clear();
    m_iRoot = -1;
    m_nLeaves = 0;
    m_nDepth = 0;
    if (nLen % 4 != 0) {
        why = "a tree record of 4 bytes per node (two lists of 16-bit symbols), found " +
              std::to_string(nLen) + " bytes";
        return false;
    }
    size_t n = nLen / 4;
    if (n < 3 || n > 511 || n % 2 == 0) {
        why = "an odd node count from 3 to 511 (2 to 256 leaves), found " + std::to_string(n);
        return false;
    }
    std::vector<uint16_t> pre(n), in(n);
    for (size_t i = 0; i < n; ++i) {
        pre[i] = static_cast<uint16_t>(pData[2 * i] | (pData[2 * i + 1] << 8));
        in[i] = static_cast<uint16_t>(pData[2 * n + 2 * i] | (pData[2 * n + 2 * i + 1] << 8));
    }
    std::vector<uint16_t> sorted(pre);
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 1; i < n; ++i) {
        if (sorted[i] == sorted[i - 1]) {
            why = "distinct node symbols, found " + std::to_string(sorted[i]) + " twice in the pre-order list";
            return false;
        }
    }
    m_nodes.reserve(n);
    size_t nNext = 0;
    int root = BuildRange(pre, in, nNext, 0, static_cast<int>(n) - 1, 1, why);
    if (root < 0) {
        m_nodes.clear();
        return false;
    }
    m_iRoot = root;
    return true;
}

int CHfmTreeDecoder::BuildRange(const std::vector<uint16_t>& pre, const std::vector<uint16_t>& in,
                                size_t& nNext, int lo, int hi, int depth, std::string& why)
{
    // Each call takes one pre-order symbol and one in-order position, and
    // the ranges of the two children are disjoint, so the recursion ends
    // after at most n calls of depth at most n.
    uint16_t sym = pre[nNext];
    int pos = -1;
    for (int i = lo; i <= hi; ++i) {
        if (in[static_cast<size_t>(i)] == sym) {
            pos = i;
            break;
        }
    }
    if (pos < 0) {
        why = "the in-order list to hold pre-order symbol " + std::to_string(sym) + " (pre-order position " +
              std::to_string(nNext) + ") within in-order positions " + std::to_string(lo) + " to " +
              std::to_string(hi);
        return -1;
    }
    ++nNext;
    int index = static_cast<int>(m_nodes.size());
    m_nodes.push_back(tagNode{-1, -1, sym});
    if (sym < 256) {
        if (lo != hi) {
            why = "leaf symbol " + std::to_string(sym) + " to have no children";
            return -1;
        }
        ++m_nLeaves;
        if (depth - 1 > m_nDepth)
            m_nDepth = depth - 1;
        return index;
    }
    if (pos == lo || pos == hi) {
        why = "internal node symbol " + std::to_string(sym) + " to have two children";
        return -1;
    }
    int left = BuildRange(pre, in, nNext, lo, pos - 1, depth + 1, why);
    if (left < 0)
        return -1;
    int right = BuildRange(pre, in, nNext, pos + 1, hi, depth + 1, why);
    if (right < 0)
        return -1;
    m_nodes[static_cast<size_t>(index)].iLeft = left;
    m_nodes[static_cast<size_t>(index)].iRight = right;
    return index;
}

bool CHfmTreeDecoder::Decode(const unsigned char* pData, size_t nBits, std::vector<unsigned char>& out,
                             size_t& nBitPos) const
{
    if (m_iRoot < 0) {
        nBitPos = 0;
        return nBits == 0;
    }
    int node = m_iRoot;
    size_t nCodeStart = 0;
    for (size_t i = 0; i < nBits; ++i) {
        int bit = (pData[i / 8] >> (7 - i % 8)) & 1;
        const tagNode& cur = m_nodes[static_cast<size_t>(node)];
        node = bit ? cur.iRight : cur.iLeft;
        const tagNode& next = m_nodes[static_cast<size_t>(node)];
        if (next.iLeft < 0) {
            out.push_back(static_cast<unsigned char>(next.wSymbol));
            node = m_iRoot;
            nCodeStart = i + 1;
        }
    }
    nBitPos = nCodeStart;
    return node == m_iRoot;
}

} // namespace NS_DECODE
