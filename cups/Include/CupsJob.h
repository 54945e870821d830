// The filter's print job as its back end sees it: the printer stream goes
// to standard output, traces to the system log, cancellation is the
// SIGTERM flag, and a page is prepared only with a PPD and a page header.
#pragma once

#include "RenderJob.h"

class CCupsJob : public CRenderJob {
public:
    // A write larger than kProgressStep goes out in tenths, each but the
    // last followed by the page's progress ("Printing page N, X% complete."
    // and job-media-progress); the bytes are the same.
    bool Write(const void* data, int length) override;
    void LogV(int priority, const char* format, va_list args) override;
    void PreparePage(CBaseRender& render) override;
    // To the scheduler, as INFO:, WARNING: or ERROR: lines.
    void Report(Level level, const char* text) override;
    bool IsCanceled() const override;
    bool OutputFailed() const override;

    // The page loop's bracket: "PAGE: N 1" and "Starting page N.";
    // then 100% complete when the page's bytes went out, and "Finished
    // page N.".
    void PageStarted(int page) override;
    void PageFinished(int page) override;

    // Writes up to this size are not reported piecemeal: they fit the pipe
    // to the backend at once, so their progress would mean nothing.
    static const int kProgressStep = 65536;

private:
    void Progress(int percent);

    long long m_pageBytes = 0;
};

// The keyword -> setting mapping over the render object's PPD: the marked
// choice of each keyword, traced as the filter always has.
void CupsReadSettings(CBaseRender& render);
