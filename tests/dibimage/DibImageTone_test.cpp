#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "AsciiImage.h"
#include "DibImage.h"

namespace {

using testing_support::AsciiPicture;
using testing_support::MakeAsciiImage;
using testing_support::ToAscii;

using Levels = std::vector<uint8_t>;

// An 8-bit grey image (grey ramp palette) from row-major levels.
void MakeGray(CDibImage& img, unsigned w, unsigned h, Levels levels)
{
    ASSERT_EQ(levels.size(), std::size_t{w} * h);
    ASSERT_TRUE(img.CreateFromArray(levels.data(), w, h, 8, w, false));
}

// A 24-bit image whose pixels are grey, each channel = level.
void MakeTrueColourGray(CDibImage& img, unsigned w, unsigned h, const Levels& levels)
{
    ASSERT_TRUE(img.Create(w, h, 24, 0));
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const uint8_t v = levels[y * w + x];
            img.SetPixelColor(x, y, tagRGBQUAD{v, v, v, 0});
        }
}

// The same levels as a 4-bit image with the 16-step grey ramp; every level
// must be a multiple of 17.
void MakeNibbleGray(CDibImage& img, unsigned w, unsigned h, const Levels& levels)
{
    ASSERT_TRUE(img.Create(w, h, 4, 0));
    img.SetGrayPalette();
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            ASSERT_EQ(levels[y * w + x] % 17, 0);
            img.SetPixelIndex(x, y, static_cast<unsigned char>(levels[y * w + x] / 17));
        }
}

Levels PixelLevels(const CDibImage& img)
{
    Levels out;
    for (unsigned y = 0; y < img.GetHeight(); ++y)
        for (unsigned x = 0; x < img.GetWidth(); ++x)
            out.push_back(img.GetPixelIndex(x, y));
    return out;
}

// A w x h picture of `base` with the listed (x, y) pixels the other colour.
std::vector<std::string> Picture(unsigned w, unsigned h, char base,
                                 std::vector<std::pair<unsigned, unsigned>> odd = {})
{
    std::vector<std::string> rows(h, std::string(w, base));
    for (const auto& p : odd)
        rows[p.second][p.first] = base == 'X' ? '.' : 'X';
    return rows;
}

void ExpectBlackWhite(const CDibImage& img)
{
    ASSERT_EQ(img.GetBpp(), 1);
    const tagRGBQUAD black = img.GetPaletteColor(0);
    const tagRGBQUAD white = img.GetPaletteColor(1);
    EXPECT_EQ(std::vector<int>({black.rgbBlue, black.rgbGreen, black.rgbRed, black.rgbReserved}),
              std::vector<int>({0, 0, 0, 0}));
    EXPECT_EQ(std::vector<int>({white.rgbBlue, white.rgbGreen, white.rgbRed, white.rgbReserved}),
              std::vector<int>({255, 255, 255, 0}));
}

std::vector<std::string> Dithered(unsigned w, unsigned h, const Levels& levels, int method)
{
    CDibImage img;
    MakeGray(img, w, h, levels);
    EXPECT_TRUE(img.Dither(method));
    ExpectBlackWhite(img);
    return ToAscii(img);
}

Levels Flat(unsigned w, unsigned h, uint8_t level) { return Levels(std::size_t{w} * h, level); }

// 9 x 4 diagonal ramp, level (x + y) x 255 / 11: every method gives a
// different picture on it.
constexpr unsigned kRampW = 9, kRampH = 4;
const Levels kRamp = {
    0,  23, 46,  69,  92,  115, 139, 162, 185,
    23, 46, 69,  92,  115, 139, 162, 185, 208,
    46, 69, 92,  115, 139, 162, 185, 208, 231,
    69, 92, 115, 139, 162, 185, 208, 231, 255};

// ---------------------------------------------------------------------------

TEST(ToneGrayScale, TrueColourUsesIntegerWeights)
{
    // blue, green, red -> grey
    const std::vector<std::pair<tagRGBQUAD, int>> cases = {
        {{0, 0, 255, 0}, 76},    // red:   255 x 306 >> 10
        {{0, 255, 0, 0}, 149},   // green: 255 x 601 >> 10
        {{255, 0, 0, 0}, 29},    // blue:  255 x 117 >> 10
        {{255, 255, 255, 0}, 255},
        {{10, 20, 30, 0}, 21},   // (1170 + 12020 + 9180) >> 10
    };
    CDibImage img;
    ASSERT_TRUE(img.Create(static_cast<unsigned>(cases.size()), 1, 24, 0));
    img.SetXDPI(203);
    for (unsigned x = 0; x < cases.size(); ++x)
        img.SetPixelColor(x, 0, cases[x].first);

    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_EQ(img.GetXDPI(), 203) << "the information record is carried over";
    for (unsigned x = 0; x < cases.size(); ++x)
        EXPECT_EQ(img.GetPixelIndex(x, 0), cases[x].second) << "pixel " << x;
}

TEST(ToneGrayScale, IndexedDepthsMapThroughThePalette)
{
    // Index 0 red, index 1 green; width 11 is not a whole number of bytes at
    // 1 or 4 bits per pixel.
    for (unsigned bpp : {1u, 4u, 8u}) {
        SCOPED_TRACE("bpp " + std::to_string(bpp));
        CDibImage img;
        ASSERT_TRUE(img.Create(11, 2, bpp, 0));
        img.SetPaletteColor(0, 255, 0, 0);
        img.SetPaletteColor(1, 0, 255, 0);
        Levels expected;
        for (unsigned y = 0; y < 2; ++y)
            for (unsigned x = 0; x < 11; ++x) {
                const bool green = (x + y) % 3 == 0;
                img.SetPixelIndex(x, y, green ? 1 : 0);
                expected.push_back(green ? 149 : 76);
            }
        ASSERT_TRUE(img.GrayScale());
        EXPECT_EQ(img.GetBpp(), 8);
        EXPECT_TRUE(img.IsGrayScale());
        EXPECT_EQ(PixelLevels(img), expected);
    }
}

TEST(ToneLight, TableExamplesOnGrayImage)
{
    // On an 8-bit grey image levels 0 and 255 are never changed (their
    // palette entries are pure black and white).
    struct Case {
        int brightness, contrast;
        std::vector<std::pair<int, int>> map;  // level -> new level
    };
    const std::vector<Case> cases = {
        {10, 20, {{64, 61}, {128, 138}, {200, 224}, {0, 0}, {255, 255}}},
        {-50, -50, {{1, 15}, {128, 78}, {254, 141}, {0, 0}, {255, 255}}},
        {20, 20, {{1, 0}, {254, 255}, {0, 0}, {255, 255}}},
        {30, -100, {{1, 158}, {128, 158}, {254, 158}}},
    };
    Levels ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[i] = static_cast<uint8_t>(i);

    for (const Case& c : cases) {
        SCOPED_TRACE("Light(" + std::to_string(c.brightness) + ", " + std::to_string(c.contrast) + ")");
        CDibImage img;
        MakeGray(img, 256, 1, ramp);
        ASSERT_TRUE(img.Light(c.brightness, c.contrast));
        EXPECT_TRUE(img.IsGrayScale());
        for (const auto& m : c.map)
            EXPECT_EQ(img.GetPixelIndex(m.first, 0), m.second) << "level " << m.first;
    }

    CDibImage img;
    MakeGray(img, 256, 1, ramp);
    ASSERT_TRUE(img.Light(0, 0));
    EXPECT_EQ(PixelLevels(img), ramp);
}

TEST(ToneLight, TrueColourMapsEveryByteIncludingBlackAndWhite)
{
    CDibImage img;
    ASSERT_TRUE(img.Create(1, 1, 24, 0));
    img.SetPixelColor(0, 0, tagRGBQUAD{0, 255, 128, 0});
    ASSERT_TRUE(img.Light(-50, -50));
    const tagRGBQUAD c = img.GetPixelColor(0, 0);
    EXPECT_EQ(std::vector<int>({c.rgbBlue, c.rgbGreen, c.rgbRed}), std::vector<int>({14, 142, 78}));
}

TEST(ToneTransforms, FailWithoutPixelsOrTable)
{
    CDibImage empty;
    EXPECT_FALSE(empty.GrayScale());
    EXPECT_FALSE(empty.Light(10, 10));
    EXPECT_FALSE(empty.Threshold(128));
    EXPECT_FALSE(empty.Dither(0));
    EXPECT_FALSE(empty.IsValid());

    CDibImage img;
    MakeGray(img, 2, 1, {10, 200});
    EXPECT_FALSE(img.Lut(nullptr));
    EXPECT_EQ(PixelLevels(img), Levels({10, 200}));
}

TEST(ToneThreshold, LevelIsTheLastBlackValue)
{
    const Levels row = {0, 1, 127, 128, 129, 254, 255};
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "X......"},
        {128, "XXXX..."},
        {255, "XXXXXXX"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.first));
        CDibImage img;
        MakeGray(img, 7, 1, row);
        img.SetXDPI(203);
        ASSERT_TRUE(img.Threshold(static_cast<unsigned char>(c.first)));
        ExpectBlackWhite(img);
        EXPECT_EQ(ToAscii(img), std::vector<std::string>({c.second}));
        EXPECT_EQ(img.GetXDPI(), 96) << "the result carries a fresh information record";
    }
}

TEST(ToneDither, FloydSteinbergSinglePixels)
{
    for (const auto& c : std::vector<std::pair<uint8_t, std::string>>{
             {200, "."}, {129, "."}, {128, "X"}, {0, "X"}, {255, "."}})
        EXPECT_EQ(Dithered(1, 1, {c.first}, 0), std::vector<std::string>({c.second}))
            << "level " << int(c.first);
}

TEST(ToneDither, FloydSteinbergTruncatesEachShareTowardZero)
{
    // Level 182 leaves error -73. Its shares are -511/16 -> -31 (x+1),
    // -219/16 -> -13 (x-1 below), -365/16 -> -22 (below), -73/16 -> -4 (x+1
    // below). Each neighbour is set up to land on 129 (white); rounding the
    // share down instead would leave it at 128 (black).
    struct Case {
        unsigned w, h;
        Levels levels;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {2, 1, {182, 160}, {".."}},
        {2, 2, {0, 182, 142, 0}, {"X.", ".X"}},
        {1, 2, {182, 151}, {".", "."}},
        {2, 2, {182, 0, 0, 133}, {".X", "X."}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Dithered(c.w, c.h, c.levels, 0), c.expected)
            << AsciiPicture(Dithered(c.w, c.h, c.levels, 0));
}

TEST(ToneDither, EveryMethodOnDiagonalRamp)
{
    // Worked out from the kernel and matrix tables.
    const std::vector<std::vector<std::string>> expected = {
        {"XXXX.X.X.", "XX.XX....", "XXX..X.X.", "X.X.X...."},  // 0 Floyd-Steinberg
        {"XXXX.X.X.", "XXXXX.X..", "XX.X.X...", "XXX.X.X.."},  // 1 ordered 4 x 4
        {"XXXXX.X..", "XXX..X...", "XX.XX....", "X.X......"},  // 2 Burkes
        {"XXXXX.X..", "XXX..X...", "XX.X.....", "X.X.X...."},  // 3 Stucki
        {"XXXXX....", "XXX.XX...", "XX...X...", "XXX......"},  // 4 Jarvis-Judice-Ninke
        {"XXXXX....", "XXX.XX.X.", "XX.......", "XXXX....."},  // 5 Sierra
        {"XXXXXX...", "XXXX.....", "XXX......", "X...X...."},  // 6 Stevenson-Arce
        {"XXXX.X.X.", "XXXXX.X..", ".X.X.X.X.", "XXX......"},  // 7 Bayer 4 x 4, generated
        {"XXXX.X.X.", "XXXXX.X..", ".X.X.X.X.", "XXX.X...."},  // 8 Bayer 8 x 8
        {"XX.X.X.X.", "XXXXX.X.X", "XX.X.X...", "XXX.X.X.."},  // 9 ordered 16 x 16
    };
    for (int m = 0; m < 10; ++m) {
        const auto got = Dithered(kRampW, kRampH, kRamp, m);
        EXPECT_EQ(got, expected[m]) << "method " << m << "\n" << AsciiPicture(got);
    }
}

TEST(ToneDither, UnlistedMethodsAreFloydSteinberg)
{
    const auto fs = Dithered(kRampW, kRampH, kRamp, 0);
    for (int m : {-1, 10, 1000})
        EXPECT_EQ(Dithered(kRampW, kRampH, kRamp, m), fs) << "method " << m;
}

TEST(ToneDither, DiffusionOnNarrowTallImage)
{
    // Narrower than the wider kernels' reach and taller than their rows.
    const Levels levels = {
        98,  134, 136, 72,
        89,  51,  61,  75,
        103, 169, 93,  142,
        204, 47,  157, 164,
        156, 139, 166, 186,
        89,  143, 62,  164,
        99,  45,  108, 173};
    const std::vector<std::pair<int, std::vector<std::string>>> cases = {
        {0, {"X.XX", "XX.X", "..X.", ".X.X", "X.X.", "X.X.", "XX.X"}},
        {2, {"X.XX", "XX.X", "..X.", ".XX.", ".X..", "X.X.", "XXX."}},
        {3, {"X.XX", "XXXX", "....", ".X.X", "X.X.", "X.X.", "XX.."}},
        {4, {"X..X", "XXXX", "X.X.", ".X..", "....", "XXX.", "XXX."}},
        {5, {"X..X", "XXXX", "X.X.", ".X..", "..X.", "X.X.", "XXX."}},
        {6, {"X..X", "XXXX", "X.X.", ".X..", ".X..", "X.X.", "XXX."}},
    };
    for (const auto& c : cases) {
        const auto got = Dithered(4, 7, levels, c.first);
        EXPECT_EQ(got, c.second) << "method " << c.first << "\n" << AsciiPicture(got);
    }
}

TEST(ToneDither, OrderedMatricesOnFlatLevels)
{
    struct Case {
        int method;
        unsigned w, h;
        uint8_t level;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        // 4 x 4: white where T1 < level x 16 / 255; 255 always white.
        {1, 4, 4, 0, Picture(4, 4, 'X')},
        {1, 4, 4, 64, {".X.X", "XXXX", ".X.X", "XXXX"}},
        {1, 4, 4, 128, {".X.X", "X.X.", ".X.X", "X.X."}},
        {1, 4, 4, 254, Picture(4, 4, '.', {{0, 3}})},  // d = 15: only T1 = 15 black
        {1, 4, 4, 255, Picture(4, 4, '.')},
        // Generated Bayer: white where level > T7.
        {7, 4, 4, 1, Picture(4, 4, 'X', {{0, 0}})},
        {7, 4, 4, 128, {".X.X", "X.X.", ".X.X", "X.X."}},
        {7, 4, 4, 255, Picture(4, 4, '.')},
        // 8 x 8, column-first: q = level / 4 must be non-zero and >= T8.
        {8, 8, 8, 3, Picture(8, 8, 'X')},
        {8, 8, 8, 4, Picture(8, 8, 'X', {{0, 0}, {4, 4}})},
        {8, 2, 2, 128, {".X", ".."}},  // T8[x=1][y=0] = 48, T8[x=0][y=1] = 32
        // 16 x 16, column-first: white where level > T9.
        {9, 16, 16, 0, Picture(16, 16, 'X')},
        {9, 16, 16, 3, Picture(16, 16, 'X', {{0, 0}, {8, 8}, {0, 8}})},
        {9, 16, 16, 254, Picture(16, 16, '.', {{6, 7}, {14, 15}})},
    };
    for (const Case& c : cases) {
        const auto got = Dithered(c.w, c.h, Flat(c.w, c.h, c.level), c.method);
        EXPECT_EQ(got, c.expected) << "method " << c.method << " level " << int(c.level) << "\n"
                                   << AsciiPicture(got);
    }
}

TEST(ToneDither, WhitePageStaysWhiteAndBlackStaysBlack)
{
    // The 16 x 16 matrix holds 255, yet a white page gets no dot from it.
    for (int m = 0; m < 10; ++m) {
        EXPECT_EQ(Dithered(19, 17, Flat(19, 17, 255), m), Picture(19, 17, '.')) << "method " << m;
        EXPECT_EQ(Dithered(19, 17, Flat(19, 17, 0), m), Picture(19, 17, 'X')) << "method " << m;
    }
}

TEST(ToneBinarise, OneBitImagesPassUnchanged)
{
    const std::vector<std::string> art = {"X.X.XX..X.X", "...XXX...X.", "XXXXXXXXXXX"};
    auto block = [](const CDibImage& img) {
        const unsigned char* p = img.GetBits(0);
        return std::vector<unsigned char>(p, p + img.GetEffWidth() * img.GetHeight());
    };
    CDibImage ref;
    MakeAsciiImage(ref, art);

    std::vector<std::pair<std::string, bool (*)(CDibImage&)>> ops = {
        {"Threshold(0)", [](CDibImage& i) { return i.Threshold(0); }},
        {"Threshold(255)", [](CDibImage& i) { return i.Threshold(255); }},
        {"Light(40, 60)", [](CDibImage& i) { return i.Light(40, 60); }},
    };
    for (int m = -1; m <= 10; ++m) {
        SCOPED_TRACE("Dither(" + std::to_string(m) + ")");
        CDibImage img;
        MakeAsciiImage(img, art);
        img.SetXDPI(203);
        ASSERT_TRUE(img.Dither(m));
        EXPECT_EQ(block(img), block(ref));
        EXPECT_EQ(img.GetXDPI(), 203);
        ExpectBlackWhite(img);
    }
    for (const auto& op : ops) {
        SCOPED_TRACE(op.first);
        CDibImage img;
        MakeAsciiImage(img, art);
        ASSERT_TRUE(op.second(img));
        EXPECT_EQ(block(img), block(ref));
        ExpectBlackWhite(img);
    }
}

TEST(ToneBinarise, EveryDepthGivesTheSamePicture)
{
    // Levels that the 4-bit grey ramp can hold, 13 columns (two bytes at
    // one bit per pixel).
    const unsigned w = 13, h = 5;
    Levels levels;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            levels.push_back(static_cast<uint8_t>(17 * ((x * 3 + y * 5) % 16)));

    auto binarise = [](CDibImage& img, int method) {
        img.SetXDPI(300);
        const bool ok = method < 0 ? img.Threshold(100) : img.Dither(method);
        EXPECT_TRUE(ok);
        ExpectBlackWhite(img);
        EXPECT_EQ(img.GetXDPI(), method < 0 ? 96 : 300);
        return ToAscii(img);
    };
    for (int method = -1; method < 10; ++method) {
        SCOPED_TRACE(method < 0 ? std::string("Threshold(100)") : "Dither(" + std::to_string(method) + ")");
        CDibImage gray, nibble, rgb;
        MakeGray(gray, w, h, levels);
        MakeNibbleGray(nibble, w, h, levels);
        MakeTrueColourGray(rgb, w, h, levels);
        const auto expected = binarise(gray, method);
        EXPECT_EQ(binarise(nibble, method), expected) << "4 bits per pixel";
        EXPECT_EQ(binarise(rgb, method), expected) << "24 bits per pixel";
    }
}

} // namespace
