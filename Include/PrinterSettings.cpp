#include "PrinterSettings.h"

#include <cstdlib>
#include <cstring>

#include "BaseRender.h"

namespace {

using Strings = std::vector<std::string>;

Strings Numbers(int from, int to, int step = 1)
{
    Strings s;
    for (int i = from; i <= to; i += step)
        s.push_back(std::to_string(i));
    return s;
}

// from, from + 0.25, ... to, written as a PPD choice: "-1.75", "0", "0.5".
Strings Quarters(int from, int to)
{
    Strings s;
    for (int q = 4 * from; q <= 4 * to; ++q) {
        const int a = q < 0 ? -q : q;
        std::string t = (q < 0 ? "-" : "") + std::to_string(a / 4);
        static const char* const kFraction[] = {"", ".25", ".5", ".75"};
        s.push_back(t + kFraction[a % 4]);
    }
    return s;
}

Strings Join(Strings a, const Strings& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A table row, filled in by name.
struct Row : SettingRow {
    Row(const char* keyword_, Kind kind_, Text text_)
    {
        keyword = keyword_;
        kind = kind_;
        text = text_;
    }
    Row& Range(int lo, int hi)
    {
        min = lo;
        max = hi;
        return *this;
    }
    Row& Choices(std::vector<SettingChoice> c)
    {
        choices = std::move(c);
        return *this;
    }
    Row& Offer(const char* defaultChoice_, Strings offered_)
    {
        defaultChoice = defaultChoice_;
        offered = std::move(offered_);
        return *this;
    }
    Row& Field(void (*set_)(CBaseRender&, int), void (*trace_)(CBaseRender&))
    {
        set = set_;
        trace = trace_;
        return *this;
    }
    Row& Ipp(const char* attr_, const char* label_, Group group_)
    {
        attr = attr_;
        label = label_;
        group = group_;
        return *this;
    }
    Row& Standard(const char* standard_)
    {
        standard = standard_;
        return *this;
    }
    Row& WhenUnknown(Unknown u, int value = 0)
    {
        unknown = u;
        unknownValue = value;
        return *this;
    }
    Row& WhenNone(None n, int value, const char* word = nullptr)
    {
        none = n;
        noneValue = value;
        noneWord = word;
        return *this;
    }
    Row& AlsoAfter(std::vector<const char*> keywords)
    {
        readAfter = std::move(keywords);
        return *this;
    }
    Row& FromAttribute()
    {
        source = kAttribute;
        return *this;
    }
};

// atoi x 8 in unsigned arithmetic, so that absurd values wrap instead of
// overflowing a signed int.
int Times8(int v)
{
    return static_cast<int>(static_cast<unsigned>(v) * 8u);
}


// The crop rows differ only in their side.
Row Crop(const char* keyword, const char* attr, const char* label,
         void (*set)(CBaseRender&, int), void (*trace)(CBaseRender&))
{
    return Row(keyword, SettingRow::kInteger, SettingRow::kNumber)
        .Range(-1, 50)
        .Offer("0", {"0", "1", "2", "3", "5", "10", "20", "50", "-1"})
        .Field(set, trace)
        .Ipp(attr, label, SettingRow::kImage);
}

std::vector<SettingRow> MakeTable()
{
    using S = SettingRow;
    using R = CBaseRender;
    // (Built at the first use, so that a table read during static
    // initialisation elsewhere finds these made.)
    const Strings kTone = {"-100", "-80", "-60", "-40", "-20", "-10", "0",
                           "10",   "20",  "40",  "60",  "80",  "100"};
    const Strings kOnOff = {"0", "1"};
    const Strings kFalseTrue = {"False", "True"};
    std::vector<SettingRow> t;

    t.push_back(Row("MediaMethod", S::kChoice, S::kWords)
                    .Choices({{"Direct", "direct", "Direct thermal", 0},
                              {"Transfer", "transfer", "Thermal transfer (ribbon)", 1},
                              {"Normal", nullptr, "Direct thermal", 0}})
                    .WhenUnknown(S::kStoreValue, 1)
                    .Offer("Direct", {"Direct", "Transfer"})
                    .Field([](R& r, int v) { r.m_reg.iPrinttype = v; },
                           [](R& r) { r.AddLog("iPrinttype = %d", r.m_reg.iPrinttype); })
                    .Ipp("bandrill-print-method", "Print method", S::kPrinter));
    // The position in steps of 8 mm. AdjustHoriaontal is the keyword's
    // first spelling, which older PPDs carry.
    t.push_back(Row("AdjustHorizontal", S::kInteger, S::kNumber)
                    .Range(-3, 3)
                    .AlsoAfter({"AdjustHoriaontal"})
                    .Offer("0", Numbers(-3, 3))
                    .Field([](R& r, int v) { r.m_reg.iReference[0] = Times8(v); },
                           [](R& r) { r.AddLog("iReference[0] = %d", r.m_reg.iReference[0]); })
                    .Ipp("bandrill-adjust-horizontal", "Horizontal position (steps of 8 mm)",
                         S::kPrinter));
    t.push_back(Row("AdjustVertical", S::kInteger, S::kNumber)
                    .Range(-3, 3)
                    .Offer("0", Numbers(-3, 3))
                    .Field([](R& r, int v) { r.m_reg.iReference[1] = Times8(v); },
                           [](R& r) { r.AddLog("iReference[1] = %d", r.m_reg.iReference[1]); })
                    .Ipp("bandrill-adjust-vertical", "Vertical position (steps of 8 mm)",
                         S::kPrinter));
    // Media sensing: continuous, gap and mark come from IPP's media-tracking;
    // the vendor attribute adds what IPP has no value for.
    t.push_back(
        Row("zeMediaTracking", S::kChoice, S::kWords)
            .Choices({{"Continuous", "continuous", "Continuous", MEDIA_CONTINUOUS},
                      {"A4Stock", nullptr, "Continuous", MEDIA_CONTINUOUS},
                      {"Gap", "gap", "Labels with gaps", MEDIA_GAP},
                      {"BLine", "mark", "Black mark", MEDIA_BLACK_LINE},
                      {"Perforated", "perforated", "Perforated (the printer's own setting)",
                       MEDIA_PERFORATED},
                      {"Roll", nullptr, "Roll", MEDIA_ROLL},
                      {"Recording", "recording", "Recording paper (blank ends trimmed)",
                       MEDIA_RECORDING}})
            .Offer("Gap", {"Continuous", "Gap", "BLine"})
            .Field(
                [](R& r, int v) {
                    r.m_reg.iGap[0] = v;
                    r.m_reg.iGap[1] = v == MEDIA_GAP ? 3 : 0;
                    r.m_reg.iGap[2] = 0;
                },
                [](R& r) {
                    r.AddLog("Gap = %d, %d, %d", r.m_reg.iGap[0], r.m_reg.iGap[1], r.m_reg.iGap[2]);
                })
            .Ipp("bandrill-media-tracking", "Media sensing", S::kPrinter)
            .Standard("media-tracking"));
    t.push_back(Row("FeedOffset", S::kInteger, S::kNumber)
                    .Range(0, 50)
                    .Offer("0", {"0", "1", "2", "3", "4", "5", "6", "8", "10", "12", "15", "20"})
                    .Field(
                        [](R& r, int v) {
                            r.m_reg.iOffset = v;
                            r.m_reg.iFeedAfter = v;
                        },
                        [](R& r) { r.AddLog("iOffset = %d", r.m_reg.iOffset); })
                    .Ipp("bandrill-feed-offset", "Feed after printing (mm)", S::kPrinter));
    t.push_back(Row("Rotate", S::kChoice, S::kNumber)
                    .Choices({{"0", "none", "None", 0},
                              {"1", "rotate-180", "180 degrees", 1},
                              {"2", "rotate-90", "90 degrees", 2},
                              {"3", "rotate-270", "270 degrees", 3}})
                    .Offer("0", Numbers(0, 3))
                    .Field([](R& r, int v) { r.m_reg.iRotate = v; },
                           [](R& r) { r.AddLog("iRotate = %d", r.m_reg.iRotate); })
                    .Ipp("bandrill-rotate", "Rotate image", S::kImage));
    // Darkness and speed: "Default" leaves the printer's own. IPP has
    // standard attributes for both; the vendor attribute says whether
    // the printer's own darkness or the IPP one applies.
    t.push_back(Row("Darkness", S::kInteger, S::kNumber)
                    .Range(0, 15)
                    .WhenNone(S::kStoreSilently, -1, "Default")
                    .Offer("Default", Join({"Default"}, Numbers(0, 15)))
                    .Field([](R& r, int v) { r.m_reg.iDensity = v; },
                           [](R& r) { r.AddLog("iDensity = %d", r.m_reg.iDensity); })
                    .Ipp("bandrill-darkness", "Darkness used", S::kPrinter)
                    .Standard("print-darkness"));
    t.push_back(Row("zePrintRate", S::kInteger, S::kNumber)
                    .Range(1, 12)
                    .WhenNone(S::kStoreSilently, -1, "Default")
                    .Offer("Default", Join({"Default"}, Numbers(1, 12)))
                    .Field([](R& r, int v) { r.m_reg.iSpeed = v; },
                           [](R& r) { r.AddLog("iSpeed = %d", r.m_reg.iSpeed); })
                    .Standard("print-speed"));
    t.push_back(Row("AutoDotted", S::kChoice, S::kNumber)
                    .Choices({{"0", "off", "Off", 0}, {"1", "on", "On", 1}})
                    .Offer("0", kOnOff)
                    .Field([](R& r, int v) { r.m_reg.iDottedline = v != 0; },
                           [](R& r) { r.AddLog("iDottedline = %d", r.m_reg.iDottedline ? 1 : 0); })
                    .Ipp("bandrill-dotted-line", "Automatic dotted line", S::kPrinter));
    // Brightness is converted even when missing: it then reads 0. The image
    // converters in front of the filter take a job's "Brightness" for their
    // own option, so a PPD offers it as ImageBrightness; Brightness counts
    // only where a PPD has no ImageBrightness choice.
    t.push_back(Row("ImageBrightness", S::kInteger, S::kNumber)
                    .Range(-100, 100)
                    .AlsoAfter({"Brightness"})
                    .WhenNone(S::kStoreTraced, 0)
                    .Offer("0", kTone)
                    .Field([](R& r, int v) { r.m_regHalftone.iLiangdu = v; },
                           [](R& r) { r.AddLog("iLiangdu = %d", r.m_regHalftone.iLiangdu); })
                    .Ipp("bandrill-brightness", "Brightness (-100 to 100)", S::kImage));
    t.push_back(Row("Contrast", S::kInteger, S::kNumber)
                    .Range(-100, 100)
                    .Offer("0", kTone)
                    .Field([](R& r, int v) { r.m_regHalftone.iDuibidu = v; },
                           [](R& r) { r.AddLog("iDuibidu = %d", r.m_regHalftone.iDuibidu); })
                    .Ipp("bandrill-contrast", "Contrast (-100 to 100)", S::kImage));
    t.push_back(Row("ImageFilter", S::kChoice, S::kNumber)
                    .Choices({{"0", "threshold", "Threshold", 0},
                              {"1", "floyd-steinberg", "Floyd-Steinberg", 1},
                              {"2", "ordered-4x4", "Ordered 4x4", 2},
                              {"3", "burkes", "Burkes", 3},
                              {"4", "stucki", "Stucki", 4},
                              {"5", "jarvis-judice-ninke", "Jarvis-Judice-Ninke", 5},
                              {"6", "sierra", "Sierra", 6},
                              {"7", "stevenson-arce", "Stevenson-Arce", 7},
                              {"8", "bayer-4x4", "Bayer 4x4", 8},
                              {"9", "bayer-8x8", "Bayer 8x8", 9},
                              {"10", "ordered-16x16", "Ordered 16x16", 10}})
                    .Offer("0", Numbers(0, 10))
                    .Field([](R& r, int v) { r.m_regHalftone.iGrayMethod = v; },
                           [](R& r) { r.AddLog("iGrayMethod = %d", r.m_regHalftone.iGrayMethod); })
                    .Ipp("bandrill-halftone", "Halftoning", S::kImage));
    t.push_back(Row("Threshold", S::kInteger, S::kNumber)
                    .Range(0, 255)
                    .Offer("128", Join(Numbers(0, 248, 8), {"255"}))
                    .Field([](R& r, int v) { r.m_regHalftone.iThreValue = v; },
                           [](R& r) { r.AddLog("iThreValue = %d", r.m_regHalftone.iThreValue); })
                    .Ipp("bandrill-threshold", "Threshold level (0 black to 255 white)", S::kImage));
    t.push_back(Row("ImageCompress", S::kChoice, S::kNumber)
                    .Choices({{"0", "off", "Off", 0}, {"1", "on", "On (zlib)", 1}})
                    .Offer("0", kOnOff)
                    .Field([](R& r, int v) { r.m_regHalftone.ImageCompress = v != 0; },
                           [](R& r) {
                               r.AddLog("ImageCompress = %d", r.m_regHalftone.ImageCompress ? 1 : 0);
                           })
                    .Ipp("bandrill-compress", "Compress bitmaps", S::kPrinter));
    t.push_back(Crop(
        "CropEdgeTop", "bandrill-crop-top", "Trim blank top (mm, -1 all)",
        [](R& r, int v) { r.m_regHalftone.iCropTopEdge = v; },
        [](R& r) { r.AddLog("iCropTopEdge = %d", r.m_regHalftone.iCropTopEdge); }));
    t.push_back(Crop(
        "CropEdgeBottom", "bandrill-crop-bottom", "Trim blank bottom (mm, -1 all)",
        [](R& r, int v) { r.m_regHalftone.iCropBottomEdge = v; },
        [](R& r) { r.AddLog("iCropBottomEdge = %d", r.m_regHalftone.iCropBottomEdge); }));
    t.push_back(Crop(
        "CropEdgeLeft", "bandrill-crop-left", "Trim blank left (mm, -1 all)",
        [](R& r, int v) { r.m_regHalftone.iCropLeftEdge = v; },
        [](R& r) { r.AddLog("iCropLeftEdge = %d", r.m_regHalftone.iCropLeftEdge); }));
    t.push_back(Crop(
        "CropEdgeRight", "bandrill-crop-right", "Trim blank right (mm, -1 all)",
        [](R& r, int v) { r.m_regHalftone.iCropRightEdge = v; },
        [](R& r) { r.AddLog("iCropRightEdge = %d", r.m_regHalftone.iCropRightEdge); }));
    // Only True and False count; the built-in default (no keyword) is True.
    t.push_back(Row("SetcCommands", S::kBoolean, S::kWords)
                    .Choices({{"False", nullptr, "Off", 0}, {"True", nullptr, "On", 1}})
                    .WhenUnknown(S::kIgnore)
                    .Offer("False", kFalseTrue)
                    .Field([](R& r, int v) { r.m_reg.bSetcCommands = v != 0; },
                           [](R& r) { r.AddLog("bSetcCommands = %d", r.m_reg.bSetcCommands ? 1 : 0); })
                    .Ipp("bandrill-setc", "Vendor SETC commands", S::kPrinter));
    // Receipt printing: bands, cutting, cash drawer.
    t.push_back(Row("BandRows", S::kInteger, S::kNumber)
                    .Range(0, 65535)
                    .Offer("255", {"0", "24", "255", "2303"})
                    .Field([](R& r, int v) { r.m_reg.iBandRows = v > 0 ? v : 0; },
                           [](R& r) { r.AddLog("iBandRows = %d", r.m_reg.iBandRows); })
                    .Ipp("bandrill-band-rows", "Rows per image band (0 one image per page)",
                         S::kPrinter));
    t.push_back(Row("CutMode", S::kChoice, S::kWords)
                    .Choices({{"Page", "page", "After every page", CUT_PAGE},
                              {"Job", "job", "After the job", CUT_JOB},
                              {"None", "none", "Never", CUT_NONE}})
                    .Offer("Job", {"Page", "Job", "None"})
                    .Field([](R& r, int v) { r.m_reg.iCutMode = v; },
                           [](R& r) { r.AddLog("iCutMode = %d", r.m_reg.iCutMode); })
                    .Ipp("bandrill-cut-mode", "Cut", S::kPrinter));
    t.push_back(Row("CutFeed", S::kBoolean, S::kWords)
                    .Choices({{"False", nullptr, "No", 0}, {"True", nullptr, "Yes", 1}})
                    .WhenUnknown(S::kStoreValue, 0)
                    .Offer("True", kFalseTrue)
                    .Field([](R& r, int v) { r.m_reg.bCutFeed = v != 0; },
                           [](R& r) { r.AddLog("bCutFeed = %d", r.m_reg.bCutFeed ? 1 : 0); })
                    .Ipp("bandrill-cut-feed", "Feed to the cutter before cutting", S::kPrinter));
    t.push_back(Row("CashDrawer", S::kChoice, S::kWords)
                    .Choices({{"None", "none", "Do not open", CASH_DRAWER_NONE},
                              {"1Before", "1-before", "Open drawer 1 before printing", 1},
                              {"1After", "1-after", "Open drawer 1 after printing",
                               1 | CASH_DRAWER_AFTER},
                              {"2Before", "2-before", "Open drawer 2 before printing", 2},
                              {"2After", "2-after", "Open drawer 2 after printing",
                               2 | CASH_DRAWER_AFTER}})
                    .Offer("None", {"None", "1Before", "1After", "2Before", "2After"})
                    .Field([](R& r, int v) { r.m_reg.iCashDrawer = v; },
                           [](R& r) { r.AddLog("iCashDrawer = %d", r.m_reg.iCashDrawer); })
                    .Ipp("bandrill-cash-drawer", "Cash drawer", S::kPrinter));
    // Leaner streams: a bitmap per area of ink (TSPL, CPCL), blank rows as
    // paper feeds (ESC/POS, PeriPage). Only True and False count; without
    // the keyword the whole page goes as it always did.
    t.push_back(Row("InkOnly", S::kBoolean, S::kWords)
                    .Choices({{"False", nullptr, "Off", 0}, {"True", nullptr, "On", 1}})
                    .WhenUnknown(S::kIgnore)
                    .Offer("True", kFalseTrue)
                    .Field([](R& r, int v) { r.m_reg.bInkOnly = v != 0; },
                           [](R& r) { r.AddLog("bInkOnly = %d", r.m_reg.bInkOnly ? 1 : 0); })
                    .Ipp("bandrill-ink-only", "Send only the inked areas", S::kPrinter));
    // ImageCompress's bitmaps in one fast pass (the same zlib format) instead
    // of zlib's default level. Only True and False count.
    t.push_back(Row("FastCompress", S::kBoolean, S::kWords)
                    .Choices({{"False", nullptr, "Smallest", 0}, {"True", nullptr, "Fast", 1}})
                    .WhenUnknown(S::kIgnore)
                    .Offer("True", kFalseTrue)
                    .Field([](R& r, int v) { r.m_regHalftone.bFastCompress = v != 0; },
                           [](R& r) {
                               r.AddLog("bFastCompress = %d",
                                        r.m_regHalftone.bFastCompress ? 1 : 0);
                           })
                    .Ipp("bandrill-fast-compress", "Fast compression (with Compress bitmaps)",
                         S::kPrinter));
    // The print head width: a property of the printer, so a PPD attribute.
    t.push_back(Row("bandrillHeadDots", S::kInteger, S::kNumber)
                    .FromAttribute()
                    .Range(0, 65535)
                    .Field([](R& r, int v) { r.m_reg.iHeadDots = v > 0 ? v : 0; },
                           [](R& r) { r.AddLog("iHeadDots = %d", r.m_reg.iHeadDots); }));
    // Label position in fine steps, millimetres with up to two decimals,
    // stored in hundredths: right and down. They add to AdjustHorizontal
    // and AdjustVertical.
    const Strings kFine = Quarters(-10, 10);
    t.push_back(Row("HorizontalOffset", S::kInteger, S::kHundredths)
                    .Range(-2540, 2540)
                    .Offer("0", kFine)
                    .Field(
                        [](R& r, int v) {
                            r.m_reg.iFineOffset[0] = v;
                            r.m_reg.bFineOffset[0] = true;
                        },
                        [](R& r) { r.AddLog("iFineOffset[0] = %d", r.m_reg.iFineOffset[0]); })
                    .Ipp("bandrill-horizontal-offset",
                         "Horizontal fine offset (1/100 mm, to the right)", S::kPrinter));
    t.push_back(Row("VerticalOffset", S::kInteger, S::kHundredths)
                    .Range(-2540, 2540)
                    .Offer("0", kFine)
                    .Field(
                        [](R& r, int v) {
                            r.m_reg.iFineOffset[1] = v;
                            r.m_reg.bFineOffset[1] = true;
                        },
                        [](R& r) { r.AddLog("iFineOffset[1] = %d", r.m_reg.iFineOffset[1]); })
                    .Ipp("bandrill-vertical-offset", "Vertical fine offset (1/100 mm, down)",
                         S::kPrinter));
    // The gap between labels and the height of a black mark, millimetres:
    // what GAP and BLINE tell the printer to look for.
    t.push_back(Row("GapHeight", S::kInteger, S::kNumber)
                    .Range(0, 25)
                    .Offer("3", Numbers(0, 5))
                    .Field([](R& r, int v) { r.m_reg.iGapHeight = v; },
                           [](R& r) { r.AddLog("iGapHeight = %d", r.m_reg.iGapHeight); })
                    .Ipp("bandrill-gap-height", "Gap between labels (mm)", S::kPrinter));
    t.push_back(Row("MarkHeight", S::kInteger, S::kNumber)
                    .Range(1, 25)
                    .Offer("3", Numbers(2, 5))
                    .Field([](R& r, int v) { r.m_reg.iMarkHeight = v; },
                           [](R& r) { r.AddLog("iMarkHeight = %d", r.m_reg.iMarkHeight); })
                    .Ipp("bandrill-mark-height", "Black mark height (mm)", S::kPrinter));
    // Roll paper: the blank kept above the first ink of a slip; -1 keeps
    // the page's own top.
    t.push_back(Row("TopMargin", S::kInteger, S::kNumber)
                    .Range(-1, 50)
                    .Offer("0", {"-1", "0", "1", "2", "3", "5", "10"})
                    .Field([](R& r, int v) { r.m_reg.iTopMargin = v < 0 ? -1 : v; },
                           [](R& r) { r.AddLog("iTopMargin = %d", r.m_reg.iTopMargin); })
                    .Ipp("bandrill-top-margin",
                         "Blank above the first ink of a slip (mm, -1 as the page has it)",
                         S::kPrinter));
    return t;
}

// Choice text of the row's keywords, asked in reading order.
class CTextValues : public ISettingValues {
public:
    explicit CTextValues(ISettingChoices& choices) : m_choices(choices) {}

    SettingValue Value(const SettingRow& row) override
    {
        std::string text;
        for (const char* keyword : row.ReadOrder()) {
            text = m_choices.Choice(keyword);
            if (!text.empty())
                break;
        }
        return ParseSettingChoice(row, text);
    }

private:
    ISettingChoices& m_choices;
};

} // namespace

const SettingChoice* SettingRow::ChoiceForPpd(const std::string& ppd) const
{
    for (const SettingChoice& c : choices)
        if (ppd == c.ppd)
            return &c;
    return nullptr;
}

const SettingChoice* SettingRow::ChoiceForIpp(const std::string& ipp) const
{
    for (const SettingChoice& c : choices)
        if (c.ipp && ipp == c.ipp)
            return &c;
    return nullptr;
}

std::vector<const char*> SettingRow::ReadOrder() const
{
    std::vector<const char*> order = readBefore;
    order.push_back(keyword);
    order.insert(order.end(), readAfter.begin(), readAfter.end());
    return order;
}

const std::vector<SettingRow>& PrinterSettings()
{
    static const std::vector<SettingRow> kTable = MakeTable();
    return kTable;
}

const std::vector<SettingRow>& DocumentSettings()
{
    static const std::vector<SettingRow> kRows = {
        Row("Fit", SettingRow::kChoice, SettingRow::kWords)
            .Choices({{"none", "none", "As it is", kFitNone},
                      {"fit", "fit", "Whole page fitted", kFitPage},
                      {"crop-to-ink", "crop-to-ink", "Printed part fitted", kFitCropToInk}})
            .Offer("crop-to-ink", {"none", "fit", "crop-to-ink"})
            .Ipp("bandrill-fit", "Fit to label", SettingRow::kImage),
        // The job's copies made by the printer: a label printer's copy
        // count, the page stream again on the others, so that a document is
        // rendered and sent once. Off, every copy is rendered and sent.
        Row("PrinterCopies", SettingRow::kBoolean, SettingRow::kWords)
            .Choices({{"False", nullptr, "Off", 0}, {"True", nullptr, "On", 1}})
            .WhenUnknown(SettingRow::kIgnore)
            .Offer("False", {"False", "True"})
            .Ipp("bandrill-printer-copies", "Copies made by the printer", SettingRow::kPrinter),
    };
    return kRows;
}

const SettingRow* FindDocumentSettingByAttr(const char* attr)
{
    for (const SettingRow& row : DocumentSettings())
        if (attr && row.attr && std::strcmp(row.attr, attr) == 0)
            return &row;
    return nullptr;
}

const SettingRow* FindSetting(const char* keyword)
{
    for (const SettingRow& row : PrinterSettings())
        if (keyword && std::strcmp(row.keyword, keyword) == 0)
            return &row;
    return nullptr;
}

const SettingRow* FindSettingByAttr(const char* attr)
{
    for (const SettingRow& row : PrinterSettings())
        if (attr && row.attr && std::strcmp(row.attr, attr) == 0)
            return &row;
    return nullptr;
}

namespace {

// A decimal number with at most two decimals in hundredths, within
// [lo, hi]: "-1.25" is -125, "3" 300, "+0.5" 50. False for anything else.
bool ParseHundredths(const std::string& text, int lo, int hi, int& out)
{
    size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    long long v = 0;
    int digits = 0, decimals = -1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (c < '0' || c > '9' || decimals >= 2 || digits >= 9)
            return false;
        v = v * 10 + (c - '0');
        ++digits;
        if (decimals >= 0)
            ++decimals;
    }
    if (digits == 0)
        return false;
    for (int d = decimals < 0 ? 0 : decimals; d < 2; ++d)
        v *= 10;
    if (negative)
        v = -v;
    if (v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

SettingValue ParseSettingChoice(const SettingRow& row, const std::string& text)
{
    if (text.empty() || (row.noneWord && text == row.noneWord))
        return SettingValue::None();
    if (row.text == SettingRow::kNumber)
        return SettingValue::Of(std::atoi(text.c_str()));
    int hundredths = 0;
    if (row.text == SettingRow::kHundredths && ParseHundredths(text, row.min, row.max, hundredths))
        return SettingValue::Of(hundredths);
    if (const SettingChoice* c = row.ChoiceForPpd(text))
        return SettingValue::Of(c->value);
    SettingValue unknown;
    unknown.state = SettingValue::kUnknown;
    return unknown;
}

void ApplySettings(CBaseRender& render, ISettingValues& values)
{
    for (const SettingRow& row : PrinterSettings()) {
        const SettingValue v = values.Value(row);
        switch (v.state) {
        case SettingValue::kValue:
            row.set(render, v.value);
            row.trace(render);
            break;
        case SettingValue::kUnknown:
            if (row.unknown == SettingRow::kStoreValue)
                row.set(render, row.unknownValue);
            if (row.unknown != SettingRow::kIgnore)
                row.trace(render);
            break;
        case SettingValue::kNone:
            if (row.none != SettingRow::kKeep)
                row.set(render, row.noneValue);
            if (row.none == SettingRow::kStoreTraced)
                row.trace(render);
            break;
        }
    }
}

void ReadPrinterSettings(CBaseRender& render, ISettingChoices& choices)
{
    CTextValues values(choices);
    ApplySettings(render, values);
}
