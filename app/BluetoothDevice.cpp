#include "BluetoothDevice.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "BluezList.h"

namespace bandrill_app {

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

// Paging a printer that is off or away takes the radio up to about 5 s;
// with authentication a connection may take longer.
const int kConnectMs = 20000;

} // namespace

int CRfcommConnector::Connect(const uint8_t addr[6], int channel,
                              const std::function<bool()>& stop, int& err)
{
    const int fd = socket(kAfBluetooth, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, kBtProtoRfcomm);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    SockaddrRc sa;
    std::memset(&sa, 0, sizeof sa);
    sa.family = kAfBluetooth;
    for (int i = 0; i < 6; ++i)
        sa.bdaddr[i] = addr[5 - i];
    sa.channel = static_cast<uint8_t>(channel);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        err = errno;
        close(fd);
        return -1;
    }
    const int soerr = WaitConnected(fd, kConnectMs, stop);
    if (soerr != 0) {
        err = soerr;
        close(fd);
        return -1;
    }
    return fd;
}

int CRfcommConnector::Queued(int fd)
{
    // A Bluetooth socket answers TIOCOUTQ with the free room of its send
    // buffer, not with what it holds.
    int room = 0, size = 0;
    socklen_t len = sizeof size;
    if (ioctl(fd, TIOCOUTQ, &room) != 0 || getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &len) != 0)
        return -1;
    return size > room ? size - room : 0;
}

std::string BluetoothFailureText(int err, const BluetoothState& state, const std::string& address,
                                 int channel)
{
    const std::string printer =
        "The printer " + (state.name.empty() ? address : state.name + " (" + address + ")");
    const std::string why = std::string(" (") + std::strerror(err) + ")";
    if (state.known) {
        if (state.adapters == 0)
            return "No Bluetooth adapter is present: plug one in or switch it on" + why + ".";
        if (!state.powered)
            return "Bluetooth is off: switch it on (bluetoothctl power on)" + why + ".";
        if (!state.paired)
            return printer + " is not paired with this computer: switch it on and pair it "
                             "(bluetoothctl pair " +
                   address + "; the PIN is often 0000 or 1234)" + why + ".";
    }
    switch (err) {
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
    case ESOCKTNOSUPPORT:
        return "Bluetooth is not available on this system (no Bluetooth support in the kernel, "
               "or no adapter)" + why + ".";
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ENODEV:
        return "No Bluetooth adapter is ready: it is off or missing" + why + ".";
    case EHOSTDOWN:
    case ETIMEDOUT:
        return printer + " is out of range or switched off" + why + ".";
    case ECONNREFUSED:
        return printer + " refused the connection" +
               (channel > 0 ? " on channel " + std::to_string(channel) : std::string()) +
               ": another device may be connected to it, or the channel is not its serial "
               "port" + why + ".";
    case EACCES:
    case EPERM:
    case ECONNRESET:
    case EKEYREJECTED:
        return printer + " refused this computer: pair it again" + why + ".";
    case EBUSY:
    case EALREADY:
        return "The Bluetooth adapter is busy with another connection" + why + ".";
    default:
        return "Cannot connect to " + printer.substr(4) + why + ".";
    }
}

CBluetoothLink::CBluetoothLink(const std::string& uri, std::shared_ptr<IServiceLookup> sdp,
                               std::shared_ptr<IRfcommConnector> rfcomm,
                               std::shared_ptr<IBluetoothProbe> probe)
    : m_sdp(sdp ? std::move(sdp) : std::make_shared<CSdpLookup>()),
      m_rfcomm(rfcomm ? std::move(rfcomm) : std::make_shared<CRfcommConnector>()),
      m_probe(probe ? std::move(probe) : std::make_shared<CBluezProbe>())
{
    if (!ParseBluetoothUri(uri, m_uri, m_parseError))
        m_uri.address = uri;
}

std::string CBluetoothLink::Describe() const
{
    return "the Bluetooth printer " + m_uri.address;
}

int CBluetoothLink::Queued(int fd) const
{
    return m_rfcomm->Queued(fd);
}

std::string CBluetoothLink::DroppedText(int err) const
{
    return "The Bluetooth link to " + m_uri.address + " dropped after " +
           std::to_string(BytesSent()) + " bytes of the job (" + std::strerror(err) +
           "): the printer went out of range, was switched off or ran out of power.";
}

int CBluetoothLink::Open()
{
    if (!m_parseError.empty()) {
        Fail(kRefused, m_parseError);
        return -1;
    }
    int channel = m_uri.channel;
    if (channel == 0 && m_channel == 0) {
        int err = 0;
        std::string detail;
        const int found =
            m_sdp->SerialPortChannel(m_uri.addr, [this] { return StopRequested(); }, err, detail);
        if (found < 0 && err != EPROTO) {
            // The printer could not be asked: the same reasons as a failed
            // connection.
            Fail(kUnreachable, BluetoothFailureText(err, m_probe->Probe(m_uri.address),
                                                    m_uri.address, 0));
            return -1;
        }
        // A printer with no or a broken service record gets the channel
        // most printers use.
        m_channel = found > 0 ? found : 1;
        Note(found > 0 ? m_uri.address + " lists its serial port on channel " +
                             std::to_string(found) + "."
                       : m_uri.address + " lists no serial port service" +
                             (detail.empty() ? std::string() : " (" + detail + ")") +
                             "; trying channel 1.");
    }
    if (channel == 0)
        channel = m_channel;
    int err = 0;
    const int fd = m_rfcomm->Connect(m_uri.addr, channel, [this] { return StopRequested(); }, err);
    if (fd < 0) {
        // The looked-up channel is asked for again next time.
        if (m_uri.channel == 0)
            m_channel = 0;
        Fail(kUnreachable,
             BluetoothFailureText(err, m_probe->Probe(m_uri.address), m_uri.address, channel));
        return -1;
    }
    m_channel = channel;
    return fd;
}

} // namespace bandrill_app
