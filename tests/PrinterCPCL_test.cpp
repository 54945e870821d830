// CPCL back end: the label as exact bytes and write boundaries (golden file
// for a whole page), FORM by media mode, the header and width fields, and the
// CG payload decoded back to the picture.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "Golden.h"
#include "RecordingPrinter.h"
#include "PrinterCPCL.h"

namespace {

using testing_support::Complement;
using testing_support::ExpectGolden;
using testing_support::ImageBytes;
using testing_support::LabelArt;
using testing_support::MakeAsciiImage;

using RecordingCPCL = testing_support::TRecordingPrinter<CPrinterCPCL, std::string>;

// Sample label: 400 x 240 at 203 dpi on gap media, reference 0. Each
// command is its own write; the CG header has no line end and the image
// bytes follow it directly, complemented so that a set bit prints.
TEST(PrinterCPCL, SampleLabelPage)
{
    RecordingCPCL p;
    p.m_iDpi = 203;
    p.m_reg.iGap[0] = 1;
    p.m_reg.iReference[0] = 0;
    MakeAsciiImage(p.m_image, LabelArt());
    const std::string prepared = ImageBytes(p.m_image);
    ASSERT_EQ(prepared.size(), 12480u);

    p.OnPaintBmp();

    const std::vector<std::string> expected = {
        "! 0 200 200 240 1\r\n",
        "PAGE - WIDTH 50\r\n",
        "CG 52 240 0 0",
        Complement(prepared),
        "FORM\r\n",
        "PRINT\r\n",
    };
    ASSERT_EQ(p.writes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(p.writes[i] == expected[i]) << "write " << i;
    ExpectGolden("cpcl", "page_400x240_203dpi_gap.bin", p.Joined());
    EXPECT_TRUE(ImageBytes(p.m_image) == Complement(prepared));
}

// FORM only on gap and black-line media; PRINT always closes the label.
TEST(PrinterCPCL, FormByMediaMode)
{
    const struct {
        int media;
        bool form;
    } cases[] = {{0, false}, {1, true}, {2, true}, {3, false}, {4, false}, {5, false}, {-1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.media);
        RecordingCPCL p;
        p.m_iDpi = 203;
        p.m_reg.iGap[0] = c.media;
        MakeAsciiImage(p.m_image, {"X"});
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), c.form ? 6u : 5u);
        EXPECT_EQ(p.writes.back(), "PRINT\r\n");
        if (c.form) {
            EXPECT_EQ(p.writes[4], "FORM\r\n");
        }
    }
}

// Header and width lines: the offset is the stored reference times 8 (a
// wrapping 32-bit product), the resolution fields stay "200 200", and the
// width is whole millimetres truncated at the page resolution.
TEST(PrinterCPCL, HeaderAndWidthFields)
{
    const struct {
        int dpi;
        int reference;
        unsigned width;
        const char* begin;
        const char* pageWidth;
        const char* cg;
    } cases[] = {
        {203, 8, 8, "! 64 200 200 2 1\r\n", "PAGE - WIDTH 1\r\n", "CG 4 2 0 0"},
        {300, 0, 8, "! 0 200 200 2 1\r\n", "PAGE - WIDTH 0\r\n", "CG 4 2 0 0"},
        {203, 0, 401, "! 0 200 200 2 1\r\n", "PAGE - WIDTH 50\r\n", "CG 52 2 0 0"},
        {300, -3, 401, "! -24 200 200 2 1\r\n", "PAGE - WIDTH 33\r\n", "CG 52 2 0 0"},
        {203, 384, 384, "! 3072 200 200 2 1\r\n", "PAGE - WIDTH 48\r\n", "CG 48 2 0 0"},
        // A zero resolution (hostile page header) makes the width out of
        // range; it is written as the smallest int instead of overflowing.
        {0, 0, 8, "! 0 200 200 2 1\r\n", "PAGE - WIDTH -2147483648\r\n", "CG 4 2 0 0"},
        // 300000000 x 8 = 2400000000 wraps to -1894967296.
        {203, 300000000, 32, "! -1894967296 200 200 2 1\r\n", "PAGE - WIDTH 4\r\n",
         "CG 4 2 0 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " dpi, reference " << c.reference
                                        << ", width " << c.width);
        RecordingCPCL p;
        p.m_iDpi = c.dpi;
        p.m_reg.iReference[0] = c.reference;
        p.m_reg.iReference[1] = 999;  // not used by this language
        MakeAsciiImage(p.m_image, std::vector<std::string>(2, std::string(c.width, '.')));
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 5u);
        EXPECT_EQ(p.writes[0], c.begin);
        EXPECT_EQ(p.writes[1], c.pageWidth);
        EXPECT_EQ(p.writes[2], c.cg);
    }
}

// The CG payload decoded back: a set bit prints, the row padding (white in
// the prepared image) is sent as 0.
TEST(PrinterCPCL, PayloadDecodesToThePicture)
{
    const std::vector<std::string> art = {
        "X........X",
        ".X......X.",
        "..XXXXXX..",
    };
    RecordingCPCL p;
    p.m_iDpi = 203;
    MakeAsciiImage(p.m_image, art);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 5u);
    ASSERT_EQ(p.writes[2], "CG 4 3 0 0");
    const std::string& bits = p.writes[3];
    ASSERT_EQ(bits.size(), 12u);

    std::vector<std::string> decoded;
    for (unsigned y = 0; y < 3; ++y) {
        std::string row;
        for (unsigned x = 0; x < 32; ++x) {
            const unsigned char b = static_cast<unsigned char>(bits[y * 4 + x / 8]);
            const bool set = (b >> (7 - x % 8)) & 1;
            if (x < 10)
                row += set ? 'X' : '.';
            else
                EXPECT_FALSE(set) << "padding bit " << x << " of row " << y;
        }
        decoded.push_back(row);
    }
    EXPECT_EQ(testing_support::AsciiPicture(decoded), testing_support::AsciiPicture(art));
    // Row 0 field by field: X........X -> 1000 0000 | 01 then padding.
    EXPECT_EQ(static_cast<unsigned char>(bits[0]), 0x80);
    EXPECT_EQ(static_cast<unsigned char>(bits[1]), 0x40);
    EXPECT_EQ(static_cast<unsigned char>(bits[2]), 0x00);
}

// A page image left empty (a crop that failed): the label has no graphic
// bytes and nothing is read from the missing pixel storage.
TEST(PrinterCPCL, EmptyPageImage)
{
    RecordingCPCL p;
    p.m_iDpi = 203;
    p.m_reg.iGap[0] = 2;
    p.OnPaintBmp();
    EXPECT_EQ(p.Joined(), "! 0 200 200 0 1\r\nPAGE - WIDTH 0\r\nCG 0 0 0 0FORM\r\nPRINT\r\n");
}

} // namespace
