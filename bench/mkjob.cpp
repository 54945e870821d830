// bandrill-bench-mkjob: writes a raster job of labels with libcups, as the
// step before the last filter of a CUPS queue would send it.
//
//   bandrill-bench-mkjob OUT.ras [--bpp 1|4|8|24|32] [--pages N] [--width W]
//                        [--height H] [--dpi D] [--compressed] [--space k|w]
//                        [--refused] [--receipt] [--copies N]
//
// One-bit jobs are in colour space K (a set bit prints), as label PPDs ask
// for; 4- and 8-bit jobs are grey in colour space W (0 black), 24-bit jobs
// RGB, 32-bit jobs RGBA. --space k writes any depth in colour space K, w a
// one-bit job in W. --refused puts a 16-bit page, which the filter refuses,
// after the first. --receipt draws long receipts instead of labels.
// --copies sets the headers' NumCopies (the copies left to the printer).
// Defaults: 20 pages of 812 x 1218 dots at 203 dpi, 1 bit,
// uncompressed stream.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BenchPages.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s OUT.ras [--bpp 1|4|8|24|32] [--pages N] [--width W] [--height H] "
                     "[--dpi D] [--compressed] [--space k|w] [--refused] [--receipt] "
                     "[--copies N]\n",
                     argv[0]);
        return 2;
    }
    unsigned bpp = 1, pages = 20, width = 812, height = 1218, dpi = 203;
    bool compressed = false;
    bench::JobForm form;
    for (int i = 2; i < argc; ++i) {
        unsigned* target = nullptr;
        if (!std::strcmp(argv[i], "--bpp"))
            target = &bpp;
        else if (!std::strcmp(argv[i], "--pages"))
            target = &pages;
        else if (!std::strcmp(argv[i], "--width"))
            target = &width;
        else if (!std::strcmp(argv[i], "--height"))
            target = &height;
        else if (!std::strcmp(argv[i], "--dpi"))
            target = &dpi;
        else if (!std::strcmp(argv[i], "--copies"))
            target = &form.copies;
        else if (!std::strcmp(argv[i], "--compressed"))
            compressed = true;
        else if (!std::strcmp(argv[i], "--refused"))
            form.refusedPage = true;
        else if (!std::strcmp(argv[i], "--receipt"))
            form.receipt = true;
        else if (!std::strcmp(argv[i], "--space") && i + 1 < argc)
            form.inkHigh = argv[++i][0] == 'k' ? 1 : 0;
        else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
        if (target) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", argv[i]);
                return 2;
            }
            *target = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        }
    }
    if ((bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) || !width || !height || !dpi) {
        std::fprintf(stderr, "bad page shape\n");
        return 2;
    }
    if (!bench::WriteJob(argv[1], bpp, pages, width, height, dpi, compressed, form)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
