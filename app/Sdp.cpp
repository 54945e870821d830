#include "Sdp.h"

#include "Link.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bandrill_app {

namespace {

const int kAfBluetooth = 31;
const int kBtProtoL2cap = 0;

// The kernel's L2CAP socket address (linux/bluetooth headers are not
// needed for five fields).
struct SockaddrL2 {
    sa_family_t family;
    uint16_t psm; // little-endian
    uint8_t bdaddr[6]; // little-endian: the last byte of the text first
    uint16_t cid;
    uint8_t bdaddrType;
};

enum : uint8_t { kNil = 0, kUint = 1, kUuid = 3, kSequence = 6, kAlternative = 7 };

struct Element {
    uint8_t type = kNil;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

unsigned Be16(const uint8_t* p)
{
    return static_cast<unsigned>(p[0]) << 8 | p[1];
}

// One data element at p, which is moved past it.
bool ReadElement(const uint8_t*& p, const uint8_t* end, Element& e)
{
    if (p >= end)
        return false;
    const uint8_t head = *p++;
    e.type = head >> 3;
    const uint8_t sizeIndex = head & 7;
    size_t length = 0;
    if (e.type == kNil) {
        if (sizeIndex != 0)
            return false;
    } else if (sizeIndex <= 4) {
        length = size_t(1) << sizeIndex;
    } else {
        const size_t n = sizeIndex == 5 ? 1 : sizeIndex == 6 ? 2 : 4;
        if (static_cast<size_t>(end - p) < n)
            return false;
        for (size_t i = 0; i < n; ++i)
            length = length << 8 | p[i];
        p += n;
    }
    if (static_cast<size_t>(end - p) < length)
        return false;
    e.data = p;
    e.size = length;
    p += length;
    return true;
}

bool IsRfcommUuid(const Element& e)
{
    static const uint8_t kBase[] = {0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x10, 0x00,
                                    0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
    if (e.type != kUuid)
        return false;
    if (e.size == 2)
        return Be16(e.data) == 0x0003;
    if (e.size == 4)
        return Be16(e.data) == 0 && Be16(e.data + 2) == 0x0003;
    return e.size == 16 && std::memcmp(e.data, kBase, 16) == 0;
}

// The RFCOMM channel of one protocol descriptor list; 0 if it has none,
// -1 if malformed.
int ChannelOfDescriptors(const Element& list)
{
    if (list.type == kAlternative) {
        const uint8_t* p = list.data;
        const uint8_t* end = p + list.size;
        while (p < end) {
            Element inner;
            if (!ReadElement(p, end, inner))
                return -1;
            const int c = ChannelOfDescriptors(inner);
            if (c != 0)
                return c;
        }
        return 0;
    }
    if (list.type != kSequence)
        return -1;
    const uint8_t* p = list.data;
    const uint8_t* end = p + list.size;
    while (p < end) {
        Element descriptor;
        if (!ReadElement(p, end, descriptor) || descriptor.type != kSequence)
            return -1;
        const uint8_t* q = descriptor.data;
        const uint8_t* qend = q + descriptor.size;
        Element uuid, param;
        if (!ReadElement(q, qend, uuid))
            return -1;
        if (!IsRfcommUuid(uuid))
            continue;
        if (!ReadElement(q, qend, param) || param.type != kUint || param.size != 1)
            return -1;
        const int channel = param.data[0];
        return channel >= 1 && channel <= 30 ? channel : -1;
    }
    return 0;
}

int Fd(int fd, int& err)
{
    err = errno;
    if (fd >= 0)
        close(fd);
    return -1;
}

} // namespace

std::vector<uint8_t> SdpSerialPortRequest(uint16_t transaction,
                                          const std::vector<uint8_t>& continuation)
{
    static const uint8_t kParams[] = {
        0x35, 0x03, 0x19, 0x11, 0x01, // service search pattern: UUID16 Serial Port
        0xFF, 0xFF,                   // maximum attribute bytes
        0x35, 0x03, 0x09, 0x00, 0x04, // attribute IDs: ProtocolDescriptorList
    };
    const size_t length = sizeof kParams + 1 + continuation.size();
    std::vector<uint8_t> pdu;
    pdu.reserve(5 + length);
    pdu.push_back(0x06);
    pdu.push_back(static_cast<uint8_t>(transaction >> 8));
    pdu.push_back(static_cast<uint8_t>(transaction));
    pdu.push_back(static_cast<uint8_t>(length >> 8));
    pdu.push_back(static_cast<uint8_t>(length));
    for (uint8_t b : kParams)
        pdu.push_back(b);
    pdu.push_back(static_cast<uint8_t>(continuation.size()));
    for (uint8_t b : continuation)
        pdu.push_back(b);
    return pdu;
}

bool SdpReadAnswer(const uint8_t* data, size_t size, uint16_t transaction,
                   std::vector<uint8_t>& lists, std::vector<uint8_t>& continuation,
                   std::string& error)
{
    continuation.clear();
    if (size < 5 || Be16(data + 3) != size - 5) {
        error = "The printer's SDP answer is cut short.";
        return false;
    }
    if (Be16(data + 1) != transaction) {
        error = "The printer's SDP answer belongs to another request.";
        return false;
    }
    if (data[0] == 0x01) {
        error = "The printer's SDP server answered error " +
                std::to_string(size >= 7 ? Be16(data + 5) : 0) + ".";
        return false;
    }
    if (data[0] != 0x07 || size < 8) {
        error = "The printer's SDP answer is not one to the request.";
        return false;
    }
    const size_t count = Be16(data + 5);
    if (7 + count + 1 > size) {
        error = "The printer's SDP answer is cut short.";
        return false;
    }
    const size_t contLength = data[7 + count];
    if (contLength > 16 || 7 + count + 1 + contLength != size) {
        error = "The printer's SDP answer has a bad continuation.";
        return false;
    }
    lists.insert(lists.end(), data + 7, data + 7 + count);
    continuation.assign(data + 8 + count, data + 8 + count + contLength);
    return true;
}

int SdpRfcommChannel(const std::vector<uint8_t>& lists)
{
    const uint8_t* p = lists.data();
    const uint8_t* end = p + lists.size();
    Element all;
    if (!ReadElement(p, end, all) || all.type != kSequence || p != end)
        return -1;
    p = all.data;
    end = p + all.size;
    while (p < end) {
        Element record;
        if (!ReadElement(p, end, record) || record.type != kSequence)
            return -1;
        const uint8_t* q = record.data;
        const uint8_t* qend = q + record.size;
        while (q < qend) {
            Element id, value;
            if (!ReadElement(q, qend, id) || id.type != kUint || id.size != 2 ||
                !ReadElement(q, qend, value))
                return -1;
            if (Be16(id.data) != 0x0004)
                continue;
            const int c = ChannelOfDescriptors(value);
            if (c != 0)
                return c;
        }
    }
    return 0;
}

int CSdpLookup::SerialPortChannel(const uint8_t addr[6], const std::function<bool()>& stop,
                                  int& err, std::string& detail)
{
    const int fd = socket(kAfBluetooth, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          kBtProtoL2cap);
    if (fd < 0)
        return Fd(fd, err);
    SockaddrL2 sa;
    std::memset(&sa, 0, sizeof sa);
    sa.family = kAfBluetooth;
    sa.psm = 1; // SDP (little-endian on every Linux target that has Bluetooth)
    for (int i = 0; i < 6; ++i)
        sa.bdaddr[i] = addr[5 - i];
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS)
        return Fd(fd, err);
    const int soerr = WaitConnected(fd, 15000, stop);
    if (soerr != 0) {
        errno = soerr;
        return Fd(fd, err);
    }
    std::vector<uint8_t> lists, continuation;
    for (uint16_t transaction = 1; transaction <= 16; ++transaction) {
        const std::vector<uint8_t> request = SdpSerialPortRequest(transaction, continuation);
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0)
            return Fd(fd, err);
        pollfd pf = {fd, POLLIN, 0};
        if (poll(&pf, 1, 5000) <= 0) {
            errno = ETIMEDOUT;
            return Fd(fd, err);
        }
        uint8_t answer[65536];
        const ssize_t n = recv(fd, answer, sizeof answer, 0);
        if (n <= 0) {
            errno = n == 0 ? ECONNRESET : errno;
            return Fd(fd, err);
        }
        if (!SdpReadAnswer(answer, static_cast<size_t>(n), transaction, lists, continuation,
                           detail)) {
            errno = EPROTO;
            return Fd(fd, err);
        }
        if (continuation.empty()) {
            close(fd);
            const int channel = SdpRfcommChannel(lists);
            if (channel < 0) {
                detail = "The printer's SDP answer is malformed.";
                err = EPROTO;
            }
            return channel;
        }
    }
    detail = "The printer's SDP answer does not end.";
    errno = EPROTO;
    return Fd(fd, err);
}

} // namespace bandrill_app
