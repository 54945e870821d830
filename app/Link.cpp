#include "Link.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace bandrill_app {

namespace {

// Every wait is cut into slices of this length, so that a cancelled job or
// a stopping server is seen soon.
const int kSliceMs = 100;
// A cancelled job whose printer takes data still finishes the page being
// sent; one whose printer has taken nothing for this long is given up.
const long long kStopAfterStallUs = 2000000;

} // namespace

long long NowUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int WaitConnected(int fd, int timeoutMs, const std::function<bool()>& stop)
{
    const long long end = NowUs() + static_cast<long long>(timeoutMs) * 1000;
    for (;;) {
        pollfd pf = {fd, POLLOUT, 0};
        const int r = poll(&pf, 1, kSliceMs);
        if (r > 0) {
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
            return err;
        }
        if (r < 0 && errno != EINTR)
            return errno;
        if (stop && stop())
            return ECANCELED;
        if (NowUs() >= end)
            return ETIMEDOUT;
    }
}

CLink::~CLink()
{
    Disconnect();
}

bool CLink::Connect()
{
    if (m_fd >= 0)
        return true;
    if (m_failure == kDropped || m_failure == kTimedOut || m_failure == kStopped)
        return false;
    m_failure = kNone;
    m_error.clear();
    m_fd = Open();
    m_lineFreeUs = 0;
    m_chunkFill = 0;
    return m_fd >= 0;
}

void CLink::Disconnect()
{
    if (m_fd >= 0) {
        Closing(m_fd);
        close(m_fd);
    }
    m_fd = -1;
}

void CLink::BeginJob(int jobId, const std::string& jobName)
{
    m_jobId = jobId;
    m_jobName = jobName;
    m_sent = 0;
    m_chunkFill = 0;
    if (m_failure != kNone) {
        m_failure = kNone;
        m_error.clear();
        m_errno = 0;
    }
    JobChanged();
}

bool CLink::Fail(Failure failure, const std::string& text)
{
    m_failure = failure;
    m_error = text;
    if (failure == kDropped || failure == kTimedOut || failure == kStopped)
        Disconnect();
    return false;
}

std::string CLink::TakeNotes()
{
    std::string notes;
    notes.swap(m_notes);
    return notes;
}

int CLink::Queued(int fd) const
{
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

std::string CLink::TimedOutText() const
{
    std::string text = Describe() + " has taken no data for " +
                       std::to_string(m_pacing.timeoutSec) +
                       " s (out of paper, cover open, switched off or out of reach?); the job "
                       "was not finished.";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string CLink::DroppedText(int err) const
{
    return "The link to " + Describe() + " broke after " + std::to_string(m_sent) +
           " bytes of the job: " + std::strerror(err) + ".";
}

bool CLink::Sleep(int ms)
{
    const long long end = NowUs() + static_cast<long long>(ms) * 1000;
    for (;;) {
        const long long left = end - NowUs();
        if (left <= 0)
            return true;
        if (StopRequested())
            return false;
        const long long slice = left < kSliceMs * 1000 ? left : kSliceMs * 1000;
        timespec ts = {static_cast<time_t>(slice / 1000000), static_cast<long>(slice % 1000000) * 1000};
        nanosleep(&ts, nullptr);
    }
}

ssize_t CLink::Write(const void* data, size_t bytes)
{
    if (m_failure == kDropped || m_failure == kTimedOut || m_failure == kStopped)
        return -1;
    if (!Connect())
        return -1;
    const char* p = static_cast<const char*>(data);
    const size_t chunk = Paced() && m_pacing.chunk > 0 ? static_cast<size_t>(m_pacing.chunk) : 0;
    const long rate = LineRate();
    size_t left = bytes;
    while (left > 0) {
        size_t piece = left;
        if (chunk)
            piece = std::min(piece, chunk - m_chunkFill);
        if (rate > 0) {
            // A serial line sends rate bytes a second whatever the other end
            // does (a pseudo-terminal would take everything at once): writes
            // of 20 ms of line time, each when the line is about to be free.
            const size_t step = static_cast<size_t>(rate / 50 > 0 ? rate / 50 : 1);
            piece = std::min(piece, step);
            const long long wait = m_lineFreeUs - 20000 - NowUs();
            if (wait > 0) {
                timespec ts = {static_cast<time_t>(wait / 1000000),
                               static_cast<long>(wait % 1000000) * 1000};
                nanosleep(&ts, nullptr);
            }
        }
        if (!WriteAll(p, piece))
            return -1;
        if (rate > 0) {
            const long long now = NowUs();
            m_lineFreeUs = (m_lineFreeUs > now ? m_lineFreeUs : now) +
                           static_cast<long long>(piece) * 1000000 / rate;
        }
        p += piece;
        left -= piece;
        if (chunk) {
            m_chunkFill += piece;
            if (m_chunkFill >= chunk) {
                m_chunkFill = 0;
                // The pause is short: it is kept even for a cancelled job,
                // which finishes its page.
                if (m_pacing.pauseMs > 0) {
                    timespec ts = {m_pacing.pauseMs / 1000, (m_pacing.pauseMs % 1000) * 1000000L};
                    nanosleep(&ts, nullptr);
                }
            }
        }
    }
    return static_cast<ssize_t>(bytes);
}

bool CLink::WriteAll(const char* p, size_t n)
{
    long long lastProgress = NowUs();
    const long long deadline = static_cast<long long>(m_pacing.timeoutSec) * 1000000;
    while (n > 0) {
        const ssize_t w = IsSocket() ? send(m_fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT)
                                     : write(m_fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            m_sent += w;
            lastProgress = NowUs();
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            m_errno = errno;
            return Fail(kDropped, DroppedText(m_errno));
        }
        pollfd pf = {m_fd, POLLOUT, 0};
        const int r = poll(&pf, 1, kSliceMs);
        if (r > 0 && !(pf.revents & POLLOUT) && (pf.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            int err = EIO;
            socklen_t len = sizeof err;
            if (IsSocket() && (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err == 0))
                err = EPIPE;
            m_errno = err;
            return Fail(kDropped, DroppedText(err));
        }
        const long long now = NowUs();
        if (StopRequested() && now - lastProgress >= kStopAfterStallUs)
            return Fail(kStopped, "The job was stopped while " + Describe() + " took no data.");
        if (now - lastProgress >= deadline)
            return Fail(kTimedOut, TimedOutText());
    }
    return true;
}

ssize_t CLink::Read(void* data, size_t bytes, int timeoutMs)
{
    if (!Connect())
        return -1;
    pollfd pf = {m_fd, POLLIN, 0};
    const int r = poll(&pf, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    if (!(pf.revents & POLLIN))
        return -1;
    const ssize_t n = IsSocket() ? recv(m_fd, data, bytes, MSG_DONTWAIT) : read(m_fd, data, bytes);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // Readable with nothing to read: the printer closed its end.
    if (n == 0 && bytes > 0)
        return -1;
    return n;
}

bool CLink::HungUp(int waitMs)
{
    pollfd pf = {m_fd, 0, 0};
    return poll(&pf, 1, waitMs) > 0 && (pf.revents & (POLLERR | POLLHUP | POLLNVAL));
}

bool CLink::WaitSent()
{
    if (m_failure == kDropped || m_failure == kTimedOut || m_failure == kStopped)
        return false;
    if (m_fd < 0)
        return true;
    const long long deadline = static_cast<long long>(m_pacing.timeoutSec) * 1000000;
    // What the serial line still has to send.
    const long long line = m_lineFreeUs - NowUs();
    if (line > 0)
        Sleep(static_cast<int>(line / 1000 + 1));
    // What the link's queue holds, until the printer has taken it: a
    // printer that holds the line (RTS/CTS, a full radio buffer) keeps the
    // job until it has taken the last byte or the deadline passes.
    long long lastProgress = NowUs();
    int last = Queued(m_fd);
    while (last > 0) {
        if (HungUp(20))
            return Fail(kDropped, "The link to " + Describe() + " broke with " +
                                      std::to_string(last) + " bytes of the job not yet taken.");
        const int q = Queued(m_fd);
        const long long now = NowUs();
        if (q < last)
            lastProgress = now;
        last = q;
        if (StopRequested() && now - lastProgress >= kStopAfterStallUs)
            return Fail(kStopped, "The job was stopped while " + Describe() + " took no data.");
        if (now - lastProgress >= deadline)
            return Fail(kTimedOut, TimedOutText());
    }
    return true;
}

bool CLink::Drain()
{
    if (!WaitSent())
        return false;
    if (m_fd < 0)
        return true;
    // What the printer holds: the link is kept until it has printed that.
    if (Paced()) {
        const long long end = NowUs() + static_cast<long long>(m_pacing.DrainMs(m_sent)) * 1000;
        while (NowUs() < end && !StopRequested()) {
            const long long left = (end - NowUs()) / 1000;
            if (HungUp(static_cast<int>(left < kSliceMs ? left + 1 : kSliceMs)))
                return Fail(kDropped, "The link to " + Describe() +
                                          " broke before the printer had printed the end of "
                                          "the job.");
        }
    }
    if (HungUp(0))
        return Fail(kDropped, "The link to " + Describe() + " broke at the end of the job.");
    return true;
}

} // namespace bandrill_app
