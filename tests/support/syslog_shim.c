/* Test-only interposer of the system log: every trace of the filter process
 * is appended, one per line with its priority, to $BANDRILL_SYSLOG_FILE.
 * Format: "<priority>|<text>\n"; a trailing newline of the text is kept as
 * written, so a trace that ends in "\n" shows as an empty line after it. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

static void shim_write(int priority, const char *format, va_list ap)
{
    const char *path = getenv("BANDRILL_SYSLOG_FILE");
    if (!path)
        return;
    char text[16384];
    int n = snprintf(text, sizeof text, "%d|", priority & LOG_PRIMASK);
    int m = vsnprintf(text + n, sizeof text - (size_t)n - 2, format, ap);
    if (m < 0)
        m = 0;
    size_t len = (size_t)n + ((size_t)m < sizeof text - (size_t)n - 2 ? (size_t)m : sizeof text - (size_t)n - 3);
    text[len++] = '\x1e'; /* record separator: traces may contain line ends */
    text[len++] = '\n';
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return;
    ssize_t w = write(fd, text, len);
    (void)w;
    close(fd);
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
