#include "JobCallbacks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "AppJob.h"
#include "DeviceSchemes.h"
#include "Drivers.h"
#include "JobSettings.h"
#include "PrinterStatus.h"
#include "TestPage.h"

namespace bandrill_app {

// The printer's driver. PAPPL 1.3.1 keeps the name "auto" for a printer
// whose driver was detected; its make and model is the driver's then.
const Driver* DriverOf(pappl_printer_t* printer)
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

namespace {

CAppJob* JobOf(pappl_job_t* job)
{
    return static_cast<CAppJob*>(papplJobGetData(job));
}

// The longest page the printer takes, in hundredths of a millimetre (its
// longest custom or roll size); 0 when unknown.
unsigned LongestMedia(const Driver& driver)
{
    unsigned longest = 0;
    auto consider = [&](const char* name) {
        if (const pwg_media_t* m = pwgMediaForPWG(name))
            longest = std::max(longest, static_cast<unsigned>(m->length));
    };
    consider(driver.rangeMax.c_str());
    for (const MediaSize& m : driver.media)
        consider(m.pwg.c_str());
    return longest;
}

// Releases the job's state and back end.
void EndJobData(pappl_job_t* job)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return;
    papplJobSetData(job, nullptr);
    delete aj;
}

} // namespace

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    const Driver* driver = DriverOf(papplJobGetPrinter(job));
    if (!driver) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "No printer family for this driver.");
        return false;
    }
    if (!DeviceStartJob(job, device, driver->model))
        return false;
    if (!WaitUntilPrinterReady(job, device)) {
        DeviceEndJob(job, device);
        return false;
    }
    CAppJob* aj = new CAppJob(job, device, driver->family->create());
    papplJobSetData(job, aj);
    // A raster document's page count, when it says (PWG TotalPageCount,
    // else the client's job-impressions). PAPPL ends a raster cut off
    // between pages as if it were whole.
    const char* format = papplJobGetFormat(job);
    if (format && (!std::strcmp(format, "image/pwg-raster") || !std::strcmp(format, "image/urf")))
        aj->SetExpectedPages(papplJobGetImpressions(job));
    aj->SetLongestMedia(LongestMedia(*driver));

    CJobSettings settings(*driver, job, options);
    ApplySettings(aj->Render(), settings);
    for (const std::string& s : settings.Log())
        papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s", s.c_str());
    aj->Render().SetModelName(driver->description);
    // Copies made by the printer: in whole sets, as the documents' own
    // copies are sent.
    if (const int copies = PrinterCopies(*driver, job, options); copies > 1) {
        aj->Render().SetCopies(copies, true);
        papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "copies made by the printer: %d", copies);
    }
    aj->Print().Begin();
    if (aj->OutputFailed()) {
        // Released now: PAPPL need not call the end callback after a
        // failed start (and EndJob then finds nothing).
        EndJobData(job);
        DeviceEndJob(job, device);
        return false;
    }
    return true;
}

// A page wider than the head (a client is free to send Letter) keeps its
// left part, cut after rotation as the filter cuts it; a page the core
// refuses is passed over as the filter does: its lines are dropped, the
// user is told why, and the job ends aborted. A page longer than the
// longest media ends the job at once (PAPPL would hand over all its lines).
bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               unsigned page)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    // Between pages the last page has left the link: a printer that
    // answers is asked again (where that is cheap), so that the next page
    // waits for paper.
    // Cancelled meanwhile, the page is passed over as one cancelled while
    // its lines come.
    if (page > 1 && !WaitUntilPrinterReady(job, device, true) && aj->IsCanceled())
        return true;
    const cups_page_header2_t& h = options->header;
    // In dots at the page's resolution, a dot over for rounding.
    const unsigned long long longest =
        aj->LongestMedia() ? (aj->LongestMedia() * 1ULL * h.HWResolution[1] + 2539) / 2540 + 1 : 0;
    if (longest && h.cupsHeight > longest) {
        aj->Fail("Page %u is %u dots long; the longest the printer takes is %llu.", page,
                 h.cupsHeight, longest);
        papplJobSetImpressionsCompleted(job, -1);
        return false;
    }
    aj->Print().BeginPage(h);
    return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
               const unsigned char* line)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    // PAPPL pads a cancelled page with white to its end: not taken.
    if (!aj->IsCanceled())
        aj->Print().AddLine(line);
    return true;
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    // A page cancelled while its lines came is not printed.
    const bool printed = !aj->IsCanceled() && aj->Print().EndPage();
    // PAPPL goes on as if a page cut short by the end of the document were
    // whole: it is printed as the filter prints it (the rest white, with a
    // warning), and the job ends aborted.
    if (printed && aj->Print().PageCut()) {
        papplJobSetReasons(job, PAPPL_JREASON_ERRORS_DETECTED, PAPPL_JREASON_NONE);
        aj->SetCut();
    }
    // A page counts as printed once the link has taken all of it.
    const bool ok = !aj->OutputFailed() && DeviceEndPage(job, device);
    // PAPPL 1.3.1 counts a streamed raster page completed when it begins,
    // an image's page once this callback returns true: one not printed
    // whole (refused, cancelled, or the printer failed) is taken off again
    // where it is or will be counted.
    const bool counted = papplJobGetImpressionsCompleted(job) - aj->ImpressionsAtStart() >=
                         aj->Print().Pages();
    if ((!printed || !ok) && (counted || ok)) {
        papplJobSetImpressionsCompleted(job, -1);
        aj->PageTakenOff();
    }
    return ok;
}

// Completed only once the printer has taken the last byte.
bool EndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->Print().End();
    bool ok = !aj->OutputFailed() && !aj->ErrorsReported() && !aj->Cut();
    // A document cut off between pages: PAPPL ends it as if it were whole.
    const int pages = aj->Print().Pages();
    if (ok && !aj->IsCanceled() && aj->ExpectedPages() > pages) {
        aj->Fail("The document has %d pages; only %d arrived.", aj->ExpectedPages(), pages);
        ok = false;
    }
    EndJobData(job);
    ok = DeviceEndJob(job, device) && ok;
    return ok;
}

bool PrintFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    const char* path = papplJobGetFilename(job);
    const int fd = path ? open(path, O_RDONLY) : -1;
    if (fd < 0) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the document: %s", strerror(errno));
        return false;
    }
    const Driver* driver = DriverOf(papplJobGetPrinter(job));
    if (!DeviceStartJob(job, device, driver ? driver->model : 0)) {
        close(fd);
        return false;
    }
    if (!WaitUntilPrinterReady(job, device)) {
        DeviceEndJob(job, device);
        close(fd);
        return false;
    }
    const int copies = options->copies > 0 ? options->copies : 1;
    bool ok = true;
    char buffer[65536];
    for (int c = 0; ok && c < copies && !papplJobIsCanceled(job); ++c) {
        lseek(fd, 0, SEEK_SET);
        ssize_t n = 0;
        // A cancelled job stops at the next piece: a printer that reads
        // slowly would otherwise be sent the rest of a large document.
        while (!papplJobIsCanceled(job) && (n = read(fd, buffer, sizeof buffer)) > 0)
            if (papplDeviceWrite(device, buffer, static_cast<size_t>(n)) < 0) {
                DeviceFailed(job, device, errno);
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

const char* TestPage(pappl_printer_t* printer, char* buffer, size_t bufsize)
{
    const Driver* driver = DriverOf(printer);
    if (!driver)
        return nullptr;
    return WriteTestPage(*driver, buffer, bufsize) ? buffer : nullptr;
}

} // namespace bandrill_app
