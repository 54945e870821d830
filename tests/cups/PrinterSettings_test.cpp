// Reading the print settings from the marked PPD.
#include <gtest/gtest.h>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <string>
#include <syslog.h>
#include <vector>

#include "BaseRender.h"
#include "CupsLog.h"
#include "CupsRender.h"
#include "PpdWriter.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

using Opts = std::vector<PpdOption>;

std::vector<std::string>* g_traces = nullptr;

void Capture(int, const char* text)
{
    if (g_traces)
        g_traces->push_back(text);
}

// A render object with its settings read from a PPD written for the test,
// with the job options marked over the PPD defaults as the filter does.
struct Settings {
    Settings(const std::vector<PpdOption>& options, const std::string& jobOptions = "",
             const std::vector<std::pair<std::string, std::string>>& attributes = {})
    {
        TempDir dir;
        PpdModel ppdModel;
        ppdModel.options = options;
        ppdModel.attributes = attributes;
        const std::string path = WritePpd(dir.Path("t.ppd"), ppdModel);
        ppd = ppdOpenFile(path.c_str());
        EXPECT_NE(ppd, nullptr);
        ppdMarkDefaults(ppd);
        cups_option_t* opts = nullptr;
        const int n = cupsParseOptions(jobOptions.c_str(), 0, &opts);
        cupsMarkOptions(ppd, n, opts);
        cupsFreeOptions(n, opts);

        g_traces = &traces;
        LogSinkFn old = SetLogSink(Capture);
        render.m_ppd = ppd;
        render.GetPrinterParameters();
        SetLogSink(old);
        g_traces = nullptr;
    }
    ~Settings() { ppdClose(ppd); }

    bool Traced(const std::string& t) const
    {
        for (const std::string& s : traces)
            if (s == t)
                return true;
        return false;
    }

    ppd_file_t* ppd = nullptr;
    CCupsRender<CBaseRender> render;
    std::vector<std::string> traces;
};

const char* const kKeywords[] = {
    "MediaMethod",      "AdjustHorizontal", "AdjustHoriaontal", "AdjustVertical", "zeMediaTracking",
    "FeedOffset",       "Rotate",           "Darkness",         "zePrintRate",    "AutoDotted",
    "ImageBrightness",  "Brightness",       "Contrast",         "ImageFilter",    "Threshold",
    "ImageCompress",    "CropEdgeTop",      "CropEdgeBottom",   "CropEdgeLeft",   "CropEdgeRight",
    "SetcCommands",     "BandRows",         "CutMode",          "CutFeed",        "CashDrawer",
    "InkOnly",          "FastCompress",
    // after the head width attribute
    "HorizontalOffset", "VerticalOffset",   "GapHeight",        "MarkHeight",     "TopMargin"};
// The keywords looked up after the head width attribute.
const size_t kAfterHeadDots = 5;
const size_t kKeywordCount = sizeof kKeywords / sizeof kKeywords[0];

TEST(PrinterSettings, PpdWithoutKeywordsKeepsDefaultsButDensityAndSpeed)
{
    Settings s(Opts{});
    ASSERT_GE(s.traces.size(), 1u);
    EXPECT_EQ(s.traces[0], "CCupsRender::GetPrinterParameters");
    // Every keyword is looked up, in order.
    std::vector<std::string> lookups;
    for (const std::string& t : s.traces)
        if (t.rfind("GetMarkedOption: ", 0) == 0)
            lookups.push_back(t);
    ASSERT_EQ(lookups.size(), kKeywordCount);
    for (size_t i = 0; i < kKeywordCount; ++i)
        EXPECT_EQ(lookups[i], std::string("GetMarkedOption: ") + kKeywords[i] + " is error");
    EXPECT_TRUE(s.Traced("iLiangdu = 0"));
    // The print head width is an attribute, looked up after the receipt
    // settings; the keywords that came later follow it.
    ASSERT_EQ(s.traces.size(), kKeywordCount + 3);
    EXPECT_EQ(s.traces[s.traces.size() - 1 - kAfterHeadDots], "FindAttr: bandrillHeadDots is missing");

    const tagREGSTRUCT& r = s.render.m_reg;
    const tagREGSTRUCTWITHALFTONE& h = s.render.m_regHalftone;
    EXPECT_EQ(r.iDensity, -1);
    EXPECT_EQ(r.iSpeed, -1);
    EXPECT_EQ(r.iGap[0], 0);
    EXPECT_EQ(r.iGap[1], 3);
    EXPECT_EQ(r.iGap[2], 0);
    EXPECT_EQ(r.iPrinttype, 0);
    EXPECT_EQ(r.iScale, 100);
    EXPECT_TRUE(r.bPauseKey);
    EXPECT_TRUE(r.bWaterMark);
    EXPECT_TRUE(r.bSetcCommands);
    EXPECT_EQ(h.iGrayMethod, 3);
    EXPECT_EQ(h.iThreValue, 175);
    EXPECT_EQ(h.iLiangdu, 0);
    EXPECT_FALSE(h.ImageCompress);
    EXPECT_EQ(r.iBandRows, 0);
    EXPECT_EQ(r.iCutMode, CUT_PAGE);
    EXPECT_FALSE(r.bCutFeed);
    EXPECT_EQ(r.iCashDrawer, CASH_DRAWER_NONE);
    EXPECT_EQ(r.iHeadDots, 0);
    EXPECT_FALSE(r.bInkOnly);
    EXPECT_FALSE(h.bFastCompress);
}

// One keyword with one choice per row: the field it sets and the trace.
struct Row {
    const char* keyword;
    const char* choice;
    const char* trace;          // null: no trace besides the lookup
    int tagREGSTRUCT::*field;   // or null for a halftone field
    int tagREGSTRUCTWITHALFTONE::*hfield;
    int expected;
};

TEST(PrinterSettings, EachKeywordConvertsItsChoice)
{
    using R = tagREGSTRUCT;
    using H = tagREGSTRUCTWITHALFTONE;
    const Row rows[] = {
        {"MediaMethod", "Normal", "iPrinttype = 0", &R::iPrinttype, nullptr, 0},
        {"MediaMethod", "Direct", "iPrinttype = 0", &R::iPrinttype, nullptr, 0},
        {"MediaMethod", "normal", "iPrinttype = 1", &R::iPrinttype, nullptr, 1},
        {"MediaMethod", "Ribbon", "iPrinttype = 1", &R::iPrinttype, nullptr, 1},
        {"FeedOffset", "5", "iOffset = 5", &R::iFeedAfter, nullptr, 5},
        {"FeedOffset", "5", "iOffset = 5", &R::iOffset, nullptr, 5},
        {"Rotate", "2", "iRotate = 2", &R::iRotate, nullptr, 2},
        {"Darkness", "Default", nullptr, &R::iDensity, nullptr, -1},
        {"Darkness", "12", "iDensity = 12", &R::iDensity, nullptr, 12},
        {"zePrintRate", "Default", nullptr, &R::iSpeed, nullptr, -1},
        {"zePrintRate", "4", "iSpeed = 4", &R::iSpeed, nullptr, 4},
        {"Brightness", "-20", "iLiangdu = -20", nullptr, &H::iLiangdu, -20},
        {"Contrast", "30", "iDuibidu = 30", nullptr, &H::iDuibidu, 30},
        {"ImageFilter", "0", "iGrayMethod = 0", nullptr, &H::iGrayMethod, 0},
        {"ImageFilter", "Burkes", "iGrayMethod = 0", nullptr, &H::iGrayMethod, 0},
        {"Threshold", "128", "iThreValue = 128", nullptr, &H::iThreValue, 128},
        {"CropEdgeTop", "5", "iCropTopEdge = 5", nullptr, &H::iCropTopEdge, 5},
        {"CropEdgeBottom", "-1", "iCropBottomEdge = -1", nullptr, &H::iCropBottomEdge, -1},
        {"CropEdgeLeft", "3mm", "iCropLeftEdge = 3", nullptr, &H::iCropLeftEdge, 3},
        {"CropEdgeRight", "9", "iCropRightEdge = 9", nullptr, &H::iCropRightEdge, 9},
        {"BandRows", "0", "iBandRows = 0", &R::iBandRows, nullptr, 0},
        {"BandRows", "255", "iBandRows = 255", &R::iBandRows, nullptr, 255},
        {"BandRows", "100", "iBandRows = 100", &R::iBandRows, nullptr, 100},
        {"BandRows", "-24", "iBandRows = 0", &R::iBandRows, nullptr, 0},
        {"CutMode", "Page", "iCutMode = 0", &R::iCutMode, nullptr, CUT_PAGE},
        {"CutMode", "Job", "iCutMode = 1", &R::iCutMode, nullptr, CUT_JOB},
        {"CutMode", "None", "iCutMode = 2", &R::iCutMode, nullptr, CUT_NONE},
        {"CutMode", "job", "iCutMode = 0", &R::iCutMode, nullptr, CUT_PAGE},
        {"CashDrawer", "None", "iCashDrawer = 0", &R::iCashDrawer, nullptr, CASH_DRAWER_NONE},
        {"CashDrawer", "1Before", "iCashDrawer = 1", &R::iCashDrawer, nullptr, 1},
        {"CashDrawer", "2Before", "iCashDrawer = 2", &R::iCashDrawer, nullptr, 2},
        {"CashDrawer", "1After", "iCashDrawer = 17", &R::iCashDrawer, nullptr,
         1 | CASH_DRAWER_AFTER},
        {"CashDrawer", "2After", "iCashDrawer = 18", &R::iCashDrawer, nullptr,
         2 | CASH_DRAWER_AFTER},
        {"CashDrawer", "3After", "iCashDrawer = 0", &R::iCashDrawer, nullptr, CASH_DRAWER_NONE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.keyword) + "=" + row.choice);
        Settings s(Opts{{row.keyword, row.choice, {}}});
        const int got = row.field ? s.render.m_reg.*row.field : s.render.m_regHalftone.*row.hfield;
        EXPECT_EQ(got, row.expected);
        if (row.trace) {
            EXPECT_TRUE(s.Traced(row.trace));
        }
        // The lookup trace names the choice and its option.
        bool looked = false;
        for (const std::string& t : s.traces)
            looked |= t.rfind(std::string(row.keyword) + ": marked=1, choice: " + row.choice +
                                  ", text: ",
                              0) == 0;
        EXPECT_TRUE(looked);
    }
}

// ImageBrightness is the brightness when the PPD has it; Brightness only
// stands in for a PPD without it, as it always has.
TEST(PrinterSettings, ImageBrightnessBeforeBrightness)
{
    const struct {
        const char* what;
        Opts options;
        const char* jobOptions;
        int expected;
    } rows[] = {
        {"Brightness only", {{"Brightness", "-20", {"0", "20"}}}, "", -20},
        {"Brightness only, by the job", {{"Brightness", "-20", {"0", "20"}}}, "Brightness=20", 20},
        {"ImageBrightness only", {{"ImageBrightness", "30", {"0"}}}, "", 30},
        {"both", {{"Brightness", "-20", {}}, {"ImageBrightness", "30", {}}}, "", 30},
        {"both, ImageBrightness 0", {{"Brightness", "-20", {}}, {"ImageBrightness", "0", {}}}, "", 0},
        {"both, job sets Brightness",
         {{"Brightness", "0", {"-20"}}, {"ImageBrightness", "10", {"0"}}}, "Brightness=-20", 10},
        {"both, job sets ImageBrightness",
         {{"Brightness", "0", {"-20"}}, {"ImageBrightness", "0", {"40"}}}, "ImageBrightness=40", 40},
        {"ImageBrightness without a marked choice",
         {{"Brightness", "-20", {}}, {"ImageBrightness", "", {"0", "40"}}}, "", -20},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Settings s(row.options, row.jobOptions);
        EXPECT_EQ(s.render.m_regHalftone.iLiangdu, row.expected);
        EXPECT_TRUE(s.Traced("iLiangdu = " + std::to_string(row.expected)));
    }
}

TEST(PrinterSettings, SetcCommandsTakesTrueOrFalse)
{
    const struct {
        const char* choice;
        bool expected;
        const char* trace;
    } rows[] = {{"True", true, "bSetcCommands = 1"},
                {"False", false, "bSetcCommands = 0"},
                {"0", true, nullptr},
                {"Off", true, nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.choice);
        Settings s(Opts{{"SetcCommands", row.choice, {}}});
        EXPECT_EQ(s.render.m_reg.bSetcCommands, row.expected);
        bool traced = false;
        for (const std::string& t : s.traces)
            traced |= t.rfind("bSetcCommands = ", 0) == 0;
        EXPECT_EQ(traced, row.trace != nullptr);
        if (row.trace) {
            EXPECT_TRUE(s.Traced(row.trace));
        }
    }
    // The job's choice wins over the PPD's default.
    Settings job(Opts{{"SetcCommands", "False", {"True"}}}, "SetcCommands=True");
    EXPECT_TRUE(job.render.m_reg.bSetcCommands);
}

// AdjustHorizontal, the spelling users type, is read before the first
// spelling AdjustHoriaontal: the first one with a choice counts.
TEST(PrinterSettings, AdjustHorizontalBeforeItsFirstSpelling)
{
    const struct {
        const char* what;
        Opts options;
        const char* jobOptions;
        int expected;
    } rows[] = {
        {"first spelling only", {{"AdjustHoriaontal", "-2", {}}}, "", -16},
        {"new spelling only", {{"AdjustHorizontal", "1", {"0"}}}, "", 8},
        {"new spelling by the job", {{"AdjustHorizontal", "0", {"2"}}}, "AdjustHorizontal=2", 16},
        {"both", {{"AdjustHoriaontal", "3", {}}, {"AdjustHorizontal", "-1", {}}}, "", -8},
        {"both, new spelling without a marked choice",
         {{"AdjustHoriaontal", "3", {}}, {"AdjustHorizontal", "", {"0", "1"}}}, "", 24},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Settings s(row.options, row.jobOptions);
        EXPECT_EQ(s.render.m_reg.iReference[0], row.expected);
        EXPECT_TRUE(s.Traced("iReference[0] = " + std::to_string(row.expected)));
    }
}

// The fine offsets are millimetres with up to two decimals, stored in
// hundredths; a text that is no such number, or beyond an inch, keeps the
// offset as it was (none given: REFERENCE as it always was).
TEST(PrinterSettings, FineOffsetsAreHundredthsOfAMillimetre)
{
    const struct {
        const char* choice;
        bool given;
        int expected;
    } rows[] = {
        {"0", true, 0},          {"0.25", true, 25},   {"-1.75", true, -175}, {"+2.5", true, 250},
        {"10", true, 1000},      {"-10", true, -1000}, {".5", true, 50},      {"25.4", true, 2540},
        {"25.41", false, 0},     {"-26", false, 0},    {"1.255", false, 0},   {"1,5", false, 0},
        {"abc", false, 0},       {"-", false, 0},      {"1.2.3", false, 0},   {"99999999999", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.choice);
        Settings s(Opts{{"HorizontalOffset", row.choice, {}}, {"VerticalOffset", row.choice, {}}});
        for (int axis = 0; axis < 2; ++axis) {
            EXPECT_EQ(s.render.m_reg.bFineOffset[axis], row.given);
            EXPECT_EQ(s.render.m_reg.iFineOffset[axis], row.expected);
            EXPECT_TRUE(s.Traced("iFineOffset[" + std::to_string(axis) +
                                 "] = " + std::to_string(row.expected)));
        }
    }
    Settings none(Opts{});
    EXPECT_FALSE(none.render.m_reg.bFineOffset[0] || none.render.m_reg.bFineOffset[1]);
}

// Gap and mark heights and the top margin are stored as given; without
// their keywords they stay -1 (the media line and the page as they were).
TEST(PrinterSettings, MediaHeightsAndTopMargin)
{
    Settings given(Opts{{"GapHeight", "2", {}}, {"MarkHeight", "4", {}}, {"TopMargin", "3", {}}});
    EXPECT_EQ(given.render.m_reg.iGapHeight, 2);
    EXPECT_EQ(given.render.m_reg.iMarkHeight, 4);
    EXPECT_EQ(given.render.m_reg.iTopMargin, 3);
    EXPECT_TRUE(given.Traced("iGapHeight = 2"));
    EXPECT_TRUE(given.Traced("iMarkHeight = 4"));
    EXPECT_TRUE(given.Traced("iTopMargin = 3"));
    Settings page(Opts{{"TopMargin", "-1", {}}});
    EXPECT_EQ(page.render.m_reg.iTopMargin, -1);
    Settings none(Opts{});
    EXPECT_EQ(none.render.m_reg.iGapHeight, -1);
    EXPECT_EQ(none.render.m_reg.iMarkHeight, -1);
    EXPECT_EQ(none.render.m_reg.iTopMargin, -1);
}

// The lean-stream switches take True or False; anything else leaves the
// stream as it always was.
TEST(PrinterSettings, InkOnlyAndFastCompressTakeTrueOrFalse)
{
    const struct {
        const char* keyword;
        const char* choice;
        bool expected;
        const char* trace;
    } rows[] = {{"InkOnly", "True", true, "bInkOnly = 1"},
                {"InkOnly", "False", false, "bInkOnly = 0"},
                {"InkOnly", "1", false, nullptr},
                {"FastCompress", "True", true, "bFastCompress = 1"},
                {"FastCompress", "False", false, "bFastCompress = 0"},
                {"FastCompress", "Fast", false, nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.keyword) + "=" + row.choice);
        Settings s(Opts{{row.keyword, row.choice, {}}});
        const bool value = std::string(row.keyword) == "InkOnly" ? s.render.m_reg.bInkOnly
                                                                 : s.render.m_regHalftone.bFastCompress;
        EXPECT_EQ(value, row.expected);
        bool traced = false;
        for (const std::string& t : s.traces)
            traced |= t.rfind(row.keyword[0] == 'I' ? "bInkOnly = " : "bFastCompress = ", 0) == 0;
        EXPECT_EQ(traced, row.trace != nullptr);
        if (row.trace) {
            EXPECT_TRUE(s.Traced(row.trace));
        }
    }
    Settings job(Opts{{"InkOnly", "False", {"True"}}}, "InkOnly=True");
    EXPECT_TRUE(job.render.m_reg.bInkOnly);
}

TEST(PrinterSettings, ReferenceIsStoredTimesEight)
{
    Settings s(Opts{{"AdjustHoriaontal", "-2", {}}, {"AdjustVertical", "3", {}}});
    EXPECT_EQ(s.render.m_reg.iReference[0], -16);
    EXPECT_EQ(s.render.m_reg.iReference[1], 24);
    EXPECT_TRUE(s.Traced("iReference[0] = -16"));
    EXPECT_TRUE(s.Traced("iReference[1] = 24"));
}

TEST(PrinterSettings, MediaTrackingTable)
{
    const struct {
        const char* choice;
        int gap[3];
    } rows[] = {{"Continuous", {0, 0, 0}}, {"A4Stock", {0, 0, 0}}, {"Gap", {1, 3, 0}},
                {"BLine", {2, 0, 0}},      {"Perforated", {3, 0, 0}}, {"Roll", {4, 0, 0}},
                {"Recording", {5, 0, 0}},  {"Mark", {0, 3, 0}},   {"gap", {0, 3, 0}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.choice);
        Settings s(Opts{{"zeMediaTracking", row.choice, {}}});
        EXPECT_EQ(s.render.m_reg.iGap[0], row.gap[0]);
        EXPECT_EQ(s.render.m_reg.iGap[1], row.gap[1]);
        EXPECT_EQ(s.render.m_reg.iGap[2], row.gap[2]);
        // Traced for every choice, also one that matches no row.
        EXPECT_TRUE(s.Traced("Gap = " + std::to_string(row.gap[0]) + ", " +
                             std::to_string(row.gap[1]) + ", " + std::to_string(row.gap[2])));
    }
}

TEST(PrinterSettings, FlagsStoreTrueForAnyNonZeroNumber)
{
    Settings s(Opts{{"AutoDotted", "2", {}}, {"ImageCompress", "2", {}}});
    EXPECT_TRUE(s.render.m_reg.iDottedline);
    EXPECT_TRUE(s.render.m_regHalftone.ImageCompress);
    EXPECT_TRUE(s.Traced("iDottedline = 1"));
    EXPECT_TRUE(s.Traced("ImageCompress = 1"));
}

TEST(PrinterSettings, JobOptionsOverrideThePpdDefault)
{
    Settings s(Opts{{"Darkness", "8", {"Default", "8", "12"}}, {"zeMediaTracking", "Continuous", {"Gap"}}},
               "Darkness=12 zeMediaTracking=Gap");
    EXPECT_EQ(s.render.m_reg.iDensity, 12);
    EXPECT_EQ(s.render.m_reg.iGap[0], 1);

    Settings d(Opts{{"Darkness", "Default", {"8", "12"}}});
    EXPECT_EQ(d.render.m_reg.iDensity, -1);
}

TEST(PrinterSettings, CutFeedIsTrueOnlyForTrue)
{
    for (const char* choice : {"True", "False", "1"}) {
        SCOPED_TRACE(choice);
        Settings s(Opts{{"CutFeed", choice, {}}});
        EXPECT_EQ(s.render.m_reg.bCutFeed, std::string(choice) == "True");
        EXPECT_TRUE(s.Traced(std::string("bCutFeed = ") + (std::string(choice) == "True" ? "1" : "0")));
    }
}

// The print head width comes from the PPD attribute, not from an option of
// that name, and only a positive width counts.
TEST(PrinterSettings, HeadWidthIsReadFromTheAttribute)
{
    const struct {
        const char* value;
        int dots;
    } kCases[] = {{"384", 384}, {"576", 576}, {"0", 0}, {"-8", 0}, {"wide", 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.value);
        Settings s(Opts{}, "", {{"bandrillHeadDots", c.value}});
        EXPECT_EQ(s.render.m_reg.iHeadDots, c.dots);
        EXPECT_TRUE(s.Traced(std::string("bandrillHeadDots: attribute value: ") + c.value));
        EXPECT_TRUE(s.Traced("iHeadDots = " + std::to_string(c.dots)));
    }

    // A job option of the same name does not set it.
    Settings opt(Opts{{"bandrillHeadDots", "384", {}}}, "bandrillHeadDots=384");
    EXPECT_EQ(opt.render.m_reg.iHeadDots, 0);
    EXPECT_TRUE(opt.Traced("FindAttr: bandrillHeadDots is missing"));
}

TEST(PrinterSettings, OptionWithoutMarkedChoiceIsAMiss)
{
    // An option with no *Default line has nothing marked.
    Settings s(Opts{{"Contrast", "", {"10", "20"}}});
    EXPECT_TRUE(s.Traced("GetMarkedOption: Contrast is error"));
    EXPECT_EQ(s.render.m_regHalftone.iDuibidu, 0);
}

} // namespace
