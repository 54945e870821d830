// The application's pictures for the web interface (app/icons, drawn by
// app/icons/draw.py and embedded by the build): a printer icon for each
// kind of printer in PAPPL's three sizes, and the header's mark.
#pragma once

#include <cstddef>
#include <string>

#include <pappl/pappl.h>

#include "Drivers.h"

namespace bandrill_app {

struct IconData {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// The PNG of that name ("label-sm", "navicon"), or none.
IconData FindIcon(const std::string& name);

// "label", "receipt" or "pocket": what the driver's printers look like.
const char* IconKind(const Driver& driver);

// The driver's printer icons (small, medium, large) into PAPPL's driver data.
void SetPrinterIcons(const Driver& driver, pappl_pr_driver_data_t* data);

} // namespace bandrill_app
