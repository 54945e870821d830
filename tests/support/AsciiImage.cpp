#include "AsciiImage.h"

#include <cstring>

namespace testing_support {

void MakeAsciiImage(CDibImage& img, const std::vector<std::string>& rows)
{
    const unsigned h = static_cast<unsigned>(rows.size());
    const unsigned w = h ? static_cast<unsigned>(rows[0].size()) : 0;
    img.Create(w, h, 1, 0);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    for (unsigned y = 0; y < h; ++y) {
        unsigned char* row = img.GetBits(y);
        std::memset(row, 0xFF, img.GetEffWidth());
        for (unsigned x = 0; x < w; ++x)
            if (rows[y][x] == 'X')
                row[x >> 3] = static_cast<unsigned char>(row[x >> 3] & ~(0x80 >> (x & 7)));
    }
}

std::vector<std::string> ToAscii(const CDibImage& img)
{
    std::vector<std::string> out;
    if (!img.IsValid())
        return out;
    for (unsigned y = 0; y < img.GetHeight(); ++y) {
        std::string s;
        for (unsigned x = 0; x < img.GetWidth(); ++x)
            s += img.GetPixelIndex(x, y) == 0 ? 'X' : '.';
        out.push_back(s);
    }
    return out;
}

std::string AsciiPicture(const std::vector<std::string>& rows)
{
    std::string s;
    for (const auto& r : rows)
        s += r + "\n";
    return s;
}

std::vector<std::string> LabelArt()
{
    const int w = 400, h = 240;
    std::vector<std::string> rows(h, std::string(w, '.'));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool frame = x < 2 || x >= w - 2 || y < 2 || y >= h - 2;
            const int diag = y * w / h;
            const bool diagonal = x >= diag && x < diag + 3;
            const bool block = x >= 300 && x < 370 && y >= 20 && y < 60;
            if (frame || diagonal || block)
                rows[y][x] = 'X';
        }
    return rows;
}

} // namespace testing_support
