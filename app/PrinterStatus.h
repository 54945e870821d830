// The printer's status in the application: PAPPL's device status (USB port
// bits, SNMP) and, where the family has one, the printer's own status
// query, read with a short deadline and left alone for a few minutes when
// the printer does not answer. The conditions become printer-state-reasons
// (set while they last, cleared when they go), and a job waits at its start
// and between pages while the printer says it cannot print (out of paper,
// cover open, ...).
// Queries go to two-way devices only (socket, USB, Bluetooth, serial):
// never to a file, and never inside a page's bytes.
#pragma once

#include <sys/types.h>

#include <pappl/pappl.h>

#include "StatusQuery.h"

namespace bandrill_app {

// The per-printer setting that turns the printer's own status query off
// for printers that misbehave on it ("on" by default).
extern const char* const kStatusQueryAttr; // "bandrill-status-query"

// Whether the device URI names a device that answers (socket, USB,
// Bluetooth, serial), not a file.
bool IsTwoWayDevice(const char* uri);

// The driver's status callback.
bool StatusCallback(pappl_printer_t* printer);

// At the job's start and between its pages (serial and Bluetooth links
// only), on the job's device: while the printer reports a condition that
// stops printing, the job waits with the reason shown.
// False when the job was cancelled (or the server stops) meanwhile.
bool WaitUntilPrinterReady(pappl_job_t* job, pappl_device_t* device, bool betweenPages = false);

// The vendor attribute of the setting, for the driver callback of a
// family with a status query.
void AddStatusAttributes(StatusQueryKind kind, pappl_pr_driver_data_t* data, ipp_t* attrs);

// A read of a device's answer within timeoutMs (0: what is there now): 0
// when nothing came, -1 on an error. PAPPL's own reads wait up to 10 s,
// so a status query needs one of these for the device's scheme; devices
// without one (PAPPL's USB) get PAPPL's device status only.
// uri is the device's.
using DeadlineReader = ssize_t (*)(pappl_device_t* device, const char* uri, void* buffer,
                                   size_t bytes, int timeoutMs);
void SetDeadlineReader(const char* scheme, DeadlineReader reader);

// The readers of the application's links (socket, bt, serial) and of
// PAPPL's own network devices (dnssd, snmp). Call after AddDeviceSchemes.
void AddDeadlineReaders();

} // namespace bandrill_app
