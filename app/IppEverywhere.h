// What IPP Everywhere clients (driverless CUPS queues among them) read of a
// printer besides the driver data PAPPL turns into attributes: cutting as
// finishings, the paper as a supply, the values a thermal printer has for
// colour rendering and overrides; and the media names of earlier releases.
#pragma once

#include <pappl/pappl.h>

#include "Drivers.h"

namespace bandrill_app {

// The driver's attributes of the kind above, added to its vendor ones.
void AddIppEverywhereAttributes(const Driver& driver, ipp_t* attrs);

// The cut mode (the CutMode choice, "Page" or "Job") a job's finishings or
// finishings-col ask for, or null when they ask for none.
const char* CutModeForFinishings(pappl_job_t* job);

// Media names of earlier releases (with a dot in the name part) in a
// request's media, media-default, media-col and media-col-default changed
// to the names the drivers list now.
void RenameOldMedia(ipp_t* request);
// The same in the printers' saved defaults and loaded media.
void RenameOldMedia(pappl_system_t* system);

// printer-supply-info-uri of a Get-Printer-Attributes response: the
// printer's media page, where the loaded paper is set (PAPPL 1.3.1 names
// its supplies page, which a printer without supply levels does not have).
void AddSupplyInfoUri(pappl_client_t* client, pappl_printer_t* printer);

} // namespace bandrill_app
