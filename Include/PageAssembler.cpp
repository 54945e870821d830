#include "PageAssembler.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include <cups/raster.h>

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

// Bytes of a stored row of the page image: the depth's pixel bits padded to
// 4 bytes (32-bit pages are stored at 24 bits).
size_t StoredRowBytes(unsigned width, unsigned bpp)
{
    const unsigned long long bits = static_cast<unsigned long long>(width) * (bpp == 32 ? 24 : bpp);
    return static_cast<size_t>((bits + 31) / 32 * 4);
}

} // namespace

CPageAssembler::CPageAssembler() = default;
CPageAssembler::~CPageAssembler() = default;

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
    return BeginLines(header);
}

bool CPageAssembler::Begin(const cups_page_header2_s& header,
                           const tagREGSTRUCTWITHALFTONE& halftone)
{
    if (header.cupsBitsPerPixel == 1)
        return BeginOneBit(header);
    return BeginHalftone(header, halftone) || BeginLines(header);
}

void CPageAssembler::Reset(const cups_page_header2_s& header, Mode mode)
{
    m_mode = mode;
    m_accepted = false;
    m_finished = false;
    m_lines = 0;
    m_width = header.cupsWidth;
    m_height = header.cupsHeight;
    m_bpp = header.cupsBitsPerPixel;
    m_bytesPerLine = header.cupsBytesPerLine;
    m_inkHigh = ColorSpace(header) == CUPS_CSPACE_K;
    m_image.Destroy();
}

bool CPageAssembler::BeginLines(const cups_page_header2_s& header)
{
    Reset(header, kLines);
    m_halftone.Clear();
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

bool CPageAssembler::BeginOneBit(const cups_page_header2_s& header)
{
    Reset(header, kOneBit);
    m_buffer.InitBuffer(0);
    m_halftone.Clear();
    if (!PageFits(header))
        return false;
    // The image as CreateFromArray and LoadPage make it of the lines.
    CDibImage image;
    if (!image.Create(m_width, m_height, 1, 0))
        return false;
    image.SetGrayPalette();
    image.SetXDPI(static_cast<int>(header.HWResolution[0]));
    image.SetYDPI(static_cast<int>(header.HWResolution[1]));
    m_image.Transfer(image, true);
    if (!InPlace()) {
        m_lineSize = m_bytesPerLine;
        m_line.reset(new (std::nothrow) unsigned char[m_lineSize]());
        if (!m_line) {
            m_image.Destroy();
            return false;
        }
    }
    m_accepted = true;
    return true;
}

bool CPageAssembler::BeginHalftone(const cups_page_header2_s& header,
                                   const tagREGSTRUCTWITHALFTONE& halftone)
{
    Reset(header, kHalftone);
    m_buffer.InitBuffer(0);
    if (!PageFits(header))
        return false;

    // AdjustImage: the grey conversion, Light when brightness or contrast
    // is set, then Dither(iGrayMethod - 1) or Threshold.
    const bool light = halftone.iLiangdu != 0 || halftone.iDuibidu != 0;
    if (!DibToneLevels(m_bpp == 4 ? 4 : 8, light, halftone.iLiangdu, halftone.iDuibidu, m_levels))
        return false;
    m_identityLevels = true;
    for (unsigned v = 0; v < 256 && m_identityLevels; ++v)
        m_identityLevels = m_levels[v] == v;
    const int method = halftone.iGrayMethod > 0 ? halftone.iGrayMethod - 1 : CHalftoneRows::kThreshold;
    if (!m_halftone.Begin(m_width, m_height, method,
                          static_cast<unsigned char>(halftone.iThreValue & 0xFF),
                          static_cast<int>(header.HWResolution[0]),
                          static_cast<int>(header.HWResolution[1])))
        return false;
    if (!InPlace()) {
        // Room for every byte the depth's pixels take, zero past the line.
        const unsigned long long pixelBytes =
            (static_cast<unsigned long long>(m_width) * m_bpp + 7) / 8;
        m_lineSize = std::max<size_t>(m_bytesPerLine, static_cast<size_t>(pixelBytes));
        m_line.reset(new (std::nothrow) unsigned char[m_lineSize]());
        if (!m_line) {
            m_halftone.Clear();
            return false;
        }
    }
    m_accepted = true;
    return true;
}

bool CPageAssembler::InPlace() const
{
    if (m_mode == kOneBit)
        return m_bytesPerLine <= StoredRowBytes(m_width, 1);
    return m_mode == kHalftone && m_bpp == 8 && m_bytesPerLine <= m_width;
}

unsigned char* CPageAssembler::NextLine()
{
    if (!m_accepted || m_finished || m_bytesPerLine == 0 || m_lines >= m_height)
        return nullptr;
    switch (m_mode) {
    case kLines:
        return m_buffer.GetBuffer() + m_lines * m_bytesPerLine;
    case kOneBit:
        return InPlace() ? m_image.GetBits(m_lines) : m_line.get();
    case kHalftone:
        return InPlace() ? m_halftone.NextRow() : m_line.get();
    }
    return nullptr;
}

void CPageAssembler::GreyLine(const unsigned char* line, uint8_t* out) const
{
    const unsigned w = m_width;
    const uint8_t* lv = m_levels;
    switch (m_bpp) {
    case 4:
        for (unsigned x = 0; x < w; ++x)
            out[x] = lv[(line[x >> 1] >> (4 * (1 - (x & 1)))) & 15];
        break;
    case 8:
        // Bytes past a short line are 0, as the page image stores them.
        if (line != out)
            std::memcpy(out, line, std::min<size_t>(m_bytesPerLine, w));
        if (m_bytesPerLine < w)
            std::memset(out + m_bytesPerLine, 0, w - m_bytesPerLine);
        if (!m_identityLevels)
            for (unsigned x = 0; x < w; ++x)
                out[x] = lv[out[x]];
        break;
    case 24:
        for (unsigned x = 0; x < w; ++x, line += 3)
            out[x] = lv[DibGreyOf(line[0], line[1], line[2])];
        break;
    case 32: {
        // Only whole pixels of a short line are stored; the rest are 0.
        const unsigned pixels = static_cast<unsigned>(std::min<size_t>(w, m_bytesPerLine / 4));
        unsigned x = 0;
        for (; x < pixels; ++x, line += 4)
            out[x] = lv[DibGreyOf(line[0], line[1], line[2])];
        for (; x < w; ++x)
            out[x] = lv[0];
        break;
    }
    default:
        break;
    }
}

void CPageAssembler::LineDone()
{
    unsigned char* line = NextLine();
    if (!line)
        return;
    if (m_inkHigh)
        InvertBytes(line, m_bytesPerLine);
    if (m_mode == kOneBit) {
        if (!InPlace())
            std::memcpy(m_image.GetBits(m_lines), line, m_image.GetEffWidth());
    } else if (m_mode == kHalftone) {
        GreyLine(line, m_halftone.NextRow());
        m_halftone.RowDone();
    }
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
    if (!m_accepted || m_finished)
        return;
    m_finished = true;
    switch (m_mode) {
    case kLines: {
        const size_t filled = m_lines * m_bytesPerLine;
        const size_t total = static_cast<size_t>(m_buffer.GetBufferLength());
        if (filled < total)
            std::memset(m_buffer.GetBuffer() + filled, 0xFF, total - filled);
        break;
    }
    case kOneBit: {
        // White lines; the stored row keeps 0 past a short line.
        const size_t copy = std::min<size_t>(m_bytesPerLine, m_image.GetEffWidth());
        for (unsigned y = m_lines; y < m_height; ++y) {
            unsigned char* row = m_image.GetBits(y);
            std::memset(row, 0xFF, copy);
            std::memset(row + copy, 0, m_image.GetEffWidth() - copy);
        }
        break;
    }
    case kHalftone:
        // White lines (not complemented) go through the halftoning like
        // any other: the rows above still diffuse into them.
        for (unsigned y = m_lines; y < m_height; ++y) {
            uint8_t* out = m_halftone.NextRow();
            unsigned char* line = InPlace() ? out : m_line.get();
            std::memset(line, 0xFF, m_bytesPerLine);
            GreyLine(line, out);
            m_halftone.RowDone();
        }
        break;
    }
}
