// White-edge crop scans one-bit pages a byte at a time; a pixel-by-pixel
// model of the four scans must pick the same rectangle on seeded random
// pages, with ink in the last partial byte and clear padding bits that
// must not count as ink.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "BaseRender.h"

namespace {

struct Rect {
    long s, e, l, r;  // rows dropped at the start and end, first kept and first dropped column
};

bool Ink(const CDibImage& img, long x, long y)
{
    return ((img.GetBits(static_cast<unsigned>(y))[x / 8] >> (7 - x % 8)) & 1) == 0;
}

long Dots(int mm, int dpi)
{
    return static_cast<long>(mm * (dpi / 25.4) + 0.9999);
}

// The four scans as the rules give them, one pixel at a time.
Rect ModelScans(const CDibImage& img, int top, int bottom, int left, int right, int dpi)
{
    top = top < 0 ? 9999 : top;
    bottom = bottom < 0 ? 9999 : bottom;
    left = left < 0 ? 9999 : left;
    right = right < 0 ? 9999 : right;
    const long W = img.GetWidth(), H = img.GetHeight();
    Rect r = {0, 0, 0, W};
    if (bottom > 0)
        for (long y = H - 1, done = 0; y >= 0 && !done; --y)
            for (long x = 0; x < W && !done; ++x)
                if (Ink(img, x, y)) {
                    r.e = std::min(H - 1 - y, Dots(bottom, dpi));
                    done = 1;
                }
    if (top > 0)
        for (long y = 0, done = 0; y < H && !done; ++y)
            for (long x = 0; x < W && !done; ++x)
                if (Ink(img, x, y)) {
                    r.s = std::min(y, Dots(top, dpi));
                    done = 1;
                }
    if (left > 0)
        for (long x = 0, done = 0; x < W && !done; ++x)
            for (long y = 0; y < H && !done; ++y)
                if (Ink(img, x, y)) {
                    r.l = std::min(x, Dots(left, dpi));
                    done = 1;
                }
    if (right > 0)
        for (long x = W - 1, done = 0; x >= 0 && !done; --x)
            for (long y = 0; y < H && !done; ++y)
                if (Ink(img, x, y)) {
                    const long d = Dots(right, dpi);
                    r.r = x + 1;
                    if (x + 1 < W - d - 1 && d + 1 < W)
                        r.r = W - d - 1;
                    done = 1;
                }
    return r;
}

// The page the model's rectangle keeps, packed as the image stores it.
std::vector<unsigned char> Kept(const CDibImage& img, const Rect& r)
{
    const long w = r.r - r.l, h = static_cast<long>(img.GetHeight()) - r.s - r.e;
    const long stride = (w + 31) / 32 * 4;
    std::vector<unsigned char> out(static_cast<size_t>(stride * h), 0);
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
            if (!Ink(img, r.l + x, r.s + y))
                out[static_cast<size_t>(y * stride + x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
    return out;
}

// A white one-bit page with a few ink blocks; the padding bits after the
// width are left clear, as ink would be.
void RandomPage(CDibImage& img, unsigned w, unsigned h, unsigned blocks, std::mt19937& rng)
{
    ASSERT_TRUE(img.Create(w, h, 1, 0));
    img.SetGrayPalette();
    const unsigned stride = img.GetEffWidth();
    for (unsigned y = 0; y < h; ++y) {
        unsigned char* row = img.GetBits(y);
        std::fill(row, row + stride, static_cast<unsigned char>(0xFF));
        for (unsigned x = w; x < stride * 8; ++x)
            row[x / 8] &= static_cast<unsigned char>(~(0x80 >> (x % 8)));
    }
    for (unsigned b = 0; b < blocks; ++b) {
        const unsigned x0 = rng() % w, y0 = rng() % h;
        const unsigned x1 = std::min<unsigned>(w, x0 + 1 + rng() % 9);
        const unsigned y1 = std::min<unsigned>(h, y0 + 1 + rng() % 5);
        for (unsigned y = y0; y < y1; ++y)
            for (unsigned x = x0; x < x1; ++x)
                img.GetBits(y)[x / 8] &= static_cast<unsigned char>(~(0x80 >> (x % 8)));
    }
}

TEST(CropFastPath, ByteScansKeepTheModelsRectangle)
{
    std::mt19937 rng(2024);
    const int limits[][4] = {{-1, -1, -1, -1}, {1, 2, 1, 2}, {0, -1, 0, -1}, {-1, 0, -1, 0},
                             {3, 0, 0, 1},     {0, 0, 2, 0}, {5, 5, 5, 5}};
    for (unsigned w : {1u, 7u, 8u, 9u, 31u, 33u, 100u, 203u})
        for (unsigned h : {1u, 2u, 17u, 60u})
            for (unsigned blocks : {0u, 1u, 3u})
                for (const auto& lim : limits) {
                    CBaseRender render;
                    render.m_iDpi = 203;
                    RandomPage(render.m_image, w, h, blocks, rng);
                    const Rect r = ModelScans(render.m_image, lim[0], lim[1], lim[2], lim[3], 203);
                    const std::vector<unsigned char> expected = Kept(render.m_image, r);
                    render.CropWhiteEdge(lim[0], lim[1], lim[2], lim[3]);
                    const std::string where = "w " + std::to_string(w) + " h " + std::to_string(h) +
                                              " blocks " + std::to_string(blocks) + " limits " +
                                              std::to_string(lim[0]) + "," + std::to_string(lim[1]) +
                                              "," + std::to_string(lim[2]) + "," + std::to_string(lim[3]);
                    ASSERT_EQ(render.m_image.GetWidth(), static_cast<unsigned>(r.r - r.l)) << where;
                    ASSERT_EQ(render.m_image.GetHeight(), static_cast<unsigned>(h - r.s - r.e)) << where;
                    const unsigned char* bits = render.m_image.GetBits(0);
                    ASSERT_EQ(std::vector<unsigned char>(bits, bits + expected.size()), expected) << where;
                }
}

TEST(CropFastPath, InkInTheLastPartialByteIsFound)
{
    // 13 dots wide: column 12 is bit 3 of the second byte; the padding
    // after it is clear and must not pass for ink.
    CBaseRender render;
    render.m_iDpi = 203;
    std::mt19937 rng(1);
    RandomPage(render.m_image, 13, 4, 0, rng);
    render.m_image.GetBits(2)[1] &= static_cast<unsigned char>(~0x08);
    render.CropWhiteEdge(-1, -1, -1, -1);
    EXPECT_EQ(render.m_image.GetWidth(), 1u);
    EXPECT_EQ(render.m_image.GetHeight(), 1u);
    EXPECT_EQ(render.m_image.GetBits(0)[0], 0x00);
}

} // namespace
