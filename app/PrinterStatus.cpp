#include "PrinterStatus.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "DeviceSchemes.h"
#include "Drivers.h"
#include "StatusQuery.h"

namespace bandrill_app {

const char* const kStatusQueryAttr = "bandrill-status-query";

namespace {

using namespace printer_status;

// How long a printer's answer may take. Printers answer these queries at
// once, even while busy; a link's round trip is well below this.
const int kAnswerMs = 400;
// How long a printer that did not answer is left alone.
const double kBackoffSeconds = 300;
// PAPPL's device status of a network printer asks SNMP, which waits 2 s
// when nothing answers: taking this long means nobody does.
const double kSlowDeviceStatus = 1.0;
// How often a waiting job asks again.
const int kWaitPollMs = 1000;

// The reasons this file sets and clears.
const pappl_preason_t kOurReasons = static_cast<pappl_preason_t>(
    PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW |
    PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_MARKER_SUPPLY_EMPTY |
    PAPPL_PREASON_OTHER | PAPPL_PREASON_DOOR_OPEN | PAPPL_PREASON_INPUT_TRAY_MISSING);

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct PrinterState {
    CQueryBackoff query{kBackoffSeconds};
    CQueryBackoff deviceStatus{kBackoffSeconds};
    // Whether the printer is asked between the pages of the job it prints.
    bool betweenPages = true;
};

// Where the printer is looked at.
enum class Check {
    kIdle,        // no job: PAPPL's device status too
    kJobStart,    // the job's link is connected, nothing sent yet
    kBetweenPages // the last page has left the link
};

std::mutex g_lock;
std::map<pappl_printer_t*, PrinterState> g_printers;
std::map<std::string, DeadlineReader> g_readers;

std::string Scheme(const char* uri)
{
    const char* colon = uri ? std::strchr(uri, ':') : nullptr;
    return colon ? std::string(uri, colon) : std::string();
}

// Devices that answer: a file or a folder does not.
bool IsTwoWay(const std::string& scheme)
{
    for (const char* s : {"socket", "usb", "bt", "serial", "dnssd", "snmp"})
        if (scheme == s)
            return true;
    return false;
}

DeadlineReader ReaderFor(const std::string& scheme)
{
    std::lock_guard<std::mutex> lock(g_lock);
    const auto it = g_readers.find(scheme);
    return it == g_readers.end() ? nullptr : it->second;
}

bool QueriesOn(pappl_printer_t* printer)
{
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    const std::string name = std::string(kStatusQueryAttr) + "-default";
    ipp_attribute_t* attr = ippFindAttribute(attrs, name.c_str(), IPP_TAG_ZERO);
    const char* value = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    const bool on = !value || std::strcmp(value, "off") != 0;
    ippDelete(attrs);
    return on;
}

class CDeviceLink : public IStatusLink {
public:
    CDeviceLink(pappl_device_t* device, const char* uri, DeadlineReader reader)
        : m_device(device), m_uri(uri), m_reader(reader)
    {
    }
    bool Send(const void* data, size_t length) override
    {
        // Out now: PAPPL holds written bytes until its buffer fills.
        if (papplDeviceWrite(m_device, data, length) < 0)
            return false;
        papplDeviceFlush(m_device);
        return true;
    }
    ssize_t Receive(void* data, size_t length, int timeoutMs) override
    {
        return m_reader(m_device, m_uri, data, length, timeoutMs);
    }

private:
    pappl_device_t* m_device;
    const char* m_uri;
    DeadlineReader m_reader;
};

pappl_preason_t ReasonsOf(unsigned conditions)
{
    unsigned r = PAPPL_PREASON_NONE;
    if (conditions & kCoverOpen)
        r |= PAPPL_PREASON_COVER_OPEN;
    if (conditions & kMediaEmpty)
        r |= PAPPL_PREASON_MEDIA_EMPTY;
    if (conditions & kMediaLow)
        r |= PAPPL_PREASON_MEDIA_LOW;
    if (conditions & kMediaJam)
        r |= PAPPL_PREASON_MEDIA_JAM;
    if (conditions & (kOffline | kPaused))
        r |= PAPPL_PREASON_OFFLINE;
    if (conditions & kRibbonEmpty)
        r |= PAPPL_PREASON_MARKER_SUPPLY_EMPTY;
    if (conditions & kError)
        r |= PAPPL_PREASON_OTHER;
    return static_cast<pappl_preason_t>(r);
}

struct Status {
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    unsigned conditions = kNone; // the printer's own answer
    bool answered = false;
};

// One look at the printer on an open device: PAPPL's device status (when
// idle), then the family's query. Printers that did not answer are left
// alone for the back-off, each of the two on its own. Between pages the
// answer may wait behind the page's last bytes on their way to the
// printer: no answer there only stops the asking for the rest of the job.
Status CheckPrinter(pappl_printer_t* printer, pappl_device_t* device, Check where)
{
    Status status;
    const std::string scheme = Scheme(papplPrinterGetDeviceURI(printer));
    const Driver* driver = FindDriver(papplPrinterGetDriverName(printer));
    if (!driver || !IsTwoWay(scheme))
        return status;

    bool askDevice, askQuery;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        PrinterState& state = g_printers[printer];
        askDevice = where == Check::kIdle && state.deviceStatus.MayAsk(Now());
        askQuery = state.query.MayAsk(Now());
        if (where == Check::kJobStart)
            state.betweenPages = true;
        else if (where == Check::kBetweenPages)
            askQuery = askQuery && state.betweenPages;
    }

    if (askDevice) {
        const double start = Now();
        const pappl_preason_t r = papplDeviceGetStatus(device);
        status.reasons = static_cast<pappl_preason_t>(r & kOurReasons);
        if (r == PAPPL_PREASON_NONE && Now() - start >= kSlowDeviceStatus) {
            std::lock_guard<std::mutex> lock(g_lock);
            g_printers[printer].deviceStatus.Silent(Now());
            papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG,
                            "The device status did not answer; not asked for %.0f minutes.",
                            kBackoffSeconds / 60);
        }
    }

    const StatusQueryKind kind = driver->family->statusQuery;
    const DeadlineReader reader = ReaderFor(scheme);
    if (kind == kNoStatusQuery || !reader || !askQuery || !QueriesOn(printer))
        return status;

    CDeviceLink link(device, papplPrinterGetDeviceURI(printer), reader);
    unsigned conditions = kNone;
    const StatusAnswer answer = AskStatus(link, kind, kAnswerMs, conditions);
    {
        std::lock_guard<std::mutex> lock(g_lock);
        PrinterState& state = g_printers[printer];
        if (answer == StatusAnswer::kAnswered)
            state.query.Answered();
        else if (where == Check::kBetweenPages)
            state.betweenPages = false;
        else
            state.query.Silent(Now());
    }
    if (answer == StatusAnswer::kAnswered) {
        status.answered = true;
        status.conditions = conditions;
        status.reasons = static_cast<pappl_preason_t>(status.reasons | ReasonsOf(conditions));
        papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "The printer reports: %s.",
                        Describe(conditions).c_str());
    } else if (where == Check::kBetweenPages) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG,
                        "No answer to the status query between pages; not asked between "
                        "pages for the rest of the job.");
    } else {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                        "The printer did not answer its status query; not asked for %.0f "
                        "minutes.",
                        kBackoffSeconds / 60);
    }
    return status;
}

// Sets the reasons and clears those of the set that went.
void Show(pappl_printer_t* printer, pappl_preason_t reasons, pappl_preason_t set = kOurReasons)
{
    papplPrinterSetReasons(printer, reasons, static_cast<pappl_preason_t>(set & ~reasons));
}

// What stops printing, in words for the job's message.
std::string Waiting(unsigned conditions)
{
    if (conditions & kMediaEmpty)
        return "the printer is out of paper";
    if (conditions & kCoverOpen)
        return "the printer's cover is open";
    if (conditions & kMediaJam)
        return "the paper is jammed";
    if (conditions & kPaused)
        return "the printer is paused";
    return "the printer is offline";
}

ssize_t PapplSocketRead(pappl_device_t* device, const char*, void* buffer, size_t bytes,
                        int timeoutMs)
{
    // PAPPL's network devices begin with their socket. Only a connected
    // stream socket is taken for one: another scheme of the same name
    // keeps other data.
    const int* data = static_cast<const int*>(papplDeviceGetData(device));
    const int fd = data ? *data : -1;
    int type = 0;
    socklen_t typeLen = sizeof type;
    sockaddr_storage peer;
    socklen_t peerLen = sizeof peer;
    if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLen) != 0 ||
        type != SOCK_STREAM || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0)
        return -1;
    pollfd p{fd, POLLIN, 0};
    int ready;
    while ((ready = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready < 0)
        return -1;
    if (ready == 0)
        return 0;
    if (!(p.revents & POLLIN))
        return -1;
    // Ready: PAPPL's read returns at once. Nothing (the printer closed
    // the connection) is an error here, not an empty answer.
    const ssize_t n = papplDeviceRead(device, buffer, bytes);
    return n > 0 ? n : -1;
}

ssize_t LinkRead(pappl_device_t* device, const char*, void* buffer, size_t bytes, int timeoutMs)
{
    return DeviceReadWithin(device, buffer, bytes, timeoutMs);
}

} // namespace

bool IsTwoWayDevice(const char* uri)
{
    return IsTwoWay(Scheme(uri));
}

void SetDeadlineReader(const char* scheme, DeadlineReader reader)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_readers[scheme] = reader;
}

void AddDeadlineReaders()
{
    // The application's links read with a deadline of their own.
    for (const char* scheme : {"socket", "bt", "serial"})
        SetDeadlineReader(scheme, LinkRead);
    for (const char* scheme : {"dnssd", "snmp"})
        SetDeadlineReader(scheme, PapplSocketRead);
}

bool StatusCallback(pappl_printer_t* printer)
{
    if (!IsTwoWay(Scheme(papplPrinterGetDeviceURI(printer))))
        return true;
    // Busy (a job or maintenance has the device): asked another time.
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (!device)
        return true;
    const Status status = CheckPrinter(printer, device, Check::kIdle);
    papplPrinterCloseDevice(printer);
    Show(printer, status.reasons);
    return true;
}

bool WaitUntilPrinterReady(pappl_job_t* job, pappl_device_t* device, bool betweenPages)
{
    pappl_printer_t* printer = papplJobGetPrinter(job);
    pappl_system_t* system = papplPrinterGetSystem(printer);
    const std::string scheme = Scheme(papplPrinterGetDeviceURI(printer));
    if (!IsTwoWay(scheme))
        return true;
    // Between pages only where asking costs a round trip and no more: over
    // TCP a printer that has answered delays its acknowledgements (to send
    // them with its next answer), and each page would wait for one (40 ms
    // and more) before it counts as taken.
    if (betweenPages && scheme != "serial" && scheme != "bt")
        return true;
    bool waited = false;
    for (;;) {
        // The printer's own answer only: it alone holds a job (a device
        // status guessed from port bits never does), and a network
        // printer's device status may wait seconds for SNMP.
        const Status status = CheckPrinter(
            printer, device, betweenPages && !waited ? Check::kBetweenPages : Check::kJobStart);
        // Cancelled while the printer was asked: nothing of it is printed.
        if (papplJobIsCanceled(job) || papplSystemIsShutdown(system))
            return false;
        if (status.answered)
            Show(printer, status.reasons, ReasonsOf(~0u));
        const unsigned stops = status.answered ? status.conditions & kStopsPrinting : 0;
        if (!stops)
            break;
        if (!waited) {
            const std::string why = Waiting(stops);
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Waiting: %s (%s).", why.c_str(),
                        Describe(stops).c_str());
            papplJobSetMessage(job, "Waiting: %s.", why.c_str());
            papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
            waited = true;
        }
        for (int slept = 0; slept < kWaitPollMs; slept += 100) {
            if (papplJobIsCanceled(job) || papplSystemIsShutdown(system))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    if (waited) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The printer is ready again.");
        papplJobSetMessage(job, "Printing.");
        papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
    }
    return true;
}

void AddStatusAttributes(StatusQueryKind kind, pappl_pr_driver_data_t* data, ipp_t* attrs)
{
    if (kind == kNoStatusQuery || data->num_vendor >= PAPPL_MAX_VENDOR)
        return;
    data->vendor[data->num_vendor++] = kStatusQueryAttr;
    static const char* const kValues[] = {"on", "off"};
    const std::string name = kStatusQueryAttr;
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (name + "-supported").c_str(), 2,
                  nullptr, kValues);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (name + "-default").c_str(), nullptr,
                 "on");
}

} // namespace bandrill_app
