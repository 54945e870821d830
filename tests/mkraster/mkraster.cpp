// bandrill-mkraster: writes the demo's sample raster page (a grey gradient,
// a barcode-like pattern and a frame, 8-bit grey at 203 dpi), or with
// --ppd N a minimal PPD for model number N.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PpdWriter.h"
#include "RasterWriter.h"

using namespace testing_support;

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--ppd") == 0) {
        PpdSpec spec;
        spec.modelNumber = std::atoi(argv[2]);
        spec.modelName = "bandrill demo printer";
        spec.options = {{"zeMediaTracking", "Gap", {"Continuous", "Gap", "BLine"}},
                        {"Darkness", "8", {"Default", "8", "12"}},
                        {"ImageFilter", "3", {"0", "1", "3"}}};
        WritePpd(argv[3], spec);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: bandrill-mkraster FILE.ras | --ppd N FILE.ppd\n");
        return 2;
    }
    const unsigned w = 384, h = 240;
    RasterPage page = MakeRasterPage(w, h, 8, 203);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            unsigned char level = 255;
            if (x < 4 || x >= w - 4 || y < 4 || y >= h - 4)
                level = 0; // frame
            else if (y >= 20 && y < 100)
                level = static_cast<unsigned char>(255 * (x - 4) / (w - 8)); // gradient
            else if (y >= 120 && y < 220 && x >= 24 && x < w - 24)
                level = ((x / 3) % 3 == 0 || (x / 7) % 2 == 0) ? 0 : 255; // bars
            SetRasterPixel(page, x, y, level);
        }
    return WriteRaster(argv[1], {page}) > 0 ? 0 : 1;
}
