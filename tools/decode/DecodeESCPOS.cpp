// ESC/POS and its PeriPage dialect: binary commands starting 1B (ESC),
// 1D (GS) and, for PeriPage, 10. An ESC/POS page ends with the cut
// 1D 56, or, on a slip cut once per job or never, where the next page's
// initialise follows its image uncut (the stream itself must end with a
// cut: a stream cut short cannot be told from one never cut); a PeriPage
// page ends with 10 FF FE 45. The raster images GS v 0 of
// one page (1 = ink) are joined top to bottom into the page image, since
// a page taller than 65535 rows comes as several of them. A feed (ESC J)
// between two images of a page, or before its first, is paper passed over
// and drawn as blank rows (two dots a row in the double-height modes);
// feeds after the last image are listed, not drawn. A feed above 255 dots
// comes as a run of them.
#include <cstdio>

#include "DecodeCursor.h"
#include "StreamDecode.h"

namespace NS_DECODE {

namespace {

class CEscPosDecoder {
public:
    CEscPosDecoder(CDecodeCursor& cur, bool bPeriPage) : m_cur(cur), m_bPeriPage(bPeriPage) {}

    bool Run()
    {
        while (!m_cur.AtEnd()) {
            size_t nOffset = m_cur.Pos();
            uint8_t c = m_cur.PeekAt(0);
            if (c != 0x1B || m_cur.Left() < 2 || m_cur.PeekAt(1) != 0x4A)
                FlushFeeds();
            bool bOk;
            if (c == 0x00) {
                OpenPage(nOffset);
                m_cur.Skip(1);
                m_cur.List("  @%zu 00: NUL (no operation)", nOffset);
                bOk = true;
            } else if (c == 0x1B) {
                bOk = Esc(nOffset);
            } else if (c == 0x1D) {
                bOk = Gs(nOffset);
            } else if (c == 0x10 && m_bPeriPage) {
                bOk = Vendor(nOffset);
            } else {
                bOk = m_cur.Fail(nOffset, "expected a command (00, 1B, 1D%s), found %s",
                                 m_bPeriPage ? " or 10" : "", m_cur.DescribeAt(nOffset).c_str());
            }
            if (!bOk)
                return false;
        }
        FlushFeeds();
        if (m_bInPage)
            return m_cur.Fail(m_cur.Pos(), "expected %s to end page %d (begun at offset %zu), found end "
                              "of stream",
                              m_bPeriPage ? "the end command 10 FF FE 45" : "a cut (1D 56)",
                              m_cur.PageCount() + 1, m_nPageStart);
        return true;
    }

private:
    void OpenPage(size_t nOffset)
    {
        if (m_bInPage)
            return;
        m_bInPage = true;
        m_nPageStart = nOffset;
        m_nWidthBytes = 0;
        m_nRows = 0;
        m_nImages = 0;
        m_nPendingDots = 0;
        m_bits.clear();
        m_cur.List("page %d (offset %zu)", m_cur.PageCount() + 1, nOffset);
    }

    bool ClosePage(size_t nOffset)
    {
        tagDecodedPage page;
        if (m_nRows > 0) {
            page.iWidth = static_cast<int>(m_nWidthBytes * 8);
            page.iHeight = static_cast<int>(m_nRows);
            page.iStride = static_cast<int>(m_nWidthBytes);
            page.vBits.swap(m_bits);
            m_cur.List("  page %d: image %d × %d dots from %d raster image(s)", m_cur.PageCount() + 1,
                       page.iWidth, page.iHeight, m_nImages);
        } else {
            m_cur.List("  page %d: no raster image", m_cur.PageCount() + 1);
        }
        m_cur.AddPage(std::move(page));
        m_bInPage = false;
        m_bits.clear();
        return true;
    }

    void FlushFeeds()
    {
        if (m_nFeedRun > 1)
            m_cur.List("  feed run: %d commands, %ld dots in all", m_nFeedRun, m_nFeedDots);
        m_nFeedRun = 0;
        m_nFeedDots = 0;
    }

    bool Esc(size_t nOffset)
    {
        uint8_t cmd = 0, n = 0;
        m_cur.Skip(1);
        if (!m_cur.ReadU8(cmd, "an ESC command byte after 1B"))
            return false;
        if (cmd == 0x40) {
            // ESC/POS pages start with the initialise; meeting one after the
            // page's image means the page was not cut: the next one follows
            // on the same slip.
            if (m_bInPage && !m_bPeriPage && m_nImages > 0) {
                m_cur.List("  page %d: not cut, the next page follows on the same slip",
                           m_cur.PageCount() + 1);
                if (!ClosePage(nOffset))
                    return false;
            }
            OpenPage(nOffset);
            m_cur.List("  @%zu 1B 40: initialise printer", nOffset);
            return true;
        }
        if (cmd == 0x70) {
            // A cash drawer kick belongs to no page: it may follow the last cut.
            uint8_t m = 0, on = 0, off = 0;
            if (!m_cur.ReadU8(m, "the pin byte of ESC p") || !m_cur.ReadU8(on, "the on time of ESC p") ||
                !m_cur.ReadU8(off, "the off time of ESC p"))
                return false;
            if (m != 0 && m != 1 && m != 48 && m != 49)
                return m_cur.Fail(nOffset + 2, "expected ESC p pin 0, 1, 48 or 49, found %u", m);
            m_cur.List("  @%zu 1B 70 %02X %02X %02X: cash drawer %d (pin %d), %u ms on, %u ms off",
                       nOffset, m, on, off, (m & 1) + 1, (m & 1) ? 5 : 2, on * 2u, off * 2u);
            return true;
        }
        OpenPage(nOffset);
        if (cmd == 0x61) {
            if (!m_cur.ReadU8(n, "the justification byte of ESC a"))
                return false;
            const char* what = n == 0 || n == 48 ? "left" : n == 1 || n == 49 ? "centre"
                               : n == 2 || n == 50                   ? "right"
                                                                     : nullptr;
            if (!what)
                return m_cur.Fail(nOffset + 2, "expected justification 0, 1, 2, 48, 49 or 50, found %u", n);
            m_cur.List("  @%zu 1B 61 %02X: justification %s", nOffset, n, what);
            return true;
        }
        if (cmd == 0x4A) {
            if (!m_cur.ReadU8(n, "the dot count of ESC J"))
                return false;
            m_cur.List("  @%zu 1B 4A %02X: print and feed %u dots", nOffset, n, n);
            ++m_nFeedRun;
            m_nFeedDots += n;
            m_nPendingDots += n;
            return true;
        }
        return m_cur.Fail(nOffset + 1, "expected an ESC command this printer stream uses (40, 61, 4A, 70), "
                          "found byte 0x%02X", cmd);
    }

    bool Gs(size_t nOffset)
    {
        uint8_t cmd = 0;
        m_cur.Skip(1);
        if (!m_cur.ReadU8(cmd, "a GS command byte after 1D"))
            return false;
        OpenPage(nOffset);
        if (cmd == 0x76)
            return Raster(nOffset);
        if (cmd == 0x56)
            return Cut(nOffset);
        if (cmd == 0x0C) {
            m_cur.List("  @%zu 1D 0C: feed marked paper to the next print start", nOffset);
            return true;
        }
        return m_cur.Fail(nOffset + 1, "expected a GS command this printer stream uses (76, 56, 0C), "
                          "found byte 0x%02X", cmd);
    }

    bool Raster(size_t nOffset)
    {
        uint8_t m = 0;
        uint16_t w = 0, h = 0;
        if (!m_cur.ExpectByte(0x30, "the function byte of GS v 0") || !m_cur.ReadU8(m, "the mode byte of GS v 0"))
            return false;
        static const char* const kModes[] = {"normal", "double width", "double height", "quadruple"};
        if (!(m <= 3 || (m >= 48 && m <= 51)))
            return m_cur.Fail(nOffset + 3, "expected GS v 0 mode 0 to 3 or 48 to 51, found %u", m);
        if (!m_cur.ReadU16(w, "the width in bytes of GS v 0 (xL xH)") || !m_cur.ReadU16(h, "the height of GS v 0 (yL yH)"))
            return false;
        size_t nBytes = static_cast<size_t>(w) * h;
        char what[80];
        snprintf(what, sizeof what, "raster data of %u × %u bytes", w, h);
        const unsigned char* p = nullptr;
        if (!m_cur.ReadBytes(nBytes, p, what))
            return false;
        m_cur.List("  @%zu 1D 76 30 %02X %02X %02X %02X %02X: raster image, mode %u (%s), %u bytes "
                   "(%u dots) × %u rows, %zu data bytes",
                   nOffset, m, w & 0xFF, w >> 8, h & 0xFF, h >> 8, m, kModes[m & 3], w, w * 8u, h, nBytes);
        if (nBytes == 0)
            return true;
        if (m_nRows > 0 && w != m_nWidthBytes)
            return m_cur.Fail(nOffset + 4, "expected the width of page %d's earlier raster image, %zu "
                              "bytes (images of a page are joined top to bottom), found %u",
                              m_cur.PageCount() + 1, m_nWidthBytes, w);
        // The paper fed since the image before (or the page's start) is
        // blank rows of this image's width.
        const size_t nFedRows = static_cast<size_t>(m_nPendingDots) / ((m & 2) ? 2 : 1);
        m_nPendingDots = 0;
        if (nFedRows > 0) {
            const size_t nBlank = nFedRows * w;
            if (nBlank > m_cur.Limits().nMaxImageBytes - m_bits.size() ||
                !m_cur.ReserveImage(nBlank, nOffset))
                return m_cur.Fail(nOffset, "expected page %d to stay within %zu bytes, the paper "
                                  "fed before this raster image takes it beyond",
                                  m_cur.PageCount() + 1, m_cur.Limits().nMaxImageBytes);
            m_bits.insert(m_bits.end(), nBlank, 0);
            m_nRows += nFedRows;
            m_cur.List("  %zu blank rows fed before this image", nFedRows);
        }
        if (nBytes > m_cur.Limits().nMaxImageBytes - m_bits.size())
            return m_cur.Fail(nOffset, "expected page %d to stay within %zu bytes, this raster image "
                              "takes it beyond", m_cur.PageCount() + 1, m_cur.Limits().nMaxImageBytes);
        if (!m_cur.ReserveImage(nBytes, nOffset))
            return false;
        m_nWidthBytes = w;
        m_bits.insert(m_bits.end(), p, p + nBytes);
        m_nRows += h;
        if (++m_nImages > 1)
            m_cur.List("  joined below the image before: page image now %zu × %zu dots", m_nWidthBytes * 8,
                       m_nRows);
        return true;
    }

    bool Cut(size_t nOffset)
    {
        uint8_t m = 0, n = 0;
        if (!m_cur.ReadU8(m, "the mode byte of GS V"))
            return false;
        if (m == 0 || m == 48 || m == 1 || m == 49) {
            m_cur.List("  @%zu 1D 56 %02X: %s cut", nOffset, m, (m & 1) ? "partial" : "full");
        } else if (m == 65 || m == 66) {
            if (!m_cur.ReadU8(n, "the feed byte of GS V 65/66"))
                return false;
            m_cur.List("  @%zu 1D 56 %02X %02X: feed %u dots and %s cut", nOffset, m, n, n,
                       m == 66 ? "partial" : "full");
        } else {
            return m_cur.Fail(nOffset + 2, "expected GS V mode 0, 1, 48, 49, 65 or 66, found %u", m);
        }
        if (m_bPeriPage)
            return true;
        return ClosePage(nOffset);
    }

    bool Vendor(size_t nOffset)
    {
        static const char kExpected[] =
            "a PeriPage command (10 FF FE 01, 10 FF FE 45, 10 FF 10 00 d, 10 FF 10 03 m or 10 50)";
        uint8_t a = 0, b = 0, c = 0, v = 0;
        m_cur.Skip(1);
        if (!m_cur.ReadU8(a, kExpected))
            return false;
        if (a == 0x50) {
            OpenPage(nOffset);
            m_cur.List("  @%zu 10 50: cut line (continuous paper)", nOffset);
            return true;
        }
        if (a != 0xFF)
            return m_cur.Fail(nOffset + 1, "expected %s, found 10 %02X", kExpected, a);
        if (!m_cur.ReadU8(b, kExpected))
            return false;
        if (b == 0xFE) {
            if (!m_cur.ReadU8(c, "the second byte of 10 FF FE (01 start or 45 end)"))
                return false;
            if (c == 0x01) {
                if (m_bInPage)
                    return m_cur.Fail(nOffset, "expected the end command 10 FF FE 45 to end page %d "
                                      "before the next start 10 FF FE 01", m_cur.PageCount() + 1);
                OpenPage(nOffset);
                m_cur.List("  @%zu 10 FF FE 01: start of page", nOffset);
                return true;
            }
            if (c == 0x45) {
                OpenPage(nOffset);
                m_cur.List("  @%zu 10 FF FE 45: end of page", nOffset);
                return ClosePage(nOffset);
            }
            return m_cur.Fail(nOffset + 3, "expected 01 (start) or 45 (end) after 10 FF FE, found %02X", c);
        }
        if (b == 0x10) {
            if (!m_cur.ReadU8(c, "the setting byte of 10 FF 10 (00 density or 03 paper type)"))
                return false;
            if (c != 0x00 && c != 0x03)
                return m_cur.Fail(nOffset + 3, "expected 00 (density) or 03 (paper type) after 10 FF 10, "
                                  "found %02X", c);
            if (!m_cur.ReadU8(v, c == 0 ? "the density byte of 10 FF 10 00" : "the paper type byte of 10 FF 10 03"))
                return false;
            OpenPage(nOffset);
            if (c == 0x00) {
                m_cur.List("  @%zu 10 FF 10 00 %02X: density %u", nOffset, v, v);
            } else {
                static const char* const kPaper[] = {"black line", "continuous", "gap", "perforated"};
                if (v > 3) {
                    m_cur.List("  @%zu 10 FF 10 03 %02X: paper type %u", nOffset, v, v);
                    m_cur.Warn(nOffset + 4, "unknown PeriPage paper type %u", v);
                } else {
                    m_cur.List("  @%zu 10 FF 10 03 %02X: paper type %s", nOffset, v, kPaper[v]);
                }
            }
            return true;
        }
        return m_cur.Fail(nOffset + 2, "expected %s, found 10 FF %02X", kExpected, b);
    }

    CDecodeCursor& m_cur;
    bool m_bPeriPage;
    bool m_bInPage = false;
    size_t m_nPageStart = 0;
    size_t m_nWidthBytes = 0;
    size_t m_nRows = 0;
    int m_nImages = 0;
    std::vector<unsigned char> m_bits;
    int m_nFeedRun = 0;
    long m_nFeedDots = 0;
    // Dots fed since the page's last raster image (or its start).
    long m_nPendingDots = 0;
};

bool Decode(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
            const tagDecodeLimits& limits, bool bPeriPage)
{
    result = tagDecodeResult();
    CDecodeCursor cur(pData, nSize, result, limits);
    CEscPosDecoder dec(cur, bPeriPage);
    if (!dec.Run())
        return false;
    return FinishRun(cur, result);
}

} // namespace

bool DecodeESCPOS(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                  const tagDecodeLimits& limits)
{
    return Decode(pData, nSize, result, limits, false);
}

bool DecodePeriPage(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                    const tagDecodeLimits& limits)
{
    return Decode(pData, nSize, result, limits, true);
}

} // namespace NS_DECODE
