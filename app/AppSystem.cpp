#include "AppSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "Capabilities.h"
#include "DeviceSchemes.h"
#include "DocumentFilter.h"
#include "IppEverywhere.h"
#include "JobHistory.h"
#include "Maintenance.h"
#include "StateFile.h"
#include "WebStrings.h"

namespace bandrill_app {

namespace {

// Where PAPPL keeps a root server's state and spool (its PAPPL_STATEDIR).
const char* const kStateDir = "/var";

// The most an image document may take decoded (width x height x 1 or 3).
const size_t kMaxImagePixelBytes = 256u << 20;

const char* Option(const char* name, int num_options, cups_option_t* options)
{
    return cupsGetOption(name, num_options, options);
}

pappl_loglevel_t LogLevel(const char* value)
{
    const std::string v = value ? value : "";
    return v == "fatal"   ? PAPPL_LOGLEVEL_FATAL
           : v == "error" ? PAPPL_LOGLEVEL_ERROR
           : v == "info"  ? PAPPL_LOGLEVEL_INFO
           : v == "debug" ? PAPPL_LOGLEVEL_DEBUG
                          : PAPPL_LOGLEVEL_WARN;
}

// -o server-options=a,b,...: PAPPL's set, over multi-queue and the web
// interface.
pappl_soptions_t ServerOptions(const char* value)
{
    pappl_soptions_t soptions =
        static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE);
    static const struct {
        const char* name;
        pappl_soptions_t add;
        pappl_soptions_t remove;
    } kOptions[] = {
        {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST, PAPPL_SOPTIONS_NONE},
        {"no-multi-queue", PAPPL_SOPTIONS_NONE, PAPPL_SOPTIONS_MULTI_QUEUE},
        {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET, PAPPL_SOPTIONS_NONE},
        {"usb-printer", PAPPL_SOPTIONS_USB_PRINTER, PAPPL_SOPTIONS_NONE},
        {"no-web-interface", PAPPL_SOPTIONS_NONE, PAPPL_SOPTIONS_WEB_INTERFACE},
        {"web-log", PAPPL_SOPTIONS_WEB_LOG, PAPPL_SOPTIONS_NONE},
        {"web-network", PAPPL_SOPTIONS_WEB_NETWORK, PAPPL_SOPTIONS_NONE},
        {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE, PAPPL_SOPTIONS_NONE},
        {"web-security", PAPPL_SOPTIONS_WEB_SECURITY, PAPPL_SOPTIONS_NONE},
        {"no-tls", PAPPL_SOPTIONS_NO_TLS, PAPPL_SOPTIONS_NONE},
    };
    for (const char* p = value; p && *p;) {
        const char* comma = std::strchr(p, ',');
        const std::string name = comma ? std::string(p, comma) : std::string(p);
        if (name == "none")
            soptions = PAPPL_SOPTIONS_NONE;
        for (const auto& o : kOptions)
            if (name == o.name)
                soptions = static_cast<pappl_soptions_t>((soptions | o.add) & ~o.remove);
        p = comma ? comma + 1 : nullptr;
    }
    return soptions;
}

bool MakeDir(const std::string& dir)
{
    return access(dir.c_str(), X_OK) == 0 || errno != ENOENT || mkdir(dir.c_str(), 0777) == 0;
}

// A place of PAPPL's for name + suffix: under SNAP_COMMON when set (tests
// keep each server apart so), the system's directory for root, the
// user's ~/.config, else the temporary directory.
std::string DefaultPath(const std::string& base, const char* rootDir, const char* suffix,
                        bool snapNeedsDir)
{
    const char* snap = getenv("SNAP_COMMON");
    const char* home = getenv("HOME");
    const char* xdg = getenv("XDG_CONFIG_HOME");
    std::string path;
    if (snap) {
        if (!snapNeedsDir || access(snap, X_OK) == 0)
            path = std::string(snap) + "/" + base + suffix;
    } else if (getuid() == 0) {
        const std::string dir = std::string(kStateDir) + "/" + rootDir;
        if (MakeDir(dir))
            path = dir + "/" + base + (std::strcmp(rootDir, "lib") == 0 ? suffix : "");
    } else if (xdg && std::strcmp(suffix, ".state") == 0) {
        if (access(xdg, X_OK) == 0)
            path = std::string(xdg) + "/" + base + suffix;
    } else if (home) {
        if (MakeDir(std::string(home) + "/.config"))
            path = std::string(home) + "/.config/" + base + suffix;
    }
    if (path.empty())
        path = std::string(papplGetTempDir()) + "/" + base + std::to_string(getuid()) + suffix;
    return path;
}

} // namespace

pappl_system_t* CreateSystem(int num_options, cups_option_t* options, void* data)
{
    AppContext& app = *static_cast<AppContext*>(data);
    const char* base = app.baseName.c_str();

    int port = 0;
    if (const char* value = Option("server-port", num_options, options)) {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value, &end, 10);
        if (n < 0 || n > 65535 || errno == ERANGE || *end) {
            std::fprintf(stderr, "%s: Bad 'server-port' value.\n", base);
            return nullptr;
        }
        port = static_cast<int>(n);
    }
    std::string spool;
    if (const char* dir = Option("spool-directory", num_options, options))
        spool = dir;
    else
        spool = DefaultPath(app.baseName, "spool", ".d", false);
    // file:// devices write into its "output" folder by default.
    SetSpoolDirectory(spool);

    pappl_system_t* system = papplSystemCreate(
        ServerOptions(Option("server-options", num_options, options)), base, port,
        "_print,_universal", spool.c_str(), Option("log-file", num_options, options),
        LogLevel(Option("log-level", num_options, options)),
        Option("auth-service", num_options, options), false);
    if (!system)
        return nullptr;
    if (const char* group = Option("admin-group", num_options, options))
        papplSystemSetAdminGroup(system, group);
    if (const char* host = Option("server-hostname", num_options, options))
        papplSystemSetHostName(system, host);
    if (!Option("private-server", num_options, options))
        papplSystemAddListeners(system, Option("listen-hostname", num_options, options));

    // What is the application's for the whole system.
    papplSystemSetPrinterDrivers(system, static_cast<int>(app.drivers.size()), app.drivers.data(),
                                 AutoAddDriver, AddMaintenancePage, DriverCallback, data);
    static const std::string strings = WebStrings();
    papplSystemAddStringsData(system, "/en.strings", "en", strings.c_str());
    AddDocumentFilters(system);

    // The saved printers and settings, with the drivers above; saved whole
    // (StateFile.h) from now on, and the job history kept short.
    const std::string state = DefaultPath(app.baseName, "lib", ".state", true);
    LoadState(system, state);
    RenameOldMedia(system);
    // The image limits, well below PAPPL's 1 GiB (a saved state brings
    // that back): the sides are what PrintImage refuses beyond; it reads a
    // larger image at a fraction of its size (GreyImage.h).
    papplSystemSetMaxImageSize(system, kMaxImagePixelBytes, 0, 0);
    UseDurableState(system, state);
    BoundJobHistory(system);
    return system;
}

} // namespace bandrill_app
