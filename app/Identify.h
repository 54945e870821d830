// Identify-Printer: what each family's printers can do to show which one
// they are (a TSPL printer beeps, an ESC/POS printer feeds a few
// millimetres), advertised as identify-actions-supported and sent to
// two-way devices when asked.
#pragma once

#include <string>

#include <pappl/pappl.h>

#include "PrinterFamilies.h"

namespace bandrill_app {

// The bytes of the action; empty when the family has none.
std::string IdentifyBytes(IdentifyKind kind);

// identify-actions-supported/-default and the callback, for the driver
// callback.
void SetIdentify(const PrinterFamily& family, pappl_pr_driver_data_t* data);

} // namespace bandrill_app
