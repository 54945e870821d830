#include "PngWriter.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace NS_DECODE {

namespace {

struct tagPngError {
    jmp_buf jump;
    char text[256];
};

void OnPngError(png_structp png, png_const_charp msg)
{
    tagPngError* err = static_cast<tagPngError*>(png_get_error_ptr(png));
    snprintf(err->text, sizeof err->text, "%s", msg);
    longjmp(err->jump, 1);
}

void OnPngWarning(png_structp, png_const_charp)
{
}

// The libpng part, kept free of objects with destructors between setjmp
// and longjmp.
bool WriteRows(FILE* fp, const tagDecodedPage& page, unsigned char* row, tagPngError* err)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, err, OnPngError, OnPngWarning);
    if (!png) {
        snprintf(err->text, sizeof err->text, "libpng could not start");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        snprintf(err->text, sizeof err->text, "libpng could not start");
        return false;
    }
    if (setjmp(err->jump)) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, fp);
    png_set_IHDR(png, info, static_cast<png_uint_32>(page.iWidth), static_cast<png_uint_32>(page.iHeight), 1,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    size_t nStride = static_cast<size_t>(page.iStride);
    for (int y = 0; y < page.iHeight; ++y) {
        // A grey one-bit PNG has 0 = black: the complement of the ink bits.
        const unsigned char* src = page.vBits.data() + static_cast<size_t>(y) * nStride;
        for (size_t i = 0; i < nStride; ++i)
            row[i] = static_cast<unsigned char>(~src[i]);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool WritePagePng(const tagDecodedPage& page, const std::string& path, std::string& why)
{
    if (page.iWidth <= 0 || page.iHeight <= 0) {
        why = "the page has no image";
        return false;
    }
    if (page.iStride < (page.iWidth + 7) / 8
        || page.vBits.size() < static_cast<size_t>(page.iStride) * static_cast<size_t>(page.iHeight)) {
        why = "the page's pixel storage is smaller than its size";
        return false;
    }
    FILE* fp = fopen(path.c_str(), "wb");
    if (!fp) {
        why = path + ": " + strerror(errno);
        return false;
    }
    std::vector<unsigned char> row(static_cast<size_t>(page.iStride));
    tagPngError err;
    err.text[0] = '\0';
    bool bOk = WriteRows(fp, page, row.data(), &err);
    if (fclose(fp) != 0 && bOk) {
        why = path + ": " + strerror(errno);
        return false;
    }
    if (!bOk) {
        why = path + ": " + err.text;
        return false;
    }
    return true;
}

} // namespace NS_DECODE
