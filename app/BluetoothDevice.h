// The bt:// device scheme's link: a printer that speaks Bluetooth serial
// (RFCOMM), bt://AA-BB-CC-DD-EE-FF, on the channel the URI gives or else
// the one its Serial Port service lists (SDP). When the printer cannot be
// reached the failure is told in words a user can act on (Bluetooth off,
// not paired, out of range), from what BlueZ says of the adapter and the
// printer where it can be asked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DeviceUri.h"
#include "Link.h"
#include "Sdp.h"

namespace bandrill_app {

// What BlueZ says of the adapters and of one printer.
struct BluetoothState {
    bool known = false;        // BlueZ could be asked
    int adapters = 0;
    bool powered = false;      // at least one adapter is on
    bool deviceKnown = false;  // BlueZ has the printer (paired or seen)
    bool paired = false;
    std::string name;
};

class IBluetoothProbe {
public:
    virtual ~IBluetoothProbe() = default;
    virtual BluetoothState Probe(const std::string& address) = 0;
};

// Makes RFCOMM connections; the tests give a socket pair instead.
class IRfcommConnector {
public:
    virtual ~IRfcommConnector() = default;
    // A connected, non-blocking descriptor, or -1 with err; gives up
    // when stop says so.
    virtual int Connect(const uint8_t addr[6], int channel, const std::function<bool()>& stop,
                        int& err) = 0;
    // Bytes written but not yet sent to the printer; -1 unknown.
    virtual int Queued(int fd) = 0;
};

class CRfcommConnector : public IRfcommConnector {
public:
    int Connect(const uint8_t addr[6], int channel, const std::function<bool()>& stop,
                int& err) override;
    int Queued(int fd) override;
};

class CBluetoothLink : public CLink {
public:
    // Null parts are the real ones (SDP over the air, RFCOMM sockets,
    // BlueZ over D-Bus).
    CBluetoothLink(const std::string& uri, std::shared_ptr<IServiceLookup> sdp = nullptr,
                   std::shared_ptr<IRfcommConnector> rfcomm = nullptr,
                   std::shared_ptr<IBluetoothProbe> probe = nullptr);

    std::string Describe() const override;
    LinkOptions Options() const override { return m_uri.link; }
    bool Paced() const override { return true; }
    // The channel the last connection used (0 before one).
    int Channel() const { return m_channel; }

protected:
    int Open() override;
    int Queued(int fd) const override;
    std::string DroppedText(int err) const override;
    bool IsSocket() const override { return true; }

private:
    BluetoothUri m_uri;
    std::string m_parseError;
    std::shared_ptr<IServiceLookup> m_sdp;
    std::shared_ptr<IRfcommConnector> m_rfcomm;
    std::shared_ptr<IBluetoothProbe> m_probe;
    int m_channel = 0;
};

// Why a connection to the printer failed, for people: err is the
// connection's error, state what BlueZ says.
std::string BluetoothFailureText(int err, const BluetoothState& state, const std::string& address,
                                 int channel);

} // namespace bandrill_app
