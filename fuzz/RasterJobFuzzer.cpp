// A whole print job run in-process through CCupsInstance::Run: the PPD's
// model number and option choices come from the first bytes of the input,
// the rest is the raster stream. Checks that the job neither crashes nor
// hangs, that every started page is either built or traced as refused,
// that every built page reaches the printer whole (or is traced as not
// sent), and that the exit status follows the job's outcome.
//
// Input layout:
//   byte 0      model number: family b % (number of families), or for b >= 250 an unknown number
//   byte 1      bits 0-1: 3 = printer channel fails (/dev/full)
//               bit 2:    an options string follows (length byte, text)
//               bits 4-7: SIGTERM: 0 none, 1 before the first page header,
//                         n >= 2 while page n - 1 is being rendered
//               bit 3:    choices of the newer keywords follow (count byte, choices)
//   bytes 2-19  one choice per PPD option keyword (see ChoiceFor)
//   [newer]     when bit 3 is set
//   [options]   when bit 2 is set
//   rest        the raster stream, given to the filter as its file argument
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

#include "CupsInstance.h"
#include "CupsLog.h"
#include "CupsOutput.h"
#include "DibImage.h"
#include "FuzzSupport.h"
#include "PpdWriter.h"
#include "PrinterFamilies.h"
#include "RasterJobInput.h"
#include "PrinterStream.h"

using namespace fuzz_support;

namespace {

// One byte per keyword (see RasterJobInput.h).
bool ChoiceFor(uint8_t b, const char* keyword, testing_support::PpdOption* option)
{
    if (b == kChoiceAbsent)
        return false;
    option->keyword = keyword;
    if (b == kChoiceUnmarked) {
        option->choices = {"0", "1"};
        return true;
    }
    if (b < kChoiceIntBase)
        option->defaultChoice = kJobChoices[b - 2];
    else
        option->defaultChoice = std::to_string(b - kChoiceIntBase + kChoiceIntFirst);
    return true;
}

int ModelFor(uint8_t b)
{
    static const int kUnknown[] = {19, 25, 0, -20, 99, 2147483647};
    const std::vector<PrinterFamily>& families = PrinterFamilies();
    return b < 250 ? families[b % families.size()].model : kUnknown[b - 250];
}

// Pages the harness lets the filter build, so that an iteration stays fast.
const unsigned long long kMaxPagePixels = 1ull << 16;
const unsigned long long kMaxPageBytes = 1ull << 18;

struct MemStream {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

ssize_t ReadMem(void* ctx, unsigned char* buffer, size_t length)
{
    MemStream* s = static_cast<MemStream*>(ctx);
    const size_t n = length < s->size - s->pos ? length : s->size - s->pos;
    std::memcpy(buffer, s->data + s->pos, n);
    s->pos += n;
    return static_cast<ssize_t>(n);
}

// Whether the job loop reads a page's lines into a page buffer (else it
// reads past them in pieces). The same test as the job loop's.
bool LoopTakesPage(const cups_page_header2_t& h)
{
    const unsigned bpp = h.cupsBitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return false;
    if (!CDibImage::CanCreate(h.cupsWidth, h.cupsHeight, bpp))
        return false;
    const unsigned long long bytes = static_cast<unsigned long long>(h.cupsHeight) * h.cupsBytesPerLine;
    if (bytes > static_cast<unsigned long long>(INT_MAX))
        return false;
    const unsigned long long lineNeeds = (static_cast<unsigned long long>(h.cupsWidth) * bpp + 7) / 8;
    return h.cupsBytesPerLine <= lineNeeds ||
           bytes <= static_cast<unsigned long long>(CDibImage::kMaxMemory);
}

// What the harness learns from reading the stream ahead of the job.
struct StreamFacts {
    int pages = 0;
    // A page without a horizontal resolution: TSPL then writes its size as
    // "SIZE inf mm,inf mm" (the width divided by 0 dpi), which no reader
    // of the language accepts.
    bool zeroResolution = false;
    // Pages whose lines stop before their height.
    int cutPages = 0;
};

// Reads the stream as the job loop will and counts its pages. False when a
// page would be built larger than this harness allows.
bool ScanStream(const uint8_t* data, size_t size, StreamFacts* facts)
{
    MemStream s = {data, size, 0};
    cups_raster_t* ras = cupsRasterOpenIO(ReadMem, &s, CUPS_RASTER_READ);
    if (!ras)
        return false;
    bool ok = true;
    cups_page_header2_t h;
    std::vector<unsigned char> line;
    while (ok && cupsRasterReadHeader2(ras, &h)) {
        ++facts->pages;
        facts->zeroResolution |= h.HWResolution[0] == 0;
        const unsigned long long bytes = static_cast<unsigned long long>(h.cupsHeight) * h.cupsBytesPerLine;
        if (LoopTakesPage(h)) {
            if (static_cast<unsigned long long>(h.cupsWidth) * h.cupsHeight > kMaxPagePixels ||
                bytes > kMaxPageBytes) {
                ok = false;
                break;
            }
            line.resize(h.cupsBytesPerLine);
            for (unsigned y = 0; y < h.cupsHeight; ++y)
                if (h.cupsBytesPerLine == 0 || cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine) == 0) {
                    ++facts->cutPages;
                    break;
                }
        } else {
            unsigned char scratch[65536];
            unsigned long long left = bytes;
            while (left > 0) {
                const unsigned n = left > sizeof scratch ? sizeof scratch : static_cast<unsigned>(left);
                if (cupsRasterReadPixels(ras, scratch, n) == 0)
                    break;
                left -= n;
            }
        }
    }
    cupsRasterClose(ras);
    return ok;
}

// What the job traced, counted by the log sink.
struct JobTraces {
    int started = 0;   // pages handed to StartPage
    int built = 0;     // page images built
    int refused = 0;   // "create image error"
    int notSent = 0;   // pages a back end traced as not sent
    int cancelAt = 0;  // see the input layout
};
JobTraces g_traces;

void CountTrace(int, const char* text)
{
    JobTraces& t = g_traces;
    if (std::strncmp(text, "ModelNumber = ", 14) == 0 && t.cancelAt == 1)
        raise(SIGTERM);
    if (std::strncmp(text, "DEBUG: Duplex = ", 16) == 0) {
        ++t.started;
        if (t.cancelAt >= 2 && t.started == t.cancelAt - 1)
            raise(SIGTERM);
    }
    if (std::strncmp(text, "create image width=", 19) == 0)
        ++t.built;
    if (std::strcmp(text, "create image error\n") == 0)
        ++t.refused;
    if (IsPageNotSent(text))
        ++t.notSent;
}

struct Files {
    CStderrCapture err;
    CMemFile ppd{"ppd"};
    CMemFile raster{"raster"};
    CMemFile out{"out"};
    int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
};

Files& TheFiles()
{
    static Files files;
    return files;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetLogSink(CountTrace);
    setenv("PPD", TheFiles().ppd.Path().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Files& files = TheFiles();
    CFuzzInput in(data, size);

    testing_support::PpdModel ppdModel;
    ppdModel.modelNumber = ModelFor(in.Byte());
    ppdModel.personality = "TSPL";
    const uint8_t flags = in.Byte();
    const bool failingChannel = (flags & kFlagFailingChannel) == kFlagFailingChannel;
    for (int i = 0; i < kJobKeywordCount; ++i) {
        testing_support::PpdOption option;
        if (ChoiceFor(in.Byte(), kJobKeywords[i], &option))
            ppdModel.options.push_back(option);
    }
    if (flags & kFlagMoreKeywords) {
        const int n = in.Byte();
        for (int i = 0; i < n && i < kJobMoreKeywordCount; ++i) {
            testing_support::PpdOption option;
            if (ChoiceFor(in.Byte(), kJobMoreKeywords[i], &option))
                ppdModel.options.push_back(option);
        }
    }
    std::string options;
    if (flags & kFlagOptions) {
        const size_t n = in.Byte();
        for (size_t i = 0; i < n && in.RestSize() > 0; ++i)
            options += static_cast<char>(in.Byte());
    }
    const uint8_t* raster = in.Rest();
    const size_t rasterSize = in.RestSize();

    StreamFacts facts;
    if (!ScanStream(raster, rasterSize, &facts))
        return -1;
    const int pages = facts.pages;

    files.ppd.Set(testing_support::MakePpdText(ppdModel));
    files.raster.Set(raster, rasterSize);
    files.out.Clear();
    CupsResetOutput();
    CupsSetOutputFd(failingChannel ? files.full : files.out.Fd());

    g_traces = JobTraces();
    g_traces.cancelAt = flags >> 4;

    std::string rasterPath = files.raster.Path();
    char* argv[] = {const_cast<char*>("bandrill"), const_cast<char*>("1"),
                    const_cast<char*>("user"),     const_cast<char*>("title"),
                    const_cast<char*>("1"),        &options[0],
                    &rasterPath[0],                nullptr};
    struct sigaction previous;
    sigaction(SIGTERM, nullptr, &previous);
    CCupsInstance instance;
    files.err.Begin();
    const int rc = instance.Run(7, argv);
    const std::string err = files.err.End();
    sigaction(SIGTERM, &previous, nullptr);

    const JobTraces& t = g_traces;
    const std::string out = failingChannel ? std::string() : files.out.Get();
    const bool outputFailed = CupsOutputFailed();
    CupsResetOutput();

    if (!FindPrinterFamily(ppdModel.modelNumber)) {
        FUZZ_CHECK(rc == 1 && out.empty() && t.started == 0 && err == "ERROR: Unknow ModelNumber.\n",
                   "unknown model %d: exit %d, stderr '%s'", ppdModel.modelNumber, rc, err.c_str());
        return 0;
    }

    int expectStarted = pages;
    if (t.cancelAt == 1)
        expectStarted = 0;
    else if (t.cancelAt >= 2 && pages > t.cancelAt - 1)
        expectStarted = t.cancelAt - 1;
    FUZZ_CHECK(t.started == expectStarted && Page == t.started,
               "%d pages in the stream, cancel %d: %d started, Page %d", pages, t.cancelAt,
               t.started, Page);
    FUZZ_CHECK(t.built + t.refused == t.started, "%d started, %d built, %d refused", t.started,
               t.built, t.refused);
    FUZZ_CHECK(t.notSent <= t.built, "%d not sent of %d built", t.notSent, t.built);

    // Exit status: 0 only when a page was started and everything written
    // reached the printer.
    const int printed = t.built - t.notSent;
    if (failingChannel && printed > 0)
        FUZZ_CHECK(rc == 1, "failed printer channel, %d pages printed, exit %d", printed, rc);
    if (t.started == 0)
        FUZZ_CHECK(rc == 1, "no page started, exit %d", rc);
    if (!failingChannel && t.started > 0)
        FUZZ_CHECK(rc == 0, "%d pages started, exit %d", t.started, rc);

    // What the scheduler was told.
    size_t pageLines = 0;
    for (size_t at = 0; (at = err.find("PAGE: ", at)) != std::string::npos; ++at)
        ++pageLines;
    FUZZ_CHECK(pageLines == static_cast<size_t>(t.started), "%zu PAGE lines for %d pages", pageLines,
               t.started);
    const bool noPages = err.find("ERROR: No pages were found.\n") != std::string::npos;
    FUZZ_CHECK(noPages == (t.started == 0), "'No pages were found.' with %d pages started", t.started);
    const size_t failed = err.find("ERROR:Unable to write print data");
    FUZZ_CHECK((failed != std::string::npos) == outputFailed &&
                   (failed == std::string::npos || err.find("Unable to write", failed + 10) == std::string::npos),
               "printer channel failure reported wrongly: '%s'", err.c_str());

    // Every refused page is an error naming it, every cut page a warning,
    // and every page whose bytes reached the printer is reported complete.
    auto count = [&err](const char* text) {
        size_t n = 0;
        for (size_t at = 0; (at = err.find(text, at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    const size_t refusals = count("ERROR: Page ");
    FUZZ_CHECK(refusals == static_cast<size_t>(t.refused + t.notSent),
               "%zu page errors for %d refused and %d not sent", refusals, t.refused, t.notSent);
    // (A cancelled job may not start a cut page.)
    const size_t cut = count("WARNING: Page ");
    const size_t cutPages = static_cast<size_t>(facts.cutPages);
    FUZZ_CHECK(t.started == pages ? cut == cutPages : cut <= cutPages,
               "%zu cut page warnings, %zu pages cut, %d of %d started", cut, cutPages, t.started,
               pages);
    const size_t complete = count(", 100% complete.\n");
    FUZZ_CHECK(complete == (failingChannel ? 0u : static_cast<size_t>(printed)),
               "%zu pages reported complete, %d printed", complete, printed);

    // The printer stream: whole pages, one per page printed.
    if (!failingChannel && !(ppdModel.modelNumber == 20 && facts.zeroResolution)) {
        std::string error;
        const int found = PagesInStream(ppdModel.modelNumber, out, &error);
        FUZZ_CHECK(found == printed, "model %d: %d pages printed, stream holds %d (%s)",
                   ppdModel.modelNumber, printed, found, error.c_str());
    }
    return 0;
}
