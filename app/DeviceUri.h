// Device URIs of the application's own schemes, read strictly: a printer is
// added only with a URI its device can be opened with, and the same reading
// is done again when the device is opened. Nothing here depends on PAPPL.
//
//   bt://AA-BB-CC-DD-EE-FF[?channel=N]        Bluetooth serial (RFCOMM)
//   serial:/dev/ttyUSB0[?baud=115200+bits=8+parity=none+stop=1+flow=rtscts]
//   socket://HOST[:PORT][/]                   raw TCP (port 9100); options after "/?"
//   file:///DIRECTORY or file:///dev/DEVICE   confined, see CheckFileDevice
//
// bt, serial and socket URIs also take the link options chunk=BYTES,
// pause=MS, drain=MS and timeout=SECONDS (see Pacing.h); options are joined
// with '+' (as CUPS's serial backend writes them) or '&'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bandrill_app {

// Per-printer overrides of the link's pacing and deadline; -1 keeps the
// family's value, timeout 0 the default deadline.
struct LinkOptions {
    int chunk = -1;   // bytes per write, 1 to 65536
    int pauseMs = -1; // pause after each chunk, 0 to 1000
    int drainMs = -1; // longest wait at the end of a job, 0 to 60000
    int timeoutSec = 0; // a printer that takes no byte for this long fails the job, 1 to 3600
};

struct BluetoothUri {
    uint8_t addr[6] = {};  // as written: addr[0] is "AA"
    std::string address;   // "AA:BB:CC:DD:EE:FF", upper case
    int channel = 0;       // 1 to 30; 0: the Serial Port service's, by SDP
    LinkOptions link;
};

struct SerialUri {
    enum Flow { kNoFlow, kRtsCts, kXonXoff };
    std::string path;
    int baud = 9600;
    int bits = 8;      // 7 or 8
    char parity = 'n'; // 'n', 'e' or 'o'
    int stopBits = 1;  // 1 or 2
    Flow flow = kNoFlow;
    LinkOptions link;
};

struct SocketUri {
    std::string host;
    int port = 9100;
    LinkOptions link;
};

// Each returns false with a sentence for people in error.
bool ParseBluetoothUri(const std::string& uri, BluetoothUri& out, std::string& error);
bool ParseSerialUri(const std::string& uri, SerialUri& out, std::string& error);
bool ParseSocketUri(const std::string& uri, SocketUri& out, std::string& error);

// "bt://AA-BB-CC-DD-EE-FF" for "AA:BB:CC:DD:EE:FF" (or null bytes).
std::string BluetoothDeviceUri(const uint8_t addr[6]);

// The URI's scheme ("bt", "file", ...), lower case; "" if it has none.
std::string UriScheme(const std::string& uri);

// file:// devices. A device is a directory that is one of the allowed
// directories or inside one, or a character device of a printer kind
// (/dev/usb/lp*, /dev/tty*, /dev/rfcomm*, /dev/pts/*). The path is taken
// as it resolves: a symbolic link counts where it points to. Regular files,
// ".." and anything else are refused.
struct FileDevice {
    enum Kind { kDirectory, kCharDevice } kind = kDirectory;
    std::string path;     // resolved
    std::string ext = "prn"; // file name extension in a directory (?ext=)
    bool missing = false;    // refused because the path does not exist
};

bool CheckFileDevice(const std::string& uri, const std::vector<std::string>& allowedDirs,
                     FileDevice& out, std::string& error);

// Whether a resolved path names a character device of a printer kind.
bool IsPrinterCharDevicePath(const std::string& path);

// Whether a resolved path is one of the directories or inside one.
bool IsInsideDirs(const std::string& path, const std::vector<std::string>& dirs);

// The allowed directories: the colon-separated list (when set, even empty)
// or else the default; each as it resolves, those that do not exist left
// out.
std::vector<std::string> FileDeviceDirs(const char* list, const std::string& defaultDir);

// The URI's syntax alone, for any scheme of the application's (the file
// system is not looked at): what a client can check before it asks the
// server. True for schemes it does not know.
bool CheckDeviceUriSyntax(const std::string& uri, std::string& error);

} // namespace bandrill_app
