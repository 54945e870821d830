// Builds a page from its lines, handed over one at a time. Pages the image
// core cannot take are refused before anything of their size is allocated;
// lines of colour space K (ink high) are complemented to white high; lines
// that never arrive are white paper.
//
// Begun with the render object's halftone settings, the assembler makes the
// page one bit a dot as its lines arrive: a one-bit page is copied into the
// page image, a deeper one goes through the grey conversion, the tone table
// (brightness, contrast) and the threshold or dither of those settings a
// few rows at a time, so the page is never held at its full depth. Begun
// without them, it keeps the lines as they came. A front end reads a page
// so:
//
//     CPageAssembler page;              // one for the job
//     page.Begin(header, render.m_regHalftone);
//     while (...)
//         page.AddLine(line);           // or NextLine() and LineDone()
//     page.Finish();
//     if (render.LoadPage(&header, page))
//         render.PrintPage();
//
// The render object's settings must be read before the page's lines come
// and stay as they are until the page is printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "DibImage.h"
#include "DibImageRows.h"
#include "MyBuffer.h"
#include "MyPrinterData.h"

struct cups_page_header2_s;

class CPageAssembler {
public:
    CPageAssembler();
    ~CPageAssembler();
    CPageAssembler(const CPageAssembler&) = delete;
    CPageAssembler& operator=(const CPageAssembler&) = delete;

    // Whether a page with this header is read at all: a depth the image core
    // takes, a size within its limit, and a page buffer whose size fits the
    // buffer's int length. Lines longer than the width needs are held only
    // while the whole buffer stays within the image core's limit: a header
    // could otherwise claim up to 2 GB of page buffer for an image of a few
    // pixels.
    static bool PageFits(const cups_page_header2_s& header);

    // Starts a page whose lines are kept as they come (Lines()). Returns
    // false, holding no lines, when the page does not fit or its buffer
    // cannot be allocated: the caller drops its data.
    bool Begin(const cups_page_header2_s& header);
    // Starts a page that becomes one bit a dot as its lines arrive (Image()),
    // halftoned with these settings as CBaseRender::AdjustImage would
    // halftone the whole page. Refuses the same pages as Begin(header). A
    // page the row-by-row halftoning cannot take (an error diffusion on a
    // page wider than its bands) is kept as it comes instead.
    bool Begin(const cups_page_header2_s& header, const tagREGSTRUCTWITHALFTONE& halftone);

    // Storage for the next line (the header's cupsBytesPerLine bytes), or
    // null once the page has all its lines or was refused.
    unsigned char* NextLine();
    // The line NextLine gave has been filled.
    void LineDone();
    // Copies one line in; false when the page takes no more lines.
    bool AddLine(const void* line);

    // Ends the page: the lines that did not arrive, a partly filled one
    // included, become white.
    void Finish();

    bool Accepted() const { return m_accepted; }
    bool Finished() const { return m_finished; }
    unsigned LinesReceived() const { return m_lines; }
    unsigned LinesExpected() const { return m_height; }

    // Whether the finished page is the one-bit page image (Image()) rather
    // than its lines (Lines()).
    bool OneBit() const { return m_accepted && m_mode != kLines; }

    // The page buffer of a page kept as it came: cupsHeight lines of
    // cupsBytesPerLine bytes once the page is finished; empty for a refused
    // page and for a one-bit page.
    const CMyBuffer& Lines() const { return m_buffer; }

    // The one-bit page as the page image preparation leaves it after its
    // tone steps: white bits set, the palette and resolution record the
    // whole-page path gives it. Valid once a one-bit page is finished; the
    // render object takes it over (CBaseRender::LoadPage).
    CDibImage& Image() { return m_mode == kHalftone ? m_halftone.Result() : m_image; }

private:
    enum Mode { kLines, kOneBit, kHalftone };

    // The state every Begin starts from: the page's geometry, no lines, no
    // image.
    void Reset(const cups_page_header2_s& header, Mode mode);
    bool BeginLines(const cups_page_header2_s& header);
    bool BeginOneBit(const cups_page_header2_s& header);
    bool BeginHalftone(const cups_page_header2_s& header, const tagREGSTRUCTWITHALFTONE& halftone);
    // The grey levels of a line as stored (cupsBytesPerLine bytes) into out.
    void GreyLine(const unsigned char* line, uint8_t* out) const;
    // Whether lines go straight into the storage of the page image or the
    // halftoning's rows, instead of through m_line.
    bool InPlace() const;

    // One buffer for the job: it keeps its storage from page to page.
    CMyBuffer m_buffer;
    Mode m_mode = kLines;
    size_t m_bytesPerLine = 0;
    unsigned m_width = 0;
    unsigned m_height = 0;
    unsigned m_bpp = 0;
    unsigned m_lines = 0;
    bool m_inkHigh = false;
    bool m_accepted = false;
    bool m_finished = false;

    // One-bit pages.
    CDibImage m_image;
    // Deeper pages: the level of each stored value, the line as it came
    // (zero past its end), and the halftoning.
    uint8_t m_levels[256] = {};
    bool m_identityLevels = false;
    std::unique_ptr<unsigned char[]> m_line;
    size_t m_lineSize = 0;
    CHalftoneRows m_halftone;
};
