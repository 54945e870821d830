#include "PrinterFamilies.h"

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

} // namespace

const std::vector<PrinterFamily>& PrinterFamilies()
{
    static const std::vector<PrinterFamily> kFamilies = {
        {kModelTSPL, "TSPL", {"tspl-203", "tspl-300"}, &Create<CPrinterTSPL>},
        {kModelESCPOS, "ESC/POS", {"escpos-58", "escpos-80"}, &Create<CPrinterESCPOS>},
        {kModelCPCL, "CPCL", {"cpcl"}, &Create<CPrinterCPCL>},
        {kModelPaperang, "Paperang", {"paperang"}, &Create<CPrinterPaperang>},
        {kModelPeriPage, "PeriPage", {"peripage-384", "peripage-576"}, &Create<CPrinterPeriPage>},
    };
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
    if (!driver)
        return nullptr;
    for (const PrinterFamily& f : PrinterFamilies())
        for (const char* d : f.drivers)
            if (std::strcmp(d, driver) == 0)
                return &f;
    return nullptr;
}
