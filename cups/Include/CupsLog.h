// Trace channel of the filter: the system log.
//
// Production writes every trace with vsyslog, once a probe (the first trace
// of the process) has found the system log socket; without one the traces
// are dropped. Unit tests may install a sink that receives the formatted
// text instead; the filter binary never does.
#pragma once

#include <cstdarg>

using LogSinkFn = void (*)(int priority, const char* text);

void CupsLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void CupsLogV(int priority, const char* format, va_list args);

// Replaces the system log with fn (null restores the system log). Returns
// the previous sink.
LogSinkFn SetLogSink(LogSinkFn fn);
