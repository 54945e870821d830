#include "RasterWriter.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "TempDir.h"

namespace testing_support {

RasterPage MakeRasterPage(unsigned width, unsigned height, unsigned bpp, unsigned dpi,
                          cups_cspace_t space)
{
    RasterPage page;
    std::memset(&page.header, 0, sizeof page.header);
    cups_page_header2_t& h = page.header;
    std::snprintf(h.MediaClass, sizeof h.MediaClass, "PwgRaster");
    h.HWResolution[0] = dpi;
    h.HWResolution[1] = dpi;
    h.NumCopies = 1;
    h.PageSize[0] = dpi ? width * 72 / dpi : width;
    h.PageSize[1] = dpi ? height * 72 / dpi : height;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerPixel = bpp;
    h.cupsBitsPerColor = bpp >= 24 ? 8 : bpp;
    h.cupsBytesPerLine = (width * bpp + 7) / 8;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = space;
    if (bpp == 24)
        h.cupsColorSpace = CUPS_CSPACE_RGB;
    if (bpp == 32)
        h.cupsColorSpace = CUPS_CSPACE_RGBW;
    page.data.assign(static_cast<size_t>(h.cupsBytesPerLine) * height,
                     space == CUPS_CSPACE_K ? 0x00 : 0xFF);
    return page;
}

void SetRasterPixel(RasterPage& page, unsigned x, unsigned y, unsigned char level)
{
    const cups_page_header2_t& h = page.header;
    unsigned char* row = page.data.data() + static_cast<size_t>(y) * h.cupsBytesPerLine;
    const bool k = h.cupsColorSpace == CUPS_CSPACE_K;
    if (h.cupsBitsPerPixel == 8) {
        row[x] = k ? static_cast<unsigned char>(255 - level) : level;
    } else if (h.cupsBitsPerPixel == 1) {
        const bool ink = level < 128;
        const bool bit = k ? ink : !ink;
        const unsigned char mask = static_cast<unsigned char>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<unsigned char>(bit ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask));
    }
}

size_t WriteRaster(const std::string& path, const std::vector<RasterPage>& pages, size_t truncateAt,
                   cups_mode_t mode)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 0;
    cups_raster_t* ras = cupsRasterOpen(fd, mode);
    for (const RasterPage& p : pages) {
        cups_page_header2_t h = p.header;
        cupsRasterWriteHeader2(ras, &h);
        if (!p.data.empty())
            cupsRasterWritePixels(ras, const_cast<unsigned char*>(p.data.data()),
                                  static_cast<unsigned>(p.data.size()));
    }
    cupsRasterClose(ras);
    const off_t size = lseek(fd, 0, SEEK_END);
    if (truncateAt != static_cast<size_t>(-1) && static_cast<off_t>(truncateAt) < size) {
        if (ftruncate(fd, static_cast<off_t>(truncateAt)) != 0) {
            close(fd);
            return 0;
        }
    }
    close(fd);
    return static_cast<size_t>(size);
}

std::string RasterBytes(const std::vector<RasterPage>& pages, cups_mode_t mode)
{
    TempDir dir;
    const std::string path = dir.Path("stream.ras");
    WriteRaster(path, pages, static_cast<size_t>(-1), mode);
    return ReadFile(path);
}

} // namespace testing_support
