// The printer families: which back end prints for which model number, and
// which PPDs and printer-application drivers belong to it. Every front end,
// tool and test that goes by model number reads this table; a new family is
// its back-end class plus one row.
#pragma once

#include <vector>

class CBaseRender;

// The model numbers a PPD carries in *cupsModelNumber.
enum PrinterModel : int {
    kModelTSPL = 20,
    kModelESCPOS = 21,
    kModelCPCL = 22,
    kModelPaperang = 23,
    kModelPeriPage = 24,
};

struct PrinterFamily {
    int model;
    const char* name;                 // the printer language, for people
    std::vector<const char*> drivers; // PPD base names without "bandrill-"
    CBaseRender* (*create)();         // a new back end, one reference held
};

// Every family, in model number order.
const std::vector<PrinterFamily>& PrinterFamilies();

// The family of a model number, or null.
const PrinterFamily* FindPrinterFamily(int model);

// The family of a driver name ("escpos-58"), or null.
const PrinterFamily* FindPrinterFamilyByDriver(const char* driver);
