// The driver's job callbacks: raster jobs through the core's page loop,
// the printer's own language passed to the device unchanged, and the test
// page.
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

struct Driver;

// The printer's driver, also for a printer added with the driver "auto".
const Driver* DriverOf(pappl_printer_t* printer);

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               unsigned page);
bool WriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
               const unsigned char* line);
bool EndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool EndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// The printer's own language: the document goes to the device unchanged,
// once per copy.
bool PrintFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

const char* TestPage(pappl_printer_t* printer, char* buffer, size_t bufsize);

} // namespace bandrill_app
