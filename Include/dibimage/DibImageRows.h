// The tone transforms for a page that arrives one row at a time: the grey
// level of a pixel, the level table of the grey conversion and Light, and
// the halftoning of grey rows into a one-bit page. Each gives, bit for bit,
// what the whole-page transforms of CDibImage give; the grey page itself
// is never held whole.
#pragma once

#include <cstdint>
#include <memory>

#include "DibImage.h"

// The grey level GrayScale gives a pixel of a 24-bit page (integer weights
// that sum to 1024, so equal channels keep their value).
inline uint8_t DibGreyOf(unsigned blue, unsigned green, unsigned red)
{
    return static_cast<uint8_t>((blue * 117 + green * 601 + red * 306) >> 10);
}

// The level every stored value of a grey page of bpp bits (4 or 8, with the
// grey palette CreateFromArray gives it) has once GrayScale and, when
// `light`, Light(brightness, contrast) have run on the page: levels[v] for
// v below 2^bpp. Found by running those transforms on a one-row page that
// holds every value once. A 24-bit page is first made 8-bit by GrayScale,
// so its levels are the 8-bit ones of its grey. False when memory runs out.
bool DibToneLevels(unsigned bpp, bool light, int brightness, int contrast, uint8_t* levels);

// Halftones a page given as rows of 8-bit grey levels, top row first, into
// the one-bit page that Threshold or Dither makes of the whole grey page:
// the same bits, palette and information record. The error diffusions run
// over bands of rows (DibImageBands.h) and hold a band and the rows their
// kernel reaches below it; the other methods hold one row.
class CHalftoneRows {
public:
    // Threshold instead of a Dither method.
    static constexpr int kThreshold = -1;

    CHalftoneRows();
    ~CHalftoneRows();
    CHalftoneRows(const CHalftoneRows&) = delete;
    CHalftoneRows& operator=(const CHalftoneRows&) = delete;

    // Starts a page of width x height. method: kThreshold (white above
    // level) or a Dither method number. Dither's result keeps its source's
    // information record, here a page image of xdpi x ydpi; Threshold's
    // starts afresh. False, with no page, when the method needs a band
    // diffusion that cannot be had for this width (Dither then goes row by
    // row over the whole page) or memory runs out.
    bool Begin(unsigned width, unsigned height, int method, unsigned char level, int xdpi, int ydpi);
    // Lets go of the page and its rows.
    void Clear();

    // Storage for the next row's width levels; null once every row of the
    // page has been given (or no page was begun).
    uint8_t* NextRow();
    // The row NextRow gave holds its levels. Rows are halftoned as soon as
    // every row their result depends on has been given.
    void RowDone();

    unsigned RowsDone() const { return m_rows; }
    // The one-bit page, complete once all rows are done; its owner may take
    // it (CDibImage::Transfer).
    CDibImage& Result() { return m_result; }

private:
    struct tagState;
    std::unique_ptr<tagState> m_state;
    CDibImage m_result;
    unsigned m_width = 0;
    unsigned m_height = 0;
    unsigned m_rows = 0;
};
