// The rectangle search weighs strips of up to 32 rows with word-wide bit
// masks, skips the strips that cannot win and counts short gaps by width.
// A model that weighs every strip a byte at a time, with the costs as the
// rules state them, must choose the same rectangles on seeded pages: noise
// of several densities, blocks, widths across a 64-byte word, both blank
// bytes and command costs from none to more than a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "DibImage.h"
#include "InkAreas.h"

namespace {

using Mask = std::vector<bool>;

// Sending the positions of mask on `lines` rows: one command per run of
// ink, where a blank gap joins two runs when its bytes cost no more than a
// command (gap x lines <= command).
long long ModelStripCost(const Mask& mask, long long lines, long long command)
{
    long long cost = 0;
    int last = -1;
    for (int x = 0; x < static_cast<int>(mask.size()); ++x) {
        if (!mask[static_cast<size_t>(x)])
            continue;
        if (last < 0)
            cost += command;
        else if (x - last > 1)
            cost += std::min((x - last - 1) * lines, command);
        cost += lines;
        last = x;
    }
    return cost;
}

std::vector<tagInkRect> ModelRects(const CDibImage& img, int cols, unsigned char blank, int command)
{
    const int rows = static_cast<int>(img.GetHeight());
    std::vector<Mask> ink(static_cast<size_t>(rows), Mask(static_cast<size_t>(cols)));
    std::vector<bool> inked(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            if (img.GetBits(static_cast<unsigned>(r))[c] != blank)
                ink[static_cast<size_t>(r)][static_cast<size_t>(c)] = inked[static_cast<size_t>(r)] = true;

    // Strips of up to 32 rows starting on ink, the cheapest cover of each
    // prefix of rows; the first strip found of the least cost wins.
    std::vector<long long> best(static_cast<size_t>(rows) + 1, 0);
    std::vector<int> start(static_cast<size_t>(rows) + 1, -1);
    for (int b = 1; b <= rows; ++b) {
        if (!inked[static_cast<size_t>(b - 1)]) {
            best[static_cast<size_t>(b)] = best[static_cast<size_t>(b - 1)];
            continue;
        }
        long long least = std::numeric_limits<long long>::max();
        Mask acc(static_cast<size_t>(cols));
        for (int a = b - 1; a >= std::max(0, b - 32); --a) {
            if (!inked[static_cast<size_t>(a)])
                continue;
            for (int c = 0; c < cols; ++c)
                if (ink[static_cast<size_t>(a)][static_cast<size_t>(c)])
                    acc[static_cast<size_t>(c)] = true;
            const long long cost = best[static_cast<size_t>(a)] + ModelStripCost(acc, b - a, command);
            if (cost < least) {
                least = cost;
                start[static_cast<size_t>(b)] = a;
            }
        }
        best[static_cast<size_t>(b)] = least;
    }
    std::vector<std::pair<int, int>> strips;
    for (int b = rows; b > 0;) {
        if (start[static_cast<size_t>(b)] < 0) {
            --b;
            continue;
        }
        strips.emplace_back(start[static_cast<size_t>(b)], b);
        b = start[static_cast<size_t>(b)];
    }
    std::reverse(strips.begin(), strips.end());

    // Each strip's runs trimmed to their rows with ink, joined with a block
    // of the same columns in the strip before when the rows between cost
    // no more than a command.
    auto hasInk = [&](int r, int from, int to) {
        for (int c = from; c < to; ++c)
            if (ink[static_cast<size_t>(r)][static_cast<size_t>(c)])
                return true;
        return false;
    };
    std::vector<tagInkRect> blocks;
    std::vector<size_t> previous;
    for (const auto& strip : strips) {
        const int a = strip.first, b = strip.second;
        Mask acc(static_cast<size_t>(cols));
        for (int r = a; r < b; ++r)
            for (int c = 0; c < cols; ++c)
                if (ink[static_cast<size_t>(r)][static_cast<size_t>(c)])
                    acc[static_cast<size_t>(c)] = true;
        std::vector<size_t> current;
        for (int from = 0; from < cols;) {
            if (!acc[static_cast<size_t>(from)]) {
                ++from;
                continue;
            }
            int to = from;
            for (int x = from; x < cols; ++x)
                if (acc[static_cast<size_t>(x)]) {
                    if (static_cast<long long>(x - to) * (b - a) > command && x > to)
                        break;
                    to = x + 1;
                }
            int top = a, bottom = b - 1;
            while (!hasInk(top, from, to))
                ++top;
            while (!hasInk(bottom, from, to))
                --bottom;
            bool joined = false;
            for (size_t i : previous) {
                tagInkRect& p = blocks[i];
                const long long gap = top - (p.iRow + p.iRows);
                if (p.iByte == from && p.iBytes == to - from && gap * (to - from) <= command) {
                    p.iRows = bottom + 1 - p.iRow;
                    current.push_back(i);
                    joined = true;
                    break;
                }
            }
            if (!joined) {
                blocks.push_back(tagInkRect{from, top, to - from, bottom + 1 - top});
                current.push_back(blocks.size() - 1);
            }
            from = to;
        }
        previous = current;
    }

    // The bounding box when it is cheaper than the blocks.
    if (blocks.size() > 1) {
        int left = cols, right = 0, top = rows, bottom = 0;
        long long cost = 0;
        for (const tagInkRect& r : blocks) {
            left = std::min(left, r.iByte);
            right = std::max(right, r.iByte + r.iBytes);
            top = std::min(top, r.iRow);
            bottom = std::max(bottom, r.iRow + r.iRows);
            cost += command + static_cast<long long>(r.iBytes) * r.iRows;
        }
        if (command + static_cast<long long>(right - left) * (bottom - top) <= cost)
            blocks.assign(1, tagInkRect{left, top, right - left, bottom - top});
    }
    std::stable_sort(blocks.begin(), blocks.end(), [](const tagInkRect& l, const tagInkRect& r) {
        return l.iRow != r.iRow ? l.iRow < r.iRow : l.iByte < r.iByte;
    });
    return blocks;
}

std::string Describe(const std::vector<tagInkRect>& rects)
{
    std::string s;
    for (const tagInkRect& r : rects)
        s += std::to_string(r.iByte) + "," + std::to_string(r.iRow) + " " +
             std::to_string(r.iBytes) + "x" + std::to_string(r.iRows) + "; ";
    return s;
}

TEST(InkAreasFastPath, RectanglesMatchTheModel)
{
    std::mt19937 rng(2305);
    const struct {
        int bytes, rows;
        unsigned density;  // bytes with ink per 1000
        int blocks;        // rectangles of ink laid over the noise
    } shapes[] = {{1, 40, 400, 0},   {13, 70, 30, 3},   {64, 90, 200, 2},  {65, 80, 5, 6},
                  {102, 150, 600, 0}, {102, 150, 20, 8}, {130, 120, 80, 4}, {200, 60, 2, 10}};
    const int commands[] = {0, 1, 20, 25, 300};
    for (const auto& s : shapes)
        for (int command : commands)
            for (unsigned char blank : {0xFF, 0x00}) {
                SCOPED_TRACE(std::to_string(s.bytes) + " bytes x " + std::to_string(s.rows) +
                             ", density " + std::to_string(s.density) + ", command " +
                             std::to_string(command) + ", blank " + std::to_string(blank));
                // Rows of at least the stride; the search reads s.bytes of each.
                CDibImage img(static_cast<unsigned>(s.bytes * 8), static_cast<unsigned>(s.rows), 1, 0);
                ASSERT_TRUE(img.IsValid());
                const int stride = static_cast<int>(img.GetEffWidth());
                auto inkByte = [&] { return static_cast<unsigned char>(blank ^ (1u + rng() % 255)); };
                for (int r = 0; r < s.rows; ++r) {
                    unsigned char* row = img.GetBits(static_cast<unsigned>(r));
                    for (int c = 0; c < stride; ++c)
                        row[c] = rng() % 1000 < s.density ? inkByte() : blank;
                }
                for (int k = 0; k < s.blocks; ++k) {
                    const int x0 = static_cast<int>(rng() % static_cast<unsigned>(s.bytes));
                    const int y0 = static_cast<int>(rng() % static_cast<unsigned>(s.rows));
                    const int x1 = std::min(s.bytes, x0 + 1 + static_cast<int>(rng() % 40));
                    const int y1 = std::min(s.rows, y0 + 1 + static_cast<int>(rng() % 50));
                    for (int y = y0; y < y1; ++y)
                        for (int x = x0; x < x1; ++x)
                            img.GetBits(static_cast<unsigned>(y))[x] = inkByte();
                }
                const std::vector<tagInkRect> fast = FindInkRects(img, s.bytes, blank, command);
                const std::vector<tagInkRect> model = ModelRects(img, s.bytes, blank, command);
                EXPECT_EQ(Describe(fast), Describe(model));
            }
}

} // namespace
