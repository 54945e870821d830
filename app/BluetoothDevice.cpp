#include "BluetoothDevice.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include <pappl/pappl.h>

namespace {

// The kernel's RFCOMM socket address (linux/bluetooth headers are not
// needed for three fields).
const int kAfBluetooth = 31;
const int kBtProtoRfcomm = 3;
struct SockaddrRc {
    sa_family_t family;
    uint8_t bdaddr[6]; // little-endian: the last byte of the text first
    uint8_t channel;
};

// The address "AA-BB-CC-DD-EE-FF" and the channel out of the URI. (Colons
// would make the address a host and port to PAPPL's URI check.)
bool ParseUri(const char* uri, uint8_t addr[6], int& channel)
{
    unsigned b[6];
    char rest[64] = "";
    int n = 0;
    if (std::sscanf(uri, "bt://%2x-%2x-%2x-%2x-%2x-%2x%n", &b[0], &b[1], &b[2], &b[3], &b[4],
                    &b[5], &n) < 6 ||
        n == 0)
        return false;
    std::snprintf(rest, sizeof rest, "%s", uri + n);
    for (int i = 0; i < 6; ++i)
        addr[5 - i] = static_cast<uint8_t>(b[i]);
    channel = 1;
    if (rest[0] != '\0') {
        if (std::strncmp(rest, "?channel=", 9) != 0)
            return false;
        char* end = nullptr;
        channel = static_cast<int>(std::strtol(rest + 9, &end, 10));
        if (*end != '\0' || channel < 1 || channel > 30)
            return false;
    }
    return true;
}

bool Open(pappl_device_t* device, const char* uri, const char*)
{
    SockaddrRc sa;
    std::memset(&sa, 0, sizeof sa);
    int channel = 1;
    if (!ParseUri(uri, sa.bdaddr, channel)) {
        papplDeviceError(device, "Bad Bluetooth URI '%s' (bt://AA-BB-CC-DD-EE-FF?channel=N).", uri);
        return false;
    }
    sa.family = kAfBluetooth;
    sa.channel = static_cast<uint8_t>(channel);
    const int fd = socket(kAfBluetooth, SOCK_STREAM, kBtProtoRfcomm);
    if (fd < 0) {
        if (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT)
            papplDeviceError(device,
                             "Bluetooth is not available on this system (no RFCOMM support in "
                             "the kernel or no adapter).");
        else
            papplDeviceError(device, "Unable to open a Bluetooth socket: %s", strerror(errno));
        return false;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        papplDeviceError(device, "Unable to connect to Bluetooth printer %s: %s", uri,
                         strerror(errno));
        close(fd);
        return false;
    }
    papplDeviceSetData(device, new int(fd));
    return true;
}

void Close(pappl_device_t* device)
{
    int* fd = static_cast<int*>(papplDeviceGetData(device));
    if (fd) {
        close(*fd);
        delete fd;
        papplDeviceSetData(device, nullptr);
    }
}

ssize_t Read(pappl_device_t* device, void* buffer, size_t bytes)
{
    int* fd = static_cast<int*>(papplDeviceGetData(device));
    return fd ? read(*fd, buffer, bytes) : -1;
}

ssize_t Write(pappl_device_t* device, const void* buffer, size_t bytes)
{
    int* fd = static_cast<int*>(papplDeviceGetData(device));
    if (!fd)
        return -1;
    const char* p = static_cast<const char*>(buffer);
    size_t left = bytes;
    while (left > 0) {
        const ssize_t n = write(*fd, p, left);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            papplDeviceError(device, "Unable to write to the Bluetooth printer: %s",
                             strerror(errno));
            return -1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(bytes);
}

pappl_preason_t Status(pappl_device_t*)
{
    return PAPPL_PREASON_NONE;
}

// Bluetooth printers are not searched for: they are added by address.
bool List(pappl_device_cb_t, void*, pappl_deverror_cb_t, void*)
{
    return false;
}

} // namespace

void AddBluetoothScheme()
{
    // A scheme added before the built-in ones exist would be the only one.
    papplDeviceIsSupported("socket://localhost");
    papplDeviceAddScheme("bt", PAPPL_DEVTYPE_CUSTOM_LOCAL, List, Open, Close, Read, Write, Status,
                         nullptr);
}
