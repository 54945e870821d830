#include "CupsCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <cups/cups.h>
#include <cups/ppd.h>

#include "PrinterCommands.h"

namespace {

// Command files are a few lines; anything larger is not one.
const size_t kMaxCommandFile = 64 * 1024;

bool ReadAll(int fd, std::string& text)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxCommandFile)
            return false;
    }
}

bool WriteAll(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(1, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

Tracking TrackingOf(ppd_file_t* ppd)
{
    const ppd_choice_t* c = ppdFindMarkedChoice(ppd, "zeMediaTracking");
    if (!c)
        return Tracking::kContinuous;
    if (std::strcmp(c->choice, "Gap") == 0 || std::strcmp(c->choice, "Perforated") == 0)
        return Tracking::kGap;
    if (std::strcmp(c->choice, "BLine") == 0)
        return Tracking::kMark;
    return Tracking::kContinuous;
}

int Dpi(ppd_file_t* ppd)
{
    const ppd_choice_t* c = ppdFindMarkedChoice(ppd, "Resolution");
    const int dpi = c ? std::atoi(c->choice) : 0;
    return dpi > 0 ? dpi : 203;
}

} // namespace

int RunCommandFile(int argc, char** argv)
{
    int fd = 0;
    if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0) {
        std::fprintf(stderr, "ERROR: Unable to open the command file: %s\n", std::strerror(errno));
        return 1;
    }
    std::string text;
    const bool read = ReadAll(fd, text);
    if (fd > 0)
        close(fd);
    std::vector<std::string> commands;
    std::string error;
    if (!read || !ParseCommandFile(text, commands, error)) {
        std::fprintf(stderr, "ERROR: Bad command file: %s.\n",
                     read ? error.c_str() : "unreadable or too large");
        return 1;
    }

    const char* ppdPath = getenv("PPD");
    ppd_file_t* ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
    if (!ppd) {
        std::fprintf(stderr, "ERROR: The PPD file could not be opened.\n");
        return 1;
    }
    ppdMarkDefaults(ppd);
    cups_option_t* options = nullptr;
    const int num_options = cupsParseOptions(argv[5], 0, &options);
    cupsMarkOptions(ppd, num_options, options);
    cupsFreeOptions(num_options, options);
    const int model = ppd->model_number;
    const Tracking tracking = TrackingOf(ppd);
    const int dpi = Dpi(ppd);
    ppdClose(ppd);

    // Every command is checked before any is sent: a file the printer
    // cannot carry out fails whole, with the reason.
    std::string bytes;
    for (const std::string& name : commands) {
        Maintenance what;
        std::string b;
        if (FindCupsCommand(name, what))
            b = MaintenanceBytes(model, what, dpi, tracking);
        if (b.empty()) {
            std::fprintf(stderr, "ERROR: The printer does not support the command \"%s\".\n",
                         name.c_str());
            return 1;
        }
        std::fprintf(stderr, "INFO: %s\n", MaintenanceLabel(model, what, tracking).c_str());
        bytes += b;
    }
    if (!WriteAll(bytes)) {
        std::fprintf(stderr, "ERROR: Unable to write to the printer: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
