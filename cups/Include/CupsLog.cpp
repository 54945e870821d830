#include "CupsLog.h"

#include <cstdio>
#include <syslog.h>

namespace {
LogSinkFn g_sink = nullptr;
}

LogSinkFn SetLogSink(LogSinkFn fn)
{
    LogSinkFn old = g_sink;
    g_sink = fn;
    return old;
}

void CupsLogV(int priority, const char* format, va_list args)
{
    if (g_sink) {
        char text[8192];
        std::vsnprintf(text, sizeof text, format, args);
        g_sink(priority, text);
        return;
    }
    vsyslog(priority, format, args);
}

void CupsLog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    CupsLogV(priority, format, args);
    va_end(args);
}
