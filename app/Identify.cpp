#include "Identify.h"

#include "Drivers.h"
#include "PrinterStatus.h"

namespace bandrill_app {

namespace {

void IdentifyCallback(pappl_printer_t* printer, pappl_identify_actions_t actions, const char*)
{
    const Driver* driver = FindDriver(papplPrinterGetDriverName(printer));
    const std::string bytes = driver ? IdentifyBytes(driver->family->identify) : std::string();
    if (bytes.empty() || !actions)
        return;
    if (!IsTwoWayDevice(papplPrinterGetDeviceURI(printer))) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                        "Identify: the printer's device is a file; nothing sent.");
        return;
    }
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (!device) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                        "Identify: the printer is busy; nothing sent.");
        return;
    }
    if (papplDeviceWrite(device, bytes.data(), bytes.size()) < 0)
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Identify: unable to write to the printer.");
    else
        papplDeviceFlush(device);
    papplPrinterCloseDevice(printer);
}

} // namespace

std::string IdentifyBytes(IdentifyKind kind)
{
    switch (kind) {
    case kIdentifySound:
        return "SOUND 5,200\r\n"; // TSPL: a beep, middle level
    case kIdentifyFeed:
        return "\x1bJ\x18"; // ESC/POS ESC J 24: 3 mm at 203 dpi
    case kNoIdentify:
        break;
    }
    return std::string();
}

void SetIdentify(const PrinterFamily& family, pappl_pr_driver_data_t* data)
{
    // IPP names no paper feed: a feed is what people see, as a light
    // flashing.
    pappl_identify_actions_t action = PAPPL_IDENTIFY_ACTIONS_NONE;
    if (family.identify == kIdentifySound)
        action = PAPPL_IDENTIFY_ACTIONS_SOUND;
    else if (family.identify == kIdentifyFeed)
        action = PAPPL_IDENTIFY_ACTIONS_FLASH;
    if (!action)
        return;
    data->identify_supported = action;
    data->identify_default = action;
    data->identify_cb = IdentifyCallback;
}

} // namespace bandrill_app
