// What the filter tells the scheduler while it prints (progress of large
// pages) and where its traces go when there is no system log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FilterRunner.h"
#include "PpdWriter.h"
#include "PrinterFamilies.h"
#include "RasterWriter.h"
#include "StreamDecode.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

// A one-bit page of seeded noise: no back end can shrink it, so every
// language writes well over 64 KiB for it.
RasterPage NoisePage(unsigned width, unsigned height)
{
    RasterPage page = MakeRasterPage(width, height, 1);
    unsigned seed = 2024;
    for (unsigned char& b : page.data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    return page;
}

bool RasterInk(const RasterPage& page, unsigned x, unsigned y)
{
    const unsigned char byte = page.data[static_cast<size_t>(y) * page.header.cupsBytesPerLine + x / 8];
    return ((byte >> (7 - x % 8)) & 1) == 0;
}

class SchedulerMessages : public testing::Test {
protected:
    FilterOptions Options(int model, const std::vector<RasterPage>& pages)
    {
        PpdModel ppdModel;
        ppdModel.modelNumber = model;
        ppdModel.options = {{"ImageFilter", "0", {}}, {"Threshold", "128", {}}};
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("printer.ppd"), ppdModel);
        WriteRaster(dir.Path("job.ras"), pages);
        o.args = FilterArgs("", dir.Path("job.ras"));
        return o;
    }

    TempDir dir;
};

// A large page goes out in tenths with its progress after each, then 100%;
// a small page reports only its 100%. The printer gets the same page.
TEST_F(SchedulerMessages, LargePageReportsProgressInTenths)
{
    const RasterPage noise = NoisePage(384, 3000);  // 144000 bytes of bitmap
    const RasterPage small = MakeRasterPage(64, 8, 8);
    std::string largePage = PageStart(1);
    for (int percent = 10; percent < 100; percent += 10)
        largePage += PageProgress(1, percent);
    largePage += PageEnd(1);

    for (const PrinterFamily& family : PrinterFamilies()) {
        SCOPED_TRACE(family.name);
        const FilterResult r = RunFilter(Options(family.model, {noise, small}));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.err, largePage + PageMessages(2));

        NS_DECODE::tagDecodeResult decoded;
        ASSERT_TRUE(NS_DECODE::DecodeStream(family.language,
                                            reinterpret_cast<const unsigned char*>(r.out.data()),
                                            r.out.size(), decoded))
            << decoded.strError;
        ASSERT_EQ(decoded.vPages.size(), 2u);
        const NS_DECODE::tagDecodedPage& page = decoded.vPages[0];
        ASSERT_GE(page.iWidth, 384);
        ASSERT_EQ(page.iHeight, 3000);
        int wrong = 0;
        for (unsigned y = 0; y < 3000; ++y)
            for (unsigned x = 0; x < 384; ++x)
                wrong += page.IsInk(static_cast<int>(x), static_cast<int>(y)) != RasterInk(noise, x, y);
        EXPECT_EQ(wrong, 0);
    }
}

// A printer channel that fails on the first piece of a large page: the
// failure is reported once and no page is reported complete.
TEST_F(SchedulerMessages, FailedChannelReportsNoProgress)
{
    FilterOptions o = Options(20, {NoisePage(384, 3000), NoisePage(384, 3000)});
    o.stdoutPath = "/dev/full";
    const FilterResult r = RunFilter(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, PageStart(1) + "ERROR:Unable to write print data: No space left on device\n" +
                         PageEnd(1, false) + PageStart(2) + PageEnd(2, false));
}

// Traces go to the system log when its socket is there. Without it the
// filter tries the socket once for the whole job instead of once per
// trace, and drops the traces; the printer and the scheduler get the same.
TEST_F(SchedulerMessages, MissingSystemLogCostsOneAttempt)
{
    FilterOptions o = Options(21, {MakeRasterPage(64, 8, 8), MakeRasterPage(64, 8, 8)});
    const FilterResult with = RunFilter(o);
    o.noSystemLog = true;
    const FilterResult without = RunFilter(o);

    EXPECT_EQ(with.logConnects, 1);
    EXPECT_GT(with.log.size(), 40u);
    EXPECT_TRUE(with.HasTrace("create image width=64, height=8, bitsPerPixel=8, bytesPerLine=64"));

    EXPECT_EQ(without.logConnects, 1);
    EXPECT_TRUE(without.log.empty());
    EXPECT_EQ(without.status, 0);
    EXPECT_EQ(without.out, with.out);
    EXPECT_EQ(without.err, with.err);
}

} // namespace
