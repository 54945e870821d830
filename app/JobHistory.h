// The finished jobs a server keeps. PAPPL trims a printer's history to its
// limit only when a job finished a minute earlier (the PAPPL built by
// scripts/setup.sh trims the oldest jobs whatever their age; Debian's keeps
// every job younger than a minute), so after a busy spell the history stays
// long, and every save of the state writes all of it. A timer trims each
// printer's history to the last N every 5 seconds.
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

// N from the environment variable BANDRILL_JOB_HISTORY (finished jobs kept
// per printer, at least 1; default 100).
int JobHistoryLength();

void BoundJobHistory(pappl_system_t* system);

} // namespace bandrill_app
