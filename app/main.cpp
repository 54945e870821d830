// bandrill-printer-app: the printer families as IPP Everywhere printers.
// PAPPL's main loop gives the command line (server, add, submit, ...), the
// IPP server and the web interface; the system callback makes the system
// with the drivers, and the drivers print through the render core.
#include <cstdio>
#include <cstring>
#include <libgen.h>
#include <string>

#include <pappl/pappl.h>

#include "AppSystem.h"
#include "AttributeCheck.h"
#include "Capabilities.h"
#include "DeviceSchemes.h"
#include "Drivers.h"
#include "PrinterStatus.h"

namespace {

// Options of the commands that send print options (-o NAME=VALUE) that
// PAPPL's client would drop without a word; false when one is wrong (said
// on stderr). The printer checks the rest itself.
bool CheckOptions(const char* base, int argc, char* argv[])
{
    const char* command = nullptr;
    for (int i = 1; i < argc && !command; ++i) {
        if (argv[i][0] != '-')
            command = argv[i];
        else if (std::strchr("djmnotuv", argv[i][1]) && argv[i][1] && !argv[i][2])
            ++i;
    }
    if (!command || (std::strcmp(command, "modify") && std::strcmp(command, "submit") &&
                     std::strcmp(command, "add")))
        return true;
    bool ok = true;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-o") != 0)
            continue;
        cups_option_t* options = nullptr;
        const int n = cupsParseOptions(argv[++i], 0, &options);
        for (int k = 0; k < n; ++k) {
            const std::string why = bandrill_app::CheckOptionText(options[k].name, options[k].value);
            if (!why.empty()) {
                std::fprintf(stderr, "%s: %s\n", base, why.c_str());
                ok = false;
            }
        }
        cupsFreeOptions(n, options);
    }
    return ok;
}

} // namespace

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
    if (!CheckOptions(app.baseName.c_str(), argc, argv))
        return 1;
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
