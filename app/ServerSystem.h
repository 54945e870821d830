// papplMainloop's system callback: the server made as PAPPL's default
// makes it (the server options of the command line; the spool, state and
// socket places, SNAP_COMMON for a private tree), with the application's
// durable state and bounded job history. (PAPPL's default puts its own
// in-place saving in place after loading the state, and a running server's
// save callback cannot be changed.)
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

// data: the drivers (std::vector<pappl_pr_driver_t>).
pappl_system_t* CreateServerSystem(int num_options, cups_option_t* options, void* data);

} // namespace bandrill_app
