#include "AppDriver.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "BaseRender.h"
#include "DeviceSchemes.h"
#include "Drivers.h"
#include "PageAssembler.h"
#include "PrinterFamilies.h"
#include "PngCheck.h"
#include "PrinterSettings.h"
#include "StdRefPtr.h"
#include "TestPage.h"

namespace bandrill_app {

namespace {

// Whether the printer's own darkness applies ("printer") or the IPP one
// (printer-darkness-configured plus the job's print-darkness). A printer's
// own setting is what the PPDs default to; IPP has no value for it.
const char* const kDarknessAttr = "bandrill-darkness";

// Media sensing IPP's media-tracking has no value for: "media-tracking"
// (the default) follows media-tracking, "perforated" and "recording" pick
// those choices where the PPD has them.
const char* const kTrackingAttr = "bandrill-media-tracking";

// Attribute name -> value, as strings, for vendor attributes.
using Values = std::map<std::string, std::string>;

std::string AttrText(ipp_attribute_t* attr)
{
    switch (ippGetValueTag(attr)) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM:
        return std::to_string(ippGetInteger(attr, 0));
    case IPP_TAG_BOOLEAN:
        return ippGetBoolean(attr, 0) ? "true" : "false";
    case IPP_TAG_KEYWORD:
    case IPP_TAG_NAME:
    case IPP_TAG_TEXT: {
        const char* s = ippGetString(attr, 0, nullptr);
        return s ? s : "";
    }
    default:
        return std::string();
    }
}

// The printer's defaults of the vendor attributes: PAPPL keeps them in the
// driver attributes but hands a job only the values the job carries.
Values PrinterDefaults(pappl_printer_t* printer)
{
    Values v;
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    if (!attrs)
        return v;
    for (ipp_attribute_t* a = ippFirstAttribute(attrs); a; a = ippNextAttribute(attrs)) {
        const char* name = ippGetName(a);
        if (!name || std::strncmp(name, "bandrill-", 9) != 0)
            continue;
        const size_t n = std::strlen(name);
        if (n > 8 && std::strcmp(name + n - 8, "-default") == 0)
            v[std::string(name, n - 8)] = AttrText(a);
    }
    ippDelete(attrs);
    return v;
}

bool IsRaster(const char* format)
{
    return format && (!std::strcmp(format, "image/pwg-raster") || !std::strcmp(format, "image/urf"));
}

// The settings keywords answered from the job's IPP attributes, the
// printer's defaults and the driver's (the PPD's) defaults, in PPD choice
// syntax. Keywords the driver's PPD does not carry get no answer.
class CJobChoices : public ISettingChoices {
public:
    CJobChoices(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options)
    {
        const Values defaults = PrinterDefaults(papplJobGetPrinter(job));
        auto vendor = [&](const char* attr) -> std::string {
            if (const char* v = cupsGetOption(attr, options->num_vendor, options->vendor))
                return v;
            auto it = defaults.find(attr);
            return it == defaults.end() ? std::string() : it->second;
        };

        for (const Driver::Setting& s : driver.settings) {
            std::string choice;
            const std::string key = s.keyword;
            if (key == "zeMediaTracking") {
                const std::string v = vendor(kTrackingAttr);
                choice = v == "perforated"  ? "Perforated"
                         : v == "recording" ? "Recording"
                                            : Tracking(options->media.tracking);
            } else if (key == "Darkness") {
                const bool ipp = vendor(kDarknessAttr) == "configured" ||
                                 papplJobGetAttribute(job, "print-darkness") != nullptr;
                if (ipp)
                    choice = DarknessLevel(DarknessLevels(driver), options->darkness_configured +
                                                                       options->print_darkness);
            } else if (key == "zePrintRate") {
                if (options->print_speed > 0) {
                    int ips = (options->print_speed + 1270) / 2540;
                    ips = ips < 1 ? 1 : ips > SpeedMax(driver) ? SpeedMax(driver) : ips;
                    choice = std::to_string(ips);
                }
            } else if (const VendorOption* o = FindVendorOptionByKeyword(s.keyword)) {
                choice = ChoiceForValue(*o, vendor(o->attr));
                if (key == "Rotate" && IsRaster(papplJobGetFormat(job)) &&
                    papplJobGetAttribute(job, "orientation-requested"))
                    choice = Rotation(options->orientation_requested, choice);
            }
            // A choice the PPD does not offer is not taken (numbers are: the
            // filter reads them as numbers, the PPD lists only some).
            if (!choice.empty() && !TakesAnyNumber(s.keyword) && !Offered(s, choice))
                choice.clear();
            m_choices[key] = choice.empty() ? s.defaultChoice : choice;
        }
        // The filter reads Brightness where a PPD has no ImageBrightness.
        auto b = m_choices.find("ImageBrightness");
        if (b != m_choices.end())
            m_choices["Brightness"] = b->second;
        m_choices["bandrillHeadDots"] = std::to_string(driver.headDots);
    }

    std::string Choice(const char* keyword) override
    {
        auto it = m_choices.find(keyword);
        return it == m_choices.end() ? std::string() : it->second;
    }

    const std::map<std::string, std::string>& All() const { return m_choices; }

private:
    static bool TakesAnyNumber(const char* keyword)
    {
        const VendorOption* o = FindVendorOptionByKeyword(keyword);
        return o && o->kind == VendorOption::kInteger;
    }
    static bool Offered(const Driver::Setting& s, const std::string& choice)
    {
        for (const std::string& c : s.choices)
            if (c == choice)
                return true;
        return false;
    }
    static std::string Tracking(pappl_media_tracking_t t)
    {
        switch (t) {
        case PAPPL_MEDIA_TRACKING_CONTINUOUS:
            return "Continuous";
        case PAPPL_MEDIA_TRACKING_GAP:
            return "Gap";
        case PAPPL_MEDIA_TRACKING_MARK:
            return "BLine";
        default:
            return std::string();
        }
    }
    // 0 to 100 (clamped) onto levels 0 to levels - 1.
    static std::string DarknessLevel(int levels, int darkness)
    {
        darkness = darkness < 0 ? 0 : darkness > 100 ? 100 : darkness;
        return std::to_string((darkness * (levels - 1) + 50) / 100);
    }
    static std::string Rotation(ipp_orient_t o, const std::string& otherwise)
    {
        switch (o) {
        case IPP_ORIENT_PORTRAIT:
            return "0";
        case IPP_ORIENT_REVERSE_PORTRAIT:
            return "1";
        case IPP_ORIENT_LANDSCAPE:
            return "2";
        case IPP_ORIENT_REVERSE_LANDSCAPE:
            return "3";
        default:
            return otherwise;
        }
    }

    std::map<std::string, std::string> m_choices;
};

// One job's state: its back end, the page being assembled and the job's
// PAPPL handles the back end prints through.
class CAppJob : public CRenderJob {
public:
    CAppJob(pappl_job_t* job, pappl_device_t* device, const Driver& driver)
        : m_job(job), m_device(device), m_driver(driver)
    {
    }

    bool Write(const void* data, int length) override
    {
        if (OutputFailed())
            return false;
        if (length <= 0)
            return true;
        if (papplDeviceWrite(m_device, data, static_cast<size_t>(length)) < 0) {
            papplLogJob(m_job, PAPPL_LOGLEVEL_ERROR, "Unable to write to the printer.");
            SetOutputFailed();
            return false;
        }
        return true;
    }

    void LogV(int priority, const char* format, va_list args) override
    {
        char text[1024];
        std::vsnprintf(text, sizeof text, format, args);
        size_t n = std::strlen(text);
        while (n > 0 && text[n - 1] == '\n')
            text[--n] = '\0';
        papplLogJob(m_job, priority <= 3 ? PAPPL_LOGLEVEL_ERROR : PAPPL_LOGLEVEL_DEBUG, "%s", text);
    }

    void Report(Level level, const char* text) override
    {
        static const pappl_loglevel_t kLevel[] = {PAPPL_LOGLEVEL_INFO, PAPPL_LOGLEVEL_WARN,
                                                  PAPPL_LOGLEVEL_ERROR};
        papplLogJob(m_job, kLevel[level], "%s", text);
        papplJobSetMessage(m_job, "%s", text);
        if (level == kWarning)
            papplJobSetReasons(m_job, PAPPL_JREASON_WARNINGS_DETECTED, PAPPL_JREASON_NONE);
        else if (level == kError)
            papplJobSetReasons(m_job, PAPPL_JREASON_ERRORS_DETECTED, PAPPL_JREASON_NONE);
    }

    bool IsCanceled() const override { return papplJobIsCanceled(m_job); }

    pappl_job_t* m_job;
    pappl_device_t* m_device;
    const Driver& m_driver;
    CStdRefPtr<CBaseRender> m_render;
    CPageAssembler m_page;
    cups_page_header2_t m_header;
    bool m_clipped = false;
};

// Jobs whose image document was found damaged, by job ID and printer.
std::mutex g_damagedLock;
std::set<std::pair<pappl_printer_t*, int>> g_damaged;

bool TakeDamaged(pappl_job_t* job)
{
    std::lock_guard<std::mutex> lock(g_damagedLock);
    return g_damaged.erase({papplJobGetPrinter(job), papplJobGetID(job)}) > 0;
}

// PAPPL 1.3.1's PNG reader never returns on a damaged file, and its JPEG
// reader prints a truncated one as if it were whole. When an image job
// starts, its document is checked; a damaged one is marked, a PNG is also
// replaced in the spool by a blank pixel (which PAPPL reads), and the job
// is then aborted in StartJob with the reason. The callback runs in the job's thread with
// the job locked: it may only read the job.
void JobEvent(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event,
              void*)
{
    if (!job || !(event & PAPPL_EVENT_JOB_STATE_CHANGED) ||
        papplJobGetState(job) != IPP_JSTATE_PROCESSING)
        return;
    const char* format = papplJobGetFormat(job);
    const char* path = papplJobGetFilename(job);
    if (!format || !path)
        return;
    const bool png = std::strcmp(format, "image/png") == 0;
    const bool jpeg = std::strcmp(format, "image/jpeg") == 0;
    if ((!png && !jpeg) || (png ? PngIsWhole(path) : JpegIsWhole(path)))
        return;
    {
        std::lock_guard<std::mutex> lock(g_damagedLock);
        g_damaged.insert({printer, papplJobGetID(job)});
    }
    if (!png)
        return;
    const int fd = open(path, O_WRONLY | O_TRUNC);
    if (fd >= 0) {
        const bool ok = write(fd, kBlankPng, kBlankPngSize) == static_cast<ssize_t>(kBlankPngSize);
        close(fd);
        (void)ok;
    }
}

// The printer's driver. PAPPL 1.3.1 keeps the name "auto" for a printer
// whose driver was detected; its make and model is the driver's then.
const Driver* PrinterDriver(pappl_printer_t* printer)
{
    if (const Driver* d = FindDriver(papplPrinterGetDriverName(printer)))
        return d;
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    for (const Driver& d : Drivers())
        if (std::strcmp(d.description, data.make_and_model) == 0)
            return &d;
    return nullptr;
}

CAppJob* JobOf(pappl_job_t* job)
{
    return static_cast<CAppJob*>(papplJobGetData(job));
}

// Releases the job's state and back end.
void EndJobData(pappl_job_t* job)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return;
    aj->m_render->SetJob(nullptr);
    papplJobSetData(job, nullptr);
    delete aj;
}

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    const Driver* driver = PrinterDriver(papplJobGetPrinter(job));
    const PrinterFamily* family = driver ? FindPrinterFamily(driver->model) : nullptr;
    if (!family) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "No printer family for this driver.");
        return false;
    }
    if (TakeDamaged(job)) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "The image document is damaged or incomplete.");
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The image document is damaged or incomplete.");
        return false;
    }
    if (!DeviceStartJob(job, device, driver->model))
        return false;
    CAppJob* aj = new CAppJob(job, device, *driver);
    aj->m_render = MakeRefPtr<CBaseRender>(family->create());
    aj->m_render->SetJob(aj);
    papplJobSetData(job, aj);

    CJobChoices choices(*driver, job, options);
    for (const auto& c : choices.All())
        papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s=%s", c.first.c_str(), c.second.c_str());
    ReadPrinterSettings(*aj->m_render, choices);
    aj->m_render->SetModelName(driver->description);
    aj->m_render->OnStartDoc(0);
    if (aj->OutputFailed()) {
        // Released now: PAPPL need not call the end callback after a
        // failed start (and EndJob then finds nothing).
        EndJobData(job);
        DeviceEndJob(job, device);
        return false;
    }
    return true;
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->m_header = options->header;
    cups_page_header2_t& h = aj->m_header;
    // A raster wider than the head (a client is free to send Letter) keeps
    // its left part, as the printer would print it.
    aj->m_clipped = false;
    if (h.cupsBitsPerPixel == 8 && h.cupsWidth > static_cast<unsigned>(aj->m_driver.headDots)) {
        aj->m_render->Report(CRenderJob::kWarning,
                             "Page %u is %u dots wide; the printer prints the first %d.", page,
                             h.cupsWidth, aj->m_driver.headDots);
        h.cupsWidth = static_cast<unsigned>(aj->m_driver.headDots);
        h.cupsBytesPerLine = h.cupsWidth;
        aj->m_clipped = true;
    }
    // A page the core refuses is passed over as the filter does: its lines
    // are dropped and LoadPage finds no image.
    aj->m_page.Begin(h);
    return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
               const unsigned char* line)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->m_page.AddLine(line);
    return true;
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->m_page.Finish();
    CBaseRender* render = aj->m_render;
    if (render->LoadPage(&aj->m_header, aj->m_page.Lines()))
        render->PrintPage();
    else
        render->AddLog("create image error");
    render->OnEndPage();
    // The page counts as printed once the link has taken all of it; PAPPL
    // 1.3.1 counts a page completed when it begins, so a page that failed
    // is taken off again.
    const bool ok = !aj->OutputFailed() && DeviceEndPage(job, device);
    if (!ok)
        papplJobSetImpressionsCompleted(job, -1);
    return ok;
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->m_render->OnEndDoc();
    bool ok = !aj->OutputFailed();
    EndJobData(job);
    // Completed only once the printer has taken the last byte.
    ok = DeviceEndJob(job, device) && ok;
    return ok;
}

// The printer's own language: the document goes to the device unchanged,
// once per copy.
bool PrintFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    const char* path = papplJobGetFilename(job);
    const int fd = path ? open(path, O_RDONLY) : -1;
    if (fd < 0) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the document: %s", strerror(errno));
        return false;
    }
    const Driver* driver = PrinterDriver(papplJobGetPrinter(job));
    if (!DeviceStartJob(job, device, driver ? driver->model : 0)) {
        close(fd);
        return false;
    }
    const int copies = options->copies > 0 ? options->copies : 1;
    bool ok = true;
    char buffer[65536];
    for (int c = 0; ok && c < copies && !papplJobIsCanceled(job); ++c) {
        lseek(fd, 0, SEEK_SET);
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0)
            if (papplDeviceWrite(device, buffer, static_cast<size_t>(n)) < 0) {
                papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to write to the printer.");
                ok = false;
                break;
            }
        if (n < 0)
            ok = false;
    }
    close(fd);
    ok = DeviceEndJob(job, device) && ok;
    return ok;
}

const char* TestPageCallback(pappl_printer_t* printer, char* buffer, size_t bufsize)
{
    const Driver* driver = PrinterDriver(printer);
    if (!driver)
        return nullptr;
    return WriteTestPage(*driver, buffer, bufsize) ? buffer : nullptr;
}

// Labels for the web interface: attribute names and keyword values.
std::string StringsData()
{
    std::string s;
    auto add = [&s](const std::string& key, const std::string& text) {
        s += "\"" + key + "\" = \"" + text + "\";\n";
    };
    for (const VendorOption& o : VendorOptions()) {
        add(o.attr, o.label);
        for (const VendorOption::Value& v : o.values)
            add(std::string(o.attr) + "." + v.ipp, v.label);
    }
    add(kTrackingAttr, "Media sensing");
    add(std::string(kTrackingAttr) + ".media-tracking", "As media tracking says");
    add(std::string(kTrackingAttr) + ".perforated", "Perforated (the printer's own setting)");
    add(std::string(kTrackingAttr) + ".recording", "Recording paper (blank ends trimmed)");
    add(kDarknessAttr, "Darkness from");
    add(std::string(kDarknessAttr) + ".printer", "The printer's own setting");
    add(std::string(kDarknessAttr) + ".configured", "Printer darkness below");
    return s;
}

void AddVendorAttribute(const Driver& driver, const VendorOption& o, pappl_pr_driver_data_t* data,
                        ipp_t* attrs)
{
    const Driver::Setting* s = driver.Find(o.keyword);
    const std::string sup = std::string(o.attr) + "-supported";
    const std::string def = std::string(o.attr) + "-default";
    const std::string value = ValueForChoice(o, s->defaultChoice);
    switch (o.kind) {
    case VendorOption::kKeyword: {
        std::vector<const char*> values;
        for (const VendorOption::Value& v : o.values)
            for (const std::string& c : s->choices)
                if (c == v.choice)
                    values.push_back(v.ipp);
        ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, sup.c_str(),
                      static_cast<int>(values.size()), nullptr, values.data());
        ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr, value.c_str());
        break;
    }
    case VendorOption::kInteger: {
        // The range the PPD's choices span, within the option's.
        int lo = o.max, hi = o.min;
        for (const std::string& c : s->choices) {
            const int n = std::atoi(c.c_str());
            lo = n < lo ? n : lo;
            hi = n > hi ? n : hi;
        }
        ippAddRange(attrs, IPP_TAG_PRINTER, sup.c_str(), lo, hi);
        ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, def.c_str(), std::atoi(value.c_str()));
        break;
    }
    case VendorOption::kBoolean:
        ippAddBoolean(attrs, IPP_TAG_PRINTER, sup.c_str(), 1);
        ippAddBoolean(attrs, IPP_TAG_PRINTER, def.c_str(), value == "true");
        break;
    }
    data->vendor[data->num_vendor++] = o.attr;
}

} // namespace

const char* RawFormat(int model)
{
    switch (model) {
    case kModelTSPL:
        return "application/vnd.bandrill-tspl";
    case kModelESCPOS:
        return "application/vnd.bandrill-escpos";
    case kModelCPCL:
        return "application/vnd.bandrill-cpcl";
    case kModelPaperang:
        return "application/vnd.bandrill-paperang";
    case kModelPeriPage:
        return "application/vnd.bandrill-peripage";
    default:
        return nullptr;
    }
}

bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char*, pappl_pr_driver_data_t* data, ipp_t** attrs, void*)
{
    const Driver* driver = FindDriver(driver_name);
    if (!driver) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver '%s'.", driver_name);
        return false;
    }
    // A new printer's device is checked here; a printer of the saved state
    // is kept (its jobs fail with the reason) rather than dropped.
    std::string why;
    if (!CheckNewDeviceUri(device_uri, why)) {
        if (papplSystemIsRunning(system)) {
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer not added: device '%s': %s",
                     device_uri ? device_uri : "", why.c_str());
            return false;
        }
        papplLog(system, PAPPL_LOGLEVEL_WARN, "Device '%s': %s", device_uri ? device_uri : "",
                 why.c_str());
    }

    static std::once_flag strings;
    std::call_once(strings, [system] {
        static const std::string text = StringsData();
        papplSystemAddStringsData(system, "/en.strings", "en", text.c_str());
        papplSystemSetEventCallback(system, JobEvent, nullptr);
    });

    data->printfile_cb = PrintFile;
    data->rstartjob_cb = StartJob;
    data->rstartpage_cb = StartPage;
    data->rwriteline_cb = WriteLine;
    data->rendpage_cb = EndPage;
    data->rendjob_cb = EndJob;
    data->testpage_cb = TestPageCallback;
    data->format = RawFormat(driver->model);
    std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", driver->description);
    data->ppm = 10;
    data->kind = driver->roll ? static_cast<pappl_kind_t>(PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL)
                              : static_cast<pappl_kind_t>(PAPPL_KIND_LABEL);
    data->orient_default = IPP_ORIENT_NONE;
    data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    // 8-bit grey only: the back ends halftone, PAPPL must not.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = driver->dpi;
    data->x_default = data->y_default = driver->dpi;
    // Margins of 0.01 mm: with none CUPS names every size borderless and
    // falls back to Letter.
    data->borderless = false;
    data->left_right = 1;
    data->bottom_top = 1;

    data->num_media = 0;
    const char* defaultMedia = nullptr;
    for (const MediaSize& m : driver->media) {
        data->media[data->num_media++] = m.pwg;
        if (m.isDefault)
            defaultMedia = m.pwg;
    }
    data->media[data->num_media++] = driver->rangeMin.c_str();
    data->media[data->num_media++] = driver->rangeMax.c_str();

    data->num_source = 1;
    data->source[0] = driver->roll ? "main-roll" : "main";
    data->num_type = 1;
    data->type[0] = driver->roll ? "continuous" : "labels";

    const Driver::Setting* tracking = driver->Find("zeMediaTracking");
    data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    pappl_media_tracking_t trackingDefault = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    if (tracking) {
        data->tracking_supported = 0;
        for (const std::string& c : tracking->choices) {
            const pappl_media_tracking_t t = c == "Continuous" ? PAPPL_MEDIA_TRACKING_CONTINUOUS
                                             : c == "Gap"      ? PAPPL_MEDIA_TRACKING_GAP
                                             : c == "BLine"    ? PAPPL_MEDIA_TRACKING_MARK
                                                               : 0;
            data->tracking_supported |= t;
            if (c == tracking->defaultChoice && t)
                trackingDefault = t;
        }
    }

    pappl_media_col_t& media = data->media_default;
    std::memset(&media, 0, sizeof media);
    if (pwg_media_t* pwg = pwgMediaForPWG(defaultMedia)) {
        media.size_width = pwg->width;
        media.size_length = pwg->length;
    }
    std::snprintf(media.size_name, sizeof media.size_name, "%s", defaultMedia);
    std::snprintf(media.source, sizeof media.source, "%s", data->source[0]);
    std::snprintf(media.type, sizeof media.type, "%s", data->type[0]);
    media.bottom_margin = media.top_margin = 1;
    media.left_margin = media.right_margin = 1;
    media.tracking = trackingDefault;
    data->media_ready[0] = media;

    if (const int levels = DarknessLevels(*driver)) {
        data->darkness_supported = levels;
        data->darkness_configured = 50;
        data->darkness_default = 0;
    }
    if (const int ips = SpeedMax(*driver)) {
        data->speed_supported[0] = 2540;
        data->speed_supported[1] = ips * 2540;
        data->speed_default = 0;
    }

    // Vendor attributes for the settings the driver's PPD lets people choose.
    *attrs = ippNew();
    data->num_vendor = 0;
    for (const VendorOption& o : VendorOptions())
        if (driver->Offers(o) && data->num_vendor < PAPPL_MAX_VENDOR)
            AddVendorAttribute(*driver, o, data, *attrs);
    if (tracking && data->num_vendor < PAPPL_MAX_VENDOR) {
        std::vector<const char*> values = {"media-tracking"};
        for (const std::string& c : tracking->choices) {
            if (c == "Perforated")
                values.push_back("perforated");
            else if (c == "Recording")
                values.push_back("recording");
        }
        if (values.size() > 1) {
            ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD,
                          "bandrill-media-tracking-supported", static_cast<int>(values.size()),
                          nullptr, values.data());
            ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "bandrill-media-tracking-default",
                         nullptr, "media-tracking");
            data->vendor[data->num_vendor++] = kTrackingAttr;
        }
    }
    if (DarknessLevels(*driver) && data->num_vendor < PAPPL_MAX_VENDOR) {
        static const char* const kValues[] = {"printer", "configured"};
        ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "bandrill-darkness-supported", 2,
                      nullptr, kValues);
        ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "bandrill-darkness-default",
                     nullptr, "printer");
        data->vendor[data->num_vendor++] = kDarknessAttr;
    }
    return true;
}

} // namespace bandrill_app
