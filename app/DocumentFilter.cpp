#include "DocumentFilter.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DocumentFormat.h"
#include "Drivers.h"
#include "GreyImage.h"
#include "JobCallbacks.h"
#include "JobSettings.h"
#include "PagePlacement.h"
#include "PdfPages.h"
#include "TextPages.h"

namespace bandrill_app {

namespace {

using LineFn = std::function<bool(int, const unsigned char*)>;

// The formats the filter takes. PAPPL looks for a filter to the driver's own
// format before one to raster, so this one is used for PNG and JPEG too,
// not PAPPL's: those are placed as PDF pages are, and a roll takes their
// length.
const char* const kSources[] = {"application/pdf", "image/png", "image/jpeg", "text/plain",
                                "application/octet-stream"};

const char* TypeUntyped(const unsigned char* header, size_t size, void*)
{
    return SniffFormat(header, size);
}

void Refuse(pappl_job_t* job, const std::string& reason)
{
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
    papplJobSetMessage(job, "%s", reason.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
}

// Where the pages go: the label, or the roll and the longest page it takes.
struct Target {
    const Driver* driver;
    int dpi;
    int width;  // dots: the medium's, at most the head's
    int length; // dots: the label's, or the roll's longest page
    bool roll;
    FitChoice fit;
    int orientation;
};

FitChoice FitFor(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options)
{
    // A client's print-scaling none or fit stands unless it says
    // bandrill-fit too.
    if (!papplJobGetAttribute(job, "bandrill-fit"))
        if (ipp_attribute_t* a = papplJobGetAttribute(job, "print-scaling")) {
            const char* s = ippGetString(a, 0, nullptr);
            if (s && std::strcmp(s, "none") == 0)
                return kFitNone;
            if (s && std::strcmp(s, "fit") == 0)
                return kFitPage;
        }
    const SettingRow* row = FindDocumentSettingByAttr("bandrill-fit");
    CJobSettings settings(driver, job, options);
    const SettingValue v = row ? settings.Value(*row) : SettingValue::None();
    return v.state == SettingValue::kValue ? static_cast<FitChoice>(v.value) : kFitPage;
}

Target TargetFor(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options)
{
    Target t;
    t.driver = &driver;
    t.dpi = options->header.HWResolution[0] ? static_cast<int>(options->header.HWResolution[0]) : driver.dpi;
    t.width = static_cast<int>(options->header.cupsWidth);
    if (t.width <= 0 || t.width > driver.headDots)
        t.width = driver.headDots;
    t.roll = driver.roll;
    t.length = static_cast<int>(options->header.cupsHeight);
    if (t.roll) {
        const pwg_media_t* longest = pwgMediaForPWG(driver.rangeMax.c_str());
        t.length = longest ? static_cast<int>(static_cast<long long>(longest->length) * t.dpi / 2540) : 24000;
    }
    if (t.length <= 0)
        t.length = t.width;
    t.fit = FitFor(driver, job, options);
    t.orientation = options->orientation_requested;
    return t;
}

// The document's pages through the driver's raster callbacks.
class CPagePrinter {
public:
    CPagePrinter(pappl_job_t* job, pappl_device_t* device, pappl_pr_options_t* options)
        : m_job(job), m_device(device), m_options(options)
    {
    }

    bool Start(int pages)
    {
        papplJobSetImpressions(m_job, pages);
        m_options->header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = static_cast<unsigned>(pages);
        m_started = StartJob(m_job, m_options, m_device);
        return m_started;
    }

    // One page of width x length dots whose lines render gives; false when
    // the job stops (cancelled, or a page that could not be made or sent:
    // a page not made whole is not printed).
    bool Page(int width, int length, const std::function<bool(const LineFn&)>& render)
    {
        cups_page_header2_t& h = m_options->header;
        const double dpi = h.HWResolution[0] ? h.HWResolution[0] : 203;
        h.cupsWidth = static_cast<unsigned>(width);
        h.cupsHeight = static_cast<unsigned>(length);
        h.cupsBytesPerLine = static_cast<unsigned>(width);
        h.PageSize[0] = static_cast<unsigned>(width * 72 / dpi + 0.5);
        h.PageSize[1] = static_cast<unsigned>(length * 72 / dpi + 0.5);
        h.cupsPageSize[0] = static_cast<float>(width * 72 / dpi);
        h.cupsPageSize[1] = static_cast<float>(length * 72 / dpi);
        if (!StartPage(m_job, m_options, m_device, ++m_page))
            return false;
        bool sent = true;
        const LineFn line = [&](int y, const unsigned char* pixels) {
            if (!WriteLine(m_job, m_options, m_device, static_cast<unsigned>(y), pixels)) {
                sent = false;
                return false;
            }
            return (y & 63) != 63 || !papplJobIsCanceled(m_job);
        };
        if (!render(line) || !sent || !EndPage(m_job, m_options, m_device, m_page))
            return false;
        papplJobSetImpressionsCompleted(m_job, 1);
        return true;
    }

    bool Finish(bool ok)
    {
        if (m_started)
            ok = EndJob(m_job, m_options, m_device) && ok;
        m_started = false;
        return ok;
    }

    ~CPagePrinter() { Finish(false); }

private:
    pappl_job_t* m_job;
    pappl_device_t* m_device;
    pappl_pr_options_t* m_options;
    bool m_started = false;
    unsigned m_page = 0;
};

struct OptionsDeleter {
    void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};
using Options = std::unique_ptr<pappl_pr_options_t, OptionsDeleter>;

// The copies rendered and sent: one when the printer makes them
// (StartJob tells the back end how many).
int Copies(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options)
{
    if (PrinterCopies(driver, job, options) > 1)
        return 1;
    return options->copies > 0 ? options->copies : 1;
}

// The pages of 1..pages the job asks for (page-ranges), 0-based.
void PageRange(const pappl_pr_options_t& options, int pages, int& first, int& last)
{
    first = options.first_page > 0 ? static_cast<int>(options.first_page) - 1 : 0;
    last = options.last_page > 0 && options.last_page < static_cast<unsigned>(pages)
               ? static_cast<int>(options.last_page) - 1
               : pages - 1;
}

void LogPlacement(pappl_job_t* job, int page, const Placement& p)
{
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG,
                "Page %d: %dx%d dots, turned %d, scale %.4f dots a unit, region %.1f,%.1f %.1fx%.1f "
                "at %d,%d (%dx%d dots)",
                page + 1, p.width, p.length, p.quarterTurns * 90, p.scale, p.region.x, p.region.y,
                p.region.w, p.region.h, p.left, p.top, p.regionWidth, p.regionLength);
}

bool PrintPdf(pappl_job_t* job, pappl_device_t* device, const Driver& driver, const char* path)
{
    CPdfPages pdf;
    std::string reason;
    if (!pdf.Load(path, reason)) {
        Refuse(job, reason);
        return false;
    }
    const Options options(papplJobCreatePrintOptions(job, static_cast<unsigned>(pdf.Pages()), false));
    if (!options)
        return false;
    const Target t = TargetFor(driver, job, options.get());
    int first, last;
    PageRange(*options, pdf.Pages(), first, last);
    const int copies = Copies(driver, job, options.get());
    CPagePrinter printer(job, device, options.get());
    if (!printer.Start(last >= first ? (last - first + 1) * copies : 0))
        return false;
    // Placed once, printed for every copy.
    std::vector<Placement> placed(static_cast<size_t>(pdf.Pages()));
    std::vector<bool> done(placed.size(), false);
    for (int c = 0; c < copies; ++c)
        for (int i = first; i <= last; ++i) {
            if (papplJobIsCanceled(job))
                return printer.Finish(true);
            if (!pdf.SelectPage(i)) {
                Refuse(job, "Page " + std::to_string(i + 1) + " of the PDF document cannot be read.");
                return printer.Finish(false);
            }
            if (!done[i]) {
                PageRequest r;
                r.pageWidth = pdf.Width();
                r.pageHeight = pdf.Height();
                r.unitsPerDot = 72.0 / t.dpi;
                r.fit = t.fit;
                r.orientation = t.orientation;
                r.roll = t.roll;
                r.width = t.width;
                r.length = t.length;
                if (t.fit == kFitCropToInk)
                    r.hasInk = pdf.FindInk(t.dpi, r.ink);
                placed[i] = PlacePage(r);
                done[i] = true;
                LogPlacement(job, i, placed[i]);
            }
            const Placement& p = placed[i];
            if (!printer.Page(p.width, p.length, [&](const LineFn& line) { return pdf.Render(p, line); })) {
                if (!papplJobIsCanceled(job))
                    Refuse(job, "Page " + std::to_string(i + 1) + " of the PDF document could not be printed.");
                return printer.Finish(papplJobIsCanceled(job));
            }
        }
    return printer.Finish(true);
}

bool PrintImage(pappl_job_t* job, pappl_device_t* device, const Driver& driver, const char* path,
                bool png)
{
    ImageLimits limits;
    papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)), &limits.maxWidth,
                               &limits.maxHeight);
    GreyImage image;
    std::string reason;
    const CancelCheck canceled = [job] { return papplJobIsCanceled(job); };
    const bool decoded = png ? DecodePng(path, limits, canceled, image, reason)
                             : DecodeJpeg(path, limits, canceled, image, reason);
    if (papplJobIsCanceled(job))
        return true;
    if (!decoded) {
        Refuse(job, reason);
        return false;
    }
    const Options options(papplJobCreatePrintOptions(job, 1, false));
    if (!options)
        return false;
    const Target t = TargetFor(driver, job, options.get());
    PageRequest r;
    r.pageWidth = image.width;
    r.pageHeight = image.height;
    r.unitsPerDot = image.ppi > 0 ? image.ppi / t.dpi : 1;
    r.fit = t.fit;
    r.orientation = t.orientation;
    r.roll = t.roll;
    r.width = t.width;
    r.length = t.length;
    if (t.fit == kFitCropToInk)
        r.hasInk = FindInk(image, r.ink);
    const Placement p = PlacePage(r);
    LogPlacement(job, 0, p);
    const int copies = Copies(driver, job, options.get());
    CPagePrinter printer(job, device, options.get());
    if (!printer.Start(copies))
        return false;
    for (int c = 0; c < copies; ++c)
        if (papplJobIsCanceled(job) ||
            !printer.Page(p.width, p.length, [&](const LineFn& line) { return RenderPlaced(image, p, line); }))
            return printer.Finish(papplJobIsCanceled(job));
    return printer.Finish(true);
}

bool PrintText(pappl_job_t* job, pappl_device_t* device, const Driver& driver, const char* path)
{
    CTextPages text;
    std::string reason;
    if (!text.Load(path, reason)) {
        Refuse(job, reason);
        return false;
    }
    const Options options(papplJobCreatePrintOptions(job, 0, false));
    if (!options)
        return false;
    const Target t = TargetFor(driver, job, options.get());
    if (!text.Layout(t.width, t.length, t.dpi, t.roll, reason)) {
        Refuse(job, reason);
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Text: %d columns, %d pages", text.Columns(), text.Pages());
    if (text.Pages() == 0) {
        papplJobSetMessage(job, "The text document is empty: nothing was printed.");
        return true;
    }
    int first, last;
    PageRange(*options, text.Pages(), first, last);
    const int copies = Copies(driver, job, options.get());
    CPagePrinter printer(job, device, options.get());
    if (!printer.Start(last >= first ? (last - first + 1) * copies : 0))
        return false;
    for (int c = 0; c < copies; ++c)
        for (int i = first; i <= last; ++i)
            if (papplJobIsCanceled(job) ||
                !printer.Page(t.width, text.PageLength(i), [&](const LineFn& line) { return text.Render(i, line); }))
                return printer.Finish(papplJobIsCanceled(job));
    return printer.Finish(true);
}

bool PrintRaw(pappl_job_t* job, pappl_device_t* device)
{
    papplJobSetImpressions(job, 1);
    const Options options(papplJobCreatePrintOptions(job, 0, false));
    if (!options || !PrintFile(job, options.get(), device))
        return false;
    papplJobSetImpressionsCompleted(job, 1);
    return true;
}

// papplSystemAddMIMEFilter's callback.
bool PrintDocument(pappl_job_t* job, pappl_device_t* device, void*)
{
    const Driver* driver = DriverOf(papplJobGetPrinter(job));
    const char* path = papplJobGetFilename(job);
    if (!driver || !path) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "No driver or no document for this job.");
        return false;
    }
    const char* sent = papplJobGetFormat(job);
    const char* format = SniffFileFormat(path);
    const std::string is = format ? format : "";
    if (format && sent && is != sent)
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The document sent as %s is %s.", sent,
                    FormatName(format).c_str());
    if (is == "application/pdf")
        return PrintPdf(job, device, *driver, path);
    if (is == "image/png" || is == "image/jpeg")
        return PrintImage(job, device, *driver, path, is == "image/png");
    if (is == "text/plain")
        return PrintText(job, device, *driver, path);
    if (is == driver->family->rawFormat)
        return PrintRaw(job, device);
    const std::string prints = std::string("it prints PDF, PNG, JPEG, plain text, PWG and Apple raster, and ") +
                               driver->family->name + " printer commands.";
    std::string reason;
    if (!format)
        reason = "The document is in no format this printer knows: " + prints;
    else if (is == "image/pwg-raster" || is == "image/urf")
        reason = "The document is " + FormatName(format) + ", which must be sent as " + is + ".";
    else
        reason = "The document is " + FormatName(format) + ", which this printer does not print: " + prints;
    Refuse(job, reason);
    return false;
}

} // namespace

void AddDocumentFilters(pappl_system_t* system)
{
    papplSystemSetMIMECallback(system, TypeUntyped, nullptr);
    for (const PrinterFamily& family : PrinterFamilies())
        for (const char* source : kSources)
            papplSystemAddMIMEFilter(system, source, family.rawFormat, PrintDocument, nullptr);
}

} // namespace bandrill_app
