// The serial: device scheme's link: a terminal device (/dev/ttyS*,
// /dev/ttyUSB*, /dev/ttyACM*, /dev/rfcomm*, a pseudo-terminal, ...) set to
// the URI's baud rate, data bits, parity, stop bits and flow control.
#pragma once

#include <memory>
#include <termios.h>

#include "DeviceUri.h"
#include "Link.h"

namespace bandrill_app {

class CSerialLink : public CLink {
public:
    // A URI that does not parse makes a link that fails to open with the
    // reason (kRefused).
    explicit CSerialLink(const std::string& uri);
    ~CSerialLink() override { Disconnect(); }

    std::string Describe() const override;
    LinkOptions Options() const override { return m_uri.link; }
    bool Paced() const override { return true; }
    const SerialUri& Uri() const { return m_uri; }

protected:
    int Open() override;
    long LineRate() const override;
    void Closing(int fd) override;

private:
    SerialUri m_uri;
    std::string m_parseError;
};

// The line settings of the URI on tio: raw bytes, speed, data bits,
// parity, stop bits, flow control.
void SerialTermios(const SerialUri& uri, termios& tio);

// Bits on the line per byte: start, data, parity and stop bits.
int SerialBitsPerByte(const SerialUri& uri);

} // namespace bandrill_app
