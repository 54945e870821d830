// The printer application's system: papplMainloop's system callback makes
// it as PAPPL's own default would (the server options of the command line,
// the spool, state and log places, SNAP_COMMON for a private tree) and adds
// what is the application's for the whole system: the drivers, the web
// interface's strings, the documents it renders itself, and the saved
// state.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

namespace bandrill_app {

// What papplMainloop hands every callback (its data pointer).
struct AppContext {
    std::string baseName;  // the program's name, as PAPPL names its files
    std::vector<pappl_pr_driver_t> drivers;
    std::vector<std::string> deviceIds;  // the drivers' IEEE 1284 device IDs
};

// papplMainloop's system callback; data is the AppContext.
pappl_system_t* CreateSystem(int num_options, cups_option_t* options, void* data);

} // namespace bandrill_app
