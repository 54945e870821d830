#include "StateFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace bandrill_app {

namespace {

// The last line of a state file written whole. PAPPL's reader skips it as
// a comment; written after PAPPL's part, its write fails as PAPPL's last
// writes would on a full disk.
const char kWholeMark[] = "# end of state\n";

std::string Temporary(const std::string& path)
{
    return path + ".new";
}

std::string Folder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

struct Saver {
    std::string path;
    std::mutex lock;
    // The earliest the next save may start while the server runs: a second
    // after the last one ended, or four times its length.
    std::chrono::steady_clock::time_point next{};
    bool owed = false;
};

bool Save(pappl_system_t* system, Saver& saver)
{
    const auto start = std::chrono::steady_clock::now();
    saver.owed = !WriteState(system, saver.path);
    const auto end = std::chrono::steady_clock::now();
    saver.next = end + std::max<std::chrono::steady_clock::duration>(std::chrono::seconds(1), 4 * (end - start));
    return !saver.owed;
}

// SIGTERM and SIGINT reach PAPPL's handler (which starts the shutdown) only
// once a save left out has been made: the main loop may end right after
// the shutdown starts, with no further call to the save callback.
volatile std::sig_atomic_t g_signal = 0;
bool g_watching = false; // our handlers are in place
bool g_forwarded = false;
struct sigaction g_papplHandler;

void StartQueued(pappl_printer_t* printer, void*)
{
    if (papplPrinterGetNumberOfActiveJobs(printer) > 0 && papplPrinterGetState(printer) == IPP_PSTATE_IDLE)
        papplPrinterResume(printer);
}

void OnTerminate(int sig)
{
    g_signal = sig;
}

// PAPPL's main loop calls this after every change it saw. While jobs print
// each of them changes the state several times, and a save writes every
// job kept and holds up the main loop (no client is let in meanwhile):
// saves come at most once a second, taking at most a fifth of the main
// loop's time, and the timer below makes up the ones left out. Once the
// server is shutting down every change is saved at once.
bool SaveCallback(pappl_system_t* system, void* data)
{
    Saver& saver = *static_cast<Saver*>(data);
    std::lock_guard<std::mutex> hold(saver.lock);
    if (g_watching && !g_forwarded && papplSystemIsRunning(system) && !papplSystemIsShutdown(system) &&
        std::chrono::steady_clock::now() < saver.next) {
        saver.owed = true;
        return true;
    }
    return Save(system, saver);
}

bool OwedSaveTimer(pappl_system_t* system, void* data)
{
    Saver& saver = *static_cast<Saver*>(data);
    std::lock_guard<std::mutex> hold(saver.lock);
    if (!g_watching) {
        // Timers run in the main loop, after PAPPL has set its handlers.
        struct sigaction ours;
        std::memset(&ours, 0, sizeof ours);
        ours.sa_handler = OnTerminate;
        sigemptyset(&ours.sa_mask);
        sigaction(SIGTERM, &ours, &g_papplHandler);
        sigaction(SIGINT, &ours, nullptr);
        g_watching = true;
        // What a save cut short left. Not earlier: the system is also made
        // for sub-commands (drivers) beside a running server.
        unlink(Temporary(saver.path).c_str());
        // The jobs the saved state brought back wait for a new job to be
        // looked at: they are started now.
        papplSystemIteratePrinters(system, StartQueued, nullptr);
    }
    const int sig = g_signal;
    if (saver.owed && (sig || std::chrono::steady_clock::now() >= saver.next))
        Save(system, saver);
    if (sig && !g_forwarded) {
        g_forwarded = true;
        sigaction(SIGTERM, &g_papplHandler, nullptr);
        sigaction(SIGINT, &g_papplHandler, nullptr);
        if (g_papplHandler.sa_handler != SIG_DFL && g_papplHandler.sa_handler != SIG_IGN)
            g_papplHandler.sa_handler(sig);
        else
            raise(sig);
    }
    return true;
}

} // namespace

bool WriteState(pappl_system_t* system, const std::string& path)
{
    const std::string temporary = Temporary(path);
    auto fail = [&](const char* what) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state to '%s' (%s: %s); '%s' keeps the last one.",
                 temporary.c_str(), what, std::strerror(errno), path.c_str());
        unlink(temporary.c_str());
        return false;
    };
    errno = 0;
    if (!papplSystemSaveState(system, temporary.c_str()))
        return fail("write");
    const int fd = open(temporary.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return fail("open");
    // It holds the administrator's password hash.
    const bool ok = fchmod(fd, 0600) == 0 &&
                    write(fd, kWholeMark, sizeof kWholeMark - 1) == static_cast<ssize_t>(sizeof kWholeMark - 1) &&
                    fsync(fd) == 0;
    const int saved = errno;
    if (close(fd) != 0 || !ok) {
        errno = ok ? errno : saved;
        return fail("flush");
    }
    if (rename(temporary.c_str(), path.c_str()) != 0)
        return fail("rename");
    // The rename itself reaches the disk with the folder.
    const int dir = open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool LoadState(pappl_system_t* system, const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    return papplSystemLoadState(system, path.c_str());
}

void UseDurableState(pappl_system_t* system, const std::string& path)
{
    // One server per process; PAPPL holds the pointer until it ends.
    static Saver saver;
    {
        std::lock_guard<std::mutex> hold(saver.lock);
        saver.path = path;
    }
    papplSystemSetSaveCallback(system, SaveCallback, &saver);
    papplSystemAddTimerCallback(system, time(nullptr), 1, OwedSaveTimer, &saver);
}

} // namespace bandrill_app
