#include "PrinterCommands.h"

#include "PrinterFamilies.h"

namespace {

std::string TsplLine(const std::string& command)
{
    return command + "\r\n";
}

} // namespace

std::string MaintenanceBytes(int model, Maintenance what, int dpi, Tracking tracking)
{
    const int tenMm = dpi * 1000 / 2540; // dots
    switch (model) {
    case kModelTSPL:
        switch (what) {
        case Maintenance::kFeed:
            return TsplLine(tracking == Tracking::kContinuous ? "FEED " + std::to_string(tenMm)
                                                              : std::string("FORMFEED"));
        case Maintenance::kCalibrate:
            return TsplLine(tracking == Tracking::kGap    ? "GAPDETECT"
                            : tracking == Tracking::kMark ? "BLINEDETECT"
                                                          : "AUTODETECT");
        case Maintenance::kSelfTest:
            return TsplLine("SELFTEST");
        }
        break;
    case kModelESCPOS:
        // ESC J n feeds n dots (at most 255).
        if (what == Maintenance::kFeed && tenMm > 0 && tenMm <= 255)
            return std::string("\x1bJ", 2) + static_cast<char>(tenMm);
        break;
    default:
        break;
    }
    return std::string();
}

std::string MaintenanceLabel(int model, Maintenance what, Tracking tracking)
{
    switch (what) {
    case Maintenance::kFeed:
        return model == kModelTSPL && tracking != Tracking::kContinuous ? "Feed one label"
                                                                        : "Feed 10 mm";
    case Maintenance::kCalibrate:
        return "Calibrate the media sensor";
    case Maintenance::kSelfTest:
        return "Print the self-test page";
    }
    return std::string();
}

const char* CupsCommandName(Maintenance what)
{
    switch (what) {
    case Maintenance::kFeed:
        return "Feed";
    case Maintenance::kCalibrate:
        return "Calibrate";
    case Maintenance::kSelfTest:
        return "PrintSelfTestPage";
    }
    return "";
}

bool FindCupsCommand(const std::string& name, Maintenance& what)
{
    for (Maintenance m : {Maintenance::kFeed, Maintenance::kCalibrate, Maintenance::kSelfTest})
        if (name == CupsCommandName(m)) {
            what = m;
            return true;
        }
    return false;
}

bool ParseCommandFile(const std::string& text, std::vector<std::string>& commands,
                      std::string& error)
{
    commands.clear();
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        // Trailing CR and blanks; leading blanks.
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        line = start == std::string::npos ? std::string() : line.substr(start);
        if (first) {
            if (line != "#CUPS-COMMAND") {
                error = "not a CUPS command file (no #CUPS-COMMAND line)";
                return false;
            }
            first = false;
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        // The command is the first word; CUPS passes arguments after it.
        commands.push_back(line.substr(0, line.find_first_of(" \t")));
    }
    if (first) {
        error = "not a CUPS command file (empty)";
        return false;
    }
    return true;
}
