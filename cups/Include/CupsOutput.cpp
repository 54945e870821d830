#include "CupsOutput.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "CupsMessages.h"

namespace {
int g_fd = 1;
bool g_failed = false;
}

void CupsSetOutputFd(int fd) { g_fd = fd; }

void CupsResetOutput()
{
    g_fd = 1;
    g_failed = false;
}

bool CupsOutputFailed() { return g_failed; }

bool CupsWriteOutput(const void* data, int length)
{
    if (g_failed)
        return false;
    if (length <= 0 || !data)
        return true;
    const char* p = static_cast<const char*>(data);
    size_t left = static_cast<size_t>(length);
    while (left > 0) {
        const ssize_t n = write(g_fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            g_failed = true;
            _cupsLangPrintError("ERROR", "Unable to write print data");
            return false;
        }
        if (n == 0) {
            // A descriptor that accepts nothing will not accept more later.
            errno = EIO;
            g_failed = true;
            _cupsLangPrintError("ERROR", "Unable to write print data");
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    fflush(stdout);
    return true;
}
