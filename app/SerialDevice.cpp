#include "SerialDevice.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace bandrill_app {

namespace {

speed_t Speed(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    default: return B0;
    }
}

} // namespace

void SerialTermios(const SerialUri& uri, termios& tio)
{
    cfmakeraw(&tio);
    cfsetispeed(&tio, Speed(uri.baud));
    cfsetospeed(&tio, Speed(uri.baud));
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= (uri.bits == 7 ? CS7 : CS8) | CREAD | CLOCAL;
    if (uri.parity != 'n')
        tio.c_cflag |= PARENB | (uri.parity == 'o' ? PARODD : 0);
    if (uri.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (uri.flow == SerialUri::kRtsCts)
        tio.c_cflag |= CRTSCTS;
    else if (uri.flow == SerialUri::kXonXoff)
        tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

int SerialBitsPerByte(const SerialUri& uri)
{
    return 1 + uri.bits + (uri.parity == 'n' ? 0 : 1) + uri.stopBits;
}

CSerialLink::CSerialLink(const std::string& uri)
{
    if (!ParseSerialUri(uri, m_uri, m_parseError) && m_uri.path.empty())
        m_uri.path = uri;
}

std::string CSerialLink::Describe() const
{
    return "the serial printer on " + m_uri.path;
}

void CSerialLink::Closing(int fd)
{
    // The port is left open to others again (a close does that only when
    // nobody else has it open).
    ioctl(fd, TIOCNXCL);
}

long CSerialLink::LineRate() const
{
    return m_uri.baud / SerialBitsPerByte(m_uri);
}

int CSerialLink::Open()
{
    if (!m_parseError.empty()) {
        Fail(kRefused, m_parseError);
        return -1;
    }
    char resolved[PATH_MAX];
    if (!realpath(m_uri.path.c_str(), resolved)) {
        const int err = errno;
        Fail(kUnreachable, err == ENOENT ? "The serial device " + m_uri.path +
                                               " is not there (unplugged or switched off?)."
                                         : "Cannot find the serial device " + m_uri.path + ": " +
                                               std::strerror(err) + ".");
        return -1;
    }
    if (std::strncmp(resolved, "/dev/", 5) != 0) {
        Fail(kRefused, m_uri.path + " leads to " + resolved + ", which is not a device.");
        return -1;
    }
    const int fd = open(resolved, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        std::string why = std::strerror(err);
        if (err == EACCES)
            why += " (the server's user needs to be in the group that owns it, usually dialout)";
        else if (err == EBUSY)
            why += " (another program has it open)";
        Fail(kUnreachable, "Cannot open the serial device " + m_uri.path + ": " + why + ".");
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) || !isatty(fd)) {
        close(fd);
        Fail(kRefused, m_uri.path + " is not a terminal device: serial: takes a serial port.");
        return -1;
    }
    // Other programs that open the port while the printer has it get EBUSY.
    ioctl(fd, TIOCEXCL);
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        close(fd);
        Fail(kUnreachable, "Cannot read the settings of " + m_uri.path + ": " +
                               std::strerror(err) + ".");
        return -1;
    }
    SerialTermios(m_uri, tio);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        close(fd);
        Fail(kRefused, "Cannot set " + m_uri.path + " to " + std::to_string(m_uri.baud) +
                           " baud: " + std::strerror(err) + ".");
        return -1;
    }
    // What the printer sent before the job (a power-on banner) is not an
    // answer to anything.
    tcflush(fd, TCIFLUSH);
    return fd;
}

} // namespace bandrill_app
