// bandrill-printer-app: the printer families as IPP Everywhere printers.
// PAPPL's main loop gives the command line (server, add, submit, ...), the
// IPP server and the web interface; the system callback makes the system
// with the drivers, and the drivers print through the render core.
#include <libgen.h>
#include <string>

#include <pappl/pappl.h>

#include "AppSystem.h"
#include "Capabilities.h"
#include "DeviceSchemes.h"
#include "Drivers.h"
#include "PrinterStatus.h"

int main(int argc, char* argv[])
{
    if (const int status = bandrill_app::CheckAddCommand(argc, argv))
        return status;
    // Before the main loop: the client commands list devices too.
    bandrill_app::AddDeviceSchemes();
    bandrill_app::AddDeadlineReaders();

    // PAPPL names its files (state, spool, socket) after the program.
    bandrill_app::AppContext app;
    std::string path = argc > 0 && argv[0] ? argv[0] : "bandrill-printer-app";
    app.baseName = basename(&path[0]);
    for (const bandrill_app::Driver& d : bandrill_app::Drivers())
        app.deviceIds.push_back(DeviceId(*d.family, *d.driver));
    for (size_t i = 0; i < bandrill_app::Drivers().size(); ++i) {
        const bandrill_app::Driver& d = bandrill_app::Drivers()[i];
        app.drivers.push_back({d.name, d.description, app.deviceIds[i].c_str(), nullptr});
    }

    // PAPPL 1.3.1 crashes rendering a page footer it has no text for.
    return papplMainloop(argc, argv, BANDRILL_VERSION, "bandrill printer application",
                         static_cast<int>(app.drivers.size()), app.drivers.data(),
                         bandrill_app::AutoAddDriver, bandrill_app::DriverCallback, nullptr,
                         nullptr, bandrill_app::CreateSystem, nullptr, &app);
}
