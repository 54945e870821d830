// Driver suggestions by command set: what the driver program lists for a
// device ID, and where it finds the request. (Through a real cupsd: the
// ppds case of tests/e2e.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandSetDrivers.h"

namespace {

// The names the listing suggests, in order.
std::vector<std::string> Names(const std::string& deviceId)
{
    std::vector<std::string> names;
    for (const std::string& line : CommandSetListing(deviceId, "bandrill"))
        names.push_back(line.substr(1, line.find('"', 1) - 1));
    return names;
}

TEST(CommandSetDrivers, TheLanguageTheCommandSetNamesPicksTheFamily)
{
    const std::vector<std::string> tspl = {"bandrill:tspl-203", "bandrill:tspl-300"};
    const std::vector<std::string> escpos = {"bandrill:escpos-58", "bandrill:escpos-80"};
    const std::string longModel = "MFG:Acme;MDL:" + std::string(101, 'x') + ";CMD:TSPL;";
    const struct {
        const char* deviceId;
        std::vector<std::string> names;
    } cases[] = {
        {"MFG:TSC;MDL:TDP-244;CMD:TSPL;", tspl},
        {"MFG:Acme;CMD:zpl, tspl2 ,EPL;MDL:LP-1;CLS:PRINTER;", tspl},
        {"MFG:Acme;MDL:R1;CMD:ESC/POS;", escpos},
        {"MANUFACTURER:Acme;MODEL:R1;COMMAND SET:ESCPOS;", escpos},
        // ESC/POS belongs to the receipt printers, not to the PeriPage
        // family that lists it second.
        {"MFG:Acme;MDL:R1;CMD:PERIPAGE;", {"bandrill:peripage-384", "bandrill:peripage-576"}},
        {"MFG:Zebra;MDL:Q9;CMD:CPCL,ZPL;", {"bandrill:cpcl"}},
        {"MFG:Acme;MDL:X;CMD:TSPL,ESC/POS;",
         {"bandrill:tspl-203", "bandrill:tspl-300", "bandrill:escpos-58", "bandrill:escpos-80"}},
        {"MFG:Acme;MDL:X;CMD:PCL,PJL;", {}},
        {"MFG:Acme;MDL:X;", {}},
        {"MDL:X;CMD:TSPL;", {}},
        {"MFG:Acme;CMD:TSPL;", {}},
        {"", {}},
        // What the line format or the device ID would read otherwise.
        {"MFG:Ac\"me;MDL:X;CMD:TSPL;", {}},
        {"MFG:Acme;MDL:X\\;CMD:TSPL;", {}},
        {"MFG:Acme;MDL:X\x01Y;CMD:TSPL;", {}},
        {longModel.c_str(), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deviceId);
        EXPECT_EQ(Names(c.deviceId), c.names);
    }
}

// The device ID of a suggestion is the printer's maker and model, keys as
// the printer spells them, without the command set: cups-driverd counts
// two matching keys, one fewer than for a PPD that lists the printer with
// its language. Its make and model sort after every PPD file's.
TEST(CommandSetDrivers, LinesAsCupsDriverdReadsThem)
{
    EXPECT_EQ(CommandSetListing("MFG:TSC;MDL:TDP-244;CMD:TSPL;", "bandrill")[0],
              "\"bandrill:tspl-203\" en \"Generic\" \"Generic bandrill, for any TSPL printer: TSPL "
              "Label Printer 203 dpi\" \"MFG:TSC;MDL:TDP-244;\"");
    EXPECT_EQ(CommandSetListing("Manufacturer:Acme;Model:R 2;CMD:ESC/POS;", "x")[1],
              "\"x:escpos-80\" en \"Generic\" \"Generic bandrill, for any ESC/POS printer: ESC/POS "
              "Receipt Printer 80 mm\" \"Manufacturer:Acme;Model:R 2;\"");
}

TEST(CommandSetDrivers, RequestFromCupsDriverdsCommandLine)
{
    const std::string options =
        "requested-attributes=all ppd-device-id='MFG:TSC;MDL:TDP 244;CMD:TSPL;' limit=5";
    EXPECT_EQ(RequestedDeviceId({"/usr/lib/cups/daemon/cups-driverd", "list", "7", "0", options}),
              "MFG:TSC;MDL:TDP 244;CMD:TSPL;");
    EXPECT_EQ(RequestedDeviceId({"cups-driverd", "list", "7", "0", "requested-attributes=all"}), "");
    EXPECT_EQ(RequestedDeviceId({"cups-driverd", "cat", "7", "0", options}), "");
    EXPECT_EQ(RequestedDeviceId({"bash", "list", "7", "0", options}), "");
    EXPECT_EQ(RequestedDeviceId({"cups-driverd", "list", "7", options}), "");
    EXPECT_EQ(RequestedDeviceId({}), "");
}

} // namespace
