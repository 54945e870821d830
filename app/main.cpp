// bandrill-printer-app: the printer families as IPP Everywhere printers.
// PAPPL's main loop gives the command line (server, add, submit, ...), the
// IPP server and the web interface; the drivers print through the render
// core.
#include <vector>

#include <pappl/pappl.h>

#include "AppDriver.h"
#include "BluetoothDevice.h"
#include "Drivers.h"
#include "ServerSystem.h"

int main(int argc, char* argv[])
{
    AddBluetoothScheme();

    std::vector<pappl_pr_driver_t> drivers;
    for (const bandrill_app::Driver& d : bandrill_app::Drivers())
        drivers.push_back({d.name, d.description, nullptr, nullptr});

    // PAPPL 1.3.1 crashes rendering a page footer it has no text for.
    return papplMainloop(argc, argv, "0.1.0", "bandrill printer application", static_cast<int>(drivers.size()),
                         drivers.data(), nullptr, bandrill_app::DriverCallback, nullptr, nullptr,
                         bandrill_app::CreateServerSystem, nullptr, &drivers);
}
