// What the filter makes of the raster it is given, seen in the printer
// stream: colour space K, pages cut short, and a printer channel that fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "FilterRunner.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

// The pages of a TSPL stream with plain (mode 1) bitmaps, as ASCII art of
// width pixels: bit 0 is ink.
std::vector<std::vector<std::string>> TsplPages(const std::string& out, unsigned width)
{
    std::vector<std::vector<std::string>> pages;
    size_t pos = 0;
    while ((pos = out.find("BITMAP 0,0,", pos)) != std::string::npos) {
        unsigned stride = 0, height = 0, mode = 0;
        int used = 0;
        if (std::sscanf(out.c_str() + pos, "BITMAP 0,0,%u,%u,%u,%n", &stride, &height, &mode, &used) < 3)
            break;
        pos += static_cast<size_t>(used);
        std::vector<std::string> rows;
        for (unsigned y = 0; y < height && pos + stride <= out.size(); ++y, pos += stride) {
            std::string row;
            for (unsigned x = 0; x < width; ++x)
                row += ((static_cast<unsigned char>(out[pos + x / 8]) >> (7 - x % 8)) & 1) ? '.' : 'X';
            rows.push_back(row);
        }
        pages.push_back(rows);
    }
    return pages;
}

class FilterIntake : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage>& pages, size_t cut = static_cast<size_t>(-1),
                     const std::string& stdoutPath = "")
    {
        PpdModel ppdModel;
        ppdModel.modelNumber = 20;
        ppdModel.options = {{"ImageFilter", "0", {}}, {"Threshold", "128", {}}};
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("tspl.ppd"), ppdModel);
        const std::string raster = dir.Path("job.ras");
        WriteRaster(raster, pages, cut);
        o.args = FilterArgs("", raster);
        o.stdoutPath = stdoutPath;
        return RunFilter(o);
    }

    TempDir dir;
};

RasterPage Cross(unsigned bpp, cups_cspace_t space)
{
    RasterPage p = MakeRasterPage(8, 4, bpp, 203, space);
    SetRasterPixel(p, 0, 0, 0);
    SetRasterPixel(p, 7, 0, 0);
    SetRasterPixel(p, 3, 2, 0);
    return p;
}

TEST_F(FilterIntake, ColourSpaceKIsComplementedSoInkStaysInk)
{
    const std::vector<std::string> expected = {"X......X", "........", "...X....", "........"};
    for (unsigned bpp : {1u, 8u})
        for (cups_cspace_t space : {CUPS_CSPACE_W, CUPS_CSPACE_K, CUPS_CSPACE_SW}) {
            SCOPED_TRACE(testing::Message() << "bpp " << bpp << " space " << space);
            FilterResult r = Run({Cross(bpp, space)});
            ASSERT_EQ(r.status, 0) << r.err;
            auto pages = TsplPages(r.out, 8);
            ASSERT_EQ(pages.size(), 1u);
            EXPECT_EQ(AsciiPicture(pages[0]), AsciiPicture(expected));
        }
}

TEST_F(FilterIntake, LinesACutPageDidNotDeliverArePaper)
{
    for (cups_cspace_t space : {CUPS_CSPACE_W, CUPS_CSPACE_K}) {
        RasterPage page = MakeRasterPage(16, 10, 8, 203, space);
        for (unsigned y = 0; y < 10; ++y)
            SetRasterPixel(page, 5, y, 0); // a vertical line the whole height
        const std::string full = RasterBytes({page});
        // Keep the header and 4 of the 10 lines.
        FilterResult r = Run({page}, full.size() - 6 * 16);
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.err, PageStart(1) +
                             "WARNING: Page 1 is incomplete: the raster data ended after 4 of its "
                             "10 lines; the rest is printed blank.\n" +
                             PageEnd(1));
        auto pages = TsplPages(r.out, 16);
        ASSERT_EQ(pages.size(), 1u);
        ASSERT_EQ(pages[0].size(), 10u);
        for (unsigned y = 0; y < 10; ++y)
            EXPECT_EQ(pages[0][y], y < 4 ? ".....X.........." : "................") << y;
    }
}

TEST_F(FilterIntake, FailingPrinterChannelIsAnError)
{
    FilterResult r = Run({Cross(8, CUPS_CSPACE_W), Cross(8, CUPS_CSPACE_W)},
                         static_cast<size_t>(-1), "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR:Unable to write print data: No space left on device\n"),
              std::string::npos);
    // Reported once; the job still runs to its end, and no page is
    // reported complete.
    EXPECT_EQ(r.err, PageStart(1) + "ERROR:Unable to write print data: No space left on device\n" +
                         PageEnd(1, false) + PageStart(2) + PageEnd(2, false));
}

} // namespace
