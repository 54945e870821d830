// The printer's maintenance commands, as each family has them: feed,
// media sensor calibration and the self-test page; and the CUPS command
// files that ask for them. The filter (application/vnd.cups-command) and
// the printer application's maintenance page send the same bytes.
#pragma once

#include <string>
#include <vector>

enum class Maintenance {
    kFeed,      // one label, or 10 mm of continuous media
    kCalibrate, // the media sensor, as the media tracking says
    kSelfTest,  // the printer's own self-test page
};

enum class Tracking { kContinuous, kGap, kMark };

// The bytes of the command for a printer of the model number; empty when
// the family has no such command.
std::string MaintenanceBytes(int model, Maintenance what, int dpi, Tracking tracking);

// What the command does, for people ("Feed one label").
std::string MaintenanceLabel(int model, Maintenance what, Tracking tracking);

// The CUPS command a maintenance command answers to ("PrintSelfTestPage",
// and the vendor commands "Calibrate" and "Feed").
const char* CupsCommandName(Maintenance what);
bool FindCupsCommand(const std::string& name, Maintenance& what);

// A CUPS command file: "#CUPS-COMMAND" on the first line, then a command
// a line; blank lines and other comments are passed over. False with the
// reason when the text is not one.
bool ParseCommandFile(const std::string& text, std::vector<std::string>& commands,
                      std::string& error);
