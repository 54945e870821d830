// Links to printers driven against readers the test controls: a socket
// pair in place of the Bluetooth radio (with a fake SDP server and BlueZ),
// a pseudo-terminal for the serial port, folders for file devices. Each
// reader records what it got; the link must hand over every byte in
// order, pace and drain as the printer's family needs, and fail a job
// with a reason (not hang) when the printer stops or goes away.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "BluetoothDevice.h"
#include "FileDevice.h"
#include "DeviceUri.h"
#include "PrinterFamilies.h"
#include "SerialDevice.h"
#include "TempDir.h"

using namespace bandrill_app;

namespace {

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

// The printer's end of a link: reads in a thread, at a rate, with a stop,
// or goes away after some bytes.
class Reader {
public:
    struct Plan {
        long rate = 0;            // bytes a second; 0 as fast as it can
        size_t stopAt = SIZE_MAX; // stop reading after this many bytes ...
        int stopMs = 0;           // ... for this long (-1: for good)
        size_t vanishAt = SIZE_MAX; // close after this many bytes
        bool packets = false;     // record the size of each read (SEQPACKET)
    };

    Reader(int fd, Plan plan) : m_fd(fd), m_plan(plan)
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~Reader() { Finish(); }

    void Finish()
    {
        m_quit = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    size_t Count() const { return m_count; }
    std::vector<uint8_t> Data()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_data;
    }
    std::vector<size_t> Packets()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_packets;
    }

private:
    void Run()
    {
        const auto start = std::chrono::steady_clock::now();
        bool stopped = false;
        while (!m_quit) {
            if (m_count >= m_plan.vanishAt) {
                close(m_fd);
                m_fd = -1;
                return;
            }
            if (!stopped && m_count >= m_plan.stopAt) {
                stopped = true;
                if (m_plan.stopMs < 0)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(m_plan.stopMs));
            }
            size_t want = 65536;
            if (m_plan.rate > 0) {
                // Never ahead of the rate since the start.
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                               start)
                                     .count();
                const double allowed = t * static_cast<double>(m_plan.rate) -
                                       static_cast<double>(m_count);
                if (allowed < 1) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    continue;
                }
                want = std::min(want, static_cast<size_t>(allowed));
            }
            want = std::min(want, m_plan.vanishAt - m_count);
            if (!stopped)
                want = std::min(want, m_plan.stopAt - m_count);
            pollfd pf = {m_fd, POLLIN, 0};
            if (poll(&pf, 1, 20) <= 0)
                continue;
            uint8_t buffer[65536];
            const ssize_t n = read(m_fd, buffer, want);
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                return;
            }
            std::lock_guard<std::mutex> lock(m_lock);
            m_data.insert(m_data.end(), buffer, buffer + n);
            if (m_plan.packets)
                m_packets.push_back(static_cast<size_t>(n));
            m_count += static_cast<size_t>(n);
        }
    }

    int m_fd;
    Plan m_plan;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};
    std::atomic<size_t> m_count{0};
    std::mutex m_lock;
    std::vector<uint8_t> m_data;
    std::vector<size_t> m_packets;
};

// The radio: each connection is a new socket pair whose far end the test
// reads; the channel asked for is kept.
class FakeRadio : public IRfcommConnector, public IServiceLookup, public IBluetoothProbe {
public:
    int type = SOCK_STREAM;
    int bufferBytes = 4096; // small, so that a printer that stops reading is felt at once
    int connectError = 0;
    int sdpChannel = 7;
    int sdpError = 0;
    int sdpAsked = 0;
    BluetoothState state;
    std::vector<int> channels;
    std::vector<int> printerEnds;

    int Connect(const uint8_t[6], int channel, const std::function<bool()>&, int& err) override
    {
        channels.push_back(channel);
        if (connectError) {
            err = connectError;
            return -1;
        }
        int sv[2];
        if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, sv) != 0) {
            err = errno;
            return -1;
        }
        setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
        setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        fcntl(sv[0], F_SETFL, O_NONBLOCK);
        printerEnds.push_back(sv[1]);
        return sv[0];
    }
    // A local socket's queue is what the far end has not read yet.
    int Queued(int fd) override
    {
        int queued = 0;
        return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
    }
    int SerialPortChannel(const uint8_t[6], const std::function<bool()>&, int& err,
                          std::string&) override
    {
        ++sdpAsked;
        err = sdpError;
        if (sdpError)
            return -1;
        return sdpChannel;
    }
    BluetoothState Probe(const std::string&) override { return state; }
};

struct StopAfter : ILinkJob {
    std::chrono::steady_clock::time_point at;
    explicit StopAfter(int ms) : at(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
    bool StopRequested() override { return std::chrono::steady_clock::now() >= at; }
};

class BluetoothLinks : public ::testing::Test {
protected:
    std::shared_ptr<FakeRadio> radio = std::make_shared<FakeRadio>();

    std::unique_ptr<CBluetoothLink> Link(const std::string& uri, int model)
    {
        auto link = std::make_unique<CBluetoothLink>(uri, radio, radio, radio);
        link->BeginJob(1, "job");
        link->SetPacing(WithOverrides(PacingForModel(model), link->Options()));
        return link;
    }
    // The far end of the last connection, handed to the reader.
    int TakePrinterEnd()
    {
        const int fd = radio->printerEnds.back();
        radio->printerEnds.pop_back();
        return fd;
    }
    void TearDown() override
    {
        for (int fd : radio->printerEnds)
            close(fd);
    }
};

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST_F(BluetoothLinks, PocketPrinterChunksWithPausesAndEverythingInOrder)
{
    radio->type = SOCK_SEQPACKET; // each write arrives as one packet
    radio->bufferBytes = 65536;
    auto link = Link("bt://00-11-22-33-44-55?drain=0", kModelPeriPage);
    ASSERT_TRUE(link->Connect()) << link->Error();
    EXPECT_EQ(radio->channels, std::vector<int>{7}) << "the channel SDP gave";
    Reader reader(TakePrinterEnd(), {0, SIZE_MAX, 0, SIZE_MAX, true});
    const std::vector<uint8_t> data = Pattern(5000);
    const auto start = std::chrono::steady_clock::now();
    // PAPPL hands over its buffer in pieces that do not end on chunks.
    ASSERT_EQ(link->Write(data.data(), 1000), 1000);
    ASSERT_EQ(link->Write(data.data() + 1000, 4000), 4000);
    ASSERT_TRUE(link->Drain()) << link->Error();
    const double took = Seconds(start);
    reader.Finish();
    EXPECT_EQ(reader.Data(), data);
    // Writes of at most 256 bytes, none across a chunk's end (a chunk may
    // be made of the end of one of PAPPL's pieces and the start of the next).
    size_t sum = 0;
    for (size_t p : reader.Packets()) {
        EXPECT_LE(p, 256u);
        EXPECT_LE(sum % 256 + p, 256u) << "a write across a chunk's end at " << sum;
        sum += p;
    }
    EXPECT_EQ(sum, data.size());
    // 19 pauses of 50 ms after the 19 whole chunks (a lower bound: sleeps
    // end late, never early).
    EXPECT_GE(took, 19 * 0.050);
}

TEST_F(BluetoothLinks, AReaderThatStopsFor5sAndResumesLosesNothing)
{
    auto link = Link("bt://00-11-22-33-44-55?channel=2+drain=0", kModelPaperang);
    ASSERT_TRUE(link->Connect()) << link->Error();
    EXPECT_EQ(radio->sdpAsked, 0) << "a channel in the URI is not looked up";
    EXPECT_EQ(radio->channels, std::vector<int>{2});
    Reader reader(TakePrinterEnd(), {0, 6000, 5000});
    const std::vector<uint8_t> data = Pattern(20000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(link->Write(data.data(), data.size()), static_cast<ssize_t>(data.size()))
        << link->Error();
    ASSERT_TRUE(link->Drain()) << link->Error();
    EXPECT_EQ(reader.Count(), data.size()) << "drained before the printer took the last byte";
    EXPECT_GE(Seconds(start), 5.0) << "the stop was not felt: the test proves nothing";
    reader.Finish();
    EXPECT_EQ(reader.Data(), data);
    EXPECT_EQ(link->Failed(), CLink::kNone);
}

TEST_F(BluetoothLinks, AReaderThatVanishesEndsTheJobWithAReasonAndTheNextJobReconnects)
{
    auto link = Link("bt://00-11-22-33-44-55", kModelESCPOS);
    ASSERT_TRUE(link->Connect());
    {
        Reader reader(TakePrinterEnd(), {0, SIZE_MAX, 0, 3000});
        const std::vector<uint8_t> data = Pattern(60000);
        const ssize_t n = link->Write(data.data(), data.size());
        const bool drained = n > 0 && link->Drain();
        EXPECT_FALSE(drained);
        EXPECT_EQ(link->Failed(), CLink::kDropped);
        EXPECT_NE(link->Error().find("Bluetooth link to 00:11:22:33:44:55"), std::string::npos)
            << link->Error();
        EXPECT_EQ(reader.Data(), std::vector<uint8_t>(data.begin(), data.begin() + 3000));
        // The rest of the job is not sent to a link that came back.
        EXPECT_EQ(link->Write(data.data(), 10), -1);
        EXPECT_EQ(radio->channels.size(), 1u);
    }
    link->BeginJob(2, "next");
    ASSERT_TRUE(link->Connect());
    EXPECT_EQ(radio->channels, (std::vector<int>{7, 7})) << "the looked-up channel is kept";
    Reader reader(TakePrinterEnd(), {});
    ASSERT_EQ(link->Write("next", 4), 4);
    ASSERT_TRUE(link->Drain());
    reader.Finish();
    EXPECT_EQ(reader.Data(), (std::vector<uint8_t>{'n', 'e', 'x', 't'}));
}

TEST_F(BluetoothLinks, APrinterThatTakesNothingFailsTheJobAfterTheDeadline)
{
    auto link = Link("bt://00-11-22-33-44-55?timeout=1", kModelESCPOS);
    ASSERT_TRUE(link->Connect());
    Reader reader(TakePrinterEnd(), {0, 0, -1});
    const std::vector<uint8_t> data = Pattern(100000);
    EXPECT_EQ(link->Write(data.data(), data.size()), -1);
    EXPECT_EQ(link->Failed(), CLink::kTimedOut);
    EXPECT_NE(link->Error().find("has taken no data for 1 s"), std::string::npos) << link->Error();
}

TEST_F(BluetoothLinks, ACancelledJobIsNotHeldByAPrinterThatTakesNothing)
{
    auto link = Link("bt://00-11-22-33-44-55", kModelESCPOS); // deadline 60 s
    StopAfter stop(300);
    link->SetJob(&stop);
    ASSERT_TRUE(link->Connect());
    Reader reader(TakePrinterEnd(), {0, 0, -1});
    const std::vector<uint8_t> data = Pattern(100000);
    EXPECT_EQ(link->Write(data.data(), data.size()), -1);
    EXPECT_EQ(link->Failed(), CLink::kStopped);
    link->SetJob(nullptr);
}

TEST_F(BluetoothLinks, DrainWaitsForTheLastByte)
{
    radio->bufferBytes = 65536;
    auto link = Link("bt://00-11-22-33-44-55?drain=0", kModelESCPOS);
    ASSERT_TRUE(link->Connect());
    Reader reader(TakePrinterEnd(), {20000});
    const std::vector<uint8_t> data = Pattern(30000);
    ASSERT_EQ(link->Write(data.data(), data.size()), static_cast<ssize_t>(data.size()));
    EXPECT_LT(reader.Count(), data.size()) << "the writer was not ahead: the test proves nothing";
    ASSERT_TRUE(link->Drain()) << link->Error();
    EXPECT_EQ(reader.Count(), data.size());
}

TEST_F(BluetoothLinks, ServiceLookupAndConnectionFailures)
{
    // No serial port service listed: channel 1, with a note.
    radio->sdpChannel = 0;
    auto link = Link("bt://00-11-22-33-44-55", kModelPaperang);
    ASSERT_TRUE(link->Connect());
    EXPECT_EQ(radio->channels, std::vector<int>{1});
    EXPECT_NE(link->TakeNotes().find("no serial port service"), std::string::npos);

    struct Case {
        int sdpError, connectError;
        bool powered, paired;
        const char* says;
    };
    const Case kCases[] = {
        {EHOSTDOWN, 0, true, true, "is out of range or switched off"},
        {0, ECONNREFUSED, true, true, "refused the connection on channel 7"},
        {0, EHOSTUNREACH, false, false, "Bluetooth is off"},
        {0, EHOSTDOWN, true, false, "is not paired with this computer"},
    };
    for (const Case& c : kCases) {
        radio->sdpChannel = 7;
        radio->sdpError = c.sdpError;
        radio->connectError = c.connectError;
        radio->state.known = true;
        radio->state.adapters = 1;
        radio->state.powered = c.powered;
        radio->state.paired = c.paired;
        auto failing = Link("bt://00-11-22-33-44-55", kModelPaperang);
        EXPECT_FALSE(failing->Connect());
        EXPECT_EQ(failing->Failed(), CLink::kUnreachable) << "the job waits and tries again";
        EXPECT_NE(failing->Error().find(c.says), std::string::npos) << failing->Error();
    }
    auto bad = Link("bt://00-11-22-33-44", kModelPaperang);
    EXPECT_FALSE(bad->Connect());
    EXPECT_EQ(bad->Failed(), CLink::kRefused);
}

// ---------------------------------------------------------------- serial

class SerialLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[128];
        ASSERT_EQ(openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
        m_path = name;
        termios raw;
        tcgetattr(m_master, &raw);
        cfmakeraw(&raw);
        tcsetattr(m_master, TCSANOW, &raw);
    }
    void TearDown() override
    {
        if (m_master >= 0)
            close(m_master);
        close(m_slave);
    }
    int TakeMaster()
    {
        const int fd = m_master;
        m_master = -1;
        return fd;
    }
    int m_master = -1, m_slave = -1;
    std::string m_path;
};

TEST_F(SerialLinks, TheLineIsSetAsTheUriSays)
{
    // Data bits and parity as a serial port takes them (a pseudo-terminal
    // keeps 8 bits without parity whatever it is told).
    SerialUri uri;
    std::string error;
    ASSERT_TRUE(ParseSerialUri("serial:/dev/ttyS0?bits=7+parity=odd", uri, error));
    termios tio = {};
    tio.c_cflag = CS8 | CRTSCTS;
    tio.c_oflag = OPOST | ONLCR;
    SerialTermios(uri, tio);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE((tio.c_cflag & PARENB) && (tio.c_cflag & PARODD));
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_oflag & OPOST) << "bytes must go out unchanged (no LF to CRLF)";

    CSerialLink link("serial:" + m_path + "?baud=9600+stop=2+flow=rtscts");
    ASSERT_TRUE(link.Connect()) << link.Error();
    ASSERT_EQ(tcgetattr(m_slave, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);
    EXPECT_FALSE(tio.c_oflag & OPOST) << "bytes must go out unchanged (no LF to CRLF)";

    CSerialLink soft("serial:" + m_path + "?baud=115200+flow=xonxoff");
    link.Disconnect();
    ASSERT_TRUE(soft.Connect()) << soft.Error();
    ASSERT_EQ(tcgetattr(m_slave, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_iflag & IXON);
}

TEST_F(SerialLinks, BytesGoOutAtTheLineRateAndAllArrive)
{
    CSerialLink link("serial:" + m_path + "?baud=38400+drain=0");
    link.BeginJob(1, "job");
    link.SetPacing(WithOverrides(PacingForModel(kModelESCPOS), link.Options()));
    ASSERT_TRUE(link.Connect()) << link.Error();
    Reader reader(TakeMaster(), {});
    const std::vector<uint8_t> data = Pattern(7680); // 2 s at 3840 bytes a second
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(link.Write(data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ASSERT_TRUE(link.Drain()) << link.Error();
    // A pseudo-terminal takes everything at once; the link keeps to the
    // line's rate as a serial port would.
    EXPECT_GE(Seconds(start), 1.95);
    reader.Finish();
    EXPECT_EQ(reader.Data(), data);
}

TEST_F(SerialLinks, APortThatGoesAwayEndsTheJobWithAReason)
{
    CSerialLink link("serial:" + m_path + "?baud=115200");
    link.BeginJob(1, "job");
    link.SetPacing(PacingForModel(kModelESCPOS));
    ASSERT_TRUE(link.Connect()) << link.Error();
    {
        Reader reader(TakeMaster(), {0, SIZE_MAX, 0, 2000});
        const std::vector<uint8_t> data = Pattern(100000);
        EXPECT_EQ(link.Write(data.data(), data.size()), -1);
    }
    EXPECT_EQ(link.Failed(), CLink::kDropped);
    EXPECT_NE(link.Error().find("serial printer on " + m_path), std::string::npos) << link.Error();

    CSerialLink notTty("serial:/dev/null");
    EXPECT_FALSE(notTty.Connect());
    EXPECT_EQ(notTty.Failed(), CLink::kRefused);
    CSerialLink gone("serial:/dev/ttyUSB-not-there");
    EXPECT_FALSE(gone.Connect());
    EXPECT_EQ(gone.Failed(), CLink::kUnreachable) << "unplugged: the job waits for it";
}

// ---------------------------------------------------------------- file

class FileLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        char real[PATH_MAX];
        ASSERT_NE(realpath(m_tmp.path().c_str(), real), nullptr);
        m_root = real;
        m_out = m_root + "/out";
        m_elsewhere = m_root + "/elsewhere";
        ASSERT_EQ(mkdir(m_out.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(m_elsewhere.c_str(), 0755), 0);
    }
    static std::string Read(const std::string& path) { return testing_support::ReadFile(path); }
    testing_support::TempDir m_tmp;
    std::string m_root, m_out, m_elsewhere;
};

TEST_F(FileLinks, OneNewFilePerJobNeverOverwritten)
{
    CFileLink link("file://" + m_out, {m_root});
    for (int round = 0; round < 2; ++round) {
        // The same job id twice (a server whose state was lost counts again).
        link.BeginJob(7, "Shipping label/1");
        ASSERT_EQ(link.Write(round ? "second" : "first", round ? 6 : 5), round ? 6 : 5)
            << link.Error();
        ASSERT_TRUE(link.Drain());
    }
    link.Disconnect();
    EXPECT_EQ(Read(m_out + "/job-7-Shipping_label_1.prn"), "first");
    EXPECT_EQ(Read(m_out + "/job-7-Shipping_label_1~2.prn"), "second");
}

TEST_F(FileLinks, AFolderSwappedForALinkIsNotWrittenThrough)
{
    const std::string sub = m_out + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    CFileLink link("file://" + sub, {m_out});
    link.BeginJob(1, "x");
    // Checked when the printer was added; then the folder becomes a link
    // out of the allowed places.
    ASSERT_EQ(rmdir(sub.c_str()), 0);
    ASSERT_EQ(symlink(m_elsewhere.c_str(), sub.c_str()), 0);
    EXPECT_EQ(link.Write("x", 1), -1);
    EXPECT_EQ(link.Failed(), CLink::kRefused);
    EXPECT_NE(link.Error().find("not a folder printers may write to"), std::string::npos)
        << link.Error();
    EXPECT_EQ(rmdir(m_elsewhere.c_str()), 0) << "something was written there";

    CFileLink missing("file://" + m_root + "/later", {m_root});
    missing.BeginJob(2, "y");
    EXPECT_FALSE(missing.Connect());
    EXPECT_EQ(missing.Failed(), CLink::kUnreachable) << "a folder that is not there may come";
}

} // namespace
