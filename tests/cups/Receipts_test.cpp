// Receipts and pocket printers through the filter binary: a multi-page
// receipt as one slip, pages wider than the print head, and a short note
// with its blank tail cropped.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include "FilterRunner.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "StreamDecode.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

// One command of an ESC/POS stream as the filter writes it.
struct EscPosCommand {
    std::string name;  // init, nul, centre, feed, drawer, raster, cut, feedcut
    int widthBytes = 0;
    int rows = 0;
    std::string data;  // raster rows
};

// Splits an ESC/POS stream into its commands; false (with the offset) on
// bytes that are none of them.
bool ParseEscPos(const std::string& s, std::vector<EscPosCommand>& cmds, std::string& error)
{
    auto at = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    size_t i = 0;
    while (i < s.size()) {
        EscPosCommand c;
        const size_t left = s.size() - i;
        if (at(i) == 0x00) {
            c.name = "nul";
            i += 1;
        } else if (left >= 2 && at(i) == 0x1B && at(i + 1) == 0x40) {
            c.name = "init";
            i += 2;
        } else if (left >= 3 && at(i) == 0x1B && at(i + 1) == 0x61) {
            c.name = "centre";
            i += 3;
        } else if (left >= 3 && at(i) == 0x1B && at(i + 1) == 0x4A) {
            c.name = "feed";
            i += 3;
        } else if (left >= 5 && at(i) == 0x1B && at(i + 1) == 0x70) {
            c.name = "drawer";
            i += 5;
        } else if (left >= 3 && at(i) == 0x1D && at(i + 1) == 0x56 && at(i + 2) == 0x31) {
            c.name = "cut";
            i += 3;
        } else if (left >= 4 && at(i) == 0x1D && at(i + 1) == 0x56 && at(i + 2) == 0x42) {
            c.name = "feedcut";
            i += 4;
        } else if (left >= 8 && at(i) == 0x1D && at(i + 1) == 0x76 && at(i + 2) == 0x30) {
            c.name = "raster";
            c.widthBytes = at(i + 4) | at(i + 5) << 8;
            c.rows = at(i + 6) | at(i + 7) << 8;
            const size_t n = static_cast<size_t>(c.widthBytes) * static_cast<size_t>(c.rows);
            if (left < 8 + n) {
                error = "raster cut short at offset " + std::to_string(i);
                return false;
            }
            c.data = s.substr(i + 8, n);
            i += 8 + n;
        } else {
            error = "unknown command at offset " + std::to_string(i);
            return false;
        }
        cmds.push_back(c);
    }
    return true;
}

// A grey page of width x height whose ink pattern depends on the page
// number, and the same page as raster rows (set bit = ink).
RasterPage PatternPage(unsigned width, unsigned height, unsigned n, std::string* rows)
{
    RasterPage page = MakeRasterPage(width, height, 8);
    const unsigned stride = (width + 7) / 8;
    std::string bits(static_cast<size_t>(stride) * height, '\0');
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x)
            if (x == 0 || x == width - 1 || (x * 3 + y * (n + 2)) % 17 == 0) {
                SetRasterPixel(page, x, y, 0);
                bits[y * stride + x / 8] = static_cast<char>(bits[y * stride + x / 8] | (0x80 >> (x % 8)));
            }
    if (rows)
        *rows += bits;
    return page;
}

std::vector<std::string> Lines(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

class Receipts : public testing::Test {
protected:
    FilterResult Run(int model, const std::vector<PpdOption>& options,
                     const std::vector<std::pair<std::string, std::string>>& attributes,
                     const std::vector<RasterPage>& pages, const std::string& jobOptions = "")
    {
        PpdModel ppd;
        ppd.modelNumber = model;
        ppd.options = options;
        ppd.attributes = attributes;
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("printer.ppd"), ppd);
        o.stdinPath = dir.Path("job.ras");
        o.args = FilterArgs(jobOptions);
        WriteRaster(o.stdinPath, pages);
        return RunFilter(o);
    }

    TempDir dir;
};

// Three pages: with one cut per job, a feed to the cutter and 255-row
// bands, they are one slip cut once at its end, and the bands stacked are
// the three pages; a PPD without the keywords cuts every page as before.
TEST_F(Receipts, ThreePagesAreOneSlipWithOneCutAtItsEnd)
{
    std::string rows;
    std::vector<RasterPage> pages;
    for (unsigned n = 0; n < 3; ++n)
        pages.push_back(PatternPage(384, 300, n, &rows));

    const struct {
        const char* name;
        std::vector<PpdOption> options;
        std::string jobOptions;
        std::vector<std::string> cuts;  // the cut commands, in order
        int maxRows;
    } kCases[] = {
        {"receipt keywords as PPD defaults",
         {{"ImageFilter", "0", {}},
          {"CutMode", "Job", {"Page", "None"}},
          {"CutFeed", "True", {"False"}},
          {"BandRows", "255", {"0", "24", "2303"}}},
         "",
         {"feedcut"},
         255},
        {"receipt keywords as job options",
         {{"ImageFilter", "0", {}},
          {"CutMode", "Page", {"Job", "None"}},
          {"CutFeed", "False", {"True"}},
          {"BandRows", "0", {"24", "255", "2303"}}},
         "CutMode=Job CutFeed=True BandRows=24",
         {"feedcut"},
         24},
        {"PPD without them", {{"ImageFilter", "0", {}}}, "", {"cut", "cut", "cut"}, 300},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const FilterResult r = Run(21, c.options, {}, pages, c.jobOptions);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<EscPosCommand> cmds;
        std::string error;
        ASSERT_TRUE(ParseEscPos(r.out, cmds, error)) << error;

        std::vector<std::string> cuts;
        std::string stacked;
        int inits = 0, rasters = 0;
        for (const EscPosCommand& cmd : cmds) {
            if (cmd.name == "cut" || cmd.name == "feedcut")
                cuts.push_back(cmd.name);
            inits += cmd.name == "init";
            if (cmd.name == "raster") {
                ++rasters;
                EXPECT_EQ(cmd.widthBytes, 48);
                EXPECT_LE(cmd.rows, c.maxRows);
                stacked += cmd.data;
            }
            EXPECT_NE(cmd.name, "feed") << "no feed between pages or before the cut";
        }
        EXPECT_EQ(cuts, c.cuts);
        EXPECT_TRUE(cmds.back().name == "cut" || cmds.back().name == "feedcut");
        EXPECT_EQ(inits, 3);
        EXPECT_EQ(rasters, 3 * ((300 + c.maxRows - 1) / c.maxRows));
        EXPECT_TRUE(stacked == rows) << "the bands stacked are not the three pages";
        EXPECT_TRUE(Lines(r.err, "WARNING:").empty()) << r.err;
    }
}

// SIGTERM after the second page of a receipt cut once per job: the two
// pages are fed to the cutter and cut all the same.
TEST_F(Receipts, CancelledReceiptIsStillCut)
{
    std::vector<RasterPage> pages;
    for (unsigned n = 0; n < 3; ++n)
        pages.push_back(PatternPage(384, 40, n, nullptr));
    const std::string stream = RasterBytes(pages);
    const size_t twoPages =
        RasterBytes(std::vector<RasterPage>(pages.begin(), pages.begin() + 2)).size();

    PpdModel ppd;
    ppd.modelNumber = 21;
    ppd.options = {{"ImageFilter", "0", {}}, {"CutMode", "Job", {}}, {"CutFeed", "True", {}},
                   {"FeedOffset", "10", {}}};
    FilterOptions o;
    o.ppdPath = WritePpd(dir.Path("printer.ppd"), ppd);
    FilterProcess p(o);
    ASSERT_TRUE(p.Write(stream.substr(0, twoPages)));
    ASSERT_TRUE(p.WaitForStderr("INFO: Finished page 2."));
    p.Signal(SIGTERM);
    p.Write(stream.substr(twoPages));
    const FilterResult r = p.Finish();
    EXPECT_EQ(r.status, 0);

    std::vector<EscPosCommand> cmds;
    std::string error;
    ASSERT_TRUE(ParseEscPos(r.out, cmds, error)) << error;
    std::vector<std::string> names;
    for (const EscPosCommand& cmd : cmds)
        names.push_back(cmd.name);
    EXPECT_EQ(names, std::vector<std::string>({"init", "nul", "centre", "raster", "init", "nul",
                                               "centre", "raster", "feed", "feedcut"}));
}

// A page wider than the PPD's print head: rows of the head's width, the
// page's left part, and one WARNING for the job however many pages. Without
// the attribute the page goes out as it is.
TEST_F(Receipts, PageWiderThanTheHeadIsCutAndWarnedOnce)
{
    std::vector<RasterPage> pages;
    for (unsigned n = 0; n < 2; ++n) {
        RasterPage page = MakeRasterPage(640, 30, 8);
        for (unsigned y = 0; y < 30; ++y) {
            SetRasterPixel(page, 383, y, 0);  // the head's last dot
            SetRasterPixel(page, 500, y, 0);  // beyond the head
        }
        pages.push_back(page);
    }
    const std::vector<PpdOption> thr = {{"ImageFilter", "0", {}}};

    const FilterResult cut = Run(21, thr, {{"bandrillHeadDots", "384"}}, pages);
    ASSERT_EQ(cut.status, 0) << cut.err;
    std::vector<EscPosCommand> cmds;
    std::string error;
    ASSERT_TRUE(ParseEscPos(cut.out, cmds, error)) << error;
    int rasters = 0;
    for (const EscPosCommand& cmd : cmds)
        if (cmd.name == "raster") {
            ++rasters;
            ASSERT_EQ(cmd.widthBytes, 48);
            ASSERT_EQ(cmd.rows, 30);
            for (int y = 0; y < 30; ++y)
                EXPECT_EQ(static_cast<unsigned char>(cmd.data[static_cast<size_t>(y) * 48 + 47]), 0x01);
        }
    EXPECT_EQ(rasters, 2);
    const std::vector<std::string> warnings = Lines(cut.err, "WARNING:");
    ASSERT_EQ(warnings.size(), 1u) << cut.err;
    EXPECT_NE(warnings[0].find("640"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("384"), std::string::npos) << warnings[0];

    const FilterResult wide = Run(21, thr, {}, pages);
    ASSERT_EQ(wide.status, 0);
    cmds.clear();
    ASSERT_TRUE(ParseEscPos(wide.out, cmds, error)) << error;
    for (const EscPosCommand& cmd : cmds) {
        if (cmd.name == "raster") {
            EXPECT_EQ(cmd.widthBytes, 80);
        }
    }
    EXPECT_TRUE(Lines(wide.err, "WARNING:").empty()) << wide.err;

    // A label printer's label size follows the cut image: 864 dots are
    // 108 bytes per row.
    RasterPage label = MakeRasterPage(1600, 20, 8);
    SetRasterPixel(label, 10, 10, 0);
    const FilterResult tspl = Run(20, thr, {{"bandrillHeadDots", "864"}}, {label});
    ASSERT_EQ(tspl.status, 0);
    EXPECT_NE(tspl.out.find("SIZE 108.11 mm,"), std::string::npos) << tspl.out.substr(0, 80);
    EXPECT_NE(tspl.out.find("BITMAP 0,0,108,20,"), std::string::npos);
    EXPECT_EQ(Lines(tspl.err, "WARNING:").size(), 1u) << tspl.err;
}

// A three-line note on a 100 mm Paperang page: with the bottom crop on
// "all" only the lines and the gaps between them are printed.
TEST_F(Receipts, ShortNoteWithBottomCropPrintsOnlyItsLines)
{
    RasterPage note = MakeRasterPage(384, 799, 8);
    for (unsigned line = 0; line < 3; ++line)
        for (unsigned y = 10 + line * 25; y < 26 + line * 25; ++y)
            for (unsigned x = 8; x < 300; x += 3)
                SetRasterPixel(note, x, y, 0);

    const struct {
        const char* crop;
        int rows;
    } kCases[] = {{"-1", 76}, {"0", 799}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string("CropEdgeBottom ") + c.crop);
        const FilterResult r =
            Run(23, {{"ImageFilter", "0", {}}, {"CropEdgeBottom", c.crop, {}}}, {}, {note});
        ASSERT_EQ(r.status, 0);
        NS_DECODE::tagDecodeResult decoded;
        ASSERT_TRUE(NS_DECODE::DecodePaperang(reinterpret_cast<const unsigned char*>(r.out.data()),
                                              r.out.size(), decoded))
            << decoded.strError;
        ASSERT_EQ(decoded.vPages.size(), 1u);
        EXPECT_EQ(decoded.vPages[0].iHeight, c.rows);
    }
}

// Which rows of an ESC/POS stream's raster images, stacked, hold ink.
std::vector<bool> InkRows(const std::vector<EscPosCommand>& cmds)
{
    std::vector<bool> rows;
    for (const EscPosCommand& c : cmds)
        for (int r = 0; c.name == "raster" && r < c.rows; ++r) {
            const std::string row = c.data.substr(static_cast<size_t>(r) * c.widthBytes, c.widthBytes);
            rows.push_back(row.find_first_not_of('\0') != std::string::npos);
        }
    return rows;
}

// Rows from the first ink, then the runs of blank rows between ink, then
// the blank rows after the last ink.
std::vector<int> BlankRuns(const std::vector<bool>& rows)
{
    std::vector<int> runs;
    int blank = 0;
    bool inked = false;
    for (bool ink : rows) {
        if (!ink) {
            ++blank;
            continue;
        }
        if (!inked || blank > 0)
            runs.push_back(blank);
        inked = true;
        blank = 0;
    }
    runs.push_back(blank);
    return runs;
}

// Three pages of 200 rows with 40 blank rows above two 20-row blocks of
// ink (rows 40 to 59 and 120 to 139) and 60 below. TopMargin trims the
// blank above a slip's first ink to the margin; the later pages of the
// slip keep the document's spacing (60 + 40 rows between pages), only the
// slip's foot is trimmed. With a cut per page each page is a slip.
TEST_F(Receipts, TopMarginTrimsTheSlipsTopAndKeepsItsPagesSpacing)
{
    RasterPage page = MakeRasterPage(384, 200, 8);
    for (unsigned y = 0; y < 200; ++y)
        for (unsigned x = 0; x < 384; x += 2)
            if ((y >= 40 && y < 60) || (y >= 120 && y < 140))
                SetRasterPixel(page, x, y, 0);
    const std::vector<RasterPage> pages = {page, page, page};
    const std::vector<PpdOption> receipt = {{"ImageFilter", "0", {}}, {"CropEdgeBottom", "-1", {}}};
    auto with = [&](std::vector<PpdOption> more) {
        more.insert(more.begin(), receipt.begin(), receipt.end());
        return more;
    };
    // Blank rows before the first ink, between the blocks, after the last
    // (runs of none left out).
    const std::vector<int> kTopOff = {0, 60, 100, 60, 100, 60, 0};
    const std::vector<int> kTwoMm = {16, 60, 100, 60, 100, 60, 0};
    const std::vector<int> kPerPage = {0, 60, 60, 60, 0};
    const struct {
        const char* what;
        std::vector<PpdOption> options;
        const char* jobOptions;
        std::vector<int> runs;
    } cases[] = {
        // The foot of each page is trimmed: 40 rows between pages.
        {"without the keyword, cut per job", with({{"CutMode", "Job", {}}}), "",
         {40, 60, 40, 60, 40, 60, 0}},
        {"as the page has it", with({{"CutMode", "Job", {}}, {"TopMargin", "-1", {}}}), "",
         {40, 60, 40, 60, 40, 60, 0}},
        {"none above the first ink", with({{"CutMode", "Job", {}}, {"TopMargin", "0", {}}}), "", kTopOff},
        {"2 mm by the job", with({{"CutMode", "Job", {}}, {"TopMargin", "0", {"2"}}}), "TopMargin=2",
         kTwoMm},
        {"margin larger than the blank", with({{"CutMode", "Job", {}}, {"TopMargin", "10", {}}}), "",
         {40, 60, 100, 60, 100, 60, 0}},
        {"no cut: one slip", with({{"CutMode", "None", {}}, {"TopMargin", "0", {}}}), "", kTopOff},
        {"cut per page: a slip each", with({{"CutMode", "Page", {}}, {"TopMargin", "0", {}}}), "",
         kPerPage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FilterResult r = Run(21, c.options, {}, pages, c.jobOptions);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<EscPosCommand> cmds;
        std::string error;
        ASSERT_TRUE(ParseEscPos(r.out, cmds, error)) << error;
        EXPECT_EQ(BlankRuns(InkRows(cmds)), c.runs);
    }
}

// Turned by 180 degrees the page's foot is its top before turning: the
// blank the bottom crop took there is the slip's top, and the blank above
// the page's first ink is what the next page gets back.
TEST_F(Receipts, TopMarginFollowsTheTurnedPage)
{
    RasterPage page = MakeRasterPage(384, 200, 8);
    for (unsigned y = 30; y < 50; ++y)
        for (unsigned x = 0; x < 384; x += 2)
            SetRasterPixel(page, x, y, 0);
    // Turned: 150 blank rows above the ink, 30 below.
    const FilterResult r = Run(21,
                               {{"ImageFilter", "0", {}}, {"CropEdgeTop", "-1", {}}, {"Rotate", "1", {}},
                                {"CutMode", "Job", {}}, {"TopMargin", "1", {}}},
                               {}, {page, page});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<EscPosCommand> cmds;
    std::string error;
    ASSERT_TRUE(ParseEscPos(r.out, cmds, error)) << error;
    // 1 mm is 8 rows; the first page's 30 rows below come back above the
    // second page's 150.
    EXPECT_EQ(BlankRuns(InkRows(cmds)), (std::vector<int>{8, 180, 0}));
}

// The same receipts with the PPDs ppd/ builds, their defaults unchanged.
const std::string kShippedPpds = std::string(BANDRILL_BUILD_DIR) + "/ppd/ppd/";

FilterResult RunShipped(const std::string& ppd, const std::vector<RasterPage>& pages, TempDir& dir,
                        const std::string& options = "")
{
    FilterOptions o;
    o.args = FilterArgs(options);
    o.ppdPath = kShippedPpds + ppd;
    o.stdinPath = dir.Path("job.ras");
    WriteRaster(o.stdinPath, pages);
    return RunFilter(o);
}

TEST_F(Receipts, ShippedDefaultsPrintThreePagesAsOneSlip)
{
    std::string rows;
    std::vector<RasterPage> pages;
    for (unsigned n = 0; n < 3; ++n)
        pages.push_back(PatternPage(384, 600, n, &rows));
    const FilterResult r = RunShipped("bandrill-escpos-58.ppd", pages, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<EscPosCommand> cmds;
    std::string error;
    ASSERT_TRUE(ParseEscPos(r.out, cmds, error)) << error;
    std::vector<std::string> cuts;
    std::string stacked;
    size_t lastRaster = 0;
    for (size_t i = 0; i < cmds.size(); ++i) {
        if (cmds[i].name == "cut" || cmds[i].name == "feedcut")
            cuts.push_back(cmds[i].name);
        if (cmds[i].name == "raster") {
            EXPECT_LE(cmds[i].rows, 255);
            stacked += cmds[i].data;
            lastRaster = i;
        }
    }
    EXPECT_EQ(cuts, std::vector<std::string>({"feedcut"}));
    EXPECT_EQ(cmds.back().name, "feedcut");
    for (size_t i = 0; i < lastRaster; ++i)
        EXPECT_NE(cmds[i].name, "feed") << "command " << i;
    EXPECT_TRUE(stacked == rows) << "the bands stacked are not the three pages";
}

// A queue's job carries print-color-mode and the text preset's cpi and lpi;
// with them the roll PPD's presets are looked up, and the job must print
// as it does without them and end cleanly (a sanitizer build fails the run
// on memory the filter leaves behind).
TEST_F(Receipts, ShippedPpdPrintsAQueueJobWithPresetOptionsAsAPlainJob)
{
    const RasterPage page = PatternPage(384, 200, 2, nullptr);
    const FilterResult plain = RunShipped("bandrill-escpos-58.ppd", {page}, dir);
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (const char* options : {"print-color-mode=monochrome cpi=17 lpi=8",
                                "print-color-mode=color print-quality=4"}) {
        const FilterResult r = RunShipped("bandrill-escpos-58.ppd", {page}, dir, options);
        EXPECT_EQ(r.status, 0) << options << "\n" << r.err;
        EXPECT_TRUE(r.out == plain.out) << options;
    }
}

TEST_F(Receipts, ShippedPpdCutsAnEightyMillimetrePageToTheHead)
{
    RasterPage page = PatternPage(640, 100, 1, nullptr);
    const FilterResult r = RunShipped("bandrill-escpos-58.ppd", {page, page}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<EscPosCommand> cmds;
    std::string error;
    ASSERT_TRUE(ParseEscPos(r.out, cmds, error)) << error;
    for (const EscPosCommand& cmd : cmds) {
        if (cmd.name == "raster") {
            EXPECT_EQ(cmd.widthBytes, 48);
        }
    }
    EXPECT_EQ(Lines(r.err, "WARNING:").size(), 1u) << r.err;
}

TEST_F(Receipts, ShippedPaperangPpdPrintsAShortNoteShort)
{
    RasterPage note = MakeRasterPage(384, 799, 8);
    for (unsigned line = 0; line < 3; ++line)
        for (unsigned y = 10 + line * 25; y < 26 + line * 25; ++y)
            for (unsigned x = 8; x < 300; x += 3)
                SetRasterPixel(note, x, y, 0);
    const FilterResult r = RunShipped("bandrill-paperang.ppd", {note}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    NS_DECODE::tagDecodeResult decoded;
    ASSERT_TRUE(NS_DECODE::DecodePaperang(reinterpret_cast<const unsigned char*>(r.out.data()),
                                          r.out.size(), decoded))
        << decoded.strError;
    ASSERT_EQ(decoded.vPages.size(), 1u);
    EXPECT_LT(decoded.vPages[0].iHeight, 200);
}

} // namespace
