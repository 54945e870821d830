// Builds a page's lines, handed over one at a time, into the page buffer a
// render object makes its page image from. Pages the image core cannot take
// are refused before anything of their size is allocated; lines of colour
// space K (ink high) are complemented to white high; lines that never
// arrive are white paper.
#pragma once

#include <cstddef>

#include "MyBuffer.h"

struct cups_page_header2_s;

class CPageAssembler {
public:
    // Whether a page with this header is read at all: a depth the image core
    // takes, a size within its limit, and a page buffer whose size fits the
    // buffer's int length. Lines longer than the width needs are held only
    // while the whole buffer stays within the image core's limit: a header
    // could otherwise claim up to 2 GB of page buffer for an image of a few
    // pixels.
    static bool PageFits(const cups_page_header2_s& header);

    // Starts a page. Returns false, holding no lines, when the page does not
    // fit or its buffer cannot be allocated: the caller drops its data.
    bool Begin(const cups_page_header2_s& header);

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
    unsigned LinesReceived() const { return m_lines; }
    unsigned LinesExpected() const { return m_height; }

    // The page buffer: cupsHeight lines of cupsBytesPerLine bytes once the
    // page is finished, empty for a refused page.
    const CMyBuffer& Lines() const { return m_buffer; }

private:
    // One buffer for the job: it keeps its storage from page to page.
    CMyBuffer m_buffer;
    size_t m_bytesPerLine = 0;
    unsigned m_height = 0;
    unsigned m_lines = 0;
    bool m_inkHigh = false;
    bool m_accepted = false;
};
