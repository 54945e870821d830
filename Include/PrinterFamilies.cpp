#include "PrinterFamilies.h"

#include <cstdlib>
#include <cstring>

#include "PrinterCPCL.h"
#include "PrinterESCPOS.h"
#include "PrinterPaperang.h"
#include "PrinterPeriPage.h"
#include "PrinterTSPL.h"

namespace {

template <class T>
CBaseRender* Create()
{
    return new T();
}

using Strings = std::vector<std::string>;

// A setting offered with the table's default and choices, or these.
OfferedSetting Offer(const char* keyword, const char* defaultChoice = nullptr,
                     const Strings& choices = Strings())
{
    const SettingRow* row = FindSetting(keyword);
    OfferedSetting o{row, defaultChoice ? defaultChoice : row->defaultChoice,
                     choices.empty() ? row->offered : choices};
    return o;
}

std::vector<OfferedSetting> With(std::vector<OfferedSetting> a, const std::vector<OfferedSetting>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The image options every PPD carries. dither: Burkes by default (pocket
// printers), else threshold; cropTail: the bottom crop takes the whole
// blank tail by default (rolls).
std::vector<OfferedSetting> ImageSettings(bool dither, bool cropTail)
{
    return {
        Offer("ImageFilter", dither ? "3" : "0"),
        Offer("Threshold"),
        Offer("ImageBrightness"),
        Offer("Contrast"),
        Offer("Rotate"),
        Offer("CropEdgeTop"),
        Offer("CropEdgeBottom", cropTail ? "-1" : "0"),
        Offer("CropEdgeLeft"),
        Offer("CropEdgeRight"),
    };
}

// Metric label sizes by name, then the inch sizes label stock is sold in.
std::vector<const char*> Labels(const std::vector<const char*>& metric, bool a6)
{
    std::vector<const char*> media = metric;
    for (const char* m :
         {"oe_4x6-label_4x6in", "oe_4x4-label_4x4in", "oe_4x3-label_4x3in", "oe_4x2-label_4x2in",
          "oe_3x2-label_3x2in", "oe_3x1-label_3x1in", "oe_2.25x1.25-label_2.25x1.25in",
          "oe_2x1-label_2x1in"})
        media.push_back(m);
    if (a6)
        media.push_back("iso_a6_105x148mm");
    return media;
}

const char* const kDefaultLabel = "om_50x30-label_50x30mm";

PrinterDriver LabelDriver(const char* name, const char* modelName, int dpi, int headDots,
                          const char* mfg, const char* mdl, const std::vector<const char*>& labels,
                          const char* customMax)
{
    return {name, modelName, dpi, headDots, mfg, mdl, nullptr, labels, kDefaultLabel,
            "custom_min_10x10mm", customMax};
}

PrinterDriver RollDriver(const char* name, const char* modelName, int dpi, int headDots,
                         const char* mfg, const char* mdl, const char* roll)
{
    return {name, modelName, dpi, headDots, mfg, mdl, roll, {}, nullptr, nullptr, nullptr};
}

// Pocket printers print a few centimetres a second and show white lines
// when data comes faster: 256-byte chunks with a pause after each, and the
// link kept open until the printer has printed what it holds.
LinkPacing PocketPacing(int pauseMs)
{
    return {256, pauseMs, 8192, 2048, 5000};
}

// Receipt printers take data as fast as a serial link brings it and print
// 50 to 100 mm a second; label printers take a whole label into memory
// before printing it.
const LinkPacing kFastPacing = {4096, 0, 4096, 16384, 2000};

std::vector<PrinterFamily> MakeFamilies()
{
    // (Built at the first use, so that a table read during static
    // initialisation elsewhere finds these made.)
    const std::vector<const char*> kTsplLabels = Labels(
        {"om_30x20-label_30x20mm", "om_40x20-label_40x20mm", "om_40x30-label_40x30mm",
         "om_50x25-label_50x25mm", "om_50x30-label_50x30mm", "om_58x40-label_58x40mm",
         "om_60x40-label_60x40mm", "om_70x40-label_70x40mm", "om_80x50-label_80x50mm",
         "om_100x50-label_100x50mm", "om_100x70-label_100x70mm", "om_100x100-label_100x100mm",
         "om_100x150-label_100x150mm"},
        true);
    const std::vector<const char*> kCpclLabels = Labels(
        {"om_30x20-label_30x20mm", "om_40x30-label_40x30mm", "om_50x25-label_50x25mm",
         "om_50x30-label_50x30mm", "om_58x40-label_58x40mm", "om_60x40-label_60x40mm",
         "om_80x50-label_80x50mm", "om_100x50-label_100x50mm", "om_100x100-label_100x100mm",
         "om_100x150-label_100x150mm"},
        false);
    // Feeds up to 50 mm on the roll printers that feed.
    const Strings kFeedLong = {"0", "1", "2", "3", "4", "5", "6", "8", "10", "12", "15", "20",
                               "25", "30", "40", "50"};
    // Head widths: receipts and pocket printers as the head; label printers
    // the widest label the PPD allows, rounded up to a whole dot.
    return {
        {kModelTSPL, "TSPL", "tspl", "application/vnd.bandrill-tspl", "TSPL,TSPL2",
         {LabelDriver("tspl-203", "bandrill TSPL Label Printer 203 dpi", 203, 864,
                      "Generic,bandrill,TSC,Xprinter,iDPRT,Gprinter,HPRT,MUNBYN,Beeprt,Phomemo",
                      "TSPL Label Printer 203 dpi,TTP-244 Pro,TTP-244,TE200,TE210,DA210,XP-365B,"
                      "XP-420B,XP-460B,XP-470B,SP410,SP420,GP-1324D,HT300,ITPP941",
                      kTsplLabels, "custom_max_108x1000mm"),
          LabelDriver("tspl-300", "bandrill TSPL Label Printer 300 dpi", 300, 1276,
                      "Generic,bandrill,TSC,Xprinter,iDPRT,Gprinter,HPRT",
                      "TSPL Label Printer 300 dpi,TTP-344M Pro,TTP-344M,TE300,TE310,DA310,TX300,"
                      "TX310,XP-TT426B,XP-TT436B",
                      kTsplLabels, "custom_max_108x1000mm")},
         With(ImageSettings(false, false),
              {Offer("zeMediaTracking", "Gap", {"Continuous", "Gap", "BLine", "Perforated"}),
               Offer("GapHeight"), Offer("MarkHeight"), Offer("AdjustHorizontal"),
               Offer("AdjustVertical"), Offer("HorizontalOffset"), Offer("VerticalOffset"),
               Offer("MediaMethod"), Offer("Darkness"), Offer("zePrintRate"), Offer("FeedOffset"),
               Offer("SetcCommands"), Offer("AutoDotted"), Offer("ImageCompress"),
               Offer("FastCompress"), Offer("InkOnly")}),
         &Create<CPrinterTSPL>, kFastPacing, kTsplStatus, kIdentifySound},
        {kModelESCPOS, "ESC/POS", "escpos", "application/vnd.bandrill-escpos", "ESC/POS,ESCPOS",
         {RollDriver("escpos-58", "bandrill ESC/POS Receipt Printer 58 mm", 203, 384,
                     "Generic,bandrill,Xprinter,EPSON,POS58,Printer,GOOJPRT,Rongta,HOIN,ZJiang",
                     "ESC/POS Receipt Printer 58 mm,POS58,POS-58,XP-58,XP-58IIH,XP-58IIL,ZJ-5890K,"
                     "ZJ-5890,MTP-II,PT-210,RP58",
                     "roll58"),
          RollDriver("escpos-80", "bandrill ESC/POS Receipt Printer 80 mm", 203, 576,
                     "Generic,bandrill,Xprinter,EPSON,POS80,Printer,Rongta,HOIN,MUNBYN,ZJiang",
                     "ESC/POS Receipt Printer 80 mm,POS80,POS-80,POS-80C,XP-80,XP-80C,XP-N160II,"
                     "XP-Q200,TM-T20,TM-T20II,TM-T20III,TM-T82,TM-T88V,RP80,ITPP047",
                     "roll80")},
         With(ImageSettings(false, true),
              {Offer("TopMargin"), Offer("FeedOffset", nullptr, kFeedLong), Offer("CutMode"),
               Offer("CutFeed"), Offer("CashDrawer"), Offer("BandRows"), Offer("InkOnly")}),
         &Create<CPrinterESCPOS>, kFastPacing, kEscPosStatus, kIdentifyFeed},
        {kModelCPCL, "CPCL", "cpcl", "application/vnd.bandrill-cpcl", "CPCL",
         {LabelDriver("cpcl", "bandrill CPCL Label Printer", 203, 832,
                      "Generic,bandrill,Zebra Technologies,Zebra,HPRT,Xprinter",
                      "CPCL Label Printer,ZQ310,ZQ320,ZQ520,ZQ630,QLn220,QLn320,QLn420,iMZ320,"
                      "HM-A300,HM-E200,XP-P323B",
                      kCpclLabels, "custom_max_104x1000mm")},
         With(ImageSettings(false, false),
              {Offer("zeMediaTracking", "Gap", {"Continuous", "Gap", "BLine"}),
               Offer("AdjustHorizontal"), Offer("HorizontalOffset"), Offer("VerticalOffset"),
               Offer("InkOnly")}),
         &Create<CPrinterCPCL>, kFastPacing},
        {kModelPaperang, "Paperang", "paperang", "application/vnd.bandrill-paperang", "PAPERANG",
         {RollDriver("paperang", "bandrill Paperang-compatible Pocket Printer", 203, 384,
                     "Generic,bandrill,Paperang",
                     "Paperang-compatible Pocket Printer,Paperang,P1,P1S,P2,P2S", "roll58")},
         With(ImageSettings(true, true), {Offer("TopMargin")}), &Create<CPrinterPaperang>,
         PocketPacing(20)},
        {kModelPeriPage, "PeriPage", "peripage", "application/vnd.bandrill-peripage",
         "PERIPAGE,ESC/POS",
         {RollDriver("peripage-384", "bandrill PeriPage-compatible Pocket Printer 384 dots", 203,
                     384, "Generic,bandrill,PeriPage",
                     "PeriPage-compatible Pocket Printer 384 dots,PeriPage A6,PeriPage A9,A6,A9",
                     "roll58"),
          RollDriver("peripage-576", "bandrill PeriPage-compatible Pocket Printer 576 dots", 300,
                     576, "Generic,bandrill,PeriPage",
                     "PeriPage-compatible Pocket Printer 576 dots,PeriPage A8,A8", "roll58")},
         With(ImageSettings(true, true),
              {Offer("TopMargin"),
               Offer("zeMediaTracking", "Continuous",
                     {"Continuous", "Gap", "BLine", "Perforated", "Recording"}),
               Offer("Darkness", nullptr,
                     {"Default", "0", "1", "2", "3", "4", "5"}),
               Offer("FeedOffset", nullptr, kFeedLong), Offer("BandRows"), Offer("InkOnly")}),
         &Create<CPrinterPeriPage>, PocketPacing(50)},
    };
}

} // namespace

bool OfferedSetting::Offers(const std::string& ppdChoice) const
{
    for (const std::string& c : choices)
        if (c == ppdChoice)
            return true;
    return false;
}

bool OfferedSetting::Range(int& lo, int& hi) const
{
    bool any = false;
    for (const std::string& c : choices) {
        long n = 0;
        if (row->text == SettingRow::kHundredths) {
            const SettingValue v = ParseSettingChoice(*row, c);
            if (v.state != SettingValue::kValue)
                continue;
            n = v.value;
        } else {
            char* end = nullptr;
            n = std::strtol(c.c_str(), &end, 10);
            if (c.empty() || *end != '\0')
                continue;
        }
        if (n < row->min || n > row->max)
            continue;
        lo = any && lo < n ? lo : static_cast<int>(n);
        hi = any && hi > n ? hi : static_cast<int>(n);
        any = true;
    }
    return any;
}

const OfferedSetting* PrinterFamily::Offer(const char* keyword) const
{
    for (const OfferedSetting& o : settings)
        if (std::strcmp(o.row->keyword, keyword) == 0)
            return &o;
    return nullptr;
}

const PrinterDriver* PrinterFamily::Driver(const char* driverName) const
{
    for (const PrinterDriver& d : drivers)
        if (driverName && std::strcmp(d.name, driverName) == 0)
            return &d;
    return nullptr;
}

const std::vector<PrinterFamily>& PrinterFamilies()
{
    static const std::vector<PrinterFamily> kFamilies = MakeFamilies();
    return kFamilies;
}

const PrinterFamily* FindPrinterFamily(int model)
{
    for (const PrinterFamily& f : PrinterFamilies())
        if (f.model == model)
            return &f;
    return nullptr;
}

const PrinterFamily* FindPrinterFamilyByDriver(const char* driver)
{
    const PrinterFamily* family = nullptr;
    return FindPrinterDriver(driver, &family) ? family : nullptr;
}

const PrinterFamily* FindPrinterFamilyByLanguage(const char* language)
{
    for (const PrinterFamily& f : PrinterFamilies())
        if (language && std::strcmp(f.language, language) == 0)
            return &f;
    return nullptr;
}

const PrinterDriver* FindPrinterDriver(const char* name, const PrinterFamily** family)
{
    for (const PrinterFamily& f : PrinterFamilies())
        if (const PrinterDriver* d = f.Driver(name)) {
            if (family)
                *family = &f;
            return d;
        }
    return nullptr;
}

std::string DeviceId(const PrinterFamily& family, const PrinterDriver& driver)
{
    return std::string("MFG:") + driver.mfg + ";MDL:" + driver.mdl + ";CMD:" + family.commandSet +
           ";";
}
