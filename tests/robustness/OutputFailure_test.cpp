// Standard output failing under the filter: a full device, or a backend
// that went away. The job never reports success for pages that did not
// reach the printer.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FilterRunner.h"
#include "PpdWriter.h"
#include "PrinterFamilies.h"
#include "RasterWriter.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

size_t Count(const std::string& s, const std::string& what)
{
    size_t n = 0;
    for (size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

// Every language on a device that takes nothing: the error is reported
// once, the job still reads its pages to the end, and exits 1.
TEST(OutputFailure, FullDeviceInEveryLanguage)
{
    TempDir dir;
    RasterPage page = MakeRasterPage(32, 6, 8);
    SetRasterPixel(page, 4, 2, 0);
    WriteRaster(dir.Path("job.ras"), {page, page});
    for (const PrinterFamily& family : PrinterFamilies()) {
        const int model = family.model;
        SCOPED_TRACE(family.name);
        PpdModel ppdModel;
        ppdModel.modelNumber = model;
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("printer.ppd"), ppdModel);
        o.args = FilterArgs("", dir.Path("job.ras"));
        o.stdoutPath = "/dev/full";
        const FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(Count(r.err, "ERROR:Unable to write print data: No space left on device\n"), 1u);
        EXPECT_EQ(Count(r.err, "Unable to write"), 1u);
        EXPECT_NE(r.err.find("INFO: Finished page 2."), std::string::npos);
    }
}

// The reader of standard output closes before the first page is written.
// With SIGPIPE at its default the filter ends on that signal, as any
// process writing to a closed pipe; with SIGPIPE ignored (as a backend's
// parent may leave it) the write fails and is reported. Either way the job
// does not end in success.
TEST(OutputFailure, ReaderGoneBeforeTheFirstPage)
{
    TempDir dir;
    PpdModel ppdModel;
    const std::string ppd = WritePpd(dir.Path("tspl.ppd"), ppdModel);
    RasterPage page = MakeRasterPage(32, 6, 8);
    const std::string stream = RasterBytes({page, page});
    const size_t header = 4 + sizeof(cups_page_header2_t);

    for (bool ignored : {false, true}) {
        SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE default");
        const std::string fifo = dir.Path(ignored ? "out-ignored" : "out-default");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);

        // The filter inherits this disposition; the test itself goes on
        // ignoring SIGPIPE once the filter is started.
        signal(SIGPIPE, ignored ? SIG_IGN : SIG_DFL);
        FilterOptions o;
        o.ppdPath = ppd;
        o.stdoutPath = fifo;
        FilterProcess p(o);
        // The filter has its output open once it starts page 1; it then
        // waits for the page's lines.
        ASSERT_TRUE(p.Write(stream.substr(0, header + 10)));
        ASSERT_TRUE(p.WaitForStderr("INFO: Starting page 1."));
        close(reader);
        p.Write(stream.substr(header + 10));
        const FilterResult r = p.Finish();

        EXPECT_FALSE(r.signal == 0 && r.status == 0);
        if (ignored) {
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(Count(r.err, "ERROR:Unable to write print data: Broken pipe\n"), 1u);
            EXPECT_NE(r.err.find("INFO: Finished page 2."), std::string::npos);
        } else {
            EXPECT_EQ(r.signal, SIGPIPE);
        }
    }
    signal(SIGPIPE, SIG_DFL);
}

} // namespace
