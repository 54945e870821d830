// The driver a printer's own name suggests ("Paperang_P2", "MTP-II_4F3A",
// ...): Bluetooth printers report no device ID, only the name they
// advertise.
#pragma once

#include <string>

namespace bandrill_app {

// The driver name ("paperang", "escpos-58", ...) or null.
const char* SuggestDriver(const std::string& name);

// A name as a device list may show it: printable ASCII without the
// characters that mean something in HTML, device IDs or PAPPL's device
// form ("<>&\"'|;:\\"), at most 64 bytes.
std::string PlainName(const std::string& name);

} // namespace bandrill_app
