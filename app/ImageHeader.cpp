#include "ImageHeader.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace bandrill_app {

namespace {

unsigned Be32(const unsigned char* p)
{
    return (unsigned(p[0]) << 24) | (unsigned(p[1]) << 16) | (unsigned(p[2]) << 8) | p[3];
}

unsigned Be16(const unsigned char* p)
{
    return (unsigned(p[0]) << 8) | p[1];
}

struct Header {
    unsigned width = 0, height = 0;
    int components = 0;       // as PAPPL decodes: 1 (grey) or 3 (colour)
    int xPpi = 0, yPpi = 0;   // PNG pHYs in pixels per inch (0: none)
};

// IHDR, then the chunks before the image data (pHYs is among them).
bool ReadPng(std::FILE* fp, Header& h)
{
    unsigned char sig[8 + 8 + 13];
    if (std::fread(sig, 1, sizeof sig, fp) != sizeof sig || std::memcmp(sig, "\x89PNG\r\n\x1a\n", 8) != 0 ||
        std::memcmp(sig + 12, "IHDR", 4) != 0)
        return false;
    h.width = Be32(sig + 16);
    h.height = Be32(sig + 20);
    h.components = (sig[25] & 2) ? 3 : 1;
    if (std::fseek(fp, 4, SEEK_CUR) != 0) // IHDR's CRC
        return true;
    unsigned char chunk[8];
    while (std::fread(chunk, 1, 8, fp) == 8 && std::memcmp(chunk + 4, "IDAT", 4) != 0) {
        const unsigned length = Be32(chunk);
        if (std::memcmp(chunk + 4, "pHYs", 4) == 0 && length == 9) {
            unsigned char p[9];
            if (std::fread(p, 1, 9, fp) != 9)
                break;
            // As libpng's png_get_x_pixels_per_inch: only metres convert.
            if (p[8] == 1) {
                h.xPpi = static_cast<int>(Be32(p) * .0254 + .5);
                h.yPpi = static_cast<int>(Be32(p + 4) * .0254 + .5);
            }
            break;
        }
        if (std::fseek(fp, static_cast<long>(length) + 4, SEEK_CUR) != 0)
            break;
    }
    return true;
}

// The first start-of-frame marker.
bool ReadJpeg(std::FILE* fp, Header& h)
{
    unsigned char m[4];
    if (std::fread(m, 1, 2, fp) != 2 || m[0] != 0xFF || m[1] != 0xD8)
        return false;
    for (;;) {
        if (std::fread(m, 1, 4, fp) != 4 || m[0] != 0xFF)
            return false;
        const unsigned marker = m[1], length = Be16(m + 2);
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                         marker != 0xCC;
        if (sof) {
            unsigned char f[6];
            if (length < 8 || std::fread(f, 1, 6, fp) != 6)
                return false;
            h.height = Be16(f + 1);
            h.width = Be16(f + 3);
            h.components = f[5] == 1 ? 1 : 3;
            return true;
        }
        if (length < 2 || std::fseek(fp, static_cast<long>(length) - 2, SEEK_CUR) != 0)
            return false;
    }
}

} // namespace

std::string ImageRefusal(const char* path, bool png, const ImageLimits& limits)
{
    std::FILE* fp = std::fopen(path, "rb");
    if (!fp)
        return std::string();
    Header h;
    const bool read = png ? ReadPng(fp, h) : ReadJpeg(fp, h);
    std::fclose(fp);
    if (!read)
        return std::string();
    char text[256];
    const unsigned long long bytes = 1ULL * h.width * h.height * static_cast<unsigned>(h.components);
    if (h.width > static_cast<unsigned>(limits.maxWidth) || h.height > static_cast<unsigned>(limits.maxHeight) ||
        (limits.maxBytes && bytes > limits.maxBytes)) {
        std::snprintf(text, sizeof text,
                      "The image is too large to print: %u x %u pixels (at most %d x %d and %zu MiB).",
                      h.width, h.height, limits.maxWidth, limits.maxHeight, limits.maxBytes >> 20);
        return text;
    }
    if (h.width == 0 || h.height == 0)
        return "The image has no pixels.";
    if (h.xPpi != h.yPpi) {
        std::snprintf(text, sizeof text, "The image's pixels are not square (%d x %d pixels per inch).",
                      h.xPpi, h.yPpi);
        return text;
    }
    return std::string();
}

} // namespace bandrill_app
