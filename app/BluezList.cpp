#include "BluezList.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <strings.h>

#include <systemd/sd-bus.h>

#include "DeviceNames.h"

namespace bandrill_app {

namespace {

// A listing or a diagnosis must not hang on a bus that does not answer.
const uint64_t kCallTimeoutUs = 3000000;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};

// Reads a variant's value if it has the signature wanted, skips it
// otherwise; value is one of std::string, int, uint32_t, int16_t or a list
// of strings.
int ReadVariantString(sd_bus_message* m, std::string& out)
{
    const char* s = nullptr;
    int r = sd_bus_message_read(m, "v", "s", &s);
    if (r >= 0 && s)
        out = s;
    return r;
}

bool PeekVariant(sd_bus_message* m, const char* signature)
{
    char type = 0;
    const char* contents = nullptr;
    return sd_bus_message_peek_type(m, &type, &contents) > 0 && type == 'v' && contents &&
           std::strcmp(contents, signature) == 0;
}

int ReadProperty(sd_bus_message* m, const std::string& iface, const std::string& prop,
                 BluezAdapter& adapter, BluezDevice& device)
{
    if (iface == "org.bluez.Adapter1" && prop == "Powered" && PeekVariant(m, "b")) {
        int b = 0;
        const int r = sd_bus_message_read(m, "v", "b", &b);
        adapter.powered = b != 0;
        return r;
    }
    if (iface != "org.bluez.Device1")
        return sd_bus_message_skip(m, "v");
    if ((prop == "Address" || prop == "Name" || prop == "Alias") && PeekVariant(m, "s")) {
        std::string s;
        const int r = ReadVariantString(m, s);
        if (prop == "Address")
            device.address = s;
        else if (prop == "Alias" || device.name.empty())
            device.name = s;
        return r;
    }
    if ((prop == "Paired" || prop == "Connected") && PeekVariant(m, "b")) {
        int b = 0;
        const int r = sd_bus_message_read(m, "v", "b", &b);
        (prop == "Paired" ? device.paired : device.connected) = b != 0;
        return r;
    }
    if (prop == "RSSI" && PeekVariant(m, "n")) {
        device.nearby = true;
        return sd_bus_message_skip(m, "v");
    }
    if (prop == "Class" && PeekVariant(m, "u"))
        return sd_bus_message_read(m, "v", "u", &device.deviceClass);
    if (prop == "UUIDs" && PeekVariant(m, "as")) {
        int r = sd_bus_message_enter_container(m, 'v', "as");
        if (r < 0)
            return r;
        char** uuids = nullptr;
        r = sd_bus_message_read_strv(m, &uuids);
        if (r >= 0 && uuids) {
            for (char** u = uuids; *u; ++u) {
                if (strncasecmp(*u, "00001101-0000-1000-8000-00805f9b34fb", 36) == 0)
                    device.serialPort = true;
                free(*u);
            }
            free(uuids);
        }
        return r < 0 ? r : sd_bus_message_exit_container(m);
    }
    return sd_bus_message_skip(m, "v");
}

int ReadObjects(sd_bus_message* m, std::vector<BluezAdapter>& adapters,
                std::vector<BluezDevice>& devices)
{
    int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    if (r < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        const char* path = nullptr;
        if ((r = sd_bus_message_read(m, "o", &path)) < 0)
            return r;
        BluezAdapter adapter;
        BluezDevice device;
        bool isAdapter = false, isDevice = false;
        if ((r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}")) < 0)
            return r;
        while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char* iface = nullptr;
            if ((r = sd_bus_message_read(m, "s", &iface)) < 0)
                return r;
            const std::string i = iface ? iface : "";
            isAdapter = isAdapter || i == "org.bluez.Adapter1";
            isDevice = isDevice || i == "org.bluez.Device1";
            if ((r = sd_bus_message_enter_container(m, 'a', "{sv}")) < 0)
                return r;
            while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
                const char* prop = nullptr;
                if ((r = sd_bus_message_read(m, "s", &prop)) < 0 ||
                    (r = ReadProperty(m, i, prop ? prop : "", adapter, device)) < 0 ||
                    (r = sd_bus_message_exit_container(m)) < 0)
                    return r;
            }
            if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0 ||
                (r = sd_bus_message_exit_container(m)) < 0)
                return r;
        }
        if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0 ||
            (r = sd_bus_message_exit_container(m)) < 0)
            return r;
        if (isAdapter) {
            adapter.path = path ? path : "";
            adapters.push_back(adapter);
        }
        if (isDevice && !device.address.empty())
            devices.push_back(device);
    }
    if (r < 0)
        return r;
    return sd_bus_message_exit_container(m);
}

bool IsImagingPrinterClass(uint32_t cls)
{
    // Major device class 6 (imaging), minor bit 7 (printer).
    return ((cls >> 8) & 0x1f) == 6 && (cls & 0x80) != 0;
}

} // namespace

bool ReadBluez(std::vector<BluezAdapter>& adapters, std::vector<BluezDevice>& devices,
               std::string& error)
{
    adapters.clear();
    devices.clear();
    sd_bus* raw = nullptr;
    int r = sd_bus_open_system(&raw);
    std::unique_ptr<sd_bus, BusDeleter> bus(raw);
    if (r < 0) {
        error = std::string("The system's D-Bus cannot be reached: ") + std::strerror(-r) + ".";
        return false;
    }
    sd_bus_message* rawCall = nullptr;
    r = sd_bus_message_new_method_call(bus.get(), &rawCall, "org.bluez", "/",
                                       "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
    std::unique_ptr<sd_bus_message, MessageDeleter> call(rawCall);
    if (r < 0) {
        error = std::string("Cannot ask BlueZ: ") + std::strerror(-r) + ".";
        return false;
    }
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message* rawReply = nullptr;
    r = sd_bus_call(bus.get(), call.get(), kCallTimeoutUs, &e, &rawReply);
    std::unique_ptr<sd_bus_message, MessageDeleter> reply(rawReply);
    if (r < 0) {
        const bool absent = sd_bus_error_has_name(&e, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
                            sd_bus_error_has_name(&e, SD_BUS_ERROR_NAME_HAS_NO_OWNER);
        error = absent ? "BlueZ (bluetoothd) is not running."
                       : std::string("BlueZ did not answer: ") +
                             (e.message ? e.message : std::strerror(-r)) + ".";
        sd_bus_error_free(&e);
        return false;
    }
    sd_bus_error_free(&e);
    r = ReadObjects(reply.get(), adapters, devices);
    if (r < 0) {
        error = std::string("BlueZ's answer could not be read: ") + std::strerror(-r) + ".";
        return false;
    }
    return true;
}

std::vector<BluetoothPrinter> BluetoothPrinters(const std::vector<BluezDevice>& devices)
{
    std::vector<BluetoothPrinter> printers;
    for (const BluezDevice& d : devices) {
        BluetoothUri uri;
        std::string error;
        std::string dashed = d.address;
        for (char& c : dashed)
            c = c == ':' ? '-' : c;
        if (!ParseBluetoothUri("bt://" + dashed, uri, error))
            continue;
        const std::string name = PlainName(d.name.empty() ? d.address : d.name);
        const char* driver = SuggestDriver(d.name);
        const bool printer = driver || IsImagingPrinterClass(d.deviceClass);
        if (!(d.paired && (printer || d.serialPort)) && !(d.nearby && printer))
            continue;
        BluetoothPrinter p;
        p.uri = BluetoothDeviceUri(uri.addr);
        p.driver = driver;
        p.info = name + " (Bluetooth " + uri.address + (d.paired ? ", paired" : ", not paired") +
                 (driver ? std::string("; driver ") + driver : std::string()) + ")";
        p.deviceId = "MDL:" + name + ";CLS:PRINTER;";
        printers.push_back(p);
    }
    return printers;
}

BluetoothState CBluezProbe::Probe(const std::string& address)
{
    BluetoothState state;
    std::vector<BluezAdapter> adapters;
    std::vector<BluezDevice> devices;
    std::string error;
    if (!ReadBluez(adapters, devices, error))
        return state;
    state.known = true;
    state.adapters = static_cast<int>(adapters.size());
    for (const BluezAdapter& a : adapters)
        state.powered = state.powered || a.powered;
    for (const BluezDevice& d : devices)
        if (strcasecmp(d.address.c_str(), address.c_str()) == 0) {
            state.deviceKnown = true;
            state.paired = state.paired || d.paired;
            state.name = d.name;
        }
    return state;
}

} // namespace bandrill_app
