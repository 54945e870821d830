#include "PageCanvas.h"

#include <climits>

#include "DecodeCursor.h"

namespace NS_DECODE {

void CPageCanvas::Add(size_t x, size_t y, size_t nWidthBytes, size_t nHeight,
                      std::vector<unsigned char>&& ink)
{
    if (nWidthBytes == 0 || nHeight == 0)
        return;
    m_items.push_back(tagItem{x, y, nWidthBytes, nHeight, std::move(ink)});
}

bool CPageCanvas::Compose(CDecodeCursor& cur, size_t nOffset, tagDecodedPage& page)
{
    page = tagDecodedPage();
    if (m_items.empty())
        return true;

    // Offsets and sizes come from decimal fields of at most nine digits, so
    // these sums cannot overflow size_t.
    size_t nWidth = 0, nHeight = 0;
    for (const tagItem& it : m_items) {
        if (it.x + it.nWidthBytes * 8 > nWidth)
            nWidth = it.x + it.nWidthBytes * 8;
        if (it.y + it.nHeight > nHeight)
            nHeight = it.y + it.nHeight;
    }
    if (nWidth > INT_MAX || nHeight > INT_MAX) {
        m_items.clear();
        return cur.Fail(nOffset, "expected a page of at most %d × %d dots, the bitmaps reach %zu × %zu",
                        INT_MAX, INT_MAX, nWidth, nHeight);
    }

    // The usual page is one bitmap at 0,0: it is the page image as it is.
    if (m_items.size() == 1 && m_items[0].x == 0 && m_items[0].y == 0) {
        page.iWidth = static_cast<int>(nWidth);
        page.iHeight = static_cast<int>(nHeight);
        page.iStride = static_cast<int>(m_items[0].nWidthBytes);
        page.vBits = std::move(m_items[0].ink);
        m_items.clear();
        return true;
    }

    size_t nStride = (nWidth + 7) / 8;
    if (nHeight > cur.Limits().nMaxImageBytes / nStride) {
        m_items.clear();
        return cur.Fail(nOffset, "expected a page of at most %zu bytes, its bitmaps span %zu × %zu dots",
                        cur.Limits().nMaxImageBytes, nWidth, nHeight);
    }
    if (!cur.ReserveImage(nStride * nHeight, nOffset)) {
        m_items.clear();
        return false;
    }
    page.iWidth = static_cast<int>(nWidth);
    page.iHeight = static_cast<int>(nHeight);
    page.iStride = static_cast<int>(nStride);
    page.vBits.assign(nStride * nHeight, 0);
    for (const tagItem& it : m_items) {
        for (size_t r = 0; r < it.nHeight; ++r) {
            const unsigned char* src = it.ink.data() + r * it.nWidthBytes;
            unsigned char* dst = page.vBits.data() + (it.y + r) * nStride;
            for (size_t c = 0; c < it.nWidthBytes * 8; ++c) {
                if ((src[c / 8] >> (7 - c % 8)) & 1) {
                    size_t x = it.x + c;
                    dst[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
                }
            }
        }
    }
    m_items.clear();
    return true;
}

} // namespace NS_DECODE
