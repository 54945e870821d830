#include "Drivers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "PrinterFamilies.h"

namespace bandrill_app {

namespace {

using Strings = std::vector<std::string>;
using Setting = Driver::Setting;

Strings Range(int from, int to)
{
    Strings s;
    for (int i = from; i <= to; ++i)
        s.push_back(std::to_string(i));
    return s;
}

Strings Join(Strings a, const Strings& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The image options every PPD carries. dither: Burkes by default (pocket
// printers), else threshold; cropTail: the bottom crop takes the whole
// blank tail by default (rolls).
std::vector<Setting> ImageSettings(bool dither, bool cropTail)
{
    Strings threshold;
    for (int i = 0; i <= 248; i += 8)
        threshold.push_back(std::to_string(i));
    threshold.push_back("255");
    const Strings tone = {"-100", "-80", "-60", "-40", "-20", "-10", "0",
                          "10",   "20",  "40",  "60",  "80",  "100"};
    const Strings crop = {"0", "1", "2", "3", "5", "10", "20", "50", "-1"};
    return {
        {"ImageFilter", dither ? "3" : "0", Range(0, 10)},
        {"Threshold", "128", threshold},
        {"ImageBrightness", "0", tone},
        {"Contrast", "0", tone},
        {"Rotate", "0", Range(0, 3)},
        {"CropEdgeTop", "0", crop},
        {"CropEdgeBottom", cropTail ? "-1" : "0", crop},
        {"CropEdgeLeft", "0", crop},
        {"CropEdgeRight", "0", crop},
    };
}

std::vector<Setting> With(std::vector<Setting> a, const std::vector<Setting>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Strings kFeed = {"0", "1", "2", "3", "4", "5", "6", "8", "10", "12", "15", "20"};
const Strings kFeedLong = Join(kFeed, {"25", "30", "40", "50"});
const Setting kBandRows = {"BandRows", "255", {"0", "24", "255", "2303"}};

std::vector<Setting> TsplSettings()
{
    return With(ImageSettings(false, false),
                {
                    {"zeMediaTracking", "Gap", {"Continuous", "Gap", "BLine", "Perforated"}},
                    {"MediaMethod", "Direct", {"Direct", "Transfer"}},
                    {"Darkness", "Default", Join({"Default"}, Range(0, 15))},
                    {"zePrintRate", "Default", Join({"Default"}, Range(1, 12))},
                    {"FeedOffset", "0", kFeed},
                    {"AdjustHoriaontal", "0", Range(-3, 3)},
                    {"AdjustVertical", "0", Range(-3, 3)},
                    {"SetcCommands", "False", {"False", "True"}},
                    {"AutoDotted", "0", {"0", "1"}},
                    {"ImageCompress", "0", {"0", "1"}},
                });
}

std::vector<Setting> EscposSettings()
{
    return With(ImageSettings(false, true),
                {
                    {"FeedOffset", "0", kFeedLong},
                    kBandRows,
                    {"CutMode", "Job", {"Page", "Job", "None"}},
                    {"CutFeed", "True", {"False", "True"}},
                    {"CashDrawer", "None", {"None", "1Before", "1After", "2Before", "2After"}},
                });
}

std::vector<Setting> CpclSettings()
{
    return With(ImageSettings(false, false),
                {
                    {"zeMediaTracking", "Gap", {"Continuous", "Gap", "BLine"}},
                    {"AdjustHoriaontal", "0", Range(-3, 3)},
                });
}

std::vector<Setting> PeriPageSettings()
{
    return With(ImageSettings(true, true),
                {
                    {"zeMediaTracking",
                     "Continuous",
                     {"Continuous", "Gap", "BLine", "Perforated", "Recording"}},
                    {"Darkness", "Default", Join({"Default"}, Range(0, 5))},
                    {"FeedOffset", "0", kFeedLong},
                    kBandRows,
                });
}

// Metric label sizes by name, then the inch sizes label stock is sold in.
std::vector<MediaSize> Labels(const std::vector<const char*>& metric, bool a6)
{
    std::vector<MediaSize> media;
    for (const char* m : metric)
        media.push_back({m, std::strcmp(m, "om_50x30-label_50x30mm") == 0});
    for (const char* m :
         {"oe_4x6-label_4x6in", "oe_4x4-label_4x4in", "oe_4x3-label_4x3in", "oe_4x2-label_4x2in",
          "oe_3x2-label_3x2in", "oe_3x1-label_3x1in", "oe_2.25x1.25-label_2.25x1.25in",
          "oe_2x1-label_2x1in"})
        media.push_back({m, false});
    if (a6)
        media.push_back({"iso_a6_105x148mm", false});
    return media;
}

// "48.05" for 4805 hundredths of a millimetre.
std::string Mm(int hundredths)
{
    char text[32];
    if (hundredths % 100 == 0)
        std::snprintf(text, sizeof text, "%d", hundredths / 100);
    else if (hundredths % 10 == 0)
        std::snprintf(text, sizeof text, "%d.%d", hundredths / 100, hundredths / 10 % 10);
    else
        std::snprintf(text, sizeof text, "%d.%02d", hundredths / 100, hundredths % 100);
    return text;
}

// Roll lengths as the PPDs list them, as wide as the head.
struct RollMedia {
    std::vector<MediaSize> media;
    std::string min, max;
};

RollMedia Rolls(const char* paper, int dots, int dpi)
{
    // The table keeps pointers to the names.
    static std::vector<std::unique_ptr<std::string>> keep;
    RollMedia r;
    const std::string w = Mm(WidthForDots(dots, dpi));
    for (int length : {50, 80, 100, 150, 200, 297}) {
        keep.push_back(std::make_unique<std::string>(std::string("om_") + paper + "-" +
                                                     std::to_string(length) + "_" + w + "x" +
                                                     std::to_string(length) + "mm"));
        r.media.push_back({keep.back()->c_str(), length == 100});
    }
    r.min = "roll_min_" + w + "x10mm";
    r.max = "roll_max_" + w + "x3000mm";
    return r;
}

Driver RollDriver(const char* name, const char* description, int model, int dpi, int dots,
                  const char* paper, std::vector<Setting> settings)
{
    RollMedia r = Rolls(paper, dots, dpi);
    return {name, description, model, dpi, dots, true, r.media, r.min, r.max, std::move(settings)};
}

const std::vector<const char*> kTsplLabels = {
    "om_30x20-label_30x20mm",   "om_40x20-label_40x20mm",   "om_40x30-label_40x30mm",
    "om_50x25-label_50x25mm",   "om_50x30-label_50x30mm",   "om_58x40-label_58x40mm",
    "om_60x40-label_60x40mm",   "om_70x40-label_70x40mm",   "om_80x50-label_80x50mm",
    "om_100x50-label_100x50mm", "om_100x70-label_100x70mm", "om_100x100-label_100x100mm",
    "om_100x150-label_100x150mm"};
const std::vector<const char*> kCpclLabels = {
    "om_30x20-label_30x20mm",   "om_40x30-label_40x30mm",     "om_50x25-label_50x25mm",
    "om_50x30-label_50x30mm",   "om_58x40-label_58x40mm",     "om_60x40-label_60x40mm",
    "om_80x50-label_80x50mm",   "om_100x50-label_100x50mm",   "om_100x100-label_100x100mm",
    "om_100x150-label_100x150mm"};

} // namespace

int WidthForDots(int dots, int dpi)
{
    // The least width w (0.01 mm) with w * dpi / 2540 >= dots.
    return (dots * 2540 + dpi - 1) / dpi;
}

const std::vector<Driver>& Drivers()
{
    // Head widths: receipts and pocket printers as the head; label printers
    // the widest label the PPD allows, rounded up to a whole dot.
    static const std::vector<Driver> kDrivers = {
        {"tspl-203", "bandrill TSPL Label Printer 203 dpi", kModelTSPL, 203, 864, false,
         Labels(kTsplLabels, true), "custom_min_10x10mm", "custom_max_108x1000mm", TsplSettings()},
        {"tspl-300", "bandrill TSPL Label Printer 300 dpi", kModelTSPL, 300, 1276, false,
         Labels(kTsplLabels, true), "custom_min_10x10mm", "custom_max_108x1000mm", TsplSettings()},
        RollDriver("escpos-58", "bandrill ESC/POS Receipt Printer 58 mm", kModelESCPOS, 203, 384,
                   "roll58", EscposSettings()),
        RollDriver("escpos-80", "bandrill ESC/POS Receipt Printer 80 mm", kModelESCPOS, 203, 576,
                   "roll80", EscposSettings()),
        {"cpcl", "bandrill CPCL Label Printer", kModelCPCL, 203, 832, false, Labels(kCpclLabels, false),
         "custom_min_10x10mm", "custom_max_104x1000mm", CpclSettings()},
        RollDriver("paperang", "bandrill Paperang-compatible Pocket Printer", kModelPaperang, 203, 384,
                   "roll58", ImageSettings(true, true)),
        RollDriver("peripage-384", "bandrill PeriPage-compatible Pocket Printer 384 dots",
                   kModelPeriPage, 203, 384, "roll58", PeriPageSettings()),
        RollDriver("peripage-576", "bandrill PeriPage-compatible Pocket Printer 576 dots",
                   kModelPeriPage, 300, 576, "roll58", PeriPageSettings()),
    };
    return kDrivers;
}

const Driver* FindDriver(const char* name)
{
    if (!name)
        return nullptr;
    for (const Driver& d : Drivers())
        if (std::strcmp(d.name, name) == 0)
            return &d;
    return nullptr;
}

const Driver::Setting* Driver::Find(const char* keyword) const
{
    for (const Setting& s : settings)
        if (std::strcmp(s.keyword, keyword) == 0)
            return &s;
    return nullptr;
}

bool Driver::Offers(const VendorOption& option) const
{
    const Setting* s = Find(option.keyword);
    return s && s->choices.size() > 1;
}

int DarknessLevels(const Driver& driver)
{
    const Driver::Setting* s = driver.Find("Darkness");
    return s ? static_cast<int>(s->choices.size()) - 1 : 0;
}

int SpeedMax(const Driver& driver)
{
    const Driver::Setting* s = driver.Find("zePrintRate");
    return s ? static_cast<int>(s->choices.size()) - 1 : 0;
}

const std::vector<VendorOption>& VendorOptions()
{
    using K = VendorOption;
    static const std::vector<VendorOption> kOptions = {
        {"ImageFilter", "bandrill-halftone", "Halftoning", K::kKeyword,
         {{"threshold", "0", "Threshold"},
          {"floyd-steinberg", "1", "Floyd-Steinberg"},
          {"ordered-4x4", "2", "Ordered 4x4"},
          {"burkes", "3", "Burkes"},
          {"stucki", "4", "Stucki"},
          {"jarvis-judice-ninke", "5", "Jarvis-Judice-Ninke"},
          {"sierra", "6", "Sierra"},
          {"stevenson-arce", "7", "Stevenson-Arce"},
          {"bayer-4x4", "8", "Bayer 4x4"},
          {"bayer-8x8", "9", "Bayer 8x8"},
          {"ordered-16x16", "10", "Ordered 16x16"}}},
        {"Threshold", "bandrill-threshold", "Threshold level (0 black to 255 white)", K::kInteger,
         {}, 0, 255},
        {"ImageBrightness", "bandrill-brightness", "Brightness (-100 to 100)", K::kInteger, {}, -100,
         100},
        {"Contrast", "bandrill-contrast", "Contrast (-100 to 100)", K::kInteger, {}, -100, 100},
        {"Rotate", "bandrill-rotate", "Rotate image", K::kKeyword,
         {{"none", "0", "None"},
          {"rotate-180", "1", "180 degrees"},
          {"rotate-90", "2", "90 degrees"},
          {"rotate-270", "3", "270 degrees"}}},
        {"CropEdgeTop", "bandrill-crop-top", "Trim blank top (mm, -1 all)", K::kInteger, {}, -1, 50},
        {"CropEdgeBottom", "bandrill-crop-bottom", "Trim blank bottom (mm, -1 all)", K::kInteger, {},
         -1, 50},
        {"CropEdgeLeft", "bandrill-crop-left", "Trim blank left (mm, -1 all)", K::kInteger, {}, -1,
         50},
        {"CropEdgeRight", "bandrill-crop-right", "Trim blank right (mm, -1 all)", K::kInteger, {},
         -1, 50},
        {"MediaMethod", "bandrill-print-method", "Print method", K::kKeyword,
         {{"direct", "Direct", "Direct thermal"}, {"transfer", "Transfer", "Thermal transfer (ribbon)"}}},
        {"FeedOffset", "bandrill-feed-offset", "Feed after printing (mm)", K::kInteger, {}, 0, 50},
        {"AdjustHoriaontal", "bandrill-adjust-horizontal", "Horizontal position (steps of 8 mm)",
         K::kInteger, {}, -3, 3},
        {"AdjustVertical", "bandrill-adjust-vertical", "Vertical position (steps of 8 mm)",
         K::kInteger, {}, -3, 3},
        {"SetcCommands", "bandrill-setc", "Vendor SETC commands", K::kBoolean, {}, 0, 0},
        {"AutoDotted", "bandrill-dotted-line", "Automatic dotted line", K::kKeyword,
         {{"off", "0", "Off"}, {"on", "1", "On"}}},
        {"ImageCompress", "bandrill-compress", "Compress bitmaps", K::kKeyword,
         {{"off", "0", "Off"}, {"on", "1", "On (zlib)"}}},
        {"BandRows", "bandrill-band-rows", "Rows per image band (0 one image per page)",
         K::kInteger, {}, 0, 65535},
        {"CutMode", "bandrill-cut-mode", "Cut", K::kKeyword,
         {{"page", "Page", "After every page"},
          {"job", "Job", "After the job"},
          {"none", "None", "Never"}}},
        {"CutFeed", "bandrill-cut-feed", "Feed to the cutter before cutting", K::kBoolean, {}, 0, 0},
        {"CashDrawer", "bandrill-cash-drawer", "Cash drawer", K::kKeyword,
         {{"none", "None", "Do not open"},
          {"1-before", "1Before", "Open drawer 1 before printing"},
          {"1-after", "1After", "Open drawer 1 after printing"},
          {"2-before", "2Before", "Open drawer 2 before printing"},
          {"2-after", "2After", "Open drawer 2 after printing"}}},
    };
    return kOptions;
}

const VendorOption* FindVendorOption(const char* attr)
{
    for (const VendorOption& o : VendorOptions())
        if (std::strcmp(o.attr, attr) == 0)
            return &o;
    return nullptr;
}

const VendorOption* FindVendorOptionByKeyword(const char* keyword)
{
    for (const VendorOption& o : VendorOptions())
        if (std::strcmp(o.keyword, keyword) == 0)
            return &o;
    return nullptr;
}

std::string ChoiceForValue(const VendorOption& option, const std::string& value)
{
    switch (option.kind) {
    case VendorOption::kKeyword:
        for (const VendorOption::Value& v : option.values)
            if (value == v.ipp)
                return v.choice;
        return std::string();
    case VendorOption::kBoolean:
        if (value == "true")
            return "True";
        if (value == "false")
            return "False";
        return std::string();
    case VendorOption::kInteger: {
        if (value.empty())
            return std::string();
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (*end != '\0' || n < option.min || n > option.max)
            return std::string();
        return std::to_string(n);
    }
    }
    return std::string();
}

std::string ValueForChoice(const VendorOption& option, const std::string& choice)
{
    switch (option.kind) {
    case VendorOption::kKeyword:
        for (const VendorOption::Value& v : option.values)
            if (choice == v.choice)
                return v.ipp;
        return std::string();
    case VendorOption::kBoolean:
        return choice == "True" ? "true" : "false";
    case VendorOption::kInteger:
        return choice;
    }
    return std::string();
}

} // namespace bandrill_app
