// Page headers as a hostile or broken upstream filter may write them: sizes
// and depths the image core refuses, lines longer or shorter than the width
// needs, absurd resolutions, enum fields out of range. Each page is either
// refused ("create image error" at LOG_ERR, the job goes on) or printed as
// a whole page; the filter never reads or writes out of bounds (the
// sanitizer build checks that), and its memory stays bounded.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <syslog.h>
#include <vector>

#include "DibImage.h"
#include "FilterRunner.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "StreamCheck.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

class PageHeaders : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage>& pages)
    {
        PpdModel ppdModel;
        ppdModel.options = {{"ImageFilter", "0", {}}};
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("tspl.ppd"), ppdModel);
        o.args = FilterArgs("", dir.Path("job.ras"));
        WriteRaster(dir.Path("job.ras"), pages);
        return RunFilter(o);
    }

    TempDir dir;
};

// A page of w x h at bpp with its data filled in for the header as changed
// by `edit`: the stream holds exactly the bytes the header claims.
RasterPage Page(unsigned w, unsigned h, unsigned bpp,
                const std::function<void(cups_page_header2_t&)>& edit = nullptr)
{
    RasterPage p = MakeRasterPage(w, h, bpp);
    if (edit)
        edit(p.header);
    p.data.assign(static_cast<size_t>(p.header.cupsHeight) * p.header.cupsBytesPerLine, 0x5A);
    return p;
}

// Each hostile page is followed by a plain one: a refused page costs only
// itself, a built one is printed whole, and the job goes on either way.
TEST_F(PageHeaders, EachPageIsRefusedOrPrintedWhole)
{
    struct Case {
        const char* what;
        RasterPage page;
        bool built;
        const char* why;  // what the user is told of a refused page
    };
    const Case cases[] = {
        {"width 0", Page(16, 4, 8, [](cups_page_header2_t& h) { h.cupsWidth = 0; }), false,
         "it is 0 x 4 pixels, nothing to print"},
        {"depth 16", Page(16, 4, 16), false,
         "its raster has 16 bits per pixel; 1, 4, 8, 24 and 32 can be printed"},
        {"depth 2", Page(16, 4, 2), false,
         "its raster has 2 bits per pixel; 1, 4, 8, 24 and 32 can be printed"},
        {"depth 64", Page(4, 4, 64), false,
         "its raster has 64 bits per pixel; 1, 4, 8, 24 and 32 can be printed"},
        {"depth 32, lines of one pixel for a width of 1000",
         Page(1000, 4, 32, [](cups_page_header2_t& h) { h.cupsBytesPerLine = 4; }), true, ""},
        {"depth 24, lines of one pixel for a width of 1000",
         Page(1000, 4, 24, [](cups_page_header2_t& h) { h.cupsBytesPerLine = 3; }), true, ""},
        {"depth 8, lines of 1000 bytes for a width of 3",
         Page(3, 5, 8, [](cups_page_header2_t& h) { h.cupsBytesPerLine = 1000; }), true, ""},
        {"resolution 0", Page(16, 4, 8, [](cups_page_header2_t& h) {
             h.HWResolution[0] = h.HWResolution[1] = 0;
         }), true, ""},
        {"resolution beyond int", Page(16, 4, 8, [](cups_page_header2_t& h) {
             h.HWResolution[0] = 0x80000005u;
             h.HWResolution[1] = 4000000000u;
         }), true, ""},
        {"resolution past 32-bit pixels per metre", Page(16, 4, 8, [](cups_page_header2_t& h) {
             h.HWResolution[0] = h.HWResolution[1] = 2000000000u;
         }), true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RasterPage plain = MakeRasterPage(8, 2, 8);
        SetRasterPixel(plain, 1, 1, 0);
        const FilterResult r = Run({c.page, plain});
        EXPECT_EQ(r.status, 0);
        if (c.built) {
            EXPECT_EQ(r.err, PageMessages(1) + PageMessages(2));
        } else {
            EXPECT_EQ(r.err, PageStart(1) + "ERROR: Page 1 not printed: " + c.why + ".\n" +
                                 PageEnd(1, false) + PageMessages(2));
        }
        EXPECT_EQ(r.CountTraces("create image error\n"), c.built ? 0u : 1u);
        EXPECT_EQ(r.HasTrace("create image error\n", LOG_ERR), !c.built);
        std::string error;
        EXPECT_EQ(CheckTsplStream(r.out, &error), c.built ? 2 : 1) << error;
        EXPECT_NE(r.out.find("BITMAP 0,0,4,2,1,"), std::string::npos);
    }
}

// Headers libcups itself refuses end the stream there: no page is started
// and the job reports it.
TEST_F(PageHeaders, HeaderTheRasterLibraryRefusesEndsTheJob)
{
    const std::vector<std::function<void(cups_page_header2_t&)>> edits = {
        [](cups_page_header2_t& h) { h.cupsHeight = 0; },
        [](cups_page_header2_t& h) { h.cupsBytesPerLine = 0; },
        [](cups_page_header2_t& h) { h.cupsBitsPerPixel = 0; },
    };
    for (size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(i);
        const FilterResult r = Run({Page(16, 4, 8, edits[i]), MakeRasterPage(8, 2, 8)});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "ERROR: No pages were found.\n");
        EXPECT_TRUE(r.out.empty());
    }
}

// The enum fields of a header carry whatever the stream holds (libcups
// checks only the colour space); they are traced as the numbers they are.
TEST_F(PageHeaders, EnumFieldsOutOfRangeAreTracedAsCarried)
{
    RasterPage p = MakeRasterPage(8, 2, 8);
    SetRasterPixel(p, 0, 0, 0);
    const int duplex = 2, feed = 5, orientation = 8388608, order = 77;
    std::memcpy(&p.header.Duplex, &duplex, sizeof duplex);
    std::memcpy(&p.header.ManualFeed, &feed, sizeof feed);
    std::memcpy(&p.header.Orientation, &orientation, sizeof orientation);
    std::memcpy(&p.header.cupsColorOrder, &order, sizeof order);
    const FilterResult r = Run({p});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.HasTrace("DEBUG: Duplex = 2\n"));
    EXPECT_TRUE(r.HasTrace("DEBUG: ManualFeed = 5\n"));
    EXPECT_TRUE(r.HasTrace("DEBUG: Orientation = 8388608\n"));
    EXPECT_TRUE(r.HasTrace("DEBUG: cupsColorOrder = 77\n"));
    // The one dark pixel is ink (bit 0) in mode 1.
    const size_t bitmap = r.out.find("BITMAP 0,0,4,2,1,");
    ASSERT_NE(bitmap, std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(r.out[bitmap + 17]), 0x7F);
}

// Resolutions whose pixels-per-metre value has no 32-bit form keep the
// largest one instead of an undefined conversion.
TEST(PageResolution, PixelsPerMetreStaysInRange)
{
    struct Case {
        int dpi;
        int32_t ppm;
    };
    const Case cases[] = {{203, 7992}, {54545454, 2147458819}, {54546100, INT32_MAX}, {2000000000, INT32_MAX}, {INT_MAX, INT32_MAX}};
    for (const Case& c : cases) {
        CDibImage img;
        img.SetXDPI(c.dpi);
        img.SetYDPI(c.dpi);
        EXPECT_EQ(img.GetXDPI(), c.dpi);
        EXPECT_EQ(img.GetHeader()->biXPelsPerMeter, c.ppm) << c.dpi;
        EXPECT_EQ(img.GetHeader()->biYPelsPerMeter, c.ppm) << c.dpi;
    }
}

long PeakChildRssKb()
{
    struct rusage ru;
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru.ru_maxrss;
}

// Headers that claim far more than the stream holds: the page is refused
// before anything of its claimed size is allocated. The claims are 400 MB
// of image and 1 GB of lines for an image of 1000 pixels.
TEST_F(PageHeaders, RefusedHugePagesAllocateNothingOfTheirSize)
{
    RasterPage overLimit = MakeRasterPage(20000, 2, 8);
    overLimit.header.cupsHeight = 20000;
    RasterPage longLines = MakeRasterPage(1000000, 2, 8);
    longLines.header.cupsWidth = 1;
    longLines.header.cupsHeight = 1000;
    const struct {
        const RasterPage* page;
        const char* why;
    } cases[] = {
        {&overLimit, "at 20000 x 20000 pixels, 20000 bytes per line, it is too large for memory "
                     "(the limit is 256 MiB)"},
        {&longLines, "at 1 x 1000 pixels, 1000000 bytes per line, it is too large for memory "
                     "(the limit is 256 MiB)"},
    };
    for (const auto& c : cases) {
        const FilterResult r = Run({*c.page});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.HasTrace("create image error\n", LOG_ERR));
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err, PageStart(1) + "ERROR: Page 1 not printed: " + c.why + ".\n" +
                             PageEnd(1, false));
    }
    const long peakKb = PeakChildRssKb();
    std::printf("[ figures  ] refused 400 MB and 1 GB page claims: peak RSS %ld KiB\n", peakKb);
    EXPECT_LT(peakKb, 200L * 1024);
}

} // namespace
