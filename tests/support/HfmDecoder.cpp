#include "HfmDecoder.h"

namespace testing_support {

bool CHfmDecoder::Fail(const std::string& text)
{
    m_error = text;
    m_nodes.clear();
    m_iRoot = -1;
    m_codes.assign(256, std::string());
    return false;
}

bool CHfmDecoder::Refuse(const std::string& text)
{
    m_error = text;
    return false;
}

int CHfmDecoder::BuildRange(const std::vector<uint16_t>& preorder, const std::vector<int>& inPos,
                            size_t& next, int lo, int hi)
{
    // The subtree whose in-order symbols are inorder[lo, hi); its root is
    // the next pre-order symbol.
    if (lo >= hi || !m_error.empty())
        return -1;
    if (next >= preorder.size()) {
        m_error = "pre-order list too short";
        return -1;
    }
    const uint16_t sym = preorder[next++];
    const int k = inPos[sym];
    if (k < lo || k >= hi) {
        m_error = "symbol " + std::to_string(sym) + " out of place in the in-order list";
        return -1;
    }
    const int self = static_cast<int>(m_nodes.size());
    m_nodes.push_back(Node{sym, -1, -1});
    const int left = BuildRange(preorder, inPos, next, lo, k);
    const int right = BuildRange(preorder, inPos, next, k + 1, hi);
    m_nodes[self].iLeft = left;
    m_nodes[self].iRight = right;
    if (m_error.empty()) {
        if (sym < 256 && (left != -1 || right != -1))
            m_error = "leaf " + std::to_string(sym) + " has children";
        if (sym >= 256 && (left == -1 || right == -1))
            m_error = "internal node " + std::to_string(sym) + " lacks a child";
    }
    return self;
}

void CHfmDecoder::CollectCodes(int node, std::string& path)
{
    const Node& n = m_nodes[node];
    if (n.wSymbol < 256) {
        m_codes[n.wSymbol] = path;
        return;
    }
    path.push_back('0');
    CollectCodes(n.iLeft, path);
    path.back() = '1';
    CollectCodes(n.iRight, path);
    path.pop_back();
}

bool CHfmDecoder::Build(const std::vector<uint16_t>& preorder, const std::vector<uint16_t>& inorder)
{
    Fail(std::string());
    if (preorder.empty() || preorder.size() != inorder.size())
        return Fail("lists of different or zero length");
    std::vector<int> inPos(65536, -1);
    for (size_t i = 0; i < inorder.size(); ++i) {
        if (inPos[inorder[i]] != -1)
            return Fail("symbol " + std::to_string(inorder[i]) + " repeated");
        inPos[inorder[i]] = static_cast<int>(i);
    }
    size_t next = 0;
    m_nodes.reserve(preorder.size());
    const int root = BuildRange(preorder, inPos, next, 0, static_cast<int>(inorder.size()));
    if (!m_error.empty())
        return Fail(m_error);
    if (next != preorder.size())
        return Fail("pre-order list too long or repeating a symbol");
    m_iRoot = root;
    std::string path;
    CollectCodes(m_iRoot, path);
    return true;
}

bool CHfmDecoder::BuildFromRecord(const unsigned char* data, size_t length)
{
    if (!data || length == 0 || length % 4 != 0)
        return Fail("tree record length not a multiple of 4");
    const size_t n = length / 4;
    std::vector<uint16_t> pre(n), in(n);
    for (size_t i = 0; i < n; ++i) {
        pre[i] = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        in[i] = static_cast<uint16_t>(data[2 * (n + i)] | (data[2 * (n + i) + 1] << 8));
    }
    return Build(pre, in);
}

bool CHfmDecoder::DecodeBlock(const unsigned char* block, size_t length,
                              std::vector<unsigned char>& out)
{
    if (m_iRoot < 0)
        return Refuse("no tree");
    if (m_nodes[m_iRoot].wSymbol < 256)
        return Refuse("a one-leaf tree codes nothing");
    if (!block || length == 0)
        return Refuse("empty block");
    const unsigned pad = block[0];
    if (pad > 7 || (length == 1 && pad != 0))
        return Refuse("bad padding count " + std::to_string(pad));
    const size_t bits = 8 * (length - 1) - pad;
    int node = m_iRoot;
    for (size_t i = 0; i < bits; ++i) {
        const int bit = (block[1 + i / 8] >> (7 - i % 8)) & 1;
        node = bit ? m_nodes[node].iRight : m_nodes[node].iLeft;
        if (m_nodes[node].wSymbol < 256) {
            out.push_back(static_cast<unsigned char>(m_nodes[node].wSymbol));
            node = m_iRoot;
        }
    }
    if (node != m_iRoot)
        return Refuse("block ends inside a code");
    return true;
}

std::string CHfmDecoder::CodeOf(unsigned value) const
{
    return value < m_codes.size() ? m_codes[value] : std::string();
}

int CHfmDecoder::LeafCount() const
{
    int n = 0;
    for (const Node& node : m_nodes)
        n += node.wSymbol < 256;
    return n;
}

} // namespace testing_support
