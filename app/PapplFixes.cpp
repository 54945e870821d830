// Faults of PAPPL 1.3.1 the application works around. The link wraps these
// functions (--wrap, app/CMakeLists.txt): PAPPL's calls come to
// __wrap_NAME here, which checks or corrects what it must and hands the
// call on to __real_NAME, the function itself.
#include <cstring>
#include <string>

#include <avahi-client/lookup.h>
#include <pappl/pappl.h>

#include "AttributeCheck.h"
#include "IppEverywhere.h"
#include "JobSettings.h"
#include "WebStrings.h"

namespace {

// Set while this thread answers a Get-Printer-Attributes, a
// Set-Printer-Attributes.
thread_local bool t_inGetAttributes = false;
thread_local bool t_inSetAttributes = false;
// Set when this thread's last device listing had no network discovery.
thread_local bool t_noDiscovery = false;

bool IsJobCreation(ipp_op_t op)
{
    return op == IPP_OP_PRINT_JOB || op == IPP_OP_VALIDATE_JOB || op == IPP_OP_CREATE_JOB;
}

// Refuses the request with every bad value in unsupported-attributes, or
// marks what it ignores; true when refused.
bool Refuse(pappl_client_t* client, ipp_t* request, const std::vector<bandrill_app::BadValue>& bad)
{
    ipp_attribute_t* fidelity = ippFindAttribute(request, "ipp-attribute-fidelity", IPP_TAG_BOOLEAN);
    const bool exact = fidelity && ippGetBoolean(fidelity, 0);
    std::string why;
    for (const bandrill_app::BadValue& b : bad)
        if (!b.ignored || exact)
            why += (why.empty() ? "" : "; ") + b.why;
    if (why.empty()) {
        for (const bandrill_app::BadValue& b : bad) {
            papplClientRespondIPP(client, IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED, "%s",
                                  b.why.c_str());
            ipp_attribute_t* copy = ippCopyAttribute(papplClientGetResponse(client), b.attr, 0);
            ippSetGroupTag(papplClientGetResponse(client), &copy, IPP_TAG_UNSUPPORTED_GROUP);
            ipp_attribute_t* gone = b.attr;
            ippDeleteAttribute(request, gone);
        }
        return false;
    }
    for (const bandrill_app::BadValue& b : bad)
        if (!b.ignored || exact)
            papplClientRespondIPPUnsupported(client, b.attr);
    // status-message is text(255); unsupported-attributes names them all.
    if (why.size() > 255)
        why = why.substr(0, 252) + "...";
    papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s", why.c_str());
    return true;
}

// printer-darkness-configured set takes effect by itself: the qualifier
// is set to it too unless the request sets the qualifier.
void ApplyDarkness(pappl_printer_t* printer, ipp_t* request)
{
    const std::string def = std::string(FindSetting("Darkness")->attr) + "-default";
    if (!ippFindAttribute(request, "printer-darkness-configured", IPP_TAG_ZERO) ||
        ippFindAttribute(request, def.c_str(), IPP_TAG_ZERO))
        return;
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    if (ippFindAttribute(attrs, def.c_str(), IPP_TAG_ZERO))
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr,
                     bandrill_app::kDarknessConfigured);
    ippDelete(attrs);
}

} // namespace

extern "C" {

// The wrapped functions themselves.
void __real__papplPrinterProcessIPP(pappl_client_t* client);
bool __real_papplPrinterSetDriverDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data,
                                          int num_vendor, cups_option_t* vendor);
ipp_attribute_t* __real_ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t value_tag,
                                     const char* name, const char* language, const char* value);
ipp_attribute_t* __real_ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t value_tag,
                                      const char* name, int num_values, const char* language,
                                      const char* const* values);
AvahiServiceBrowser* __real_avahi_service_browser_new(AvahiClient*, AvahiIfIndex, AvahiProtocol,
                                                      const char*, const char*, AvahiLookupFlags,
                                                      AvahiServiceBrowserCallback, void*);
AvahiRecordBrowser* __real_avahi_record_browser_new(AvahiClient*, AvahiIfIndex, AvahiProtocol,
                                                    const char*, uint16_t, uint16_t,
                                                    AvahiLookupFlags, AvahiRecordBrowserCallback,
                                                    void*);
AvahiServiceResolver* __real_avahi_service_resolver_new(AvahiClient*, AvahiIfIndex, AvahiProtocol,
                                                        const char*, const char*, const char*,
                                                        AvahiProtocol, AvahiLookupFlags,
                                                        AvahiServiceResolverCallback, void*);
bool __real_papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void* data,
                            pappl_deverror_cb_t err_cb, void* err_data);
const char* __real_papplClientGetLocString(pappl_client_t* client, const char* s);

void __wrap__papplPrinterProcessIPP(pappl_client_t* client);
bool __wrap_papplPrinterSetDriverDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data,
                                          int num_vendor, cups_option_t* vendor);
ipp_attribute_t* __wrap_ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t value_tag,
                                     const char* name, const char* language, const char* value);
ipp_attribute_t* __wrap_ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t value_tag,
                                      const char* name, int num_values, const char* language,
                                      const char* const* values);
AvahiServiceBrowser* __wrap_avahi_service_browser_new(AvahiClient*, AvahiIfIndex, AvahiProtocol,
                                                      const char*, const char*, AvahiLookupFlags,
                                                      AvahiServiceBrowserCallback, void*);
AvahiRecordBrowser* __wrap_avahi_record_browser_new(AvahiClient*, AvahiIfIndex, AvahiProtocol,
                                                    const char*, uint16_t, uint16_t,
                                                    AvahiLookupFlags, AvahiRecordBrowserCallback,
                                                    void*);
AvahiServiceResolver* __wrap_avahi_service_resolver_new(AvahiClient*, AvahiIfIndex, AvahiProtocol,
                                                        const char*, const char*, const char*,
                                                        AvahiProtocol, AvahiLookupFlags,
                                                        AvahiServiceResolverCallback, void*);
bool __wrap_papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void* data,
                            pappl_deverror_cb_t err_cb, void* err_data);
const char* __wrap_papplClientGetLocString(pappl_client_t* client, const char* s);

// PAPPL's handler of printer operations, which keeps no hook before its own
// handling: jobs and new defaults are checked here first (PAPPL 1.3.1
// stores vendor defaults unchecked and prints a job whose media or vendor
// values the printer does not take with the defaults).
void __wrap__papplPrinterProcessIPP(pappl_client_t* client)
{
    pappl_printer_t* printer = papplClientGetPrinter(client);
    ipp_t* request = papplClientGetRequest(client);
    const ipp_op_t op = papplClientGetOperation(client);
    if (printer && request) {
        if (IsJobCreation(op) || op == IPP_OP_SET_PRINTER_ATTRIBUTES)
            bandrill_app::RenameOldMedia(request);
        if (IsJobCreation(op) && Refuse(client, request, bandrill_app::CheckJobAttributes(printer, request)))
            return;
        if (op == IPP_OP_SET_PRINTER_ATTRIBUTES &&
            Refuse(client, request, bandrill_app::CheckDefaultAttributes(printer, request)))
            return;
        if (op == IPP_OP_SET_PRINTER_ATTRIBUTES)
            ApplyDarkness(printer, request);
    }
    t_inGetAttributes = op == IPP_OP_GET_PRINTER_ATTRIBUTES;
    t_inSetAttributes = op == IPP_OP_SET_PRINTER_ATTRIBUTES;
    __real__papplPrinterProcessIPP(client);
    t_inGetAttributes = t_inSetAttributes = false;
    // PAPPL 1.3.1's answer has values that contradict it (IppEverywhere.h).
    if (printer && op == IPP_OP_GET_PRINTER_ATTRIBUTES)
        bandrill_app::FixPrinterAttributes(client, printer);
}

// Defaults from the web forms come here without passing the check above.
bool __wrap_papplPrinterSetDriverDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data,
                                   int num_vendor, cups_option_t* vendor)
{
    if (!printer || !data)
        return __real_papplPrinterSetDriverDefaults(printer, data, num_vendor, vendor);
    const std::string why = bandrill_app::CheckDriverDefaults(printer, *data, num_vendor, vendor);
    if (!why.empty()) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Defaults not changed: %s.", why.c_str());
        return false;
    }
    // PAPPL 1.3.1's web form posts 0 for a printer darkness that is none of
    // its choices: that one is kept.
    if (!t_inSetAttributes)
        data->darkness_configured =
            bandrill_app::FormDarkness(printer, data->darkness_configured);
    // A new printer darkness applies by itself: the qualifier follows it.
    const char* qualifier =
        bandrill_app::ImpliedDarknessQualifier(printer, *data, num_vendor, vendor);
    if (!qualifier)
        return __real_papplPrinterSetDriverDefaults(printer, data, num_vendor, vendor);
    cups_option_t* options = nullptr;
    int n = 0;
    for (int i = 0; i < num_vendor; ++i)
        n = cupsAddOption(vendor[i].name, vendor[i].value, n, &options);
    n = cupsAddOption(FindSetting("Darkness")->attr, qualifier, n, &options);
    const bool ok = __real_papplPrinterSetDriverDefaults(printer, data, n, options);
    cupsFreeOptions(n, options);
    return ok;
}

// PAPPL 1.3.1's client (modify -o media=) puts media-default in the job
// group of Set-Printer-Attributes, which its server refuses.
ipp_attribute_t* __wrap_ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t value_tag, const char* name,
                              const char* language, const char* value)
{
    if (group == IPP_TAG_JOB && name && !std::strcmp(name, "media-default"))
        group = IPP_TAG_PRINTER;
    return __real_ippAddString(ipp, group, value_tag, name, language, value);
}

// PAPPL 1.3.1 appends printer-strings-languages-supported to the printer's
// own attributes on every Get-Printer-Attributes (printer-ipp.c 437): one
// copy is kept.
ipp_attribute_t* __wrap_ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t value_tag, const char* name,
                               int num_values, const char* language, const char* const* values)
{
    if (t_inGetAttributes && name && !std::strcmp(name, "printer-strings-languages-supported"))
        if (ipp_attribute_t* kept = ippFindAttribute(ipp, name, IPP_TAG_ZERO))
            return kept;
    return __real_ippAddStrings(ipp, group, value_tag, name, num_values, language, values);
}

// Without avahi-daemon PAPPL 1.3.1 has no Avahi client and passes none to
// these, which abort the process on an assertion; without a client there
// is simply nothing to browse or resolve.
AvahiServiceBrowser* __wrap_avahi_service_browser_new(AvahiClient* client, AvahiIfIndex interface,
                                               AvahiProtocol protocol, const char* type,
                                               const char* domain, AvahiLookupFlags flags,
                                               AvahiServiceBrowserCallback callback, void* userdata)
{
    t_noDiscovery = !client;
    return client ? __real_avahi_service_browser_new(client, interface, protocol, type, domain, flags, callback, userdata)
                  : nullptr;
}

AvahiRecordBrowser* __wrap_avahi_record_browser_new(AvahiClient* client, AvahiIfIndex interface,
                                             AvahiProtocol protocol, const char* name,
                                             uint16_t clazz, uint16_t type, AvahiLookupFlags flags,
                                             AvahiRecordBrowserCallback callback, void* userdata)
{
    return client ? __real_avahi_record_browser_new(client, interface, protocol, name, clazz, type, flags, callback, userdata)
                  : nullptr;
}

AvahiServiceResolver* __wrap_avahi_service_resolver_new(AvahiClient* client, AvahiIfIndex interface,
                                                 AvahiProtocol protocol, const char* name,
                                                 const char* type, const char* domain,
                                                 AvahiProtocol aprotocol, AvahiLookupFlags flags,
                                                 AvahiServiceResolverCallback callback,
                                                 void* userdata)
{
    return client ? __real_avahi_service_resolver_new(client, interface, protocol, name, type, domain, aprotocol, flags,
                         callback, userdata)
                  : nullptr;
}

bool __wrap_papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void* data,
                     pappl_deverror_cb_t err_cb, void* err_data)
{
    t_noDiscovery = false;
    return __real_papplDeviceList(types, cb, data, err_cb, err_data);
}

// Words of PAPPL's pages the strings file cannot change (PAPPL's own come
// first): "Add Printer" says when its device list lacks the network's
// printers (the label printed after the list carries the note), and
// refused defaults say why.
const char* __wrap_papplClientGetLocString(pappl_client_t* client, const char* s)
{
    if (t_noDiscovery && s && !std::strcmp(s, "Hostname/IP Address"))
        return __real_papplClientGetLocString(client, bandrill_app::kNoDiscoveryNote);
    if (s && !std::strcmp(s, "Bad printer defaults."))
        return __real_papplClientGetLocString(client, bandrill_app::kDefaultsRefused);
    return __real_papplClientGetLocString(client, s);
}

} // extern "C"
