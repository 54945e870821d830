// Only the ink on the wire (InkOnly): TSPL and CPCL send a bitmap per area
// of ink, ESC/POS and PeriPage feed the paper over blank rows. Every page,
// sent both ways, must print the same: the two streams are read back by
// the decoding tool and by the paper model of the tests, and compared.
// Exact bytes where a few show the rule; golden files for a whole label.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "Golden.h"
#include "PaperModel.h"
#include "PrinterCPCL.h"
#include "PrinterESCPOS.h"
#include "PrinterPeriPage.h"
#include "PrinterTSPL.h"
#include "RecordingPrinter.h"
#include "StreamDecode.h"

namespace {

using testing_support::AsciiPicture;
using testing_support::ExpectGolden;
using testing_support::LabelArt;
using testing_support::MakeAsciiImage;
using testing_support::PaperLanguage;
using testing_support::PaperSheet;
using Rows = std::vector<std::string>;

// The settings a test varies besides InkOnly.
struct PrintSetup {
    int bandRows = 0;
    int feedAfter = 0;
    int media = MEDIA_GAP;
    int cutMode = CUT_PAGE;
    bool compress = false;
    bool fast = false;
    int dpi = 203;
};

template <class T>
std::string Print(const std::vector<Rows>& pages, bool inkOnly, const PrintSetup& s)
{
    testing_support::TRecordingPrinter<T, std::string> p;
    p.m_iDpi = s.dpi;
    p.m_reg.iDensity = 8;
    p.m_reg.iSpeed = 4;
    p.m_reg.iGap[0] = s.media;
    p.m_reg.iBandRows = s.bandRows;
    p.m_reg.iFeedAfter = s.feedAfter;
    p.m_reg.iCutMode = s.cutMode;
    p.m_reg.bInkOnly = inkOnly;
    p.m_regHalftone.ImageCompress = s.compress;
    p.m_regHalftone.bFastCompress = s.fast;
    for (const Rows& page : pages) {
        MakeAsciiImage(p.m_image, page);
        p.AdjustEffWidthBits();
        p.OnPaintBmp();
    }
    p.OnEndDoc();
    return p.Joined();
}

struct Family {
    const char* name;
    std::function<std::string(const std::vector<Rows>&, bool, const PrintSetup&)> print;
    const char* lang;  // the decoder's language keyword
    PaperLanguage paper;
};

const Family kFamilies[] = {
    {"TSPL", Print<CPrinterTSPL>, "tspl", PaperLanguage::TSPL},
    {"CPCL", Print<CPrinterCPCL>, "cpcl", PaperLanguage::CPCL},
    {"ESC/POS", Print<CPrinterESCPOS>, "escpos", PaperLanguage::ESCPOS},
    {"PeriPage", Print<CPrinterPeriPage>, "peripage", PaperLanguage::PeriPage},
};

// A decoded page's ink as rows of 'X' and '.', without the blank rows
// after the last ink and the blank dots after each row's last ink.
Rows Ink(const NS_DECODE::tagDecodedPage& page)
{
    Rows rows;
    for (int y = 0; y < page.iHeight; ++y) {
        std::string r;
        for (int x = 0; x < page.iWidth; ++x)
            r += page.IsInk(x, y) ? 'X' : '.';
        r.erase(r.find_last_not_of('.') + 1);
        rows.push_back(r);
    }
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

// The ink the pages were meant to print, in the same form.
Rows Ink(const Rows& page)
{
    Rows rows = page;
    for (std::string& r : rows)
        r.erase(r.find_last_not_of('.') + 1);
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

std::vector<Rows> DecodedInk(const Family& f, const std::string& stream)
{
    NS_DECODE::tagDecodeResult r;
    EXPECT_TRUE(NS_DECODE::DecodeStream(f.lang, reinterpret_cast<const unsigned char*>(stream.data()),
                                        stream.size(), r))
        << r.strError;
    EXPECT_TRUE(r.vWarnings.empty());
    std::vector<Rows> pages;
    for (const auto& page : r.vPages)
        pages.push_back(Ink(page));
    return pages;
}

std::vector<PaperSheet> Printout(const Family& f, const std::string& stream)
{
    std::vector<PaperSheet> sheets;
    std::string error;
    EXPECT_TRUE(testing_support::ReadPrintout(f.paper, stream, sheets, &error)) << error;
    return sheets;
}

// Prints pages plain and ink-only and checks, with both readers, that the
// two streams print the same and that the ink is the pages' own.
void ExpectSamePrint(const Family& f, const std::vector<Rows>& pages, const PrintSetup& s)
{
    const std::string plain = f.print(pages, false, s);
    const std::string lean = f.print(pages, true, s);
    const std::vector<Rows> plainInk = DecodedInk(f, plain);
    EXPECT_EQ(DecodedInk(f, lean), plainInk);
    EXPECT_EQ(Printout(f, lean), Printout(f, plain));
    // The label languages print each page as it was drawn (the paper
    // strips join a job's pages on one slip when it is cut once).
    if (f.paper == PaperLanguage::TSPL || f.paper == PaperLanguage::CPCL) {
        ASSERT_EQ(plainInk.size(), pages.size());
        for (size_t i = 0; i < pages.size(); ++i)
            EXPECT_EQ(plainInk[i], Ink(pages[i])) << AsciiPicture(pages[i]);
    }
}

Rows Blank(int w, int h)
{
    return Rows(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
}

Rows Noise(int w, int h, unsigned perMille, unsigned seed)
{
    std::mt19937 rng(seed);
    Rows rows = Blank(w, h);
    for (auto& r : rows)
        for (auto& c : r)
            if (rng() % 1000 < perMille)
                c = 'X';
    return rows;
}

// Rows of ink with blank runs of every length from 1 to n between them,
// each ink row with a few dots at a place of its own, the first and last
// dot of the row among them now and then.
Rows BlankRuns(int w, int n, unsigned seed)
{
    std::mt19937 rng(seed);
    Rows rows;
    for (int gap = 1; gap <= n; ++gap) {
        std::string ink(static_cast<size_t>(w), '.');
        const int at = static_cast<int>(rng() % static_cast<unsigned>(w));
        for (int x = at; x < std::min(w, at + 1 + static_cast<int>(rng() % 40)); ++x)
            ink[static_cast<size_t>(x)] = 'X';
        if (gap % 5 == 0)
            ink.front() = ink.back() = 'X';
        rows.push_back(ink);
        for (int k = 0; k < gap; ++k)
            rows.push_back(std::string(static_cast<size_t>(w), '.'));
    }
    return rows;
}

// Ink only in the corners of the page.
Rows Corners(int w, int h)
{
    Rows rows = Blank(w, h);
    rows.front().front() = rows.front().back() = 'X';
    rows.back().front() = rows.back().back() = 'X';
    return rows;
}

// Ink rows in the middle of the page, blank above and below.
Rows Middle(int w, int h)
{
    Rows rows = Blank(w, h);
    for (int y = h / 3; y < h / 3 + 4 && y < h; ++y)
        for (int x = w / 4; x < w / 2; ++x)
            rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = ((x + y) % 3) ? 'X' : '.';
    return rows;
}

struct PageCase {
    const char* name;
    std::vector<Rows> pages;
};

std::vector<PageCase> Pages()
{
    return {
        {"noise", {Noise(203, 57, 300, 1), Noise(203, 57, 3, 2)}},
        {"blank runs", {BlankRuns(401, 40, 3)}},
        {"blank runs narrow", {BlankRuns(9, 30, 4)}},
        {"corners", {Corners(384, 90)}},
        {"middle", {Middle(384, 120), Middle(576, 31)}},
        {"all blank", {Blank(384, 70)}},
        {"one row", {Noise(64, 1, 400, 5)}},
        {"label", {LabelArt()}},
    };
}

TEST(InkOnly, EveryFamilyPrintsTheSameInk)
{
    for (const Family& f : kFamilies)
        for (const PageCase& c : Pages()) {
            SCOPED_TRACE(std::string(f.name) + ", " + c.name);
            ExpectSamePrint(f, c.pages, PrintSetup());
        }
}

// Bands of a few rows, a feed after the page, continuous and marked paper,
// pages on one slip, a 100 dpi page whose rows are two dots high: the paper
// must still move exactly as far between the same commands.
TEST(InkOnly, RasterPaperMovesAsFarAsBefore)
{
    PrintSetup bands;
    bands.bandRows = 7;
    PrintSetup feed;
    feed.feedAfter = 10;
    feed.media = MEDIA_CONTINUOUS;
    PrintSetup slip;
    slip.cutMode = CUT_JOB;
    slip.feedAfter = 3;
    PrintSetup marked;
    marked.media = MEDIA_BLACK_LINE;
    PrintSetup lowRes;
    lowRes.dpi = 100;
    const struct {
        const char* name;
        PrintSetup setup;
    } setups[] = {{"bands of 7", bands}, {"feed after", feed}, {"one slip", slip},
                  {"black line", marked}, {"100 dpi", lowRes}};
    for (const Family& f : kFamilies) {
        if (f.paper != PaperLanguage::ESCPOS && f.paper != PaperLanguage::PeriPage)
            continue;
        for (const auto& s : setups)
            for (const PageCase& c : Pages()) {
                SCOPED_TRACE(std::string(f.name) + ", " + s.name + ", " + c.name);
                ExpectSamePrint(f, c.pages, s.setup);
            }
    }
}

// With compression the ink's bounding box goes as one zlib bitmap, from
// zlib's own compressor or the fast one.
TEST(InkOnly, CompressedLabelsPrintTheSame)
{
    const Family& tspl = kFamilies[0];
    for (bool fast : {false, true})
        for (const PageCase& c : Pages()) {
            SCOPED_TRACE(std::string(fast ? "fast, " : "zlib, ") + c.name);
            PrintSetup s;
            s.compress = true;
            s.fast = fast;
            ExpectSamePrint(tspl, c.pages, s);
            const std::string lean = tspl.print(c.pages, true, s);
            size_t bitmaps = 0;
            for (size_t at = lean.find("BITMAP "); at != std::string::npos;
                 at = lean.find("BITMAP ", at + 1))
                ++bitmaps;
            EXPECT_EQ(bitmaps, c.name == std::string("all blank") ? 0u : c.pages.size());
        }
}

// A page 16 dots wide: an ink row, blank rows, an ink row, two blank rows.
// Six blank rows of 2 bytes (12) cost more than a feed and a band header
// (11) and are fed; five (10) stay in the band.
TEST(InkOnly, EscPosBandsAndFeedsExactBytes)
{
    auto page = [](int gap) {
        Rows rows = Blank(16, gap + 4);
        rows[0] = "X..............X";
        rows[static_cast<size_t>(gap) + 1] = ".X..............";
        return rows;
    };
    const std::string head("\x1B\x40\x00\x1B\x61\x01", 6);
    const std::string cut = "\x1D\x56\x31";
    auto raster = [](int rows) {
        return std::string("\x1D\x76\x30\x00\x02\x00", 6) + static_cast<char>(rows) + '\0';
    };
    const std::string row0("\x80\x01", 2), row1("\x40\x00", 2), blank(2, '\0');
    EXPECT_EQ(Print<CPrinterESCPOS>({page(6)}, true, PrintSetup()),
              head + raster(1) + row0 + "\x1B\x4A\x06" + raster(1) + row1 +
                  "\x1B\x4A\x02" + cut);
    std::string kept;
    for (int i = 0; i < 5; ++i)
        kept += blank;
    EXPECT_EQ(Print<CPrinterESCPOS>({page(5)}, true, PrintSetup()),
              head + raster(7) + row0 + kept + row1 + "\x1B\x4A\x02" + cut);
}

// One dot on a 16 x 4 label: one bitmap of one byte where the dot is,
// in each label language's own form.
TEST(InkOnly, LabelBitmapExactBytes)
{
    Rows rows = Blank(16, 4);
    rows[2][9] = 'X';
    const std::string tspl = Print<CPrinterTSPL>({rows}, true, PrintSetup());
    EXPECT_NE(tspl.find("CLS\r\nBITMAP 8,2,1,1,1,\xBF\r\nPRINT 1,1\r\n"), std::string::npos) << tspl;
    const std::string cpcl = Print<CPrinterCPCL>({rows}, true, PrintSetup());
    EXPECT_EQ(cpcl, "! 0 200 200 4 1\r\nPAGE - WIDTH 2\r\nCG 1 1 8 2 \x40\r\nFORM\r\nPRINT\r\n");
}

// A whole label as the printer gets it, ink only.
TEST(InkOnly, LabelGoldenFiles)
{
    ExpectGolden("tspl", "page_400x240_203dpi_inkonly.bin", Print<CPrinterTSPL>({LabelArt()}, true, PrintSetup()));
    ExpectGolden("cpcl", "page_400x240_203dpi_inkonly.bin", Print<CPrinterCPCL>({LabelArt()}, true, PrintSetup()));
}

} // namespace
