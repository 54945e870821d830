// Writes a raster test document: PWG raster (what IPP clients send the
// printer application) or CUPS raster (what the scheduler gives the
// filter), 8-bit grey, with the same pixels either way.
//
//   bandrill-app-raster pwg|cups OUT WIDTH HEIGHT DPI [PAGES]
//
// The pixels: a grey ramp across the page, a black frame and a diagonal,
// and a bar whose position depends on the page number, so that pages
// differ and every halftone method has grey to work on.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s pwg|cups OUT WIDTH HEIGHT DPI [PAGES]\n", argv[0]);
        return 2;
    }
    const bool pwg = std::strcmp(argv[1], "pwg") == 0;
    const unsigned width = static_cast<unsigned>(std::atoi(argv[3]));
    const unsigned height = static_cast<unsigned>(std::atoi(argv[4]));
    const unsigned dpi = static_cast<unsigned>(std::atoi(argv[5]));
    const unsigned pages = argc > 6 ? static_cast<unsigned>(std::atoi(argv[6])) : 1;

    const int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(argv[2]);
        return 1;
    }
    cups_raster_t* ras = cupsRasterOpen(fd, pwg ? CUPS_RASTER_WRITE_PWG : CUPS_RASTER_WRITE);

    pwg_media_t media;
    std::memset(&media, 0, sizeof media);
    media.pwg = "custom_bandrill_test";
    media.ppd = "Custom";
    media.width = static_cast<int>((width * 2540 + dpi - 1) / dpi);
    media.length = static_cast<int>((height * 2540 + dpi - 1) / dpi);
    cups_page_header2_t h;
    cupsRasterInitPWGHeader(&h, &media, "sgray_8", static_cast<int>(dpi), static_cast<int>(dpi),
                            "one-sided", nullptr);
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBytesPerLine = width;
    h.cupsInteger[0] = pages; // total page count
    if (!pwg)
        h.cupsColorSpace = CUPS_CSPACE_W; // the filter's PPDs ask for 8-bit W

    std::vector<unsigned char> line(width);
    for (unsigned p = 0; p < pages; ++p) {
        if (!cupsRasterWriteHeader2(ras, &h))
            return 1;
        const unsigned barY = height / 4 + (p * 37) % (height / 2 + 1);
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                unsigned char v = static_cast<unsigned char>(255 - 255 * x / (width ? width : 1));
                if (x < 3 || y < 3 || x + 3 >= width || y + 3 >= height)
                    v = 0;
                else if (x * height / width == y)
                    v = 0;
                else if (y >= barY && y < barY + 12)
                    v = (x / 16) % 2 ? 0 : 255;
                line[x] = v;
            }
            if (cupsRasterWritePixels(ras, line.data(), width) != width)
                return 1;
        }
    }
    cupsRasterClose(ras);
    close(fd);
    return 0;
}
