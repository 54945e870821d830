#include "ServerSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "AppDriver.h"
#include "JobHistory.h"
#include "StateFile.h"

namespace bandrill_app {

namespace {

pappl_loglevel_t LogLevel(const char* value)
{
    const std::string v = value ? value : "";
    return v == "fatal"   ? PAPPL_LOGLEVEL_FATAL
           : v == "error" ? PAPPL_LOGLEVEL_ERROR
           : v == "info"  ? PAPPL_LOGLEVEL_INFO
           : v == "debug" ? PAPPL_LOGLEVEL_DEBUG
                          : PAPPL_LOGLEVEL_WARN;
}

pappl_soptions_t ServerOptions(const char* value)
{
    unsigned soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
    static const struct {
        const char* name;
        unsigned add, remove;
    } kOptions[] = {
        {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST, 0},
        {"no-multi-queue", 0, PAPPL_SOPTIONS_MULTI_QUEUE},
        {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET, 0},
        {"usb-printer", PAPPL_SOPTIONS_USB_PRINTER, 0},
        {"no-web-interface", 0, PAPPL_SOPTIONS_WEB_INTERFACE},
        {"web-log", PAPPL_SOPTIONS_WEB_LOG, 0},
        {"web-network", PAPPL_SOPTIONS_WEB_NETWORK, 0},
        {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE, 0},
        {"web-security", PAPPL_SOPTIONS_WEB_SECURITY, 0},
        {"no-tls", PAPPL_SOPTIONS_NO_TLS, 0},
    };
    for (const char* p = value; p && *p;) {
        const char* comma = std::strchr(p, ',');
        const std::string name = comma ? std::string(p, comma) : std::string(p);
        if (name == "none")
            soptions = PAPPL_SOPTIONS_NONE;
        for (const auto& o : kOptions)
            if (name == o.name)
                soptions = (soptions | o.add) & ~o.remove;
        p = comma ? comma + 1 : nullptr;
    }
    return static_cast<pappl_soptions_t>(soptions);
}

// PAPPL's spool folder: under SNAP_COMMON, /var/spool for root, ~/.config,
// else the temporary folder.
std::string DefaultSpool(const char* name)
{
    if (const char* snap = std::getenv("SNAP_COMMON"))
        return std::string(snap) + "/" + name + ".d";
    if (!getuid() && (access("/var/spool", X_OK) == 0 || mkdir("/var/spool", 0777) == 0))
        return std::string("/var/spool/") + name;
    if (const char* home = std::getenv("HOME")) {
        const std::string config = std::string(home) + "/.config";
        if (access(config.c_str(), X_OK) == 0 || mkdir(config.c_str(), 0777) == 0)
            return config + "/" + name + ".d";
    }
    return std::string(papplGetTempDir()) + "/" + name + std::to_string(getuid()) + ".d";
}

} // namespace

pappl_system_t* CreateServerSystem(int num_options, cups_option_t* options, void* data)
{
    // papplMainloop names the server after the program.
    const char* name = program_invocation_short_name;
    auto option = [&](const char* key) { return cupsGetOption(key, num_options, options); };

    int port = 0;
    if (const char* value = option("server-port")) {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value, &end, 10);
        if (n < 0 || n > 65535 || errno == ERANGE || *end) {
            std::fprintf(stderr, "%s: Bad 'server-port' value.\n", name);
            return nullptr;
        }
        port = static_cast<int>(n);
    }
    const char* spoolOption = option("spool-directory");
    const std::string spool = spoolOption ? spoolOption : DefaultSpool(name);
    pappl_system_t* system = papplSystemCreate(
        ServerOptions(option("server-options")), name, port, "_print,_universal", spool.c_str(),
        option("log-file"), LogLevel(option("log-level")), option("auth-service"), false);
    if (!system)
        return nullptr;
    if (const char* group = option("admin-group"))
        papplSystemSetAdminGroup(system, group);
    if (const char* host = option("server-hostname"))
        papplSystemSetHostName(system, host);
    if (!option("private-server"))
        papplSystemAddListeners(system, option("listen-hostname"));

    // The drivers before the state: loading it makes the printers.
    auto& drivers = *static_cast<std::vector<pappl_pr_driver_t>*>(data);
    papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(), nullptr,
                                 nullptr, DriverCallback, data);
    const std::string state = DefaultStatePath(name);
    LoadState(system, state);
    UseDurableState(system, state);
    BoundJobHistory(system);
    return system;
}

} // namespace bandrill_app
