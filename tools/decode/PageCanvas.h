// Collects the bitmaps placed on one page (TSPL BITMAP, CPCL CG) and lays
// them onto one page image when the page is printed.
#pragma once

#include <cstddef>
#include <vector>

#include "DecodeTypes.h"

namespace NS_DECODE {

class CDecodeCursor;

class CPageCanvas {
public:
    // A bitmap of nWidthBytes × nHeight bytes, packed rows, set bit = ink,
    // with its top left corner at dot x, row y of the page.
    void Add(size_t x, size_t y, size_t nWidthBytes, size_t nHeight, std::vector<unsigned char>&& ink);
    bool IsEmpty() const { return m_items.empty(); }
    // Builds the page: the smallest image from 0,0 that covers every
    // bitmap, ink where any bitmap has ink. A page without bitmaps is 0 × 0.
    // Fails (through the cursor, at nOffset) when the page would exceed the
    // image limits. The canvas is empty afterwards.
    bool Compose(CDecodeCursor& cur, size_t nOffset, tagDecodedPage& page);
    void Clear() { m_items.clear(); }

private:
    struct tagItem {
        size_t x;
        size_t y;
        size_t nWidthBytes;
        size_t nHeight;
        std::vector<unsigned char> ink;
    };
    std::vector<tagItem> m_items;
};

} // namespace NS_DECODE
