#include "AppJob.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "DeviceSchemes.h"

namespace bandrill_app {

CAppJob::CAppJob(pappl_job_t* job, pappl_device_t* device, CBaseRender* render)
    : m_job(job), m_impressionsAtStart(papplJobGetImpressionsCompleted(job)), m_device(device),
      m_print(*render, *this)
{
    m_render = MakeRefPtr<CBaseRender>(render);
    m_render->SetJob(this);
}

CAppJob::~CAppJob()
{
    m_render->SetJob(nullptr);
}

bool CAppJob::Write(const void* data, int length)
{
    if (OutputFailed())
        return false;
    if (length <= 0)
        return true;
    if (papplDeviceWrite(m_device, data, static_cast<size_t>(length)) < 0) {
        DeviceFailed(m_job, m_device, errno);
        SetOutputFailed();
        return false;
    }
    return true;
}

void CAppJob::LogV(int priority, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == '\n')
        text[--n] = '\0';
    papplLogJob(m_job, priority <= 3 ? PAPPL_LOGLEVEL_ERROR : PAPPL_LOGLEVEL_DEBUG, "%s", text);
}

void CAppJob::Report(Level level, const char* text)
{
    static const pappl_loglevel_t kLevel[] = {PAPPL_LOGLEVEL_INFO, PAPPL_LOGLEVEL_WARN,
                                              PAPPL_LOGLEVEL_ERROR};
    papplLogJob(m_job, kLevel[level], "%s", text);
    papplJobSetMessage(m_job, "%s", text);
    if (level == kWarning)
        papplJobSetReasons(m_job, PAPPL_JREASON_WARNINGS_DETECTED, PAPPL_JREASON_NONE);
    else if (level == kError) {
        papplJobSetReasons(m_job, PAPPL_JREASON_ERRORS_DETECTED, PAPPL_JREASON_NONE);
        m_errors = true;
    }
}

void CAppJob::Fail(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Report(kError, text);
}

bool CAppJob::IsCanceled() const
{
    return papplJobIsCanceled(m_job);
}

void DeviceFailed(pappl_job_t* job, pappl_device_t* device, int error)
{
    if (!DeviceFailureReported(device, error)) {
        const char* why = error ? std::strerror(error) : "the device failed";
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to write to the printer: %s.", why);
        papplJobSetMessage(job, "Unable to write to the printer: %s.", why);
        papplJobSetReasons(job, PAPPL_JREASON_ERRORS_DETECTED, PAPPL_JREASON_NONE);
    }
    const bool full = error == ENOSPC || error == EDQUOT;
    if (full) {
        pappl_printer_t* printer = papplJobGetPrinter(job);
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR,
                        "The printer's output disk is full; stopped until it is resumed.");
        papplPrinterSetReasons(printer, PAPPL_PREASON_OTHER, PAPPL_PREASON_NONE);
        papplPrinterPause(printer);
    }
}

} // namespace bandrill_app
