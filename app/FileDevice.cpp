#include "FileDevice.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bandrill_app {

namespace {

// The path an open descriptor stands for.
std::string PathOf(int fd)
{
    char link[64], target[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return std::string();
    return std::string(target, static_cast<size_t>(n));
}

} // namespace

std::string JobFileName(int jobId, const std::string& jobName, const std::string& ext)
{
    std::string name;
    for (char c : jobName) {
        if (name.size() >= 64)
            break;
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ||
                          c == '-';
        if (keep)
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && (name.back() == '_' || name.back() == '.'))
        name.pop_back();
    std::string file = "job-" + std::to_string(jobId);
    if (!name.empty())
        file += "-" + name;
    return file + "." + ext;
}

CFileLink::CFileLink(const std::string& uri, std::vector<std::string> allowedDirs)
    : m_uri(uri), m_allowed(std::move(allowedDirs))
{
}

std::string CFileLink::Describe() const
{
    if (m_device.path.empty())
        return m_uri;
    return (m_device.kind == FileDevice::kDirectory ? "the folder " : "the device ") +
           m_device.path;
}

bool CFileLink::Paced() const
{
    return m_device.kind == FileDevice::kCharDevice &&
           m_device.path.compare(0, 9, "/dev/usb/") != 0;
}

void CFileLink::JobChanged()
{
    // One file per job: the next job opens its own.
    if (m_device.kind == FileDevice::kDirectory)
        Disconnect();
}

std::string CFileLink::DroppedText(int err) const
{
    if (m_device.kind == FileDevice::kDirectory)
        return "Cannot write " + m_file + ": " + std::strerror(err) + ".";
    return CLink::DroppedText(err);
}

int CFileLink::Open()
{
    std::string error;
    if (!CheckFileDevice(m_uri, m_allowed, m_device, error)) {
        // A folder that is not there (yet) may come back: the job waits.
        Fail(m_device.missing ? kUnreachable : kRefused, error);
        return -1;
    }
    if (m_device.kind == FileDevice::kCharDevice) {
        const int fd = open(m_device.path.c_str(),
                            O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            Fail(kUnreachable, "Cannot open " + m_device.path + ": " + std::strerror(err) + ".");
            return -1;
        }
        struct stat info;
        if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) ||
            !IsPrinterCharDevicePath(PathOf(fd))) {
            close(fd);
            Fail(kRefused, m_device.path + " changed into something that is not a printer device.");
            return -1;
        }
        return fd;
    }
    const int dir = open(m_device.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        const int err = errno;
        Fail(err == ENOENT ? kUnreachable : kRefused,
             "Cannot open the folder " + m_device.path + ": " + std::strerror(err) + ".");
        return -1;
    }
    // The folder as opened, whatever happened to its path since the check.
    const std::string real = PathOf(dir);
    if (!IsInsideDirs(real, m_allowed)) {
        close(dir);
        Fail(kRefused, m_device.path + " now leads to " + real +
                           ", which is not a folder printers may write to.");
        return -1;
    }
    const std::string base = JobFileName(m_jobId, m_jobName.empty() ? "" : m_jobName, m_device.ext);
    const std::string stem = base.substr(0, base.size() - m_device.ext.size() - 1);
    int fd = -1;
    std::string name = base;
    for (int n = 2; fd < 0 && n < 1000; ++n) {
        fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
        if (fd < 0)
            name = stem + "~" + std::to_string(n) + "." + m_device.ext;
    }
    const int err = errno;
    close(dir);
    if (fd < 0) {
        Fail(kUnreachable, "Cannot create a file in " + m_device.path + ": " +
                               std::strerror(err) + ".");
        return -1;
    }
    m_file = real + "/" + name;
    return fd;
}

} // namespace bandrill_app
