#include "PrinterSettings.h"

#include <cstdlib>

#include "BaseRender.h"

namespace {

// atoi x 8 in unsigned arithmetic, so that absurd values wrap instead of
// overflowing a signed int.
int Times8(const std::string& v)
{
    return static_cast<int>(static_cast<unsigned>(std::atoi(v.c_str())) * 8u);
}

void SetInt(CBaseRender& render, ISettingChoices& choices, const char* keyword, int& field,
            const char* trace)
{
    const std::string v = choices.Choice(keyword);
    if (v.empty())
        return;
    field = std::atoi(v.c_str());
    render.AddLog(trace, field);
}

// Receipt printing: bands, cutting, cash drawer, and the print head width
// (a PPD attribute rather than an option). Unknown choices change nothing.
void ReadReceiptSettings(CBaseRender& render, ISettingChoices& choices)
{
    tagREGSTRUCT& reg = render.m_reg;
    std::string v;

    v = choices.Choice("BandRows");
    if (!v.empty()) {
        const int rows = std::atoi(v.c_str());
        reg.iBandRows = rows > 0 ? rows : 0;
        render.AddLog("iBandRows = %d", reg.iBandRows);
    }
    v = choices.Choice("CutMode");
    if (!v.empty()) {
        if (v == "Page")
            reg.iCutMode = CUT_PAGE;
        else if (v == "Job")
            reg.iCutMode = CUT_JOB;
        else if (v == "None")
            reg.iCutMode = CUT_NONE;
        render.AddLog("iCutMode = %d", reg.iCutMode);
    }
    v = choices.Choice("CutFeed");
    if (!v.empty()) {
        reg.bCutFeed = v == "True";
        render.AddLog("bCutFeed = %d", reg.bCutFeed ? 1 : 0);
    }
    v = choices.Choice("CashDrawer");
    if (!v.empty()) {
        static const struct {
            const char* choice;
            int value;
        } kDrawer[] = {
            {"None", CASH_DRAWER_NONE},
            {"1Before", 1},
            {"1After", 1 | CASH_DRAWER_AFTER},
            {"2Before", 2},
            {"2After", 2 | CASH_DRAWER_AFTER},
        };
        for (const auto& d : kDrawer)
            if (v == d.choice)
                reg.iCashDrawer = d.value;
        render.AddLog("iCashDrawer = %d", reg.iCashDrawer);
    }
    v = choices.Choice("bandrillHeadDots");
    if (!v.empty()) {
        const int dots = std::atoi(v.c_str());
        reg.iHeadDots = dots > 0 ? dots : 0;
        render.AddLog("iHeadDots = %d", reg.iHeadDots);
    }
}

// Settings that make the printer stream leaner; a PPD without them gets
// the stream as it always was.
void ReadLeanSettings(CBaseRender& render, ISettingChoices& choices)
{
    std::string v = choices.Choice("InkOnly");
    if (v == "True" || v == "False") {
        render.m_reg.bInkOnly = v == "True";
        render.AddLog("bInkOnly = %d", render.m_reg.bInkOnly ? 1 : 0);
    }
    v = choices.Choice("FastCompress");
    if (v == "True" || v == "False") {
        render.m_regHalftone.bFastCompress = v == "True";
        render.AddLog("bFastCompress = %d", render.m_regHalftone.bFastCompress ? 1 : 0);
    }
}

} // namespace

void ReadPrinterSettings(CBaseRender& render, ISettingChoices& choices)
{
    tagREGSTRUCT& reg = render.m_reg;
    tagREGSTRUCTWITHALFTONE& ht = render.m_regHalftone;
    std::string v;

    v = choices.Choice("MediaMethod");
    if (!v.empty()) {
        reg.iPrinttype = (v == "Normal" || v == "Direct") ? 0 : 1;
        render.AddLog("iPrinttype = %d", reg.iPrinttype);
    }
    v = choices.Choice("AdjustHoriaontal");
    if (!v.empty()) {
        reg.iReference[0] = Times8(v);
        render.AddLog("iReference[0] = %d", reg.iReference[0]);
    }
    v = choices.Choice("AdjustVertical");
    if (!v.empty()) {
        reg.iReference[1] = Times8(v);
        render.AddLog("iReference[1] = %d", reg.iReference[1]);
    }
    v = choices.Choice("zeMediaTracking");
    if (!v.empty()) {
        static const struct {
            const char* choice;
            int gap[3];
        } kMedia[] = {
            {"Continuous", {0, 0, 0}}, {"A4Stock", {0, 0, 0}},  {"Gap", {1, 3, 0}},
            {"BLine", {2, 0, 0}},      {"Perforated", {3, 0, 0}}, {"Roll", {4, 0, 0}},
            {"Recording", {5, 0, 0}},
        };
        for (const auto& m : kMedia)
            if (v == m.choice) {
                reg.iGap[0] = m.gap[0];
                reg.iGap[1] = m.gap[1];
                reg.iGap[2] = m.gap[2];
                break;
            }
        render.AddLog("Gap = %d, %d, %d", reg.iGap[0], reg.iGap[1], reg.iGap[2]);
    }
    v = choices.Choice("FeedOffset");
    if (!v.empty()) {
        reg.iOffset = std::atoi(v.c_str());
        reg.iFeedAfter = reg.iOffset;
        render.AddLog("iOffset = %d", reg.iOffset);
    }
    v = choices.Choice("Rotate");
    if (!v.empty()) {
        reg.iRotate = std::atoi(v.c_str());
        render.AddLog("iRotate = %d", reg.iRotate);
    }
    v = choices.Choice("Darkness");
    if (v.empty() || v == "Default") {
        reg.iDensity = -1;
    } else {
        reg.iDensity = std::atoi(v.c_str());
        render.AddLog("iDensity = %d", reg.iDensity);
    }
    v = choices.Choice("zePrintRate");
    if (v.empty() || v == "Default") {
        reg.iSpeed = -1;
    } else {
        reg.iSpeed = std::atoi(v.c_str());
        render.AddLog("iSpeed = %d", reg.iSpeed);
    }
    v = choices.Choice("AutoDotted");
    if (!v.empty()) {
        reg.iDottedline = std::atoi(v.c_str()) != 0;
        render.AddLog("iDottedline = %d", reg.iDottedline ? 1 : 0);
    }
    // Brightness is converted even when missing: it then reads 0. The
    // image converters in front of the filter take a job's "Brightness" for
    // their own option, so a PPD may offer it as ImageBrightness instead.
    v = choices.Choice("ImageBrightness");
    if (v.empty())
        v = choices.Choice("Brightness");
    ht.iLiangdu = std::atoi(v.c_str());
    render.AddLog("iLiangdu = %d", ht.iLiangdu);

    SetInt(render, choices, "Contrast", ht.iDuibidu, "iDuibidu = %d");
    SetInt(render, choices, "ImageFilter", ht.iGrayMethod, "iGrayMethod = %d");
    SetInt(render, choices, "Threshold", ht.iThreValue, "iThreValue = %d");
    v = choices.Choice("ImageCompress");
    if (!v.empty()) {
        ht.ImageCompress = std::atoi(v.c_str()) != 0;
        render.AddLog("ImageCompress = %d", ht.ImageCompress ? 1 : 0);
    }
    SetInt(render, choices, "CropEdgeTop", ht.iCropTopEdge, "iCropTopEdge = %d");
    SetInt(render, choices, "CropEdgeBottom", ht.iCropBottomEdge, "iCropBottomEdge = %d");
    SetInt(render, choices, "CropEdgeLeft", ht.iCropLeftEdge, "iCropLeftEdge = %d");
    SetInt(render, choices, "CropEdgeRight", ht.iCropRightEdge, "iCropRightEdge = %d");
    v = choices.Choice("SetcCommands");
    if (v == "True" || v == "False") {
        reg.bSetcCommands = v == "True";
        render.AddLog("bSetcCommands = %d", reg.bSetcCommands ? 1 : 0);
    }

    ReadReceiptSettings(render, choices);
    ReadLeanSettings(render, choices);
}
