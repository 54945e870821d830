// Raster input is read ahead in large blocks and lines go straight into the
// page buffer. Pages larger than a block, lines that straddle two blocks,
// compressed streams and a pipe that delivers the stream in uneven pieces
// must all give the printer exactly the page's lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FilterRunner.h"
#include "PpdWriter.h"
#include "RasterWriter.h"
#include "TempDir.h"

using namespace testing_support;

namespace {

// The payloads of the plain BITMAP commands of a TSPL stream.
std::vector<std::string> Bitmaps(const std::string& out)
{
    std::vector<std::string> maps;
    size_t pos = 0;
    while ((pos = out.find("BITMAP 0,0,", pos)) != std::string::npos) {
        unsigned stride = 0, height = 0, mode = 0;
        int used = 0;
        if (std::sscanf(out.c_str() + pos, "BITMAP 0,0,%u,%u,%u,%n", &stride, &height, &mode,
                        &used) < 3 ||
            mode != 1)
            break;
        pos += static_cast<size_t>(used);
        maps.push_back(out.substr(pos, static_cast<size_t>(stride) * height));
        pos += static_cast<size_t>(stride) * height;
    }
    return maps;
}

// Random one-bit lines; the bits after the width are left clear, as a
// raster writer would.
RasterPage RandomPage(unsigned w, unsigned h, cups_cspace_t space, std::mt19937& rng)
{
    RasterPage p = MakeRasterPage(w, h, 1, 203, space);
    const unsigned bpl = p.header.cupsBytesPerLine;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned i = 0; i < bpl; ++i) {
            unsigned char b = static_cast<unsigned char>(rng());
            if (i == bpl - 1 && w % 8)
                b &= static_cast<unsigned char>(0xFF << (8 - w % 8));
            p.data[static_cast<size_t>(y) * bpl + i] = b;
        }
    return p;
}

// What the TSPL bitmap of a one-bit page must hold: each line with a set
// bit for white (colour space K is complemented), padded to the 4-byte
// stride with white.
std::string ExpectedBitmap(const RasterPage& p)
{
    const unsigned w = p.header.cupsWidth, h = p.header.cupsHeight;
    const unsigned bpl = p.header.cupsBytesPerLine;
    const unsigned stride = (w + 31) / 32 * 4;
    const bool k = p.header.cupsColorSpace == CUPS_CSPACE_K;
    std::string out(static_cast<size_t>(stride) * h, '\xFF');
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const bool bit = (p.data[static_cast<size_t>(y) * bpl + x / 8] >> (7 - x % 8)) & 1;
            if (bit == k)  // ink
                out[static_cast<size_t>(y) * stride + x / 8] &= static_cast<char>(~(0x80 >> (x % 8)));
        }
    return out;
}

class PageReading : public testing::Test {
protected:
    std::string Ppd()
    {
        PpdModel ppdModel;
        ppdModel.modelNumber = 20;
        return WritePpd(dir.Path("tspl.ppd"), ppdModel);
    }

    std::vector<RasterPage> Pages()
    {
        // 127 bytes a line: lines fall across the 64 KiB read-ahead blocks;
        // each page is larger than a block.
        std::mt19937 rng(5);
        return {RandomPage(1013, 700, CUPS_CSPACE_K, rng), RandomPage(1013, 701, CUPS_CSPACE_W, rng),
                RandomPage(77, 3, CUPS_CSPACE_K, rng), RandomPage(1013, 1100, CUPS_CSPACE_K, rng)};
    }

    void ExpectPages(const FilterResult& r, const std::vector<RasterPage>& pages)
    {
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> maps = Bitmaps(r.out);
        ASSERT_EQ(maps.size(), pages.size());
        for (size_t i = 0; i < pages.size(); ++i)
            EXPECT_TRUE(maps[i] == ExpectedBitmap(pages[i])) << "page " << i + 1;
    }

    TempDir dir;
};

TEST_F(PageReading, LargePagesFromAFileInBothStreamForms)
{
    const std::vector<RasterPage> pages = Pages();
    for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        const std::string job = dir.Path("job.ras");
        WriteRaster(job, pages, static_cast<size_t>(-1), mode);
        FilterOptions o;
        o.ppdPath = Ppd();
        o.args = FilterArgs("", job);
        ExpectPages(RunFilter(o), pages);
    }
}

TEST_F(PageReading, StreamThroughAPipeInUnevenPieces)
{
    const std::vector<RasterPage> pages = Pages();
    const std::string stream = RasterBytes(pages);
    const std::string fifo = dir.Path("stream.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The writer holds the only write end (close-on-exec, so the filter
    // does not inherit it) and closes it at the end of the stream. Pieces
    // of 1 byte to 100000 bytes, none aligned to a line or a block.
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        std::mt19937 rng(17);
        for (size_t pos = 0; pos < stream.size();) {
            const size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % 100000);
            const ssize_t done = write(fd, stream.data() + pos, n);
            if (done <= 0)
                break;
            pos += static_cast<size_t>(done);
        }
        close(fd);
    });
    FilterOptions o;
    o.ppdPath = Ppd();
    o.stdinPath = fifo;
    const FilterResult r = RunFilter(o);
    writer.join();
    ExpectPages(r, pages);
}

} // namespace
