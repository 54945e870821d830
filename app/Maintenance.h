// The printer's maintenance page in the web interface (linked from the
// printer's page): feed, sensor calibration and the printer's self-test,
// as its family has them, each sent to the printer when asked, with the
// result shown on the page.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "PrinterFamilies.h"

namespace bandrill_app {

struct MaintenanceAction {
    const char* name;  // the form's value
    std::string label; // the button
    std::string bytes; // what the printer gets
};

// The actions a family's printer takes, the calibration as the printer's
// media tracking says; none for families without any.
std::vector<MaintenanceAction> MaintenanceActions(const PrinterFamily& family, int dpi,
                                                  pappl_media_tracking_t tracking);

// papplSystemSetPrinterDrivers' printer-creation callback: adds the page
// of printers whose family has actions.
void AddMaintenancePage(pappl_printer_t* printer, void* data);

} // namespace bandrill_app
