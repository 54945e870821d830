#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <cups/raster.h>

#include "BenchPages.h"

namespace bench {

bool WriteJob(const std::string& path, unsigned bpp, unsigned pages, unsigned width,
              unsigned height, unsigned dpi, bool compressed)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    cups_raster_t* ras =
        cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
    bool ok = ras != nullptr;
    for (unsigned p = 0; ok && p < pages; ++p) {
        const GreyPage page = DrawLabel(width, height, p + 1);
        std::vector<uint8_t> lines;
        if (bpp == 24) {
            // A tinted copy of the grey page, red, green and blue bytes.
            lines.resize(page.pixels.size() * 3);
            for (size_t i = 0; i < page.pixels.size(); ++i) {
                const uint8_t v = page.pixels[i];
                lines[3 * i] = v;
                lines[3 * i + 1] = static_cast<uint8_t>(v / 2 + 100);
                lines[3 * i + 2] = static_cast<uint8_t>(255 - v / 3);
            }
        } else {
            lines = bpp == 8 ? RasterLines8(page) : RasterLines1(page, true);
        }

        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        std::snprintf(h.MediaClass, sizeof h.MediaClass, "PwgRaster");
        std::snprintf(h.cupsPageSizeName, sizeof h.cupsPageSizeName, "w%uh%u", width * 72 / dpi,
                      height * 72 / dpi);
        h.HWResolution[0] = h.HWResolution[1] = dpi;
        h.NumCopies = 1;
        h.PageSize[0] = width * 72 / dpi;
        h.PageSize[1] = height * 72 / dpi;
        h.ImagingBoundingBox[2] = h.PageSize[0];
        h.ImagingBoundingBox[3] = h.PageSize[1];
        h.cupsWidth = width;
        h.cupsHeight = height;
        h.cupsBitsPerColor = bpp == 24 ? 8 : bpp;
        h.cupsBitsPerPixel = bpp;
        h.cupsBytesPerLine = BytesPerLine(width, bpp);
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = bpp == 1 ? CUPS_CSPACE_K : bpp == 24 ? CUPS_CSPACE_RGB : CUPS_CSPACE_W;
        h.cupsNumColors = bpp == 24 ? 3 : 1;
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
