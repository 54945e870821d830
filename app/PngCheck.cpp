#include "PngCheck.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <png.h>

namespace bandrill_app {

namespace {

void Error(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void Warning(png_structp, png_const_charp) {}

} // namespace

bool PngIsWhole(const char* path)
{
    FILE* fp = std::fopen(path, "rb");
    if (!fp)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Error, Warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // Outside the jump's reach: set before setjmp, freed after.
    std::vector<unsigned char> row;
    bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, fp);
        png_read_info(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        const int passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        row.resize(png_get_rowbytes(png, info));
        for (int p = 0; p < passes; ++p)
            for (png_uint_32 y = 0; y < height; ++y)
                png_read_row(png, row.data(), nullptr);
        png_read_end(png, nullptr);
        ok = true;
    }
    if (png)
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    std::fclose(fp);
    return ok;
}

bool JpegIsWhole(const char* path)
{
    FILE* fp = std::fopen(path, "rb");
    if (!fp)
        return false;
    std::vector<unsigned char> data;
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, fp)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    std::fclose(fp);
    if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    bool scan = false, end = false;
    for (size_t i = 2; i + 1 < data.size(); ++i) {
        if (data[i] != 0xFF)
            continue;
        if (data[i + 1] == 0xDA) {
            scan = true;
            end = false;
        } else if (data[i + 1] == 0xD9 && scan) {
            end = true;
        }
    }
    return scan && end;
}

const unsigned char kBlankPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3a,
    0x7e, 0x9b, 0x55, 0x00, 0x00, 0x00, 0x0a, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8,
    0x0f, 0x00, 0x01, 0x01, 0x01, 0x00, 0xb1, 0x38, 0xf6, 0x14, 0x00, 0x00, 0x00, 0x00, 0x49,
    0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
const unsigned kBlankPngSize = sizeof kBlankPng;

} // namespace bandrill_app
