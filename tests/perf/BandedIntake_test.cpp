// Pages of more than one bit a dot are made one bit a dot as their lines
// arrive. The page image that leaves the preparation must be the one the
// whole-page path makes of the same lines: the same bits, palette and
// record, for every depth and colour space, every halftone method,
// brightness and contrast, odd sizes, short and long lines, and pages cut
// off in the middle of a line.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

#include "BaseRender.h"
#include "DibImage.h"
#include "DibImageBands.h"
#include "DibImageRows.h"
#include "FilterRunner.h"
#include "PageAssembler.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

cups_page_header2_t Header(unsigned w, unsigned h, unsigned bpp, int space, unsigned bpl)
{
    cups_page_header2_t hd;
    std::memset(&hd, 0, sizeof hd);
    hd.cupsWidth = w;
    hd.cupsHeight = h;
    hd.cupsBitsPerPixel = bpp;
    hd.cupsBytesPerLine = bpl;
    hd.HWResolution[0] = 203;
    hd.HWResolution[1] = 300;
    std::memcpy(&hd.cupsColorSpace, &space, sizeof space);
    return hd;
}

// Lines of random bytes: anything, mostly black and white, or a few levels
// around the middle (where the clamping of the diffusions works hardest).
std::vector<unsigned char> RandomLines(size_t bytes, int mix, std::mt19937& rng)
{
    std::vector<unsigned char> v(bytes);
    for (unsigned char& b : v) {
        const unsigned r = rng();
        if (mix == 0)
            b = static_cast<unsigned char>(r);
        else if (mix == 1)
            b = (r % 10) < 4 ? 0 : (r % 10) < 8 ? 255 : static_cast<unsigned char>(r >> 8);
        else
            b = static_cast<unsigned char>(116 + (r >> 8) % 25);
    }
    return v;
}

struct Case {
    unsigned w, h, bpp;
    int space;
    int bplDelta;       // cupsBytesPerLine against what the width needs
    unsigned received;  // lines that arrive; fewer than h cuts the page off
    bool partial;       // a line is half written after the last one
    tagREGSTRUCTWITHALFTONE ht;
    tagREGSTRUCT reg;

    std::string Describe() const
    {
        char s[256];
        std::snprintf(s, sizeof s,
                      "%ux%u bpp %u space %d bpl%+d received %u%s method %d thre %d light %d,%d "
                      "rotate %d crop %d mirror %d",
                      w, h, bpp, space, bplDelta, received, partial ? "+partial" : "", ht.iGrayMethod,
                      ht.iThreValue, ht.iLiangdu, ht.iDuibidu, reg.iRotate, ht.iCropLeftEdge,
                      reg.bMirror);
        return s;
    }
};

// Feeds the same lines to a page assembler, each line either copied in
// (AddLine) or written into the storage NextLine gives; a partial line is
// written and never finished.
void Feed(CPageAssembler& page, const Case& c, const std::vector<unsigned char>& data, unsigned bpl,
          uint32_t seed)
{
    std::mt19937 pick(seed);
    for (unsigned y = 0; y < c.received; ++y) {
        const unsigned char* line = data.data() + static_cast<size_t>(y) * bpl;
        if (pick() % 2) {
            ASSERT_TRUE(page.AddLine(line));
        } else {
            unsigned char* to = page.NextLine();
            ASSERT_NE(to, nullptr);
            std::memcpy(to, line, bpl);
            page.LineDone();
        }
    }
    if (c.partial && c.received < c.h) {
        unsigned char* to = page.NextLine();
        ASSERT_NE(to, nullptr);
        std::memset(to, 0, bpl / 2 + 1);
    }
    page.Finish();
}

// Everything of a page image that a back end or a later step can see.
struct ImageState {
    bool valid = false;
    unsigned w = 0, h = 0, bpp = 0, stride = 0;
    int xdpi = 0, ydpi = 0;
    std::vector<uint8_t> block;  // BMP header, palette and pixels
    bool operator==(const ImageState& o) const
    {
        return valid == o.valid && w == o.w && h == o.h && bpp == o.bpp && stride == o.stride &&
               xdpi == o.xdpi && ydpi == o.ydpi && block == o.block;
    }
};

ImageState StateOf(CDibImage& img)
{
    ImageState s;
    s.valid = img.IsValid();
    if (!s.valid)
        return s;
    s.w = img.GetWidth();
    s.h = img.GetHeight();
    s.bpp = img.GetBpp();
    s.stride = img.GetEffWidth();
    s.xdpi = img.GetXDPI();
    s.ydpi = img.GetYDPI();
    const uint8_t* block = img.GetBits(0) - img.GetPaletteSize() - sizeof(tagBITMAPINFOHEADER);
    const uint8_t* end = img.GetBits(0) + static_cast<size_t>(s.stride) * s.h;
    s.block.assign(block, end);
    return s;
}

// Runs the case both ways: lines kept whole then the whole preparation,
// and lines made one bit a dot on intake then the rest of it. Returns
// whether the banded intake took the page.
bool RunBothWays(const Case& c, std::mt19937& rng, int mix)
{
    const unsigned needs = (c.w * c.bpp + 7) / 8;
    const unsigned bpl = static_cast<unsigned>(static_cast<int>(needs) + c.bplDelta);
    cups_page_header2_t hd = Header(c.w, c.h, c.bpp, c.space, bpl);
    const std::vector<unsigned char> data = RandomLines(static_cast<size_t>(bpl) * c.h, mix, rng);
    const uint32_t seed = rng();

    CPageAssembler whole, banded;
    EXPECT_TRUE(whole.Begin(hd));
    EXPECT_TRUE(banded.Begin(hd, c.ht));
    Feed(whole, c, data, bpl, seed);
    Feed(banded, c, data, bpl, seed);
    EXPECT_FALSE(whole.OneBit());

    CBaseRender a, b;
    a.m_regHalftone = b.m_regHalftone = c.ht;
    a.m_reg = b.m_reg = c.reg;
    EXPECT_TRUE(a.LoadPage(&hd, whole.Lines()));
    EXPECT_TRUE(b.LoadPage(&hd, banded));
    EXPECT_EQ(b.m_iDpi, a.m_iDpi);
    a.PreparePage();
    b.PreparePage();
    EXPECT_TRUE(StateOf(a.m_image) == StateOf(b.m_image)) << c.Describe() << " mix " << mix;
    return banded.OneBit();
}

tagREGSTRUCTWITHALFTONE Halftone(int method, int thre, int bright, int contrast)
{
    tagREGSTRUCTWITHALFTONE ht;
    ht.iGrayMethod = method;
    ht.iThreValue = thre;
    ht.iLiangdu = bright;
    ht.iDuibidu = contrast;
    ht.iCropTopEdge = ht.iCropBottomEdge = ht.iCropLeftEdge = ht.iCropRightEdge = 0;
    return ht;
}

const int kSpaces[] = {CUPS_CSPACE_W, CUPS_CSPACE_K, CUPS_CSPACE_SW, CUPS_CSPACE_RGB};

TEST(BandedIntake, EveryDepthAndMethodMatchesTheWholePage)
{
    // Dither methods 0 to 11 (iGrayMethod 1 to 12) and the threshold; odd
    // widths and heights around the bands of 8 and 16 rows and the rows
    // their kernels reach below them.
    const unsigned widths[] = {1, 2, 7, 9, 17, 37, 64, 131};
    const unsigned heights[] = {1, 2, 3, 8, 9, 15, 16, 17, 18, 19, 33, 50};
    const int lights[][2] = {{0, 0}, {20, 30}, {-40, -20}, {7, -13}, {-3, 91}, {100, 100},
                             {INT_MAX, INT_MIN}};
    const int thresholds[] = {0, 1, 127, 128, 200, 255, 256, 300, -1};
    std::mt19937 rng(16);
    int banded = 0;
    for (unsigned bpp : {4u, 8u, 24u, 32u})
        for (int method = -1; method <= 12; ++method)
            for (int round = 0; round < 6; ++round) {
                Case c;
                c.w = widths[rng() % 8];
                c.h = heights[rng() % 12];
                c.bpp = bpp;
                c.space = kSpaces[rng() % 4];
                c.bplDelta = round == 1 ? -1 - static_cast<int>(rng() % 3) : round == 2 ? 5 : 0;
                if (c.bplDelta < 0 && static_cast<int>((c.w * bpp + 7) / 8) + c.bplDelta < 1)
                    c.bplDelta = 0;
                c.received = round == 3 ? static_cast<unsigned>(rng() % c.h) : c.h;
                c.partial = round == 3;
                const int* light = lights[round == 0 ? 0 : rng() % 7];
                c.ht = Halftone(method, thresholds[rng() % 9], light[0], light[1]);
                banded += RunBothWays(c, rng, round % 3);
                if (HasFailure())
                    return;
            }
    // Every page fits the bands here.
    EXPECT_EQ(banded, 4 * 14 * 6);
}

TEST(BandedIntake, OneBitPagesAreCopiedAsTheyCame)
{
    std::mt19937 rng(1);
    for (int space : kSpaces)
        for (unsigned w : {1u, 8u, 31u, 33u, 401u})
            for (int bplDelta : {0, -1, 3, 9})
                for (bool cut : {false, true}) {
                    Case c;
                    c.w = w;
                    c.h = 13;
                    c.bpp = 1;
                    c.space = space;
                    c.bplDelta = static_cast<int>((w + 7) / 8) + bplDelta < 1 ? 0 : bplDelta;
                    c.received = cut ? 6 : 13;
                    c.partial = cut;
                    c.ht = Halftone(3, 128, 20, 30);
                    EXPECT_TRUE(RunBothWays(c, rng, 0));
                    if (HasFailure())
                        return;
                }
}

TEST(BandedIntake, TheStepsAfterTheHalftoneSeeTheSamePage)
{
    // Crop limits, mirror, inversion, rotations and scaling all work on
    // the one-bit page, whichever way it was made.
    std::mt19937 rng(77);
    for (int rotate = 0; rotate <= 3; ++rotate)
        for (int crop : {0, 1, -1})
            for (int scale : {100, 50, 173}) {
                Case c;
                c.w = 90 + rng() % 40;
                c.h = 40 + rng() % 30;
                c.bpp = rotate % 2 ? 8 : 24;
                c.space = CUPS_CSPACE_W;
                c.bplDelta = 0;
                c.received = c.h - 10;
                c.partial = false;
                c.ht = Halftone(rotate * 3 % 13, 100, 0, 0);
                c.ht.iCropTopEdge = c.ht.iCropBottomEdge = crop;
                c.ht.iCropLeftEdge = c.ht.iCropRightEdge = crop;
                c.reg.iRotate = rotate;
                c.reg.bMirror = crop == 1;
                c.reg.bNegative = crop == -1;
                c.reg.iScale = scale;
                EXPECT_TRUE(RunBothWays(c, rng, 1));
                if (HasFailure())
                    return;
            }
}

TEST(BandedIntake, PagesWiderThanTheBandsAreKeptWhole)
{
    // An error diffusion on a page wider than the bands goes row by row over
    // the whole page, as before; the ordered methods take any width.
    std::mt19937 rng(5);
    for (int method : {0, 1, 2, 3, 7, 10}) {
        Case c;
        c.w = 16389;
        c.h = 3;
        c.bpp = 8;
        c.space = CUPS_CSPACE_W;
        c.bplDelta = 0;
        c.received = 3;
        c.partial = false;
        c.ht = Halftone(method, 128, 0, 0);
        const bool diffusion = method == 1 || method == 3 || method == 7;
        EXPECT_EQ(RunBothWays(c, rng, 0), !diffusion) << method;
    }
}

TEST(BandedIntake, RefusedPagesLoadNothing)
{
    CPageAssembler page;
    CBaseRender render;
    for (cups_page_header2_t hd : {Header(16, 4, 16, CUPS_CSPACE_W, 32),
                                   Header(20000, 20000, 8, CUPS_CSPACE_W, 20000),
                                   Header(16, 4, 8, CUPS_CSPACE_W, 0)}) {
        const bool begun = page.Begin(hd, render.m_regHalftone);
        EXPECT_EQ(page.NextLine(), nullptr);
        page.Finish();
        if (hd.cupsBytesPerLine == 0) {
            // Accepted, but it takes no lines: all paper.
            EXPECT_TRUE(begun);
            EXPECT_TRUE(render.LoadPage(&hd, page));
            continue;
        }
        EXPECT_FALSE(begun);
        EXPECT_FALSE(page.OneBit());
        EXPECT_FALSE(render.LoadPage(&hd, page));
        EXPECT_FALSE(render.m_image.IsValid());
    }
}

// The band diffusion fed a row at a time reads each source row once, only
// after it has arrived and only while the window of rows the halftoning
// keeps still holds it; the bits are those of the whole-page diffusion.
class CWindowRows final : public IGreyRows {
public:
    explicit CWindowRows(const CDibImage& img) : m_img(img) {}
    const uint8_t* Row(unsigned y) const override
    {
        EXPECT_LT(y, m_arrived);
        EXPECT_LT(m_arrived - y, m_window + 1) << "row " << y << " already dropped";
        EXPECT_FALSE(m_read[y]) << "row " << y << " read twice";
        m_read[y] = true;
        return m_img.GetBits(y);
    }
    void Arrive() { ++m_arrived; }
    void SetWindow(unsigned rows) { m_window = rows; }
    mutable std::vector<bool> m_read = std::vector<bool>(1000);

private:
    const CDibImage& m_img;
    unsigned m_window = 0;
    unsigned m_arrived = 0;
};

TEST(BandedIntake, BandDiffusionReadsEachRowOnceWithinItsWindow)
{
    std::mt19937 rng(9);
    for (int lanes : {8, 16})
        for (int method : {0, 2, 3, 4, 5, 6})
            for (unsigned h : {1u, 5u, 16u, 17u, 19u, 40u}) {
                const unsigned w = 1 + rng() % 70;
                CDibImage grey(w, h, 8, 0);
                grey.SetGrayPalette();
                for (unsigned y = 0; y < h; ++y)
                    for (unsigned x = 0; x < w; ++x)
                        grey.GetBits(y)[x] = static_cast<uint8_t>(rng());
                CDibImage whole(grey);
                ASSERT_TRUE(whole.Dither(method));

                CDibImage out(w, h, 1, 0);
                CWindowRows windowed(grey);
                std::unique_ptr<IBandDiffusion> d =
                    lanes == 8 ? NewBandDiffusion8(method, w, h, windowed, out)
                               : NewBandDiffusion16(method, w, h, windowed, out);
                if (!d)
                    continue;  // no AVX2 here
                windowed.SetWindow(d->BandRows() + d->RowsBelow());
                unsigned next = 0;
                for (unsigned y = 0; y < h; ++y) {
                    windowed.Arrive();
                    while (next < h && y + 1 >= std::min(h, next + d->BandRows() + d->RowsBelow())) {
                        d->Band(next);
                        next += d->BandRows();
                    }
                }
                EXPECT_GE(next, h);
                for (unsigned y = 0; y < h; ++y)
                    EXPECT_TRUE(windowed.m_read[y]) << y;
                for (unsigned y = 0; y < h; ++y)
                    ASSERT_EQ(std::memcmp(out.GetBits(y), whole.GetBits(y), whole.GetEffWidth()), 0)
                        << "lanes " << lanes << " method " << method << " h " << h << " row " << y;
            }
}

// The peak resident memory of the filter run alone: run in a child process
// of its own, whose children's peak is then that run's, whatever ran
// before in this process.
long PeakRssKbOfRun(const FilterOptions& o, int* status)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const FilterResult r = RunFilter(o);
        struct rusage ru;
        getrusage(RUSAGE_CHILDREN, &ru);
        const long figures[2] = {ru.ru_maxrss, r.status};
        const ssize_t n = write(fds[1], figures, sizeof figures);
        _exit(n == static_cast<ssize_t>(sizeof figures) ? 0 : 1);
    }
    close(fds[1]);
    long figures[2] = {-1, -1};
    const ssize_t n = pid > 0 ? read(fds[0], figures, sizeof figures) : -1;
    close(fds[0]);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    *status = static_cast<int>(figures[1]);
    return n == static_cast<ssize_t>(sizeof figures) ? figures[0] : -1;
}

// Through the filter: a grey page of 128 MB at full depth is 16 MB at one
// bit a dot. It must cost about what the same page sent at one bit a dot
// costs; held whole at full depth (lines and image) it would cost 256 MB
// more. Measured against each other, so that a sanitizer build's own
// overhead does not count.
TEST(BandedIntake, GreyPageIsNeverHeldAtFullDepth)
{
    TempDir dir;
    PpdModel ppdModel;
    ppdModel.options = {{"ImageFilter", "3", {"0", "3"}}};
    const std::string ppd = WritePpd(dir.Path("tspl.ppd"), ppdModel);
    long peakKb[2] = {0, 0};
    for (unsigned bpp : {1u, 8u}) {
        RasterPage big = MakeRasterPage(8000, 16000, bpp);
        for (unsigned y = 0; y < 16000; y += 97)
            for (unsigned x = 0; x < 8000; x += 3)
                SetRasterPixel(big, x, y, static_cast<unsigned char>(x + y));
        const std::string raster = dir.Path("job.ras");
        WriteRaster(raster, {big}, static_cast<size_t>(-1), CUPS_RASTER_WRITE_COMPRESSED);
        big.data.clear();
        big.data.shrink_to_fit();

        FilterOptions o;
        o.ppdPath = ppd;
        o.args = FilterArgs("", raster);
        o.stdoutPath = dir.Path("out.prn");
        int status = -1;
        peakKb[bpp == 8] = PeakRssKbOfRun(o, &status);
        EXPECT_EQ(status, 0);
        EXPECT_GT(peakKb[bpp == 8], 0);
    }
    std::printf("[ figures  ] 8000 x 16000 page, 1 bit / 8 bits: peak RSS %ld / %ld KiB\n",
                peakKb[0], peakKb[1]);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator holds far more for the grey page than for
    // the one-bit one; its figures say nothing about the filter's own.
    GTEST_SKIP() << "memory figures of a sanitizer build";
#endif
    EXPECT_LT(peakKb[1], peakKb[0] + 32L * 1024);
}

} // namespace
