// The printer application's drivers: one per driver of the family table
// (one per shipped PPD), with what the IPP side needs of it: the media as
// PWG names with their range, and the settings its PPD offers. Nothing here
// depends on PAPPL, so that the tests can hold the drivers against the
// compiled PPDs.
#pragma once

#include <string>
#include <vector>

#include "PrinterFamilies.h"

namespace bandrill_app {

struct MediaSize {
    std::string pwg; // PWG self-describing name
    bool isDefault;
};

struct Driver {
    const PrinterFamily* family;
    const PrinterDriver* driver;
    const char* name;        // "tspl-203": the PPD base name without "bandrill-"
    const char* description; // make and model
    int model;               // *cupsModelNumber
    int dpi;
    int headDots;            // printable width: the widest page the printer takes
    bool roll;               // receipt or pocket printer: roll range instead of custom sizes
    std::vector<MediaSize> media;
    std::string rangeMin, rangeMax; // roll_min_/custom_min_ and max sizes
    // The settings of documents the application renders (DocumentSettings),
    // as every driver offers them.
    std::vector<OfferedSetting> documents;

    // The setting as the driver's PPD offers it (or, for a document
    // setting, as the driver does), or null.
    const OfferedSetting* Find(const char* keyword) const;
    // Whether the driver lets people choose the setting (its PPD offers
    // more than one choice).
    bool Offers(const SettingRow& row) const;
};

const std::vector<Driver>& Drivers();

// A media name as PWG 5101.1 writes it: no dot in the name part
// ("oe_2-25x1-25-label_2.25x1.25in" for the PPDs' "oe_2.25x1.25-label_2.25x1.25in").
std::string PwgMediaName(const std::string& name);
// The name a driver now lists for a media name it listed before
// (PwgMediaName), or empty when the name is not such an older name.
std::string RenamedMedia(const std::string& name);
const Driver* FindDriver(const char* name);

// Width in hundredths of a millimetre that gives exactly dots at dpi when
// the width is turned into dots by truncation (as raster headers are).
int WidthForDots(int dots, int dpi);

// Darkness and speed levels the driver's printer takes (0: none).
int DarknessLevels(const Driver& driver);
int SpeedMax(const Driver& driver); // inch/s

} // namespace bandrill_app
