// The PAPPL side of the drivers: the driver callback that fills a
// printer's capabilities from the driver table, and the job callbacks that
// print through the render core.
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

// papplMainloop's driver callback.
bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata);

// The raw document format of a model's printer language.
const char* RawFormat(int model);

} // namespace bandrill_app
