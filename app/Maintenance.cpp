#include "Maintenance.h"

#include <cstring>

#include "Drivers.h"
#include "PrinterCommands.h"
#include "PrinterStatus.h"

namespace bandrill_app {

namespace {

const char* const kSubPath = "maintenance";

std::vector<MaintenanceAction> ActionsOf(pappl_printer_t* printer)
{
    const Driver* driver = FindDriver(papplPrinterGetDriverName(printer));
    if (!driver)
        return {};
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    return MaintenanceActions(*driver->family, driver->dpi, data.media_default.tracking);
}

struct Lookup {
    const char* uri;
    pappl_printer_t* printer;
};

void MatchPrinter(pappl_printer_t* printer, void* data)
{
    Lookup& lookup = *static_cast<Lookup*>(data);
    char path[256];
    papplPrinterGetPath(printer, kSubPath, path, sizeof path);
    if (!lookup.printer && std::strcmp(path, lookup.uri) == 0)
        lookup.printer = printer;
}

// Sends the action's bytes; the result for people.
std::string Run(pappl_printer_t* printer, const MaintenanceAction& action)
{
    if (!IsTwoWayDevice(papplPrinterGetDeviceURI(printer)) &&
        std::strncmp(papplPrinterGetDeviceURI(printer), "file:", 5) != 0)
        return "The printer's device does not take commands.";
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (!device)
        return "The printer is busy: try again when its job is done.";
    const bool ok = papplDeviceWrite(device, action.bytes.data(), action.bytes.size()) >= 0;
    if (ok)
        papplDeviceFlush(device);
    papplPrinterCloseDevice(printer);
    papplLogPrinter(printer, ok ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_ERROR, "Maintenance: %s%s",
                    action.label.c_str(), ok ? "." : ": unable to write to the printer.");
    return action.label + (ok ? ": sent to the printer." : ": unable to write to the printer.");
}

// The page; the printer is found by the page's path, so that a page of a
// deleted printer finds none.
bool MaintenancePage(pappl_client_t* client, void*)
{
    Lookup lookup{papplClientGetURI(client), nullptr};
    papplSystemIteratePrinters(papplClientGetSystem(client), MatchPrinter, &lookup);
    pappl_printer_t* printer = lookup.printer;
    if (!printer) {
        papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
        return true;
    }
    if (!papplClientHTMLAuthorize(client))
        return true;
    const std::vector<MaintenanceAction> actions = ActionsOf(printer);

    std::string result;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        cups_option_t* form = nullptr;
        const int num_form = papplClientGetForm(client, &form);
        const char* wanted = cupsGetOption("action", num_form, form);
        if (!papplClientIsValidForm(client, num_form, form))
            result = "Invalid form submission.";
        else {
            result = "Unknown action.";
            for (const MaintenanceAction& a : actions)
                if (wanted && std::strcmp(wanted, a.name) == 0)
                    result = Run(printer, a);
        }
        cupsFreeOptions(num_form, form);
    }

    papplClientHTMLPrinterHeader(client, printer, "Maintenance", 0, nullptr, nullptr);
    if (!result.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        papplClientHTMLEscape(client, result.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\">\n");
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    for (const MaintenanceAction& a : actions) {
        papplClientHTMLPrintf(client, "<p><button type=\"submit\" name=\"action\" value=\"%s\">",
                              a.name);
        papplClientHTMLEscape(client, a.label.c_str(), 0);
        papplClientHTMLPuts(client, "</button></p>\n");
    }
    papplClientHTMLPuts(client, "</form></div></div>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

} // namespace

std::vector<MaintenanceAction> MaintenanceActions(const PrinterFamily& family, int dpi,
                                                  pappl_media_tracking_t tracking)
{
    const Tracking t = tracking == PAPPL_MEDIA_TRACKING_GAP    ? Tracking::kGap
                       : tracking == PAPPL_MEDIA_TRACKING_MARK ? Tracking::kMark
                                                               : Tracking::kContinuous;
    static const struct {
        Maintenance what;
        const char* name;
    } kActions[] = {
        {Maintenance::kFeed, "feed"},
        {Maintenance::kCalibrate, "calibrate"},
        {Maintenance::kSelfTest, "self-test"},
    };
    std::vector<MaintenanceAction> actions;
    for (const auto& a : kActions) {
        std::string bytes = MaintenanceBytes(family.model, a.what, dpi, t);
        if (!bytes.empty())
            actions.push_back({a.name, MaintenanceLabel(family.model, a.what, t), bytes});
    }
    return actions;
}

void AddMaintenancePage(pappl_printer_t* printer, void*)
{
    if (ActionsOf(printer).empty())
        return;
    char path[256];
    papplPrinterGetPath(printer, kSubPath, path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html",
                                   MaintenancePage, nullptr);
    papplPrinterAddLink(
        printer, "Maintenance", path,
        static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}

} // namespace bandrill_app
