#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <cups/raster.h>

#include "BenchPages.h"

namespace bench {

namespace {

// The lines of a grey page at any depth the filter takes; with inkHigh in
// colour space K's sense.
std::vector<uint8_t> Lines(const GreyPage& page, unsigned bpp, bool inkHigh)
{
    if (bpp == 1)
        return RasterLines1(page, inkHigh);
    const size_t n = page.pixels.size();
    std::vector<uint8_t> lines;
    if (bpp == 24 || bpp == 32) {
        // A tinted copy of the grey page, red, green and blue bytes (and the
        // grey again as the fourth).
        const unsigned k = bpp / 8;
        lines.resize(n * k);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t v = page.pixels[i];
            lines[k * i] = v;
            lines[k * i + 1] = static_cast<uint8_t>(v / 2 + 100);
            lines[k * i + 2] = static_cast<uint8_t>(255 - v / 3);
            if (k == 4)
                lines[k * i + 3] = v;
        }
    } else if (bpp == 4) {
        const unsigned bpl = BytesPerLine(page.width, 4);
        lines.assign(static_cast<size_t>(bpl) * page.height, 0);
        for (unsigned y = 0; y < page.height; ++y)
            for (unsigned x = 0; x < page.width; ++x) {
                const unsigned v = page.pixels[static_cast<size_t>(y) * page.width + x] / 17;
                lines[static_cast<size_t>(y) * bpl + x / 2] |=
                    static_cast<uint8_t>(v << (x % 2 ? 0 : 4));
            }
    } else {
        lines = RasterLines8(page);
    }
    if (inkHigh)
        for (uint8_t& b : lines)
            b = static_cast<uint8_t>(~b);
    return lines;
}

} // namespace

bool WriteJob(const std::string& path, unsigned bpp, unsigned pages, unsigned width,
              unsigned height, unsigned dpi, bool compressed, const JobForm& form)
{
    const bool inkHigh = form.inkHigh < 0 ? bpp == 1 : form.inkHigh != 0;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    cups_raster_t* ras =
        cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
    bool ok = ras != nullptr;
    for (unsigned p = 0; ok && p < pages + (form.refusedPage ? 1 : 0); ++p) {
        const bool refused = form.refusedPage && p == 1;
        const unsigned depth = refused ? 16 : bpp;
        const uint32_t seed = p + 1 - (p > 1 && form.refusedPage);
        const GreyPage page =
            form.receipt ? DrawReceipt(width, height, seed) : DrawLabel(width, height, seed);
        std::vector<uint8_t> lines =
            refused ? std::vector<uint8_t>(static_cast<size_t>(BytesPerLine(width, depth)) * height, 0)
                    : Lines(page, bpp, inkHigh);

        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        std::snprintf(h.MediaClass, sizeof h.MediaClass, "PwgRaster");
        std::snprintf(h.cupsPageSizeName, sizeof h.cupsPageSizeName, "w%uh%u", width * 72 / dpi,
                      height * 72 / dpi);
        h.HWResolution[0] = h.HWResolution[1] = dpi;
        h.NumCopies = form.copies;
        h.PageSize[0] = width * 72 / dpi;
        h.PageSize[1] = height * 72 / dpi;
        h.ImagingBoundingBox[2] = h.PageSize[0];
        h.ImagingBoundingBox[3] = h.PageSize[1];
        h.cupsWidth = width;
        h.cupsHeight = height;
        h.cupsBitsPerColor = depth >= 24 ? 8 : depth;
        h.cupsBitsPerPixel = depth;
        h.cupsBytesPerLine = BytesPerLine(width, depth);
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = inkHigh ? CUPS_CSPACE_K
                           : depth == 24 ? CUPS_CSPACE_RGB
                           : depth == 32 ? CUPS_CSPACE_RGBA
                                         : CUPS_CSPACE_W;
        h.cupsNumColors = depth >= 24 ? depth / 8 : 1;
        h.cupsPageSize[0] = static_cast<float>(h.PageSize[0]);
        h.cupsPageSize[1] = static_cast<float>(h.PageSize[1]);
        h.cupsImagingBBox[2] = h.cupsPageSize[0];
        h.cupsImagingBBox[3] = h.cupsPageSize[1];
        ok = cupsRasterWriteHeader2(ras, &h) &&
             cupsRasterWritePixels(ras, lines.data(), static_cast<unsigned>(lines.size())) ==
                 lines.size();
    }
    if (ras)
        cupsRasterClose(ras);
    return close(fd) == 0 && ok;
}

} // namespace bench
