#include "AppJob.h"

#include <cstdio>
#include <cstring>

namespace bandrill_app {

CAppJob::CAppJob(pappl_job_t* job, pappl_device_t* device, CBaseRender* render)
    : m_job(job), m_device(device), m_print(*render, *this)
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
        papplLogJob(m_job, PAPPL_LOGLEVEL_ERROR, "Unable to write to the printer.");
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
    else if (level == kError)
        papplJobSetReasons(m_job, PAPPL_JREASON_ERRORS_DETECTED, PAPPL_JREASON_NONE);
}

bool CAppJob::IsCanceled() const
{
    return papplJobIsCanceled(m_job);
}

} // namespace bandrill_app
