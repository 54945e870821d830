// The Huffman code of a Paperang page, rebuilt from the tree record (the
// node symbols in pre-order, then in in-order, each 16-bit little-endian;
// symbols below 256 are leaves carrying that byte), and the decoding of
// the coded blocks with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace NS_DECODE {

class CHfmTreeDecoder {
public:
    // Rebuilds the tree from the record content of nLen bytes. Fails, with
    // the reason in `why`, unless the two lists describe one full binary
    // tree (every internal node has two children) of 3 to 511 distinct
    // symbols with leaves exactly the symbols below 256.
    bool Build(const unsigned char* pData, size_t nLen, std::string& why);

    bool IsBuilt() const { return m_iRoot >= 0; }
    int NodeCount() const { return static_cast<int>(m_nodes.size()); }
    int LeafCount() const { return m_nLeaves; }
    int LongestCode() const { return m_nDepth; }

    // Decodes nBits bits from pData, most significant bit of each byte
    // first, appending one byte per code to `out`. Fails when the bits end
    // inside a code; nBitPos then holds the bit where that code began.
    bool Decode(const unsigned char* pData, size_t nBits, std::vector<unsigned char>& out,
                size_t& nBitPos) const;

private:
    struct tagNode {
        int iLeft;
        int iRight;
        uint16_t wSymbol;
    };
    // Builds the subtree whose in-order symbols are in [lo, hi]; returns
    // its node index, or -1 with `why` set.
    int BuildRange(const std::vector<uint16_t>& pre, const std::vector<uint16_t>& in, size_t& nNext,
                   int lo, int hi, int depth, std::string& why);

    std::vector<tagNode> m_nodes;
    int m_iRoot = -1;
    int m_nLeaves = 0;
    int m_nDepth = 0;
};

} // namespace NS_DECODE
