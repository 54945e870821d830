// The shipped PPDs, as ppdc compiles them from ppd/bandrill.drv into the
// build tree: per family the options offered and their defaults, the page
// sizes and their dimensions, the head width and the device ID. (The
// cupstestppd check of the same files is the ppd_cupstestppd test.)
#include <gtest/gtest.h>

#include <cups/ppd.h>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kPpdDir = std::string(BANDRILL_BUILD_DIR) + "/ppd/ppd/";

enum Family { kTspl, kEscPos, kCpcl, kPaperang, kPeriPage };

struct Shipped {
    const char* file;
    Family family;
    int modelNumber;
    int dpi;
    const char* headDots;
    const char* command;  // the CMD: value the device ID must list
};

void PrintTo(const Shipped& s, std::ostream* os)
{
    *os << s.file;
}

const Shipped kShipped[] = {
    {"bandrill-tspl-203.ppd", kTspl, 20, 203, "864", "TSPL"},
    {"bandrill-tspl-300.ppd", kTspl, 20, 300, "1276", "TSPL"},
    {"bandrill-escpos-58.ppd", kEscPos, 21, 203, "384", "ESC/POS"},
    {"bandrill-escpos-80.ppd", kEscPos, 21, 203, "576", "ESC/POS"},
    {"bandrill-cpcl.ppd", kCpcl, 22, 203, "832", "CPCL"},
    {"bandrill-paperang.ppd", kPaperang, 23, 203, "384", "PAPERANG"},
    {"bandrill-peripage-384.ppd", kPeriPage, 24, 203, "384", "PERIPAGE"},
    {"bandrill-peripage-576.ppd", kPeriPage, 24, 300, "576", "PERIPAGE"},
};

// Every option and the families that offer it, with the default each
// family's PPD gives it ("" where the family does not offer it).
struct OptionRow {
    const char* keyword;
    const char* tspl;
    const char* escpos;
    const char* cpcl;
    const char* paperang;
    const char* peripage;
};

const OptionRow kOptions[] = {
    {"ColorModel", "Grayscale", "Grayscale", "Grayscale", "Grayscale", "Grayscale"},
    {"ImageFilter", "0", "0", "0", "3", "3"},
    {"Threshold", "128", "128", "128", "128", "128"},
    {"ImageBrightness", "0", "0", "0", "0", "0"},
    {"Brightness", "", "", "", "", ""},
    {"Contrast", "0", "0", "0", "0", "0"},
    {"Rotate", "0", "0", "0", "0", "0"},
    {"CropEdgeTop", "0", "0", "0", "0", "0"},
    {"CropEdgeBottom", "0", "-1", "0", "-1", "-1"},
    {"CropEdgeLeft", "0", "0", "0", "0", "0"},
    {"CropEdgeRight", "0", "0", "0", "0", "0"},
    {"zeMediaTracking", "Gap", "", "Gap", "", "Continuous"},
    {"MediaMethod", "Direct", "", "", "", ""},
    {"Darkness", "Default", "", "", "", "Default"},
    {"zePrintRate", "Default", "", "", "", ""},
    {"FeedOffset", "0", "0", "", "", "0"},
    {"AdjustHoriaontal", "0", "", "0", "", ""},
    {"AdjustVertical", "0", "", "", "", ""},
    {"SetcCommands", "False", "", "", "", ""},
    {"AutoDotted", "0", "", "", "", ""},
    {"ImageCompress", "0", "", "", "", ""},
    {"BandRows", "", "255", "", "", "255"},
    {"CutMode", "", "Job", "", "", ""},
    {"CutFeed", "", "True", "", "", ""},
    {"CashDrawer", "", "None", "", "", ""},
    {"InkOnly", "True", "True", "True", "", "True"},
    {"FastCompress", "True", "", "", "", ""},
};

const char* DefaultFor(const OptionRow& row, Family f)
{
    switch (f) {
    case kTspl: return row.tspl;
    case kEscPos: return row.escpos;
    case kCpcl: return row.cpcl;
    case kPaperang: return row.paperang;
    case kPeriPage: return row.peripage;
    }
    return "";
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
    {"InkOnly", {"True", "False"}},
    {"FastCompress", {"True", "False"}},
    {"ColorModel", {"Grayscale", "BlackWhite"}},
};

// Media tracking: only what the printer has.
const std::map<Family, std::vector<std::string>> kMediaTracking = {
    {kTspl, {"Continuous", "Gap", "BLine", "Perforated"}},
    {kCpcl, {"Continuous", "Gap", "BLine"}},
    {kPeriPage, {"Continuous", "Gap", "BLine", "Perforated", "Recording"}},
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
        const std::string path = kPpdDir + GetParam().file;
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
        ASSERT_NE(size, nullptr) << GetParam().file << ": no size " << s.name;
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
    EXPECT_EQ(ppd->model_number, GetParam().modelNumber);
    EXPECT_EQ(Attr("DefaultResolution"), std::to_string(GetParam().dpi) + "dpi");
    EXPECT_STREQ(ppd->manufacturer, "Generic");
    // ppdc puts the make before the model name.
    EXPECT_EQ(std::string(ppd->modelname).rfind("Generic bandrill ", 0), 0u) << ppd->modelname;
}

TEST_P(ShippedPpd, HeadDots)
{
    EXPECT_EQ(Attr("bandrillHeadDots"), GetParam().headDots);
}

TEST_P(ShippedPpd, DeviceId)
{
    const std::string id = Attr("1284DeviceID");
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
    // set list the printer language.
    const std::string mfg = "," + id.substr(4, mdl - 4) + ",";
    EXPECT_NE(mfg.find(",Generic,"), std::string::npos) << id;
    EXPECT_NE(mfg.find(",bandrill,"), std::string::npos) << id;
    const std::string cmds = "," + id.substr(cmd + 5, id.size() - cmd - 6) + ",";
    EXPECT_NE(cmds.find("," + std::string(GetParam().command) + ","), std::string::npos) << id;
}

TEST_P(ShippedPpd, OptionsAndDefaults)
{
    std::set<std::string> expected;
    for (const OptionRow& row : kOptions) {
        const std::string def = DefaultFor(row, GetParam().family);
        ppd_option_t* o = ppdFindOption(ppd, row.keyword);
        if (def.empty()) {
            EXPECT_EQ(o, nullptr) << GetParam().file << " offers " << row.keyword;
            continue;
        }
        expected.insert(row.keyword);
        ASSERT_NE(o, nullptr) << GetParam().file << " lacks " << row.keyword;
        EXPECT_EQ(std::string(o->defchoice), def) << GetParam().file << " " << row.keyword;
        // Every option offered has a real choice to make.
        EXPECT_GE(o->num_choices, 2) << GetParam().file << " " << row.keyword;
    }
    // Nothing beyond the table but the page size, its region and the
    // resolution.
    for (int g = 0; g < ppd->num_groups; ++g)
        for (int i = 0; i < ppd->groups[g].num_options; ++i) {
            const std::string k = ppd->groups[g].options[i].keyword;
            if (k == "PageSize" || k == "PageRegion" || k == "Resolution")
                continue;
            EXPECT_TRUE(expected.count(k)) << GetParam().file << " offers " << k;
        }
}

TEST_P(ShippedPpd, Choices)
{
    for (const auto& c : kChoices) {
        if (ppdFindOption(ppd, c.first.c_str())) {
            EXPECT_EQ(Choices(c.first.c_str()), c.second) << GetParam().file << " " << c.first;
        }
    }
    auto media = kMediaTracking.find(GetParam().family);
    if (media != kMediaTracking.end()) {
        EXPECT_EQ(Choices("zeMediaTracking"), media->second) << GetParam().file;
    }
    // Feeds up to 50 mm on the roll printers that feed.
    if (GetParam().family == kEscPos || GetParam().family == kPeriPage) {
        EXPECT_EQ(Choices("FeedOffset").back(), "50") << GetParam().file;
    }
    // The darkness levels the printer has.
    if (GetParam().family == kPeriPage) {
        EXPECT_EQ(Choices("Darkness").size(), 7u);
    }
    if (GetParam().family == kTspl) {
        EXPECT_EQ(Choices("Darkness").size(), 17u);
    }
}

TEST_P(ShippedPpd, AutoDottedOnlyWithSetcCommands)
{
    if (GetParam().family != kTspl)
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
    const Family f = GetParam().family;
    if (f == kTspl || f == kCpcl) {
        for (const Size& s : kLabelSizes)
            ExpectSize(s);
        for (const Size& s : kTsplOnlySizes) {
            if (f == kTspl)
                ExpectSize(s);
            else
                EXPECT_EQ(ppdPageSize(ppd, s.name), nullptr) << s.name;
        }
        EXPECT_STREQ(ppdFindOption(ppd, "PageSize")->defchoice, "50x30mm");
        const double maxMm = f == kTspl ? 108 : 104;
        EXPECT_NEAR(ppd->custom_max[0], maxMm * 72 / 25.4, 0.01);
        // The head holds the widest page allowed, at any rounding.
        EXPECT_GE(std::stoi(Attr("bandrillHeadDots")), ppd->custom_max[0] * GetParam().dpi / 72);
        EXPECT_LT(std::stoi(Attr("bandrillHeadDots")), ppd->custom_max[0] * GetParam().dpi / 72 + 1);
        return;
    }
    // Rolls: the head's width, the six lengths, any custom length.
    const int dots = std::stoi(GetParam().headDots);
    const std::string prefix = GetParam().dpi == 300 ? "HiRes58x" : (dots == 576 ? "Roll80x" : "Roll58x");
    EXPECT_EQ(ppd->num_sizes, 7);  // and the custom size
    for (double len : kRollLengths) {
        const std::string name = prefix + std::to_string(static_cast<int>(len)) + "mm";
        ppd_size_t* size = ppdPageSize(ppd, name.c_str());
        ASSERT_NE(size, nullptr) << name;
        EXPECT_NEAR(size->length, len * 72 / 25.4, 0.01) << name;
        // A hair above the head's width, so that every converter makes
        // exactly the head's dots.
        const double dotsWide = size->width * GetParam().dpi / 72;
        EXPECT_GE(dotsWide, dots) << name;
        EXPECT_LT(dotsWide, dots + 0.05) << name;
    }
    EXPECT_STREQ(ppdFindOption(ppd, "PageSize")->defchoice, (prefix + "100mm").c_str());
    EXPECT_EQ(ppd->custom_min[0], ppd->custom_max[0]);
    EXPECT_NEAR(ppd->custom_max[1], 3000 * 72 / 25.4, 0.01);
}

INSTANTIATE_TEST_SUITE_P(All, ShippedPpd, ::testing::ValuesIn(kShipped),
                         [](const ::testing::TestParamInfo<Shipped>& param) {
                             std::string n = param.param.file;
                             n = n.substr(9, n.size() - 13);  // bandrill-X.ppd
                             for (char& ch : n)
                                 if (ch == '-')
                                     ch = '_';
                             return n;
                         });

} // namespace
