// The RFCOMM channel of a Bluetooth printer's Serial Port service, asked of
// the printer's SDP server. Printers do not all use channel 1 (some
// advertise another service there), so a URI without a channel is looked
// up. The request and the answer are built and read here without a
// Bluetooth library; CSdpLookup sends them over L2CAP.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bandrill_app {

class IServiceLookup {
public:
    virtual ~IServiceLookup() = default;
    // The channel (1 to 30); 0 when the printer lists no Serial Port
    // service; -1 when it could not be asked (err set, detail for people).
    // Gives up when stop says so.
    virtual int SerialPortChannel(const uint8_t addr[6], const std::function<bool()>& stop,
                                  int& err, std::string& detail) = 0;
};

// Asks over the air (an L2CAP connection to the printer's SDP server).
class CSdpLookup : public IServiceLookup {
public:
    int SerialPortChannel(const uint8_t addr[6], const std::function<bool()>& stop, int& err,
                          std::string& detail) override;
};

// A ServiceSearchAttributeRequest for the Serial Port service (0x1101),
// attribute ProtocolDescriptorList (0x0004), with the continuation state
// of the previous answer (empty for the first request).
std::vector<uint8_t> SdpSerialPortRequest(uint16_t transaction,
                                          const std::vector<uint8_t>& continuation);

// Reads an answer to that request: appends its attribute list bytes to
// lists and sets continuation (empty when the answer is complete). False
// with error when the answer is malformed or an SDP error.
bool SdpReadAnswer(const uint8_t* data, size_t size, uint16_t transaction,
                   std::vector<uint8_t>& lists, std::vector<uint8_t>& continuation,
                   std::string& error);

// The RFCOMM channel in the complete attribute lists: the first protocol
// descriptor list that carries RFCOMM; 0 when none does, -1 when the lists
// are malformed.
int SdpRfcommChannel(const std::vector<uint8_t>& lists);

} // namespace bandrill_app
