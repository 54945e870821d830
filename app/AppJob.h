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

    // Whether an error was reported (a page refused): the job ends aborted.
    bool ErrorsReported() const { return m_errors; }
    // A page ended before all its lines came.
    void SetCut() { m_cut = true; }
    bool Cut() const { return m_cut; }
    // The document's page count (0: not said) and the longest page the
    // printer takes in hundredths of a millimetre (0: unknown).
    void SetExpectedPages(int pages) { m_expectedPages = pages; }
    int ExpectedPages() const { return m_expectedPages; }
    void SetLongestMedia(unsigned length) { m_longestMedia = length; }
    unsigned LongestMedia() const { return m_longestMedia; }
    // The job fails with a reason the user sees.
    void Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));

    CBaseRender& Render() { return *m_render; }
    CPrintJob& Print() { return m_print; }
    // The impressions PAPPL had counted when the job started.
    int ImpressionsAtStart() const { return m_impressionsAtStart; }
    // A page taken off PAPPL's count: the count since the start stays
    // comparable with the pages begun.
    void PageTakenOff() { --m_impressionsAtStart; }

private:
    pappl_job_t* m_job;
    int m_impressionsAtStart;
    pappl_device_t* m_device;
    CStdRefPtr<CBaseRender> m_render;
    CPrintJob m_print;
    bool m_errors = false;
    bool m_cut = false;
    int m_expectedPages = 0;
    unsigned m_longestMedia = 0;
};

// A write to device failed with error (an errno value, 0 if unknown): the
// job says why, unless the device's link has said it already. A full disk (a file:// device) also stops the printer,
// so that the jobs after this one wait until there is room instead of being
// taken and failing one by one.
void DeviceFailed(pappl_job_t* job, pappl_device_t* device, int error);

} // namespace bandrill_app
