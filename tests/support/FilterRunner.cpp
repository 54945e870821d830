#include "FilterRunner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "TempDir.h"

#ifndef BANDRILL_BINARY
#error "BANDRILL_BINARY must name the built filter"
#endif
#ifndef BANDRILL_SYSLOG_SHIM
#error "BANDRILL_SYSLOG_SHIM must name the log interposer"
#endif

namespace testing_support {

bool FilterResult::HasTrace(const std::string& text, int priority) const
{
    for (const Trace& t : log)
        if (t.text == text && (priority < 0 || t.priority == priority))
            return true;
    return false;
}

size_t FilterResult::CountTraces(const std::string& text) const
{
    size_t n = 0;
    for (const Trace& t : log)
        n += t.text == text;
    return n;
}

std::vector<std::string> FilterArgs(const std::string& options, const std::string& file)
{
    std::vector<std::string> a = {"1", "user", "title", "1", options};
    if (!file.empty())
        a.push_back(file);
    return a;
}

std::vector<Trace> ParseTraces(const std::string& raw, int* connects)
{
    std::vector<Trace> out;
    size_t pos = 0;
    while (pos < raw.size()) {
        const size_t end = raw.find("\x1e\n", pos);
        if (end == std::string::npos)
            break;
        const std::string rec = raw.substr(pos, end - pos);
        const size_t bar = rec.find('|');
        if (rec.rfind("connect|", 0) == 0) {
            if (connects)
                ++*connects;
        } else if (bar != std::string::npos) {
            out.push_back({std::atoi(rec.substr(0, bar).c_str()), rec.substr(bar + 1)});
        }
        pos = end + 2;
    }
    return out;
}

std::string PageStart(int n)
{
    const std::string p = std::to_string(n);
    return "PAGE: " + p + " 1\nINFO: Starting page " + p + ".\n";
}

std::string PageProgress(int n, int percent)
{
    const std::string x = std::to_string(percent);
    return "INFO: Printing page " + std::to_string(n) + ", " + x +
           "% complete.\nATTR: job-media-progress=" + x + "\n";
}

std::string PageEnd(int n, bool printed)
{
    return (printed ? PageProgress(n, 100) : std::string()) + "INFO: Finished page " +
           std::to_string(n) + ".\n";
}

std::string WithoutPartialProgress(const std::string& err)
{
    std::string out;
    size_t pos = 0;
    while (pos < err.size()) {
        size_t end = err.find('\n', pos);
        end = end == std::string::npos ? err.size() : end + 1;
        const std::string line = err.substr(pos, end - pos);
        const bool progress = line.rfind("INFO: Printing page ", 0) == 0 ||
                              line.rfind("ATTR: job-media-progress=", 0) == 0;
        const bool complete = line.find(", 100% complete.") != std::string::npos ||
                              line == "ATTR: job-media-progress=100\n";
        if (!progress || complete)
            out += line;
        pos = end;
    }
    return out;
}

std::string PageMessages(int n)
{
    return PageStart(n) + PageEnd(n);
}

namespace {

std::string MakeTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/bandrill-run-XXXXXX";
    char* p = mkdtemp(&tmpl[0]);
    return p ? p : "/tmp";
}

pid_t Spawn(const FilterOptions& opts, int stdinFd, const std::string& outPath,
            const std::string& errPath, const std::string& logPath)
{
    std::vector<std::string> args = opts.args.empty() ? FilterArgs() : opts.args;
    const pid_t pid = fork();
    if (pid != 0)
        return pid;

    // Child: standard descriptors, environment, exec.
    dup2(stdinFd, 0);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0)
        _exit(127);
    dup2(out, 1);
    dup2(err, 2);
    if (opts.ppdPath.empty())
        unsetenv("PPD");
    else
        setenv("PPD", opts.ppdPath.c_str(), 1);
    setenv("LD_PRELOAD", BANDRILL_SYSLOG_SHIM, 1);
    setenv("BANDRILL_SYSLOG_FILE", logPath.c_str(), 1);
    if (opts.noSystemLog)
        setenv("BANDRILL_SYSLOG_ABSENT", "1", 1);
    else
        unsetenv("BANDRILL_SYSLOG_ABSENT");
    // The interposer is preloaded ahead of a sanitizer runtime.
    std::string asan = "verify_asan_link_order=0";
    if (const char* a = std::getenv("ASAN_OPTIONS"))
        asan = std::string(a) + ":" + asan;
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    for (const auto& kv : opts.env)
        setenv(kv.first.c_str(), kv.second.c_str(), 1);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("bandrill"));
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(BANDRILL_BINARY, argv.data());
    _exit(127);
}

FilterResult Collect(pid_t pid, const std::string& outPath, const std::string& errPath,
                     const std::string& logPath, bool captureOut)
{
    FilterResult r;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        r.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signal = WTERMSIG(status);
    }
    if (captureOut)
        r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    r.log = ParseTraces(ReadFile(logPath), &r.logConnects);
    return r;
}

void RemoveTree(const std::string& dir)
{
    if (std::getenv("BANDRILL_KEEP_TEMP"))
        return;
    for (const char* f : {"/out", "/err", "/log"})
        unlink((dir + f).c_str());
    rmdir(dir.c_str());
}

} // namespace

FilterResult RunFilter(const FilterOptions& opts)
{
    const std::string dir = MakeTempDir();
    const bool capture = opts.stdoutPath.empty();
    const std::string outPath = capture ? dir + "/out" : opts.stdoutPath;
    const int in = open(opts.stdinPath.empty() ? "/dev/null" : opts.stdinPath.c_str(), O_RDONLY);
    const pid_t pid = Spawn(opts, in, outPath, dir + "/err", dir + "/log");
    if (in >= 0)
        close(in);
    FilterResult r = Collect(pid, outPath, dir + "/err", dir + "/log", capture);
    RemoveTree(dir);
    return r;
}

FilterProcess::FilterProcess(const FilterOptions& opts)
{
    m_dir = MakeTempDir();
    m_captureOut = opts.stdoutPath.empty();
    m_outPath = m_captureOut ? m_dir + "/out" : opts.stdoutPath;
    m_errPath = m_dir + "/err";
    m_logPath = m_dir + "/log";
    // Close-on-exec, so that the filter holds no copy of the write end and
    // sees the end of its input when the test closes it.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    m_pid = Spawn(opts, fds[0], m_outPath, m_errPath, m_logPath);
    close(fds[0]);
    m_stdin = fds[1];
    signal(SIGPIPE, SIG_IGN);
}

FilterProcess::~FilterProcess()
{
    CloseStdin();
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    RemoveTree(m_dir);
}

bool FilterProcess::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_stdin, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void FilterProcess::CloseStdin()
{
    if (m_stdin >= 0) {
        close(m_stdin);
        m_stdin = -1;
    }
}

void FilterProcess::Signal(int sig)
{
    if (m_pid > 0)
        kill(m_pid, sig);
}

bool FilterProcess::WaitForStderr(const std::string& text, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadFile(m_errPath).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool FilterProcess::WaitForHandler(int sig, int timeoutMs)
{
    const std::string status = "/proc/" + std::to_string(m_pid) + "/status";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        // SigCgt: the caught signals, a hexadecimal mask with bit sig - 1.
        const std::string text = ReadFile(status);
        const size_t at = text.find("SigCgt:");
        if (at != std::string::npos) {
            const unsigned long long mask = std::strtoull(text.c_str() + at + 7, nullptr, 16);
            if (mask & (1ULL << (sig - 1)))
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

FilterResult FilterProcess::Finish()
{
    CloseStdin();
    FilterResult r = Collect(m_pid, m_outPath, m_errPath, m_logPath, m_captureOut);
    m_pid = -1;
    return r;
}

} // namespace testing_support
