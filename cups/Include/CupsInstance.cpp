#include "CupsInstance.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "CupsLog.h"
#include "CupsMessages.h"
#include "CupsOutput.h"
#include "CupsRender.h"
#include "PrinterCPCL.h"
#include "PrinterESCPOS.h"
#include "PrinterPaperang.h"
#include "PrinterPeriPage.h"
#include "PrinterTSPL.h"

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

// Whether a page's lines are read into a page buffer to be made the page
// image: a depth the image core takes, a size within its limit, and a page
// buffer whose size fits the buffer's int length. Lines longer than the
// width needs are held only while the whole buffer stays within the image
// core's limit: a header could otherwise claim up to 2 GB of page buffer
// for an image of a few pixels. A page that fails this test is refused
// without allocating its size.
bool PageFits(const cups_page_header2_t& h)
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

// Reads the lines of a page straight into the page buffer. Colour space K
// has ink high; the page image has white high, so those lines are inverted.
// Lines a cut-off page did not deliver, a partly read line included, are
// white paper.
void ReadPage(cups_raster_t* ras, const cups_page_header2_t& header, CMyBuffer& buffer)
{
    const size_t bpl = header.cupsBytesPerLine;
    const int pageBytes = static_cast<int>(header.cupsHeight * header.cupsBytesPerLine);
    buffer.InitBuffer(pageBytes);
    if (buffer.GetBufferLength() != pageBytes) {
        // No memory for the page: its data is passed over, and page intake
        // finds no lines.
        buffer.InitBuffer(0);
        SkipPage(ras, header);
        return;
    }
    unsigned char* page = buffer.GetBuffer();
    size_t lines = 0;
    if (bpl > 0)
        while (lines < header.cupsHeight &&
               cupsRasterReadPixels(ras, page + lines * bpl, header.cupsBytesPerLine) != 0)
            ++lines;
    if (RawField(header.cupsColorSpace) == CUPS_CSPACE_K)
        InvertBytes(page, lines * bpl);
    std::memset(page + lines * bpl, 0xFF, static_cast<size_t>(pageBytes) - lines * bpl);
}

template <class T>
void CreateBackEnd(ppd_file_t* ppd, const char* modelName)
{
    g_pRender = MakeRefPtr<CBaseRender>(new CCupsRender<T>());
    g_pRender->m_ppd = ppd;
    g_pRender->GetPrinterParameters();
    g_pRender->SetModelName(modelName);
}

} // namespace

int CCupsInstance::Run(int argc, char** argv)
{
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

    CRasterInput input(fd);
    cups_raster_t* ras = cupsRasterOpenIO(CRasterInput::Read, &input, CUPS_RASTER_READ);

    Canceled = 0;
    sigset(SIGTERM, CancelJob);

    cups_option_t* options = nullptr;
    const int num_options = cupsParseOptions(argv[5], 0, &options);

    // The queue's PPD, its defaults and then the job's options marked on it.
    const char* ppdPath = getenv("PPD");
    ppd_file_t* ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
    if (!ppd) {
        int linenum = 0;
        const ppd_status_t status = ppdLastError(&linenum);
        _cupsLangPrintFilter(stderr, "ERROR", "The PPD file could not be opened.");
        fprintf(stderr, "DEBUG: %s on line %d.\n", ppdErrorString(status), linenum);
        cupsRasterClose(ras);
        if (fd != 0)
            close(fd);
        cupsFreeOptions(num_options, options);
        return 1;
    }
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, num_options, options);

    std::string modelName;
    if (ppd_attr_t* attr = ppdFindAttr(ppd, "ModelName", nullptr)) {
        CupsLog(LOG_DEBUG, "ModelName=%s", attr->value ? attr->value : "");
        modelName = attr->value ? attr->value : "";
    }
    if (ppd_attr_t* attr = ppdFindAttr(ppd, "Personality", nullptr))
        CupsLog(LOG_DEBUG, "lang=%s", attr->value ? attr->value : "");

    ModelNumber = ppd->model_number;
    CupsLog(LOG_DEBUG, "ModelNumber = %d\n", ModelNumber);

    // The back end by model number.
    switch (ModelNumber) {
    case 20:
        CreateBackEnd<CPrinterTSPL>(ppd, modelName.c_str());
        break;
    case 21:
        CreateBackEnd<CPrinterESCPOS>(ppd, modelName.c_str());
        break;
    case 22:
        CreateBackEnd<CPrinterCPCL>(ppd, modelName.c_str());
        break;
    case 23:
        CreateBackEnd<CPrinterPaperang>(ppd, modelName.c_str());
        break;
    case 24:
        CreateBackEnd<CPrinterPeriPage>(ppd, modelName.c_str());
        break;
    default:
        CupsLog(LOG_ERR, "ERR: Unknow ModelNumber = %d\n", ModelNumber);
        _cupsLangPrintFilter(stderr, "ERROR", "Unknow ModelNumber.");
        cupsRasterClose(ras);
        if (fd != 0)
            close(fd);
        ppdClose(ppd);
        cupsFreeOptions(num_options, options);
        return 1;
    }

    g_pRender->OnStartDoc(0);

    // The page loop. Cancellation is tested right after a header is read
    // and after each finished page, so a started page is always completed.
    Page = 0;
    cups_page_header2_t header;
    // One page buffer for the job: it keeps its storage from page to page.
    CMyBuffer buffer;
    while (cupsRasterReadHeader2(ras, &header)) {
        if (Canceled)
            break;

        Page++;
        fprintf(stderr, "PAGE: %d 1\n", Page);
        _cupsLangPrintFilter(stderr, "INFO", "Starting page %d.", Page);

        if (PageFits(header)) {
            ReadPage(ras, header, buffer);
        } else {
            buffer.InitBuffer(0);
            SkipPage(ras, header);
        }

        StartPage(ppd, &header, buffer);

        _cupsLangPrintFilter(stderr, "INFO", "Finished page %d.", Page);
        EndPage(ppd, &header);

        if (Canceled)
            break;
    }

    // Shut-down.
    g_pRender->OnEndDoc();

    cupsRasterClose(ras);
    if (fd != 0)
        close(fd);
    ppdClose(ppd);
    cupsFreeOptions(num_options, options);

    if (Page == 0) {
        _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
        return 1;
    }
    return CupsOutputFailed() ? 1 : 0;
}

void CCupsInstance::StartPage(ppd_file_s*, cups_page_header2_s* header, CMyBuffer& lines)
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
    render->m_header = header;
    render->m_iDpi = static_cast<int>(header->HWResolution[0]);

    // The buffer must hold every line of the page; a page that was refused
    // on intake arrives without them.
    const unsigned long long pageBytes =
        static_cast<unsigned long long>(header->cupsHeight) * header->cupsBytesPerLine;
    const bool complete = pageBytes <= static_cast<unsigned long long>(INT_MAX) &&
                          static_cast<unsigned long long>(lines.GetBufferLength()) >= pageBytes;
    if (!complete ||
        !render->m_image.CreateFromArray(lines.GetBuffer(), header->cupsWidth, header->cupsHeight,
                                         header->cupsBitsPerPixel, header->cupsBytesPerLine,
                                         false)) {
        if (!complete)
            render->m_image.Destroy();
        CupsLog(LOG_ERR, "create image error\n");
        return;
    }
    CupsLog(LOG_DEBUG, "create image width=%d, height=%d, bitsPerPixel=%d, bytesPerLine=%d",
            header->cupsWidth, header->cupsHeight, header->cupsBitsPerPixel,
            header->cupsBytesPerLine);

    render->m_image.SetXDPI(static_cast<int>(header->HWResolution[0]));
    render->m_image.SetYDPI(static_cast<int>(header->HWResolution[1]));

    render->OnStartPage();
    render->OnBeginBmp();
    render->OnPaintBmp();
    render->OnEndBmp();
}

void CCupsInstance::EndPage(ppd_file_s*, cups_page_header2_s*)
{
    g_pRender->OnEndPage();
}
