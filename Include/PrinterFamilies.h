// The printer families: one row per printer language, which owns all that
// belongs to it: the model number its PPDs carry, its names, the raw
// document format of the language, the IEEE 1284 device IDs of the
// printers it suits, its drivers (one per PPD: resolution, head width,
// media) with the settings their PPDs offer, and the back end that prints
// it. Every front end, tool and test that goes by family reads this table;
// a new family is its back-end class, one row here, its PPDs in
// ppd/bandrill.drv and its tests.
#pragma once

#include <string>
#include <vector>

#include "PrinterSettings.h"
#include "StatusQuery.h"

class CBaseRender;

// How a family's printers can show where they are (Identify-Printer).
enum IdentifyKind : int {
    kNoIdentify,
    kIdentifySound, // a beep (TSPL SOUND)
    kIdentifyFeed,  // a short paper feed
};

// The model numbers a PPD carries in *cupsModelNumber.
enum PrinterModel : int {
    kModelTSPL = 20,
    kModelESCPOS = 21,
    kModelCPCL = 22,
    kModelPaperang = 23,
    kModelPeriPage = 24,
};

// A setting as a family's PPDs offer it: the row, the default choice and
// the choices (PPD choice keywords, in PPD order).
struct OfferedSetting {
    const SettingRow* row;
    std::string defaultChoice;
    std::vector<std::string> choices;

    bool Offers(const std::string& ppdChoice) const;
    // The values the choices span (those that are numbers, as the row
    // stores them), within the row's range; false when no choice is a number.
    bool Range(int& lo, int& hi) const;
};

// One driver: one PPD and one printer-application driver.
struct PrinterDriver {
    const char* name;       // "tspl-203": the PPD's base name without "bandrill-"
    const char* modelName;  // *ModelName: the make and model people see
    int dpi;
    int headDots;           // printable width: the widest page the printer takes
    // IEEE 1284 device ID lists: the makers and models the driver suits.
    const char* mfg;
    const char* mdl;
    // Media, as PWG names. Roll printers name their roll ("roll58"): their
    // sizes are the head's width in six lengths. Label printers list their
    // label sizes in PPD order, the default and the custom size range.
    const char* roll;
    std::vector<const char*> labels;
    const char* defaultLabel;
    const char* customMin;
    const char* customMax;
};

// How the family's printers take data over a link slower than the
// printer's own (Bluetooth or serial): chunks with a pause after each, and
// what the printer still holds once the link has handed everything over,
// so that the link waits for the last lines to print before it closes.
// All zero: as fast as the link takes it, no wait.
struct LinkPacing {
    int chunk = 0;       // bytes per write; 0: as they come
    int pauseMs = 0;     // after each chunk
    int bufferBytes = 0; // what the printer holds once the link has drained
    int drainRate = 0;   // bytes a second it prints that off
    int maxDrainMs = 0;  // the longest end-of-job wait
};

struct PrinterFamily {
    int model;
    const char* name;        // the printer language, for people
    const char* language;    // its keyword: bandrill-decode --lang, tests, scripts
    const char* rawFormat;   // the MIME type of the language sent to the printer as it is
    const char* commandSet;  // the IEEE 1284 CMD: list the printers report
    std::vector<PrinterDriver> drivers;
    // The settings the family's PPDs offer, in PPD order.
    std::vector<OfferedSetting> settings;
    CBaseRender* (*create)();  // a new back end, one reference held
    LinkPacing pacing;         // over Bluetooth and serial links
    // Rows grow at the end (the printer's status query, the identify
    // action), with defaults that keep the rows above as they are.
    StatusQueryKind statusQuery = kNoStatusQuery; // the printer's own status query
    IdentifyKind identify = kNoIdentify;

    const OfferedSetting* Offer(const char* keyword) const;
    const PrinterDriver* Driver(const char* driverName) const;
};

// Every family, in model number order.
const std::vector<PrinterFamily>& PrinterFamilies();

// The family of a model number, or null.
const PrinterFamily* FindPrinterFamily(int model);

// The family of a driver name ("escpos-58"), or null.
const PrinterFamily* FindPrinterFamilyByDriver(const char* driver);

// The family of a language keyword ("escpos"), or null.
const PrinterFamily* FindPrinterFamilyByLanguage(const char* language);

// The driver of that name and its family, or null.
const PrinterDriver* FindPrinterDriver(const char* name, const PrinterFamily** family = nullptr);

// The driver's IEEE 1284 device ID, as its PPD's *1284DeviceID carries it:
// "MFG:...;MDL:...;CMD:...;".
std::string DeviceId(const PrinterFamily& family, const PrinterDriver& driver);
