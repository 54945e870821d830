// Runs the built bandrill binary as the CUPS scheduler does: filter
// arguments, the PPD environment variable, raster on standard input or in a
// file argument; captures standard output, standard error, the system log
// traces (through a preloaded interposer) and the exit status.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testing_support {

struct Trace {
    int priority;      // LOG_DEBUG, LOG_ERR, ...
    std::string text;  // as formatted, trailing "\n" included when written
};

struct FilterResult {
    int status = -1;           // exit status, or -1 when killed by a signal
    int signal = 0;            // terminating signal, if any
    std::string out;           // standard output (the printer stream)
    std::string err;           // standard error (scheduler messages)
    std::vector<Trace> log;    // system log traces
    int logConnects = 0;       // connects to the system log socket

    // Whether some trace's text equals text exactly (with its priority when given).
    bool HasTrace(const std::string& text, int priority = -1) const;
    size_t CountTraces(const std::string& text) const;
};

struct FilterOptions {
    std::vector<std::string> args;   // argv[1..]; default: 1 user title 1 "" (6 arguments)
    std::string ppdPath;             // PPD environment variable; empty: unset
    bool noSystemLog = false;        // the system log socket is absent
    std::string stdinPath;           // file on standard input; empty: /dev/null
    std::string stdoutPath;          // where standard output goes; empty: captured
    std::vector<std::pair<std::string, std::string>> env; // extra environment
};

// The default filter arguments, optionally with a file argument.
std::vector<std::string> FilterArgs(const std::string& options = "",
                                    const std::string& file = "");

FilterResult RunFilter(const FilterOptions& opts);

// A filter process fed through a pipe, for cancellation tests.
class FilterProcess {
public:
    explicit FilterProcess(const FilterOptions& opts);
    ~FilterProcess();
    FilterProcess(const FilterProcess&) = delete;
    FilterProcess& operator=(const FilterProcess&) = delete;

    bool Write(const std::string& bytes);
    void CloseStdin();
    void Signal(int sig);
    // Waits until standard error contains text; false after timeoutMs.
    bool WaitForStderr(const std::string& text, int timeoutMs = 20000);
    // Waits until the filter catches sig (its handler is installed, as the
    // kernel reports it); false after timeoutMs.
    bool WaitForHandler(int sig, int timeoutMs = 20000);
    FilterResult Finish();

private:
    std::string m_dir;
    std::string m_outPath, m_errPath, m_logPath;
    pid_t m_pid = -1;
    int m_stdin = -1;
    bool m_captureOut = true;
};

// The traces the interposer recorded; connects to the system log socket,
// when asked for, are counted into *connects instead.
std::vector<Trace> ParseTraces(const std::string& raw, int* connects = nullptr);

// What the filter tells the scheduler about page n: at its start (PAGE and
// INFO lines), and at its end (the page 100% complete when it was printed,
// then INFO). Whatever happens between goes between the two.
std::string PageStart(int n);
std::string PageEnd(int n, bool printed = true);
// A page printed without other messages.
std::string PageMessages(int n);
// The progress lines of page n at percent.
std::string PageProgress(int n, int percent);
// Scheduler messages without the progress lines that large pages report
// before their 100%.
std::string WithoutPartialProgress(const std::string& err);

} // namespace testing_support
