// CUPS command files (application/vnd.cups-command): the maintenance
// commands of the queue's printer (PrintSelfTestPage, and the vendor
// commands Calibrate and Feed), sent to standard output.
#pragma once

// The filter's run for a command file: argv as CUPS gives it; the exit
// status.
int RunCommandFile(int argc, char** argv);
