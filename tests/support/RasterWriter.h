// Real CUPS raster streams for the tests, written with libcups.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <cups/raster.h>

namespace testing_support {

struct RasterPage {
    cups_page_header2_t header;
    std::vector<unsigned char> data; // cupsHeight x cupsBytesPerLine bytes
};

// A page of width x height pixels at bpp bits per pixel (1, 2, 4, 8, 16, 24
// or 32), resolution dpi x dpi, the given colour space, filled with white
// (0xFF bytes, or 0x00 in colour space K).
RasterPage MakeRasterPage(unsigned width, unsigned height, unsigned bpp, unsigned dpi = 203,
                          cups_cspace_t space = CUPS_CSPACE_W);

// Sets the pixel (x, y) of an 8-bit or 1-bit page to a grey level (8 bit) or
// to ink/paper (1 bit: level < 128 is ink, i.e. bit 0 in colour space W).
void SetRasterPixel(RasterPage& page, unsigned x, unsigned y, unsigned char level);

// Writes the pages to path with libcups (mode CUPS_RASTER_WRITE unless
// given). With truncateAt set, the file is cut to that many bytes after
// writing, to make a stream that ends early. Returns the full stream size.
size_t WriteRaster(const std::string& path, const std::vector<RasterPage>& pages,
                   size_t truncateAt = static_cast<size_t>(-1),
                   cups_mode_t mode = CUPS_RASTER_WRITE);

// The bytes of a raster stream as libcups writes them.
std::string RasterBytes(const std::vector<RasterPage>& pages, cups_mode_t mode = CUPS_RASTER_WRITE);

} // namespace testing_support
