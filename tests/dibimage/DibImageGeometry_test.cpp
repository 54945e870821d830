#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "DibImage.h"

namespace {

using testing_support::AsciiPicture;
using testing_support::MakeAsciiImage;
using testing_support::ToAscii;
using Picture = std::vector<std::string>;

// --- Reference definitions on ASCII pictures, pixel by pixel -------------

Picture Rot90(const Picture& p)
{
    const size_t h = p.size(), w = p[0].size();
    Picture out(w, std::string(h, '?'));
    for (size_t ny = 0; ny < w; ++ny)
        for (size_t nx = 0; nx < h; ++nx)
            out[ny][nx] = p[nx][w - 1 - ny];
    return out;
}

Picture Rot270(const Picture& p)
{
    const size_t h = p.size(), w = p[0].size();
    Picture out(w, std::string(h, '?'));
    for (size_t ny = 0; ny < w; ++ny)
        for (size_t nx = 0; nx < h; ++nx)
            out[ny][nx] = p[h - 1 - nx][ny];
    return out;
}

Picture Rot180(const Picture& p)
{
    const size_t h = p.size(), w = p[0].size();
    Picture out(h, std::string(w, '?'));
    for (size_t ny = 0; ny < h; ++ny)
        for (size_t nx = 0; nx < w; ++nx)
            out[ny][nx] = p[h - 1 - ny][w - 1 - nx];
    return out;
}

// Columns x0 .. x1 - 1 of storage rows y0 .. y1 - 1.
Picture Slice(const Picture& p, size_t x0, size_t x1, size_t y0, size_t y1)
{
    Picture out;
    for (size_t y = y0; y < y1; ++y)
        out.push_back(p[y].substr(x0, x1 - x0));
    return out;
}

// A one-bit image with random pixels and random garbage in the row padding,
// so that a fast path leaking padding into pixels (or pixels into padding)
// shows.
void MakeRandomOneBit(CDibImage& img, unsigned w, unsigned h, std::mt19937& rng)
{
    ASSERT_NE(img.Create(w, h, 1, 0), nullptr);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned i = 0; i < img.GetEffWidth(); ++i)
            img.GetBits(y)[i] = static_cast<unsigned char>(rng());
}

// The pixels must match the picture, and the padding bits of every row must
// be clear, as a pixel-by-pixel copy into a fresh (cleared) image leaves them.
::testing::AssertionResult OneBitEquals(const CDibImage& img, const Picture& want)
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
    const unsigned w = img.GetWidth();
    for (unsigned y = 0; y < img.GetHeight(); ++y)
        for (unsigned x = w; x < img.GetEffWidth() * 8; ++x)
            if ((img.GetBits(y)[x / 8] >> (7 - x % 8)) & 1)
                return ::testing::AssertionFailure() << "padding bit " << x << " of row " << y
                                                     << " is set";
    return ::testing::AssertionSuccess();
}

// Distinct pixel values at every depth: the index, or for 24 bits the
// colour packed as blue | green << 8 | red << 16.
unsigned PixelValue(const CDibImage& img, long x, long y)
{
    if (img.GetBpp() == 24) {
        const tagRGBQUAD c = img.GetPixelColor(x, y, false);
        return c.rgbBlue | c.rgbGreen << 8 | c.rgbRed << 16;
    }
    return img.GetPixelIndex(x, y);
}

void MakeGradient(CDibImage& img, unsigned w, unsigned h, unsigned bpp)
{
    ASSERT_NE(img.Create(w, h, bpp, 0), nullptr);
    if (bpp < 24) {
        img.SetGrayPalette();
    }
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            if (bpp == 24) {
                tagRGBQUAD c = {static_cast<unsigned char>(x), static_cast<unsigned char>(y),
                                static_cast<unsigned char>(x * 7 + y), 0};
                img.SetPixelColor(x, y, c, false);
            } else {
                img.SetPixelIndex(x, y, static_cast<unsigned char>(x * 5 + y * 3 + 1));
            }
        }
}

const Picture kFlag = {
    "XXXXX..",
    "X......",
    "XXX....",
    "X.....X",
};

// --- Rotation ----------------------------------------------------------

TEST(DibImageRotate, QuarterTurnsAreLosslessOnAPicture)
{
    CDibImage img(0);
    MakeAsciiImage(img, kFlag);
    ASSERT_TRUE(img.Rotate(90.0f, nullptr));
    EXPECT_TRUE(OneBitEquals(img, Picture({
                                      "...X",
                                      "....",
                                      "X...",
                                      "X...",
                                      "X.X.",
                                      "X.X.",
                                      "XXXX",
                                  })));

    MakeAsciiImage(img, kFlag);
    ASSERT_TRUE(img.Rotate(270.0f, nullptr));
    EXPECT_TRUE(OneBitEquals(img, Picture({
                                      "XXXX",
                                      ".X.X",
                                      ".X.X",
                                      "...X",
                                      "...X",
                                      "....",
                                      "X...",
                                  })));

    MakeAsciiImage(img, kFlag);
    ASSERT_TRUE(img.Rotate(180.0f, nullptr));
    EXPECT_TRUE(OneBitEquals(img, Picture({
                                      "X.....X",
                                      "....XXX",
                                      "......X",
                                      "..XXXXX",
                                  })));
}

// The bit-level paths against the pixel-by-pixel definition, on random
// images whose widths and heights straddle byte and word boundaries.
TEST(DibImageRotate, OneBitTurnsMatchThePixelDefinitionOnRandomImages)
{
    std::mt19937 rng(20240611);
    const unsigned widths[] = {1, 3, 7, 8, 9, 13, 31, 33, 63, 65, 100, 401};
    const unsigned heights[] = {1, 2, 7, 9, 17, 40};
    for (unsigned w : widths)
        for (unsigned h : heights) {
            SCOPED_TRACE(testing::Message() << w << " x " << h);
            CDibImage src(0);
            MakeRandomOneBit(src, w, h, rng);
            const Picture p = ToAscii(src);

            CDibImage out(0);
            ASSERT_TRUE(src.Rotate(90.0f, &out));
            EXPECT_TRUE(OneBitEquals(out, Rot90(p)));
            ASSERT_TRUE(src.Rotate(270.0f, &out));
            EXPECT_TRUE(OneBitEquals(out, Rot270(p)));
            ASSERT_TRUE(src.Rotate180(&out));
            EXPECT_TRUE(OneBitEquals(out, Rot180(p)));
            // The source is left as it was.
            EXPECT_EQ(ToAscii(src), p);
        }
}

TEST(DibImageRotate, RoundTripsRestoreTheImage)
{
    std::mt19937 rng(7);
    for (unsigned w : {5u, 12u, 37u}) {
        SCOPED_TRACE(w);
        CDibImage img(0);
        MakeRandomOneBit(img, w, 11, rng);
        const Picture p = ToAscii(img);

        ASSERT_TRUE(img.Rotate(90.0f));
        ASSERT_TRUE(img.Rotate(270.0f));
        EXPECT_EQ(ToAscii(img), p) << "90 then 270";

        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(img.Rotate(90.0f));
        EXPECT_EQ(ToAscii(img), p) << "four quarter turns";

        CDibImage viaRotate(0), viaRotate180(0);
        ASSERT_TRUE(img.Rotate(180.0f, &viaRotate));
        ASSERT_TRUE(img.Rotate180(&viaRotate180));
        EXPECT_EQ(ToAscii(viaRotate), ToAscii(viaRotate180));
        EXPECT_EQ(ToAscii(viaRotate), Rot180(p));
    }
}

TEST(DibImageRotate, QuarterTurnsAndHalfTurnAtEveryIndexedAndColourDepth)
{
    for (unsigned bpp : {4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        CDibImage src(0);
        MakeGradient(src, 6, 4, bpp);
        const long W = 6, H = 4;

        CDibImage r90(0), r270(0), r180(0);
        ASSERT_TRUE(src.Rotate(90.0f, &r90));
        ASSERT_TRUE(src.Rotate(270.0f, &r270));
        ASSERT_TRUE(src.Rotate(180.0f, &r180));
        ASSERT_EQ(r90.GetWidth(), 4u);
        ASSERT_EQ(r90.GetHeight(), 6u);
        ASSERT_EQ(r270.GetWidth(), 4u);
        ASSERT_EQ(r180.GetWidth(), 6u);
        EXPECT_EQ(r90.GetBpp(), bpp);
        for (long ny = 0; ny < W; ++ny)
            for (long nx = 0; nx < H; ++nx) {
                EXPECT_EQ(PixelValue(r90, nx, ny), PixelValue(src, W - 1 - ny, nx));
                EXPECT_EQ(PixelValue(r270, nx, ny), PixelValue(src, ny, H - 1 - nx));
            }
        for (long y = 0; y < H; ++y)
            for (long x = 0; x < W; ++x)
                EXPECT_EQ(PixelValue(r180, x, y), PixelValue(src, W - 1 - x, H - 1 - y));
    }
}

TEST(DibImageRotate, CongruentAnglesAndTheGeneralPath)
{
    std::mt19937 rng(99);
    CDibImage src(0);
    MakeRandomOneBit(src, 19, 6, rng);
    const Picture p = ToAscii(src);

    // Angles one or more whole turns away take the same exact paths.
    const struct {
        float angle;
        Picture want;
    } cases[] = {
        {450.0f, Rot90(p)},  {-270.0f, Rot90(p)}, {-90.0f, Rot270(p)},
        {630.0f, Rot270(p)}, {540.0f, Rot180(p)}, {-180.0f, Rot180(p)},
        {0.0f, p},           {360.0f, p},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.angle);
        CDibImage out(0);
        ASSERT_TRUE(src.Rotate(c.angle, &out));
        EXPECT_EQ(ToAscii(out), c.want);
    }

    // Any other angle: the bounding box of the turned corners.
    CDibImage square(0);
    MakeRandomOneBit(square, 10, 10, rng);
    ASSERT_TRUE(square.Rotate(45.0f));
    EXPECT_EQ(square.GetWidth(), 14u);
    EXPECT_EQ(square.GetHeight(), 14u);
    EXPECT_EQ(square.GetBpp(), 1);

    CDibImage empty(0);
    EXPECT_FALSE(empty.Rotate(90.0f));
    EXPECT_FALSE(empty.Rotate180());
    EXPECT_FALSE(src.Rotate(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(ToAscii(src), p);
}

TEST(DibImageRotate, TheAlphaPlaneTurnsWithThePixels)
{
    CDibImage src(0);
    MakeGradient(src, 3, 2, 24);
    ASSERT_TRUE(src.AlphaCreate());
    for (long y = 0; y < 2; ++y)
        for (long x = 0; x < 3; ++x)
            src.AlphaSet(x, y, static_cast<unsigned char>(10 * y + x));

    CDibImage r90(0), r180(0);
    ASSERT_TRUE(src.Rotate(90.0f, &r90));
    ASSERT_TRUE(src.Rotate180(&r180));
    ASSERT_TRUE(r90.AlphaIsValid());
    for (long ny = 0; ny < 3; ++ny)
        for (long nx = 0; nx < 2; ++nx)
            EXPECT_EQ(r90.AlphaGet(nx, ny), src.AlphaGet(2 - ny, nx));
    EXPECT_EQ(r180.AlphaGet(0, 0), src.AlphaGet(2, 1));
    EXPECT_EQ(r180.AlphaGet(2, 1), src.AlphaGet(0, 0));
}

// A result too large to create leaves the image as it was and says why,
// instead of replacing it by an empty image and reporting success.
TEST(DibImageRotate, AResultTooLargeToCreateLeavesTheImage)
{
    CDibImage img(0);
    ASSERT_NE(img.Create(100000, 100, 1, 0), nullptr);
    img.SetPaletteColor(1, 255, 255, 255);
    EXPECT_FALSE(img.Rotate(45.0f));
    EXPECT_STREQ(img.GetLastError(), "DIBIMAGE_MAX_MEMORY exceeded");
    EXPECT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 100000u);
    EXPECT_EQ(img.GetHeight(), 100u);
}

// --- Mirror --------------------------------------------------------------

TEST(DibImageMirror, FlipsEveryRowAtEveryDepth)
{
    CDibImage img(0);
    MakeAsciiImage(img, {"X......."});
    ASSERT_TRUE(img.Mirror(false, true));
    EXPECT_TRUE(OneBitEquals(img, Picture({".......X"})));

    MakeAsciiImage(img, {"XX.X.........", ".X..........X"});
    ASSERT_TRUE(img.Mirror(false, true));
    EXPECT_EQ(ToAscii(img), Picture({".........X.XX", "X..........X."}));

    MakeAsciiImage(img, {"X", "."});
    ASSERT_TRUE(img.Mirror(false, true));
    EXPECT_EQ(ToAscii(img), Picture({"X", "."}));

    for (unsigned bpp : {4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        CDibImage src(0), m(0);
        MakeGradient(src, 5, 3, bpp);
        m.Copy(src);
        ASSERT_TRUE(m.AlphaCreate());
        m.AlphaSet(0, 1, 7);
        ASSERT_TRUE(m.Mirror(false, true));
        for (long y = 0; y < 3; ++y)
            for (long x = 0; x < 5; ++x)
                EXPECT_EQ(PixelValue(m, x, y), PixelValue(src, 4 - x, y));
        EXPECT_EQ(m.AlphaGet(4, 1), 7);
        EXPECT_EQ(m.AlphaGet(0, 1), 255);
    }

    CDibImage empty(0);
    EXPECT_FALSE(empty.Mirror(false, true));
}

// --- Crop --------------------------------------------------------------

TEST(DibImageCrop, RectanglesMeasureTopAndBottomFromTheEndOfStorageAndClamp)
{
    const Picture p = {
        "X.........",  // storage row 0
        ".X........",
        "..X.......",
        "...X......",
        "....X.....",
        ".....X....",  // storage row 5
    };
    const long H = 6;
    const struct {
        int left, top, right, bottom;
        size_t x0, x1, y0, y1;  // expected columns and storage rows kept
    } cases[] = {
        {0, 0, 10, 6, 0, 10, 0, 6},     // the whole image
        {2, 1, 7, 4, 2, 7, H - 4, H - 1},
        {3, 0, 5, 1, 3, 5, 5, 6},       // top 0, bottom 1: the last storage row
        {-5, -3, 99, 99, 0, 10, 0, 6},  // clamped to the image on every side
        {7, 4, 2, 1, 2, 7, 2, 5},       // swapped sides are put in order
        {9, 5, 10, 6, 9, 10, 0, 1},     // a single pixel
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << ", " << c.top << ", " << c.right << ", "
                                        << c.bottom);
        CDibImage img(0), out(0);
        MakeAsciiImage(img, p);
        ASSERT_TRUE(img.Crop(c.left, c.top, c.right, c.bottom, &out));
        EXPECT_TRUE(OneBitEquals(out, Slice(p, c.x0, c.x1, c.y0, c.y1)));
        EXPECT_EQ(ToAscii(img), p) << "a crop into a destination leaves the source";

        tagRECT r = {c.left, c.top, c.right, c.bottom};
        ASSERT_TRUE(img.Crop(r));
        EXPECT_EQ(ToAscii(img), Slice(p, c.x0, c.x1, c.y0, c.y1));
    }
}

TEST(DibImageCrop, EmptyRectanglesFailAndChangeNothing)
{
    const Picture p = {"X..X", ".XX.", "X..X"};
    const struct {
        int left, top, right, bottom;
    } cases[] = {
        {2, 0, 2, 3},    // left = right
        {0, 1, 4, 1},    // top = bottom
        {0, 3, 4, 7},    // both clamp to the end of storage
        {-4, 0, -1, 3},  // both clamp to column 0
        {4, 0, 9, 3},    // both clamp to the width
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << ", " << c.top << ", " << c.right << ", "
                                        << c.bottom);
        CDibImage img(0), out(0);
        MakeAsciiImage(img, p);
        MakeAsciiImage(out, {"X"});
        EXPECT_FALSE(img.Crop(c.left, c.top, c.right, c.bottom, &out));
        EXPECT_EQ(ToAscii(img), p);
        EXPECT_EQ(ToAscii(out), Picture({"X"}));
        EXPECT_STREQ(img.GetLastError(), "");
    }
    CDibImage empty(0);
    EXPECT_FALSE(empty.Crop(0, 0, 1, 1));
}

// Every start column within two bytes, against the pixel definition.
TEST(DibImageCrop, OneBitStartColumnsNotOnAByteBoundary)
{
    std::mt19937 rng(424242);
    for (unsigned w : {9u, 23u, 64u, 77u}) {
        CDibImage src(0);
        MakeRandomOneBit(src, w, 5, rng);
        const Picture p = ToAscii(src);
        for (unsigned x0 = 0; x0 < 16 && x0 < w; ++x0)
            for (unsigned x1 : {x0 + 1, x0 + 7, x0 + 8, x0 + 9, w}) {
                if (x1 > w || x1 <= x0)
                    continue;
                SCOPED_TRACE(testing::Message() << "width " << w << " columns " << x0 << ".."
                                                << x1);
                CDibImage out(0);
                ASSERT_TRUE(src.Crop(static_cast<int>(x0), 1, static_cast<int>(x1), 4, &out));
                EXPECT_TRUE(OneBitEquals(out, Slice(p, x0, x1, 1, 4)));
            }
    }
}

TEST(DibImageCrop, IndexedAndColourDepthsKeepPaletteTransparencyAndAlpha)
{
    for (unsigned bpp : {4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        CDibImage src(0), out(0);
        MakeGradient(src, 9, 5, bpp);
        ASSERT_TRUE(src.AlphaCreate());
        src.AlphaSet(3, 2, 9);
        if (bpp < 24) {
            src.SetPaletteColor(2, 10, 20, 30);
            src.SetTransIndex(2);
        }
        // Columns 3 .. 7, storage rows 1 .. 3.
        ASSERT_TRUE(src.Crop(3, 1, 8, 4, &out));
        ASSERT_EQ(out.GetWidth(), 5u);
        ASSERT_EQ(out.GetHeight(), 3u);
        EXPECT_EQ(out.GetBpp(), bpp);
        for (long y = 0; y < 3; ++y)
            for (long x = 0; x < 5; ++x)
                EXPECT_EQ(PixelValue(out, x, y), PixelValue(src, x + 3, y + 1));
        EXPECT_EQ(out.AlphaGet(0, 1), 9);
        if (bpp < 24) {
            EXPECT_EQ(out.GetTransIndex(), 2);
            EXPECT_EQ(out.GetPaletteColor(2).rgbRed, 10);
        }
    }
}

// --- Resample ----------------------------------------------------------

TEST(DibImageResample, NearestPixelPicksTruncatedSourceColumns)
{
    Picture row(1);
    for (int x = 0; x < 200; ++x)
        row[0] += (x % 3 == 0) ? 'X' : '.';
    CDibImage src(0), up(0), down(0);
    MakeAsciiImage(src, row);

    ASSERT_TRUE(src.Resample(300, 1, 1, &up));
    ASSERT_EQ(up.GetBpp(), 1);
    ASSERT_EQ(up.GetWidth(), 300u);
    EXPECT_EQ(up.GetPaletteColor(1).rgbRed, 255);
    EXPECT_EQ(up.GetPaletteColor(0).rgbRed, 0);
    const Picture upPix = ToAscii(up);
    for (int x = 0; x < 300; ++x) {
        const int sx = static_cast<int>(static_cast<float>(x) * (200.0f / 300.0f));
        ASSERT_EQ(upPix[0][static_cast<size_t>(x)], row[0][static_cast<size_t>(sx)]) << x;
    }
    EXPECT_EQ(upPix[0].substr(0, 6), std::string({row[0][0], row[0][0], row[0][1], row[0][2],
                                                  row[0][2], row[0][3]}));

    ASSERT_TRUE(src.Resample(100, 1, 1, &down));
    for (size_t x = 0; x < 100; ++x)
        ASSERT_EQ(ToAscii(down)[0][x], row[0][2 * x]) << x;

    // Two rows become four: each source row twice.
    CDibImage tall(0);
    MakeAsciiImage(tall, {"X.X", ".X."});
    ASSERT_TRUE(tall.Resample(3, 4, 1));
    EXPECT_EQ(ToAscii(tall), Picture({"X.X", "X.X", ".X.", ".X."}));
}

TEST(DibImageResample, SameSizeZeroSizeAndImagesWithoutPixels)
{
    CDibImage img(0), copy(0);
    MakeAsciiImage(img, {"X..", ".X."});
    unsigned char* before = img.GetBits(0);
    EXPECT_TRUE(img.Resample(3, 2, 1));
    EXPECT_EQ(img.GetBits(0), before);
    EXPECT_TRUE(img.Resample(3, 2, 1, &copy));
    EXPECT_EQ(ToAscii(copy), ToAscii(img));
    EXPECT_FALSE(img.Resample(0, 2, 1));
    EXPECT_FALSE(img.Resample(3, 0, 1));
    EXPECT_FALSE(img.Resample(1000000, 1000000, 1));
    EXPECT_STREQ(img.GetLastError(), "DIBIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(ToAscii(img), Picture({"X..", ".X."}));

    // No pixels: a one-bit result of the requested size, every index 0.
    CDibImage empty(0);
    ASSERT_TRUE(empty.Resample(4, 2, 1));
    EXPECT_EQ(empty.GetBpp(), 1);
    EXPECT_EQ(ToAscii(empty), Picture({"XXXX", "XXXX"}));
}

TEST(DibImageResample, BilinearBicubicAndAreaAveragingLightly)
{
    // Bilinear: two pixels 0 and 200 stretched to four.
    CDibImage grey(0);
    ASSERT_NE(grey.Create(2, 1, 8, 0), nullptr);
    grey.SetGrayPalette();
    grey.SetPixelIndex(1, 0, 200);
    CDibImage lin(0);
    ASSERT_TRUE(grey.Resample(4, 1, 3, &lin));
    EXPECT_EQ(lin.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(lin.GetPixelIndex(1, 0), 100);
    EXPECT_EQ(lin.GetPixelIndex(2, 0), 200);
    EXPECT_EQ(lin.GetPixelIndex(3, 0), 200);

    // Bicubic: the B-spline weights sum to one, so a flat image stays flat
    // (up to the truncation of the single-precision sum).
    CDibImage flat(0), cubic(0);
    ASSERT_NE(flat.Create(5, 4, 24, 0), nullptr);
    flat.Clear(120);
    ASSERT_TRUE(flat.Resample(8, 7, 2, &cubic));
    ASSERT_EQ(cubic.GetWidth(), 8u);
    for (long y = 0; y < 7; ++y)
        for (long x = 0; x < 8; ++x) {
            const tagRGBQUAD c = cubic.GetPixelColor(x, y, false);
            EXPECT_NEAR(c.rgbGreen, 120, 1);
        }
    // A step is smoothed: values between the two levels.
    CDibImage step(0), smooth(0);
    ASSERT_NE(step.Create(4, 1, 8, 0), nullptr);
    step.SetGrayPalette();
    step.SetPixelIndex(2, 0, 255);
    step.SetPixelIndex(3, 0, 255);
    ASSERT_TRUE(step.Resample(8, 1, 2, &smooth));
    EXPECT_LT(smooth.GetPixelIndex(0, 0), smooth.GetPixelIndex(4, 0));
    EXPECT_GT(smooth.GetPixelIndex(4, 0), 0);
    EXPECT_LT(smooth.GetPixelIndex(4, 0), 255);

    // Area averaging (24 bits, shrinking): each result pixel is the mean of
    // the source area it covers, by area.
    CDibImage colour(0), avg(0);
    ASSERT_NE(colour.Create(3, 2, 24, 0), nullptr);
    const unsigned char blues[2][3] = {{0, 30, 90}, {60, 90, 150}};
    for (long y = 0; y < 2; ++y)
        for (long x = 0; x < 3; ++x)
            colour.SetPixelColor(x, y, tagRGBQUAD{blues[y][x], 0, 0, 0}, false);
    ASSERT_TRUE(colour.Resample(2, 1, 3, &avg));
    // Left result pixel: 1.5 columns by 2 rows, (0 + 60) + (30 + 90) / 2 over 3.
    EXPECT_EQ(avg.GetPixelColor(0, 0, false).rgbBlue, 40);
    // Right: (30 + 90) / 2 + (90 + 150) over 3.
    EXPECT_EQ(avg.GetPixelColor(1, 0, false).rgbBlue, 100);
}

TEST(DibImageResample, AlphaFollowsThePixels)
{
    CDibImage src(0), out(0);
    MakeAsciiImage(src, {"X.", ".X"});
    ASSERT_TRUE(src.AlphaCreate());
    src.AlphaSet(1, 0, 50);
    ASSERT_TRUE(src.Resample(4, 2, 1, &out));
    ASSERT_TRUE(out.AlphaIsValid());
    EXPECT_EQ(out.AlphaGet(2, 0), 50);
    EXPECT_EQ(out.AlphaGet(3, 0), 50);
    EXPECT_EQ(out.AlphaGet(1, 0), 255);

    ASSERT_TRUE(src.Resample(4, 2, 3, &out));
    ASSERT_TRUE(out.AlphaIsValid());
    EXPECT_EQ(out.AlphaGet(2, 0), 50);
}

} // namespace
