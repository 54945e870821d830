// The state one print job shares with its back end: where the printer
// stream and the traces go, whether the job was cancelled, how many pages
// it started and whether output has failed. A front end that runs several
// jobs at once gives each its own; the render object only holds a pointer.
#pragma once

#include <atomic>
#include <cstdarg>

class CBaseRender;

class CRenderJob {
public:
    CRenderJob();
    virtual ~CRenderJob();
    CRenderJob(const CRenderJob&) = delete;
    CRenderJob& operator=(const CRenderJob&) = delete;

    // The printer stream: all length bytes, in order. Returns false once
    // output has failed for good; nothing more is written then. The base
    // keeps nothing.
    virtual bool Write(const void* data, int length);
    // One trace, formatted from format and args (syslog priorities). The
    // base drops it.
    virtual void LogV(int priority, const char* format, va_list args);
    // Makes the page image of render ready for its back end: the front
    // end's checks, then CBaseRender::PreparePage.
    virtual void PreparePage(CBaseRender& render);

    // What the user should see about the job (a page cut to the head, a
    // page that could not be printed), as opposed to traces. The base
    // drops it.
    enum Level { kInfo, kWarning, kError };
    virtual void Report(Level level, const char* text);

    virtual bool IsCanceled() const { return m_canceled.load(); }
    void Cancel() { m_canceled.store(true); }

    int Pages() const { return m_pages.load(); }
    // Counts a started page; returns its number, from 1.
    int StartPage() { return ++m_pages; }
    // The page loop's bracket around page number page: started (counted,
    // its lines not yet read) and finished (printed or refused, before the
    // back end's end of page). The base does nothing.
    virtual void PageStarted(int page);
    virtual void PageFinished(int page);

    virtual bool OutputFailed() const { return m_outputFailed.load(); }

protected:
    void SetOutputFailed() { m_outputFailed.store(true); }

private:
    std::atomic<bool> m_canceled{false};
    std::atomic<int> m_pages{0};
    std::atomic<bool> m_outputFailed{false};
};
