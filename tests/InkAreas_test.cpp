// Where a page carries ink: the rectangles of the label languages hold
// every byte with ink exactly once and start and end on ink, and both the
// rectangles and the raster bands keep a blank run inside exactly when that
// is cheaper than a command of its own.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "AsciiImage.h"
#include "InkAreas.h"

namespace {

using testing_support::AsciiPicture;
using testing_support::LabelArt;
using testing_support::MakeAsciiImage;

const int kCommand = 25;

std::vector<std::string> Blank(int w, int h)
{
    return std::vector<std::string>(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
}

void Fill(std::vector<std::string>& rows, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = 'X';
}

// A one-bit page as the back ends get it: a clear bit is ink, the row
// padding white.
CDibImage Page(const std::vector<std::string>& rows)
{
    CDibImage img(0);
    MakeAsciiImage(img, rows);
    return img;
}

// The page as the raster back ends see it: a set bit prints.
void Invert(CDibImage& img)
{
    unsigned char* bits = img.GetBits(0);
    const size_t n = static_cast<size_t>(img.GetEffWidth()) * img.GetHeight();
    for (size_t i = 0; i < n; ++i)
        bits[i] = static_cast<unsigned char>(~bits[i]);
}

bool ByteInked(const CDibImage& img, int col, int row)
{
    return img.GetBits(static_cast<unsigned>(row))[col] != 0xFF;
}

// Every ink byte in exactly one rectangle, none outside the page, and every
// rectangle's first and last row and column holding ink.
void ExpectExactCover(const CDibImage& img, const std::vector<tagInkRect>& rects)
{
    const int stride = static_cast<int>(img.GetEffWidth());
    const int height = static_cast<int>(img.GetHeight());
    std::vector<int> owner(static_cast<size_t>(stride) * height, 0);
    for (const tagInkRect& r : rects) {
        ASSERT_GE(r.iByte, 0);
        ASSERT_GE(r.iRow, 0);
        ASSERT_GT(r.iBytes, 0);
        ASSERT_GT(r.iRows, 0);
        ASSERT_LE(r.iByte + r.iBytes, stride);
        ASSERT_LE(r.iRow + r.iRows, height);
        bool top = false, bottom = false, left = false, right = false;
        for (int y = r.iRow; y < r.iRow + r.iRows; ++y)
            for (int x = r.iByte; x < r.iByte + r.iBytes; ++x) {
                ++owner[static_cast<size_t>(y) * stride + x];
                const bool ink = ByteInked(img, x, y);
                top |= ink && y == r.iRow;
                bottom |= ink && y == r.iRow + r.iRows - 1;
                left |= ink && x == r.iByte;
                right |= ink && x == r.iByte + r.iBytes - 1;
            }
        EXPECT_TRUE(top && bottom && left && right)
            << "rectangle " << r.iByte << "," << r.iRow << " " << r.iBytes << "x" << r.iRows
            << " has a blank edge";
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < stride; ++x) {
            const int n = owner[static_cast<size_t>(y) * stride + x];
            if (ByteInked(img, x, y))
                ASSERT_EQ(n, 1) << "ink byte " << x << "," << y;
            else
                ASSERT_LE(n, 1) << "blank byte " << x << "," << y;
        }
}

long long Sent(const std::vector<tagInkRect>& rects)
{
    long long n = 0;
    for (const tagInkRect& r : rects)
        n += kCommand + static_cast<long long>(r.iBytes) * r.iRows;
    return n;
}

// Seeded pages of every kind the rectangles must cover: noise of several
// densities, blocks with blank runs between them, ink on the edges, pages
// across a 64-byte word of columns and taller than a strip.
TEST(InkRects, CoverEveryInkByteExactlyOnce)
{
    std::mt19937 rng(23);
    const struct {
        int w, h;
        unsigned density;  // ink per 1000 dots
        bool blocks;
    } shapes[] = {{8, 1, 500, false},    {203, 57, 5, false},  {203, 57, 300, false},
                  {401, 233, 2, false},  {600, 150, 20, true}, {1100, 90, 8, true},
                  {384, 300, 0, true},   {31, 400, 40, true}};
    for (const auto& s : shapes) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h) + " round " +
                         std::to_string(round));
            std::vector<std::string> rows = Blank(s.w, s.h);
            for (auto& r : rows)
                for (auto& c : r)
                    if (rng() % 1000 < s.density)
                        c = 'X';
            if (s.blocks)
                for (int b = 0; b < 12; ++b) {
                    const int x0 = static_cast<int>(rng() % static_cast<unsigned>(s.w));
                    const int y0 = static_cast<int>(rng() % static_cast<unsigned>(s.h));
                    Fill(rows, x0, y0, std::min(s.w, x0 + 1 + static_cast<int>(rng() % 90)),
                         std::min(s.h, y0 + 1 + static_cast<int>(rng() % 70)));
                }
            // Ink on the page's four edges, in the first and last byte.
            rows.front()[0] = 'X';
            rows.back()[static_cast<size_t>(s.w - 1)] = 'X';
            const CDibImage img = Page(rows);
            const std::vector<tagInkRect> rects =
                FindInkRects(img, static_cast<int>(img.GetEffWidth()), 0xFF, kCommand);
            ExpectExactCover(img, rects);
            // Never more than the page sent whole in one command.
            EXPECT_LE(Sent(rects), kCommand + static_cast<long long>(img.GetEffWidth()) * s.h);
        }
    }
}

TEST(InkRects, BlankPageHasNoneAndOneDotHasOneByte)
{
    CDibImage blank = Page(Blank(400, 240));
    EXPECT_TRUE(FindInkRects(blank, 52, 0xFF, kCommand).empty());

    std::vector<std::string> rows = Blank(400, 240);
    rows[239][399] = 'X';
    CDibImage dot = Page(rows);
    const std::vector<tagInkRect> rects = FindInkRects(dot, 52, 0xFF, kCommand);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].iByte, 49);
    EXPECT_EQ(rects[0].iRow, 239);
    EXPECT_EQ(rects[0].iBytes, 1);
    EXPECT_EQ(rects[0].iRows, 1);
}

// The sides of a frame become narrow rectangles beside the content, not
// one rectangle over the whole blank inside of the frame.
TEST(InkRects, FrameSidesAreSentApartFromTheContent)
{
    const CDibImage img = Page(LabelArt());
    const std::vector<tagInkRect> rects = FindInkRects(img, 52, 0xFF, kCommand);
    ExpectExactCover(img, rects);
    for (const tagInkRect& r : rects)
        EXPECT_FALSE(r.iBytes > 26 && r.iRows > 120)
            << r.iByte << "," << r.iRow << " " << r.iBytes << "x" << r.iRows;
    EXPECT_LT(Sent(rects), 52 * 240 / 3);
}

// A blank run between two pieces of ink stays inside one rectangle while
// its bytes cost no more than a command (25 bytes): between two bars of
// one byte's width down the page, 24 blank rows stay and 26 do not; between
// two blocks 5 rows high side by side, 5 blank bytes stay and 6 do not.
TEST(InkRects, BlankRunStaysInsideWhileCheaperThanACommand)
{
    const struct {
        bool sideBySide;
        int gap;
        size_t rects;
    } cases[] = {{false, 24, 1}, {false, 26, 2}, {true, 5, 1}, {true, 6, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sideBySide ? "columns " : "rows ") + std::to_string(c.gap));
        std::vector<std::string> rows = Blank(160, 80);
        if (c.sideBySide) {
            Fill(rows, 16, 10, 24, 15);
            Fill(rows, 24 + 8 * c.gap, 10, 32 + 8 * c.gap, 15);
        } else {
            Fill(rows, 0, 0, 8, 3);
            Fill(rows, 0, 3 + c.gap, 8, 6 + c.gap);
        }
        const CDibImage img = Page(rows);
        const std::vector<tagInkRect> rects = FindInkRects(img, 20, 0xFF, kCommand);
        ExpectExactCover(img, rects);
        EXPECT_EQ(rects.size(), c.rects) << AsciiPicture(rows);
    }
}

// Raster bands: a gap of k blank rows of B bytes each stays in the band
// while k x B is at most the 8-byte header plus one 3-byte feed per 255
// rows; bands start and end on ink.
TEST(InkBands, GapStaysWhileCheaperThanFeedAndHeader)
{
    const struct {
        int widthDots;
        int gap;
        size_t bands;
    } cases[] = {{8, 11, 1}, {8, 12, 2}, {16, 5, 1}, {16, 6, 2}, {384, 1, 2}, {8, 300, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.widthDots) + " dots, gap " + std::to_string(c.gap));
        std::vector<std::string> rows = Blank(c.widthDots, c.gap + 9);
        Fill(rows, 0, 3, 1, 4);
        Fill(rows, c.widthDots - 1, 4 + c.gap, c.widthDots, 5 + c.gap);
        CDibImage img = Page(rows);
        Invert(img);
        const int bytes = (c.widthDots + 7) / 8;
        const std::vector<tagInkBand> bands = FindInkBands(img, bytes, 0x00, 8, 3, 255);
        ASSERT_EQ(bands.size(), c.bands);
        EXPECT_EQ(bands.front().iRow, 3);
        EXPECT_EQ(bands.back().iRow + bands.back().iRows, 5 + c.gap);
    }
    CDibImage blank = Page(Blank(384, 50));
    Invert(blank);
    EXPECT_TRUE(FindInkBands(blank, 48, 0x00, 8, 3, 255).empty());
}

} // namespace
