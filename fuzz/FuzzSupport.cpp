#include "FuzzSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz_support {

namespace {
// Standard error as it was before any capture.
FILE* g_realStderr = stderr;
} // namespace

void CheckFailed(const char* cond, const char* file, int line, const std::string& what)
{
    std::fprintf(g_realStderr, "\n*** fuzz check failed at %s:%d: %s\n*** %s\n", file, line,
                 cond, what.c_str());
    std::fflush(g_realStderr);
    std::abort();
}

std::string Text(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

bool IsPageNotSent(const char* trace)
{
    static const char* const kWho[] = {"OnPaintBmp: ", "SendBitmap_withHFM: "};
    for (const char* who : kWho)
        if (std::strncmp(trace, who, std::strlen(who)) == 0 && std::strstr(trace, "page not sent"))
            return true;
    return false;
}

CMemFile::CMemFile(const char* name) : m_fd(memfd_create(name, MFD_CLOEXEC))
{
    if (m_fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
}

CMemFile::~CMemFile()
{
    close(m_fd);
}

bool CMemFile::Set(const void* data, size_t size)
{
    if (ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0)
        return false;
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(m_fd, p + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string CMemFile::Get() const
{
    std::string s;
    char chunk[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = pread(m_fd, chunk, sizeof chunk, at);
        if (n <= 0)
            break;
        s.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    return s;
}

CStderrCapture::CStderrCapture() : m_file("stderr"), m_fp(fdopen(dup(m_file.Fd()), "w"))
{
    if (!m_fp) {
        std::perror("fdopen");
        std::abort();
    }
    setvbuf(m_fp, nullptr, _IONBF, 0);
}

CStderrCapture::~CStderrCapture()
{
    std::fclose(m_fp);
}

void CStderrCapture::Begin()
{
    m_file.Clear();
    std::fseek(m_fp, 0, SEEK_SET);
    m_saved = stderr;
    stderr = m_fp;
}

std::string CStderrCapture::End()
{
    std::fflush(m_fp);
    stderr = m_saved;
    return m_file.Get();
}

} // namespace fuzz_support
