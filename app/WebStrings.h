// The web interface's texts for the vendor attributes: their labels and
// those of their keyword values, from the settings table and the
// documents' settings.
#pragma once

#include <string>

namespace bandrill_app {

// The strings file (en) PAPPL shows the web interface with.
std::string WebStrings();

} // namespace bandrill_app
