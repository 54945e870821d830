// Options whose names a PPD may or may not carry, through the filter: the
// TSPL vendor SETC lines (SetcCommands) and the brightness under a name
// that CUPS's image converters do not take for their own (ImageBrightness).
// A PPD without them gets the bytes it always got.
#include <gtest/gtest.h>

#include <cstdlib>
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

const std::string kSetcLines =
    "SETC AUTODOTTED OFF\r\nSETC PAUSEKEY ON\r\nSETC WATERMARK ON\r\n";

// A grey ramp, black at the left to white at the right, 256 x 16 dots.
RasterPage Ramp()
{
    RasterPage page = MakeRasterPage(256, 16, 8);
    for (unsigned y = 0; y < 16; ++y)
        for (unsigned x = 0; x < 256; ++x)
            SetRasterPixel(page, x, y, static_cast<unsigned char>(x));
    return page;
}

// Every occurrence of `what` in `text` replaced by `with`.
std::string Replaced(std::string text, const std::string& what, const std::string& with)
{
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

// PPD options and job options, and the printer stream they must give.
struct OptionCase {
    const char* what;
    std::vector<PpdOption> options;
    const char* jobOptions;
    const std::string& expected;
};

class LabelOptions : public testing::Test {
protected:
    template <size_t N>
    void ExpectPrints(const OptionCase (&cases)[N])
    {
        for (const OptionCase& c : cases) {
            SCOPED_TRACE(c.what);
            EXPECT_TRUE(Print(c.options, c.jobOptions) == c.expected);
        }
    }

    // The printer stream of a two-page job (a 64 x 16 label and the ramp)
    // with the given PPD options and job options.
    std::string Print(const std::vector<PpdOption>& options, const std::string& jobOptions = "",
                      int model = 20)
    {
        PpdModel ppdModel;
        ppdModel.modelNumber = model;
        ppdModel.options = options;
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("printer.ppd"), ppdModel);
        RasterPage label = MakeRasterPage(64, 16, 8);
        SetRasterPixel(label, 3, 3, 0);
        WriteRaster(dir.Path("job.ras"), {label, Ramp()});
        o.args = FilterArgs(jobOptions, dir.Path("job.ras"));
        const FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    TempDir dir;
};

TEST_F(LabelOptions, SetcCommandsSendsTheThreeLinesOrNone)
{
    const std::string today = Print({});
    // Today's page setup, SETC lines included, on both pages.
    ASSERT_EQ(today.rfind("SIZE 8.01 mm,2.00 mm\r\nSET RIBBON OFF\r\nREFERENCE 0,0\r\n"
                          "GAP 0 mm,0 mm\r\nOFFSET 0 mm\r\n" +
                              kSetcLines + "CLS\r\nBITMAP 0,0,8,16,1,",
                          0),
              0u);
    ASSERT_NE(today.find("OFFSET 0 mm\r\n" + kSetcLines + "CLS\r\nBITMAP 0,0,32,16,1,"),
              std::string::npos);
    const std::string none = Replaced(today, kSetcLines, "");
    ASSERT_EQ(none.size(), today.size() - 2 * kSetcLines.size());
    const std::string dotted = Replaced(today, "SETC AUTODOTTED OFF", "SETC AUTODOTTED ON");

    const OptionCase cases[] = {
        {"True", {{"SetcCommands", "True", {"False"}}}, "", today},
        {"False", {{"SetcCommands", "False", {"True"}}}, "", none},
        {"False, dotted line on", {{"SetcCommands", "False", {}}, {"AutoDotted", "1", {"0"}}}, "", none},
        {"True, dotted line on", {{"SetcCommands", "True", {}}, {"AutoDotted", "1", {"0"}}}, "", dotted},
        {"False by the job", {{"SetcCommands", "True", {"False"}}}, "SetcCommands=False", none},
        {"True by the job", {{"SetcCommands", "False", {"True"}}}, "SetcCommands=True", today},
        {"no choice marked", {{"SetcCommands", "", {"True", "False"}}}, "", today},
    };
    ExpectPrints(cases);
}

TEST_F(LabelOptions, ImageBrightnessIsTheBrightnessWhenThePpdHasIt)
{
    const std::vector<PpdOption> threshold = {{"ImageFilter", "0", {}}, {"Threshold", "128", {}}};
    auto with = [&](std::vector<PpdOption> more) {
        more.insert(more.begin(), threshold.begin(), threshold.end());
        return more;
    };
    const std::string plain = Print(threshold);
    const std::string brighter = Print(with({{"Brightness", "40", {"0"}}}));
    // Today's Brightness changes the ramp.
    ASSERT_NE(brighter, plain);

    const OptionCase cases[] = {
        {"ImageBrightness 40", with({{"ImageBrightness", "40", {"0"}}}), "", brighter},
        {"ImageBrightness 0", with({{"ImageBrightness", "0", {"40"}}}), "", plain},
        {"ImageBrightness 40 by the job", with({{"ImageBrightness", "0", {"40"}}}),
         "ImageBrightness=40", brighter},
        {"ImageBrightness over Brightness", with({{"Brightness", "-60", {}}, {"ImageBrightness", "40", {}}}),
         "", brighter},
        {"ImageBrightness 0 over Brightness", with({{"Brightness", "40", {}}, {"ImageBrightness", "0", {}}}),
         "", plain},
        {"Brightness by the job, PPD without ImageBrightness", with({{"Brightness", "0", {"40"}}}),
         "Brightness=40", brighter},
        {"Brightness by the job, PPD with ImageBrightness",
         with({{"Brightness", "0", {"40"}}, {"ImageBrightness", "0", {"40"}}}), "Brightness=40", plain},
    };
    ExpectPrints(cases);
}

// The setup lines of the first label between REFERENCE and OFFSET: the
// position and the media commands.
std::string PositionAndMedia(const std::string& out)
{
    const size_t from = out.find("REFERENCE ");
    const size_t to = out.find("OFFSET ");
    return from == std::string::npos || to == std::string::npos ? "" : out.substr(from, to - from);
}

// Position and media lines by keyword. A PPD without the fine offsets
// gets REFERENCE as always (the 8 mm steps, negative ones too); with them
// the steps and the offset add up in dots, REFERENCE takes no negative
// part, and the fine vertical offset is SHIFT's (203 dpi: 0.25 mm is 2
// dots). GAP and BLINE carry the heights where given.
TEST_F(LabelOptions, PositionAndMediaLines)
{
    const struct {
        const char* what;
        std::vector<PpdOption> options;
        const char* jobOptions;
        const char* lines;
    } cases[] = {
        {"none", {}, "", "REFERENCE 0,0\r\nGAP 0 mm,0 mm\r\n"},
        {"steps only", {{"AdjustHoriaontal", "-1", {}}, {"AdjustVertical", "2", {}}}, "",
         "REFERENCE -63,127\r\nGAP 0 mm,0 mm\r\n"},
        {"new spelling", {{"AdjustHorizontal", "1", {"0"}}}, "", "REFERENCE 63,0\r\nGAP 0 mm,0 mm\r\n"},
        {"fine right", {{"HorizontalOffset", "1.5", {"0"}}}, "", "REFERENCE 12,0\r\nGAP 0 mm,0 mm\r\n"},
        {"fine right by the job", {{"HorizontalOffset", "0", {"0.25"}}}, "HorizontalOffset=0.25",
         "REFERENCE 2,0\r\nGAP 0 mm,0 mm\r\n"},
        {"steps and fine add up",
         {{"AdjustHorizontal", "1", {}}, {"HorizontalOffset", "-0.75", {}}, {"AdjustVertical", "1", {}}},
         "", "REFERENCE 57,63\r\nGAP 0 mm,0 mm\r\n"},
        {"fine down and up", {{"VerticalOffset", "-1.25", {}}}, "",
         "REFERENCE 0,0\r\nSHIFT -10\r\nGAP 0 mm,0 mm\r\n"},
        {"fine vertical 0 resets the shift", {{"VerticalOffset", "0", {}}}, "",
         "REFERENCE 0,0\r\nSHIFT 0\r\nGAP 0 mm,0 mm\r\n"},
        {"negative steps with fine offsets move the image",
         {{"AdjustHorizontal", "-1", {}}, {"AdjustVertical", "-1", {}}, {"VerticalOffset", "10", {}}},
         "", "REFERENCE 0,0\r\nSHIFT 80\r\nGAP 0 mm,0 mm\r\n"},
        {"gap as always", {{"zeMediaTracking", "Gap", {}}}, "", "REFERENCE 0,0\r\nGAP 3 mm,0 mm\r\n"},
        {"gap height", {{"zeMediaTracking", "Gap", {}}, {"GapHeight", "2", {"3"}}}, "",
         "REFERENCE 0,0\r\nGAP 2 mm,0 mm\r\n"},
        {"gap height by the job", {{"zeMediaTracking", "Gap", {}}, {"GapHeight", "3", {"5"}}},
         "GapHeight=5", "REFERENCE 0,0\r\nGAP 5 mm,0 mm\r\n"},
        {"black mark as always", {{"zeMediaTracking", "BLine", {}}}, "",
         "REFERENCE 0,0\r\nBLINE 0 mm,0 mm\r\n"},
        {"mark height", {{"zeMediaTracking", "BLine", {}}, {"MarkHeight", "3", {}}, {"GapHeight", "2", {}}},
         "", "REFERENCE 0,0\r\nBLINE 3 mm,0 mm\r\n"},
        {"heights on continuous paper", {{"GapHeight", "2", {}}, {"MarkHeight", "4", {}}}, "",
         "REFERENCE 0,0\r\nGAP 0 mm,0 mm\r\n"},
        {"heights on perforated paper",
         {{"zeMediaTracking", "Perforated", {}}, {"GapHeight", "2", {}}, {"MarkHeight", "4", {}}}, "",
         "REFERENCE 0,0\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = Print(c.options, c.jobOptions);
        EXPECT_EQ(PositionAndMedia(out), c.lines);
        // Both labels carry the same lines.
        EXPECT_EQ(PositionAndMedia(out.substr(out.find("PRINT 1,1"))), c.lines);
    }
}

// Where no printer command moves the image that way, the image moves: the
// label's one dot at (3, 3), on TSPL and CPCL.
TEST_F(LabelOptions, OffsetsNoCommandTakesMoveTheImage)
{
    const struct {
        const char* what;
        int model;
        std::vector<PpdOption> options;
        const char* header;  // the CPCL header line's start, or null
        int x, y;            // where the dot is printed
    } cases[] = {
        {"TSPL, none", 20, {}, nullptr, 3, 3},
        {"TSPL, left 0.25 mm", 20, {{"HorizontalOffset", "-0.25", {}}}, nullptr, 1, 3},
        {"TSPL, right 0.25 mm: REFERENCE", 20, {{"HorizontalOffset", "0.25", {}}}, nullptr, 3, 3},
        {"TSPL, down: SHIFT", 20, {{"VerticalOffset", "0.25", {}}}, nullptr, 3, 3},
        {"TSPL, up 8 mm in steps", 20,
         {{"AdjustVertical", "-1", {}}, {"HorizontalOffset", "0", {}}}, nullptr, -1, -1},
        {"CPCL, none", 22, {}, "! 0 200 200 16 1\r\n", 3, 3},
        {"CPCL, right 1 mm: header", 22, {{"HorizontalOffset", "1", {}}}, "! 8 200 200 16 1\r\n", 3, 3},
        {"CPCL, a step less 0.5 mm", 22, {{"AdjustHorizontal", "1", {}}, {"HorizontalOffset", "-0.5", {}}},
         "! 60 200 200 16 1\r\n", 3, 3},
        {"CPCL, left 0.25 mm", 22, {{"HorizontalOffset", "-0.25", {}}}, "! 0 200 200 16 1\r\n", 1, 3},
        {"CPCL, down 0.5 mm", 22, {{"VerticalOffset", "0.5", {}}}, "! 0 200 200 16 1\r\n", 3, 7},
        {"CPCL, up 0.25 mm", 22, {{"VerticalOffset", "-0.25", {}}}, "! 0 200 200 16 1\r\n", 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = Print(c.options, "", c.model);
        if (c.header) {
            EXPECT_EQ(out.rfind(c.header, 0), 0u) << out.substr(0, 24);
        }
        NS_DECODE::tagDecodeResult decoded;
        const auto* data = reinterpret_cast<const unsigned char*>(out.data());
        ASSERT_TRUE(c.model == 20 ? NS_DECODE::DecodeTSPL(data, out.size(), decoded)
                                  : NS_DECODE::DecodeCPCL(data, out.size(), decoded))
            << decoded.strError;
        ASSERT_EQ(decoded.vPages.size(), 2u);
        const NS_DECODE::tagDecodedPage& label = decoded.vPages[0];
        std::vector<std::pair<int, int>> ink;
        for (int y = 0; y < label.iHeight; ++y)
            for (int x = 0; x < label.iWidth; ++x)
                if (label.IsInk(x, y))
                    ink.push_back({x, y});
        if (c.x < 0) {
            EXPECT_TRUE(ink.empty());
        } else {
            EXPECT_EQ(ink, (std::vector<std::pair<int, int>>{{c.x, c.y}}));
        }
    }
}

// Ink dots of the pages of a TSPL stream.
std::vector<long> InkPerPage(const std::string& out)
{
    NS_DECODE::tagDecodeResult decoded;
    std::vector<long> ink;
    if (!NS_DECODE::DecodeTSPL(reinterpret_cast<const unsigned char*>(out.data()), out.size(), decoded))
        return ink;
    for (const NS_DECODE::tagDecodedPage& page : decoded.vPages) {
        long n = 0;
        for (int y = 0; y < page.iHeight; ++y)
            for (int x = 0; x < page.iWidth; ++x)
                n += page.IsInk(x, y);
        ink.push_back(n);
    }
    return ink;
}

std::string Quoted(const std::string& s)
{
    return "'" + s + "'";
}

// The whole chain as the scheduler runs it for a PNG: CUPS's image
// converter makes the raster, then bandrill prints it. The converter reads
// a job's "Brightness" as its own option and changes the raster; it leaves
// "ImageBrightness" alone, which reaches bandrill only.
TEST(ImageBrightnessThroughCups, ConverterIgnoresItAndBandrillApplies)
{
    const char* const cupsfilter = "/usr/sbin/cupsfilter";
    if (std::system((std::string("test -x ") + cupsfilter).c_str()) != 0)
        GTEST_SKIP() << cupsfilter << " is not installed (package cups)";

    TempDir dir;
    PpdModel ppdModel;
    ppdModel.options = {{"ImageFilter", "0", {}},
                        {"Threshold", "128", {}},
                        {"ImageBrightness", "0", {"-40", "40"}}};
    // 8-bit grey at 203 dpi on a 50 x 30 mm label.
    ppdModel.extra =
        "*OpenUI *ColorModel/Color Mode: PickOne\n"
        "*OrderDependency: 10 AnySetup *ColorModel\n"
        "*DefaultColorModel: Gray\n"
        "*ColorModel Gray/Grayscale: \"<</cupsColorOrder 0/cupsColorSpace 18/cupsBitsPerColor 8>>"
        "setpagedevice\"\n"
        "*CloseUI: *ColorModel\n"
        "*OpenUI *Resolution/Resolution: PickOne\n"
        "*OrderDependency: 10 AnySetup *Resolution\n"
        "*DefaultResolution: 203dpi\n"
        "*Resolution 203dpi/203 dpi: \"<</HWResolution[203 203]>>setpagedevice\"\n"
        "*CloseUI: *Resolution\n"
        "*OpenUI *PageSize/Media Size: PickOne\n"
        "*OrderDependency: 10 AnySetup *PageSize\n"
        "*DefaultPageSize: w142h85\n"
        "*PageSize w142h85/50 x 30 mm: \"<</PageSize[142 85]/ImagingBBox null>>setpagedevice\"\n"
        "*CloseUI: *PageSize\n"
        "*DefaultPageRegion: w142h85\n"
        "*PageRegion w142h85/50 x 30 mm: \"<</PageSize[142 85]/ImagingBBox null>>setpagedevice\"\n"
        "*DefaultImageableArea: w142h85\n"
        "*ImageableArea w142h85/50 x 30 mm: \"0 0 142 85\"\n"
        "*DefaultPaperDimension: w142h85\n"
        "*PaperDimension w142h85/50 x 30 mm: \"142 85\"\n";
    const std::string ppd = WritePpd(dir.Path("label.ppd"), ppdModel);
    const std::string png = std::string(BANDRILL_SOURCE_DIR) + "/samples/sample.png";

    auto raster = [&](const std::string& option) {
        const std::string out = dir.Path("page.ras");
        const std::string cmd = std::string(cupsfilter) + " -p " + Quoted(ppd) +
                                " -m application/vnd.cups-raster " +
                                (option.empty() ? "" : "-o " + Quoted(option) + " ") + Quoted(png) +
                                " > " + Quoted(out) + " 2> " + Quoted(dir.Path("cupsfilter.log"));
        EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadFile(dir.Path("cupsfilter.log"));
        return ReadFile(out);
    };
    auto bandrill = [&](const std::string& ras, const std::string& options) {
        WriteFile(dir.Path("job.ras"), ras);
        FilterOptions o;
        o.ppdPath = ppd;
        o.args = FilterArgs(options, dir.Path("job.ras"));
        const FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    };

    const std::string plain = raster("");
    ASSERT_GT(plain.size(), 1000u);
    EXPECT_TRUE(raster("ImageBrightness=40") == plain);
    EXPECT_TRUE(raster("ImageBrightness=-40") == plain);
    // What the old option name does to a PNG.
    EXPECT_FALSE(raster("Brightness=40") == plain);

    // bandrill follows the option: brighter is less ink, darker more.
    const std::vector<long> normal = InkPerPage(bandrill(plain, ""));
    const std::vector<long> light = InkPerPage(bandrill(plain, "ImageBrightness=40"));
    const std::vector<long> dark = InkPerPage(bandrill(plain, "ImageBrightness=-40"));
    ASSERT_EQ(normal.size(), 1u);
    ASSERT_EQ(light.size(), 1u);
    ASSERT_EQ(dark.size(), 1u);
    EXPECT_LT(light[0], normal[0]);
    EXPECT_GT(dark[0], normal[0]);
}

} // namespace
