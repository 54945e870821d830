// A raster stream cut at every byte offset of a short job, as when the
// upstream filter dies: the job never crashes, every page whose header was
// read completely is printed whole (its missing lines white), and the exit
// status is 0 exactly when a page was started.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

#include "CupsInstance.h"
#include "CupsLog.h"
#include "CupsOutput.h"
#include "FilterRunner.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "StreamCheck.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

int g_started = 0;

void CountPages(int, const char* text)
{
    if (std::strncmp(text, "DEBUG: Duplex = ", 16) == 0)
        ++g_started;
}

struct JobOutcome {
    int status = -1;
    int started = 0;
    std::string out;
    std::string err;
};

// Runs the job loop in this process, as the filter's main does, on a
// raster stream given as its file argument; standard error and the printer
// output are captured. All three are in-memory files.
class InProcessJob {
public:
    explicit InProcessJob(const std::string& ppdPath)
        : m_raster(memfd_create("raster", MFD_CLOEXEC)), m_out(memfd_create("out", MFD_CLOEXEC)),
          m_err(memfd_create("err", MFD_CLOEXEC))
    {
        setenv("PPD", ppdPath.c_str(), 1);
        m_oldSink = SetLogSink(CountPages);
        sigaction(SIGTERM, nullptr, &m_oldTerm);
    }
    ~InProcessJob()
    {
        SetLogSink(m_oldSink);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        CupsResetOutput();
        unsetenv("PPD");
        close(m_raster);
        close(m_out);
        close(m_err);
    }

    JobOutcome Run(const std::string& raster)
    {
        JobOutcome o;
        Set(m_raster, raster);
        Set(m_out, "");
        Set(m_err, "");
        CupsResetOutput();
        CupsSetOutputFd(m_out);
        FILE* err = fdopen(dup(m_err), "w");
        FILE* realErr = stderr;
        stderr = err;
        g_started = 0;
        std::string path = "/proc/self/fd/" + std::to_string(m_raster);
        char* argv[] = {const_cast<char*>("bandrill"), const_cast<char*>("1"),
                        const_cast<char*>("user"),     const_cast<char*>("title"),
                        const_cast<char*>("1"),        const_cast<char*>(""),
                        &path[0],                      nullptr};
        CCupsInstance instance;
        o.status = instance.Run(7, argv);
        stderr = realErr;
        std::fclose(err);
        o.started = g_started;
        o.out = Get(m_out);
        o.err = Get(m_err);
        return o;
    }

private:
    static void Set(int fd, const std::string& bytes)
    {
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    }
    static std::string Get(int fd)
    {
        std::string s;
        char chunk[4096];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(fd, chunk, sizeof chunk, at)) > 0) {
            s.append(chunk, static_cast<size_t>(n));
            at += n;
        }
        return s;
    }

    int m_raster, m_out, m_err;
    LogSinkFn m_oldSink;
    struct sigaction m_oldTerm;
};

// Where each page's header ends in the stream: a page is started once its
// header has been read whole.
std::vector<size_t> HeaderEnds(const std::vector<RasterPage>& pages, cups_mode_t mode)
{
    std::vector<size_t> ends;
    for (size_t i = 0; i < pages.size(); ++i) {
        const std::vector<RasterPage> before(pages.begin(), pages.begin() + static_cast<long>(i));
        const size_t start = before.empty() ? 4 : RasterBytes(before, mode).size();
        ends.push_back(start + sizeof(cups_page_header2_t));
    }
    return ends;
}

TEST(CutStream, EveryOffsetOfAShortJob)
{
    TempDir dir;
    PpdModel ppdModel;
    ppdModel.options = {{"ImageFilter", "0", {}}};
    const std::string ppd = WritePpd(dir.Path("tspl.ppd"), ppdModel);

    RasterPage grey = MakeRasterPage(16, 4, 8);
    RasterPage mono = MakeRasterPage(8, 2, 1);
    SetRasterPixel(grey, 3, 1, 0);
    SetRasterPixel(mono, 5, 1, 0);
    const std::vector<RasterPage> pages = {grey, mono};

    InProcessJob job(ppd);
    for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED}) {
        const std::string stream = RasterBytes(pages, mode);
        const std::vector<size_t> ends = HeaderEnds(pages, mode);
        ASSERT_LT(ends.back(), stream.size());
        for (size_t cut = 0; cut <= stream.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", cut at " << cut << " of "
                                            << stream.size());
            const JobOutcome o = job.Run(stream.substr(0, cut));

            int headers = 0;
            for (size_t end : ends)
                headers += cut >= end;
            ASSERT_EQ(o.started, headers);
            ASSERT_EQ(o.status, headers > 0 ? 0 : 1);
            ASSERT_EQ(o.err.find("ERROR: No pages were found.") != std::string::npos, headers == 0);
            std::string error;
            ASSERT_EQ(CheckTsplStream(o.out, &error), headers) << error;
        }
    }
}

// The same at a few offsets through the filter binary itself, where the
// stream comes on standard input.
TEST(CutStream, FilterProcessAtSampleOffsets)
{
    TempDir dir;
    PpdModel ppdModel;
    const std::string ppd = WritePpd(dir.Path("tspl.ppd"), ppdModel);
    RasterPage page = MakeRasterPage(16, 4, 8);
    SetRasterPixel(page, 3, 1, 0);
    const std::string stream = RasterBytes({page, page});
    const size_t header = 4 + sizeof(cups_page_header2_t);
    const size_t second = RasterBytes({page}).size() + sizeof(cups_page_header2_t);
    for (size_t cut : {size_t(0), size_t(3), size_t(900), header - 1, header, header + 20,
                       second - 1, second, stream.size() - 1}) {
        SCOPED_TRACE(cut);
        WriteFile(dir.Path("cut.ras"), stream.substr(0, cut));
        FilterOptions o;
        o.ppdPath = ppd;
        o.stdinPath = dir.Path("cut.ras");
        const FilterResult r = RunFilter(o);
        const int headers = (cut >= header) + (cut >= second);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, headers > 0 ? 0 : 1);
        std::string error;
        EXPECT_EQ(CheckTsplStream(r.out, &error), headers) << error;
    }
}

} // namespace
