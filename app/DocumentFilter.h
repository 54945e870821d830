// The documents the printer application renders itself: PDF, PNG, JPEG and
// plain text, known by their content whatever the client called them. Each
// page is rendered in 8-bit grey at the printer's resolution, placed on the
// label or roll as bandrill-fit and orientation-requested say, and printed
// through the driver's raster callbacks, so it prints as a raster page of
// the same lines would (the same page loop, settings and bytes). A document
// that cannot be printed is aborted with the reason in the job's message.
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

// Types documents sent without a format by their content, and adds the
// filter for every printer family's drivers. Before the system runs.
void AddDocumentFilters(pappl_system_t* system);

} // namespace bandrill_app
