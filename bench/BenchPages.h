// Realistic pages for the benchmarks and the comparison job: receipts and
// shipping labels with text, a barcode, a matrix code, a frame and a grey
// picture, drawn from a seed so that every label of a job differs a little.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct PageShape {
    const char* name;  // short name used in benchmark names
    unsigned width;    // dots
    unsigned height;   // dots
    unsigned dpi;
};

// The page shapes measured: 58 mm and 80 mm receipts, 4 x 6 in labels at
// 203 and 300 dpi.
extern const PageShape kShapes[4];

// An 8-bit grey page: 0 black, 255 white, rows of `stride` bytes.
struct GreyPage {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint8_t> pixels;  // width x height, no padding
};

GreyPage DrawLabel(unsigned width, unsigned height, uint32_t seed);
// A long till receipt: a logo, large and small type, rules, a barcode, and
// much blank space between its lines and sections (1,734 of the 3,000 rows
// of a 384 x 3000 page are blank).
GreyPage DrawReceipt(unsigned width, unsigned height, uint32_t seed);

// Raster lines as CUPS sends them: 8 bits a pixel in colour space W
// (0 black), or 1 bit a pixel, most significant bit first. One-bit lines are
// made with a 4 x 4 ordered dither of the grey page; `inkHigh` gives colour
// space K's sense (a set bit prints), otherwise a set bit is white.
std::vector<uint8_t> RasterLines8(const GreyPage& page);
std::vector<uint8_t> RasterLines1(const GreyPage& page, bool inkHigh);
inline unsigned BytesPerLine(unsigned width, unsigned bpp) { return (width * bpp + 7) / 8; }

// How the pages of a job are written.
struct JobForm {
    // Colour space K (ink high) or not; -1: K for one-bit pages only.
    int inkHigh = -1;
    // A page of 16 bits a dot, which the filter refuses, after the first.
    bool refusedPage = false;
    // Receipts (DrawReceipt) instead of labels.
    bool receipt = false;
    // The copies the page headers ask the printer for (NumCopies).
    unsigned copies = 1;
};

// Writes a job of `pages` labels (seeds 1, 2, ...) to path with libcups.
// One-bit jobs are in colour space K (a set bit prints), as label PPDs ask
// for; 4- and 8-bit jobs are grey in colour space W; 24-bit jobs are a
// tinted RGB copy of the grey page, 32-bit ones the same with the grey as
// a fourth byte. With form.inkHigh every depth is written in colour space K
// (bytes complemented). False on a write error.
bool WriteJob(const std::string& path, unsigned bpp, unsigned pages, unsigned width,
              unsigned height, unsigned dpi, bool compressed, const JobForm& form = JobForm());

} // namespace bench
