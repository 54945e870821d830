// The families' maintenance commands and CUPS command files.
#include <gtest/gtest.h>

#include "PrinterCommands.h"
#include "PrinterFamilies.h"

namespace {

TEST(PrinterCommands, BytesPerFamilyAndTracking)
{
    const struct {
        int model;
        Maintenance what;
        int dpi;
        Tracking tracking;
        std::string bytes;
    } kCases[] = {
        {kModelTSPL, Maintenance::kFeed, 203, Tracking::kGap, "FORMFEED\r\n"},
        {kModelTSPL, Maintenance::kFeed, 203, Tracking::kMark, "FORMFEED\r\n"},
        {kModelTSPL, Maintenance::kFeed, 203, Tracking::kContinuous, "FEED 79\r\n"},
        {kModelTSPL, Maintenance::kFeed, 300, Tracking::kContinuous, "FEED 118\r\n"},
        {kModelTSPL, Maintenance::kCalibrate, 203, Tracking::kGap, "GAPDETECT\r\n"},
        {kModelTSPL, Maintenance::kCalibrate, 203, Tracking::kMark, "BLINEDETECT\r\n"},
        {kModelTSPL, Maintenance::kCalibrate, 203, Tracking::kContinuous, "AUTODETECT\r\n"},
        {kModelTSPL, Maintenance::kSelfTest, 300, Tracking::kGap, "SELFTEST\r\n"},
        {kModelESCPOS, Maintenance::kFeed, 203, Tracking::kContinuous, "\x1bJ\x4f"},
        // What a family does not have sends nothing.
        {kModelESCPOS, Maintenance::kCalibrate, 203, Tracking::kContinuous, ""},
        {kModelESCPOS, Maintenance::kSelfTest, 203, Tracking::kContinuous, ""},
        {kModelCPCL, Maintenance::kFeed, 203, Tracking::kGap, ""},
        {kModelPaperang, Maintenance::kFeed, 203, Tracking::kContinuous, ""},
        {kModelPeriPage, Maintenance::kSelfTest, 203, Tracking::kContinuous, ""},
        // A feed that does not fit ESC J's one byte is not sent wrong.
        {kModelESCPOS, Maintenance::kFeed, 700, Tracking::kContinuous, ""},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(MaintenanceBytes(c.model, c.what, c.dpi, c.tracking), c.bytes)
            << c.model << " " << CupsCommandName(c.what) << " " << c.dpi;
}

TEST(PrinterCommands, CommandFiles)
{
    std::vector<std::string> commands;
    std::string error;
    ASSERT_TRUE(ParseCommandFile("#CUPS-COMMAND\r\n  PrintSelfTestPage\n\n# a comment\n"
                                 "Calibrate now\nFeed",
                                 commands, error));
    EXPECT_EQ(commands, (std::vector<std::string>{"PrintSelfTestPage", "Calibrate", "Feed"}));

    for (const char* bad : {"", "PrintSelfTestPage\n", "#CUPS-COMMANDS\nFeed\n", "RaS2"}) {
        EXPECT_FALSE(ParseCommandFile(bad, commands, error)) << bad;
        EXPECT_NE(error.find("not a CUPS command file"), std::string::npos) << bad;
    }

    Maintenance what;
    for (Maintenance m : {Maintenance::kFeed, Maintenance::kCalibrate, Maintenance::kSelfTest}) {
        ASSERT_TRUE(FindCupsCommand(CupsCommandName(m), what));
        EXPECT_EQ(what, m);
    }
    EXPECT_FALSE(FindCupsCommand("Clean", what));
}

} // namespace
