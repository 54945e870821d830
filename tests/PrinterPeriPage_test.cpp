#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "RecordingPrinter.h"
#include "PrinterPeriPage.h"

using testing_support::AsciiPicture;
using testing_support::MakeAsciiImage;

namespace {

using testing_support::Bytes;
using testing_support::Cat;
using testing_support::DecodeRaster;
using testing_support::Slice;

class RecordingPeriPage : public testing_support::TRecordingPrinter<CPrinterPeriPage> {};

const Bytes kStart = {0x10, 0xFF, 0xFE, 0x01};
const Bytes kReset = {0x1B, 0x40, 0x00};      // ESC @, 00
const Bytes kCenter = {0x1B, 0x61, 0x01};     // ESC a 1
const Bytes kNextMark = {0x1D, 0x0C};         // GS FF
const Bytes kCutLine = {0x10, 0x50};
const Bytes kEnd = {0x10, 0xFF, 0xFE, 0x45};
const Bytes kFeed10mm = {0x1B, 0x4A, 0x4F};   // 79 dots at 203 dpi

Bytes Paper(unsigned char mode) { return {0x10, 0xFF, 0x10, 0x03, mode}; }
Bytes Density(unsigned char d) { return {0x10, 0xFF, 0x10, 0x00, d}; }

// The 384 x 100 page at 203 dpi on continuous paper with density 3, byte
// for byte.
TEST(PrinterPeriPage, ContinuousPageStream)
{
    std::vector<std::string> picture;
    for (int y = 0; y < 100; ++y) {
        std::string row(384, '.');
        for (int x = 0; x < 384; ++x)
            if (x == 0 || x == 383 || y == 0 || y == 99 || x == y * 3 || (x + y) % 41 == 0)
                row[x] = 'X';
        picture.push_back(row);
    }
    RecordingPeriPage p;
    p.m_iDpi = 203;
    p.m_reg.iGap[0] = 0;
    p.m_reg.iDensity = 3;
    p.m_reg.iFeedAfter = 0;
    MakeAsciiImage(p.m_image, picture);
    p.OnPaintBmp();

    // GS v 0, mode 0, 48 bytes (30 00) per row, 100 rows (64 00).
    const Bytes prefix = Cat({kStart, Paper(0x01), kReset, Density(0x03), kCenter,
                              {0x1D, 0x76, 0x30, 0x00, 0x30, 0x00, 0x64, 0x00}});
    const Bytes tail = Cat({kCutLine, kEnd});
    ASSERT_EQ(p.writes.size(), 1u);
    const Bytes& out = p.writes[0];
    ASSERT_EQ(out.size(), prefix.size() + 4800 + tail.size());
    EXPECT_EQ(Slice(out, 0, prefix.size()), prefix);
    EXPECT_EQ(AsciiPicture(DecodeRaster(Slice(out, prefix.size(), 4800), 48, 384)),
              AsciiPicture(picture));
    EXPECT_EQ(Slice(out, prefix.size() + 4800, tail.size()), tail);
    EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);
    EXPECT_TRUE(p.logs.empty());
}

// Density 0 to 5 as given, higher values as 5, a negative one (the
// printer's default) not at all.
TEST(PrinterPeriPage, DensityIsClampedOrLeftOut)
{
    const struct {
        int density;
        Bytes bytes;
    } kCases[] = {
        {-1, {}}, {-7, {}}, {0, Density(0x00)}, {3, Density(0x03)}, {5, Density(0x05)},
        {6, Density(0x05)}, {8, Density(0x05)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE("iDensity " + std::to_string(c.density));
        RecordingPeriPage p;
        p.m_iDpi = 203;
        p.m_reg.iDensity = c.density;
        MakeAsciiImage(p.m_image, {"X.X.X.X."});
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        EXPECT_EQ(p.writes[0],
                  Cat({kStart, Paper(0x01), kReset, c.bytes, kCenter,
                       {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x01, 0x00, 0xAA}, kCutLine, kEnd}));
    }
}

// Each media mode: its paper byte at the start, and its end of page, with
// and without a feed after the image. The inherited cut never appears.
TEST(PrinterPeriPage, StartAndEndOfPageByMediaMode)
{
    const struct {
        int media;
        const char* name;
        Bytes start;
        Bytes end;
        Bytes endWithFeed;
    } kCases[] = {
        {0, "continuous", Cat({kStart, Paper(0x01), kReset}), Cat({kCutLine, kEnd}),
         Cat({kFeed10mm, kCutLine, kEnd})},
        {1, "gap", Cat({kStart, Paper(0x02), kReset}), Cat({kNextMark, kEnd}),
         Cat({kNextMark, kFeed10mm, kEnd})},
        {2, "black line", Cat({kStart, Paper(0x00), kReset}), Cat({kNextMark, kEnd}),
         Cat({kNextMark, kFeed10mm, kEnd})},
        {3, "perforated", Cat({kStart, Paper(0x03), kReset}), Cat({kNextMark, kEnd}),
         Cat({kNextMark, kFeed10mm, kEnd})},
        {4, "roll", Cat({kStart, Paper(0x01), kReset}), Cat({kCutLine, kEnd}),
         Cat({kFeed10mm, kCutLine, kEnd})},
        {5, "recording", Cat({kStart, Paper(0x01), kReset}), kEnd, Cat({kFeed10mm, kEnd})},
        {6, "unknown 6", Cat({kStart, kReset}), kEnd, Cat({kFeed10mm, kEnd})},
        {-1, "unknown -1", Cat({kStart, kReset}), kEnd, Cat({kFeed10mm, kEnd})},
    };
    // Ink on the first and last row, so that recording paper trims nothing.
    const Bytes image = {0x1D, 0x76, 0x30, 0x00, 0x02, 0x00, 0x03, 0x00,
                         0xC0, 0x03, 0x00, 0x00, 0x81, 0x81};
    for (const auto& c : kCases) {
        for (int feed : {0, 10}) {
            SCOPED_TRACE(std::string(c.name) + ", iFeedAfter " + std::to_string(feed));
            RecordingPeriPage p;
            p.m_iDpi = 203;
            p.m_reg.iGap[0] = c.media;
            p.m_reg.iDensity = -1;
            p.m_reg.iFeedAfter = feed;
            MakeAsciiImage(p.m_image, {"XX............XX", "................",
                                       "X......XX......X"});
            p.OnPaintBmp();
            ASSERT_EQ(p.writes.size(), 1u);
            EXPECT_EQ(p.writes[0], Cat({c.start, kCenter, image, feed ? c.endWithFeed : c.end}));
        }
    }
}

// A feed before the image goes between the alignment and the raster.
TEST(PrinterPeriPage, FeedBeforeTheImage)
{
    RecordingPeriPage p;
    p.m_iDpi = 203;
    p.m_reg.iDensity = 8;
    p.m_reg.iFeedBefore = 40;
    MakeAsciiImage(p.m_image, {"X......."});
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_EQ(p.writes[0],
              Cat({kStart, Paper(0x01), kReset, Density(0x05), kCenter,
                   {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x40},  // 319 dots = 255 + 64
                   {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x01, 0x00, 0x80}, kCutLine, kEnd}));
}

// Recording paper: the blank rows above and below the drawing are not
// printed; blank rows inside it are, and the sides stay as they are.
TEST(PrinterPeriPage, RecordingPaperIsTrimmedOfBlankRows)
{
    const std::vector<std::string> drawing = {
        "....XXXXX....",
        "...X.....X...",
        ".............",
        "..X.......X..",
        "...X.....X...",
        "....XXXXX....",
    };
    std::vector<std::string> page(50, std::string(13, '.'));
    page.insert(page.end(), drawing.begin(), drawing.end());
    page.insert(page.end(), 30, std::string(13, '.'));

    for (int media : {5, 0}) {
        SCOPED_TRACE("iGap[0] " + std::to_string(media));
        RecordingPeriPage p;
        p.m_iDpi = 203;
        p.m_reg.iGap[0] = media;
        p.m_reg.iDensity = -1;
        MakeAsciiImage(p.m_image, page);
        p.OnPaintBmp();

        const std::vector<std::string>& expected = media == 5 ? drawing : page;
        const unsigned char rows = static_cast<unsigned char>(expected.size());
        const Bytes prefix = Cat({kStart, Paper(0x01), kReset, kCenter,
                                  {0x1D, 0x76, 0x30, 0x00, 0x02, 0x00, rows, 0x00}});
        const Bytes tail = media == 5 ? kEnd : Cat({kCutLine, kEnd});
        ASSERT_EQ(p.writes.size(), 1u);
        const Bytes& out = p.writes[0];
        ASSERT_EQ(out.size(), prefix.size() + 2u * rows + tail.size());
        EXPECT_EQ(Slice(out, 0, prefix.size()), prefix);
        EXPECT_EQ(AsciiPicture(DecodeRaster(Slice(out, prefix.size(), 2u * rows), 2, 13)),
                  AsciiPicture(expected));
        EXPECT_EQ(Slice(out, prefix.size() + 2u * rows, tail.size()), tail);
    }
}

// The raster command is the plain ESC/POS one, bands included.
TEST(PrinterPeriPage, TallPageIsSentInBands)
{
    RecordingPeriPage p;
    p.m_iDpi = 203;
    p.m_reg.iDensity = -1;
    ASSERT_TRUE(p.m_image.Create(8, 70000, 1, 0));  // all ink
    p.OnPaintBmp();

    ASSERT_EQ(p.writes.size(), 1u);
    const Bytes& out = p.writes[0];
    const size_t head = kStart.size() + 5 + kReset.size() + kCenter.size();
    ASSERT_EQ(out.size(), head + 8 + 65535 + 8 + 4465 + kCutLine.size() + kEnd.size());
    // 65535 rows (FF FF), then 4465 rows (71 11), one byte each.
    EXPECT_EQ(Slice(out, head, 8), Bytes({0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(Slice(out, head + 8 + 65535, 8),
              Bytes({0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x71, 0x11}));
    EXPECT_EQ(Slice(out, head + 8, 65535), Bytes(65535, 0xFF));
    EXPECT_EQ(Slice(out, head + 8 + 65535 + 8, 4465), Bytes(4465, 0xFF));
}

// A page too wide for the raster command sends nothing, not even its start.
TEST(PrinterPeriPage, PageTooWideIsNotSent)
{
    RecordingPeriPage p;
    p.m_iDpi = 203;
    ASSERT_TRUE(p.m_image.Create(65536 * 8, 1, 1, 0));
    p.OnPaintBmp();
    EXPECT_TRUE(p.writes.empty());
    EXPECT_EQ(p.logs.size(), 1u);
}

} // namespace
