#include "TestPage.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>
#include <unistd.h>
#include <zlib.h>

#include "Drivers.h"

namespace bandrill_app {

namespace {

void Put32(std::string& out, unsigned long v)
{
    out += static_cast<char>((v >> 24) & 0xFF);
    out += static_cast<char>((v >> 16) & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void Chunk(std::string& out, const char* type, const std::string& data)
{
    Put32(out, data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    Put32(out, crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
}

// An 8-bit grey PNG of the rows.
bool EncodePng(const std::vector<std::vector<unsigned char>>& rows, std::string& png)
{
    const unsigned width = static_cast<unsigned>(rows[0].size());
    std::string raw;
    for (const auto& row : rows) {
        raw += '\0'; // filter: none
        raw.append(reinterpret_cast<const char*>(row.data()), row.size());
    }
    uLongf size = compressBound(raw.size());
    std::string z(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
                 raw.size()) != Z_OK)
        return false;
    z.resize(size);
    png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    Put32(ihdr, width);
    Put32(ihdr, rows.size());
    ihdr += '\x08'; // bit depth
    ihdr += '\x00'; // grey
    ihdr += std::string(3, '\0');
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", std::string());
    return true;
}

// A frame, a grey ramp (to show the halftoning) and a checkerboard whose
// squares halve in size from left to right (to show the resolution).
std::vector<std::vector<unsigned char>> Pattern(int width, int height)
{
    std::vector<std::vector<unsigned char>> rows(height, std::vector<unsigned char>(width, 255));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char& p = rows[y][x];
            if (x < 4 || x >= width - 4 || y < 4 || y >= height - 4)
                p = 0;
            else if (y >= height / 8 && y < height / 2)
                p = static_cast<unsigned char>(255 * (x - 4) / (width - 8));
            else if (y >= height * 5 / 8 && y < height * 7 / 8) {
                const int band = (x - 4) * 4 / (width - 8); // 0..3
                const int cell = 16 >> band;
                p = (((x / cell) + (y / cell)) & 1) ? 0 : 255;
            }
        }
    return rows;
}

std::string& TestPageDirName()
{
    static std::string dir;
    return dir;
}

// The test pages go with the process.
void RemoveTestPages()
{
    const std::string& dir = TestPageDirName();
    if (dir.empty())
        return;
    for (const Driver& d : Drivers())
        std::remove((dir + "/testpage-" + d.name + ".png").c_str());
    rmdir(dir.c_str());
}

std::string TestPageDir()
{
    static std::once_flag once;
    std::string& dir = TestPageDirName();
    std::call_once(once, [&dir] {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/bandrill-app-XXXXXX";
        std::vector<char> path(templ.begin(), templ.end());
        path.push_back('\0');
        if (mkdtemp(path.data())) {
            dir = path.data();
            std::atexit(RemoveTestPages);
        }
    });
    return dir;
}

} // namespace

bool WriteTestPage(const Driver& driver, char* buffer, size_t bufsize)
{
    const std::string dir = TestPageDir();
    if (dir.empty())
        return false;
    // Receipts a square's worth long, labels as the default label.
    const int width = driver.roll ? driver.headDots : driver.dpi * 50 * 100 / 2540;
    const int height = driver.roll ? width : driver.dpi * 30 * 100 / 2540;
    std::string png;
    if (!EncodePng(Pattern(width, height), png))
        return false;
    const std::string path = dir + "/testpage-" + driver.name + ".png";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    if (std::fclose(f) != 0 || !ok)
        return false;
    std::snprintf(buffer, bufsize, "%s", path.c_str());
    return true;
}

} // namespace bandrill_app
