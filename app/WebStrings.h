// The web interface's texts for the vendor attributes: their labels and
// those of their keyword values, from the settings table and the
// documents' settings.
#pragma once

#include <string>

namespace bandrill_app {

// The strings file (en) PAPPL shows the web interface with.
std::string WebStrings();

// The label of "Add Printer"'s address field when the device list could
// not look for network printers (no avahi-daemon).
extern const char* const kNoDiscoveryNote;
// PAPPL's "Bad printer defaults." (its own strings come before ours).
extern const char* const kDefaultsRefused;

// Printing Defaults: the headings of its groups, the darkness control's
// choice of the printer's own darkness, the speed's of its own speed.
extern const char* const kMediaHeadingLabels;
extern const char* const kMediaHeadingRoll;
extern const char* const kImageHeading;
extern const char* const kPrinterHeading;
extern const char* const kDarknessPrinterLabel;
extern const char* const kSpeedPrinterLabel;

// "48.05 x 100 mm" for a PWG size name in millimetres ("om_x_48.05x100mm",
// "custom_48.05x123.5mm"); empty for one in inches or no size.
std::string MillimetreSize(const std::string& pwgName);

} // namespace bandrill_app
