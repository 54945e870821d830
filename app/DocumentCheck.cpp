#include "DocumentCheck.h"

#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>

#include "ImageHeader.h"
#include "PngCheck.h"

namespace bandrill_app {

namespace {

// Jobs whose image document was refused, by printer and job ID, with the
// reason.
std::mutex g_damagedLock;
std::map<std::pair<pappl_printer_t*, int>, std::string> g_damaged;

} // namespace

bool TakeDamaged(pappl_job_t* job, std::string& reason)
{
    std::lock_guard<std::mutex> lock(g_damagedLock);
    auto it = g_damaged.find({papplJobGetPrinter(job), papplJobGetID(job)});
    if (it == g_damaged.end())
        return false;
    reason = it->second;
    g_damaged.erase(it);
    return true;
}

void CheckJobDocument(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job,
                      pappl_event_t event, void*)
{
    // Once, as the job starts (its data is set once StartJob has run).
    if (!job || !(event & PAPPL_EVENT_JOB_STATE_CHANGED) ||
        papplJobGetState(job) != IPP_JSTATE_PROCESSING || papplJobGetData(job))
        return;
    const char* format = papplJobGetFormat(job);
    const char* path = papplJobGetFilename(job);
    if (!format || !path)
        return;
    const bool png = std::strcmp(format, "image/png") == 0;
    const bool jpeg = std::strcmp(format, "image/jpeg") == 0;
    if (!png && !jpeg)
        return;
    // The header first: a refused size is known without decoding anything.
    ImageLimits limits;
    limits.maxBytes = papplSystemGetMaxImageSize(system, &limits.maxWidth, &limits.maxHeight);
    std::string reason = ImageRefusal(path, png, limits);
    if (reason.empty() && !(png ? PngIsWhole(path) : JpegIsWhole(path)))
        reason = "The image document is damaged or incomplete.";
    if (reason.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(g_damagedLock);
        g_damaged[{printer, papplJobGetID(job)}] = reason;
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
