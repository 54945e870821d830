// Device URIs as a printer is added with them: what is taken, what is
// refused and why; where a file:// device may write; the names a device
// list shows and the drivers they suggest; the SDP exchange that finds a
// Bluetooth printer's serial port.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "BluetoothDevice.h"
#include "BluezList.h"
#include "DeviceNames.h"
#include "DeviceUri.h"
#include "FileDevice.h"
#include "Pacing.h"
#include "PrinterFamilies.h"
#include "Sdp.h"
#include "SerialDevice.h"
#include "TempDir.h"

using namespace bandrill_app;

namespace {

struct Refused {
    const char* uri;
    const char* says; // part of the error
};

TEST(DeviceUris, BluetoothAddressesChannelsAndOptions)
{
    BluetoothUri b;
    std::string error;
    ASSERT_TRUE(ParseBluetoothUri("bt://0a-1B-2c-3D-4e-5F", b, error)) << error;
    EXPECT_EQ(b.address, "0A:1B:2C:3D:4E:5F");
    EXPECT_EQ(b.addr[0], 0x0a);
    EXPECT_EQ(b.addr[5], 0x5f);
    EXPECT_EQ(b.channel, 0) << "no channel: the serial port service's, looked up";
    EXPECT_EQ(BluetoothDeviceUri(b.addr), "bt://0A-1B-2C-3D-4E-5F");

    ASSERT_TRUE(ParseBluetoothUri(
        "bt://00-11-22-33-44-55?channel=30+chunk=128&pause=10+drain=500+timeout=9", b, error))
        << error;
    EXPECT_EQ(b.channel, 30);
    EXPECT_EQ(b.link.chunk, 128);
    EXPECT_EQ(b.link.pauseMs, 10);
    EXPECT_EQ(b.link.drainMs, 500);
    EXPECT_EQ(b.link.timeoutSec, 9);

    const Refused kBad[] = {
        {"bt://0-11-22-33-44-55", "six two-digit hex groups"},
        {"bt://000-11-22-33-44-55", "six two-digit hex groups"},
        {"bt://00-11-22-33-44", "six two-digit hex groups"},
        {"bt://00-11-22-33-44-55-66", "six two-digit hex groups"},
        {"bt://00:11:22:33:44:55", "six two-digit hex groups"},
        {"bt://00-11-22-33-44-5g", "six two-digit hex groups"},
        {"bt://00-11-22-33-44-55x", "six two-digit hex groups"},
        {"bt:00-11-22-33-44-55", "bt://AA-BB-CC-DD-EE-FF"},
        {"bt://00-11-22-33-44-55?channel=-1", "1 to 30"},
        {"bt://00-11-22-33-44-55?channel=0", "1 to 30"},
        {"bt://00-11-22-33-44-55?channel=31", "1 to 30"},
        {"bt://00-11-22-33-44-55?channel=", "1 to 30"},
        {"bt://00-11-22-33-44-55?channel=1x", "1 to 30"},
        {"bt://00-11-22-33-44-55?speed=9600", "Unknown option 'speed'"},
        {"bt://00-11-22-33-44-55?channel=1+", "Unknown option ''"},
        {"bt://00-11-22-33-44-55?chunk=0", "1 to 65536 bytes"},
        {"bt://00-11-22-33-44-55?pause=1001", "0 to 1000 milliseconds"},
        {"bt://00-11-22-33-44-55?timeout=0", "1 to 3600 seconds"},
    };
    for (const Refused& r : kBad) {
        error.clear();
        EXPECT_FALSE(ParseBluetoothUri(r.uri, b, error)) << r.uri;
        EXPECT_NE(error.find(r.says), std::string::npos) << r.uri << ": " << error;
    }
}

TEST(DeviceUris, SerialPortsAsCupsWritesThem)
{
    SerialUri s;
    std::string error;
    ASSERT_TRUE(ParseSerialUri("serial:/dev/ttyUSB0?baud=115200+bits=8+parity=none+flow=rtscts",
                               s, error))
        << error;
    EXPECT_EQ(s.path, "/dev/ttyUSB0");
    EXPECT_EQ(s.baud, 115200);
    EXPECT_EQ(s.bits, 8);
    EXPECT_EQ(s.parity, 'n');
    EXPECT_EQ(s.flow, SerialUri::kRtsCts);

    ASSERT_TRUE(ParseSerialUri("serial:///dev/pts/7?baud=1200&bits=7+parity=odd+stop=2+flow=soft",
                               s, error))
        << error;
    EXPECT_EQ(s.path, "/dev/pts/7");
    EXPECT_EQ(s.baud, 1200);
    EXPECT_EQ(s.bits, 7);
    EXPECT_EQ(s.parity, 'o');
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_EQ(s.flow, SerialUri::kXonXoff);
    EXPECT_EQ(SerialBitsPerByte(s), 11);

    ASSERT_TRUE(ParseSerialUri("serial:/dev/rfcomm0", s, error)) << error;
    EXPECT_EQ(s.baud, 9600) << "CUPS's default";
    EXPECT_EQ(s.flow, SerialUri::kNoFlow);

    const Refused kBad[] = {
        {"serial:ttyUSB0", "absolute"},
        {"serial:/dev/../etc/passwd", "'..'"},
        {"serial:/dev/%2e%2e/etc/passwd", "'..'"},
        {"serial:/dev/tty%00", "%-escape"},
        {"serial:/tmp/port", "not a device"},
        {"serial:/dev/", "not a device"},
        {"serial:/dev/ttyS0?baud=9601", "not a baud rate"},
        {"serial:/dev/ttyS0?baud=fast", "not a baud rate"},
        {"serial:/dev/ttyS0?bits=9", "7 or 8"},
        {"serial:/dev/ttyS0?parity=mark", "none, even or odd"},
        {"serial:/dev/ttyS0?stop=3", "1 or 2"},
        {"serial:/dev/ttyS0?flow=dtrdsr", "rtscts"},
        {"serial:/dev/ttyS0?speed=9600", "Unknown option 'speed'"},
    };
    for (const Refused& r : kBad) {
        error.clear();
        EXPECT_FALSE(ParseSerialUri(r.uri, s, error)) << r.uri;
        EXPECT_NE(error.find(r.says), std::string::npos) << r.uri << ": " << error;
    }
}

TEST(DeviceUris, NetworkPrinters)
{
    SocketUri s;
    std::string error;
    struct Good {
        const char* uri;
        const char* host;
        int port;
    };
    const Good kGood[] = {
        {"socket://printer.local", "printer.local", 9100},
        {"socket://10.0.0.5:9101/", "10.0.0.5", 9101},
        {"socket://[fe80::1%25eth0]:9100", "fe80::1%25eth0", 9100},
        {"socket://[::1]", "::1", 9100},
    };
    for (const Good& g : kGood) {
        ASSERT_TRUE(ParseSocketUri(g.uri, s, error)) << g.uri << ": " << error;
        EXPECT_EQ(s.host, g.host);
        EXPECT_EQ(s.port, g.port);
    }
    ASSERT_TRUE(ParseSocketUri("socket://p:9100/?timeout=30", s, error)) << error;
    EXPECT_EQ(s.link.timeoutSec, 30);
    const Refused kBad[] = {
        {"socket://", "not a host"},
        {"socket://:9100", "not a host"},
        {"socket://p:0", "not a port"},
        {"socket://p:70000", "not a port"},
        {"socket://p:", "not a port"},
        {"socket://p:abc", "not a port"},
        {"socket://a b", "not a host"},
        {"socket://[::1", "ends with ']'"},
        {"socket://p/?channel=1", "Unknown option 'channel'"},
        {"socket://p:9100?timeout=30", "Options follow a '/'"},
    };
    for (const Refused& r : kBad) {
        error.clear();
        EXPECT_FALSE(ParseSocketUri(r.uri, s, error)) << r.uri;
        EXPECT_NE(error.find(r.says), std::string::npos) << r.uri << ": " << error;
    }
}

// A scratch folder: allowed/ (with sub/, a file and links), elsewhere/.
class FileDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        char real[PATH_MAX];
        ASSERT_NE(realpath(m_tmp.path().c_str(), real), nullptr);
        m_root = real;
        m_allowed = m_root + "/allowed";
        m_elsewhere = m_root + "/elsewhere";
        ASSERT_EQ(mkdir(m_allowed.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((m_allowed + "/sub").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(m_elsewhere.c_str(), 0755), 0);
        ASSERT_TRUE(testing_support::WriteFile(m_allowed + "/file.prn", "x"));
        ASSERT_EQ(symlink(m_elsewhere.c_str(), (m_allowed + "/out").c_str()), 0);
        ASSERT_EQ(symlink("sub", (m_allowed + "/in").c_str()), 0);
        ASSERT_EQ(symlink("/etc/passwd", (m_allowed + "/passwd").c_str()), 0);
    }
    testing_support::TempDir m_tmp;
    std::string m_root, m_allowed, m_elsewhere;
};

TEST_F(FileDevices, FoldersAllowedAndPrinterDevicesOnly)
{
    const std::vector<std::string> dirs = FileDeviceDirs(m_allowed.c_str(), "/unused");
    ASSERT_EQ(dirs, std::vector<std::string>{m_allowed});

    int master = -1, slave = -1;
    char pts[128];
    ASSERT_EQ(openpty(&master, &slave, pts, nullptr, nullptr), 0);

    struct Case {
        std::string uri;
        bool taken;
        const char* says; // when refused
        FileDevice::Kind kind = FileDevice::kDirectory;
    };
    const Case kCases[] = {
        {"file://" + m_allowed, true, "", FileDevice::kDirectory},
        {"file://" + m_allowed + "/", true, "", FileDevice::kDirectory},
        {"file://" + m_allowed + "/sub?ext=txt", true, "", FileDevice::kDirectory},
        {"file://localhost" + m_allowed + "/in", true, "", FileDevice::kDirectory},
        {"file://" + std::string(pts), true, "", FileDevice::kCharDevice},
        {"file://" + m_elsewhere, false, "not a folder printers may write to", FileDevice::kDirectory},
        {"file://" + m_allowed + "/out", false, "not a folder printers may write to", FileDevice::kDirectory},
        {"file://" + m_allowed + "/file.prn", false, "regular file", FileDevice::kDirectory},
        {"file://" + m_allowed + "/passwd", false, "regular file", FileDevice::kDirectory},
        {"file:///etc/", false, "not a folder printers may write to", FileDevice::kDirectory},
        {"file:///etc/passwd", false, "regular file", FileDevice::kDirectory},
        {"file://" + m_allowed + "/sub/..", false, "'..'", FileDevice::kDirectory},
        {"file://" + m_allowed + "/../allowed", false, "'..'", FileDevice::kDirectory},
        {"file://" + m_allowed + "/%2e%2e/elsewhere", false, "'..'", FileDevice::kDirectory},
        {"file://" + m_allowed + "/missing", false, "does not exist", FileDevice::kDirectory},
        {"file:///dev/null", false, "not a printer device", FileDevice::kDirectory},
        {"file:///dev/pts/ptmx", false, "not a printer device", FileDevice::kDirectory},
        {"file://" + m_allowed + "?ext=../x", false, "ext=", FileDevice::kDirectory},
        {"file://" + m_allowed + "?name=x", false, "ext=", FileDevice::kDirectory},
        {"file:relative/dir", false, "file:///PATH", FileDevice::kDirectory},
    };
    for (const Case& c : kCases) {
        FileDevice d;
        std::string error;
        const bool taken = CheckFileDevice(c.uri, dirs, d, error);
        EXPECT_EQ(taken, c.taken) << c.uri << ": " << error;
        if (c.taken)
            EXPECT_EQ(d.kind, c.kind) << c.uri;
        else
            EXPECT_NE(error.find(c.says), std::string::npos) << c.uri << ": " << error;
    }
    FileDevice d;
    std::string error;
    EXPECT_FALSE(CheckFileDevice("file://" + m_allowed + "/missing", dirs, d, error));
    EXPECT_TRUE(d.missing) << "a folder that is not there may come back: the job waits";
    EXPECT_FALSE(CheckFileDevice("file://" + m_allowed + "/file.prn", dirs, d, error));
    EXPECT_FALSE(d.missing);
    close(master);
    close(slave);
}

TEST_F(FileDevices, AllowedFolderList)
{
    // Relative and missing entries are left out; an empty list allows
    // none; no list the default.
    const std::string list = "relative:" + m_allowed + "::" + m_root + "/missing:" + m_elsewhere;
    EXPECT_EQ(FileDeviceDirs(list.c_str(), "/unused"),
              (std::vector<std::string>{m_allowed, m_elsewhere}));
    EXPECT_TRUE(FileDeviceDirs("", m_allowed).empty());
    EXPECT_EQ(FileDeviceDirs(nullptr, m_allowed + "/in"),
              std::vector<std::string>{m_allowed + "/sub"});
    EXPECT_FALSE(IsInsideDirs(m_allowed + "x", {m_allowed})) << "a name that only starts alike";
    EXPECT_TRUE(IsInsideDirs(m_allowed + "/x/y", {m_allowed}));
}

TEST(DeviceUris, PrinterCharacterDevices)
{
    for (const char* p : {"/dev/usb/lp0", "/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyACM0",
                          "/dev/rfcomm0", "/dev/pts/3", "/dev/tty"})
        EXPECT_TRUE(IsPrinterCharDevicePath(p)) << p;
    for (const char* p : {"/dev/null", "/dev/sda", "/dev/usb/hiddev0", "/dev/pts/ptmx",
                          "/dev/ttyUSB0/x", "/dev/usb/lp", "/dev/mem", "/dev/rfcomm"})
        EXPECT_FALSE(IsPrinterCharDevicePath(p)) << p;
}

TEST(DeviceUris, JobFilesAreNamedByJobId)
{
    EXPECT_EQ(JobFileName(7, "Label", "prn"), "job-7-Label.prn");
    EXPECT_EQ(JobFileName(12, "", "prn"), "job-12.prn");
    EXPECT_EQ(JobFileName(3, "../../etc/passwd", "prn"), "job-3-.._.._etc_passwd.prn");
    EXPECT_EQ(JobFileName(4, "a b\n\x01\xc3\xa9", "txt"), "job-4-a_b.txt");
    const std::string name = JobFileName(5, std::string(300, 'x'), "prn");
    EXPECT_EQ(name, "job-5-" + std::string(64, 'x') + ".prn") << "no over-long names";
}

TEST(DeviceUris, SyntaxAloneForTheClient)
{
    std::string error;
    EXPECT_TRUE(CheckDeviceUriSyntax("usb://Vendor/Model?serial=1", error));
    EXPECT_TRUE(CheckDeviceUriSyntax("file:///var/spool/x", error));
    EXPECT_FALSE(CheckDeviceUriSyntax("file:///tmp/x/../../etc/", error));
    EXPECT_FALSE(CheckDeviceUriSyntax("bt://1-2-3-4-5-6", error));
    EXPECT_FALSE(CheckDeviceUriSyntax("serial:/dev/ttyS0?baud=123", error));
    EXPECT_FALSE(CheckDeviceUriSyntax("socket://host:99999", error));
}

TEST(Pacing, FamilyDefaultsAndPrinterOverrides)
{
    const Pacing pocket = PacingForModel(kModelPeriPage);
    const Pacing receipt = PacingForModel(kModelESCPOS);
    EXPECT_LT(pocket.chunk, receipt.chunk) << "pocket printers slow, receipt printers fast";
    EXPECT_GT(pocket.pauseMs, receipt.pauseMs);
    // The end wait grows with what the printer may still hold, up to the cap.
    EXPECT_LT(pocket.DrainMs(512), pocket.DrainMs(4096));
    // The printer holds no more than its buffer, however long the job.
    EXPECT_EQ(pocket.DrainMs(1 << 30), pocket.DrainMs(pocket.bufferBytes));
    EXPECT_LE(pocket.DrainMs(1 << 30), pocket.maxDrainMs);
    EXPECT_EQ(pocket.DrainMs(0), 0);

    LinkOptions o;
    o.chunk = 64;
    o.pauseMs = 0;
    o.timeoutSec = 5;
    const Pacing p = WithOverrides(pocket, o);
    EXPECT_EQ(p.chunk, 64);
    EXPECT_EQ(p.pauseMs, 0);
    EXPECT_EQ(p.timeoutSec, 5);
    EXPECT_EQ(p.drainRate, pocket.drainRate) << "not overridden";
    // A drain wait asked for on a printer of no family.
    o = LinkOptions();
    o.drainMs = 800;
    const Pacing none = WithOverrides(PacingForModel(0), o);
    EXPECT_EQ(none.DrainMs(100000), 800);
}

TEST(DeviceNames, DriversTheNamesSuggest)
{
    struct Row {
        const char* name;
        const char* driver;
    };
    const Row kRows[] = {
        {"Paperang_P2S", "paperang"},   {"PAPERANG", "paperang"},
        {"PeriPage_A6_3B2C", "peripage-384"}, {"PeriPage+_9A1E", "peripage-576"},
        {"MTP-II_4F3A", "escpos-58"},   {"MPT-II", "escpos-58"},
        {"mtp-iii", "escpos-80"},       {"PT-210_0123", "escpos-58"},
        {"Pixel 7", nullptr},           {"", nullptr},
    };
    for (const Row& r : kRows) {
        const char* d = SuggestDriver(r.name);
        if (r.driver)
            EXPECT_STREQ(d, r.driver) << r.name;
        else
            EXPECT_EQ(d, nullptr) << r.name;
    }
    // Names are chosen by whoever is in radio range: nothing in them may
    // open HTML, a device ID field or PAPPL's "URI|ID" form value.
    EXPECT_EQ(PlainName("<b onload=\"x\">|MDL:evil;&\x01"), "_b onload=_x___MDL_evil___");
    EXPECT_EQ(PlainName(std::string(200, 'p')).size(), 64u);
}

TEST(DeviceNames, BluetoothPrintersListed)
{
    BluezDevice paperang;
    paperang.address = "00:11:22:33:44:55";
    paperang.name = "Paperang_P2";
    paperang.paired = true;
    BluezDevice phone;
    phone.address = "00:11:22:33:44:66";
    phone.name = "Pixel 7";
    phone.paired = true;
    phone.deviceClass = 0x5a020c; // phone
    BluezDevice nearby;
    nearby.address = "AA:BB:CC:DD:EE:FF";
    nearby.name = "MTP-II";
    nearby.nearby = true;
    BluezDevice unknownPrinter; // paired, class imaging/printer
    unknownPrinter.address = "AA:BB:CC:DD:EE:01";
    unknownPrinter.name = "X<script>";
    unknownPrinter.paired = true;
    unknownPrinter.deviceClass = 0x040680;
    BluezDevice farAway; // neither paired nor seen
    farAway.address = "AA:BB:CC:DD:EE:02";
    farAway.name = "PeriPage";
    const auto list = BluetoothPrinters({paperang, phone, nearby, unknownPrinter, farAway});
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].uri, "bt://00-11-22-33-44-55");
    EXPECT_STREQ(list[0].driver, "paperang");
    EXPECT_EQ(list[0].info, "Paperang_P2 (Bluetooth 00:11:22:33:44:55, paired; driver paperang)");
    EXPECT_EQ(list[0].deviceId, "MDL:Paperang_P2;CLS:PRINTER;");
    EXPECT_EQ(list[1].uri, "bt://AA-BB-CC-DD-EE-FF");
    EXPECT_EQ(list[1].info, "MTP-II (Bluetooth AA:BB:CC:DD:EE:FF, not paired; driver escpos-58)");
    EXPECT_EQ(list[2].driver, nullptr);
    EXPECT_EQ(list[2].info, "X_script_ (Bluetooth AA:BB:CC:DD:EE:01, paired)");
}

// ---------------------------------------------------------------- SDP

std::vector<uint8_t> Answer(uint16_t tid, const std::vector<uint8_t>& lists,
                            const std::vector<uint8_t>& continuation)
{
    const size_t params = 2 + lists.size() + 1 + continuation.size();
    std::vector<uint8_t> a = {0x07, uint8_t(tid >> 8), uint8_t(tid), uint8_t(params >> 8),
                              uint8_t(params), uint8_t(lists.size() >> 8), uint8_t(lists.size())};
    a.insert(a.end(), lists.begin(), lists.end());
    a.push_back(uint8_t(continuation.size()));
    a.insert(a.end(), continuation.begin(), continuation.end());
    return a;
}

// One record: ProtocolDescriptorList ((L2CAP) (RFCOMM channel)).
std::vector<uint8_t> Record(std::vector<uint8_t> rfcommUuid, uint8_t channel)
{
    std::vector<uint8_t> rfcomm = {0x35, uint8_t(rfcommUuid.size() + 2)};
    rfcomm.insert(rfcomm.end(), rfcommUuid.begin(), rfcommUuid.end());
    rfcomm.insert(rfcomm.end(), {0x08, channel});
    std::vector<uint8_t> descriptors = {0x35, uint8_t(5 + rfcomm.size()), 0x35, 0x03, 0x19, 0x01,
                                        0x00};
    descriptors.insert(descriptors.end(), rfcomm.begin(), rfcomm.end());
    std::vector<uint8_t> record = {0x35, uint8_t(3 + descriptors.size()), 0x09, 0x00, 0x04};
    record.insert(record.end(), descriptors.begin(), descriptors.end());
    return record;
}

std::vector<uint8_t> Lists(const std::vector<std::vector<uint8_t>>& records)
{
    std::vector<uint8_t> body;
    for (const auto& r : records)
        body.insert(body.end(), r.begin(), r.end());
    std::vector<uint8_t> lists = {0x35, uint8_t(body.size())};
    lists.insert(lists.end(), body.begin(), body.end());
    return lists;
}

const std::vector<uint8_t> kUuid16 = {0x19, 0x00, 0x03};
const std::vector<uint8_t> kUuid128 = {0x1c, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0x80, 0x5f, 0x9b, 0x34, 0xfb};

TEST(Sdp, RequestForTheSerialPortService)
{
    const std::vector<uint8_t> first = {0x06, 0x00, 0x01, 0x00, 0x0d, 0x35, 0x03, 0x19, 0x11,
                                        0x01, 0xff, 0xff, 0x35, 0x03, 0x09, 0x00, 0x04, 0x00};
    EXPECT_EQ(SdpSerialPortRequest(1, {}), first);
    const std::vector<uint8_t> next = SdpSerialPortRequest(0x0203, {0xaa, 0xbb});
    EXPECT_EQ(next[1], 0x02);
    EXPECT_EQ(next[2], 0x03);
    EXPECT_EQ(next[4], 0x0f);
    EXPECT_EQ(std::vector<uint8_t>(next.end() - 3, next.end()),
              (std::vector<uint8_t>{0x02, 0xaa, 0xbb}));
}

TEST(Sdp, ChannelFromAnswers)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> lists;
        int channel;
    };
    // A record without RFCOMM (an L2CAP-only service) before the serial port.
    const std::vector<uint8_t> l2capOnly = {0x35, 0x0a, 0x09, 0x00, 0x04, 0x35,
                                            0x05, 0x35, 0x03, 0x19, 0x01, 0x00};
    // The descriptors as an alternative of two lists.
    std::vector<uint8_t> alt = Record(kUuid16, 9);
    const std::vector<uint8_t> altDescriptors(alt.begin() + 5, alt.end());
    std::vector<uint8_t> altRecord = {0x35, uint8_t(5 + altDescriptors.size()), 0x09, 0x00, 0x04,
                                      0x3d, uint8_t(altDescriptors.size())};
    altRecord.insert(altRecord.end(), altDescriptors.begin(), altDescriptors.end());
    const std::vector<uint8_t> one = Lists({Record(kUuid16, 5)});
    const Case kCases[] = {
        {"UUID16", one, 5},
        {"UUID128", Lists({Record(kUuid128, 2)}), 2},
        {"first with RFCOMM", Lists({l2capOnly, Record(kUuid16, 3)}), 3},
        {"alternative", Lists({altRecord}), 9},
        {"no record", Lists({}), 0},
        {"no RFCOMM", Lists({l2capOnly}), 0},
        {"channel 31", Lists({Record(kUuid16, 31)}), -1},
        {"cut short", std::vector<uint8_t>(one.begin(), one.end() - 1), -1},
        {"empty", {}, -1},
    };
    for (const Case& c : kCases) {
        std::vector<uint8_t> lists, cont;
        std::string error;
        const std::vector<uint8_t> a = Answer(1, c.lists, {});
        ASSERT_TRUE(SdpReadAnswer(a.data(), a.size(), 1, lists, cont, error)) << c.what;
        EXPECT_TRUE(cont.empty());
        EXPECT_EQ(SdpRfcommChannel(lists), c.channel) << c.what;
    }
}

TEST(Sdp, AnswersInPartsAndBadAnswers)
{
    const std::vector<uint8_t> whole = Lists({Record(kUuid16, 4)});
    const std::vector<uint8_t> head(whole.begin(), whole.begin() + 7);
    const std::vector<uint8_t> tail(whole.begin() + 7, whole.end());
    std::vector<uint8_t> lists, cont;
    std::string error;
    std::vector<uint8_t> a = Answer(1, head, {0x01, 0x02});
    ASSERT_TRUE(SdpReadAnswer(a.data(), a.size(), 1, lists, cont, error)) << error;
    EXPECT_EQ(cont, (std::vector<uint8_t>{0x01, 0x02}));
    a = Answer(2, tail, {});
    ASSERT_TRUE(SdpReadAnswer(a.data(), a.size(), 2, lists, cont, error)) << error;
    EXPECT_TRUE(cont.empty());
    EXPECT_EQ(SdpRfcommChannel(lists), 4);

    struct Bad {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* says;
    };
    std::vector<uint8_t> shortLength = Answer(1, whole, {});
    shortLength[4] += 1;
    std::vector<uint8_t> longCont = Answer(1, whole, std::vector<uint8_t>(17, 0));
    const Bad kBad[] = {
        {"SDP error", {0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03}, "error 3"},
        {"other transaction", Answer(9, whole, {}), "another request"},
        {"length", shortLength, "cut short"},
        {"continuation", longCont, "continuation"},
        {"other PDU", {0x05, 0x00, 0x01, 0x00, 0x00}, "not one to the request"},
        {"nothing", {0x07}, "cut short"},
    };
    for (const Bad& b : kBad) {
        lists.clear();
        error.clear();
        EXPECT_FALSE(SdpReadAnswer(b.bytes.data(), b.bytes.size(), 1, lists, cont, error)) << b.what;
        EXPECT_NE(error.find(b.says), std::string::npos) << b.what << ": " << error;
    }
}

TEST(BluetoothFailures, WordsAUserCanActOn)
{
    BluetoothState unknown; // BlueZ could not be asked
    BluetoothState off;
    off.known = true;
    off.adapters = 1;
    BluetoothState none;
    none.known = true;
    BluetoothState unpaired = off;
    unpaired.powered = true;
    BluetoothState paired = unpaired;
    paired.deviceKnown = paired.paired = true;
    paired.name = "Paperang_P2";
    struct Row {
        int err;
        const BluetoothState& state;
        const char* says;
    };
    const Row kRows[] = {
        {EHOSTUNREACH, off, "Bluetooth is off: switch it on"},
        {EHOSTUNREACH, none, "No Bluetooth adapter is present"},
        {EHOSTDOWN, unpaired, "is not paired with this computer"},
        {EHOSTDOWN, paired, "Paperang_P2 (00:11:22:33:44:55) is out of range or switched off"},
        {ETIMEDOUT, unknown, "out of range or switched off"},
        {EAFNOSUPPORT, unknown, "Bluetooth is not available on this system"},
        {ECONNREFUSED, paired, "refused the connection on channel 3"},
        {EACCES, paired, "pair it again"},
        {EIO, unknown, "Cannot connect to printer 00:11:22:33:44:55"},
    };
    for (const Row& r : kRows) {
        const std::string text = BluetoothFailureText(r.err, r.state, "00:11:22:33:44:55", 3);
        EXPECT_NE(text.find(r.says), std::string::npos) << text;
        EXPECT_NE(text.find(std::strerror(r.err)), std::string::npos) << text;
    }
}

} // namespace
