#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AsciiImage.h"
#include "DibImage.h"

namespace {

const char kZeroSize[] = "CDibImage::Create : width and height must be greater than zero";
const char kMaxMemory[] = "DIBIMAGE_MAX_MEMORY exceeded";

TEST(DibImage, CreateLaysOutHeaderPaletteAndPaddedRows)
{
    struct Case {
        unsigned width, bpp;
        unsigned storedBpp, rowBytes, colours;
    };
    const Case cases[] = {
        {1, 1, 1, 4, 2},     {33, 1, 1, 8, 2},     {576, 1, 1, 72, 2},   {3, 24, 24, 12, 0},
        {5, 2, 4, 4, 16},    {9, 8, 8, 12, 256},   {3, 32, 24, 12, 0},   {3, 16, 24, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << " bpp " << c.bpp);
        CDibImage img(0);
        ASSERT_NE(img.Create(c.width, 7, c.bpp, 0), nullptr);
        EXPECT_EQ(img.GetBpp(), c.storedBpp);
        EXPECT_EQ(img.GetEffWidth(), c.rowBytes);
        EXPECT_EQ(img.GetNumColors(), c.colours);
        EXPECT_EQ(img.GetSize(), 40 + c.colours * 4 + c.rowBytes * 7);
        // Storage row 0 follows header and palette; rows are stride apart.
        EXPECT_EQ(img.GetBits(1) - img.GetBits(0), static_cast<long>(c.rowBytes));
        EXPECT_EQ(img.GetBits(7), nullptr);
        // New storage is cleared.
        for (unsigned i = 0; i < c.rowBytes * 7; ++i)
            ASSERT_EQ(img.GetBits(0)[i], 0);
    }
}

TEST(DibImage, CreateRefusesZeroSizeAndTheMemoryLimitInclusive)
{
    CDibImage img(0);
    EXPECT_EQ(img.Create(0, 5, 8, 0), nullptr);
    EXPECT_STREQ(img.GetLastError(), kZeroSize);
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.Create(5, 0, 8, 0), nullptr);
    EXPECT_STREQ(img.GetLastError(), kZeroSize);

    // Exactly 2^28 bytes of pixels passes; one more column does not.
    EXPECT_TRUE(CDibImage::CanCreate(16384, 16384, 8));
    EXPECT_FALSE(CDibImage::CanCreate(16385, 16384, 8));
    EXPECT_EQ(img.Create(16385, 16384, 8, 0), nullptr);
    EXPECT_STREQ(img.GetLastError(), kMaxMemory);
    EXPECT_FALSE(img.IsValid());
    // A one-pixel-wide page of 2^31 rows passes the nominal test but would
    // need 8 GiB of padded rows: refused too.
    EXPECT_FALSE(CDibImage::CanCreate(1, 1u << 31, 1));
}

TEST(DibImage, CreateFromArrayCopiesRowsGivesGreyPaletteAndFlips)
{
    // 1 bit: 10 pixels, 2 bytes a line in the source, 4 in storage.
    unsigned char src1[] = {0xA5, 0xC0, 0x0F, 0x40};
    CDibImage img(0);
    ASSERT_TRUE(img.CreateFromArray(src1, 10, 2, 1, 2, false));
    EXPECT_EQ(img.GetBits(0)[0], 0xA5);
    EXPECT_EQ(img.GetBits(1)[0], 0x0F);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(9, 1), 1);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 255);

    ASSERT_TRUE(img.CreateFromArray(src1, 10, 2, 1, 2, true));
    EXPECT_EQ(img.GetBits(1)[0], 0xA5); // first source row lands last

    // 4 bit: high nibble first; palette 0, 17, ..., 255.
    unsigned char src4[] = {0x1F, 0x80};
    ASSERT_TRUE(img.CreateFromArray(src4, 3, 1, 4, 2, false));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 15);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 8);
    EXPECT_EQ(img.GetPaletteColor(15).rgbGreen, 255);
    EXPECT_EQ(img.GetPaletteColor(1).rgbGreen, 17);
    EXPECT_FALSE(img.IsGrayScale());

    // 8 bit with a source line longer than the stored row.
    std::vector<unsigned char> src8 = {1, 2, 3, 4, 99, 99, 5, 6, 7, 8, 99, 99};
    ASSERT_TRUE(img.CreateFromArray(src8.data(), 3, 2, 8, 6, false));
    EXPECT_EQ(img.GetEffWidth(), 4u);
    EXPECT_EQ(img.GetBits(1)[0], 5);
    EXPECT_EQ(img.GetBits(1)[3], 8);
    EXPECT_TRUE(img.IsGrayScale());

    // 24 bit: blue, green, red.
    unsigned char src24[] = {10, 20, 30, 40, 50, 60};
    ASSERT_TRUE(img.CreateFromArray(src24, 2, 1, 24, 6, false));
    tagRGBQUAD c = img.GetPixelColor(1, 0);
    EXPECT_EQ(c.rgbBlue, 40);
    EXPECT_EQ(c.rgbRed, 60);

    // 32 bit: stored as 24 bits, the fourth bytes go to the alpha plane.
    unsigned char src32[] = {10, 20, 30, 200, 40, 50, 60, 100};
    ASSERT_TRUE(img.CreateFromArray(src32, 2, 1, 32, 8, false));
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_TRUE(img.AlphaIsValid());
    EXPECT_EQ(img.AlphaGet(0, 0), 200);
    EXPECT_EQ(img.AlphaGet(1, 0), 100);
    EXPECT_EQ(img.GetBits(0)[3], 40);

    EXPECT_FALSE(img.CreateFromArray(src32, 2, 1, 2, 8, false));
    EXPECT_FALSE(img.CreateFromArray(src32, 2, 1, 16, 8, false));
    EXPECT_FALSE(img.CreateFromArray(nullptr, 2, 1, 8, 8, false));
}

TEST(DibImage, CopyDuplicatesAndEmptySourceEmpties)
{
    CDibImage a(0);
    testing_support::MakeAsciiImage(a, {"X..X.", ".XX.X"});
    a.SetXDPI(203);
    CDibImage b(0);
    b = a;
    EXPECT_EQ(testing_support::ToAscii(b), testing_support::ToAscii(a));
    EXPECT_NE(b.GetBits(0), a.GetBits(0));
    EXPECT_EQ(b.GetXDPI(), 203);
    EXPECT_EQ(std::memcmp(b.GetBits(0), a.GetBits(0), a.GetEffWidth() * 2), 0);

    CDibImage empty(0);
    b = empty;
    EXPECT_FALSE(b.IsValid());
    EXPECT_STREQ(b.GetLastError(), kZeroSize);
}

TEST(DibImage, TransferMovesTheBlockAndEmptiesTheSource)
{
    CDibImage a(0), b(0);
    testing_support::MakeAsciiImage(a, {"X.", ".X"});
    testing_support::MakeAsciiImage(b, {"XXX"});
    unsigned char* bits = a.GetBits(0);
    ASSERT_TRUE(b.Transfer(a, true));
    EXPECT_EQ(b.GetBits(0), bits);
    EXPECT_EQ(testing_support::ToAscii(b), (std::vector<std::string>{"X.", ".X"}));
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(a.GetWidth(), 0u);
}

TEST(DibImage, ResolutionAndPixelsPerMetre)
{
    CDibImage img(0);
    img.Create(4, 4, 1, 0);
    const struct {
        int dpi, stored, ppm;
    } cases[] = {{203, 203, 7992}, {300, 300, 11811}, {0, 96, 3780}, {-5, 96, 3780}};
    for (const auto& c : cases) {
        img.SetXDPI(c.dpi);
        img.SetYDPI(c.dpi);
        EXPECT_EQ(img.GetXDPI(), c.stored);
        EXPECT_EQ(img.GetHeader()->biXPelsPerMeter, c.ppm);
        EXPECT_EQ(img.GetHeader()->biYPelsPerMeter, c.ppm);
    }
}

TEST(DibImage, PaletteNearestIndexAndOutOfRangePixels)
{
    CDibImage img(0);
    testing_support::MakeAsciiImage(img, {"X.......X", "........."});
    const tagRGBQUAD white = {255, 255, 255, 0}, grey = {128, 128, 128, 0}, dark = {127, 127, 127, 0};
    EXPECT_EQ(img.GetNearestIndex(white), 1);
    EXPECT_EQ(img.GetNearestIndex(grey), 1);
    EXPECT_EQ(img.GetNearestIndex(dark), 0);

    // Outside the image the first byte of storage is the index; a one-bit
    // write keeps its low bit (pixel 7 of row 0).
    const unsigned char first = img.GetBits(0)[0];
    EXPECT_EQ(img.GetPixelIndex(-1, 0), first);
    img.SetTransIndex(1);
    EXPECT_EQ(img.GetPixelIndex(100, 100), 1);

    img.SetPixelIndex(3, 1, 0);
    img.SetPixelIndex(30, 1, 0); // outside: ignored
    EXPECT_EQ(testing_support::ToAscii(img)[1], "...X.....");
}

TEST(DibImage, ClearNormalisesTheFillByDepth)
{
    CDibImage img(0);
    img.Create(3, 2, 1, 0);
    img.Clear(7);
    EXPECT_EQ(img.GetBits(1)[0], 0xFF);
    img.Create(3, 2, 4, 0);
    img.Clear(0x12);
    EXPECT_EQ(img.GetBits(0)[0], 0x22);
}

} // namespace
