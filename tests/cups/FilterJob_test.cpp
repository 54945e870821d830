// The filter binary run as the scheduler runs it: arguments, raster input,
// PPD, model numbers, the page loop, cancellation and exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <string>
#include <syslog.h>

#include "FilterRunner.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

class FilterJob : public testing::Test {
protected:
    std::string Ppd(int model = 20, const std::string& name = "Test Printer")
    {
        PpdModel ppdModel;
        ppdModel.modelNumber = model;
        ppdModel.modelName = name;
        ppdModel.personality = "TSPL";
        return WritePpd(dir.Path("printer.ppd"), ppdModel);
    }

    std::string Raster(const std::vector<RasterPage>& pages, size_t cut = static_cast<size_t>(-1))
    {
        const std::string path = dir.Path("job.ras");
        WriteRaster(path, pages, cut);
        return path;
    }

    TempDir dir;
};


TEST_F(FilterJob, WrongArgumentCountGivesUsageWithoutReadingInput)
{
    for (size_t count : {4u, 7u}) {
        FilterOptions o;
        o.ppdPath = Ppd();
        o.args = {"1", "user", "title", "1", "", "x", "y"};
        o.args.resize(count);
        // Standard input stays open and silent: a filter that read it would hang.
        FilterProcess p(o);
        FilterResult r = p.Finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "ERROR: bandrill job-id user title copies options [file]\n");
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(FilterJob, MissingRasterFile)
{
    FilterOptions o;
    o.ppdPath = Ppd();
    o.args = FilterArgs("", dir.Path("no-such-file.ras"));
    FilterResult r = RunFilter(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR:Unable to open raster file: No such file or directory\n");
}

TEST_F(FilterJob, PpdThatCannotBeOpened)
{
    const std::string notPpd = dir.Path("bad.ppd");
    WriteFile(notPpd, "this is not a PPD file\n");
    for (const std::string& path : {dir.Path("missing.ppd"), notPpd}) {
        FilterOptions o;
        o.ppdPath = path;
        o.stdinPath = Raster({MakeRasterPage(16, 4, 8)});
        FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("ERROR: The PPD file could not be opened.\nDEBUG: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(" on line "), std::string::npos);
    }
    FilterOptions unset;
    unset.stdinPath = Raster({MakeRasterPage(16, 4, 8)});
    EXPECT_EQ(RunFilter(unset).status, 1);
}

TEST_F(FilterJob, UnknownModelNumbers)
{
    for (int model : {19, 25}) {
        FilterOptions o;
        o.ppdPath = Ppd(model);
        o.stdinPath = Raster({MakeRasterPage(16, 4, 8)});
        FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "ERROR: Unknow ModelNumber.\n");
        EXPECT_TRUE(r.HasTrace("ERR: Unknow ModelNumber = " + std::to_string(model) + "\n", LOG_ERR));
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(FilterJob, EmptyStreamFindsNoPages)
{
    for (int model = 20; model <= 24; ++model) {
        FilterOptions o;
        o.ppdPath = Ppd(model);
        FilterResult r = RunFilter(o); // standard input is /dev/null
        EXPECT_EQ(r.status, 1) << model;
        EXPECT_EQ(r.err, "ERROR: No pages were found.\n");
        EXPECT_TRUE(r.HasTrace("ModelNumber = " + std::to_string(model) + "\n"));
        EXPECT_TRUE(r.HasTrace("ModelName=Test Printer"));
        EXPECT_TRUE(r.HasTrace("lang=TSPL"));
    }
}

TEST_F(FilterJob, ModelNameIsOptional)
{
    PpdModel ppdModel;
    ppdModel.modelName = "";
    FilterOptions o;
    o.ppdPath = WritePpd(dir.Path("noname.ppd"), ppdModel);
    FilterResult r = RunFilter(o);
    for (const Trace& t : r.log)
        EXPECT_EQ(t.text.rfind("ModelName=", 0), std::string::npos) << t.text;
}

TEST_F(FilterJob, ThreePagesReportProgressInOrder)
{
    FilterOptions o;
    o.ppdPath = Ppd(21);
    o.args = FilterArgs("", Raster({MakeRasterPage(16, 4, 8), MakeRasterPage(16, 4, 8),
                                    MakeRasterPage(16, 4, 8)}));
    FilterResult r = RunFilter(o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, PageMessages(1) + PageMessages(2) + PageMessages(3));
    EXPECT_EQ(r.CountTraces("DEBUG: cupsWidth = 16\n"), 3u);
    EXPECT_EQ(r.CountTraces("create image width=16, height=4, bitsPerPixel=8, bytesPerLine=16"), 3u);
}

TEST_F(FilterJob, PageHeaderIsTracedInOrder)
{
    FilterOptions o;
    o.ppdPath = Ppd(22);
    RasterPage page = MakeRasterPage(384, 200, 1, 203);
    o.stdinPath = Raster({page});
    FilterResult r = RunFilter(o);
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> expected = {
        "DEBUG: Duplex = 0\n",
        "DEBUG: HWResolution = [ 203 203 ]\n",
        "DEBUG: ImagingBoundingBox = [ 0 0 0 0 ]\n",
        "DEBUG: Margins = [ 0 0 ]\n",
        "DEBUG: ManualFeed = 0\n",
        "DEBUG: MediaPosition = 0\n",
        "DEBUG: NumCopies = 1\n",
        "DEBUG: Orientation = 0\n",
        "DEBUG: PageSize = [ 136 70 ]\n",
        "DEBUG: cupsWidth = 384\n",
        "DEBUG: cupsHeight = 200\n",
        "DEBUG: cupsMediaType = 0\n",
        "DEBUG: cupsBitsPerColor = 1\n",
        "DEBUG: cupsBitsPerPixel = 1\n",
        "DEBUG: cupsBytesPerLine = 48\n",
        "DEBUG: cupsColorOrder = 0\n",
        "DEBUG: cupsColorSpace = 0\n",
        "DEBUG: cupsCompression = 0\n",
        "create image width=384, height=200, bitsPerPixel=1, bytesPerLine=48",
    };
    size_t first = 0;
    while (first < r.log.size() && r.log[first].text != expected[0])
        ++first;
    ASSERT_LT(first + expected.size(), r.log.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(r.log[first + i].text, expected[i]);
}

TEST_F(FilterJob, StreamCutMidPageStillPrintsThePage)
{
    const std::string full = RasterBytes({MakeRasterPage(64, 50, 8)});
    FilterOptions o;
    o.ppdPath = Ppd(21);
    o.stdinPath = Raster({MakeRasterPage(64, 50, 8)}, full.size() - 64 * 20);
    FilterResult r = RunFilter(o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, PageStart(1) +
                         "WARNING: Page 1 is incomplete: the raster data ended after 30 of its 50 "
                         "lines; the rest is printed blank.\n" +
                         PageEnd(1));
    EXPECT_TRUE(r.HasTrace("DEBUG: cupsHeight = 50\n"));
}

TEST_F(FilterJob, SixteenBitPageIsRefusedAndTheJobGoesOn)
{
    FilterOptions o;
    o.ppdPath = Ppd(21);
    o.stdinPath = Raster({MakeRasterPage(16, 4, 16), MakeRasterPage(16, 4, 8)});
    FilterResult r = RunFilter(o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.CountTraces("create image error\n"), 1u);
    EXPECT_TRUE(r.HasTrace("create image error\n", LOG_ERR));
    EXPECT_NE(r.err.find("INFO: Finished page 2."), std::string::npos);
}

TEST_F(FilterJob, PageOverTheImageLimitIsSkippedWithoutAllocatingIt)
{
    // 20000 x 20000 at 8 bits is 400 MB, over the image core's limit; the
    // stream itself is short, the header alone claims the size.
    RasterPage huge = MakeRasterPage(20000, 3, 8);
    huge.header.cupsHeight = 20000;
    FilterOptions o;
    o.ppdPath = Ppd(21);
    o.stdinPath = Raster({huge});
    FilterResult r = RunFilter(o);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.HasTrace("create image error\n", LOG_ERR));
    EXPECT_NE(r.err.find("INFO: Finished page 1."), std::string::npos);
}

TEST_F(FilterJob, SigtermBeforeTheFirstPageFindsNoPages)
{
    FilterOptions o;
    o.ppdPath = Ppd(21);
    FilterProcess p(o);
    // The filter installs its handler once it has read the PPD; it then
    // blocks reading the first header.
    const std::string stream = RasterBytes({MakeRasterPage(16, 4, 8)});
    ASSERT_TRUE(p.Write(stream.substr(0, 4)));
    ASSERT_TRUE(p.WaitForHandler(SIGTERM));
    p.Signal(SIGTERM);
    ASSERT_TRUE(p.Write(stream.substr(4)));
    FilterResult r = p.Finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: No pages were found.\n");
}

TEST_F(FilterJob, SigtermDuringAPageFinishesThatPageOnly)
{
    FilterOptions o;
    o.ppdPath = Ppd(21);
    FilterProcess p(o);
    const RasterPage page = MakeRasterPage(64, 40, 8);
    const std::string one = RasterBytes({page});
    const std::string three = RasterBytes({page, page, page});
    const size_t pageBytes = (three.size() - one.size()) / 2;
    // Page 1 whole, then page 2's header and half of its lines.
    ASSERT_TRUE(p.Write(three.substr(0, one.size() + pageBytes / 2)));
    ASSERT_TRUE(p.WaitForStderr("INFO: Starting page 2."));
    p.Signal(SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p.Write(three.substr(one.size() + pageBytes / 2));
    FilterResult r = p.Finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("INFO: Finished page 2."), std::string::npos);
    EXPECT_EQ(r.err.find("PAGE: 3 1"), std::string::npos);
}

} // namespace

// Copies: a PPD that says the printer makes them (*cupsManualCopies: False)
// gets them from the back end, counted by the first page header (or the
// copies argument where the header leaves NumCopies unset); any other PPD
// prints each page once, as CUPS's converters made the copies.
TEST_F(FilterJob, CopiesAreMadeByThePrinterOnlyWhenThePpdSaysSo)
{
    const struct {
        const char* manualCopies; // the attribute's value; null: none
        unsigned numCopies;
        bool collate;
        int pages;
        const char* copiesArgument;
        std::string expected; // the PRINT lines, in order
    } cases[] = {
        {nullptr, 3, false, 1, "3", "PRINT 1,1\r\n"},
        {"True", 3, false, 1, "3", "PRINT 1,1\r\n"},
        {"False", 3, false, 1, "1", "PRINT 1,3\r\n"},
        {"False", 3, true, 1, "3", "PRINT 1,3\r\n"},
        {"False", 0, false, 1, "4", "PRINT 1,4\r\n"},
        {"False", 1, false, 1, "3", "PRINT 1,1\r\n"},
        {"False", 2, false, 2, "2", "PRINT 1,2\r\nPRINT 1,2\r\n"},
        {"False", 2, true, 2, "2", "PRINT 1,1\r\nPRINT 1,1\r\nPRINT 1,1\r\nPRINT 1,1\r\n"},
        {"False", 100000, false, 1, "1", "PRINT 1,9999\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.manualCopies ? c.manualCopies : "no attribute") + ", " +
                     std::to_string(c.numCopies) + (c.collate ? " collated" : "") + ", " +
                     std::to_string(c.pages) + " pages");
        PpdModel ppdModel;
        ppdModel.personality = "TSPL";
        ppdModel.manualCopies = c.manualCopies ? c.manualCopies : "";
        std::vector<RasterPage> pages;
        for (int i = 0; i < c.pages; ++i) {
            RasterPage page = MakeRasterPage(16, 4, 8);
            SetRasterPixel(page, static_cast<unsigned>(i), 1, 0);
            page.header.NumCopies = c.numCopies;
            page.header.Collate = c.collate ? CUPS_TRUE : CUPS_FALSE;
            pages.push_back(page);
        }
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("copies.ppd"), ppdModel);
        o.args = {"1", "user", "title", c.copiesArgument, "", Raster(pages)};
        FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 0);
        std::string prints;
        for (size_t at = r.out.find("PRINT "); at != std::string::npos;
             at = r.out.find("PRINT ", at + 1))
            prints += r.out.substr(at, r.out.find("\r\n", at) + 2 - at);
        EXPECT_EQ(prints, c.expected);
        // The printer gets each page's bitmap once, however it makes the copies.
        size_t bitmaps = 0;
        for (size_t at = r.out.find("BITMAP "); at != std::string::npos;
             at = r.out.find("BITMAP ", at + 1))
            ++bitmaps;
        const bool collatedSets =
            c.manualCopies && std::string(c.manualCopies) == "False" && c.collate && c.pages > 1;
        EXPECT_EQ(bitmaps, static_cast<size_t>(c.pages) * (collatedSets ? c.numCopies : 1));
        EXPECT_EQ(r.err, c.pages == 1 ? PageMessages(1) : PageMessages(1) + PageMessages(2));
    }
}
