// The application's device schemes in PAPPL: file:// and socket:// in
// place of PAPPL's own (confined, with write deadlines), bt:// and
// serial:, each a CLink; and the hooks the job callbacks call so that a
// job connects (waiting, with the reason shown, while the printer cannot
// be reached), is paced for its printer family, and completes only once
// the printer has taken its last byte.
#pragma once

#include <string>
#include <sys/types.h>

#include <pappl/pappl.h>

namespace bandrill_app {

// Registers the schemes, then PAPPL's other built-in ones (USB, DNS-SD,
// SNMP). Call before papplMainloop: the client commands list devices too.
void AddDeviceSchemes();

// The server's spool folder, as the system callback chooses it; its
// "output" folder is where file:// devices may write unless
// BANDRILL_FILE_DEVICE_DIRS says otherwise.
void SetSpoolDirectory(const std::string& dir);

// Whether a printer may be created with the device URI (syntax, allowed
// places); error for people.
bool CheckNewDeviceUri(const char* uri, std::string& error);

// The client side of "add -v URI": the URI's syntax is checked before the
// server is asked, so that the user reads why. Returns 0 to go on, else an
// exit status (the reason printed).
int CheckAddCommand(int argc, char* argv[]);

// The job callbacks' hooks. StartJob connects and sets the family's
// pacing; EndPage hands the page's bytes to the link; EndJob waits until
// the printer has taken everything. Each returns false when the job
// cannot go on, with the reason in the job's state message.
bool DeviceStartJob(pappl_job_t* job, pappl_device_t* device, int model);
bool DeviceEndPage(pappl_job_t* job, pappl_device_t* device);
bool DeviceEndJob(pappl_job_t* job, pappl_device_t* device);
// Whether a device of the application's schemes has already told the job
// why it failed; error is then the system's error of the failed write (0
// if the link failed otherwise).
bool DeviceFailureReported(pappl_device_t* device, int& error);

// Reads a printer's answer on a device of the application's schemes
// within timeoutMs, connecting the link first if it is not connected: 0
// when nothing came, -1 on an error or for a device of another scheme.
// (PAPPL's reads wait 5 s, too long for a status query.)
ssize_t DeviceReadWithin(pappl_device_t* device, void* buffer, size_t bytes, int timeoutMs);

// papplMainloop's auto-add callback: the driver a device's name suggests
// (Bluetooth printers report no device ID, only a name).
const char* AutoAddDriver(const char* printer_name, const char* device_uri, const char* device_id,
                          void* data);

} // namespace bandrill_app
