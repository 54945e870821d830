// Decoder for Huffman-coded page images: rebuilds the code tree from its
// pre-order and in-order symbol lists (as a tree packet carries them) and
// decodes coded blocks back to bytes. Symbols below 256 are byte values
// (leaves); 256 and up are internal nodes. Plain C++, usable from tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class CHfmDecoder {
public:
    // Rebuilds the tree from the two lists. Fails when the lists differ in
    // length, repeat a symbol, do not describe the same tree, or describe a
    // tree in which a leaf has children or an internal node lacks one.
    bool Build(const std::vector<uint16_t>& preorder, const std::vector<uint16_t>& inorder);

    // The same from a tree record's content: the pre-order list, then the
    // in-order list, each symbol 16-bit little-endian.
    bool BuildFromRecord(const unsigned char* data, size_t length);

    // Decodes one block (a byte giving the unused low bits of the last byte,
    // then the bits, most significant first) and appends its bytes to out.
    // Fails when the block does not end on a code boundary.
    bool DecodeBlock(const unsigned char* block, size_t length, std::vector<unsigned char>& out);

    // The code of a byte value as text of '0' and '1' from the root; empty
    // when the value has no leaf.
    std::string CodeOf(unsigned value) const;

    int NodeCount() const { return static_cast<int>(m_nodes.size()); }
    int LeafCount() const;
    const std::string& Error() const { return m_error; }

private:
    struct Node {
        uint16_t wSymbol;
        int iLeft;
        int iRight;
    };

    int BuildRange(const std::vector<uint16_t>& preorder, const std::vector<int>& inPos,
                   size_t& next, int lo, int hi);
    void CollectCodes(int node, std::string& path);
    bool Fail(const std::string& text);     // also drops the tree
    bool Refuse(const std::string& text);   // keeps the tree

    std::vector<Node> m_nodes;
    int m_iRoot = -1;
    std::vector<std::string> m_codes;   // by byte value
    std::string m_error;
};

} // namespace testing_support
