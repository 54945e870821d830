// Paperang: frames A5, type, payload length (16-bit), payload, CRC-32 of
// the payload (little-endian), 5A. The payload is a command record 05,
// command, 03, data length (16-bit), data. A page runs from begin printing
// (19) to end printing (1A); its image comes as one Huffman tree (1C) and
// coded blocks of whole rows (1B), and the rows are 1 = ink.
#include <zlib.h>

#include <cstdio>

#include "DecodeCursor.h"
#include "HfmTreeDecoder.h"
#include "StreamDecode.h"

namespace NS_DECODE {

namespace {

// The printer's CRC-32: the standard one continued from 0x35769521.
const uLong kCrcSeed = 0x35769521UL;

class CPaperangDecoder {
public:
    explicit CPaperangDecoder(CDecodeCursor& cur) : m_cur(cur) {}

    bool Run()
    {
        while (!m_cur.AtEnd())
            if (!Frame())
                return false;
        if (m_bInPage)
            return m_cur.Fail(m_cur.Pos(), "expected end printing (1A) to end page %d (begun at "
                              "offset %zu), found end of stream", m_cur.PageCount() + 1, m_nPageStart);
        return true;
    }

private:
    bool Frame()
    {
        size_t nFrame = m_cur.Pos();
        uint8_t type = 0;
        uint16_t len = 0;
        uint32_t crc = 0;
        const unsigned char* p = nullptr;
        if (!m_cur.ExpectByte(0xA5, "the frame start") || !m_cur.ReadU8(type, "the frame type")
            || !m_cur.ReadU16(len, "the frame's payload length"))
            return false;
        size_t nPayload = m_cur.Pos();
        if (!m_cur.ReadBytes(len, p, "the frame's payload") || !m_cur.ReadU32(crc, "the frame's CRC")
            || !m_cur.ExpectByte(0x5A, "the frame end"))
            return false;
        uint32_t calc = static_cast<uint32_t>(crc32(kCrcSeed, p, len));
        char crcText[64];
        if (crc == calc)
            snprintf(crcText, sizeof crcText, "CRC %08X OK", crc);
        else
            snprintf(crcText, sizeof crcText, "CRC %08X BAD (computed %08X)", crc, calc);
        if (len < 5)
            return m_cur.Fail(nPayload, "expected a command record of at least 5 bytes (05, command, "
                              "03, data length), found a payload of %u bytes", len);
        if (p[0] != 0x05)
            return m_cur.Fail(nPayload, "expected the record class 05, found %02X", p[0]);
        if (p[2] != 0x03)
            return m_cur.Fail(nPayload + 2, "expected the record marker 03, found %02X", p[2]);
        unsigned dlen = static_cast<unsigned>(p[3] | (p[4] << 8));
        if (dlen != len - 5u)
            return m_cur.Fail(nPayload + 3, "expected the data length %u that the payload holds, found %u",
                              len - 5u, dlen);
        uint8_t cmd = p[1];
        if (!m_bInPage && (cmd == 0x1B || cmd == 0x1C || cmd == 0x1A))
            return m_cur.Fail(nFrame, "expected begin printing (19) before command %02X", cmd);
        if (!m_bInPage && cmd == 0x19) {
            m_bInPage = true;
            m_nPageStart = nFrame;
            m_tree = CHfmTreeDecoder();
            m_bits.clear();
            m_nStride = 0;
            m_nBlocks = 0;
            m_nCodedBits = 0;
            m_cur.List("page %d (offset %zu)", m_cur.PageCount() + 1, nFrame);
        }
        m_cur.List("  @%zu frame type %02X, length %u, %s, command %02X, data %u bytes", nFrame, type, len,
                   crcText, cmd, dlen);
        if (type != 0x01)
            m_cur.Warn(nFrame + 1, "frame type %02X, expected 01", type);
        if (crc != calc)
            m_cur.Warn(nFrame + 4 + len, "CRC BAD: the frame carries %08X, its payload gives %08X", crc, calc);
        const unsigned char* d = p + 5;
        size_t nData = nPayload + 5;
        switch (cmd) {
        case 0x19:
            if (!ExpectDataLength(nPayload, dlen, 0, "begin printing"))
                return false;
            if (nFrame != m_nPageStart)
                return m_cur.Fail(nFrame, "expected end printing (1A) to end page %d before the next "
                                  "begin printing (19)", m_cur.PageCount() + 1);
            m_cur.List("    begin printing");
            return true;
        case 0x1A:
            if (!ExpectDataLength(nPayload, dlen, 0, "end printing"))
                return false;
            m_cur.List("    end printing");
            return EndPage();
        case 0x16:
            if (!ExpectDataLength(nPayload, dlen, 2, "feed"))
                return false;
            m_cur.List("    feed %u", static_cast<unsigned>(d[0] | (d[1] << 8)));
            return true;
        case 0x21:
            if (!ExpectDataLength(nPayload, dlen, 4, "paper locate"))
                return false;
            m_cur.List("    paper locate %lu", static_cast<unsigned long>(d[0] | (d[1] << 8) | (d[2] << 16))
                                               | (static_cast<unsigned long>(d[3]) << 24));
            return true;
        case 0x1C:
            return Tree(nData, d, dlen);
        case 0x1B:
            return Block(nData, d, dlen);
        default:
            m_cur.Warn(nPayload + 1, "unknown command %02X", cmd);
            return true;
        }
    }

    bool ExpectDataLength(size_t nPayload, unsigned dlen, unsigned want, const char* name)
    {
        if (dlen == want)
            return true;
        return m_cur.Fail(nPayload + 3, "expected %u data bytes for %s, found %u", want, name, dlen);
    }

    bool Tree(size_t nData, const unsigned char* d, unsigned dlen)
    {
        std::string why;
        if (!m_tree.Build(d, dlen, why))
            return m_cur.Fail(nData, "expected %s", why.c_str());
        m_cur.List("    Huffman tree: %d nodes, %d leaves, longest code %d bits", m_tree.NodeCount(),
                   m_tree.LeafCount(), m_tree.LongestCode());
        return true;
    }

    bool Block(size_t nData, const unsigned char* d, unsigned dlen)
    {
        if (dlen < 12)
            return m_cur.Fail(nData, "expected a bitmap block header of 12 bytes, found %u data bytes", dlen);
        unsigned index = static_cast<unsigned>(d[0] | (d[1] << 8));
        unsigned len2 = static_cast<unsigned>(d[2] | (d[3] << 8));
        unsigned stride = static_cast<unsigned>(d[5] | (d[6] << 8));
        unsigned coded = d[9];
        unsigned blen = static_cast<unsigned>(d[10] | (d[11] << 8));
        if (index != m_nBlocks)
            return m_cur.Fail(nData, "expected block index %u, found %u", m_nBlocks, index);
        if (len2 != dlen - 4)
            return m_cur.Fail(nData + 2, "expected the inner length %u (bytes after it), found %u",
                              dlen - 4, len2);
        if (d[4] != 0x01)
            return m_cur.Fail(nData + 4, "expected 01 before the stride, found %02X", d[4]);
        if (stride == 0)
            return m_cur.Fail(nData + 5, "expected a row stride of at least 1 byte, found 0");
        if (m_nStride != 0 && stride != m_nStride)
            return m_cur.Fail(nData + 5, "expected the stride %u of the page's earlier blocks, found %u",
                              m_nStride, stride);
        if (d[7] != 0 || d[8] != 0)
            return m_cur.Fail(nData + 7, "expected 00 00 after the stride, found %02X %02X", d[7], d[8]);
        if (coded > 1)
            return m_cur.Fail(nData + 9, "expected the coding flag 00 or 01, found %02X", coded);
        if (blen != dlen - 12)
            return m_cur.Fail(nData + 10, "expected the block length %u that the record holds, found %u",
                              dlen - 12, blen);
        const unsigned char* b = d + 12;
        size_t nBlock = nData + 12;
        size_t nBefore = m_bits.size();
        size_t nBits = 0;
        unsigned unused = 0;
        if (coded) {
            if (!m_tree.IsBuilt())
                return m_cur.Fail(nData + 9, "expected the Huffman tree (1C) before a coded block");
            if (blen < 1)
                return m_cur.Fail(nBlock, "expected the unused-bit count of the coded block, found an "
                                  "empty block");
            unused = b[0];
            if (unused > 7 || (blen == 1 && unused != 0))
                return m_cur.Fail(nBlock, "expected an unused-bit count of 0 to %d, found %u",
                                  blen == 1 ? 0 : 7, unused);
            nBits = 8 * (static_cast<size_t>(blen) - 1) - unused;
            // Every code is at least one bit, so a block gives at most nBits bytes.
            if (nBits > m_cur.Limits().nMaxImageBytes - m_bits.size())
                return m_cur.Fail(nBlock, "expected page %d to stay within %zu bytes, this block may "
                                  "take it beyond", m_cur.PageCount() + 1, m_cur.Limits().nMaxImageBytes);
            size_t nBitPos = 0;
            if (!m_tree.Decode(b + 1, nBits, m_bits, nBitPos))
                return m_cur.Fail(nBlock + 1 + nBitPos / 8, "expected the block's %zu bits to end with "
                                  "a whole code, the code at bit %zu is cut off", nBits, nBitPos);
        } else {
            if (blen > m_cur.Limits().nMaxImageBytes - m_bits.size())
                return m_cur.Fail(nBlock, "expected page %d to stay within %zu bytes",
                                  m_cur.PageCount() + 1, m_cur.Limits().nMaxImageBytes);
            m_bits.insert(m_bits.end(), b, b + blen);
        }
        size_t nGot = m_bits.size() - nBefore;
        if (nGot % stride != 0)
            return m_cur.Fail(nBlock, "expected block %u to hold whole rows of %u bytes, it gives %zu bytes",
                              index, stride, nGot);
        if (!m_cur.ReserveImage(nGot, nBlock))
            return false;
        if (coded)
            m_cur.List("    bitmap block %u: stride %u bytes, coded, %u block bytes, %u unused bits, %zu "
                       "bits, %zu bytes, %zu rows", index, stride, blen, unused, nBits, nGot, nGot / stride);
        else
            m_cur.List("    bitmap block %u: stride %u bytes, not coded, %u bytes, %zu rows", index, stride,
                       blen, nGot / stride);
        m_nStride = stride;
        m_nCodedBits += nBits;
        ++m_nBlocks;
        return true;
    }

    bool EndPage()
    {
        tagDecodedPage page;
        if (m_nStride > 0 && !m_bits.empty()) {
            page.iStride = static_cast<int>(m_nStride);
            page.iWidth = static_cast<int>(m_nStride * 8);
            page.iHeight = static_cast<int>(m_bits.size() / m_nStride);
            page.vBits.swap(m_bits);
            m_cur.List("  page %d: image %d × %d dots, %u blocks, %zu coded bits", m_cur.PageCount() + 1,
                       page.iWidth, page.iHeight, m_nBlocks, m_nCodedBits);
        } else {
            m_cur.List("  page %d: no image", m_cur.PageCount() + 1);
        }
        m_cur.AddPage(std::move(page));
        m_bits.clear();
        m_bInPage = false;
        return true;
    }

    CDecodeCursor& m_cur;
    bool m_bInPage = false;
    size_t m_nPageStart = 0;
    CHfmTreeDecoder m_tree;
    std::vector<unsigned char> m_bits;
    unsigned m_nStride = 0;
    unsigned m_nBlocks = 0;
    size_t m_nCodedBits = 0;
};

} // namespace

bool DecodePaperang(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                    const tagDecodeLimits& limits)
{
    result = tagDecodeResult();
    CDecodeCursor cur(pData, nSize, result, limits);
    CPaperangDecoder dec(cur);
    if (!dec.Run())
        return false;
    return FinishRun(cur, result);
}

} // namespace NS_DECODE
