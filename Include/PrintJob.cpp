#include "PrintJob.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <syslog.h>

#include "DibImage.h"

namespace {

// The enum fields of a page header hold whatever the raster stream carried.
// They are read as the integers they are stored as: a value outside the
// enum's range must not be loaded as the enum type.
template <class E>
int RawField(const E& field)
{
    static_assert(sizeof(E) == sizeof(int), "header enums are stored as 32-bit integers");
    int value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

void Trace(CRenderJob& job, int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));

void Trace(CRenderJob& job, int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    job.LogV(priority, format, args);
    va_end(args);
}

} // namespace

CPrintJob::CPrintJob(CBaseRender& render, CRenderJob& job) : m_render(render), m_job(job)
{
    std::memset(&m_header, 0, sizeof m_header);
}

void CPrintJob::Run(IRasterSource& source)
{
    Begin();
    while (source.ReadHeader(m_header)) {
        if (IsCanceled())
            break;
        if (BeginPage(m_header)) {
            const unsigned bytes = m_header.cupsBytesPerLine;
            while (unsigned char* line = m_page.NextLine()) {
                if (!source.ReadLine(line, bytes))
                    break;
                m_page.LineDone();
            }
        } else {
            source.SkipPage(m_header);
        }
        EndPage();
        if (IsCanceled())
            break;
    }
    End();
}

void CPrintJob::Begin()
{
    m_render.OnStartDoc(0);
}

bool CPrintJob::BeginPage(const cups_page_header2_t& header)
{
    if (&header != &m_header)
        m_header = header;
    m_pageNumber = m_job.StartPage();
    m_job.PageStarted(m_pageNumber);
    return m_page.Begin(m_header, m_render.m_regHalftone);
}

bool CPrintJob::AddLine(const void* line)
{
    return m_page.AddLine(line);
}

bool CPrintJob::EndPage()
{
    m_page.Finish();
    ReportCutPage();
    const bool printed = PrintPage(m_header, m_page);
    m_job.PageFinished(m_pageNumber);
    m_render.OnEndPage();
    return printed;
}

bool CPrintJob::PageCut() const
{
    return m_page.Accepted() && m_page.LinesReceived() < m_page.LinesExpected();
}

void CPrintJob::End()
{
    m_render.OnEndDoc();
}

bool CPrintJob::PrintPage(cups_page_header2_t& header, CPageAssembler& page)
{
    return PrintLoaded(header, [&]() { return m_render.LoadPage(&header, page); });
}

bool CPrintJob::PrintPage(cups_page_header2_t& header, const CMyBuffer& lines)
{
    return PrintLoaded(header, [&]() { return m_render.LoadPage(&header, lines); });
}

template <class Load>
bool CPrintJob::PrintLoaded(cups_page_header2_t& header, const Load& load)
{
    TraceHeader(header);
    if (!load()) {
        Trace(m_job, LOG_ERR, "create image error\n");
        m_render.RefusePage("%s", RefusalReason(header).c_str());
        return false;
    }
    Trace(m_job, LOG_DEBUG, "create image width=%d, height=%d, bitsPerPixel=%d, bytesPerLine=%d",
          header.cupsWidth, header.cupsHeight, header.cupsBitsPerPixel, header.cupsBytesPerLine);
    m_render.PrintPage();
    return true;
}

void CPrintJob::TraceHeader(const cups_page_header2_t& h)
{
    Trace(m_job, LOG_DEBUG, "DEBUG: Duplex = %d\n", RawField(h.Duplex));
    Trace(m_job, LOG_DEBUG, "DEBUG: HWResolution = [ %d %d ]\n", h.HWResolution[0],
          h.HWResolution[1]);
    Trace(m_job, LOG_DEBUG, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n",
          h.ImagingBoundingBox[0], h.ImagingBoundingBox[1], h.ImagingBoundingBox[2],
          h.ImagingBoundingBox[3]);
    Trace(m_job, LOG_DEBUG, "DEBUG: Margins = [ %d %d ]\n", h.Margins[0], h.Margins[1]);
    Trace(m_job, LOG_DEBUG, "DEBUG: ManualFeed = %d\n", RawField(h.ManualFeed));
    Trace(m_job, LOG_DEBUG, "DEBUG: MediaPosition = %d\n", h.MediaPosition);
    Trace(m_job, LOG_DEBUG, "DEBUG: NumCopies = %d\n", h.NumCopies);
    Trace(m_job, LOG_DEBUG, "DEBUG: Orientation = %d\n", RawField(h.Orientation));
    Trace(m_job, LOG_DEBUG, "DEBUG: PageSize = [ %d %d ]\n", h.PageSize[0], h.PageSize[1]);
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsWidth = %d\n", h.cupsWidth);
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsHeight = %d\n", h.cupsHeight);
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsMediaType = %d\n", h.cupsMediaType);
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsBitsPerColor = %d\n", h.cupsBitsPerColor);
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsBitsPerPixel = %d\n", h.cupsBitsPerPixel);
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsBytesPerLine = %d\n", h.cupsBytesPerLine);
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsColorOrder = %d\n", RawField(h.cupsColorOrder));
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsColorSpace = %d\n", RawField(h.cupsColorSpace));
    Trace(m_job, LOG_DEBUG, "DEBUG: cupsCompression = %d\n", h.cupsCompression);
}

// A page whose lines stopped coming (end of the stream, or raster data
// that cannot be read further) is printed with white for the missing lines.
void CPrintJob::ReportCutPage()
{
    if (!m_page.Accepted() || m_page.LinesReceived() >= m_page.LinesExpected())
        return;
    char text[200];
    std::snprintf(text, sizeof text,
                  "Page %d is incomplete: the raster data ended after %u of its %u lines; the "
                  "rest is printed blank.",
                  m_pageNumber, m_page.LinesReceived(), m_page.LinesExpected());
    m_job.Report(CRenderJob::kWarning, text);
}

std::string CPrintJob::RefusalReason(const cups_page_header2_t& h)
{
    char text[256];
    const unsigned bpp = h.cupsBitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        std::snprintf(text, sizeof text,
                      "its raster has %u bits per pixel; 1, 4, 8, 24 and 32 can be printed", bpp);
    else if (h.cupsWidth == 0 || h.cupsHeight == 0)
        std::snprintf(text, sizeof text, "it is %u x %u pixels, nothing to print", h.cupsWidth,
                      h.cupsHeight);
    else if (!CPageAssembler::PageFits(h))
        std::snprintf(text, sizeof text,
                      "at %u x %u pixels, %u bytes per line, it is too large for memory "
                      "(the limit is %.0f MiB)",
                      h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine,
                      static_cast<double>(CDibImage::kMaxMemory) / (1024 * 1024));
    else
        std::snprintf(text, sizeof text, "no memory for its %u x %u pixels", h.cupsWidth,
                      h.cupsHeight);
    return text;
}
