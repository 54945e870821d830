#include "BaseRender.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <climits>
#include <cstring>
#include <new>
#include <syslog.h>
#include <vector>

#include <cups/raster.h>

#include "PageAssembler.h"

CBaseRender::CBaseRender()
    : m_image(0), m_iDpi(0), m_ppd(nullptr), m_header(nullptr), m_bInit(false)
{
}

CBaseRender::~CBaseRender() {}

void CBaseRender::OnStartDoc(unsigned long) {}
void CBaseRender::OnEndDoc() { OnDestroy(); }
void CBaseRender::OnInit() {}
void CBaseRender::OnDestroy() {}
void CBaseRender::OnStartPage() {}
void CBaseRender::OnEndPage() {}
void CBaseRender::OnBeginBmp()
{
    if (m_job)
        m_job->PreparePage(*this);
}
void CBaseRender::OnEndBmp() {}
void CBaseRender::OnPaintBmp() {}
void CBaseRender::WriteSpool(const void* data, int length)
{
    if (m_job && length > 0)
        m_job->Write(data, length);
}

void CBaseRender::AddLog(const char* format, ...)
{
    if (!m_job)
        return;
    va_list args;
    va_start(args, format);
    m_job->LogV(LOG_DEBUG, format, args);
    va_end(args);
}

void CBaseRender::GetPrinterParameters()
{
    AddLog("CBaseRender::GetPrinterParameters");
}

void CBaseRender::SetCopies(int copies, bool collate)
{
    m_iCopies = copies > 1 ? copies : 1;
    m_bCollate = collate;
}

void CBaseRender::WritePageCopies(const void* data, int length)
{
    if (m_iCopies > 1 && m_bCollate) {
        WriteSpool(data, length);
        KeepForCopies(data, length);
        return;
    }
    for (int i = 0; i < m_iCopies && (i == 0 || !IsJobCanceled()); ++i)
        WriteSpool(data, length);
}

void CBaseRender::KeepForCopies(const void* data, int length)
{
    if (m_iCopies < 2 || m_bKeptTooMuch || length <= 0)
        return;
    if (static_cast<long long>(m_keptCopies.size()) + length <= kMaxKeptCopies) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        try {
            m_keptCopies.insert(m_keptCopies.end(), p, p + length);
            return;
        } catch (const std::bad_alloc&) {
        }
    }
    DropKeptCopies();
    m_bKeptTooMuch = true;
    AddLog("KeepForCopies: no room for %lld bytes of the job's stream, further copies dropped",
           kMaxKeptCopies);
    Report(CRenderJob::kError,
           "Only one copy is printed: the job is too large (over %lld MiB for the printer, or "
           "more than the memory holds) to repeat its pages for collated copies.",
           kMaxKeptCopies >> 20);
}

void CBaseRender::WriteKeptCopies(const void* tail, int tailLength)
{
    if (!m_keptCopies.empty() && !IsJobCanceled()) {
        for (int i = 1; i < m_iCopies && !IsJobCanceled(); ++i) {
            WriteSpool(m_keptCopies.data(), static_cast<int>(m_keptCopies.size()));
            if (tail && tailLength > 0)
                WriteSpool(tail, tailLength);
        }
    }
    DropKeptCopies();
}

void CBaseRender::DropKeptCopies()
{
    m_keptCopies.clear();
    m_keptCopies.shrink_to_fit();
    m_bKeptTooMuch = false;
}

void CBaseRender::SetModelName(const char* name)
{
    m_strModelName = name ? name : "";
}

int CBaseRender::mm_2_dots(int mm) const
{
    const double dots = mm * (m_iDpi / 25.4) + 0.9999;
    // A hostile page header can carry any resolution: keep the conversion
    // inside int instead of overflowing it.
    if (dots >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (dots <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(dots);
}

int CBaseRender::FineOffsetDots(int hundredths) const
{
    const double dots = hundredths * (m_iDpi / 2540.0);
    if (!(dots > static_cast<double>(INT_MIN) && dots < static_cast<double>(INT_MAX)))
        return 0;
    return static_cast<int>(dots < 0 ? dots - 0.5 : dots + 0.5);
}

void CBaseRender::Report(CRenderJob::Level level, const char* format, ...)
{
    if (!m_job)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    m_job->Report(level, text);
}

void CBaseRender::RefusePage(const char* format, ...)
{
    if (!m_job)
        return;
    char why[768];
    va_list args;
    va_start(args, format);
    std::vsnprintf(why, sizeof why, format, args);
    va_end(args);
    const int page = m_job->Pages();
    if (page > 0)
        Report(CRenderJob::kError, "Page %d not printed: %s.", page, why);
    else
        Report(CRenderJob::kError, "Page not printed: %s.", why);
}

bool CBaseRender::LoadPage(cups_page_header2_s* header, CPageAssembler& page)
{
    if (!page.OneBit() || !page.Finished())
        return LoadPage(header, page.Lines());
    m_header = header;
    m_iDpi = static_cast<int>(header->HWResolution[0]);
    m_image.Transfer(page.Image(), true);
    m_bToneDone = true;
    return m_image.IsValid();
}

bool CBaseRender::LoadPage(cups_page_header2_s* header, const CMyBuffer& lines)
{
    m_header = header;
    m_iDpi = static_cast<int>(header->HWResolution[0]);
    m_bToneDone = false;

    // The buffer must hold every line of the page; a page that was refused
    // on intake arrives without them.
    const unsigned long long pageBytes =
        static_cast<unsigned long long>(header->cupsHeight) * header->cupsBytesPerLine;
    const bool complete = pageBytes <= static_cast<unsigned long long>(INT_MAX) &&
                          static_cast<unsigned long long>(lines.GetBufferLength()) >= pageBytes;
    if (!complete ||
        !m_image.CreateFromArray(lines.GetBuffer(), header->cupsWidth, header->cupsHeight,
                                 header->cupsBitsPerPixel, header->cupsBytesPerLine, false)) {
        if (!complete)
            m_image.Destroy();
        return false;
    }
    m_image.SetXDPI(static_cast<int>(header->HWResolution[0]));
    m_image.SetYDPI(static_cast<int>(header->HWResolution[1]));
    return true;
}

void CBaseRender::PrintPage()
{
    OnStartPage();
    OnBeginBmp();
    OnPaintBmp();
    OnEndBmp();
}

void CBaseRender::PreparePage()
{
    if (!m_bInit) {
        OnInit();
        m_bInit = true;
    }
    AdjustImage();
    FitSlip();
    FitHeadWidth();
}

void CBaseRender::FitHeadWidth()
{
    const int head = m_reg.iHeadDots;
    if (head <= 0 || !m_image.IsValid() || m_image.GetWidth() <= static_cast<unsigned>(head))
        return;
    const unsigned width = m_image.GetWidth();
    const unsigned height = m_image.GetHeight();
    CDibImage cut(0);
    if (!m_image.Crop(0, 0, head, static_cast<int>(height), &cut)) {
        AddLog("FitHeadWidth: cannot cut the page of %u x %u dots to %d dots", width, height, head);
        return;
    }
    m_image = cut;
    AdjustEffWidthBits();
    AddLog("FitHeadWidth: page of %u dots cut to %d", width, head);
    if (!m_bHeadWarned) {
        m_bHeadWarned = true;
        Report(CRenderJob::kWarning,
               "The page is %u dots wide, the printer prints %d dots: the right part of the page "
               "was cut off.",
               width, head);
    }
}

void CBaseRender::AdjustImage()
{
    if (!m_bToneDone) {
        if (m_image.GetBpp() >= 24)
            m_image.GrayScale();

        if (m_regHalftone.iLiangdu != 0 || m_regHalftone.iDuibidu != 0)
            m_image.Light(m_regHalftone.iLiangdu, m_regHalftone.iDuibidu);

        if (m_regHalftone.iGrayMethod > 0)
            m_image.Dither(m_regHalftone.iGrayMethod - 1);
        else
            m_image.Threshold(static_cast<unsigned char>(m_regHalftone.iThreValue & 0xFF));
    }

    if (m_reg.iScale != 100) {
        const unsigned scale = static_cast<unsigned>(m_reg.iScale);
        const unsigned nx = m_image.GetWidth() * scale / 100u;
        const unsigned ny = m_image.GetHeight() * scale / 100u;
        m_image.Resample(static_cast<int>(nx), static_cast<int>(ny), 1, nullptr);
    }

    // Argument order is top, bottom, left, right.
    CropWhiteEdge(m_regHalftone.iCropTopEdge, m_regHalftone.iCropBottomEdge,
                  m_regHalftone.iCropLeftEdge, m_regHalftone.iCropRightEdge);

    if (m_reg.bMirror)
        m_image.Mirror(false, true);

    if (m_reg.bNegative)
        Negative();

    switch (m_reg.iRotate) {
    case 1:
        m_image.Rotate(180.0f, nullptr);
        break;
    case 2:
        m_image.Rotate(90.0f, nullptr);
        break;
    case 3:
        m_image.Rotate(270.0f, nullptr);
        break;
    default:
        break;
    }

    AdjustEffWidthBits();
}

namespace {

// Ink test of the preparation: in the one-bit page image a clear bit is ink.
// Other depths (a binarisation that failed) count palette index 0 as ink.
bool IsInk(const CDibImage& img, unsigned x, unsigned y)
{
    if (img.GetBpp() == 1) {
        const unsigned char* row = img.GetBits(y);
        return ((row[x >> 3] >> (7 - (x & 7))) & 1) == 0;
    }
    return img.GetPixelIndex(static_cast<long>(x), static_cast<long>(y)) == 0;
}

// The first column of row y with ink, or -1.
long FirstInk(const CDibImage& img, long y, long width)
{
    for (long x = 0; x < width; ++x)
        if (IsInk(img, static_cast<unsigned>(x), static_cast<unsigned>(y)))
            return x;
    return -1;
}

// Whether row y of a one-bit image holds ink; if so, its first and last ink
// columns. Whole bytes of white are passed over; the bits after the width
// are not looked at.
bool InkSpan(const CDibImage& img, long y, long& first, long& last)
{
    const unsigned char* row = img.GetBits(static_cast<unsigned>(y));
    const long width = static_cast<long>(img.GetWidth());
    const long bytes = (width + 7) / 8;
    // Ink bits of byte i: the clear bits that are pixels.
    auto ink = [&](long i) -> unsigned {
        unsigned bits = static_cast<unsigned char>(~row[i]);
        if (i == bytes - 1 && width % 8)
            bits &= 0xFFu << (8 - width % 8);
        return bits & 0xFFu;
    };
    long i = 0;
    while (i < bytes && ink(i) == 0)
        ++i;
    if (i == bytes)
        return false;
    unsigned bits = ink(i);
    first = 8 * i;
    while (!(bits & 0x80u)) {
        bits <<= 1;
        ++first;
    }
    long j = bytes - 1;
    while (ink(j) == 0)
        --j;
    bits = ink(j);
    last = 8 * j + 7;
    while (!(bits & 1u)) {
        bits >>= 1;
        --last;
    }
    return true;
}

// R, the first column not kept, from the last ink column x: up to
// dRight + 1 white columns are dropped on this side.
long RightEdge(long x, long W, long dRight)
{
    long R = x + 1;
    if (x + 1 < W - dRight - 1 && dRight + 1 < W)
        R = W - dRight - 1;
    return R;
}

} // namespace

void CBaseRender::CropWhiteEdge(int top, int bottom, int left, int right)
{
    for (long& c : m_cropped)
        c = 0;
    if (top == 0 && bottom == 0 && left == 0 && right == 0)
        return;

    // A negative limit crops that side without limit.
    const int kUnlimitedMm = 9999;
    if (top < 0)
        top = kUnlimitedMm;
    if (bottom < 0)
        bottom = kUnlimitedMm;
    if (left < 0)
        left = kUnlimitedMm;
    if (right < 0)
        right = kUnlimitedMm;

    const long W = m_image.IsValid() ? static_cast<long>(m_image.GetWidth()) : 0;
    const long H = m_image.IsValid() ? static_cast<long>(m_image.GetHeight()) : 0;
    long S = 0, E = 0, L = 0, R = W;

    const long dTop = mm_2_dots(top);
    const long dBottom = mm_2_dots(bottom);
    const long dLeft = mm_2_dots(left);
    const long dRight = mm_2_dots(right);

    // Each scan stops at its first ink pixel; the four are independent.
    // One-bit pages are scanned a byte at a time (InkSpan); the result is
    // the same: the first row with ink from either end, and the leftmost
    // and rightmost columns that hold ink in any row.
    const bool bytewise = m_image.GetBpp() == 1;
    if (bottom > 0) {
        bool found = false;
        for (long y = H - 1; y >= 0 && !found; --y) {
            long first = -1, last = -1;
            if (bytewise ? InkSpan(m_image, y, first, last) : FirstInk(m_image, y, W) >= 0) {
                E = std::min(H - 1 - y, dBottom);
                found = true;
            }
        }
    }
    if (top > 0) {
        bool found = false;
        for (long y = 0; y < H && !found; ++y) {
            long first = -1, last = -1;
            if (bytewise ? InkSpan(m_image, y, first, last) : FirstInk(m_image, y, W) >= 0) {
                S = std::min(y, dTop);
                found = true;
            }
        }
    }
    if ((left > 0 || right > 0) && bytewise) {
        long minX = W, maxX = -1;
        for (long y = 0; y < H; ++y) {
            long first = -1, last = -1;
            if (InkSpan(m_image, y, first, last)) {
                minX = std::min(minX, first);
                maxX = std::max(maxX, last);
            }
        }
        if (left > 0 && maxX >= 0)
            L = std::min(minX, dLeft);
        if (right > 0 && maxX >= 0)
            R = RightEdge(maxX, W, dRight);
    } else {
        if (left > 0) {
            bool found = false;
            for (long x = 0; x < W && !found; ++x)
                for (long y = 0; y < H; ++y)
                    if (IsInk(m_image, x, y)) {
                        L = std::min(x, dLeft);
                        found = true;
                        break;
                    }
        }
        if (right > 0) {
            bool found = false;
            for (long x = W - 1; x >= 0 && !found; --x)
                for (long y = 0; y < H; ++y)
                    if (IsInk(m_image, x, y)) {
                        R = RightEdge(x, W, dRight);
                        found = true;
                        break;
                    }
        }
    }

    // Crop measures top and bottom from the end of storage: top E, bottom
    // H - S keeps storage rows S .. H - E - 1. Crop clamps the rectangle to
    // the image anyway; clamping here first keeps a limit converted at an
    // absurd page resolution from wrapping when narrowed to int.
    auto fit = [](long v, long hi) { return static_cast<int>(std::max(0L, std::min(v, hi))); };
    CDibImage cropped(0);
    m_image.Crop(fit(L, W), fit(E, H), fit(R, W), fit(H - S, H), &cropped);
    m_image = cropped;
    m_cropped[0] = fit(S, H);
    m_cropped[1] = fit(E, H);
    m_cropped[2] = fit(L, W);
    m_cropped[3] = W - fit(R, W);
}

void CBaseRender::ShiftImage(int dx, int dy)
{
    if ((dx == 0 && dy == 0) || !m_image.IsValid() || m_image.GetBpp() != 1)
        return;
    const long W = static_cast<long>(m_image.GetWidth());
    const long H = static_cast<long>(m_image.GetHeight());
    const size_t stride = m_image.GetEffWidth();
    std::vector<unsigned char> from(stride * static_cast<size_t>(H));
    for (long y = 0; y < H; ++y)
        std::memcpy(&from[stride * static_cast<size_t>(y)], m_image.GetBits(static_cast<unsigned>(y)),
                    stride);
    for (long y = 0; y < H; ++y) {
        unsigned char* row = m_image.GetBits(static_cast<unsigned>(y));
        const long sy = y - static_cast<long>(dy);
        std::memset(row, 0xFF, stride);
        if (sy < 0 || sy >= H)
            continue;
        const unsigned char* src = &from[stride * static_cast<size_t>(sy)];
        for (long x = 0; x < W; ++x) {
            const long sx = x - static_cast<long>(dx);
            if (sx < 0 || sx >= W || (src[sx >> 3] >> (7 - (sx & 7)) & 1))
                continue;
            row[x >> 3] = static_cast<unsigned char>(row[x >> 3] & ~(0x80u >> (x & 7)));
        }
    }
    AddLog("ShiftImage: %d, %d", dx, dy);
}

void CBaseRender::FitSlip()
{
    const SlipBreak slips = Slips();
    if (m_reg.iTopMargin < 0 || slips == kNoSlips || !m_image.IsValid() || m_image.GetBpp() != 1)
        return;
    const long W = static_cast<long>(m_image.GetWidth());
    const long H = static_cast<long>(m_image.GetHeight());
    // The blank the preparation took off below the printed page: the side
    // of the page before rotation that ends up at its foot.
    static const int kFootSide[4] = {1, 0, 2, 3};  // none, 180, 90, 270 degrees
    const int rotate = m_reg.iRotate >= 0 && m_reg.iRotate < 4 ? m_reg.iRotate : 0;
    const long foot = m_cropped[kFootSide[rotate]];
    long first = 0, last = 0, top = 0;
    while (top < H && !InkSpan(m_image, top, first, last))
        ++top;
    if (top == H) {
        // A blank page is printed as it is.
        m_slipCarry = 0;
        ++m_slipPages;
        return;
    }

    if (m_slipPages > 0 && slips == kSlipPerJob) {
        if (m_slipCarry > 0) {
            CDibImage taller(0);
            taller.CopyInfo(m_image);
            const long rows = H + m_slipCarry;
            if (rows <= static_cast<long>(UINT_MAX) &&
                taller.Create(static_cast<unsigned>(W), static_cast<unsigned>(rows), 1,
                              m_image.GetType())) {
                taller.SetPalette(m_image.GetPalette(), 2);
                const size_t stride = m_image.GetEffWidth();
                for (long y = 0; y < m_slipCarry; ++y)
                    std::memset(taller.GetBits(static_cast<unsigned>(y)), 0xFF, stride);
                for (long y = 0; y < H; ++y)
                    std::memcpy(taller.GetBits(static_cast<unsigned>(y + m_slipCarry)),
                                m_image.GetBits(static_cast<unsigned>(y)), stride);
                m_image.Transfer(taller, true);
                AddLog("FitSlip: %ld blank rows above the page, as the page before lost them",
                       m_slipCarry);
            } else {
                AddLog("FitSlip: no memory for %ld blank rows above the page", m_slipCarry);
            }
        }
    } else {
        const long keep = std::min(top, static_cast<long>(mm_2_dots(m_reg.iTopMargin)));
        if (top > keep) {
            CDibImage cut(0);
            if (m_image.Crop(0, 0, static_cast<int>(W), static_cast<int>(H - (top - keep)), &cut)) {
                m_image = cut;
                AdjustEffWidthBits();
                AddLog("FitSlip: %ld blank rows above the first ink, %ld kept", top, keep);
            }
        }
    }
    m_slipCarry = foot;
    ++m_slipPages;
}

void CBaseRender::Negative()
{
    unsigned char* bits = m_image.GetBits(0);
    if (!bits)
        return;
    const size_t n = static_cast<size_t>(m_image.GetEffWidth()) * m_image.GetHeight();
    for (size_t i = 0; i < n; ++i)
        bits[i] = static_cast<unsigned char>(255 - bits[i]);
}

void CBaseRender::AdjustEffWidthBits()
{
    if (!m_image.IsValid())
        return;
    const unsigned W = m_image.GetWidth();
    const unsigned H = m_image.GetHeight();
    const unsigned stride = m_image.GetEffWidth();
    const unsigned bpp = m_image.GetBpp();
    // Padding starts after the last pixel's bits.
    const unsigned long long usedBits = static_cast<unsigned long long>(W) * bpp;
    const unsigned long long totalBits = static_cast<unsigned long long>(stride) * 8;
    if (usedBits >= totalBits)
        return;
    const unsigned firstFullByte = static_cast<unsigned>((usedBits + 7) / 8);
    const unsigned partialBits = static_cast<unsigned>(usedBits % 8);
    for (unsigned y = 0; y < H; ++y) {
        unsigned char* row = m_image.GetBits(y);
        if (partialBits)
            row[usedBits / 8] |= static_cast<unsigned char>(0xFF >> partialBits);
        if (firstFullByte < stride)
            std::memset(row + firstFullByte, 0xFF, stride - firstFullByte);
    }
}
