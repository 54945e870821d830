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
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "CupsCommands.h"
#include "CupsJob.h"
#include "CupsLog.h"
#include "CupsMessages.h"
#include "CupsOutput.h"
#include "PageAssembler.h"
#include "PrinterFamilies.h"
#include "PrintJob.h"

CStdRefPtr<CBaseRender> g_pRender;
int ModelNumber = 0;
int Page = 0;
volatile sig_atomic_t Canceled = 0;

void CancelJob(int)
{
    Canceled = 1;
}

namespace {

// Reads and drops the pixel data of a page that is not printed, in small
// pieces so that a huge header allocates nothing of its size.
void DropPixels(cups_raster_t* ras, const cups_page_header2_t& h)
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

// The raster stream as the page loop reads it: libcups' headers and
// lines, and the pixel data of a page not taken read and dropped.
// The most copies the back end is asked for: CUPS's own default limit
// (MaxCopies), so that a damaged header cannot keep a printer busy for days.
const int kMaxCopies = 9999;

// The copies the printer is to make of a job, from its first page header:
// the raster's NumCopies, which the converters in front of the filter set
// to the copies they did not make themselves (for a collated multi-page
// job cups-filters makes them and says 1); the job's copies argument only
// where the header leaves NumCopies unset.
int JobCopies(const cups_page_header2_t& header, const char* copiesArgument)
{
    long copies = header.NumCopies > 0 ? static_cast<long>(header.NumCopies)
                                       : std::strtol(copiesArgument, nullptr, 10);
    if (copies > kMaxCopies) {
        CupsLog(LOG_WARNING, "%ld copies asked for, printing %d", copies, kMaxCopies);
        copies = kMaxCopies;
    }
    return copies > 1 ? static_cast<int>(copies) : 1;
}

class CCupsRasterSource : public IRasterSource {
public:
    explicit CCupsRasterSource(cups_raster_t* ras) : m_ras(ras) {}

    // The back end makes the job's copies: it is told them with the first
    // page header, before that page is printed.
    void CopiesBy(CBaseRender* render, const char* copiesArgument)
    {
        m_copiesBy = render;
        m_copiesArgument = copiesArgument;
    }

    bool ReadHeader(cups_page_header2_t& header) override
    {
        if (!m_ras || !cupsRasterReadHeader2(m_ras, &header))
            return false;
        if (m_copiesBy) {
            const int copies = JobCopies(header, m_copiesArgument);
            m_copiesBy->SetCopies(copies, header.Collate == CUPS_TRUE);
            CupsLog(LOG_DEBUG, "copies made by the printer: %d, collate %d", copies,
                    header.Collate == CUPS_TRUE ? 1 : 0);
            m_copiesBy = nullptr;
        }
        return true;
    }
    bool ReadLine(unsigned char* line, unsigned bytes) override
    {
        return cupsRasterReadPixels(m_ras, line, bytes) != 0;
    }
    void SkipPage(const cups_page_header2_t& header) override { DropPixels(m_ras, header); }

private:
    cups_raster_t* m_ras;
    CBaseRender* m_copiesBy = nullptr;
    const char* m_copiesArgument = "1";
};

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

// Marks the job's options on the PPD. Job options such as print-color-mode
// or media make cupsMarkOptions build libcups' PPD cache, which ppdClose
// frees; but libcups 2.4's _ppdCacheDestroy never frees the preset option
// arrays _ppdCacheCreateWithPPD reads from the PPD's APPrinterPreset lines,
// so every such job of a PPD with presets loses them at exit. In sanitizer
// builds the leak checker ignores what cupsMarkOptions allocates: all of it
// belongs to the PPD, and a PPD left open is still reported from ppdOpen.
void MarkJobOptions(ppd_file_t* ppd, int count, cups_option_t* options)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
    cupsMarkOptions(ppd, count, options);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
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

    // A command file is no raster: CUPS names its type.
    const char* contentType = getenv("CONTENT_TYPE");
    if (contentType && std::strcmp(contentType, "application/vnd.cups-command") == 0)
        return RunCommandFile(argc, argv);

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
    MarkJobOptions(ppd.get(), options.Count(), options.Get());

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

    // The page loop. Cancellation is tested right after a header is read
    // and after each finished page, so a started page is always completed.
    Page = 0;
    CPrintJob print(*g_pRender, job);
    CCupsRasterSource source(ras.get());
    // A PPD that says the printer makes copies gets them from the back end
    // (one bitmap and PRINT 1,n on a label printer); any other PPD leaves
    // them to CUPS's converters, as the filter always has.
    // (libcups reads a missing line as False too: hence the look-up.)
    if (!ppd->manual_copies && ppdFindAttr(ppd.get(), "cupsManualCopies", nullptr))
        source.CopiesBy(g_pRender, argv[4]);
    print.Run(source);
    Page = print.Pages();

    if (Page == 0) {
        _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
        return 1;
    }
    return CupsOutputFailed() ? 1 : 0;
}

// A page handed over whole, outside the job loop: traced to the system
// log, loaded and printed (or refused) by g_pRender.
void CCupsInstance::StartPage(ppd_file_s*, cups_page_header2_s* header, const CMyBuffer& lines)
{
    CCupsJob job;
    CPrintJob(*g_pRender, job).PrintPage(*header, lines);
}

void CCupsInstance::StartPage(ppd_file_s*, cups_page_header2_s* header, CPageAssembler& page)
{
    CCupsJob job;
    CPrintJob(*g_pRender, job).PrintPage(*header, page);
}

void CCupsInstance::EndPage(ppd_file_s*, cups_page_header2_s*)
{
    g_pRender->OnEndPage();
}
