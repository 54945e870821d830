// bandrill-bench-read: the floor a raster filter is measured against. It
// does what any filter must (start, link libcups, read every page of the
// raster stream on standard input) and nothing else: each page's pixels are
// read with one cupsRasterReadPixels call, and an eighth of them (the size
// of a one-bit page of an 8-bit job) is written to standard output.
//
//   bandrill-bench-read [job user title copies options [file]]
//
// The arguments are those of a filter and are ignored, except a file
// named last, read instead of standard input.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

int main(int argc, char** argv)
{
    const int fd = argc == 7 ? open(argv[6], O_RDONLY) : 0;
    if (fd < 0) {
        std::perror(argv[6]);
        return 1;
    }
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (!ras) {
        std::fprintf(stderr, "no raster stream\n");
        return 1;
    }
    std::vector<unsigned char> page;
    cups_page_header2_t header;
    int pages = 0;
    while (cupsRasterReadHeader2(ras, &header)) {
        const size_t bytes = static_cast<size_t>(header.cupsBytesPerLine) * header.cupsHeight;
        page.resize(bytes);
        if (bytes && cupsRasterReadPixels(ras, page.data(), static_cast<unsigned>(bytes)) == 0)
            break;
        if (bytes / 8 && std::fwrite(page.data(), 1, bytes / 8, stdout) != bytes / 8)
            return 1;
        ++pages;
    }
    cupsRasterClose(ras);
    if (fd > 0)
        close(fd);
    return pages ? 0 : 1;
}
