#include "JobCallbacks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "AppJob.h"
#include "DocumentCheck.h"
#include "Drivers.h"
#include "JobSettings.h"
#include "PrinterStatus.h"
#include "TestPage.h"

namespace bandrill_app {

namespace {

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
    papplJobSetData(job, nullptr);
    delete aj;
}

} // namespace

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    const Driver* driver = FindDriver(papplPrinterGetDriverName(papplJobGetPrinter(job)));
    if (!driver) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "No printer family for this driver.");
        return false;
    }
    if (TakeDamaged(job)) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "The image document is damaged or incomplete.");
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The image document is damaged or incomplete.");
        return false;
    }
    if (!WaitUntilPrinterReady(job, device))
        return false;
    CAppJob* aj = new CAppJob(job, device, driver->family->create());
    papplJobSetData(job, aj);

    CJobSettings settings(*driver, job, options);
    ApplySettings(aj->Render(), settings);
    for (const std::string& s : settings.Log())
        papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s", s.c_str());
    aj->Render().SetModelName(driver->description);
    aj->Print().Begin();
    if (aj->OutputFailed()) {
        // Released now: PAPPL need not call the end callback after a
        // failed start (and EndJob then finds nothing).
        EndJobData(job);
        return false;
    }
    return true;
}

// A page wider than the head (a client is free to send Letter) keeps its
// left part, cut after rotation as the filter cuts it; a page the core
// refuses is passed over as the filter does: its lines are dropped and the
// user is told why.
bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->Print().BeginPage(options->header);
    return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
               const unsigned char* line)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->Print().AddLine(line);
    return true;
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->Print().EndPage();
    return !aj->OutputFailed();
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
    CAppJob* aj = JobOf(job);
    if (!aj)
        return false;
    aj->Print().End();
    const bool ok = !aj->OutputFailed();
    EndJobData(job);
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
    if (!WaitUntilPrinterReady(job, device)) {
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
    return ok;
}

const char* TestPage(pappl_printer_t* printer, char* buffer, size_t bufsize)
{
    const Driver* driver = FindDriver(papplPrinterGetDriverName(printer));
    if (!driver)
        return nullptr;
    return WriteTestPage(*driver, buffer, bufsize) ? buffer : nullptr;
}

} // namespace bandrill_app
