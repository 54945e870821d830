// bandrill's CUPS driver program, which cups-driverd runs from its driver
// directory under the program's own name ("bandrill"):
//   bandrill list               the drivers for the printer a CUPS-Get-PPDs
//                               request names by its command set (see
//                               CommandSetDrivers.h); nothing otherwise
//   bandrill cat bandrill:NAME  the PPD of driver NAME ("tspl-203")
// cups-driverd hands a driver program nothing of the request: the request
// is read from cups-driverd's own command line, its parent's.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandSetDrivers.h"
#include "EmbeddedPpds.h"

namespace {

const char kScheme[] = "bandrill";

std::vector<std::string> ParentArgs()
{
    std::vector<std::string> args;
    std::ifstream in("/proc/" + std::to_string(getppid()) + "/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t from = 0;
    while (from < all.size()) {
        const size_t end = all.find('\0', from);
        args.push_back(all.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos)
            break;
        from = end + 1;
    }
    return args;
}

int List()
{
    for (const std::string& line : CommandSetListing(RequestedDeviceId(ParentArgs()), kScheme))
        std::printf("%s\n", line.c_str());
    return 0;
}

int Cat(const std::string& name)
{
    const std::string prefix = std::string(kScheme) + ":";
    if (name.rfind(prefix, 0) == 0) {
        const std::string file = "bandrill-" + name.substr(prefix.size()) + ".ppd";
        for (int i = 0; i < kEmbeddedPpdCount; ++i)
            if (file == kEmbeddedPpds[i].file) {
                std::fputs(kEmbeddedPpds[i].text, stdout);
                return std::fflush(stdout) == 0 ? 0 : 1;
            }
    }
    std::fprintf(stderr, "ERROR: [bandrill] No PPD named \"%s\".\n", name.c_str());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "list") == 0)
        return List();
    if (argc == 3 && std::strcmp(argv[1], "cat") == 0)
        return Cat(argv[2]);
    std::fprintf(stderr, "Usage: %s list\n       %s cat %s:DRIVER\n", argv[0], argv[0], kScheme);
    return 1;
}
