// Driver suggestions for printers the PPDs do not name. cups-driverd
// suggests a PPD for a device ID only when the PPD's own device ID lists
// the printer's maker and model; a printer missing from those lists gets
// nothing, even when its device ID says which printer language it takes
// (CMD:TSPL, CMD:ESC/POS, CMD:CPCL). The CUPS driver program (cups/driver)
// lists, for such a request, the drivers of the family whose language the
// command set names, under a device ID made of the printer's own maker and
// model: cups-driverd then counts two matching keys for them, one fewer
// than for a PPD listing the printer with its command set, so they come
// after the exact matches.
#pragma once

#include <string>
#include <vector>

struct DeviceIdField {
    std::string key;    // as the printer spells it: "MFG", "MANUFACTURER", ...
    std::string value;
};

struct DeviceIdFields {
    DeviceIdField make;     // MFG, MFR or MANUFACTURER
    DeviceIdField model;    // MDL or MODEL
    std::string commands;   // CMD or COMMAND SET: the printer languages
};

// The fields of an IEEE 1284 device ID ("KEY:value;..."), keys matched
// without regard to case; missing fields are empty.
DeviceIdFields ParseDeviceId(const std::string& deviceId);

// The lines a CUPS driver program writes for "list": one per driver of
// each family whose language the device ID's command set names (the first
// family listing a language owns it), in the family table's order. None
// when the device ID lacks a maker, a model or such a language.
std::vector<std::string> CommandSetListing(const std::string& deviceId, const char* scheme);

// The device ID a CUPS-Get-PPDs request asks about, from cups-driverd's
// command line ("cups-driverd", "list", request id, limit, options); ""
// for any other command line or a request without one.
std::string RequestedDeviceId(const std::vector<std::string>& driverdArgs);
