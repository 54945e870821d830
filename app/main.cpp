// bandrill-printer-app: the printer families as IPP Everywhere printers.
// PAPPL's main loop gives the command line (server, add, submit, ...), the
// IPP server and the web interface; the drivers print through the render
// core.
#include <vector>

#include <pappl/pappl.h>

#include "AppDriver.h"
#include "DeviceSchemes.h"
#include "Drivers.h"

int main(int argc, char* argv[])
{
    if (const int status = bandrill_app::CheckAddCommand(argc, argv))
        return status;
    bandrill_app::AddDeviceSchemes();

    std::vector<pappl_pr_driver_t> drivers;
    for (const bandrill_app::Driver& d : bandrill_app::Drivers())
        drivers.push_back({d.name, d.description, nullptr, nullptr});

    // PAPPL 1.3.1 crashes rendering a page footer it has no text for.
    return papplMainloop(argc, argv, "0.1.0", "bandrill printer application", static_cast<int>(drivers.size()),
                         drivers.data(), bandrill_app::AutoAddDriver, bandrill_app::DriverCallback,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
}
