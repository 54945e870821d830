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

// A Get-Printer-Attributes response with what PAPPL 1.3.1 gets wrong:
// printer-supply-info-uri (a page it has not), printer-up-time (0) and
// uri-security-supported (a value for a URI it does not list).
void FixPrinterAttributes(pappl_client_t* client, pappl_printer_t* printer);

} // namespace bandrill_app
