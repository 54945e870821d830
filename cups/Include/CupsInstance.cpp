#include "CupsInstance.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "CupsJob.h"
#include "CupsLog.h"
#include "CupsMessages.h"
#include "CupsOutput.h"
#include "DibImage.h"
#include "PageAssembler.h"
#include "PrinterFamilies.h"

CStdRefPtr<CBaseRender> g_pRender;
int ModelNumber = 0;
int Page = 0;
volatile sig_atomic_t Canceled = 0;

void CancelJob(int)
{
    Canceled = 1;
}

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

// Reads and drops the pixel data of a page that is not printed, in small
// pieces so that a huge header allocates nothing of its size.
void SkipPage(cups_raster_t* ras, const cups_page_header2_t& h)
{
    unsigned char scratch[65536];
    unsigned long long left = static_cast<unsigned long long>(h.cupsHeight) * h.cupsBytesPerLine;
    while (left > 0) {
        const unsigned n = left > sizeof scratch ? sizeof scratch : static_cast<unsigned>(left);
        if (cupsRasterReadPixels(ras, scratch, n) == 0)
            break;
        left -= n;
    }
}

// The raster stream's bytes, read ahead in large blocks. libcups asks for
// every line of an uncompressed page with a read of its own, which would
// cost one system call per line; here it is served from memory. The bytes,
// their order, end of stream and errors reach libcups as read(2) gives them.
class CRasterInput {
public:
    explicit CRasterInput(int fd) : m_fd(fd), m_data(kBlock) {}

    static ssize_t Read(void* ctx, unsigned char* buf, size_t bytes)
    {
        return static_cast<CRasterInput*>(ctx)->Take(buf, bytes);
    }

private:
    static const size_t kBlock = 65536;

    // read(2), repeated when interrupted.
    ssize_t ReadFd(unsigned char* buf, size_t bytes)
    {
        ssize_t n;
        while ((n = read(m_fd, buf, bytes)) < 0)
            if (errno != EINTR && errno != EAGAIN)
                return -1;
        return n;
    }

    ssize_t Take(unsigned char* buf, size_t bytes)
    {
        if (m_pos == m_len) {
            // A request as large as a block goes straight to the caller.
            if (bytes >= kBlock)
                return ReadFd(buf, bytes);
            const ssize_t n = ReadFd(m_data.data(), kBlock);
            if (n <= 0)
                return n;
            m_pos = 0;
            m_len = static_cast<size_t>(n);
        }
        const size_t n = bytes < m_len - m_pos ? bytes : m_len - m_pos;
        std::memcpy(buf, m_data.data() + m_pos, n);
        m_pos += n;
        return static_cast<ssize_t>(n);
    }

    int m_fd;
    std::vector<unsigned char> m_data;
    size_t m_pos = 0;
    size_t m_len = 0;
};

// Every page allocates blocks of its own size (the page buffer, the page
// image, the one-bit result) and frees them again. The C library would map
// such blocks fresh from the system for every page and fault in every page
// of them; kept on the heap, the next page reuses the same memory.
void KeepPageMemory()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

// Reads a page's lines straight into the page assembler, which makes the
// page one bit a dot with the job's halftone settings as they arrive. A
// page the assembler refuses, or has no memory for, is passed over: page
// intake then finds no lines.
void ReadPage(cups_raster_t* ras, const cups_page_header2_t& header, CPageAssembler& page)
{
    if (!page.Begin(header, g_pRender->m_regHalftone)) {
        SkipPage(ras, header);
        return;
    }
    while (unsigned char* line = page.NextLine()) {
        if (cupsRasterReadPixels(ras, line, header.cupsBytesPerLine) == 0)
            break;
        page.LineDone();
    }
    page.Finish();
}

// Owners of what the job opens, so that every way out of Run releases them.
struct RasterCloser {
    void operator()(cups_raster_t* ras) const { cupsRasterClose(ras); }
};
struct PpdCloser {
    void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using RasterHandle = std::unique_ptr<cups_raster_t, RasterCloser>;
using PpdHandle = std::unique_ptr<ppd_file_t, PpdCloser>;

// The raster file named on the command line; standard input is not closed.
class CInputFile {
public:
    explicit CInputFile(int fd) : m_fd(fd) {}
    ~CInputFile()
    {
        if (m_fd > 0)
            close(m_fd);
    }
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

private:
    int m_fd;
};

class COptions {
public:
    explicit COptions(const char* text) : m_count(cupsParseOptions(text, 0, &m_options)) {}
    ~COptions() { cupsFreeOptions(m_count, m_options); }
    COptions(const COptions&) = delete;
    COptions& operator=(const COptions&) = delete;

    int Count() const { return m_count; }
    cups_option_t* Get() const { return m_options; }

private:
    cups_option_t* m_options = nullptr;
    int m_count;
};

// Why a page the intake refused (or could not make an image of) is not
// printed, for the user.
std::string RefusalReason(const cups_page_header2_t& h)
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

// A page whose lines stopped coming (end of the stream, or raster data
// that cannot be read further) is printed with white for the missing lines.
void ReportCutPage(CRenderJob& job, int pageNumber, const CPageAssembler& page)
{
    if (!page.Accepted() || page.LinesReceived() >= page.LinesExpected())
        return;
    char text[200];
    std::snprintf(text, sizeof text,
                  "Page %d is incomplete: the raster data ended after %u of its %u lines; the "
                  "rest is printed blank.",
                  pageNumber, page.LinesReceived(), page.LinesExpected());
    job.Report(CRenderJob::kWarning, text);
}

// The back end lives on in g_pRender after Run; the job it prints for is
// Run's own.
struct CJobDetach {
    ~CJobDetach()
    {
        if (g_pRender)
            g_pRender->SetJob(nullptr);
    }
};

} // namespace

int CCupsInstance::Run(int argc, char** argv)
{
    // The filter's job: its back end writes to standard output and traces
    // to the system log.
    CCupsJob job;
    CJobDetach detach;

    // Set-up: every message reaches the scheduler at once.
    setbuf(stderr, nullptr);
    KeepPageMemory();

    if (argc != 6 && argc != 7) {
        _cupsLangPrintFilter(stderr, "ERROR", "%s job-id user title copies options [file]",
                             "bandrill");
        return 1;
    }

    int fd = 0;
    if (argc == 7) {
        fd = open(argv[6], O_RDONLY);
        if (fd == -1) {
            _cupsLangPrintError("ERROR", "Unable to open raster file");
            sleep(1);
            return 1;
        }
    }
    CInputFile file(fd);

    // A stream that does not start with a raster sync word opens as null;
    // the job then finds no pages.
    CRasterInput input(fd);
    RasterHandle ras(cupsRasterOpenIO(CRasterInput::Read, &input, CUPS_RASTER_READ));
    if (!ras)
        CupsLog(LOG_ERR, "no raster stream on the input");

    Canceled = 0;
    sigset(SIGTERM, CancelJob);

    COptions options(argv[5]);

    // The queue's PPD, its defaults and then the job's options marked on it.
    const char* ppdPath = getenv("PPD");
    PpdHandle ppd(ppdPath ? ppdOpenFile(ppdPath) : nullptr);
    if (!ppd) {
        int linenum = 0;
        const ppd_status_t status = ppdLastError(&linenum);
        _cupsLangPrintFilter(stderr, "ERROR", "The PPD file could not be opened.");
        fprintf(stderr, "DEBUG: %s on line %d.\n", ppdErrorString(status), linenum);
        return 1;
    }
    ppdMarkDefaults(ppd.get());
    cupsMarkOptions(ppd.get(), options.Count(), options.Get());

    std::string modelName;
    if (ppd_attr_t* attr = ppdFindAttr(ppd.get(), "ModelName", nullptr)) {
        CupsLog(LOG_DEBUG, "ModelName=%s", attr->value ? attr->value : "");
        modelName = attr->value ? attr->value : "";
    }
    if (ppd_attr_t* attr = ppdFindAttr(ppd.get(), "Personality", nullptr))
        CupsLog(LOG_DEBUG, "lang=%s", attr->value ? attr->value : "");

    ModelNumber = ppd->model_number;
    CupsLog(LOG_DEBUG, "ModelNumber = %d\n", ModelNumber);

    // The back end by model number, its settings from the marked PPD.
    const PrinterFamily* family = FindPrinterFamily(ModelNumber);
    if (!family) {
        CupsLog(LOG_ERR, "ERR: Unknow ModelNumber = %d\n", ModelNumber);
        _cupsLangPrintFilter(stderr, "ERROR", "Unknow ModelNumber.");
        return 1;
    }
    g_pRender = MakeRefPtr<CBaseRender>(family->create());
    g_pRender->SetJob(&job);
    g_pRender->m_ppd = ppd.get();
    CupsReadSettings(*g_pRender);
    g_pRender->SetModelName(modelName.c_str());

    g_pRender->OnStartDoc(0);

    // The page loop. Cancellation is tested right after a header is read
    // and after each finished page, so a started page is always completed.
    Page = 0;
    cups_page_header2_t header;
    CPageAssembler page;
    while (ras && cupsRasterReadHeader2(ras.get(), &header)) {
        if (Canceled)
            break;

        Page = job.BeginPage();
        fprintf(stderr, "PAGE: %d 1\n", Page);
        _cupsLangPrintFilter(stderr, "INFO", "Starting page %d.", Page);

        ReadPage(ras.get(), header, page);
        ReportCutPage(job, Page, page);
        StartPage(ppd.get(), &header, page);

        job.EndPage();
        _cupsLangPrintFilter(stderr, "INFO", "Finished page %d.", Page);
        EndPage(ppd.get(), &header);

        if (Canceled)
            break;
    }

    // Shut-down.
    g_pRender->OnEndDoc();

    if (Page == 0) {
        _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
        return 1;
    }
    return CupsOutputFailed() ? 1 : 0;
}

void CCupsInstance::StartPage(ppd_file_s* ppd, cups_page_header2_s* header, const CMyBuffer& lines)
{
    StartPage(ppd, header, [&](CBaseRender& render) { return render.LoadPage(header, lines); });
}

void CCupsInstance::StartPage(ppd_file_s* ppd, cups_page_header2_s* header, CPageAssembler& page)
{
    StartPage(ppd, header, [&](CBaseRender& render) { return render.LoadPage(header, page); });
}

void CCupsInstance::StartPage(ppd_file_s*, cups_page_header2_s* header,
                              const std::function<bool(CBaseRender&)>& load)
{
    CupsLog(LOG_DEBUG, "DEBUG: Duplex = %d\n", RawField(header->Duplex));
    CupsLog(LOG_DEBUG, "DEBUG: HWResolution = [ %d %d ]\n", header->HWResolution[0],
            header->HWResolution[1]);
    CupsLog(LOG_DEBUG, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n",
            header->ImagingBoundingBox[0], header->ImagingBoundingBox[1],
            header->ImagingBoundingBox[2], header->ImagingBoundingBox[3]);
    CupsLog(LOG_DEBUG, "DEBUG: Margins = [ %d %d ]\n", header->Margins[0], header->Margins[1]);
    CupsLog(LOG_DEBUG, "DEBUG: ManualFeed = %d\n", RawField(header->ManualFeed));
    CupsLog(LOG_DEBUG, "DEBUG: MediaPosition = %d\n", header->MediaPosition);
    CupsLog(LOG_DEBUG, "DEBUG: NumCopies = %d\n", header->NumCopies);
    CupsLog(LOG_DEBUG, "DEBUG: Orientation = %d\n", RawField(header->Orientation));
    CupsLog(LOG_DEBUG, "DEBUG: PageSize = [ %d %d ]\n", header->PageSize[0], header->PageSize[1]);
    CupsLog(LOG_DEBUG, "DEBUG: cupsWidth = %d\n", header->cupsWidth);
    CupsLog(LOG_DEBUG, "DEBUG: cupsHeight = %d\n", header->cupsHeight);
    CupsLog(LOG_DEBUG, "DEBUG: cupsMediaType = %d\n", header->cupsMediaType);
    CupsLog(LOG_DEBUG, "DEBUG: cupsBitsPerColor = %d\n", header->cupsBitsPerColor);
    CupsLog(LOG_DEBUG, "DEBUG: cupsBitsPerPixel = %d\n", header->cupsBitsPerPixel);
    CupsLog(LOG_DEBUG, "DEBUG: cupsBytesPerLine = %d\n", header->cupsBytesPerLine);
    CupsLog(LOG_DEBUG, "DEBUG: cupsColorOrder = %d\n", RawField(header->cupsColorOrder));
    CupsLog(LOG_DEBUG, "DEBUG: cupsColorSpace = %d\n", RawField(header->cupsColorSpace));
    CupsLog(LOG_DEBUG, "DEBUG: cupsCompression = %d\n", header->cupsCompression);

    CBaseRender* render = g_pRender;
    if (!load(*render)) {
        CupsLog(LOG_ERR, "create image error\n");
        render->RefusePage("%s", RefusalReason(*header).c_str());
        return;
    }
    CupsLog(LOG_DEBUG, "create image width=%d, height=%d, bitsPerPixel=%d, bytesPerLine=%d",
            header->cupsWidth, header->cupsHeight, header->cupsBitsPerPixel,
            header->cupsBytesPerLine);
    render->PrintPage();
}

void CCupsInstance::EndPage(ppd_file_s*, cups_page_header2_s*)
{
    g_pRender->OnEndPage();
}
