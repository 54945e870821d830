/* Test-only interposer of the system log: every trace of the filter process
 * is appended, one per line with its priority, to $BANDRILL_SYSLOG_FILE.
 * Format: "<priority>|<text>\n"; a trailing newline of the text is kept as
 * written, so a trace that ends in "\n" shows as an empty line after it.
 *
 * The shim stands in for the system log socket too: a connect to it is
 * answered here, as reachable, or as absent when $BANDRILL_SYSLOG_ABSENT
 * is set, and recorded as "connect|<path>". Other connects pass through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

static void shim_append(const char *text, size_t len)
{
    const char *path = getenv("BANDRILL_SYSLOG_FILE");
    if (!path)
        return;
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return;
    ssize_t w = write(fd, text, len);
    (void)w;
    close(fd);
}

static void shim_write(int priority, const char *format, va_list ap)
{
    char text[16384];
    int n = snprintf(text, sizeof text, "%d|", priority & LOG_PRIMASK);
    int m = vsnprintf(text + n, sizeof text - (size_t)n - 2, format, ap);
    if (m < 0)
        m = 0;
    size_t len = (size_t)n + ((size_t)m < sizeof text - (size_t)n - 2 ? (size_t)m : sizeof text - (size_t)n - 3);
    text[len++] = '\x1e'; /* record separator: traces may contain line ends */
    text[len++] = '\n';
    shim_append(text, len);
}

void vsyslog(int priority, const char *format, va_list ap)
{
    shim_write(priority, format, ap);
}

void syslog(int priority, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    shim_write(priority, format, ap);
    va_end(ap);
}

void __vsyslog_chk(int priority, int flag, const char *format, va_list ap)
{
    (void)flag;
    shim_write(priority, format, ap);
}

void __syslog_chk(int priority, int flag, const char *format, ...)
{
    va_list ap;
    (void)flag;
    va_start(ap, format);
    shim_write(priority, format, ap);
    va_end(ap);
}

int connect(int fd, const struct sockaddr *addr, socklen_t len)
{
    const struct sockaddr_un *un = (const struct sockaddr_un *)addr;
    if (addr && addr->sa_family == AF_UNIX && len > offsetof(struct sockaddr_un, sun_path) &&
        strncmp(un->sun_path, _PATH_LOG, sizeof un->sun_path) == 0) {
        char text[sizeof un->sun_path + 16];
        int n = snprintf(text, sizeof text, "connect|%s\x1e\n", _PATH_LOG);
        shim_append(text, (size_t)n);
        if (getenv("BANDRILL_SYSLOG_ABSENT")) {
            errno = ENOENT;
            return -1;
        }
        return 0;
    }
    int (*real)(int, const struct sockaddr *, socklen_t) =
        (int (*)(int, const struct sockaddr *, socklen_t))dlsym(RTLD_NEXT, "connect");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, addr, len);
}
