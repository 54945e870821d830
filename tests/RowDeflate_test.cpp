// The fast zlib encoder: whatever the bytes, zlib's own inflater gives them
// back exactly, with the header and Adler-32 of the zlib format; rows that
// repeat and runs of one byte cost a small part of their size.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "RowDeflate.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Inflates with zlib's checks (header, Adler-32); fails on anything short,
// long or damaged.
bool Inflate(const Bytes& z, size_t expect, Bytes& out)
{
    out.assign(expect + 1, 0);
    uLongf n = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &n, z.data(), static_cast<uLong>(z.size())) != Z_OK)
        return false;
    out.resize(n);
    return true;
}

Bytes Deflate(const Bytes& data, size_t rowBytes)
{
    Bytes z(RowDeflateBound(data.size()));
    z.resize(RowDeflate(data.data(), data.size(), rowBytes, z.data()));
    return z;
}

TEST(RowDeflate, InflatesBackToTheSameBytes)
{
    std::mt19937 rng(1950);
    struct Case {
        const char* name;
        size_t rowBytes;
        Bytes data;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", 48, {}});
    cases.push_back({"one byte", 1, {0x5A}});
    Bytes noise(70000);
    for (auto& b : noise)
        b = static_cast<unsigned char>(rng());
    cases.push_back({"noise", 104, noise});
    // Runs of every length around deflate's match limits (3 and 258) and
    // rows that repeat at a distance in every range of distance codes.
    Bytes runs;
    for (size_t n = 1; n < 600; n += (n < 10 || (n > 250 && n < 270)) ? 1 : 37)
        runs.insert(runs.end(), n, static_cast<unsigned char>(n));
    cases.push_back({"runs", 13, runs});
    for (size_t row : {size_t(1), size_t(2), size_t(5), size_t(48), size_t(104), size_t(1025),
                       size_t(24577), size_t(32768), size_t(40000)}) {
        Bytes rows;
        Bytes line(row);
        for (int r = 0; r < 7; ++r) {
            if (r % 3 == 0)
                for (auto& b : line)
                    b = static_cast<unsigned char>(rng() % 4 ? 0 : rng());
            rows.insert(rows.end(), line.begin(), line.end());
        }
        cases.push_back({"rows", row, rows});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", rows of " + std::to_string(c.rowBytes));
        const Bytes z = Deflate(c.data, c.rowBytes);
        ASSERT_GE(z.size(), 6u);
        EXPECT_EQ((z[0] * 256 + z[1]) % 31, 0);  // zlib header check bits
        Bytes back;
        ASSERT_TRUE(Inflate(z, c.data.size(), back));
        EXPECT_EQ(back, c.data);
    }
}

// A blank page costs next to nothing, a page of identical rows little more
// than its first row.
TEST(RowDeflate, RepeatsCostLittle)
{
    const Bytes blank(104 * 1218, 0);
    EXPECT_LT(Deflate(blank, 104).size(), 1500u);
    Bytes bars;
    Bytes row(104);
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<unsigned char>(i * 37);
    for (int r = 0; r < 1218; ++r)
        bars.insert(bars.end(), row.begin(), row.end());
    EXPECT_LT(Deflate(bars, 104).size(), 104u * 9 / 8 + 1500);
}

} // namespace
