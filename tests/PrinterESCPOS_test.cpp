#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "RecordingPrinter.h"
#include "PrinterESCPOS.h"

using testing_support::AsciiPicture;
using testing_support::MakeAsciiImage;

namespace {

using testing_support::Bytes;
using testing_support::Cat;
using testing_support::DecodeRaster;
using testing_support::Slice;

class RecordingESCPOS : public testing_support::TRecordingPrinter<CPrinterESCPOS> {};

// A page picture that shows row order, column order and both edges: a
// frame, a diagonal, and a short bar whose position encodes the row.
std::vector<std::string> TestPicture(int width, int height)
{
    std::vector<std::string> rows;
    for (int y = 0; y < height; ++y) {
        std::string row(width, '.');
        for (int x = 0; x < width; ++x) {
            const bool frame = x == 0 || y == 0 || x == width - 1 || y == height - 1;
            const bool diagonal = x == y * 3;
            const bool bar = x >= 10 + (y * 7) % 50 && x < 14 + (y * 7) % 50;
            if (frame || diagonal || bar)
                row[x] = 'X';
        }
        rows.push_back(row);
    }
    return rows;
}

// Index of the first differing byte, or -1; keeps failures on large
// streams readable.
long FirstDifference(const Bytes& a, const Bytes& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

const Bytes kInit = {0x1B, 0x40, 0x00};    // ESC @, 00
const Bytes kCenter = {0x1B, 0x61, 0x01};  // ESC a 1
const Bytes kCut = {0x1D, 0x56, 0x31};     // GS V 49

// The 384 x 100 page at 203 dpi: the whole stream, byte for byte, for each
// feed after the image.
TEST(PrinterESCPOS, PageStreamWithFeedsAfterTheImage)
{
    const auto picture = TestPicture(384, 100);
    // GS v 0, mode 0, 48 bytes (30 00) per row, 100 rows (64 00).
    const Bytes kPrefix = Cat({kInit, kCenter, {0x1D, 0x76, 0x30, 0x00, 0x30, 0x00, 0x64, 0x00}});
    const struct {
        int feedMm;
        Bytes tail;
    } kCases[] = {
        {0, kCut},
        {-5, kCut},
        {10, Cat({{0x1B, 0x4A, 0x4F}, kCut})},                       // 79 dots
        {40, Cat({{0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x40}, kCut})},     // 319 = 255 + 64
        {100, Cat({{0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x22},
                   kCut})},                                          // 799 = 3 x 255 + 34
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE("iFeedAfter " + std::to_string(c.feedMm));
        RecordingESCPOS p;
        p.m_iDpi = 203;
        p.m_reg.iFeedAfter = c.feedMm;
        MakeAsciiImage(p.m_image, picture);
        p.OnPaintBmp();

        ASSERT_EQ(p.writes.size(), 1u);
        const Bytes& out = p.writes[0];
        ASSERT_EQ(out.size(), kPrefix.size() + 4800 + c.tail.size());
        EXPECT_EQ(Slice(out, 0, kPrefix.size()), kPrefix);
        EXPECT_EQ(AsciiPicture(DecodeRaster(Slice(out, kPrefix.size(), 4800), 48, 384)),
                  AsciiPicture(picture));
        EXPECT_EQ(Slice(out, kPrefix.size() + 4800, c.tail.size()), c.tail);
        EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);
        EXPECT_TRUE(p.logs.empty());
    }
}

// Row stride padding is dropped and the unused bits of the last byte carry
// no ink; small enough to show whole.
TEST(PrinterESCPOS, PacksRowsWithoutStridePadding)
{
    const std::vector<std::string> picture = {
        "XXXXXXXXXXXXXXXXXXXX",
        "X.........X........X",
        "X..XXXX...X...XX...X",
        "X..X..X...X..X..X..X",
        "X..XXXX...X...XX...X",
        "XXXXXXXXXXXXXXXXXXXX",
    };
    RecordingESCPOS p;
    p.m_iDpi = 203;
    MakeAsciiImage(p.m_image, picture);
    ASSERT_EQ(p.m_image.GetEffWidth(), 4u);  // one padding byte per row
    p.OnPaintBmp();

    ASSERT_EQ(p.writes.size(), 1u);
    const Bytes& out = p.writes[0];
    // 20 dots: 3 bytes per row (03 00), 6 rows (06 00).
    const Bytes header = {0x1D, 0x76, 0x30, 0x00, 0x03, 0x00, 0x06, 0x00};
    ASSERT_EQ(out.size(), 6 + header.size() + 18 + 3);
    EXPECT_EQ(Slice(out, 6, 8), header);
    EXPECT_EQ(Slice(out, 14, 18), Bytes({0xFF, 0xFF, 0xF0, 0x80, 0x20, 0x10, 0x9E, 0x23, 0x10,
                                         0x92, 0x24, 0x90, 0x9E, 0x23, 0x10, 0xFF, 0xFF, 0xF0}));
    EXPECT_EQ(AsciiPicture(DecodeRaster(Slice(out, 14, 18), 3, 20)), AsciiPicture(picture));
}

// 385 dots need 49 bytes per row; dot 384 is the top bit of the last byte
// and the 7 bits after it stay clear.
TEST(PrinterESCPOS, WidthOf385DotsTakes49BytesPerRow)
{
    auto picture = TestPicture(385, 12);
    picture[3][384] = '.';
    picture[5][383] = '.';
    RecordingESCPOS p;
    p.m_iDpi = 203;
    MakeAsciiImage(p.m_image, picture);
    p.OnPaintBmp();

    ASSERT_EQ(p.writes.size(), 1u);
    const Bytes& out = p.writes[0];
    ASSERT_EQ(out.size(), 6 + 8 + 49 * 12 + 3);
    EXPECT_EQ(Slice(out, 6, 8), Bytes({0x1D, 0x76, 0x30, 0x00, 0x31, 0x00, 0x0C, 0x00}));
    const Bytes image = Slice(out, 14, 49 * 12);
    EXPECT_EQ(image[48], 0x80);           // row 0: dot 384 only
    EXPECT_EQ(image[3 * 49 + 48], 0x00);  // row 3: dot 384 blank
    EXPECT_EQ(AsciiPicture(DecodeRaster(image, 49, 385)), AsciiPicture(picture));
}

// The mode byte from the resolutions: the page passes its resolution for
// both, the command itself takes them apart.
TEST(PrinterESCPOS, RasterModeByteByResolution)
{
    const struct {
        int dpi;
        unsigned char mode;
    } kPages[] = {{100, 3}, {150, 0}, {203, 0}, {300, 0}};
    for (const auto& c : kPages) {
        SCOPED_TRACE("page at " + std::to_string(c.dpi) + " dpi");
        RecordingESCPOS p;
        p.m_iDpi = c.dpi;
        MakeAsciiImage(p.m_image, {"X......X"});
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        EXPECT_EQ(Slice(p.writes[0], 6, 9),
                  Bytes({0x1D, 0x76, 0x30, c.mode, 0x01, 0x00, 0x01, 0x00, 0x81}));
    }

    const struct {
        int xDpi, yDpi;
        unsigned char mode;
    } kCommands[] = {
        {203, 203, 0}, {300, 600, 0}, {203, 100, 1}, {300, 100, 1}, {100, 203, 2},
        {100, 100, 3}, {202, 100, 0}, {100, 150, 0}, {150, 100, 0}, {0, 0, 0},
    };
    for (const auto& c : kCommands) {
        SCOPED_TRACE(std::to_string(c.xDpi) + " x " + std::to_string(c.yDpi) + " dpi");
        RecordingESCPOS p;
        const unsigned char row[2] = {0xAA, 0x55};
        p.PrintBMP(c.xDpi, c.yDpi, 2, 1, row, 2);
        EXPECT_EQ(Bytes(p.m_buffer.GetBuffer(), p.m_buffer.GetBuffer() + p.m_buffer.GetBufferLength()),
                  Bytes({0x1D, 0x76, 0x30, c.mode, 0x02, 0x00, 0x01, 0x00, 0xAA, 0x55}));
    }
}

// ESC J carries at most 255 dots: longer feeds are repeated full steps and
// the remainder; a negative count feeds nothing.
TEST(PrinterESCPOS, FeedIsSplitIntoSteps)
{
    const struct {
        int mm, dpi;
        Bytes bytes;
    } kCases[] = {
        {0, 203, {0x1B, 0x4A, 0x00}},
        {10, 203, {0x1B, 0x4A, 0x4F}},
        {1, 6477, {0x1B, 0x4A, 0xFF}},                       // exactly 255
        {1, 6503, {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x01}},     // 256
        {1, 12954, {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0xFF}},    // 510: no empty remainder
        {-10, 203, {0x1B, 0x4A, 0x00}},
        {10579000, 203, {0x1B, 0x4A, 0x00}},  // product wraps below zero in 32 bits
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.mm) + " mm at " + std::to_string(c.dpi) + " dpi");
        RecordingESCPOS p;
        p.m_iDpi = c.dpi;
        p.PrintAndFeedPaper(c.mm);
        EXPECT_EQ(Bytes(p.m_buffer.GetBuffer(), p.m_buffer.GetBuffer() + p.m_buffer.GetBufferLength()),
                  c.bytes);
    }

    // 21158000 x 203 wraps to 106704: 4200 dots, 16 full steps and 120.
    RecordingESCPOS p;
    p.m_iDpi = 203;
    p.PrintAndFeedPaper(21158000);
    Bytes expected;
    for (int i = 0; i < 16; ++i)
        expected.insert(expected.end(), {0x1B, 0x4A, 0xFF});
    expected.insert(expected.end(), {0x1B, 0x4A, 0x78});
    EXPECT_EQ(Bytes(p.m_buffer.GetBuffer(), p.m_buffer.GetBuffer() + p.m_buffer.GetBufferLength()),
              expected);
}

// A one-byte-wide page whose row y prints the byte RowByte(y), so that any
// lost, repeated or reordered row shows.
unsigned char RowByte(unsigned y)
{
    return static_cast<unsigned char>(y * 37u + (y >> 8));
}

void MakeTallPage(CDibImage& img, unsigned height)
{
    img.Create(8, height, 1, 0);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    for (unsigned y = 0; y < height; ++y) {
        unsigned char* row = img.GetBits(y);
        row[0] = static_cast<unsigned char>(~RowByte(y));  // 1 = white before inversion
        row[1] = row[2] = row[3] = 0xFF;
    }
}

// Pages taller than one GS v 0 command can say go out as bands of at most
// 65535 rows, in order, each with the page's mode and width.
TEST(PrinterESCPOS, TallPagesAreSentInBands)
{
    const struct {
        unsigned height;
        std::vector<unsigned> bands;
    } kCases[] = {
        {600, {600}},  // 58 02
        {65535, {65535}},
        {65536, {65535, 1}},
        {70000, {65535, 4465}},
        {131071, {65535, 65535, 1}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.height) + " rows");
        RecordingESCPOS p;
        p.m_iDpi = 100;
        MakeTallPage(p.m_image, c.height);
        p.OnPaintBmp();

        Bytes expected = Cat({kInit, kCenter});
        unsigned y = 0;
        for (unsigned rows : c.bands) {
            // GS v 0, mode 3 at 100 dpi, 1 byte per row, rows 16-bit LE.
            expected.insert(expected.end(), {0x1D, 0x76, 0x30, 0x03, 0x01, 0x00,
                                             static_cast<unsigned char>(rows & 0xFF),
                                             static_cast<unsigned char>(rows >> 8)});
            for (unsigned i = 0; i < rows; ++i, ++y)
                expected.push_back(RowByte(y));
        }
        expected.insert(expected.end(), kCut.begin(), kCut.end());

        ASSERT_EQ(p.writes.size(), 1u);
        EXPECT_EQ(FirstDifference(p.writes[0], expected), -1)
            << "stream of " << p.writes[0].size() << " bytes, expected " << expected.size();
    }
}

// Rows wider than 65535 bytes cannot be expressed: nothing at all is sent
// for that page, the failure is traced and the user told why. 65535 bytes
// still go out.
TEST(PrinterESCPOS, PageTooWideForTheRasterCommandIsNotSent)
{
    testing_support::CRecordingJob job(3);
    RecordingESCPOS wide;
    wide.SetJob(&job);
    wide.m_iDpi = 203;
    ASSERT_TRUE(wide.m_image.Create(65536 * 8 - 7, 2, 1, 0));  // 65536 bytes per row
    wide.OnPaintBmp();
    EXPECT_TRUE(wide.writes.empty());
    EXPECT_EQ(wide.m_buffer.GetBufferLength(), 0);
    ASSERT_EQ(wide.logs.size(), 1u);
    EXPECT_NE(wide.logs[0].find("65536"), std::string::npos) << wide.logs[0];
    ASSERT_EQ(job.reports.size(), 1u);
    EXPECT_EQ(job.reports[0].first, CRenderJob::kError);
    EXPECT_EQ(job.reports[0].second,
              "Page 3 not printed: its rows of 65536 bytes exceed the raster command's 16-bit "
              "width of 65535 bytes.");

    RecordingESCPOS widest;
    widest.SetJob(&job);
    widest.m_iDpi = 203;
    ASSERT_TRUE(widest.m_image.Create(65535 * 8, 2, 1, 0));
    widest.OnPaintBmp();
    ASSERT_EQ(widest.writes.size(), 1u);
    EXPECT_EQ(widest.writes[0].size(), 6 + 8 + 2 * 65535 + 3);
    EXPECT_EQ(Slice(widest.writes[0], 6, 8),
              Bytes({0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0x02, 0x00}));
    EXPECT_TRUE(widest.logs.empty());
    EXPECT_EQ(job.reports.size(), 1u);

    // The command itself refuses a width it cannot carry.
    RecordingESCPOS direct;
    const Bytes row(65536, 0);
    direct.PrintBMP(203, 203, 65536, 1, row.data(), 65536);
    EXPECT_EQ(direct.m_buffer.GetBufferLength(), 0);
    EXPECT_EQ(direct.logs.size(), 1u);
}

// Every page is a complete job of its own, in its own write.
TEST(PrinterESCPOS, EachPageIsOneCompleteWrite)
{
    RecordingESCPOS p;
    p.m_iDpi = 203;
    MakeAsciiImage(p.m_image, {"XX..", "..XX"});
    p.OnPaintBmp();
    MakeAsciiImage(p.m_image, {"X...", ".X..", "..X."});
    p.OnPaintBmp();

    ASSERT_EQ(p.writes.size(), 2u);
    EXPECT_EQ(p.writes[0], Cat({kInit, kCenter, {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x02, 0x00},
                                {0xC0, 0x30}, kCut}));
    EXPECT_EQ(p.writes[1], Cat({kInit, kCenter, {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x03, 0x00},
                                {0x80, 0x40, 0x20}, kCut}));
}

// The page sequence goes through the virtual commands, so that a derived
// printer's replacements take effect.
TEST(PrinterESCPOS, PageSequenceCallsTheVirtualCommands)
{
    struct Tracing : RecordingESCPOS {
        void cmdInit() override { calls.push_back("cmdInit"); }
        void cmdAlignCenter() override { calls.push_back("cmdAlignCenter"); }
        void cmdCutPaper() override { calls.push_back("cmdCutPaper"); }
        void PrintAndFeedPaper(int mm) override
        {
            calls.push_back("PrintAndFeedPaper " + std::to_string(mm));
        }
        void PrintBMP(int xDpi, int yDpi, int widthBytes, int height, const void*, int len) override
        {
            calls.push_back("PrintBMP " + std::to_string(xDpi) + " " + std::to_string(yDpi) + " " +
                            std::to_string(widthBytes) + " " + std::to_string(height) + " " +
                            std::to_string(len));
        }
        void cmdEndPrint() override { calls.push_back("cmdEndPrint"); }
        std::vector<std::string> calls;
    } p;
    p.m_iDpi = 300;
    p.m_reg.iFeedAfter = 7;
    MakeAsciiImage(p.m_image, {"X........", "........X"});
    p.OnPaintBmp();
    EXPECT_EQ(p.calls, std::vector<std::string>({"cmdInit", "cmdAlignCenter",
                                                 "PrintBMP 300 300 2 2 4", "PrintAndFeedPaper 7",
                                                 "cmdCutPaper", "cmdEndPrint"}));
}

} // namespace
