#include "DocumentCheck.h"

#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <unistd.h>
#include <utility>

#include "PngCheck.h"

namespace bandrill_app {

namespace {

// Jobs whose image document was found damaged, by printer and job ID.
std::mutex g_damagedLock;
std::set<std::pair<pappl_printer_t*, int>> g_damaged;

} // namespace

bool TakeDamaged(pappl_job_t* job)
{
    std::lock_guard<std::mutex> lock(g_damagedLock);
    return g_damaged.erase({papplJobGetPrinter(job), papplJobGetID(job)}) > 0;
}

void CheckJobDocument(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job,
                      pappl_event_t event, void*)
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

} // namespace bandrill_app
