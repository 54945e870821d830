// The filter carries out CUPS command files with the shipped PPDs: the
// printer's commands on standard output, a clear error for what the
// printer cannot do or what is no command file.
#include <gtest/gtest.h>

#include <fstream>

#include <cups/ppd.h>

#include "FilterRunner.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

const std::string kPpdDir = std::string(BANDRILL_BUILD_DIR) + "/ppd/ppd/";

FilterResult RunCommands(const std::string& ppd, const std::string& text,
                         const std::string& options = "")
{
    TempDir dir;
    const std::string file = dir.Path("commands");
    std::ofstream(file) << text;
    FilterOptions opts;
    opts.args = FilterArgs(options, file);
    opts.ppdPath = kPpdDir + "bandrill-" + ppd + ".ppd";
    opts.env = {{"CONTENT_TYPE", "application/vnd.cups-command"}};
    return RunFilter(opts);
}

TEST(CommandFiles, CarriedOutAsThePrinterTakesThem)
{
    const struct {
        const char* ppd;
        const char* options;
        const char* commands;
        std::string out;
    } kCases[] = {
        {"tspl-203", "", "PrintSelfTestPage\nCalibrate\nFeed\n",
         "SELFTEST\r\nGAPDETECT\r\nFORMFEED\r\n"},
        {"tspl-203", "zeMediaTracking=BLine", "Calibrate\n", "BLINEDETECT\r\n"},
        {"tspl-300", "zeMediaTracking=Continuous", "Feed\nCalibrate\n",
         "FEED 118\r\nAUTODETECT\r\n"},
        {"escpos-58", "", "Feed\n", "\x1bJ\x4f"},
    };
    for (const auto& c : kCases) {
        const FilterResult r =
            RunCommands(c.ppd, std::string("#CUPS-COMMAND\n") + c.commands, c.options);
        EXPECT_EQ(r.status, 0) << c.ppd << " " << c.commands << r.err;
        EXPECT_EQ(r.out, c.out) << c.ppd << " " << c.commands;
    }
}

TEST(CommandFiles, RefusedWithTheReasonAndNothingSent)
{
    const struct {
        const char* ppd;
        std::string text;
        const char* message;
    } kCases[] = {
        {"escpos-58", "#CUPS-COMMAND\nFeed\nPrintSelfTestPage\n",
         "ERROR: The printer does not support the command \"PrintSelfTestPage\"."},
        {"tspl-203", "#CUPS-COMMAND\nClean\n",
         "ERROR: The printer does not support the command \"Clean\"."},
        {"cpcl", "#CUPS-COMMAND\nFeed\n",
         "ERROR: The printer does not support the command \"Feed\"."},
        {"tspl-203", "RaS2 not commands", "ERROR: Bad command file: not a CUPS command file"},
        {"tspl-203", std::string(70000, '#'), "ERROR: Bad command file: unreadable or too large"},
    };
    for (const auto& c : kCases) {
        const FilterResult r = RunCommands(c.ppd, c.text);
        EXPECT_EQ(r.status, 1) << c.ppd << " " << c.message;
        EXPECT_EQ(r.out, "") << c.ppd << " " << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.ppd << ": " << r.err;
    }
}

TEST(CommandFiles, ShippedPpdsDeclareTheirCommands)
{
    const struct {
        const char* ppd;
        const char* commands; // null: no command filter
    } kCases[] = {
        {"tspl-203", "PrintSelfTestPage Calibrate Feed"},
        {"tspl-300", "PrintSelfTestPage Calibrate Feed"},
        {"escpos-58", "Feed"},
        {"escpos-80", "Feed"},
        {"cpcl", nullptr},
        {"paperang", nullptr},
        {"peripage-384", nullptr},
    };
    for (const auto& c : kCases) {
        ppd_file_t* ppd = ppdOpenFile((kPpdDir + "bandrill-" + c.ppd + ".ppd").c_str());
        ASSERT_NE(ppd, nullptr) << c.ppd;
        ppd_attr_t* attr = ppdFindAttr(ppd, "cupsCommands", nullptr);
        bool filter = false;
        for (int i = 0; i < ppd->num_filters; ++i)
            filter |= std::string(ppd->filters[i]) == "application/vnd.cups-command 0 bandrill";
        if (c.commands) {
            ASSERT_NE(attr, nullptr) << c.ppd;
            EXPECT_STREQ(attr->value, c.commands) << c.ppd;
        } else {
            EXPECT_EQ(attr, nullptr) << c.ppd;
        }
        EXPECT_EQ(filter, c.commands != nullptr) << c.ppd;
        ppdClose(ppd);
    }
}

} // namespace
