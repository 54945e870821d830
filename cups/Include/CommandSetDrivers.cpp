#include "CommandSetDrivers.h"

#include <cctype>
#include <set>

#include <cups/cups.h>

#include "PrinterFamilies.h"

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t");
    const size_t b = s.find_last_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t to = s.find(sep, from);
        parts.push_back(Trim(s.substr(from, to == std::string::npos ? std::string::npos : to - from)));
        if (to == std::string::npos)
            return parts;
        from = to + 1;
    }
}

// A value as the listing may carry it: what cups-driverd's line format,
// the device ID's separators or a terminal would take for something else
// makes the value unusable (the suggestion would not match it anyway).
bool Listable(const std::string& s)
{
    if (s.empty() || s.size() > 100)
        return false;
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F || c == '"' || c == ';' || c == '\\')
            return false;
    return true;
}

} // namespace

DeviceIdFields ParseDeviceId(const std::string& deviceId)
{
    DeviceIdFields f;
    for (const std::string& field : Split(deviceId, ';')) {
        const size_t colon = field.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string key = Trim(field.substr(0, colon));
        const std::string value = Trim(field.substr(colon + 1));
        const std::string k = Upper(key);
        if ((k == "MFG" || k == "MFR" || k == "MANUFACTURER") && f.make.key.empty())
            f.make = {key, value};
        else if ((k == "MDL" || k == "MODEL") && f.model.key.empty())
            f.model = {key, value};
        else if ((k == "CMD" || k == "COMMAND SET") && f.commands.empty())
            f.commands = value;
    }
    return f;
}

std::vector<std::string> CommandSetListing(const std::string& deviceId, const char* scheme)
{
    std::vector<std::string> lines;
    const DeviceIdFields f = ParseDeviceId(deviceId);
    if (!Listable(f.make.key) || !Listable(f.make.value) || !Listable(f.model.key) ||
        !Listable(f.model.value) || f.commands.empty())
        return lines;
    std::set<std::string> printer;
    for (const std::string& c : Split(f.commands, ','))
        printer.insert(Upper(c));

    // The printer's own maker and model, keys as it spells them, and no
    // command set: two keys of the request's three match.
    const std::string id =
        f.make.key + ":" + f.make.value + ";" + f.model.key + ":" + f.model.value + ";";
    std::set<std::string> owned;
    for (const PrinterFamily& family : PrinterFamilies()) {
        bool named = false;
        for (const std::string& c : Split(family.commandSet, ',')) {
            const std::string language = Upper(c);
            if (owned.insert(language).second && printer.count(language))
                named = true;
        }
        if (!named)
            continue;
        for (const PrinterDriver& d : family.drivers) {
            // "Generic bandrill, for any TSPL printer: ..." sorts after
            // every "Generic bandrill ..." of the PPD files.
            std::string model = d.modelName;
            const std::string prefix = "bandrill ";
            if (model.rfind(prefix, 0) == 0)
                model = model.substr(prefix.size());
            lines.push_back(std::string("\"") + scheme + ":" + d.name +
                            "\" en \"Generic\" \"Generic bandrill, for any " + family.name +
                            " printer: " + model + "\" \"" + id + "\"");
        }
    }
    return lines;
}

std::string RequestedDeviceId(const std::vector<std::string>& args)
{
    if (args.size() != 5 || args[1] != "list")
        return "";
    const std::string& program = args[0];
    const size_t slash = program.rfind('/');
    if (program.substr(slash == std::string::npos ? 0 : slash + 1) != "cups-driverd")
        return "";
    cups_option_t* options = nullptr;
    const int n = cupsParseOptions(args[4].c_str(), 0, &options);
    const char* id = cupsGetOption("ppd-device-id", n, options);
    const std::string result = id ? id : "";
    cupsFreeOptions(n, options);
    return result;
}
