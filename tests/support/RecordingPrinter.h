// A printer back end without CUPS, for unit tests: every WriteSpool call is
// kept as one chunk and every trace as its formatted text. Also the byte
// helpers the back end tests share.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "DibImage.h"
#include "RenderJob.h"

namespace testing_support {

// A job that keeps what its back end reports to the user, on page `page`.
class CRecordingJob : public CRenderJob {
public:
    explicit CRecordingJob(int page = 1)
    {
        while (Pages() < page)
            StartPage();
    }
    void Report(Level level, const char* text) override { reports.emplace_back(level, text); }
    std::vector<std::pair<Level, std::string>> reports;
};

using Bytes = std::vector<unsigned char>;

// Chunk is Bytes or std::string, whichever the test compares with.
template <class T, class Chunk = Bytes>
class TRecordingPrinter : public T {
public:
    void WriteSpool(const void* data, int length) override
    {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        if (length > 0 && p)
            writes.emplace_back(p, p + length);
        else
            writes.emplace_back();
    }
    void AddLog(const char* format, ...) override
    {
        char text[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        logs.emplace_back(text);
    }
    // Every write in order, as one stream.
    Chunk Joined() const
    {
        Chunk all;
        for (const Chunk& w : writes)
            all.insert(all.end(), w.begin(), w.end());
        return all;
    }
    // Whether some trace starts with prefix.
    bool Logged(const std::string& prefix) const
    {
        for (const std::string& l : logs)
            if (l.compare(0, prefix.size(), prefix) == 0)
                return true;
        return false;
    }
    std::vector<Chunk> writes;
    std::vector<std::string> logs;
};

// The page image's storage, padding included, as bytes.
inline std::string ImageBytes(const CDibImage& img)
{
    return std::string(reinterpret_cast<const char*>(img.GetBits(0)),
                       static_cast<size_t>(img.GetEffWidth()) * img.GetHeight());
}

// Every byte complemented: a prepared image (clear bit prints) as the
// printers that print a set bit receive it.
inline std::string Complement(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(~static_cast<unsigned char>(c));
    return s;
}

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Slice(const Bytes& b, size_t from, size_t n)
{
    if (from > b.size())
        return Bytes();
    n = std::min(n, b.size() - from);
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

// Decodes raster rows in which a set bit prints back to ASCII art. A set
// bit beyond the width would print a stray dot: such a row ends in '!'.
inline std::vector<std::string> DecodeRaster(const Bytes& data, int widthBytes, int width)
{
    std::vector<std::string> rows;
    for (size_t off = 0; off + widthBytes <= data.size(); off += widthBytes) {
        std::string row;
        bool stray = false;
        for (int x = 0; x < widthBytes * 8; ++x) {
            const bool ink = (data[off + x / 8] >> (7 - x % 8)) & 1;
            if (x < width)
                row += ink ? 'X' : '.';
            else
                stray = stray || ink;
        }
        rows.push_back(stray ? row + "!" : row);
    }
    return rows;
}

} // namespace testing_support
