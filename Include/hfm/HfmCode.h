// Huffman coding of page images into blocks of whole rows.
//
// One code is built per page over the bytes of its pixel storage. The tree
// travels to the printer as two symbol lists (pre-order and in-order) from
// which the receiver rebuilds it; the coded page travels in blocks of whole
// rows, each block prefixed with the number of unused bits in its last byte.
//
// Every array returned here is one heap block allocated with malloc; the
// caller releases it with free().
#pragma once

// One coded block: a byte giving the number of unused low bits (0 to 7) in
// the block's last byte, then the block's bits, first bit in the most
// significant bit.
struct HFMCODEBLOCK {
    unsigned char* pData;
    int iLen;
};

class CHfmCode {
public:
    // A node of the code tree. Leaves come first (ascending byte value), then
    // the internal nodes in creation order; the root is the last node.
    struct HGMRNCODENODE {
        int iWeight;                  // occurrences, or the sum of the children's
        int iLeft;                    // child on code bit 0, or -1
        int iRight;                   // child on code bit 1, or -1
        int iParent;                  // -1 for the root and unjoined nodes
        int iCodeLen;                 // bits in byCode (leaves); 0 for internal nodes
        unsigned short wSymbol;       // byte value, or 256 + creation number
        unsigned char byCode[258];    // one bit per byte (0 or 1), root branch first
    };

    // Longest possible code: a tree over 256 leaves is at most 255 deep.
    static const int kMaxCodeLen = 255;

    // Builds the code tree over the `length` bytes at `data` and stores its
    // node count (2n - 1 for n leaves, n >= 2) in *nodeCount. Only mode 0 /
    // sub-mode 0 (bytes counted as they are) exists. Null when data or
    // nodeCount is null, length < 1, another mode is asked for, or memory
    // runs out.
    HGMRNCODENODE* GetHfmTree(unsigned char* data, int length, int* nodeCount, int mode,
                              int subMode);

    // The two parentless nodes among the first `count` to join next: the
    // lightest first, the lowest index winning ties; -1 where none is left.
    void GetMinTreeNode(HGMRNCODENODE* nodes, int count, int* first, int* second);

    // The `count` node symbols of the tree rooted at node count - 1, in
    // pre-order (node, left, right) and in-order (left, node, right). Null
    // when nodes is null, count < 1 or above 511, memory runs out, or the
    // walk from the root would not visit each of the `count` nodes once.
    unsigned short* GetTreePreorder(HGMRNCODENODE* nodes, int count);
    unsigned short* GetTreeMiddleorder(HGMRNCODENODE* nodes, int count);

    // Recursive walks behind the two lists: store the symbols of the subtree
    // at `index` at out[*pos] onward and advance *pos. They expect a proper
    // tree (the two list builders above check it before walking).
    void TreePreorder(HGMRNCODENODE* nodes, int index, unsigned short* out, int* pos);
    void TreeMiddleorder(HGMRNCODENODE* nodes, int index, unsigned short* out, int* pos);

    // Codes rows x bytesPerRow bytes with the tree and cuts the bits into
    // blocks of whole rows below (blockBytes - 1) x 8 bits (a row that alone
    // reaches that forms a block of its own). Stores the block count in
    // *blockCount. The array and all block bytes are one heap block: free()
    // the returned pointer only. Null when nodes, data or blockCount is null,
    // a size is negative, a byte of the data has no leaf in the tree, or
    // memory runs out.
    HFMCODEBLOCK* HFMDGencoding(HGMRNCODENODE* nodes, int nodeCount, unsigned char* data,
                                int bytesPerRow, int rows, int blockBytes, int* blockCount);
};
