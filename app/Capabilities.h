// A printer's capabilities from its driver: what papplMainloop's driver
// callback fills in (resolution, media, media tracking, darkness, speed,
// the job callbacks) and the vendor attributes of the settings the
// driver's PPD lets people choose, with their supported values and
// defaults from the settings table.
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

// papplMainloop's driver callback.
bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata);

} // namespace bandrill_app
