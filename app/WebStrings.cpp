#include "WebStrings.h"

#include "JobSettings.h"
#include "PrinterSettings.h"
#include "PrinterStatus.h"

namespace bandrill_app {

const char* const kNoDiscoveryNote =
    "Hostname/IP Address (no network printers listed: avahi-daemon is not running)";

const char* const kDefaultsRefused =
    "Not saved: a value is not one this printer takes (the log names it).";

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
            add(std::string(row.attr) + "." + kDarknessConfigured, "Print Darkness above");
        }
    }
    add(kStatusQueryAttr, "Ask the printer for its status");
    add(std::string(kStatusQueryAttr) + ".on", "Yes");
    add(std::string(kStatusQueryAttr) + ".off", "No (the printer misbehaves on status queries)");
    return s;
}

} // namespace bandrill_app
