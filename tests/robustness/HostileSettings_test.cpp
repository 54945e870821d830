// What the queue's PPD and the job's options may hand the filter: a file
// that is no PPD, options that name nothing, and settings at and past every
// limit. The filter reports what it cannot use and otherwise prints whole
// pages in every printer language.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "DibImage.h"
#include "FilterRunner.h"
#include "PpdWriter.h"
#include "PrinterFamilies.h"
#include "RasterWriter.h"
#include "StreamDecode.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

// Pages in a stream of the given model's language, by the independent
// decoder; -1 when the stream does not decode.
int DecodedPages(int model, const std::string& out, std::string* error)
{
    NS_DECODE::tagDecodeResult result;
    if (!NS_DECODE::DecodeStream(FindPrinterFamily(model)->language, reinterpret_cast<const unsigned char*>(out.data()),
                                 out.size(), result)) {
        *error = result.strError + " at " + std::to_string(result.nErrorOffset);
        return -1;
    }
    return static_cast<int>(result.vPages.size());
}

class HostileSettings : public testing::Test {
protected:
    std::string Raster()
    {
        RasterPage grey = MakeRasterPage(64, 24, 8);
        RasterPage mono = MakeRasterPage(40, 10, 1);
        for (unsigned i = 0; i < 24; ++i) {
            SetRasterPixel(grey, 10 + i, i, 0);
            SetRasterPixel(grey, 5, i, static_cast<unsigned char>(i * 10));
        }
        SetRasterPixel(mono, 20, 5, 0);
        const std::string path = dir.Path("job.ras");
        WriteRaster(path, {grey, mono});
        return path;
    }

    FilterResult Run(int model, const std::vector<PpdOption>& options, const std::string& jobOptions)
    {
        PpdModel ppdModel;
        ppdModel.modelNumber = model;
        ppdModel.options = options;
        FilterOptions o;
        o.ppdPath = WritePpd(dir.Path("printer.ppd"), ppdModel);
        o.args = FilterArgs(jobOptions, Raster());
        return RunFilter(o);
    }

    TempDir dir;
};

// Every keyword at values past its sensible range, as a broken PPD may
// offer them; then job options that name no option, or a choice the PPD
// does not have, next to ones that pick the absurd choices.
TEST_F(HostileSettings, AbsurdValuesStillPrintWholePages)
{
    const std::string kMax = std::to_string(INT_MAX), kMin = std::to_string(INT_MIN);
    struct Case {
        const char* what;
        std::vector<PpdOption> options;
        std::string jobOptions;
        std::vector<std::string> traces;
    };
    const std::vector<Case> cases = {
        {"limits of int",
         {{"MediaMethod", "Bogus", {}},
          {"AdjustHoriaontal", kMax, {}},
          {"AdjustVertical", kMin, {}},
          {"zeMediaTracking", "Bogus", {}},
          {"FeedOffset", kMax, {}},
          {"Rotate", "7", {}},
          {"Darkness", kMax, {}},
          {"zePrintRate", kMin, {}},
          {"AutoDotted", kMin, {}},
          {"Brightness", kMax, {}},
          {"Contrast", kMin, {}},
          {"ImageFilter", kMax, {}},
          {"Threshold", "99999", {}},
          {"ImageCompress", "-1", {}},
          {"CropEdgeTop", kMin, {}},
          {"CropEdgeBottom", kMax, {}},
          {"CropEdgeLeft", "-1000", {}},
          {"CropEdgeRight", kMax, {}}},
         "",
         {"iRotate = 7", "iDensity = 2147483647", "iThreValue = 99999", "iLiangdu = 2147483647",
          "iDuibidu = -2147483648", "iGrayMethod = 2147483647", "iReference[0] = -8",
          "iCropBottomEdge = 2147483647"}},
        {"contrast and brightness at the other ends, chosen by the job",
         {{"Brightness", "0", {kMin}}, {"Contrast", "0", {kMax}}, {"ImageFilter", "0", {"-5"}},
          {"Rotate", "0", {"-1"}}, {"zeMediaTracking", "Gap", {"Recording"}},
          {"FeedOffset", "0", {"-50"}}},
         "Brightness=" + kMin + " Contrast=" + kMax + " ImageFilter=-5 Rotate=-1 "
             "zeMediaTracking=Recording FeedOffset=-50 NoSuchOption=1 Darkness=7 Threshold=nochoice",
         {"iLiangdu = -2147483648", "iDuibidu = 2147483647", "iGrayMethod = -5", "iRotate = -1",
          "iOffset = -50", "Gap = 5, 0, 0"}},
        {"crops that eat the whole page",
         {{"CropEdgeTop", "-1", {}}, {"CropEdgeBottom", "-1", {}}, {"CropEdgeLeft", "-1", {}},
          {"CropEdgeRight", "-1", {}}, {"Threshold", "0", {}}, {"ImageFilter", "0", {}}},
         "",
         {"iThreValue = 0"}},
    };
    for (const Case& c : cases)
        for (const PrinterFamily& family : PrinterFamilies()) {
            const int model = family.model;
            SCOPED_TRACE(testing::Message() << c.what << ", " << family.name);
            const FilterResult r = Run(model, c.options, c.jobOptions);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.signal, 0);
            // Absurd feeds make pages large enough to report progress.
            EXPECT_EQ(WithoutPartialProgress(r.err), PageMessages(1) + PageMessages(2));
            for (const std::string& t : c.traces)
                EXPECT_TRUE(r.HasTrace(t)) << t;
            std::string error;
            EXPECT_EQ(DecodedPages(model, r.out, &error), 2) << error;
        }
}

// Brightness and contrast at the int limits: the sums and the table values
// stay defined, and the table is the limit of the formula. Pure black and
// pure white palette entries are kept as always.
TEST(LightAtLimits, TableIsTheLimitOfTheFormula)
{
    struct Case {
        int brightness, contrast;
        int below, middle, above;  // levels 1..127, 128, 129..254 become
    };
    const Case cases[] = {
        {0, INT_MAX, 0, 128, 255},
        {0, INT_MIN, 255, 128, 0},
        {INT_MAX, 0, 255, 255, 255},
        {INT_MIN, 0, 0, 0, 0},
        {INT_MAX, -100, 255, 255, 255},
        {INT_MIN, -100, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "brightness " << c.brightness << ", contrast " << c.contrast);
        CDibImage img;
        unsigned char levels[256];
        for (int i = 0; i < 256; ++i)
            levels[i] = static_cast<unsigned char>(i);
        ASSERT_TRUE(img.CreateFromArray(levels, 256, 1, 8, 256, false));
        ASSERT_TRUE(img.Light(c.brightness, c.contrast));
        EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
        EXPECT_EQ(img.GetPixelIndex(255, 0), 255);
        for (int i = 1; i < 255; ++i) {
            const int want = i < 128 ? c.below : (i == 128 ? c.middle : c.above);
            EXPECT_EQ(img.GetPixelIndex(i, 0), want) << i;
        }
    }
}

// Files the PPD variable may name that are no usable PPD: each is reported
// and the job ends with status 1 before anything is printed.
TEST(BrokenPpd, IsReportedAndNothingIsPrinted)
{
    TempDir dir;
    PpdModel good;
    const std::string text = MakePpdText(good);
    struct Case {
        const char* what;
        std::string content;  // empty name: the directory itself
        const char* err;      // expected start of standard error
    };
    const std::vector<Case> cases = {
        {"empty file", "", "ERROR: The PPD file could not be opened.\nDEBUG: "},
        {"binary bytes", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe", 12),
         "ERROR: The PPD file could not be opened.\nDEBUG: "},
        {"header only, no model number", "*PPD-Adobe: \"4.3\"\n", "ERROR: Unknow ModelNumber.\n"},
        {"model number not a number",
         text.substr(0, text.find("*cupsModelNumber:")) + "*cupsModelNumber: twenty\n",
         "ERROR: Unknow ModelNumber.\n"},
    };
    RasterPage page = MakeRasterPage(16, 4, 8);
    WriteRaster(dir.Path("job.ras"), {page});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterOptions o;
        o.ppdPath = dir.Path("broken.ppd");
        WriteFile(o.ppdPath, c.content);
        o.args = FilterArgs("", dir.Path("job.ras"));
        const FilterResult r = RunFilter(o);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.compare(0, std::string(c.err).size(), c.err), 0) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    FilterOptions o;
    o.ppdPath = dir.path();
    o.args = FilterArgs("", dir.Path("job.ras"));
    const FilterResult r = RunFilter(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ERROR: The PPD file could not be opened.\n", 0), 0u) << r.err;
}

} // namespace
