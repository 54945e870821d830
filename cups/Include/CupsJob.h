// The filter's print job as its back end sees it: the printer stream goes
// to standard output, traces to the system log, cancellation is the
// SIGTERM flag, and a page is prepared only with a PPD and a page header.
#pragma once

#include "RenderJob.h"

class CCupsJob : public CRenderJob {
public:
    bool Write(const void* data, int length) override;
    void LogV(int priority, const char* format, va_list args) override;
    void PreparePage(CBaseRender& render) override;
    // To the scheduler, as INFO:, WARNING: or ERROR: lines.
    void Report(Level level, const char* text) override;
    bool IsCanceled() const override;
    bool OutputFailed() const override;
};

// The keyword -> setting mapping over the render object's PPD: the marked
// choice of each keyword, traced as the filter always has.
void CupsReadSettings(CBaseRender& render);
