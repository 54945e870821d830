#include "DeviceSchemes.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "BluetoothDevice.h"
#include "BluezList.h"
#include "DeviceNames.h"
#include "DeviceUri.h"
#include "Drivers.h"
#include "FileDevice.h"
#include "Pacing.h"
#include "SerialDevice.h"
#include "SocketDevice.h"

// PAPPL adds its built-in schemes only while no scheme is registered at
// all; these (exported, private) functions add them afterwards, skipping
// the names already taken.
extern "C" void _papplDeviceAddNetworkSchemes(void);
extern "C" void _papplDeviceAddUSBScheme(void);

namespace bandrill_app {

// The patched PAPPL's setter of printer-state-message (scripts/pappl);
// PAPPL 1.3.1 itself has only its fixed "Idle."/"Printing."/"Stopped.".
extern "C" void papplPrinterSetStateMessage(pappl_printer_t* printer, const char* message)
    __attribute__((weak));

namespace {

// Why the printer cannot be reached, in its printer-state-message and on
// its web page; null when it can again.
void SetPrinterMessage(pappl_printer_t* printer, const char* why)
{
    if (papplPrinterSetStateMessage)
        papplPrinterSetStateMessage(printer, why);
}

// How often a job whose printer cannot be reached tries again.
const int kRetrySeconds = 5;

// A device PAPPL opened with one of the application's schemes.
struct CDeviceContext final : ILinkJob {
    pappl_device_t* device = nullptr;
    std::unique_ptr<CLink> link;
    pappl_job_t* job = nullptr;
    bool reported = false;

    bool StopRequested() override
    {
        // Only lock-free reads: PAPPL flushes a device while it holds the
        // printer's lock.
        if (!job)
            return false;
        pappl_printer_t* printer = papplJobGetPrinter(job);
        return papplJobIsCanceled(job) || papplSystemIsShutdown(papplPrinterGetSystem(printer));
    }
};

std::mutex g_lock;
std::set<pappl_device_t*> g_devices; // those of the application's schemes
std::string g_spool;

// The default folder of file:// devices: "output" in the spool, once the
// system callback has chosen the spool.
std::string OutputDir()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_spool.empty() ? std::string() : g_spool + "/output";
}

std::vector<std::string> AllowedDirs()
{
    const char* list = getenv("BANDRILL_FILE_DEVICE_DIRS");
    const std::string output = OutputDir();
    // The default folder is made when first needed (the spool exists by
    // then: PAPPL makes it when the server starts).
    if (!list && !output.empty())
        mkdir(output.c_str(), 0755);
    return FileDeviceDirs(list, output);
}

CDeviceContext* Context(pappl_device_t* device)
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!device || !g_devices.count(device))
            return nullptr;
    }
    return static_cast<CDeviceContext*>(papplDeviceGetData(device));
}

void LogNotes(CDeviceContext* ctx)
{
    const std::string notes = ctx->link->TakeNotes();
    if (notes.empty())
        return;
    if (ctx->job)
        papplLogJob(ctx->job, PAPPL_LOGLEVEL_INFO, "%s", notes.c_str());
}

// The link's failure, once, where the user sees it.
void Report(CDeviceContext* ctx)
{
    LogNotes(ctx);
    if (ctx->reported || ctx->link->Failed() == CLink::kNone)
        return;
    ctx->reported = true;
    const std::string& text = ctx->link->Error();
    if (!ctx->job) {
        papplDeviceError(ctx->device, "%s", text.c_str());
        return;
    }
    const bool stopped = ctx->link->Failed() == CLink::kStopped;
    papplLogJob(ctx->job, stopped ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
    papplJobSetMessage(ctx->job, "%s", text.c_str());
    if (!stopped) {
        papplJobSetReasons(ctx->job, PAPPL_JREASON_ERRORS_DETECTED, PAPPL_JREASON_NONE);
        SetPrinterMessage(papplJobGetPrinter(ctx->job), text.c_str());
    }
}

bool Open(pappl_device_t* device, std::unique_ptr<CLink> link)
{
    auto* ctx = new CDeviceContext;
    ctx->device = device;
    ctx->link = std::move(link);
    papplDeviceSetData(device, ctx);
    std::lock_guard<std::mutex> lock(g_lock);
    g_devices.insert(device);
    return true;
}

// The links connect when a job begins (or at the first write), not here:
// PAPPL opens a device to ask it for status or an ID too, and a printer
// that cannot be reached is waited for by the job, with the reason shown.
bool OpenFile(pappl_device_t* device, const char* uri, const char*)
{
    return Open(device, std::make_unique<CFileLink>(uri, AllowedDirs()));
}

bool OpenSocket(pappl_device_t* device, const char* uri, const char*)
{
    return Open(device, std::make_unique<CSocketLink>(uri));
}

bool OpenBluetooth(pappl_device_t* device, const char* uri, const char*)
{
    return Open(device, std::make_unique<CBluetoothLink>(uri));
}

bool OpenSerial(pappl_device_t* device, const char* uri, const char*)
{
    return Open(device, std::make_unique<CSerialLink>(uri));
}

void Close(pappl_device_t* device)
{
    CDeviceContext* ctx = Context(device);
    if (!ctx)
        return;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_devices.erase(device);
    }
    papplDeviceSetData(device, nullptr);
    delete ctx;
}

ssize_t Read(pappl_device_t* device, void* buffer, size_t bytes)
{
    CDeviceContext* ctx = Context(device);
    return ctx ? ctx->link->Read(buffer, bytes, 5000) : -1;
}

ssize_t Write(pappl_device_t* device, const void* buffer, size_t bytes)
{
    CDeviceContext* ctx = Context(device);
    if (!ctx)
        return -1;
    const ssize_t n = ctx->link->Write(buffer, bytes);
    if (n < 0)
        Report(ctx);
    return n;
}

pappl_preason_t Status(pappl_device_t*)
{
    return PAPPL_PREASON_NONE;
}

// Paired and nearby Bluetooth printers, from BlueZ. A machine without
// BlueZ lists none and says nothing.
bool ListBluetooth(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t err_cb, void* err_data)
{
    std::vector<BluezAdapter> adapters;
    std::vector<BluezDevice> devices;
    std::string error;
    if (!ReadBluez(adapters, devices, error))
        return false;
    for (const BluetoothPrinter& p : BluetoothPrinters(devices))
        if (cb(p.info.c_str(), p.uri.c_str(), p.deviceId.c_str(), data))
            return true;
    return false;
}

} // namespace

void AddDeviceSchemes()
{
    papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, OpenFile, Close, Read, Write, Status,
                         nullptr);
    papplDeviceAddScheme("socket", PAPPL_DEVTYPE_SOCKET, nullptr, OpenSocket, Close, Read, Write,
                         Status, nullptr);
    papplDeviceAddScheme("bt", PAPPL_DEVTYPE_CUSTOM_LOCAL, ListBluetooth, OpenBluetooth, Close, Read,
                         Write, Status, nullptr);
    papplDeviceAddScheme("serial", PAPPL_DEVTYPE_CUSTOM_LOCAL, nullptr, OpenSerial, Close, Read,
                         Write, Status, nullptr);
    _papplDeviceAddNetworkSchemes();
    _papplDeviceAddUSBScheme();
}

void SetSpoolDirectory(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_spool = dir;
}

bool CheckNewDeviceUri(const char* uri, std::string& error)
{
    const std::string text = uri ? uri : "";
    const std::string scheme = UriScheme(text);
    if (scheme == "file") {
        FileDevice device;
        return CheckFileDevice(text, AllowedDirs(), device, error);
    }
    if (!CheckDeviceUriSyntax(text, error))
        return false;
    if (scheme == "serial") {
        // A port that is not plugged in may be added; one that is there
        // must be a device.
        SerialUri s;
        ParseSerialUri(text, s, error);
        char resolved[PATH_MAX];
        struct stat info;
        if (realpath(s.path.c_str(), resolved) &&
            (std::strncmp(resolved, "/dev/", 5) != 0 || stat(resolved, &info) != 0 ||
             !S_ISCHR(info.st_mode))) {
            error = s.path + " is not a terminal device: serial: takes a serial port.";
            return false;
        }
        error.clear();
    }
    return true;
}

int CheckAddCommand(int argc, char* argv[])
{
    bool add = false;
    const char* uri = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "add") == 0)
            add = true;
        else if (std::strcmp(argv[i], "-v") == 0 && i + 1 < argc)
            uri = argv[++i];
        else if (argv[i][0] == '-' && std::strchr("dhjmnotu", argv[i][1]) && argv[i][1] &&
                 !argv[i][2])
            ++i; // an option's value
    }
    std::string error;
    if (!add || !uri || CheckDeviceUriSyntax(uri, error))
        return 0;
    std::fprintf(stderr, "%s: Bad device URI '%s': %s\n", program_invocation_short_name, uri,
                 error.c_str());
    return 1;
}

bool DeviceStartJob(pappl_job_t* job, pappl_device_t* device, int model)
{
    CDeviceContext* ctx = Context(device);
    if (!ctx)
        return true; // one of PAPPL's own schemes
    CLink& link = *ctx->link;
    ctx->job = job;
    ctx->reported = false;
    link.SetJob(ctx);
    link.BeginJob(papplJobGetID(job), papplJobGetName(job) ? papplJobGetName(job) : "");
    link.SetPacing(WithOverrides(PacingForModel(model), link.Options()));
    pappl_printer_t* printer = papplJobGetPrinter(job);
    std::string waitingFor;
    while (!link.Connect()) {
        LogNotes(ctx);
        if (link.Failed() == CLink::kRefused || ctx->StopRequested() ||
            papplPrinterIsDeleted(printer)) {
            if (link.Failed() == CLink::kRefused) {
                papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", link.Error().c_str());
                papplJobSetMessage(job, "%s", link.Error().c_str());
                papplJobSetReasons(job, PAPPL_JREASON_ERRORS_DETECTED, PAPPL_JREASON_NONE);
                // Stays until a job reaches the printer again.
                SetPrinterMessage(printer, link.Error().c_str());
            } else {
                SetPrinterMessage(printer, nullptr);
            }
            papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
            ctx->job = nullptr;
            link.SetJob(nullptr);
            return false;
        }
        if (link.Error() != waitingFor) {
            waitingFor = link.Error();
            papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s Trying again every %d s.", waitingFor.c_str(),
                        kRetrySeconds);
            papplJobSetMessage(job, "Waiting for the printer: %s", waitingFor.c_str());
            papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
            SetPrinterMessage(printer, waitingFor.c_str());
        }
        for (int i = 0; i < kRetrySeconds * 10 && !ctx->StopRequested() &&
                        !papplPrinterIsDeleted(printer);
             ++i)
            usleep(100000);
    }
    LogNotes(ctx);
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    SetPrinterMessage(printer, nullptr);
    if (!waitingFor.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Connected to %s.", link.Describe().c_str());
        papplJobSetMessage(job, "Printing.");
    }
    return true;
}

bool DeviceEndPage(pappl_job_t*, pappl_device_t* device)
{
    CDeviceContext* ctx = Context(device);
    if (!ctx)
        return true;
    papplDeviceFlush(device);
    // A page counts as printed once the printer has taken all of it.
    if (ctx->link->Failed() == CLink::kNone && !ctx->link->WaitSent())
        Report(ctx);
    return ctx->link->Failed() == CLink::kNone;
}

bool DeviceEndJob(pappl_job_t* job, pappl_device_t* device)
{
    CDeviceContext* ctx = Context(device);
    if (!ctx)
        return true;
    papplDeviceFlush(device);
    bool ok = ctx->link->Failed() == CLink::kNone;
    if (ok) {
        ok = ctx->link->Drain();
        if (ok)
            papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s took all %lld bytes of the job.",
                        ctx->link->Describe().c_str(), ctx->link->BytesSent());
        else
            Report(ctx);
    }
    ctx->job = nullptr;
    ctx->link->SetJob(nullptr);
    return ok;
}

ssize_t DeviceReadWithin(pappl_device_t* device, void* buffer, size_t bytes, int timeoutMs)
{
    CDeviceContext* ctx = Context(device);
    return ctx ? ctx->link->Read(buffer, bytes, timeoutMs) : -1;
}

bool DeviceFailureReported(pappl_device_t* device, int& error)
{
    CDeviceContext* ctx = Context(device);
    if (!ctx || !ctx->reported)
        return false;
    error = ctx->link->ErrorNumber();
    return true;
}

namespace {

// A key's value in an IEEE 1284 device ID ("MFG:x;MDL:y;").
std::string DeviceIdValue(const std::string& id, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        size_t at = id.find(key);
        while (at != std::string::npos && at > 0 && id[at - 1] != ';' && id[at - 1] != ' ')
            at = id.find(key, at + 1);
        if (at != std::string::npos) {
            const size_t start = at + std::strlen(key);
            const size_t end = id.find(';', start);
            return id.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
    }
    return std::string();
}

} // namespace

const char* AutoAddDriver(const char*, const char* device_uri, const char* device_id, void*)
{
    const std::string id = device_id ? device_id : "";
    const std::string mfg = DeviceIdValue(id, {"MFG:", "MANUFACTURER:"});
    std::string name = DeviceIdValue(id, {"MDL:", "MODEL:"});
    // The ID PAPPL made for a printer added with "auto" names the driver's
    // make and model: it comes back so when the saved printers are loaded.
    for (const Driver& d : Drivers())
        if (!name.empty() && mfg + " " + name == d.description)
            return d.name;
    // Else the printer's own name: the ID's model, or BlueZ's name.
    if (name.empty() && device_uri && UriScheme(device_uri) == "bt") {
        BluetoothUri b;
        std::string error;
        if (ParseBluetoothUri(device_uri, b, error))
            name = CBluezProbe().Probe(b.address).name;
    }
    return SuggestDriver(name);
}

} // namespace bandrill_app
