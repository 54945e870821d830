// SIGTERM at many points of a multi-page job, as the scheduler sends it when
// a job is cancelled. The page in progress is finished and no later page is
// started, so the printer gets only whole pages, each a complete TSPL job
// from SIZE to PRINT 1,1; the exit status is 0 when a page was started.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FilterRunner.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "StreamCheck.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

// Whether some child process of this one has a SIGTERM handler installed
// (the filter installs it once the raster stream is open, before it reads
// the first page header).
bool ChildCatchesSigterm()
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    const std::string me = std::to_string(getpid());
    while (dirent* e = readdir(proc)) {
        const std::string pid = e->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream status("/proc/" + pid + "/status");
        std::string line, ppid, caught;
        while (std::getline(status, line)) {
            if (line.rfind("PPid:", 0) == 0)
                ppid = line.substr(5);
            if (line.rfind("SigCgt:", 0) == 0)
                caught = line.substr(7);
        }
        ppid.erase(0, ppid.find_first_not_of(" \t"));
        if (ppid != me || caught.empty())
            continue;
        const unsigned long long mask = std::strtoull(caught.c_str(), nullptr, 16);
        if (mask & (1ull << (SIGTERM - 1)))
            found = true;
    }
    closedir(proc);
    return found;
}

bool WaitForSigtermHandler()
{
    for (int i = 0; i < 4000; ++i) {
        if (ChildCatchesSigterm())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// The heights of the bitmaps of a TSPL stream, in order.
std::vector<int> BitmapHeights(const std::string& out)
{
    std::vector<int> heights;
    size_t pos = 0;
    while ((pos = out.find("BITMAP 0,0,", pos)) != std::string::npos) {
        int stride = 0, height = 0;
        if (std::sscanf(out.c_str() + pos, "BITMAP 0,0,%d,%d,", &stride, &height) == 2)
            heights.push_back(height);
        pos += 11;
    }
    return heights;
}

TEST(Cancel, SigtermAtManyPointsLeavesOnlyWholePages)
{
    TempDir dir;
    PpdModel ppdModel;
    ppdModel.options = {{"ImageFilter", "0", {}}};
    const std::string ppd = WritePpd(dir.Path("tspl.ppd"), ppdModel);

    // Four pages told apart by their heights: 5, 6, 7 and 8 rows.
    std::vector<RasterPage> pages;
    for (unsigned h = 5; h <= 8; ++h) {
        RasterPage p = MakeRasterPage(24, h, 8);
        SetRasterPixel(p, h, 2, 0);
        pages.push_back(p);
    }
    const std::string stream = RasterBytes(pages);
    // Where each page's header and data end.
    std::vector<size_t> headerEnd, pageEnd;
    for (size_t i = 1; i <= pages.size(); ++i) {
        const size_t start = i == 1 ? 4 : pageEnd.back();
        headerEnd.push_back(start + sizeof(cups_page_header2_t));
        pageEnd.push_back(RasterBytes(std::vector<RasterPage>(pages.begin(), pages.begin() + i)).size());
    }

    std::vector<size_t> points = {0, 2, 4, 1000, headerEnd[0] - 1};
    for (size_t i = 0; i < pages.size(); ++i) {
        points.push_back(headerEnd[i]);
        points.push_back((headerEnd[i] + pageEnd[i]) / 2);
        points.push_back(pageEnd[i]);
        if (i + 1 < pages.size())
            points.push_back(headerEnd[i + 1] - 1);
    }

    for (size_t k : points) {
        SCOPED_TRACE(testing::Message() << "SIGTERM after " << k << " of " << stream.size() << " bytes");
        // Pages whose header is in the first k bytes; the last of them
        // may still be waiting for its lines.
        int started = 0;
        for (size_t end : headerEnd)
            started += k >= end;

        FilterOptions o;
        o.ppdPath = ppd;
        FilterProcess p(o);
        ASSERT_TRUE(p.Write(stream.substr(0, k)));
        // Before the stream's 4-byte sync word has arrived the filter is
        // still opening the raster stream and has no handler yet: SIGTERM
        // then ends it as it ends any process, before anything is printed.
        const bool beforeHandler = k < 4;
        if (beforeHandler) {
            p.Signal(SIGTERM);
            const FilterResult r = p.Finish();
            EXPECT_EQ(r.signal, SIGTERM);
            EXPECT_TRUE(r.out.empty());
            EXPECT_TRUE(r.err.empty());
            continue;
        }
        if (started == 0) {
            ASSERT_TRUE(WaitForSigtermHandler());
        } else if (k >= pageEnd[started - 1]) {
            ASSERT_TRUE(p.WaitForStderr("INFO: Finished page " + std::to_string(started) + "."));
        } else {
            ASSERT_TRUE(p.WaitForStderr("INFO: Starting page " + std::to_string(started) + "."));
        }
        p.Signal(SIGTERM);
        p.Write(stream.substr(k));
        const FilterResult r = p.Finish();

        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, started > 0 ? 0 : 1);
        std::string expectErr;
        for (int n = 1; n <= started; ++n)
            expectErr += PageMessages(n);
        if (started == 0)
            expectErr = "ERROR: No pages were found.\n";
        EXPECT_EQ(r.err, expectErr);

        std::string error;
        EXPECT_EQ(CheckTsplStream(r.out, &error), started) << error;
        std::vector<int> heights;
        for (int n = 0; n < started; ++n)
            heights.push_back(5 + n);
        EXPECT_EQ(BitmapHeights(r.out), heights);
    }
}

} // namespace
