// Bluetooth printers as BlueZ knows them, read over the system D-Bus
// (org.bluez's object manager): the adapters and whether they are on, the
// paired and recently seen devices, and of those the ones that look like
// printers, each with the driver its name suggests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BluetoothDevice.h"

namespace bandrill_app {

struct BluezAdapter {
    std::string path;
    bool powered = false;
};

struct BluezDevice {
    std::string address; // "AA:BB:CC:DD:EE:FF"
    std::string name;    // the alias where there is one
    bool paired = false;
    bool connected = false;
    bool nearby = false; // seen in the last discovery (has a signal strength)
    uint32_t deviceClass = 0;
    bool serialPort = false; // lists the Serial Port service
};

// False with error when BlueZ cannot be asked (no system bus, no bluetoothd).
bool ReadBluez(std::vector<BluezAdapter>& adapters, std::vector<BluezDevice>& devices,
               std::string& error);

struct BluetoothPrinter {
    std::string uri;      // bt://AA-BB-CC-DD-EE-FF
    std::string info;     // for people: name, address, paired, suggested driver
    std::string deviceId; // "MDL:name;CLS:PRINTER;" (the name for auto-adding)
    const char* driver;   // suggested, or null
};

// The devices a user would add as printers: paired ones and nearby ones
// whose name, device class or services say printer.
std::vector<BluetoothPrinter> BluetoothPrinters(const std::vector<BluezDevice>& devices);

// BlueZ's word on one printer, over D-Bus.
class CBluezProbe : public IBluetoothProbe {
public:
    BluetoothState Probe(const std::string& address) override;
};

} // namespace bandrill_app
