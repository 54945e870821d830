// The shipped PPDs, as ppdc compiles them from ppd/bandrill.drv into the
// build tree, against the family table (every driver has its PPD, with the
// table's model number, resolution, head width, device ID and settings)
// and against what the drivers are meant to offer: the defaults and choices
// the issues fixed, the page sizes and their dimensions. (The cupstestppd
// check of the same files is the ppd_cupstestppd test.)
#include <gtest/gtest.h>

#include <cctype>
#include <cups/ppd.h>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "PrinterFamilies.h"

namespace {

const std::string kPpdDir = std::string(BANDRILL_BUILD_DIR) + "/ppd/ppd/";

struct Shipped {
    const PrinterFamily* family;
    const PrinterDriver* driver;
    std::string File() const { return std::string("bandrill-") + driver->name + ".ppd"; }
    bool Is(const char* language) const { return std::string(family->language) == language; }
};

void PrintTo(const Shipped& s, std::ostream* os)
{
    *os << s.File();
}

std::vector<Shipped> AllShipped()
{
    std::vector<Shipped> all;
    for (const PrinterFamily& f : PrinterFamilies())
        for (const PrinterDriver& d : f.drivers)
            all.push_back({&f, &d});
    return all;
}

// The default each option is meant to have wherever a PPD offers it, and
// where a family's default differs (by language).
struct DefaultRow {
    const char* keyword;
    const char* choice;
    std::vector<const char*> languages;  // empty: every family without a row of its own
};

const DefaultRow kDefaults[] = {
    {"ColorModel", "Grayscale", {}},
    {"ImageFilter", "0", {}},
    {"ImageFilter", "3", {"paperang", "peripage"}},
    {"Threshold", "128", {}},
    {"ImageBrightness", "0", {}},
    {"Contrast", "0", {}},
    {"Rotate", "0", {}},
    {"CropEdgeTop", "0", {}},
    {"CropEdgeBottom", "0", {}},
    {"CropEdgeBottom", "-1", {"escpos", "paperang", "peripage"}},
    {"CropEdgeLeft", "0", {}},
    {"CropEdgeRight", "0", {}},
    {"zeMediaTracking", "Gap", {}},
    {"zeMediaTracking", "Continuous", {"peripage"}},
    {"MediaMethod", "Direct", {}},
    {"Darkness", "Default", {}},
    {"zePrintRate", "Default", {}},
    {"FeedOffset", "0", {}},
    {"AdjustHorizontal", "0", {}},
    {"AdjustVertical", "0", {}},
    {"HorizontalOffset", "0", {}},
    {"VerticalOffset", "0", {}},
    {"GapHeight", "3", {}},
    {"MarkHeight", "3", {}},
    {"TopMargin", "0", {}},
    {"SetcCommands", "False", {}},
    {"AutoDotted", "0", {}},
    {"ImageCompress", "0", {}},
    {"BandRows", "255", {}},
    {"CutMode", "Job", {}},
    {"CutFeed", "True", {}},
    {"CashDrawer", "None", {}},
    {"InkOnly", "True", {}},
    {"FastCompress", "True", {}},
};

// The default meant for keyword in a family's PPD ("" when none is set).
std::string DefaultFor(const char* keyword, const char* language)
{
    std::string any;
    for (const DefaultRow& row : kDefaults) {
        if (std::string(row.keyword) != keyword)
            continue;
        if (row.languages.empty())
            any = row.choice;
        for (const char* l : row.languages)
            if (std::string(l) == language)
                return row.choice;
    }
    return any;
}

// Choices of the options whose choices the issues fix, in PPD order.
const std::map<std::string, std::vector<std::string>> kChoices = {
    {"ImageBrightness", {"-100", "-80", "-60", "-40", "-20", "-10", "0", "10", "20", "40", "60", "80", "100"}},
    {"Contrast", {"-100", "-80", "-60", "-40", "-20", "-10", "0", "10", "20", "40", "60", "80", "100"}},
    {"BandRows", {"0", "24", "255", "2303"}},
    {"CutMode", {"Page", "Job", "None"}},
    {"CutFeed", {"False", "True"}},
    {"CashDrawer", {"None", "1Before", "1After", "2Before", "2After"}},
    {"SetcCommands", {"False", "True"}},
    {"InkOnly", {"False", "True"}},
    {"FastCompress", {"False", "True"}},
    {"ColorModel", {"Grayscale", "BlackWhite"}},
    {"GapHeight", {"0", "1", "2", "3", "4", "5"}},
    {"MarkHeight", {"2", "3", "4", "5"}},
    {"TopMargin", {"-1", "0", "1", "2", "3", "5", "10"}},
};

// Media tracking: only what the printer has.
const std::map<std::string, std::vector<std::string>> kMediaTracking = {
    {"tspl", {"Continuous", "Gap", "BLine", "Perforated"}},
    {"cpcl", {"Continuous", "Gap", "BLine"}},
    {"peripage", {"Continuous", "Gap", "BLine", "Perforated", "Recording"}},
};

struct Size {
    const char* name;
    double widthMm;
    double lengthMm;
};

// The label sizes; the inch sizes are named by their PWG names.
const Size kLabelSizes[] = {
    {"30x20mm", 30, 20},
    {"40x30mm", 40, 30},
    {"50x25mm", 50, 25},
    {"50x30mm", 50, 30},
    {"58x40mm", 58, 40},
    {"60x40mm", 60, 40},
    {"80x50mm", 80, 50},
    {"100x50mm", 100, 50},
    {"100x100mm", 100, 100},
    {"100x150mm", 100, 150},
    {"oe_4x6-label_4x6in", 101.6, 152.4},
    {"oe_4x4-label_4x4in", 101.6, 101.6},
    {"oe_4x3-label_4x3in", 101.6, 76.2},
    {"oe_4x2-label_4x2in", 101.6, 50.8},
    {"oe_3x2-label_3x2in", 76.2, 50.8},
    {"oe_3x1-label_3x1in", 76.2, 25.4},
    {"oe_2.25x1.25-label_2.25x1.25in", 57.15, 31.75},
    {"oe_2x1-label_2x1in", 50.8, 25.4},
};
// TSPL only (the CPCL head is 104 mm): three more metric sizes and A6.
const Size kTsplOnlySizes[] = {
    {"40x20mm", 40, 20},
    {"70x40mm", 70, 40},
    {"100x70mm", 100, 70},
    {"A6", 297 * 25.4 / 72, 420 * 25.4 / 72},
};

const double kRollLengths[] = {50, 80, 100, 150, 200, 297};

class ShippedPpd : public ::testing::TestWithParam<Shipped> {
protected:
    void SetUp() override
    {
        const std::string path = kPpdDir + GetParam().File();
        ppd = ppdOpenFile(path.c_str());
        ASSERT_NE(ppd, nullptr) << path << " (built by the bandrill-ppds target)";
    }
    void TearDown() override
    {
        if (ppd)
            ppdClose(ppd);
    }

    std::string Attr(const char* name)
    {
        ppd_attr_t* a = ppdFindAttr(ppd, name, nullptr);
        return a && a->value ? a->value : "";
    }

    std::vector<std::string> Choices(const char* keyword)
    {
        std::vector<std::string> out;
        if (ppd_option_t* o = ppdFindOption(ppd, keyword))
            for (int i = 0; i < o->num_choices; ++i)
                out.push_back(o->choices[i].choice);
        return out;
    }

    void ExpectSize(const Size& s)
    {
        ppd_size_t* size = ppdPageSize(ppd, s.name);
        ASSERT_NE(size, nullptr) << GetParam().File() << ": no size " << s.name;
        // ppdc writes the points to two decimals at most.
        EXPECT_NEAR(size->width, s.widthMm * 72 / 25.4, 0.01) << s.name;
        EXPECT_NEAR(size->length, s.lengthMm * 72 / 25.4, 0.01) << s.name;
        EXPECT_EQ(size->left, 0) << s.name;
        EXPECT_EQ(size->bottom, 0) << s.name;
    }

    ppd_file_t* ppd = nullptr;
};

TEST_P(ShippedPpd, ModelAndResolution)
{
    EXPECT_EQ(ppd->model_number, GetParam().family->model);
    EXPECT_EQ(Attr("DefaultResolution"), std::to_string(GetParam().driver->dpi) + "dpi");
    EXPECT_STREQ(ppd->manufacturer, "Generic");
    // ppdc puts the make before the model name.
    EXPECT_EQ(std::string(ppd->modelname), std::string("Generic ") + GetParam().driver->modelName);
    // The project's one version.
    EXPECT_EQ(Attr("FileVersion"), BANDRILL_VERSION);
}

TEST_P(ShippedPpd, HeadDots)
{
    EXPECT_EQ(Attr("bandrillHeadDots"), std::to_string(GetParam().driver->headDots));
}

TEST_P(ShippedPpd, DeviceId)
{
    const std::string id = Attr("1284DeviceID");
    EXPECT_EQ(id, DeviceId(*GetParam().family, *GetParam().driver));
    // cups-driverd keeps 255 characters of it, and a PPD line is at most
    // 255 characters long.
    EXPECT_LT(id.size(), 240u);
    ASSERT_EQ(id.rfind("MFG:", 0), 0u) << id;
    const size_t mdl = id.find(";MDL:");
    const size_t cmd = id.find(";CMD:");
    ASSERT_NE(mdl, std::string::npos) << id;
    ASSERT_NE(cmd, std::string::npos) << id;
    EXPECT_LT(mdl, cmd);
    EXPECT_EQ(id.back(), ';');
    // The manufacturer list carries "Generic" and "bandrill"; the command
    // set lists the printer language first.
    const std::string mfg = "," + id.substr(4, mdl - 4) + ",";
    EXPECT_NE(mfg.find(",Generic,"), std::string::npos) << id;
    EXPECT_NE(mfg.find(",bandrill,"), std::string::npos) << id;
    std::string language;
    for (const char* c = GetParam().family->name; *c; ++c)
        language += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    EXPECT_EQ(id.compare(cmd + 5, language.size(), language), 0) << id;
}

// The PPD offers exactly the family's settings of the table, with the
// table's choices in the same order and its default; every choice a word
// setting offers is one the table reads.
TEST_P(ShippedPpd, SettingsAsTheTableOffersThem)
{
    const PrinterFamily& f = *GetParam().family;
    std::set<std::string> offered = {"ColorModel", "PageSize", "PageRegion", "Resolution"};
    for (const OfferedSetting& s : f.settings) {
        offered.insert(s.row->keyword);
        ppd_option_t* o = ppdFindOption(ppd, s.row->keyword);
        ASSERT_NE(o, nullptr) << GetParam().File() << " lacks " << s.row->keyword;
        EXPECT_EQ(s.defaultChoice, o->defchoice) << GetParam().File() << " " << s.row->keyword;
        EXPECT_EQ(Choices(s.row->keyword), s.choices) << GetParam().File() << " " << s.row->keyword;
        for (const std::string& c : s.choices)
            if (s.row->text == SettingRow::kWords && (!s.row->noneWord || c != s.row->noneWord)) {
                EXPECT_NE(s.row->ChoiceForPpd(c), nullptr) << s.row->keyword << " " << c;
            }
    }
    for (int g = 0; g < ppd->num_groups; ++g)
        for (int i = 0; i < ppd->groups[g].num_options; ++i) {
            const std::string k = ppd->groups[g].options[i].keyword;
            EXPECT_TRUE(offered.count(k)) << GetParam().File() << " offers " << k;
        }
}

TEST_P(ShippedPpd, OptionsAndDefaults)
{
    for (int g = 0; g < ppd->num_groups; ++g)
        for (int i = 0; i < ppd->groups[g].num_options; ++i) {
            const ppd_option_t& o = ppd->groups[g].options[i];
            const std::string k = o.keyword;
            if (k == "PageSize" || k == "PageRegion" || k == "Resolution")
                continue;
            // Every option offered has a real choice to make, and the
            // default it is meant to have.
            EXPECT_GE(o.num_choices, 2) << GetParam().File() << " " << k;
            EXPECT_EQ(std::string(o.defchoice), DefaultFor(o.keyword, GetParam().family->language))
                << GetParam().File() << " " << k;
        }
    // Never "Brightness": the image converters take it for their own.
    EXPECT_EQ(ppdFindOption(ppd, "Brightness"), nullptr);
    EXPECT_NE(ppdFindOption(ppd, "ColorModel"), nullptr);
}

TEST_P(ShippedPpd, Choices)
{
    for (const auto& c : kChoices) {
        if (ppdFindOption(ppd, c.first.c_str())) {
            EXPECT_EQ(Choices(c.first.c_str()), c.second) << GetParam().File() << " " << c.first;
        }
    }
    auto media = kMediaTracking.find(GetParam().family->language);
    if (media != kMediaTracking.end()) {
        EXPECT_EQ(Choices("zeMediaTracking"), media->second) << GetParam().File();
    }
    // Feeds up to 50 mm on the roll printers that feed.
    if (GetParam().driver->roll && ppdFindOption(ppd, "FeedOffset")) {
        EXPECT_EQ(Choices("FeedOffset").back(), "50") << GetParam().File();
    }
    // The darkness levels the printer has.
    if (GetParam().Is("peripage")) {
        EXPECT_EQ(Choices("Darkness").size(), 7u);
    }
    if (GetParam().Is("tspl")) {
        EXPECT_EQ(Choices("Darkness").size(), 17u);
    }
}

// The groups the CUPS web interface shows as tabs, in order: the page
// size, then what a user of the printer looks for first (labels: media
// and position; rolls: paper and cutting), and image tuning last.
TEST_P(ShippedPpd, OptionGroups)
{
    std::vector<std::string> groups;
    for (int g = 0; g < ppd->num_groups; ++g)
        groups.push_back(ppd->groups[g].name);
    ASSERT_GE(groups.size(), 3u) << GetParam().File();
    EXPECT_EQ(groups.front(), "General");
    EXPECT_EQ(groups[1], GetParam().driver->roll ? "Paper" : "Media") << GetParam().File();
    EXPECT_EQ(groups.back(), "Image") << GetParam().File();
    auto groupOf = [&](const char* keyword) -> std::string {
        ppd_option_t* o = ppdFindOption(ppd, keyword);
        for (int g = 0; o && g < ppd->num_groups; ++g)
            for (int i = 0; i < ppd->groups[g].num_options; ++i)
                if (&ppd->groups[g].options[i] == o)
                    return ppd->groups[g].name;
        return "";
    };
    EXPECT_EQ(groupOf("PageSize"), "General");
    for (const char* advanced : {"ColorModel", "ImageFilter", "Threshold", "CropEdgeTop", "BandRows"})
        if (ppdFindOption(ppd, advanced)) {
            EXPECT_EQ(groupOf(advanced), "Image") << advanced;
        }
    for (const char* media : {"zeMediaTracking", "GapHeight", "AdjustHorizontal", "VerticalOffset"})
        if (ppdFindOption(ppd, media) && !GetParam().driver->roll) {
            EXPECT_EQ(groupOf(media), "Media") << media;
        }
    for (const char* paper : {"TopMargin", "CutMode", "FeedOffset"})
        if (ppdFindOption(ppd, paper) && GetParam().driver->roll) {
            EXPECT_EQ(groupOf(paper), "Paper") << paper;
        }
}

// Roll printers' queues set plain text at the roll's width: presets that
// cupsd adds to every job of either colour mode give CUPS's text
// converter 17 characters an inch.
TEST_P(ShippedPpd, TextPresetsOnRolls)
{
    int presets = 0;
    for (ppd_attr_t* a = ppdFindAttr(ppd, "APPrinterPreset", nullptr); a;
         a = ppdFindNextAttr(ppd, "APPrinterPreset", nullptr)) {
        const std::string v = a->value ? a->value : "";
        EXPECT_EQ(v.rfind("*cpi 17 *lpi 8 ", 0), 0u) << v;
        EXPECT_NE(v.find("com.apple.print.preset.quality mid"), std::string::npos) << v;
        ++presets;
    }
    EXPECT_EQ(presets, GetParam().driver->roll ? 2 : 0) << GetParam().File();
}

TEST_P(ShippedPpd, AutoDottedOnlyWithSetcCommands)
{
    if (!GetParam().Is("tspl"))
        return;
    bool forward = false, backward = false;
    for (int i = 0; i < ppd->num_consts; ++i) {
        const ppd_const_t& c = ppd->consts[i];
        const std::string a = std::string(c.option1) + "=" + c.choice1;
        const std::string b = std::string(c.option2) + "=" + c.choice2;
        forward |= a == "SetcCommands=False" && b == "AutoDotted=1";
        backward |= a == "AutoDotted=1" && b == "SetcCommands=False";
    }
    EXPECT_TRUE(forward && backward);
    // Marking the dotted line without the SETC commands is a conflict.
    ppdMarkDefaults(ppd);
    EXPECT_EQ(ppdConflicts(ppd), 0);
    ppdMarkOption(ppd, "AutoDotted", "1");
    EXPECT_GT(ppdConflicts(ppd), 0);
    ppdMarkOption(ppd, "SetcCommands", "True");
    EXPECT_EQ(ppdConflicts(ppd), 0);
}

TEST_P(ShippedPpd, Sizes)
{
    const PrinterDriver& d = *GetParam().driver;
    const int dpi = d.dpi;
    if (!d.roll) {
        for (const Size& s : kLabelSizes)
            ExpectSize(s);
        for (const Size& s : kTsplOnlySizes) {
            if (GetParam().Is("tspl"))
                ExpectSize(s);
            else
                EXPECT_EQ(ppdPageSize(ppd, s.name), nullptr) << s.name;
        }
        EXPECT_STREQ(ppdFindOption(ppd, "PageSize")->defchoice, "50x30mm");
        // The widest label: the table's custom size range.
        pwg_media_t* max = pwgMediaForPWG(d.customMax);
        ASSERT_NE(max, nullptr) << d.customMax;
        EXPECT_NEAR(ppd->custom_max[0], max->width * 72.0 / 2540, 0.01);
        const double maxMm = GetParam().Is("tspl") ? 108 : 104;
        EXPECT_NEAR(ppd->custom_max[0], maxMm * 72 / 25.4, 0.01);
        // The head holds the widest page allowed, at any rounding.
        EXPECT_GE(std::stoi(Attr("bandrillHeadDots")), ppd->custom_max[0] * dpi / 72);
        EXPECT_LT(std::stoi(Attr("bandrillHeadDots")), ppd->custom_max[0] * dpi / 72 + 1);
        return;
    }
    // Rolls: the head's width, the six lengths, any custom length.
    const int dots = d.headDots;
    const std::string prefix = dpi == 300 ? "HiRes58x" : (dots == 576 ? "Roll80x" : "Roll58x");
    EXPECT_EQ(ppd->num_sizes, 7);  // and the custom size
    for (double len : kRollLengths) {
        const std::string name = prefix + std::to_string(static_cast<int>(len)) + "mm";
        ppd_size_t* size = ppdPageSize(ppd, name.c_str());
        ASSERT_NE(size, nullptr) << name;
        EXPECT_NEAR(size->length, len * 72 / 25.4, 0.01) << name;
        // A hair above the head's width, so that every converter makes
        // exactly the head's dots.
        const double dotsWide = size->width * dpi / 72;
        EXPECT_GE(dotsWide, dots) << name;
        EXPECT_LT(dotsWide, dots + 0.05) << name;
    }
    EXPECT_STREQ(ppdFindOption(ppd, "PageSize")->defchoice, (prefix + "100mm").c_str());
    EXPECT_EQ(ppd->custom_min[0], ppd->custom_max[0]);
    EXPECT_NEAR(ppd->custom_max[1], 3000 * 72 / 25.4, 0.01);
}

INSTANTIATE_TEST_SUITE_P(All, ShippedPpd, ::testing::ValuesIn(AllShipped()),
                         [](const ::testing::TestParamInfo<Shipped>& param) {
                             std::string n = param.param.driver->name;
                             for (char& ch : n)
                                 if (ch == '-')
                                     ch = '_';
                             return n;
                         });

} // namespace
