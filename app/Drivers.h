// The printer application's drivers: one per shipped PPD, with what the
// PPD says (resolution, media, the settings keywords it carries and their
// defaults) in the terms the IPP side needs. Nothing here depends on PAPPL,
// so that the tests can hold the table against the compiled PPDs.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace bandrill_app {

// A settings keyword offered as a vendor attribute ("bandrill-...").
struct VendorOption {
    const char* keyword; // the PPD keyword it answers
    const char* attr;    // IPP attribute name
    const char* label;   // for people (web interface)
    enum Kind { kKeyword, kInteger, kBoolean } kind;
    // kKeyword: IPP keyword -> PPD choice, with a label for each.
    struct Value {
        const char* ipp;
        const char* choice;
        const char* label;
    };
    std::vector<Value> values;
    int min = 0, max = 0; // kInteger: the range offered
};

// Every vendor option, in the order the web interface shows them.
const std::vector<VendorOption>& VendorOptions();
const VendorOption* FindVendorOption(const char* attr);
const VendorOption* FindVendorOptionByKeyword(const char* keyword);

// The PPD choice an IPP value of the option stands for; "" when the value
// is not one the option takes.
std::string ChoiceForValue(const VendorOption& option, const std::string& value);
// The IPP value of a PPD choice ("" when none).
std::string ValueForChoice(const VendorOption& option, const std::string& choice);

struct MediaSize {
    const char* pwg; // PWG self-describing name
    bool isDefault;
};

struct Driver {
    const char* name;        // "tspl-203": the PPD base name without "bandrill-"
    const char* description; // make and model
    int model;               // *cupsModelNumber
    int dpi;
    int headDots;            // printable width: the widest page the printer takes
    bool roll;               // receipt or pocket printer: roll range instead of custom sizes
    std::vector<MediaSize> media;
    std::string rangeMin, rangeMax; // roll_min_/custom_min_ and max sizes
    // The settings keywords the driver's PPD carries, each with the PPD's
    // default choice and the choices it offers (in PPD order).
    struct Setting {
        const char* keyword;
        const char* defaultChoice;
        std::vector<std::string> choices;
    };
    std::vector<Setting> settings;

    const Setting* Find(const char* keyword) const;
    // The choices the driver offers for the option as IPP values (only
    // those the PPD has), or for kInteger the range inside [min, max].
    bool Offers(const VendorOption& option) const;
};

const std::vector<Driver>& Drivers();
const Driver* FindDriver(const char* name);

// Width in hundredths of a millimetre that gives exactly dots at dpi when
// the width is turned into dots by truncation (as raster headers are).
int WidthForDots(int dots, int dpi);

// Darkness and speed levels the driver's printer takes (0: none).
int DarknessLevels(const Driver& driver);
int SpeedMax(const Driver& driver); // inch/s

} // namespace bandrill_app
