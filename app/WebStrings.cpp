#include "WebStrings.h"

#include <cstdio>
#include <cstdlib>
#include <set>

#include "Drivers.h"
#include "JobSettings.h"
#include "PrinterSettings.h"
#include "PrinterStatus.h"

namespace bandrill_app {

const char* const kNoDiscoveryNote =
    "Hostname/IP Address (no network printers listed: avahi-daemon is not running)";

const char* const kDefaultsRefused =
    "Not saved: a value is not one this printer takes (the log names it).";

const char* const kMediaHeadingLabels = "Labels and position";
const char* const kMediaHeadingRoll = "Paper and position";
const char* const kImageHeading = "Image";
const char* const kPrinterHeading = "Printer";
const char* const kDarknessPrinterLabel = "The printer's own setting";
const char* const kSpeedPrinterLabel = "The printer's own speed";

namespace {

// "48.05" for 48.05, "100" for 100.
std::string Number(double mm)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", mm);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

} // namespace

std::string MillimetreSize(const std::string& pwgName)
{
    const size_t dims = pwgName.rfind('_');
    if (pwgName.size() < 3 || pwgName.compare(pwgName.size() - 2, 2, "mm") != 0 ||
        dims == std::string::npos)
        return "";
    const char* p = pwgName.c_str() + dims + 1;
    char* end = nullptr;
    const double w = std::strtod(p, &end);
    if (end == p || *end != 'x')
        return "";
    p = end + 1;
    const double l = std::strtod(p, &end);
    if (end == p || std::string(end) != "mm" || w <= 0 || l <= 0)
        return "";
    return Number(w) + " x " + Number(l) + " mm";
}

std::string WebStrings()
{
    std::string s;
    auto add = [&s](const std::string& key, const std::string& text) {
        s += "\"" + key + "\" = \"" + text + "\";\n";
    };
    std::vector<SettingRow> rows = DocumentSettings();
    rows.insert(rows.end(), PrinterSettings().begin(), PrinterSettings().end());
    for (const SettingRow& row : rows) {
        if (!row.attr)
            continue;
        add(row.attr, row.label);
        for (const SettingChoice& c : row.choices)
            if (c.ipp)
                add(std::string(row.attr) + "." + c.ipp, c.label);
        const std::string standard = row.standard ? row.standard : "";
        if (standard == "media-tracking")
            add(std::string(row.attr) + "." + kFollowMediaTracking, "As media tracking says");
        if (standard == "print-darkness") {
            add(std::string(row.attr) + "." + kDarknessPrinter, "The printer's own setting");
            add(std::string(row.attr) + "." + kDarknessConfigured, "The Print Darkness level");
        }
    }
    // Roll lengths by the roll's width (their names carry the head's
    // printable width).
    std::set<std::string> named;
    for (const Driver& d : Drivers()) {
        if (!d.roll || !d.driver->roll)
            continue;
        const std::string roll = std::string(d.driver->roll).substr(4) + " mm roll, ";
        for (const MediaSize& m : d.media) {
            const std::string size = MillimetreSize(m.pwg);
            const size_t x = size.find(" x ");
            if (x != std::string::npos && named.insert(m.pwg).second)
                add("media." + m.pwg, roll + size.substr(x + 3) + " long");
        }
    }
    add(kStatusQueryAttr, "Ask the printer for its status");
    add(std::string(kStatusQueryAttr) + ".on", "Yes");
    add(std::string(kStatusQueryAttr) + ".off", "No (the printer misbehaves on status queries)");
    return s;
}

} // namespace bandrill_app
