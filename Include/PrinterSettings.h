// Print settings of a render object from the chosen values of the settings
// keywords. Where the choices come from is the front end's business: the
// queue's PPD with the job's options marked on it, or IPP attributes.
#pragma once

#include <string>

class CBaseRender;

class ISettingChoices {
public:
    virtual ~ISettingChoices() {}
    // The chosen value of keyword, or "" when there is none.
    virtual std::string Choice(const char* keyword) = 0;
};

// Sets the fields of render.m_reg and render.m_regHalftone that the
// keywords carry, in a fixed keyword order, tracing each value set to
// render. A keyword without a choice leaves its field as it was, except
// where noted in the mapping.
void ReadPrinterSettings(CBaseRender& render, ISettingChoices& choices);
