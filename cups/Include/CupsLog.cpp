#include "CupsLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace {

LogSinkFn g_sink = nullptr;

enum SystemLog { kLogUnknown, kLogReachable, kLogAbsent };
SystemLog g_systemLog = kLogUnknown;

// Whether the system log socket takes a connection, tried the way the C
// library's syslog connects (datagram first, stream when the socket is of
// that type). While it cannot connect, syslog tries again for every
// message: one probe per process stands for them all.
bool SystemLogReachable()
{
    static const int kTypes[] = {SOCK_DGRAM, SOCK_STREAM};
    for (const int type : kTypes) {
        const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_un addr;
        std::memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, _PATH_LOG, sizeof addr.sun_path - 1);
        const int rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        const int error = errno;
        close(fd);
        if (rc == 0)
            return true;
        if (error != EPROTOTYPE)
            return false;
    }
    return false;
}

} // namespace

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
    if (g_systemLog == kLogUnknown) {
        const int saved = errno;
        g_systemLog = SystemLogReachable() ? kLogReachable : kLogAbsent;
        errno = saved;
    }
    // Without a system log the trace would be lost anyway.
    if (g_systemLog == kLogReachable)
        vsyslog(priority, format, args);
}

void CupsLog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    CupsLogV(priority, format, args);
    va_end(args);
}
