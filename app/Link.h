// A link to a printer over a file descriptor (Bluetooth, serial, TCP or a
// device or folder named by file://), written with pacing and a deadline:
// every wait polls in short slices, so that a printer that stops taking
// data fails its job with a reason after the deadline, and a cancelled job
// or a stopping server is not held by a printer that takes nothing.
// Nothing here depends on PAPPL; the device schemes (DeviceSchemes.h)
// bind links to PAPPL's devices and jobs.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>

#include "Pacing.h"

namespace bandrill_app {

// The job a link prints for, as far as the link needs it.
class ILinkJob {
public:
    virtual ~ILinkJob() = default;
    // The job was cancelled or the server is stopping.
    virtual bool StopRequested() = 0;
};

class CLink {
public:
    enum Failure {
        kNone,
        kUnreachable, // the printer cannot be reached now; trying again may work
        kRefused,     // the device is not one this printer may use; trying again will not help
        kDropped,     // the link broke while printing
        kTimedOut,    // the printer took no data for the deadline
        kStopped,     // the job was cancelled or the server is stopping
    };

    virtual ~CLink();

    // Opens the link if it is not open. A link that failed in the job
    // stays failed until the next job begins.
    bool Connect();
    bool IsConnected() const { return m_fd >= 0; }
    void Disconnect();

    // A new job: counts from zero, forgets a failure of the last job.
    void BeginJob(int jobId, const std::string& jobName);
    void SetPacing(const Pacing& pacing) { m_pacing = pacing; }
    const Pacing& GetPacing() const { return m_pacing; }
    void SetJob(ILinkJob* job) { m_job = job; }

    // All bytes or -1 (Failed() tells why).
    ssize_t Write(const void* data, size_t bytes);
    // Up to bytes within timeoutMs; 0 when nothing came, -1 on an error
    // or when the printer closed its end.
    ssize_t Read(void* data, size_t bytes, int timeoutMs);
    // Waits until what was written has left the link (the printer took it).
    bool WaitSent();
    // WaitSent, then the time the printer needs to print what it holds.
    bool Drain();

    Failure Failed() const { return m_failure; }
    const std::string& Error() const { return m_error; }
    // The system's error of a write that failed (ENOSPC, EPIPE, ...); 0 if none.
    int ErrorNumber() const { return m_errno; }
    long long BytesSent() const { return m_sent; }
    // Things worth a line in the log since the last call.
    std::string TakeNotes();
    // "the Bluetooth printer 00:11:22:33:44:55", for messages.
    virtual std::string Describe() const = 0;
    // The options the device's URI gave (pacing overrides, deadline).
    virtual LinkOptions Options() const { return LinkOptions(); }
    // Whether the family's pacing applies (slow serial and radio links).
    virtual bool Paced() const { return false; }

protected:
    CLink() = default;

    // Opens the descriptor (non-blocking); -1 with Fail() called.
    virtual int Open() = 0;
    // Bytes written but not yet taken from the link's queue; -1 unknown.
    virtual int Queued(int fd) const;
    // Bytes a second the link itself carries (a serial line); 0 unlimited.
    virtual long LineRate() const { return 0; }
    // The failure text for an error on a link that was open.
    virtual std::string DroppedText(int err) const;
    virtual bool IsSocket() const { return false; }
    // Called when a job begins, after the counts were reset.
    virtual void JobChanged() {}

    bool Fail(Failure failure, const std::string& text);
    bool StopRequested() { return m_job && m_job->StopRequested(); }
    // Called before the descriptor is closed.
    virtual void Closing(int) {}
    // The deadline passed.
    std::string TimedOutText() const;
    void Note(const std::string& text) { m_notes += (m_notes.empty() ? "" : " ") + text; }

    int m_jobId = 0;
    std::string m_jobName;

private:
    bool WriteAll(const char* p, size_t n);
    // Sleeps ms in short slices; false if the job is to stop.
    bool Sleep(int ms);
    // Whether the other end went away; waits up to waitMs for it.
    bool HungUp(int waitMs);

    int m_fd = -1;
    Pacing m_pacing;
    ILinkJob* m_job = nullptr;
    Failure m_failure = kNone;
    std::string m_error;
    int m_errno = 0;
    std::string m_notes;
    long long m_sent = 0;
    size_t m_chunkFill = 0;   // bytes of the current chunk written
    long long m_lineFreeUs = 0; // when the serial line has sent what it got
};

// Microseconds of the monotonic clock.
long long NowUs();

// Waits for a non-blocking connect on fd: 0 once connected, else the
// error (ETIMEDOUT after timeoutMs, ECANCELED as soon as stop says so).
int WaitConnected(int fd, int timeoutMs, const std::function<bool()>& stop);

} // namespace bandrill_app
