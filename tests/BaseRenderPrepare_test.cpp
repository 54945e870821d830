#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "BaseRender.h"

namespace {

using testing_support::AsciiPicture;
using testing_support::MakeAsciiImage;
using testing_support::ToAscii;
using Picture = std::vector<std::string>;

Picture Slice(const Picture& p, size_t x0, size_t x1, size_t y0, size_t y1)
{
    Picture out;
    for (size_t y = y0; y < y1; ++y)
        out.push_back(p[y].substr(x0, x1 - x0));
    return out;
}

// The pixels must match the picture and every padding bit of every row must
// be white (1), so that an inverting back end sends no ink past the width.
::testing::AssertionResult PreparedAs(const CDibImage& img, const Picture& want)
{
    if (!img.IsValid())
        return ::testing::AssertionFailure() << "image has no pixels";
    if (img.GetBpp() != 1)
        return ::testing::AssertionFailure() << "depth " << img.GetBpp();
    const Picture got = ToAscii(img);
    if (got != want)
        return ::testing::AssertionFailure() << "got\n"
                                             << AsciiPicture(got) << "want\n"
                                             << AsciiPicture(want);
    for (unsigned y = 0; y < img.GetHeight(); ++y)
        for (unsigned x = img.GetWidth(); x < img.GetEffWidth() * 8; ++x)
            if (((img.GetBits(y)[x / 8] >> (7 - x % 8)) & 1) == 0)
                return ::testing::AssertionFailure() << "padding bit " << x << " of row " << y
                                                     << " is ink";
    return ::testing::AssertionSuccess();
}

// A 40 x 30 page whose ink spans columns 14 .. 25 and rows 12 .. 17:
// margins of 12 white rows above and below, 14 white columns either side.
Picture MarginPage()
{
    Picture p(30, std::string(40, '.'));
    p[12][14] = 'X';
    p[17][25] = 'X';
    for (size_t x = 16; x < 24; ++x)
        p[14][x] = 'X';
    for (size_t y = 13; y < 17; ++y)
        p[y][20] = 'X';
    return p;
}

struct CropCase {
    int dpi;
    int top, bottom, left, right;   // limits in millimetres
    size_t x0, x1, y0, y1;          // columns and storage rows kept
};

// Dots per millimetre limit: 1 mm is 8 dots at 203 dpi and 12 at 300;
// 2 mm is 16 and 24.
TEST(CropWhiteEdge, EachSideWithZeroPositiveAndNegativeLimits)
{
    const Picture page = MarginPage();
    const CropCase cases[] = {
        // One side at a time.
        {203, 1, 0, 0, 0, 0, 40, 8, 30},
        {203, 0, 1, 0, 0, 0, 40, 0, 22},
        {203, 0, 0, 1, 0, 8, 40, 0, 30},
        // The right side drops one column more than its limit: 9 at 1 mm.
        {203, 0, 0, 0, 1, 0, 31, 0, 30},
        {300, 1, 0, 0, 0, 0, 40, 12, 30},
        {300, 0, 1, 0, 0, 0, 40, 0, 18},
        {300, 0, 0, 1, 0, 12, 40, 0, 30},
        {300, 0, 0, 0, 1, 0, 27, 0, 30},
        // A limit wider than the margin stops at the ink.
        {203, 2, 2, 2, 2, 14, 26, 12, 18},
        {300, 2, 2, 2, 2, 14, 26, 12, 18},
        // Negative limits: every white line on that side.
        {203, -1, 0, 0, 0, 0, 40, 12, 30},
        {203, 0, -1, 0, 0, 0, 40, 0, 18},
        {203, 0, 0, -1, 0, 14, 40, 0, 30},
        {203, 0, 0, 0, -1, 0, 26, 0, 30},
        {300, -5, -5, -5, -5, 14, 26, 12, 18},
        // Mixed: zero leaves its side alone.
        {300, 1, -1, 0, 1, 0, 27, 12, 18},
    };
    for (const CropCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " dpi, top " << c.top << " bottom "
                                        << c.bottom << " left " << c.left << " right "
                                        << c.right);
        CBaseRender r;
        r.m_iDpi = c.dpi;
        MakeAsciiImage(r.m_image, page);
        r.CropWhiteEdge(c.top, c.bottom, c.left, c.right);
        ASSERT_TRUE(r.m_image.IsValid());
        EXPECT_EQ(r.m_image.GetBpp(), 1);
        const Picture want = Slice(page, c.x0, c.x1, c.y0, c.y1);
        EXPECT_EQ(ToAscii(r.m_image), want) << "got\n"
                                            << AsciiPicture(ToAscii(r.m_image)) << "want\n"
                                            << AsciiPicture(want);
    }
}

TEST(CropWhiteEdge, ZeroLimitsLeaveTheImageUntouched)
{
    CBaseRender r;
    r.m_iDpi = 203;
    MakeAsciiImage(r.m_image, MarginPage());
    const unsigned char* before = r.m_image.GetBits(0);
    r.CropWhiteEdge(0, 0, 0, 0);
    EXPECT_EQ(r.m_image.GetBits(0), before) << "not even copied";
    EXPECT_EQ(ToAscii(r.m_image), MarginPage());
}

TEST(CropWhiteEdge, AnAllWhitePageIsKeptWhole)
{
    const Picture blank(9, std::string(21, '.'));
    for (int limit : {1, -1}) {
        SCOPED_TRACE(limit);
        CBaseRender r;
        r.m_iDpi = 203;
        MakeAsciiImage(r.m_image, blank);
        r.CropWhiteEdge(limit, limit, limit, limit);
        EXPECT_EQ(ToAscii(r.m_image), blank);
    }
}

TEST(CropWhiteEdge, FirstInkRowBoundsTheTopCrop)
{
    // Ink first in row 3: a 5 mm limit (40 dots) drops exactly 3 rows. The
    // ink's column 5 is no multiple of 8, and the left crop starts there.
    const Picture page = {
        "............",
        "............",
        "............",
        ".....X......",
        "......XX....",
        "............",
    };
    CBaseRender r;
    r.m_iDpi = 203;
    MakeAsciiImage(r.m_image, page);
    r.CropWhiteEdge(5, 0, -1, 0);
    EXPECT_EQ(ToAscii(r.m_image), Slice(page, 5, 12, 3, 6));
}

TEST(CropWhiteEdge, AnImageWithoutPixelsStaysEmpty)
{
    CBaseRender r;
    r.m_iDpi = 203;
    r.CropWhiteEdge(-1, -1, -1, -1);
    EXPECT_FALSE(r.m_image.IsValid());

    // A header that still records a size after its pixels were freed.
    MakeAsciiImage(r.m_image, {"X.", ".X"});
    r.m_image.Destroy();
    r.CropWhiteEdge(1, 1, 1, 1);
    EXPECT_FALSE(r.m_image.IsValid());
}

TEST(CropWhiteEdge, AnAbsurdResolutionStaysInsideTheImage)
{
    for (int dpi : {-2000000000, 2000000000}) {
        SCOPED_TRACE(dpi);
        CBaseRender r;
        r.m_iDpi = dpi;
        MakeAsciiImage(r.m_image, MarginPage());
        r.CropWhiteEdge(-1, -1, -1, -1);
        EXPECT_TRUE(r.m_image.IsValid());
        EXPECT_LE(r.m_image.GetWidth(), 40u);
        EXPECT_LE(r.m_image.GetHeight(), 30u);
    }
}

// --- Row padding and inversion --------------------------------------------

TEST(AdjustEffWidthBits, WhitensEveryPaddingBitAndNoPixel)
{
    for (unsigned width : {100u, 384u, 401u}) {
        SCOPED_TRACE(width);
        CBaseRender r;
        ASSERT_NE(r.m_image.Create(width, 3, 1, 0), nullptr);
        // Ink everywhere, padding included.
        std::memset(r.m_image.GetBits(0), 0, r.m_image.GetEffWidth() * 3);
        r.AdjustEffWidthBits();
        EXPECT_TRUE(PreparedAs(r.m_image, Picture(3, std::string(width, 'X'))));
    }
    // Width 100 has a 16-byte stride: columns 100 .. 127 become white,
    // that is the low nibble of byte 12 and bytes 13 to 15.
    CBaseRender r;
    ASSERT_NE(r.m_image.Create(100, 1, 1, 0), nullptr);
    r.AdjustEffWidthBits();
    const unsigned char want[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0F, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(r.m_image.GetEffWidth(), 16u);
    EXPECT_EQ(std::memcmp(r.m_image.GetBits(0), want, 16), 0);

    CBaseRender empty;
    empty.AdjustEffWidthBits();
    EXPECT_FALSE(empty.m_image.IsValid());
}

TEST(Negative, InvertsEveryStoredByteAndTwiceRestores)
{
    CBaseRender r;
    MakeAsciiImage(r.m_image, {"X.X.XX...", ".........", "XXXXXXXXX"});
    const unsigned size = r.m_image.GetEffWidth() * r.m_image.GetHeight();
    const std::vector<unsigned char> before(r.m_image.GetBits(0), r.m_image.GetBits(0) + size);

    r.Negative();
    for (unsigned i = 0; i < size; ++i)
        ASSERT_EQ(r.m_image.GetBits(0)[i], 255 - before[i]) << "byte " << i;
    EXPECT_EQ(ToAscii(r.m_image), Picture({".X.X..XXX", "XXXXXXXXX", "........."}));

    r.Negative();
    EXPECT_EQ(std::vector<unsigned char>(r.m_image.GetBits(0), r.m_image.GetBits(0) + size),
              before);

    CBaseRender empty;
    empty.Negative();
    EXPECT_FALSE(empty.m_image.IsValid());
}

// --- The whole preparation -------------------------------------------------

// One-bit pages pass threshold and dither unchanged, so these tests see the
// geometry of the preparation alone.
const Picture kPage = {
    "XXXXX....",
    "X........",
    "XXX......",
    "X.......X",
};

TEST(AdjustImage, EachRotationCode)
{
    const struct {
        int code;
        Picture want;
    } cases[] = {
        {0, kPage},
        {4, kPage},
        {-1, kPage},
        // 180 degrees.
        {1, {"X.......X", "......XXX", "........X", "....XXXXX"}},
        // 90 degrees: result row n is source column W - 1 - n, top to bottom.
        {2, {"...X", "....", "....", "....", "X...", "X...", "X.X.", "X.X.", "XXXX"}},
        // 270 degrees: result row n is source column n, bottom to top.
        {3, {"XXXX", ".X.X", ".X.X", "...X", "...X", "....", "....", "....", "X..."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "iRotate " << c.code);
        CBaseRender r;
        r.m_iDpi = 203;
        r.m_reg.iRotate = c.code;
        MakeAsciiImage(r.m_image, kPage);
        r.AdjustImage();
        EXPECT_TRUE(PreparedAs(r.m_image, c.want));
    }
}

// Cropping works on the page as it arrived; rotation comes after it.
TEST(AdjustImage, CropsBeforeItRotates)
{
    Picture page(12, std::string(10, '.'));
    page[10][0] = 'X';
    page[10][1] = 'X';
    page[11][0] = 'X';
    CBaseRender r;
    r.m_iDpi = 203;
    r.m_regHalftone.iCropTopEdge = -1;
    r.m_reg.iRotate = 2;
    MakeAsciiImage(r.m_image, page);
    r.AdjustImage();
    Picture want(10, "..");
    want[8] = "X.";
    want[9] = "XX";
    EXPECT_TRUE(PreparedAs(r.m_image, want));
}

TEST(AdjustImage, PaddingIsWhiteAfterEveryStep)
{
    for (unsigned width : {100u, 384u, 401u}) {
        for (int rotate : {0, 2}) {
            SCOPED_TRACE(testing::Message() << "width " << width << " iRotate " << rotate);
            CBaseRender r;
            r.m_iDpi = 203;
            r.m_reg.iRotate = rotate;
            ASSERT_NE(r.m_image.Create(width, 5, 1, 0), nullptr);
            r.m_image.SetPaletteColor(1, 255, 255, 255);
            std::memset(r.m_image.GetBits(0), 0, r.m_image.GetEffWidth() * 5);
            r.AdjustImage();
            EXPECT_TRUE(PreparedAs(r.m_image, rotate ? Picture(width, std::string(5, 'X'))
                                                     : Picture(5, std::string(width, 'X'))));
        }
    }
}

// Mirror, inversion and scaling are set by no printer option; when set
// they act in this order: scale, crop, mirror, invert, rotate.
TEST(AdjustImage, MirrorNegativeAndScaleWhenSet)
{
    CBaseRender r;
    r.m_iDpi = 203;
    r.m_reg.bMirror = true;
    MakeAsciiImage(r.m_image, {"XX...", "X...."});
    r.AdjustImage();
    EXPECT_TRUE(PreparedAs(r.m_image, {"...XX", "....X"}));

    CBaseRender n;
    n.m_iDpi = 203;
    n.m_reg.bNegative = true;
    MakeAsciiImage(n.m_image, {"XX...", "X...."});
    n.AdjustImage();
    // Inverted pixels, yet the padding is white again.
    EXPECT_TRUE(PreparedAs(n.m_image, {"..XXX", ".XXXX"}));

    CBaseRender s;
    s.m_iDpi = 203;
    s.m_reg.iScale = 200;
    MakeAsciiImage(s.m_image, {"X..", ".X."});
    s.AdjustImage();
    EXPECT_TRUE(PreparedAs(s.m_image, {"XX....", "XX....", "..XX..", "..XX.."}));
}

// --- Binarisation of grey and colour pages ---------------------------------

// A one-row grey ramp 0 .. 255 through the fixed threshold: levels above
// the low byte of iThreValue are white.
TEST(AdjustImage, ThresholdUsesTheLowByteOfTheLevel)
{
    std::vector<unsigned char> ramp(256);
    for (unsigned i = 0; i < 256; ++i)
        ramp[i] = static_cast<unsigned char>(i);
    const struct {
        int value;
        size_t black;  // leading ink pixels
    } cases[] = {
        {175, 176},
        {256, 1},   // low byte 0: only level 0 is ink
        {0, 1},
        {431, 176}, // 0x1AF
        {255, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "iThreValue " << c.value);
        CBaseRender r;
        r.m_iDpi = 203;
        r.m_regHalftone.iGrayMethod = 0;
        r.m_regHalftone.iThreValue = c.value;
        ASSERT_TRUE(r.m_image.CreateFromArray(ramp.data(), 256, 1, 8, 256, false));
        r.AdjustImage();
        EXPECT_TRUE(PreparedAs(r.m_image, {std::string(c.black, 'X') +
                                            std::string(256 - c.black, '.')}));
    }
}

// The white-edge crop sees the binarised page: a light grey margin is white
// by then, and a colour page is made grey first.
TEST(AdjustImage, BinarisesBeforeItCrops)
{
    // 24-bit page, 12 x 6: light grey (200) everywhere, pure red (grey 76)
    // in columns 3 .. 5 of rows 2 .. 3.
    std::vector<unsigned char> bgr(12 * 6 * 3, 200);
    for (size_t y = 2; y < 4; ++y)
        for (size_t x = 3; x < 6; ++x) {
            unsigned char* p = &bgr[(y * 12 + x) * 3];
            p[0] = 0;
            p[1] = 0;
            p[2] = 255;
        }
    CBaseRender r;
    r.m_iDpi = 203;
    r.m_regHalftone.iGrayMethod = 0;
    r.m_regHalftone.iCropTopEdge = -1;
    r.m_regHalftone.iCropLeftEdge = -1;
    ASSERT_TRUE(r.m_image.CreateFromArray(bgr.data(), 12, 6, 24, 36, false));
    r.AdjustImage();
    EXPECT_TRUE(PreparedAs(r.m_image, {"XXX......", "XXX......", ".........", "........."}));
}

} // namespace
