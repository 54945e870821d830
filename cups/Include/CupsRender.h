// Binds a printer back end to CUPS by type: standard output, the system
// log, the queue's PPD and the once-per-job initialisation, the same as a
// plain back end attached to a CCupsJob. Kept for callers that bind a class
// of their own (tests, fuzz targets).
#pragma once

#include <cstdarg>
#include <syslog.h>

#include "CupsJob.h"
#include "CupsLog.h"
#include "CupsOutput.h"

template <class T>
class CCupsRender : public T {
public:
    CCupsRender() {}
    ~CCupsRender() override {}

    void OnBeginBmp() override
    {
        CCupsJob job;
        job.PreparePage(*this);
    }

    void WriteSpool(const void* data, int length) override
    {
        if (length > 0)
            CupsWriteOutput(data, length);
    }

    void AddLog(const char* format, ...) override
    {
        va_list args;
        va_start(args, format);
        CupsLogV(LOG_DEBUG, format, args);
        va_end(args);
    }

    void GetPrinterParameters() override { CupsReadSettings(*this); }
};
