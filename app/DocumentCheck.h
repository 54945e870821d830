// Image documents checked when their job starts: PAPPL 1.3.1's PNG reader
// never returns on a damaged file, and its JPEG reader prints a truncated
// one as if it were whole; either loops or refuses on an image over its
// size limits (ImageHeader.h). A refused document is marked (a PNG is also
// replaced in the spool by a blank pixel, which PAPPL reads) and its job is
// aborted with the reason when it starts printing.
#pragma once

#include <string>

#include <pappl/pappl.h>

namespace bandrill_app {

// The system's event callback: checks the document of a job that starts
// processing. It runs in the job's thread with the job locked, so it only
// reads the job.
void CheckJobDocument(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job,
                      pappl_event_t event, void* data);

// Whether the job's document was refused, and why (once: the mark is
// taken).
bool TakeDamaged(pappl_job_t* job, std::string& reason);

} // namespace bandrill_app
