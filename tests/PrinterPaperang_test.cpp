#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "AsciiImage.h"
#include "HfmDecoder.h"
#include "PrinterPaperang.h"
#include "RecordingPrinter.h"

namespace {

using testing_support::Bytes;
using testing_support::Cat;
using testing_support::CHfmDecoder;
using testing_support::MakeAsciiImage;

Bytes Hex(const char* text)
{
    Bytes out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok)
        out.push_back(static_cast<unsigned char>(std::stoul(tok, nullptr, 16)));
    return out;
}

// The back end with its output and traces recorded instead of sent.
class CPaperangProbe : public testing_support::TRecordingPrinter<CPrinterPaperang> {
public:
    Bytes Buffered() const
    {
        return Bytes(m_buffer.GetBuffer(), m_buffer.GetBuffer() + m_buffer.GetBufferLength());
    }
};

const Bytes kBegin = Hex("A5 01 05 00  05 19 03 00 00  57 1F E7 A5  5A");
const Bytes kEnd = Hex("A5 01 05 00  05 1A 03 00 00  B9 B0 52 B7  5A");
const Bytes kFeed0 = Hex("A5 01 07 00  05 16 03 02 00 00 00  20 0B 74 62  5A");
const Bytes kLocate100 = Hex("A5 01 09 00  05 21 03 04 00 64 00 00 00  8C 54 9A AE  5A");

// The frame CRC: zlib's CRC-32 continued from 0x35769521.
uint32_t ReferenceCrc(const unsigned char* p, size_t n)
{
    return static_cast<uint32_t>(crc32(0x35769521uL, p, static_cast<uInt>(n)));
}

// Splits a stream into frame payloads, checking every frame's start, type,
// length, CRC and end bytes.
testing::AssertionResult SplitFrames(const Bytes& s, std::vector<Bytes>& payloads)
{
    payloads.clear();
    size_t at = 0;
    while (at < s.size()) {
        if (s.size() - at < 9)
            return testing::AssertionFailure() << "truncated frame at " << at;
        if (s[at] != 0xA5 || s[at + 1] != 0x01)
            return testing::AssertionFailure() << "bad frame start at " << at;
        const size_t len = s[at + 2] | (s[at + 3] << 8);
        if (s.size() - at < len + 9)
            return testing::AssertionFailure() << "frame at " << at << " runs past the stream";
        const unsigned char* p = s.data() + at + 4;
        const unsigned char* t = p + len;
        const uint32_t crc = t[0] | (t[1] << 8) | (t[2] << 16) | (uint32_t(t[3]) << 24);
        if (crc != ReferenceCrc(p, len))
            return testing::AssertionFailure() << "bad CRC in frame at " << at;
        if (t[4] != 0x5A)
            return testing::AssertionFailure() << "bad frame end at " << at;
        payloads.emplace_back(p, t);
        at += len + 9;
    }
    return testing::AssertionSuccess();
}

unsigned Le16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }

// Reads one page's stream back: begin, tree, bitmap blocks numbered from 0,
// end, then `tail` (the media mode's last record, or empty). Returns the
// decoded page bytes.
testing::AssertionResult DecodePage(const Bytes& stream, unsigned stride, const Bytes& tail,
                                    Bytes& page)
{
    std::vector<Bytes> recs;
    testing::AssertionResult split = SplitFrames(stream, recs);
    if (!split)
        return split;
    const size_t fixed = tail.empty() ? 3 : 4;
    if (recs.size() < fixed)
        return testing::AssertionFailure() << "only " << recs.size() << " frames";
    if (recs.front() != Hex("05 19 03 00 00"))
        return testing::AssertionFailure() << "page does not start with begin printing";
    const size_t endAt = recs.size() - (tail.empty() ? 1 : 2);
    if (recs[endAt] != Hex("05 1A 03 00 00"))
        return testing::AssertionFailure() << "no end printing where expected";
    if (!tail.empty() && recs.back() != tail)
        return testing::AssertionFailure() << "wrong last record";

    const Bytes& tree = recs[1];
    if (tree.size() < 5 || tree[0] != 0x05 || tree[1] != 0x1C || tree[2] != 0x03 ||
        Le16(tree, 3) != tree.size() - 5)
        return testing::AssertionFailure() << "bad tree record";
    CHfmDecoder dec;
    if (!dec.BuildFromRecord(tree.data() + 5, tree.size() - 5))
        return testing::AssertionFailure() << "tree: " << dec.Error();

    page.clear();
    for (size_t i = 2; i < endAt; ++i) {
        const Bytes& r = recs[i];
        const size_t len = r.size() - 17;
        if (r.size() < 17 || r[0] != 0x05 || r[1] != 0x1B || r[2] != 0x03 ||
            Le16(r, 3) != 12 + len || Le16(r, 5) != i - 2 || Le16(r, 7) != 8 + len || r[9] != 1 ||
            Le16(r, 10) != stride || r[12] != 0 || r[13] != 0 || r[14] != 1 || Le16(r, 15) != len)
            return testing::AssertionFailure() << "bad bitmap record " << i - 2;
        if (!dec.DecodeBlock(r.data() + 17, len, page))
            return testing::AssertionFailure() << "block " << i - 2 << ": " << dec.Error();
    }
    return testing::AssertionSuccess();
}

Bytes Storage(const CDibImage& img)
{
    const unsigned char* p = img.GetBits(0);
    return Bytes(p, p + static_cast<size_t>(img.GetEffWidth()) * img.GetHeight());
}

Bytes Inverted(Bytes b)
{
    for (auto& x : b)
        x = static_cast<unsigned char>(255 - x);
    return b;
}

// ---------------------------------------------------------------------------
// Frames, CRC and the fixed commands

TEST(PaperangFrame, CrcIsCrc32ContinuedFrom0x35769521)
{
    CPrinterPaperang p;
    EXPECT_EQ(p.m_crcTable[0], 0u);
    EXPECT_EQ(p.m_crcTable[1], 0x77073096u);
    EXPECT_EQ(p.m_crcTable[255], 0x2D02EF8Du);
    EXPECT_EQ(p.MakeCrc32(nullptr, 0), 0x35769521u);
    EXPECT_EQ(p.MakeCrc32(reinterpret_cast<const unsigned char*>("abc"), 3), 0xB9FBC776u);

    std::mt19937 rng(42);
    Bytes data(1000);
    for (auto& b : data)
        b = static_cast<unsigned char>(rng());
    for (size_t n : {size_t(1), size_t(7), size_t(1000)})
        EXPECT_EQ(p.MakeCrc32(data.data(), static_cast<unsigned>(n)), ReferenceCrc(data.data(), n));
}

TEST(PaperangFrame, FixedCommandsFrameByteForByte)
{
    struct Case {
        const char* what;
        void (*send)(CPrinterPaperang&);
        Bytes frame;
        const char* log;
    };
    const Case cases[] = {
        {"begin printing", [](CPrinterPaperang& p) { p.cmdBeginPrinting(); }, kBegin,
         "MM_TP_CTRL_PRINT_START"},
        {"end printing", [](CPrinterPaperang& p) { p.cmdEndPrinting(); }, kEnd,
         "MM_TP_CTRL_PRINT_END"},
        {"feed 0", [](CPrinterPaperang& p) { p.cmdFeed(0); }, kFeed0, nullptr},
        {"paper locate 100", [](CPrinterPaperang& p) { p.cmdPaperLocate(100); }, kLocate100,
         nullptr},
        // feed n: 16-bit little-endian, cut to 16 bits
        {"feed 0x12345", [](CPrinterPaperang& p) { p.cmdFeed(0x12345); },
         Cat({Hex("A5 01 07 00  05 16 03 02 00 45 23"),
              [] {
                  const Bytes rec = Hex("05 16 03 02 00 45 23");
                  const uint32_t c = ReferenceCrc(rec.data(), rec.size());
                  return Bytes{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24),
                               0x5A};
              }()}),
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPaperangProbe p;
        c.send(p);
        EXPECT_EQ(p.Buffered(), c.frame);
        EXPECT_TRUE(p.writes.empty()); // commands only collect
        if (c.log)
            EXPECT_EQ(p.logs, std::vector<std::string>{c.log});
        else
            EXPECT_TRUE(p.logs.empty());
    }
}

TEST(PaperangFrame, LengthFieldIsLittleEndianAndNeverWraps)
{
    CPaperangProbe p;
    Bytes payload(300, 0xAB);
    ASSERT_TRUE(p.cmdChildClassPackage(payload.data(), 300));
    Bytes f = p.Buffered();
    ASSERT_EQ(f.size(), 309u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), Hex("A5 01 2C 01"));

    // The largest payload the field can describe, then one byte more: that
    // one is refused rather than sent with a length of 0.
    payload.assign(65536, 0x11);
    CPaperangProbe q;
    ASSERT_TRUE(q.cmdChildClassPackage(payload.data(), 65535));
    f = q.Buffered();
    ASSERT_EQ(f.size(), 65535u + 9);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), Hex("A5 01 FF FF"));
    std::vector<Bytes> recs;
    EXPECT_TRUE(SplitFrames(f, recs));

    CPaperangProbe r;
    EXPECT_FALSE(r.cmdChildClassPackage(payload.data(), 65536));
    EXPECT_EQ(r.m_buffer.GetBufferLength(), 0);
    EXPECT_TRUE(r.Logged("cmdChildClassPackage:"));
}

// ---------------------------------------------------------------------------
// Pages

// A two-row page, 32 dots wide: after the inversion its storage
// is 00 00 00 00 / FF 00 00 00.
void TwoRowPage(CDibImage& img)
{
    MakeAsciiImage(img, {
        "................................",
        "XXXXXXXX........................",
    });
}

TEST(PaperangPage, TwoRowPageGivesTheseExactPackets)
{
    CPaperangProbe p;
    TwoRowPage(p.m_image);
    p.m_reg.iGap[0] = 0;
    p.OnPaintBmp();

    const Bytes tree = Hex("A5 01 11 00"                        // frame, 17 bytes
                           "  05 1C 03 0C 00"                    // tree record, 12 bytes
                           "  00 01 FF 00 00 00"                 // pre-order 256, 255, 0
                           "  FF 00 00 01 00 00"                 // in-order 255, 256, 0
                           "  5E 11 56 E0 5A");
    const Bytes block = Hex("A5 01 13 00"                      // frame, 19 bytes
                            "  05 1B 03 0E 00"                  // bitmap record, 14 bytes follow
                            "  00 00"                           // block 0
                            "  0A 00 01"                        // 10 bytes follow, 0x01
                            "  04 00 00 00"                     // stride 4
                            "  01 02 00"                        // coded, 2 bytes
                            "  00 F7"                           // no padding, 1111 0111
                            "  E7 5E D2 75 5A");
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_EQ(p.writes[0], Cat({kBegin, tree, block, kEnd, kFeed0}));
    EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);
    EXPECT_EQ(p.logs, (std::vector<std::string>{"OnPaintBmp", "MM_TP_CTRL_PRINT_START",
                                                  "MM_TP_CTRL_PRINT_END"}));
}

TEST(PaperangPage, SendBitmapAppendsTreeAndBlocksOnly)
{
    // Called on its own it codes the image as it stands (no inversion).
    CPaperangProbe p;
    TwoRowPage(p.m_image);
    p.Negative();
    ASSERT_TRUE(p.SendBitmap_withHFM());
    std::vector<Bytes> recs;
    ASSERT_TRUE(SplitFrames(p.Buffered(), recs));
    EXPECT_EQ(recs, (std::vector<Bytes>{
                        Hex("05 1C 03 0C 00  00 01 FF 00 00 00  FF 00 00 01 00 00"),
                        Hex("05 1B 03 0E 00  00 00  0A 00 01  04 00 00 00  01 02 00  00 F7"),
                    }));
    EXPECT_TRUE(p.writes.empty());

    CPaperangProbe q;
    EXPECT_FALSE(q.SendBitmap_withHFM());   // no image
    EXPECT_EQ(q.m_buffer.GetBufferLength(), 0);
}

TEST(PaperangPage, MediaModeChoosesTheLastPacket)
{
    struct Case {
        int mode;
        Bytes tail;
    };
    const Case cases[] = {
        {0, kFeed0}, {1, kLocate100}, {2, kLocate100}, {3, {}}, {4, kFeed0}, {5, {}}, {6, {}}, {-1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "iGap[0] = " << c.mode);
        CPaperangProbe p;
        TwoRowPage(p.m_image);
        p.m_reg.iGap[0] = c.mode;
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const Bytes& s = p.writes[0];
        const Bytes expectedEnd = Cat({kEnd, c.tail});
        ASSERT_GE(s.size(), expectedEnd.size());
        EXPECT_EQ(Bytes(s.end() - static_cast<long>(expectedEnd.size()), s.end()), expectedEnd);
        Bytes page;
        const Bytes tailRec = c.tail.empty() ? Bytes() : Bytes(c.tail.begin() + 4, c.tail.end() - 5);
        EXPECT_TRUE(DecodePage(s, 4, tailRec, page));
    }
}

TEST(PaperangPage, EachPageIsOneCompleteWrite)
{
    CPaperangProbe p;
    p.m_reg.iGap[0] = 1;
    MakeAsciiImage(p.m_image, {"X.X.X.X.", ".X.X.X.X"});
    const Bytes first = Inverted(Storage(p.m_image));
    p.OnPaintBmp();
    EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);
    MakeAsciiImage(p.m_image, {"XXXX....XXXX", "....XXXX....", "XXXXXXXXXXXX"});
    const Bytes second = Inverted(Storage(p.m_image));
    p.OnPaintBmp();
    EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);

    ASSERT_EQ(p.writes.size(), 2u);
    Bytes page;
    ASSERT_TRUE(DecodePage(p.writes[0], 4, Hex("05 21 03 04 00 64 00 00 00"), page));
    EXPECT_EQ(page, first);
    ASSERT_TRUE(DecodePage(p.writes[1], 4, Hex("05 21 03 04 00 64 00 00 00"), page));
    EXPECT_EQ(page, second);
}

TEST(PaperangPage, BlankPageOfStride48TravelsInThreeBlocks)
{
    CPaperangProbe p;
    p.m_image.Create(384, 100, 1, 0);   // 48 bytes a row
    std::memset(p.m_image.GetBits(0), 0xFF, 48 * 100);   // white; 0x00 after inversion
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    std::vector<Bytes> recs;
    ASSERT_TRUE(SplitFrames(p.writes[0], recs));
    ASSERT_EQ(recs.size(), 7u); // begin, tree, 3 blocks, end, feed
    EXPECT_EQ(recs[1], Hex("05 1C 03 0C 00  00 01 01 00 00 00  01 00 00 01 00 00"));
    const size_t lengths[] = {253, 253, 97};
    for (int i = 0; i < 3; ++i) {
        const Bytes& r = recs[static_cast<size_t>(2 + i)];
        SCOPED_TRACE(i);
        ASSERT_EQ(r.size(), 17 + lengths[i]);
        EXPECT_EQ(Le16(r, 5), static_cast<unsigned>(i));
        EXPECT_EQ(Le16(r, 10), 48u);
        EXPECT_EQ(r[17], 0x00);   // no padding bits
        for (size_t k = 18; k < r.size(); ++k)
            ASSERT_EQ(r[k], 0xFF) << k;
    }
}

TEST(PaperangPage, AllByteValuesSendA2044ByteTree)
{
    CPaperangProbe p;
    p.m_image.Create(256, 8, 1, 0);   // 32 bytes a row, 256 bytes in all
    for (int i = 0; i < 256; ++i)
        p.m_image.GetBits(0)[i] = static_cast<unsigned char>(i * 73 + 5);
    const Bytes expected = Inverted(Storage(p.m_image));
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    std::vector<Bytes> recs;
    ASSERT_TRUE(SplitFrames(p.writes[0], recs));
    ASSERT_EQ(recs[1].size(), 5u + 2044);
    EXPECT_EQ(Bytes(recs[1].begin(), recs[1].begin() + 5), Hex("05 1C 03 FC 07"));
    // Its frame: 2049 payload bytes.
    EXPECT_EQ(Bytes(p.writes[0].begin() + 14, p.writes[0].begin() + 18), Hex("A5 01 01 08"));
    Bytes page;
    ASSERT_TRUE(DecodePage(p.writes[0], 32, Hex("05 16 03 02 00 00 00"), page));
    EXPECT_EQ(page, expected);
}

TEST(PaperangPage, RandomPagesDecodeBackToTheInvertedImage)
{
    struct Case {
        unsigned width, height;
        int inkPercent;
        unsigned seed;
    };
    const Case cases[] = {
        {576, 2000, 3, 1}, {576, 300, 50, 2}, {384, 64, 90, 3}, {33, 500, 10, 4}, {2000, 3, 20, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", seed " << c.seed);
        std::mt19937 rng(c.seed);
        CPaperangProbe p;
        p.m_reg.iGap[0] = 4;
        p.m_image.Create(c.width, c.height, 1, 0);
        for (unsigned y = 0; y < c.height; ++y) {
            unsigned char* row = p.m_image.GetBits(y);
            for (unsigned x = 0; x < p.m_image.GetEffWidth(); ++x) {
                unsigned char b = 0xFF;
                for (int bit = 0; bit < 8; ++bit)
                    if (static_cast<int>(rng() % 100) < c.inkPercent)
                        b = static_cast<unsigned char>(b & ~(1 << bit));
                row[x] = b;
            }
        }
        const Bytes expected = Inverted(Storage(p.m_image));
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        Bytes page;
        ASSERT_TRUE(
            DecodePage(p.writes[0], p.m_image.GetEffWidth(), Hex("05 16 03 02 00 00 00"), page));
        EXPECT_EQ(page, expected);
    }
}

// ---------------------------------------------------------------------------
// Pages that cannot be sent whole are not sent at all, and the user is told
// why

using testing_support::CRecordingJob;

// The one report of a refused page 2.
void ExpectRefusal(const CRecordingJob& job, const std::string& why)
{
    ASSERT_EQ(job.reports.size(), 1u);
    EXPECT_EQ(job.reports[0].first, CRenderJob::kError);
    EXPECT_EQ(job.reports[0].second, "Page 2 not printed: " + why + ".");
}

TEST(PaperangLimits, BitmapRecordFieldsNeverWrap)
{
    CPaperangProbe p;
    p.m_image.Create(32, 1, 1, 0);   // stride 4
    Bytes block(65519, 0x5A);
    // 65518 block bytes make a record of exactly 65535 bytes.
    ASSERT_TRUE(p.cmdBitmap(0xFFFF, true, block.data(), 65518));
    Bytes f = p.Buffered();
    ASSERT_EQ(f.size(), 65535u + 9);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 21),
              Hex("A5 01 FF FF"
                  "  05 1B 03 FA FF"   // 12 + length
                  "  FF FF"            // block 65535
                  "  F6 FF 01"         // 8 + length
                  "  04 00 00 00"      // stride
                  "  01 EE FF"));      // coded, length
    std::vector<Bytes> recs;
    EXPECT_TRUE(SplitFrames(f, recs));

    // One byte more, or a block number past 16 bits: nothing is added.
    EXPECT_FALSE(p.cmdBitmap(0, true, block.data(), 65519));
    EXPECT_FALSE(p.cmdBitmap(0x10000, true, block.data(), 10));
    EXPECT_EQ(p.m_buffer.GetBufferLength(), 65535 + 9);
    EXPECT_TRUE(p.Logged("cmdBitmap:"));
}

// One row of `stride` bytes holding every byte value about equally often:
// all codes are 8 bits, so the row is one block of stride + 1 bytes.
void EightBitRow(CDibImage& img, unsigned stride)
{
    img.Create(stride, 1, 8, 0);
    for (unsigned i = 0; i < stride; ++i)
        img.GetBits(0)[i] = static_cast<unsigned char>(i);
}

TEST(PaperangLimits, RowCodingPastAFrameRefusesThePage)
{
    CPaperangProbe p;
    EightBitRow(p.m_image, 65516);   // a 65517-byte block
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    std::vector<Bytes> recs;
    ASSERT_TRUE(SplitFrames(p.writes[0], recs));
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(Bytes(recs[2].begin(), recs[2].begin() + 17),
              Hex("05 1B 03 F9 FF  00 00  F5 FF 01  EC FF 00 00  01 ED FF"));

    // A 65521-byte block would need a 65538-byte frame: no packet at all.
    CRecordingJob job(2);
    CPaperangProbe q;
    q.SetJob(&job);
    EightBitRow(q.m_image, 65520);
    q.OnPaintBmp();
    EXPECT_TRUE(q.writes.empty());
    EXPECT_EQ(q.m_buffer.GetBufferLength(), 0);
    EXPECT_TRUE(q.Logged("SendBitmap_withHFM: page not sent"));
    EXPECT_FALSE(q.Logged("MM_TP_CTRL_PRINT_START"));
    ExpectRefusal(job, "block 0 of its image compresses to 65521 bytes, more than a packet holds "
                       "(65518)");
}

// One row of `stride` blank bytes: every byte codes as one bit.
void BlankRow(CDibImage& img, unsigned stride)
{
    img.Create(stride * 8, 1, 1, 0);
    std::memset(img.GetBits(0), 0xFF, stride);
}

TEST(PaperangLimits, StrideMustFitItsField)
{
    CRecordingJob job(2);
    CPaperangProbe p;
    p.SetJob(&job);
    BlankRow(p.m_image, 65536);   // codes to 8193 bytes, but the stride is 0x10000
    p.OnPaintBmp();
    EXPECT_TRUE(p.writes.empty());
    EXPECT_TRUE(p.Logged("SendBitmap_withHFM: page not sent"));
    ExpectRefusal(job, "its rows of 65536 bytes exceed the packet's 16-bit row length");
}

// `rows` rows of 128 bytes holding every byte value equally often (give or
// take one): all codes are 8 bits, a row is 1024 bits, so every row is a
// block of its own.
void OneBlockPerRow(CDibImage& img, unsigned rows)
{
    img.Create(128, rows, 8, 0);
    unsigned char* p = img.GetBits(0);
    for (size_t i = 0; i < size_t(128) * rows; ++i)
        p[i] = static_cast<unsigned char>(i);
}

TEST(PaperangLimits, BlockNumberMustFitItsField)
{
    CPaperangProbe p;
    OneBlockPerRow(p.m_image, 65536);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    const Bytes& s = p.writes[0];
    // The last bitmap frame (26 + 129 bytes) sits before end and feed.
    const size_t last = s.size() - kFeed0.size() - kEnd.size() - 155;
    EXPECT_EQ(Bytes(s.begin() + static_cast<long>(last), s.begin() + static_cast<long>(last) + 11),
              Hex("A5 01 92 00  05 1B 03 8D 00  FF FF"));

    CRecordingJob job(2);
    CPaperangProbe q;
    q.SetJob(&job);
    OneBlockPerRow(q.m_image, 65537);
    q.OnPaintBmp();
    EXPECT_TRUE(q.writes.empty());
    EXPECT_TRUE(q.Logged("SendBitmap_withHFM: page not sent"));
    ExpectRefusal(job, "its 65537 compressed blocks exceed the packet's 16-bit block number");
}

TEST(PaperangLimits, PageBeyondTheBufferLimitIsNotSentPiecemeal)
{
    // With a small limit the buffer would drop the start of the page and
    // send its tail; the page is refused instead.
    CRecordingJob job(2);
    CPaperangProbe p;
    p.SetJob(&job);
    TwoRowPage(p.m_image);
    p.m_buffer.SetMaxBufferSize(60);
    p.OnPaintBmp();
    EXPECT_TRUE(p.writes.empty());
    EXPECT_TRUE(p.Logged("OnPaintBmp: page not sent"));
    ExpectRefusal(job, "its 98 bytes of packets exceed the output limit of 60 bytes");

    // The two-row page is 14 + 26 + 28 + 14 + 16 = 98 bytes.
    p.m_buffer.SetMaxBufferSize(98);
    TwoRowPage(p.m_image);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_EQ(p.writes[0].size(), 98u);
    EXPECT_EQ(job.reports.size(), 1u);
}

TEST(PaperangLimits, EmptyImageSendsNothing)
{
    CRecordingJob job(2);
    CPaperangProbe p;
    p.SetJob(&job);
    p.OnPaintBmp();
    EXPECT_TRUE(p.writes.empty());
    EXPECT_TRUE(p.Logged("SendBitmap_withHFM: page not sent"));
    ExpectRefusal(job, "there is no page image to send");
}

} // namespace
