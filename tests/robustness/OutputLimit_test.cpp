// A page whose printer commands would pass the output buffer's 100 MiB
// content limit. The buffer empties itself before such an append, so the
// printer would get the page's tail (bitmap bytes, PRINT) without the
// commands that announce it; the page must instead not be sent at all, and
// the job must go on with the next page.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <syslog.h>
#include <vector>

#include "AsciiImage.h"
#include "FilterRunner.h"
#include "PpdWriter.h"
#include "PrinterTSPL.h"
#include "RasterWriter.h"
#include "RecordingPrinter.h"
#include "StreamCheck.h"
#include "PrinterFamilies.h"
#include "StreamDecode.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

using RecordingTSPL = testing_support::TRecordingPrinter<CPrinterTSPL, std::string>;


// A label of 200 x 60 dots of seeded noise: its page job is larger than a
// new output buffer's 1024 bytes in both bitmap modes (zlib cannot shrink
// noise), so the buffer has to grow to take it, which is where its limit
// applies.
std::vector<std::string> Label()
{
    std::vector<std::string> rows;
    unsigned seed = 12345;
    for (int y = 0; y < 60; ++y) {
        std::string row;
        for (int x = 0; x < 200; ++x) {
            seed = seed * 1103515245u + 12345u;
            row += (seed >> 16) & 1 ? 'X' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

// The page's whole command stream with no limit on the buffer.
std::string FullPage(bool compress)
{
    RecordingTSPL p;
    p.m_iDpi = 203;
    p.m_regHalftone.ImageCompress = compress;
    p.m_buffer.SetMaxBufferSize(0);
    MakeAsciiImage(p.m_image, Label());
    p.OnPaintBmp();
    return p.writes.empty() ? std::string() : p.writes[0];
}

// Limits around the page's own size: the page goes out whole exactly when
// all of it fits, and otherwise nothing of it is written; the next page,
// which fits, goes out whole.
TEST(OutputLimit, TsplPageGoesOutWholeOrNotAtAll)
{
    for (bool compress : {false, true}) {
        const std::string page = FullPage(compress);
        ASSERT_EQ(CheckTsplStream(page, nullptr), 1);
        ASSERT_GT(page.size(), 1024u);
        const int size = static_cast<int>(page.size());
        const int print = 11;   // "PRINT 1,1" CR LF
        const size_t bitmapAt = page.find("BITMAP ");
        ASSERT_NE(bitmapAt, std::string::npos);

        struct Case {
            const char* what;
            int limit;
            bool sent;
        };
        const Case cases[] = {
            {"exactly the page", size, true},
            {"one byte short", size - 1, false},
            {"room up to the bitmap's CR LF, not for PRINT", size - print, false},
            {"room for the setup lines only", static_cast<int>(bitmapAt), false},
            {"room for part of the payload", static_cast<int>(bitmapAt) + 20, false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << (compress ? "mode 3, " : "mode 1, ") << c.what);
            CRecordingJob job;
            RecordingTSPL p;
            p.SetJob(&job);
            p.m_iDpi = 203;
            p.m_regHalftone.ImageCompress = compress;
            p.m_buffer.SetMaxBufferSize(c.limit);
            MakeAsciiImage(p.m_image, Label());
            p.OnPaintBmp();
            if (c.sent) {
                ASSERT_EQ(p.writes.size(), 1u);
                EXPECT_EQ(p.writes[0], page);
            } else {
                EXPECT_TRUE(p.writes.empty());
                EXPECT_TRUE(p.Logged("OnPaintBmp: page not sent, its commands exceed the output limit of " +
                                     std::to_string(c.limit)));
                EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);
            }
            ASSERT_EQ(job.reports.size(), c.sent ? 0u : 1u);
            if (!c.sent) {
                EXPECT_EQ(job.reports[0].second,
                          "Page 1 not printed: its commands exceed the output limit of " +
                              std::to_string(c.limit) + " bytes.");
            }

            // The job goes on: a page that fits goes out whole.
            p.m_buffer.SetMaxBufferSize(size);
            MakeAsciiImage(p.m_image, Label());
            p.OnPaintBmp();
            ASSERT_FALSE(p.writes.empty());
            EXPECT_EQ(p.writes.back(), page);
        }
    }
}

long PeakChildRssKb()
{
    struct rusage ru;
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru.ru_maxrss;
}

// The filter's own figures: a 30000 x 30000 one-bit page is 112.5 MB of
// bitmap, past the 100 MiB limit in plain mode. Blank, its raster stream
// and its zlib stream are small, so in compressed mode it fits.
TEST(OutputLimit, HugeTsplPageThroughTheFilter)
{
    TempDir dir;
    RasterPage huge = MakeRasterPage(30000, 30000, 1);
    RasterPage small = MakeRasterPage(40, 8, 8);
    SetRasterPixel(small, 3, 3, 0);
    const std::string raster = dir.Path("job.ras");
    WriteRaster(raster, {huge, small}, static_cast<size_t>(-1), CUPS_RASTER_WRITE_COMPRESSED);
    huge.data.clear();
    huge.data.shrink_to_fit();

    for (const char* compress : {"0", "1"}) {
        SCOPED_TRACE(testing::Message() << "ImageCompress " << compress);
        PpdModel ppdModel;
        ppdModel.options = {{"ImageCompress", compress, {"0", "1"}}};
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("tspl.ppd"), ppdModel);
        o.args = FilterArgs("", raster);
        const FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.CountTraces("create image width=30000, height=30000, bitsPerPixel=1, bytesPerLine=3750"), 1u);

        std::string error;
        const bool plain = compress[0] == '0';
        EXPECT_EQ(CheckTsplStream(r.out, &error), plain ? 1 : 2) << error;
        EXPECT_EQ(r.HasTrace("OnPaintBmp: page not sent, its commands exceed the output limit of 104857600"),
                  plain);
        EXPECT_EQ(r.out.find("BITMAP 0,0,3752,30000,1,"), std::string::npos);
        EXPECT_EQ(r.out.find("BITMAP 0,0,3752,30000,3,") != std::string::npos, !plain);
        EXPECT_NE(r.out.find(plain ? "BITMAP 0,0,8,8,1," : "BITMAP 0,0,8,8,3,"), std::string::npos);
        // The refused page is an error of its own; the next is printed.
        if (plain) {
            EXPECT_EQ(r.err, PageStart(1) +
                                 "ERROR: Page 1 not printed: its commands exceed the output "
                                 "limit of 104857600 bytes.\n" +
                                 PageEnd(1, false) + PageMessages(2));
        } else {
            EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
        }

        // The page image (the lines go straight into it), 112.5 MB, and no copy of
        // the bitmap in the output buffer. Sanitizer builds need more.
        const long peakKb = PeakChildRssKb();
        std::printf("[ figures  ] ImageCompress %s: peak RSS %ld KiB\n", compress, peakKb);
        EXPECT_LT(peakKb, 700L * 1024);
    }
}

// The ESC/POS and PeriPage back ends keep no content limit on their page
// buffer: a raster page of more than 100 MiB goes out whole, as one page
// that decodes back to the picture.
TEST(OutputLimit, HugeRasterPageInEscPosAndPeriPage)
{
    TempDir dir;
    RasterPage huge = MakeRasterPage(30000, 28000, 1);
    SetRasterPixel(huge, 29000, 27000, 0);
    const std::string raster = dir.Path("job.ras");
    WriteRaster(raster, {huge}, static_cast<size_t>(-1), CUPS_RASTER_WRITE_COMPRESSED);
    huge.data.clear();
    huge.data.shrink_to_fit();

    for (int model : {21, 24}) {
        SCOPED_TRACE(model);
        PpdModel ppdModel;
        ppdModel.modelNumber = model;
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("printer.ppd"), ppdModel);
        o.args = FilterArgs("", raster);
        FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 0);
        EXPECT_GT(r.out.size(), 104857600u);

        NS_DECODE::tagDecodeResult decoded;
        ASSERT_TRUE(NS_DECODE::DecodeStream(FindPrinterFamily(model)->language,
                                            reinterpret_cast<const unsigned char*>(r.out.data()),
                                            r.out.size(), decoded))
            << decoded.strError;
        r.out.clear();
        r.out.shrink_to_fit();
        ASSERT_EQ(decoded.vPages.size(), 1u);
        const NS_DECODE::tagDecodedPage& page = decoded.vPages[0];
        EXPECT_EQ(page.iWidth, 30000);
        EXPECT_EQ(page.iHeight, 28000);
        EXPECT_TRUE(page.IsInk(29000, 27000));
        EXPECT_FALSE(page.IsInk(28999, 27000));
        // Image, packed raster (its rows have padding) and page stream:
        // three copies.
        const long peakKb = PeakChildRssKb();
        std::printf("[ figures  ] model %d, 105 MB page sent whole: peak RSS %ld KiB\n", model, peakKb);
        EXPECT_LT(peakKb, 1200L * 1024);
    }
}

} // namespace
