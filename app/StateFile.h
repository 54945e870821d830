// The server's state (its settings, the printers with their defaults, the
// jobs) on disk. PAPPL rewrites the state file in place, so a crash or a
// kill while it saves leaves a short or empty file and the printers are
// gone at the next start; here the state is written to a temporary file
// that is flushed to the disk and then renamed over the state file, so the
// file always holds one whole state.
#pragma once

#include <string>

#include <pappl/pappl.h>

namespace bandrill_app {

// Loads the state file, when there is one.
bool LoadState(pappl_system_t* system, const std::string& path);

// Saves the state to path from now on, as described above. Saves come at
// most about once a second (each writes every job PAPPL keeps, and holds
// up the main loop); what is left out is saved a second later, and before
// the server begins to shut down on SIGTERM or SIGINT. A temporary file
// left by a save that was cut short is removed once the server runs.
void UseDurableState(pappl_system_t* system, const std::string& path);

// Writes the state once (temporary file, flush, rename); false with a
// logged reason when the file cannot be written whole.
bool WriteState(pappl_system_t* system, const std::string& path);

} // namespace bandrill_app
