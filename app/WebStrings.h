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

} // namespace bandrill_app
