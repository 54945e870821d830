// The fast binarisation paths (error diffusion over bands of rows, eight
// pixels packed at a time, grey conversion that skips identity palettes)
// against a plain pixel-by-pixel model of the same rules, on seeded random
// images of every depth, odd and even sizes, and level mixes that make the
// clamping work.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "DibImage.h"
#include "DibImageBands.h"

namespace {

// ---------------------------------------------------------------------------
// The model: one pixel at a time, in row order, straight from the rules.

struct RefTap {
    int dx, dy, weight;
};

struct RefKernel {
    int divisor;
    std::vector<RefTap> taps;
};

RefKernel DiffusionKernel(int method)
{
    switch (method) {
    case 2:
        return {32, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}};
    case 3:
        return {42, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2},
                     {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4}, {1, 2, 2}, {2, 2, 1}}};
    case 4:
        return {48, {{1, 0, 7}, {2, 0, 5}, {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5}, {2, 1, 3},
                     {-2, 2, 1}, {-1, 2, 3}, {0, 2, 5}, {1, 2, 3}, {2, 2, 1}}};
    case 5:
        return {32, {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5}, {1, 1, 4}, {2, 1, 2},
                     {-1, 2, 2}, {0, 2, 3}, {1, 2, 2}}};
    case 6:
        return {200, {{2, 0, 32}, {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30}, {3, 1, 16}, {-2, 2, 12},
                      {0, 2, 26}, {2, 2, 12}, {-3, 3, 5}, {-1, 3, 12}, {1, 3, 12}, {3, 3, 5}}};
    default:
        return {16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}};
    }
}

const int kOrder4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
const int kBayer4[4][4] = {
    {0, 192, 48, 240}, {128, 64, 176, 112}, {32, 224, 16, 208}, {160, 96, 144, 80}};
const int kBayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

// White (true) or black for every pixel, row-major, from grey levels.
std::vector<uint8_t> RefDither(std::vector<int> v, int w, int h, int method)
{
    std::vector<uint8_t> white(v.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int level = v[y * w + x];
            uint8_t& out = white[y * w + x];
            switch (method) {
            case 1:
                out = level == 255 || kOrder4[y & 3][x & 3] < (level * 16 / 255) % 16;
                continue;
            case 7:
                out = level > kBayer4[y % 4][x % 4];
                continue;
            case 8:
                out = (level >> 2) != 0 && (level >> 2) >= kBayer8[x & 7][y & 7];
                continue;
            default:
                break;
            }
            const RefKernel k = DiffusionKernel(method);
            out = level > 128;
            const int err = out ? level - 255 : level;
            for (const RefTap& t : k.taps) {
                const int nx = x + t.dx, ny = y + t.dy;
                if (nx < 0 || nx >= w || ny >= h)
                    continue;
                int& cell = v[ny * w + nx];
                cell += err * t.weight / k.divisor;
                cell = cell < 0 ? 0 : (cell > 255 ? 255 : cell);
            }
        }
    return white;
}

// The result storage the model implies: rows padded to 4 bytes, most
// significant bit first, every bit after the width 0.
std::vector<uint8_t> Pack(const std::vector<uint8_t>& white, int w, int h)
{
    const int stride = (w + 31) / 32 * 4;
    std::vector<uint8_t> out(static_cast<size_t>(stride) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (white[y * w + x])
                out[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return out;
}

std::vector<uint8_t> Storage(const CDibImage& img)
{
    const uint8_t* p = img.GetBits(0);
    return std::vector<uint8_t>(p, p + static_cast<size_t>(img.GetEffWidth()) * img.GetHeight());
}

// ---------------------------------------------------------------------------
// Random pictures.

enum class Mix { Uniform, MidTones, Extremes, Smooth };

int RandomLevel(std::mt19937& rng, Mix mix, int x, int y)
{
    switch (mix) {
    case Mix::Uniform:
        return static_cast<int>(rng() % 256);
    case Mix::MidTones:
        return 116 + static_cast<int>(rng() % 25);
    case Mix::Extremes: {
        // Mostly full black and white with a few greys: shares push cells
        // past 0 and 255 all the time.
        const unsigned r = rng() % 10;
        return r < 4 ? 0 : r < 8 ? 255 : static_cast<int>(rng() % 256);
    }
    case Mix::Smooth:
        return (x * 7 + y * 3 + static_cast<int>(rng() % 5)) % 256;
    }
    return 0;
}

// A page image of depth bpp and the grey level of each of its pixels as
// the grey conversion defines it.
struct Picture {
    CDibImage img;
    std::vector<int> grey;
};

void MakePicture(Picture& p, int w, int h, int bpp, Mix mix, std::mt19937& rng,
                 bool randomPalette = false)
{
    const int bpl = (w * bpp + 7) / 8;
    std::vector<uint8_t> lines(static_cast<size_t>(bpl) * h, 0);
    p.grey.assign(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int level = RandomLevel(rng, mix, x, y);
            uint8_t* row = lines.data() + static_cast<size_t>(y) * bpl;
            int& grey = p.grey[y * w + x];
            if (bpp == 24) {
                const uint8_t b = static_cast<uint8_t>(level);
                const uint8_t g = static_cast<uint8_t>(rng() % 256);
                const uint8_t r = static_cast<uint8_t>((level + rng() % 64) % 256);
                row[3 * x] = b;
                row[3 * x + 1] = g;
                row[3 * x + 2] = r;
                grey = (b * 117 + g * 601 + r * 306) >> 10;
            } else if (bpp == 8) {
                row[x] = static_cast<uint8_t>(level);
                grey = level;
            } else if (bpp == 4) {
                const int index = level / 17;
                row[x / 2] |= static_cast<uint8_t>(index << (4 * (1 - x % 2)));
                grey = index * 17;
            } else {
                const int bit = level > 127 ? 1 : 0;
                row[x / 8] |= static_cast<uint8_t>(bit << (7 - x % 8));
                grey = bit * 255;
            }
        }
    ASSERT_TRUE(p.img.CreateFromArray(lines.data(), static_cast<unsigned>(w),
                                      static_cast<unsigned>(h), static_cast<unsigned>(bpp),
                                      static_cast<unsigned>(bpl), false));
    if (randomPalette) {
        // Any palette: the grey of an index is the grey of its entry.
        ASSERT_EQ(bpp, 8);
        std::vector<tagRGBQUAD> pal(256);
        for (tagRGBQUAD& e : pal)
            e = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                 static_cast<uint8_t>(rng()), 0};
        p.img.SetPalette(pal.data(), 256);
        for (int i = 0; i < w * h; ++i) {
            const tagRGBQUAD& e = pal[static_cast<size_t>(p.grey[i])];
            p.grey[i] = (e.rgbBlue * 117 + e.rgbGreen * 601 + e.rgbRed * 306) >> 10;
        }
    }
}

const int kWidths[] = {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 33, 35, 36, 37, 41, 63, 64, 65, 127, 401};
const int kHeights[] = {1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31};
const int kMethods[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 10};

std::string Where(int w, int h, int bpp, int method, int mix)
{
    return "w " + std::to_string(w) + " h " + std::to_string(h) + " bpp " + std::to_string(bpp) +
           " method " + std::to_string(method) + " mix " + std::to_string(mix);
}

// ---------------------------------------------------------------------------

TEST(ToneFastPaths, DitherMatchesThePixelModelOnGreyPages)
{
    std::mt19937 rng(20240611);
    for (Mix mix : {Mix::Uniform, Mix::MidTones, Mix::Extremes, Mix::Smooth})
        for (int w : kWidths)
            for (int h : kHeights)
                for (int method : kMethods) {
                    Picture p;
                    MakePicture(p, w, h, 8, mix, rng);
                    ASSERT_TRUE(p.img.Dither(method));
                    ASSERT_EQ(p.img.GetBpp(), 1);
                    ASSERT_EQ(Storage(p.img), Pack(RefDither(p.grey, w, h, method), w, h))
                        << Where(w, h, 8, method, static_cast<int>(mix));
                }
}

TEST(ToneFastPaths, DitherMatchesThePixelModelOnEveryDepth)
{
    std::mt19937 rng(7);
    for (int bpp : {1, 4, 24})
        for (int w : {1, 3, 9, 17, 37, 65, 127})
            for (int h : {1, 2, 9, 17})
                for (int method : kMethods) {
                    Picture p;
                    MakePicture(p, w, h, bpp, Mix::Uniform, rng);
                    if (bpp == 1) {
                        // One-bit pages are left as they are.
                        const std::vector<uint8_t> before = Storage(p.img);
                        ASSERT_TRUE(p.img.Dither(method));
                        ASSERT_EQ(Storage(p.img), before) << Where(w, h, bpp, method, 0);
                        continue;
                    }
                    ASSERT_TRUE(p.img.Dither(method));
                    ASSERT_EQ(Storage(p.img), Pack(RefDither(p.grey, w, h, method), w, h))
                        << Where(w, h, bpp, method, 0);
                }
}

TEST(ToneFastPaths, GreyConversionOfAnyPaletteFeedsTheSameLevels)
{
    // An 8-bit page whose palette is not the grey ramp has its pixels mapped
    // before the binarisation; with the ramp they are left alone.
    std::mt19937 rng(99);
    for (int w : {5, 36, 401})
        for (int method : {0, 2, 6, 8}) {
            Picture p;
            MakePicture(p, w, 13, 8, Mix::Uniform, rng, true);
            ASSERT_TRUE(p.img.Dither(method));
            EXPECT_EQ(Storage(p.img), Pack(RefDither(p.grey, w, 13, method), w, 13))
                << Where(w, 13, 8, method, -1);
        }
}

TEST(ToneFastPaths, ThresholdMatchesThePixelModelOnEveryDepth)
{
    std::mt19937 rng(3);
    for (int bpp : {4, 8, 24})
        for (int w : kWidths)
            for (int h : {1, 2, 5})
                for (int level : {0, 1, 127, 128, 175, 254, 255}) {
                    Picture p;
                    MakePicture(p, w, h, bpp, Mix::Uniform, rng);
                    ASSERT_TRUE(p.img.Threshold(static_cast<unsigned char>(level)));
                    std::vector<uint8_t> white(p.grey.size());
                    for (size_t i = 0; i < white.size(); ++i)
                        white[i] = p.grey[i] > level;
                    ASSERT_EQ(Storage(p.img), Pack(white, w, h))
                        << Where(w, h, bpp, level, -1);
                }
}

TEST(ToneFastPaths, BothBandWidthsMatchThePixelModel)
{
    // Dither takes the sixteen-row bands where the processor has AVX2 and
    // the eight-row ones elsewhere; each is run here on its own.
    std::mt19937 rng(31);
    bool sixteen = true;
    for (Mix mix : {Mix::Uniform, Mix::Extremes})
        for (int w : {1, 9, 16, 37, 65, 401})
            for (int h : {1, 7, 8, 15, 16, 17, 33, 48})
                for (int method : {0, 2, 3, 4, 5, 6}) {
                    Picture p;
                    MakePicture(p, w, h, 8, mix, rng);
                    const std::vector<uint8_t> expected = Pack(RefDither(p.grey, w, h, method), w, h);
                    for (int lanes : {8, 16}) {
                        CDibImage out(static_cast<unsigned>(w), static_cast<unsigned>(h), 1, 0);
                        const bool ran = lanes == 8 ? DiffuseBands8(method, p.img, out)
                                                    : DiffuseBands16(method, p.img, out);
                        if (lanes == 16 && !ran) {
                            sixteen = false;
                            continue;
                        }
                        ASSERT_TRUE(ran);
                        ASSERT_EQ(Storage(out), expected)
                            << Where(w, h, 8, method, static_cast<int>(mix)) << " lanes " << lanes;
                    }
                }
    if (!sixteen)
        std::printf("note: no AVX2 here, sixteen-row bands not run\n");
}

TEST(ToneFastPaths, PagesWiderThanTheBandsGoRowByRow)
{
    // Wider than the band diffusion's 16-bit columns: the row-by-row path.
    std::mt19937 rng(11);
    for (int method : {0, 2, 6}) {
        Picture p;
        MakePicture(p, 16389, 3, 8, Mix::Uniform, rng);
        ASSERT_TRUE(p.img.Dither(method));
        EXPECT_EQ(Storage(p.img), Pack(RefDither(p.grey, 16389, 3, method), 16389, 3))
            << "method " << method;
    }
}

} // namespace
