// Binds a printer back end to CUPS: standard output, the system log, the
// queue's PPD and the once-per-job initialisation.
#pragma once

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <syslog.h>

#include <cups/ppd.h>

#include "CupsLog.h"
#include "CupsOutput.h"

template <class T>
class CCupsRender : public T {
public:
    CCupsRender() {}
    ~CCupsRender() override {}

    void OnBeginBmp() override
    {
        if (this->m_ppd == nullptr || this->m_header == nullptr) {
            AddLog("ppd == NULL || header == NULL");
            return;
        }
        if (!this->m_bInit) {
            this->OnInit();
            this->m_bInit = true;
        }
        this->AdjustImage();
    }

    void WriteSpool(const void* data, int length) override
    {
        if (length > 0)
            CupsWriteOutput(data, length);
    }

    void AddLog(const char* format, ...) override
    {
        va_list args;
        va_start(args, format);
        CupsLogV(LOG_DEBUG, format, args);
        va_end(args);
    }

    // The machine-readable keyword of the marked choice of a PPD main
    // keyword, or "" when there is none.
    std::string GetMarkedOption(const char* keyword)
    {
        ppd_choice_t* choice = ppdFindMarkedChoice(this->m_ppd, keyword);
        if (!choice) {
            AddLog("GetMarkedOption: %s is error", keyword);
            return std::string();
        }
        ppd_option_t* option = choice->option;
        AddLog("%s: marked=%d, choice: %s, text: %s, code: %s, \t\t\tconflicted=%d, keyword: %s, "
               "defchoice: %s, option->text: %s, option->num_choices: %d",
               keyword, choice->marked, choice->choice, choice->text,
               choice->code ? choice->code : "(null)", option ? option->conflicted : 0,
               option ? option->keyword : "", option ? option->defchoice : "",
               option ? option->text : "", option ? option->num_choices : 0);
        return std::string(choice->choice);
    }

    void GetPrinterParameters() override
    {
        AddLog("CCupsRender::GetPrinterParameters");
        tagREGSTRUCT& reg = this->m_reg;
        tagREGSTRUCTWITHALFTONE& ht = this->m_regHalftone;
        std::string v;

        v = GetMarkedOption("MediaMethod");
        if (!v.empty()) {
            reg.iPrinttype = (v == "Normal" || v == "Direct") ? 0 : 1;
            AddLog("iPrinttype = %d", reg.iPrinttype);
        }
        v = GetMarkedOption("AdjustHoriaontal");
        if (!v.empty()) {
            reg.iReference[0] = Times8(v);
            AddLog("iReference[0] = %d", reg.iReference[0]);
        }
        v = GetMarkedOption("AdjustVertical");
        if (!v.empty()) {
            reg.iReference[1] = Times8(v);
            AddLog("iReference[1] = %d", reg.iReference[1]);
        }
        v = GetMarkedOption("zeMediaTracking");
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
            AddLog("Gap = %d, %d, %d", reg.iGap[0], reg.iGap[1], reg.iGap[2]);
        }
        v = GetMarkedOption("FeedOffset");
        if (!v.empty()) {
            reg.iOffset = std::atoi(v.c_str());
            reg.iFeedAfter = reg.iOffset;
            AddLog("iOffset = %d", reg.iOffset);
        }
        v = GetMarkedOption("Rotate");
        if (!v.empty()) {
            reg.iRotate = std::atoi(v.c_str());
            AddLog("iRotate = %d", reg.iRotate);
        }
        v = GetMarkedOption("Darkness");
        if (v.empty() || v == "Default") {
            reg.iDensity = -1;
        } else {
            reg.iDensity = std::atoi(v.c_str());
            AddLog("iDensity = %d", reg.iDensity);
        }
        v = GetMarkedOption("zePrintRate");
        if (v.empty() || v == "Default") {
            reg.iSpeed = -1;
        } else {
            reg.iSpeed = std::atoi(v.c_str());
            AddLog("iSpeed = %d", reg.iSpeed);
        }
        v = GetMarkedOption("AutoDotted");
        if (!v.empty()) {
            reg.iDottedline = std::atoi(v.c_str()) != 0;
            AddLog("iDottedline = %d", reg.iDottedline ? 1 : 0);
        }
        // Brightness is converted even when missing: it then reads 0.
        v = GetMarkedOption("Brightness");
        ht.iLiangdu = std::atoi(v.c_str());
        AddLog("iLiangdu = %d", ht.iLiangdu);

        SetInt("Contrast", ht.iDuibidu, "iDuibidu = %d");
        SetInt("ImageFilter", ht.iGrayMethod, "iGrayMethod = %d");
        SetInt("Threshold", ht.iThreValue, "iThreValue = %d");
        v = GetMarkedOption("ImageCompress");
        if (!v.empty()) {
            ht.ImageCompress = std::atoi(v.c_str()) != 0;
            AddLog("ImageCompress = %d", ht.ImageCompress ? 1 : 0);
        }
        SetInt("CropEdgeTop", ht.iCropTopEdge, "iCropTopEdge = %d");
        SetInt("CropEdgeBottom", ht.iCropBottomEdge, "iCropBottomEdge = %d");
        SetInt("CropEdgeLeft", ht.iCropLeftEdge, "iCropLeftEdge = %d");
        SetInt("CropEdgeRight", ht.iCropRightEdge, "iCropRightEdge = %d");
    }

private:
    // atoi x 8 in unsigned arithmetic, so that absurd PPD values wrap
    // instead of overflowing a signed int.
    static int Times8(const std::string& v)
    {
        return static_cast<int>(static_cast<unsigned>(std::atoi(v.c_str())) * 8u);
    }

    void SetInt(const char* keyword, int& field, const char* trace)
    {
        const std::string v = GetMarkedOption(keyword);
        if (v.empty())
            return;
        field = std::atoi(v.c_str());
        AddLog(trace, field);
    }
};
