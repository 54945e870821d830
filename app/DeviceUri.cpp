#include "DeviceUri.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace bandrill_app {

namespace {

int Hex(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX decoded as PAPPL decodes a URI's path; false on a bad escape or a
// NUL byte.
bool Unescape(const std::string& in, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        const int hi = Hex(in[i + 1]), lo = Hex(in[i + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
            return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool ParseInt(const std::string& text, int lo, int hi, int& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < lo || v > hi)
        return false;
    value = static_cast<int>(v);
    return true;
}

std::vector<std::pair<std::string, std::string>> SplitOptions(const std::string& query)
{
    std::vector<std::pair<std::string, std::string>> options;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find_first_of("+&", start);
        if (end == std::string::npos)
            end = query.size();
        const std::string item = query.substr(start, end - start);
        const size_t eq = item.find('=');
        if (eq == std::string::npos)
            options.push_back({item, std::string()});
        else
            options.push_back({item.substr(0, eq), item.substr(eq + 1)});
        start = end + 1;
    }
    return options;
}

// The link options every link scheme takes; false if name is not one.
// error is set when the name is one but the value is wrong.
bool LinkOption(const std::string& name, const std::string& value, LinkOptions& link,
                std::string& error)
{
    struct Row {
        const char* name;
        int LinkOptions::*field;
        int lo, hi;
        const char* unit;
    };
    static const Row kRows[] = {
        {"chunk", &LinkOptions::chunk, 1, 65536, "bytes"},
        {"pause", &LinkOptions::pauseMs, 0, 1000, "milliseconds"},
        {"drain", &LinkOptions::drainMs, 0, 60000, "milliseconds"},
        {"timeout", &LinkOptions::timeoutSec, 1, 3600, "seconds"},
    };
    for (const Row& r : kRows)
        if (name == r.name) {
            if (!ParseInt(value, r.lo, r.hi, link.*r.field))
                error = "'" + name + "=" + value + "': " + r.name + " takes " +
                        std::to_string(r.lo) + " to " + std::to_string(r.hi) + " " + r.unit + ".";
            return true;
        }
    return false;
}

// Splits "scheme:rest?query"; the query without its '?'.
void SplitQuery(const std::string& uri, std::string& head, std::string& query, bool& hasQuery)
{
    const size_t q = uri.find('?');
    hasQuery = q != std::string::npos;
    head = hasQuery ? uri.substr(0, q) : uri;
    query = hasQuery ? uri.substr(q + 1) : std::string();
}

// An absolute path without "." or ".." components.
bool CleanAbsolutePath(const std::string& path, std::string& error)
{
    if (path.empty() || path[0] != '/') {
        error = "The device path must be absolute.";
        return false;
    }
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "." || part == "..") {
            error = "The device path must not contain '.' or '..'.";
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string Resolve(const std::string& path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

const char* const kBtForm = "bt://AA-BB-CC-DD-EE-FF or bt://AA-BB-CC-DD-EE-FF?channel=N";

} // namespace

std::string UriScheme(const std::string& uri)
{
    const size_t colon = uri.find(':');
    if (colon == std::string::npos || colon == 0)
        return std::string();
    std::string scheme = uri.substr(0, colon);
    for (char& c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
            return std::string();
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return scheme;
}

bool ParseBluetoothUri(const std::string& uri, BluetoothUri& out, std::string& error)
{
    out = BluetoothUri();
    std::string head, query;
    bool hasQuery;
    SplitQuery(uri, head, query, hasQuery);
    if (UriScheme(head) != "bt" || head.compare(2, 3, "://") != 0) {
        error = "A Bluetooth device URI is written " + std::string(kBtForm) + ".";
        return false;
    }
    const std::string addr = head.substr(5);
    // Six groups of exactly two hex digits joined by '-' (colons would read
    // as host and port to URI parsers).
    bool ok = addr.size() == 17;
    for (size_t i = 0; ok && i < addr.size(); ++i)
        ok = i % 3 == 2 ? addr[i] == '-' : Hex(addr[i]) >= 0;
    if (!ok) {
        error = "'" + addr + "' is not a Bluetooth address: six two-digit hex groups, " +
                kBtForm + ".";
        return false;
    }
    char text[18];
    for (int i = 0; i < 6; ++i) {
        out.addr[i] = static_cast<uint8_t>(Hex(addr[i * 3]) * 16 + Hex(addr[i * 3 + 1]));
        std::snprintf(text + i * 3, 4, i < 5 ? "%02X:" : "%02X", out.addr[i]);
    }
    out.address = text;
    if (!hasQuery)
        return true;
    for (const auto& o : SplitOptions(query)) {
        error.clear();
        if (o.first == "channel") {
            if (!ParseInt(o.second, 1, 30, out.channel))
                error = "'channel=" + o.second + "': an RFCOMM channel is 1 to 30.";
        } else if (!LinkOption(o.first, o.second, out.link, error)) {
            error = "Unknown option '" + o.first +
                    "' (bt:// takes channel, chunk, pause, drain and timeout).";
        }
        if (!error.empty())
            return false;
    }
    return true;
}

bool ParseSerialUri(const std::string& uri, SerialUri& out, std::string& error)
{
    out = SerialUri();
    std::string head, query;
    bool hasQuery;
    SplitQuery(uri, head, query, hasQuery);
    if (UriScheme(head) != "serial") {
        error = "A serial device URI is written serial:/dev/ttyUSB0?baud=115200.";
        return false;
    }
    std::string path = head.substr(7);
    // serial:///dev/... as well as serial:/dev/...
    if (StartsWith(path, "//"))
        path = path.substr(2);
    if (!Unescape(path, out.path)) {
        error = "The device path has a bad %-escape.";
        return false;
    }
    if (!CleanAbsolutePath(out.path, error))
        return false;
    if (!StartsWith(out.path, "/dev/") || out.path.size() == 5) {
        error = "'" + out.path + "' is not a device: serial: takes a terminal device under /dev.";
        return false;
    }
    if (!hasQuery)
        return true;
    static const int kBauds[] = {1200,   2400,   4800,   9600,   19200,  38400,   57600,
                                 115200, 230400, 460800, 500000, 576000, 921600, 1000000};
    for (const auto& o : SplitOptions(query)) {
        const std::string& n = o.first;
        const std::string& v = o.second;
        error.clear();
        if (n == "baud") {
            int baud = 0;
            bool known = ParseInt(v, 1, 4000000, baud);
            bool listed = false;
            for (int b : kBauds)
                listed = listed || b == baud;
            if (!known || !listed)
                error = "'baud=" + v + "': not a baud rate (1200, 2400, ..., 9600, 19200, 38400, "
                        "57600, 115200, 230400, ..., 1000000).";
            out.baud = baud;
        } else if (n == "bits") {
            if (!ParseInt(v, 7, 8, out.bits))
                error = "'bits=" + v + "': data bits are 7 or 8.";
        } else if (n == "parity") {
            if (v == "none")
                out.parity = 'n';
            else if (v == "even")
                out.parity = 'e';
            else if (v == "odd")
                out.parity = 'o';
            else
                error = "'parity=" + v + "': parity is none, even or odd.";
        } else if (n == "stop") {
            if (!ParseInt(v, 1, 2, out.stopBits))
                error = "'stop=" + v + "': stop bits are 1 or 2.";
        } else if (n == "flow") {
            // CUPS's names: hard and rtscts, soft and xonxoff, none.
            if (v == "none")
                out.flow = SerialUri::kNoFlow;
            else if (v == "rtscts" || v == "hard")
                out.flow = SerialUri::kRtsCts;
            else if (v == "xonxoff" || v == "soft")
                out.flow = SerialUri::kXonXoff;
            else
                error = "'flow=" + v + "': flow control is none, rtscts (hard) or xonxoff (soft).";
        } else if (!LinkOption(n, v, out.link, error)) {
            error = "Unknown option '" + n +
                    "' (serial: takes baud, bits, parity, stop, flow, chunk, pause, drain and "
                    "timeout).";
        }
        if (!error.empty())
            return false;
    }
    return true;
}

bool ParseSocketUri(const std::string& uri, SocketUri& out, std::string& error)
{
    out = SocketUri();
    std::string head, query;
    bool hasQuery;
    SplitQuery(uri, head, query, hasQuery);
    if (UriScheme(head) != "socket" || head.compare(6, 3, "://") != 0) {
        error = "A network printer's URI is written socket://HOST or socket://HOST:PORT.";
        return false;
    }
    std::string rest = head.substr(9);
    if (hasQuery && (rest.empty() || rest.back() != '/')) {
        // URI parsers read "HOST:PORT?..." as a bad port.
        error = "Options follow a '/': socket://HOST:PORT/?timeout=N.";
        return false;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::string port;
    bool hasPort = false;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            error = "'" + rest + "': an IPv6 address ends with ']'.";
            return false;
        }
        out.host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') {
            error = "Nothing may follow the address but a port.";
            return false;
        }
        hasPort = !rest.empty();
        port = hasPort ? rest.substr(1) : std::string();
    } else {
        const size_t colon = rest.rfind(':');
        hasPort = colon != std::string::npos;
        out.host = hasPort ? rest.substr(0, colon) : rest;
        port = hasPort ? rest.substr(colon + 1) : std::string();
    }
    if (out.host.empty() || out.host.find_first_of("/ ?#@[]") != std::string::npos) {
        error = "'" + out.host + "' is not a host name or address.";
        return false;
    }
    if (hasPort && !ParseInt(port, 1, 65535, out.port)) {
        error = "'" + port + "' is not a port number (1 to 65535).";
        return false;
    }
    if (!hasQuery)
        return true;
    for (const auto& o : SplitOptions(query)) {
        error.clear();
        if (!LinkOption(o.first, o.second, out.link, error))
            error = "Unknown option '" + o.first +
                    "' (socket:// takes chunk, pause, drain and timeout).";
        if (!error.empty())
            return false;
    }
    return true;
}

std::string BluetoothDeviceUri(const uint8_t addr[6])
{
    char text[32];
    std::snprintf(text, sizeof text, "bt://%02X-%02X-%02X-%02X-%02X-%02X", addr[0], addr[1],
                  addr[2], addr[3], addr[4], addr[5]);
    return text;
}

bool IsPrinterCharDevicePath(const std::string& path)
{
    auto below = [&path](const char* prefix) {
        return StartsWith(path, prefix) && path.size() > std::strlen(prefix) &&
               path.find('/', std::strlen(prefix)) == std::string::npos;
    };
    if (path == "/dev/tty")
        return true;
    return below("/dev/usb/lp") || below("/dev/tty") || below("/dev/rfcomm") ||
           (below("/dev/pts/") && path != "/dev/pts/ptmx");
}

bool IsInsideDirs(const std::string& path, const std::vector<std::string>& dirs)
{
    for (const std::string& d : dirs) {
        if (d.empty())
            continue;
        if (path == d)
            return true;
        const std::string prefix = d == "/" ? d : d + "/";
        if (StartsWith(path, prefix.c_str()))
            return true;
    }
    return false;
}

std::vector<std::string> FileDeviceDirs(const char* list, const std::string& defaultDir)
{
    std::vector<std::string> dirs;
    const std::string text = list ? list : defaultDir;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(':', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        // Relative entries are left out: they would depend on the server's
        // working directory.
        if (!item.empty() && item[0] == '/') {
            const std::string resolved = Resolve(item);
            if (!resolved.empty())
                dirs.push_back(resolved);
        }
        start = end + 1;
    }
    return dirs;
}

bool CheckFileDevice(const std::string& uri, const std::vector<std::string>& allowedDirs,
                     FileDevice& out, std::string& error)
{
    out = FileDevice();
    std::string head, query;
    bool hasQuery;
    SplitQuery(uri, head, query, hasQuery);
    if (UriScheme(head) != "file" || head.compare(4, 3, "://") != 0) {
        error = "A file device URI is written file:///PATH.";
        return false;
    }
    std::string rest = head.substr(7);
    if (StartsWith(rest, "localhost/"))
        rest = rest.substr(9);
    std::string path;
    if (!Unescape(rest, path)) {
        error = "The path has a bad %-escape.";
        return false;
    }
    if (!CleanAbsolutePath(path, error))
        return false;
    if (hasQuery) {
        for (const auto& o : SplitOptions(query)) {
            bool good = o.first == "ext" && !o.second.empty() && o.second.size() <= 8;
            for (char c : o.second)
                good = good && std::isalnum(static_cast<unsigned char>(c));
            if (!good) {
                error = "'" + o.first + "=" + o.second +
                        "': file:// takes only ext= with up to 8 letters or digits.";
                return false;
            }
            out.ext = o.second;
        }
    }
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        out.missing = true;
        error = "'" + path + "' does not exist.";
        return false;
    }
    out.path = Resolve(path);
    if (out.path.empty() || stat(out.path.c_str(), &info) != 0) {
        error = "'" + path + "' cannot be resolved.";
        return false;
    }
    const std::string shown = out.path == path ? "'" + path + "'"
                                               : "'" + path + "' (that is '" + out.path + "')";
    if (S_ISDIR(info.st_mode)) {
        out.kind = FileDevice::kDirectory;
        if (IsInsideDirs(out.path, allowedDirs))
            return true;
        std::string list;
        for (const std::string& d : allowedDirs)
            list += (list.empty() ? "" : ":") + d;
        error = shown + " is not a folder printers may write to; the allowed folders are " +
                (list.empty() ? std::string("none") : "'" + list + "'") +
                " (BANDRILL_FILE_DEVICE_DIRS).";
        return false;
    }
    if (S_ISCHR(info.st_mode)) {
        out.kind = FileDevice::kCharDevice;
        if (IsPrinterCharDevicePath(out.path))
            return true;
        error = shown + " is not a printer device (/dev/usb/lp*, /dev/tty*, /dev/rfcomm*, "
                        "/dev/pts/*).";
        return false;
    }
    error = shown + (S_ISREG(info.st_mode) ? " is a regular file" : " is not a folder or device") +
            ": a file device is a folder (one file per job) or a printer device.";
    return false;
}

bool CheckDeviceUriSyntax(const std::string& uri, std::string& error)
{
    const std::string scheme = UriScheme(uri);
    if (scheme == "bt") {
        BluetoothUri b;
        return ParseBluetoothUri(uri, b, error);
    }
    if (scheme == "serial") {
        SerialUri s;
        return ParseSerialUri(uri, s, error);
    }
    if (scheme == "socket") {
        SocketUri s;
        return ParseSocketUri(uri, s, error);
    }
    if (scheme == "file") {
        std::string head, query;
        bool hasQuery;
        SplitQuery(uri, head, query, hasQuery);
        std::string path = head.compare(0, 7, "file://") == 0 ? head.substr(7) : std::string();
        if (StartsWith(path, "localhost/"))
            path = path.substr(9);
        std::string decoded;
        if (!Unescape(path, decoded)) {
            error = "The path has a bad %-escape.";
            return false;
        }
        return CleanAbsolutePath(decoded, error);
    }
    return true;
}

} // namespace bandrill_app
