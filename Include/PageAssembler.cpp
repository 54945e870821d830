#include "PageAssembler.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include <cups/raster.h>

#include "DibImage.h"

namespace {

// Complements n bytes in place, eight at a time.
void InvertBytes(unsigned char* p, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        w = ~w;
        std::memcpy(p + i, &w, 8);
    }
    for (; i < n; ++i)
        p[i] = static_cast<unsigned char>(~p[i]);
}

// The colour space as the integer the stream carried: a value outside the
// enum's range must not be loaded as the enum type.
int ColorSpace(const cups_page_header2_t& h)
{
    int value;
    static_assert(sizeof h.cupsColorSpace == sizeof value, "header enums are 32-bit integers");
    std::memcpy(&value, &h.cupsColorSpace, sizeof value);
    return value;
}

} // namespace

bool CPageAssembler::PageFits(const cups_page_header2_s& h)
{
    const unsigned bpp = h.cupsBitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return false;
    if (!CDibImage::CanCreate(h.cupsWidth, h.cupsHeight, bpp))
        return false;
    const unsigned long long bytes =
        static_cast<unsigned long long>(h.cupsHeight) * h.cupsBytesPerLine;
    if (bytes > static_cast<unsigned long long>(INT_MAX))
        return false;
    const unsigned long long lineNeeds = (static_cast<unsigned long long>(h.cupsWidth) * bpp + 7) / 8;
    return h.cupsBytesPerLine <= lineNeeds ||
           bytes <= static_cast<unsigned long long>(CDibImage::kMaxMemory);
}

bool CPageAssembler::Begin(const cups_page_header2_s& header)
{
    m_accepted = false;
    m_lines = 0;
    m_height = header.cupsHeight;
    m_bytesPerLine = header.cupsBytesPerLine;
    m_inkHigh = ColorSpace(header) == CUPS_CSPACE_K;
    if (!PageFits(header)) {
        m_buffer.InitBuffer(0);
        return false;
    }
    const int pageBytes = static_cast<int>(header.cupsHeight * header.cupsBytesPerLine);
    m_buffer.InitBuffer(pageBytes);
    if (m_buffer.GetBufferLength() != pageBytes) {
        // No memory for the page.
        m_buffer.InitBuffer(0);
        return false;
    }
    m_accepted = true;
    return true;
}

unsigned char* CPageAssembler::NextLine()
{
    if (!m_accepted || m_bytesPerLine == 0 || m_lines >= m_height)
        return nullptr;
    return m_buffer.GetBuffer() + m_lines * m_bytesPerLine;
}

void CPageAssembler::LineDone()
{
    unsigned char* line = NextLine();
    if (!line)
        return;
    if (m_inkHigh)
        InvertBytes(line, m_bytesPerLine);
    ++m_lines;
}

bool CPageAssembler::AddLine(const void* data)
{
    unsigned char* line = NextLine();
    if (!line || !data)
        return false;
    std::memcpy(line, data, m_bytesPerLine);
    LineDone();
    return true;
}

void CPageAssembler::Finish()
{
    if (!m_accepted)
        return;
    const size_t filled = m_lines * m_bytesPerLine;
    const size_t total = static_cast<size_t>(m_buffer.GetBufferLength());
    if (filled < total)
        std::memset(m_buffer.GetBuffer() + filled, 0xFF, total - filled);
}
