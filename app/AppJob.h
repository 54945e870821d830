// One raster job of the printer application as the core sees it: the back
// end, the core's page loop, and where the stream, traces and messages go
// (the PAPPL device, the job's log, its state message and reasons).
#pragma once

#include <cstdarg>

#include <pappl/pappl.h>

#include "BaseRender.h"
#include "PrintJob.h"
#include "RenderJob.h"
#include "StdRefPtr.h"

namespace bandrill_app {

class CAppJob : public CRenderJob {
public:
    // Takes over the one reference of render.
    CAppJob(pappl_job_t* job, pappl_device_t* device, CBaseRender* render);
    ~CAppJob() override;

    bool Write(const void* data, int length) override;
    void LogV(int priority, const char* format, va_list args) override;
    // To the job's log, its state message and its state reasons (warnings-
    // or errors-detected).
    void Report(Level level, const char* text) override;
    bool IsCanceled() const override;

    CBaseRender& Render() { return *m_render; }
    CPrintJob& Print() { return m_print; }

private:
    pappl_job_t* m_job;
    pappl_device_t* m_device;
    CStdRefPtr<CBaseRender> m_render;
    CPrintJob m_print;
};

} // namespace bandrill_app
