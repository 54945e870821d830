#include "PaperModel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "HfmDecoder.h"

namespace testing_support {

namespace {

// Ink laid down dot by dot.
class CInk {
public:
    void Dot(size_t x, size_t y)
    {
        if (m_rows.size() <= y)
            m_rows.resize(y + 1);
        std::string& row = m_rows[y];
        if (row.size() <= x / 8)
            row.resize(x / 8 + 1, '\0');
        row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    }
    // A row of bytes whose set bits are ink, its first bit at dot x.
    void Row(size_t x, size_t y, const unsigned char* bytes, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            for (int b = 0; b < 8; ++b)
                if (bytes[i] & (0x80 >> b))
                    Dot(x + 8 * i + static_cast<size_t>(b), y);
    }
    void Clear() { m_rows.clear(); }
    std::vector<std::string> Trimmed() const
    {
        std::vector<std::string> rows = m_rows;
        for (std::string& r : rows)
            while (!r.empty() && r.back() == '\0')
                r.pop_back();
        while (!rows.empty() && rows.back().empty())
            rows.pop_back();
        return rows;
    }

private:
    std::vector<std::string> m_rows;
};

class CReader {
public:
    CReader(const std::string& s, std::string* error) : m_s(s), m_error(error) {}

    bool AtEnd() const { return m_pos >= m_s.size(); }
    size_t Left() const { return m_s.size() - m_pos; }
    size_t Pos() const { return m_pos; }
    bool Starts(const char* text) const { return m_s.compare(m_pos, std::strlen(text), text) == 0; }
    unsigned char At(size_t n) const { return static_cast<unsigned char>(m_s[m_pos + n]); }
    const unsigned char* Here() const
    {
        return reinterpret_cast<const unsigned char*>(m_s.data()) + m_pos;
    }
    void Skip(size_t n) { m_pos += n; }
    void Seek(size_t pos) { m_pos = pos; }

    bool Fail(const std::string& why)
    {
        if (m_error)
            *m_error = "offset " + std::to_string(m_pos) + ": " + why;
        return false;
    }
    bool Need(size_t n, const char* what)
    {
        return Left() >= n || Fail(std::string("stream ends inside ") + what);
    }
    // A line up to CR LF, without it.
    bool Line(std::string& line)
    {
        const size_t end = m_s.find("\r\n", m_pos);
        if (end == std::string::npos)
            return Fail("line without CR LF");
        line = m_s.substr(m_pos, end - m_pos);
        m_pos = end + 2;
        return true;
    }
    // Decimal digits, then the given separator (skipped).
    bool Number(long& v, char sep)
    {
        size_t n = 0;
        v = 0;
        while (n < Left() && n < 9 && At(n) >= '0' && At(n) <= '9')
            v = v * 10 + (At(n++) - '0');
        if (n == 0)
            return Fail("number expected");
        m_pos += n;
        if (sep) {
            if (AtEnd() || At(0) != static_cast<unsigned char>(sep))
                return Fail(std::string("'") + sep + "' expected");
            ++m_pos;
        }
        return true;
    }

private:
    const std::string& m_s;
    std::string* m_error;
    size_t m_pos = 0;
};

bool Inflate(const unsigned char* p, size_t n, size_t expect, std::string& out)
{
    // One extra byte of room shows a stream that holds more than expected.
    std::string room(expect + 1, '\0');
    uLongf got = static_cast<uLongf>(room.size());
    if (uncompress(reinterpret_cast<Bytef*>(&room[0]), &got, p, static_cast<uLong>(n)) != Z_OK ||
        got != expect)
        return false;
    out = room.substr(0, expect);
    return true;
}

void Emit(std::vector<PaperSheet>& sheets, const CInk& ink, const std::vector<std::string>& marks,
          long copies)
{
    PaperSheet sheet;
    sheet.ink = ink.Trimmed();
    sheet.marks = marks;
    for (long i = 0; i < copies; ++i)
        sheets.push_back(sheet);
}

bool ReadTspl(CReader& in, std::vector<PaperSheet>& sheets)
{
    CInk ink;
    std::vector<std::string> marks;
    while (!in.AtEnd()) {
        if (in.Starts("BITMAP ")) {
            in.Skip(7);
            long x, y, w, h, mode, len = 0;
            if (!in.Number(x, ',') || !in.Number(y, ',') || !in.Number(w, ',') ||
                !in.Number(h, ',') || !in.Number(mode, ','))
                return false;
            const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h);
            std::string rows;
            if (mode == 1) {
                if (!in.Need(bytes, "BITMAP data"))
                    return false;
                rows.assign(reinterpret_cast<const char*>(in.Here()), bytes);
                for (char& c : rows)
                    c = static_cast<char>(~c);  // a clear bit prints
                in.Skip(bytes);
            } else if (mode == 3) {
                if (!in.Number(len, ',') || !in.Need(static_cast<size_t>(len), "zlib data"))
                    return false;
                if (!Inflate(in.Here(), static_cast<size_t>(len), bytes, rows))
                    return in.Fail("zlib data does not give the bitmap's bytes");
                in.Skip(static_cast<size_t>(len));
            } else {
                return in.Fail("BITMAP mode " + std::to_string(mode));
            }
            if (!in.Starts("\r\n"))
                return in.Fail("CR LF after BITMAP data expected");
            in.Skip(2);
            for (long r = 0; r < h; ++r)
                ink.Row(static_cast<size_t>(x), static_cast<size_t>(y + r),
                        reinterpret_cast<const unsigned char*>(rows.data()) + r * w,
                        static_cast<size_t>(w));
            continue;
        }
        std::string line;
        if (!in.Line(line))
            return false;
        long m = 0, n = 1;
        if (std::sscanf(line.c_str(), "PRINT %ld,%ld", &m, &n) >= 1) {
            Emit(sheets, ink, marks, m * n);
            ink.Clear();
            marks.clear();
            continue;
        }
        if (line == "CLS")
            ink.Clear();
        marks.push_back(line);
    }
    return marks.empty() || in.Fail("label without PRINT");
}

bool ReadCpcl(CReader& in, std::vector<PaperSheet>& sheets)
{
    CInk ink;
    std::vector<std::string> marks;
    long quantity = 0;
    while (!in.AtEnd()) {
        if (in.Starts("CG ")) {
            in.Skip(3);
            long w, h, x, y;
            if (!in.Number(w, ' ') || !in.Number(h, ' ') || !in.Number(x, ' '))
                return false;
            const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h);
            // y, a space, the data and CR LF; or y = 0 with the data right
            // behind it.
            const size_t at = in.Pos();
            bool spaced = false;
            if (in.Number(y, ' ') && in.Left() >= bytes + 2 && in.At(bytes) == '\r' &&
                in.At(bytes + 1) == '\n') {
                spaced = true;
            } else {
                in.Seek(at);
                if (!in.Starts("0"))
                    return in.Fail("CG y of 0 before unseparated data expected");
                in.Skip(1);
                y = 0;
            }
            if (!in.Need(bytes, "CG data"))
                return false;
            for (long r = 0; r < h; ++r)
                ink.Row(static_cast<size_t>(x), static_cast<size_t>(y + r), in.Here() + r * w,
                        static_cast<size_t>(w));
            in.Skip(bytes + (spaced ? 2 : 0));
            continue;
        }
        std::string line;
        if (!in.Line(line))
            return false;
        if (line.compare(0, 2, "! ") == 0) {
            const size_t last = line.rfind(' ');
            quantity = std::atol(line.c_str() + last + 1);
            marks.push_back(line.substr(0, last));
        } else if (line == "PRINT") {
            Emit(sheets, ink, marks, quantity);
            ink.Clear();
            marks.clear();
        } else {
            marks.push_back(line);
        }
    }
    return marks.empty() || in.Fail("label without PRINT");
}

// ESC/POS and its PeriPage dialect on one strip of paper.
bool ReadStrip(CReader& in, bool periPage, std::vector<PaperSheet>& sheets)
{
    CInk ink;
    std::vector<std::string> marks;
    size_t y = 0;
    auto mark = [&](const std::string& what) { marks.push_back("@" + std::to_string(y) + " " + what); };
    auto hex = [&](size_t n) {
        std::string t;
        char b[4];
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(b, sizeof b, i ? " %02X" : "%02X", in.At(i));
            t += b;
        }
        return t;
    };
    while (!in.AtEnd()) {
        const unsigned char c = in.At(0);
        if (c == 0x00) {
            in.Skip(1);  // the NUL behind ESC @
        } else if (c == 0x1B) {
            if (!in.Need(2, "ESC command"))
                return false;
            const unsigned char cmd = in.At(1);
            size_t n = cmd == 0x40 ? 2 : cmd == 0x61 || cmd == 0x4A ? 3 : cmd == 0x70 ? 5 : 0;
            if (n == 0)
                return in.Fail("unknown ESC command");
            if (!in.Need(n, "ESC command"))
                return false;
            if (cmd == 0x4A)
                y += in.At(2);
            else
                mark(hex(n));
            in.Skip(n);
        } else if (c == 0x1D) {
            if (!in.Need(2, "GS command"))
                return false;
            const unsigned char cmd = in.At(1);
            if (cmd == 0x76) {
                if (!in.Need(8, "GS v 0 header") || in.At(2) != 0x30)
                    return in.Fail("GS v 0 expected");
                const size_t rowDots = (in.At(3) & 2) ? 2 : 1;
                const size_t w = in.At(4) | (in.At(5) << 8);
                const size_t h = in.At(6) | (in.At(7) << 8);
                in.Skip(8);
                if (!in.Need(w * h, "raster data"))
                    return false;
                for (size_t r = 0; r < h; ++r)
                    for (size_t d = 0; d < rowDots; ++d)
                        ink.Row(0, y++, in.Here() + r * w, w);
                in.Skip(w * h);
            } else if (cmd == 0x56) {
                const size_t n = in.Left() > 2 && (in.At(2) == 65 || in.At(2) == 66) ? 4 : 3;
                if (!in.Need(n, "GS V"))
                    return false;
                mark(hex(n));
                in.Skip(n);
            } else if (cmd == 0x0C) {
                mark(hex(2));
                in.Skip(2);
            } else {
                return in.Fail("unknown GS command");
            }
        } else if (c == 0x10 && periPage) {
            if (!in.Need(2, "PeriPage command"))
                return false;
            size_t n = 0;
            if (in.At(1) == 0x50)
                n = 2;
            else if (in.Left() >= 3 && in.At(1) == 0xFF && in.At(2) == 0xFE)
                n = 4;
            else if (in.Left() >= 3 && in.At(1) == 0xFF && in.At(2) == 0x10)
                n = 5;
            if (n == 0 || !in.Need(n, "PeriPage command"))
                return in.Fail("unknown PeriPage command");
            mark(hex(n));
            in.Skip(n);
        } else {
            return in.Fail("unknown command byte");
        }
    }
    mark("end of stream");
    Emit(sheets, ink, marks, 1);
    return true;
}

bool ReadPaperang(CReader& in, std::vector<PaperSheet>& sheets)
{
    CInk ink;
    std::vector<std::string> marks;
    CHfmDecoder tree;
    size_t y = 0;
    while (!in.AtEnd()) {
        if (!in.Need(4, "frame header") || in.At(0) != 0xA5)
            return in.Fail("frame start A5 expected");
        const size_t len = in.At(2) | (in.At(3) << 8);
        if (!in.Need(4 + len + 5, "frame") || in.At(4 + len + 4) != 0x5A)
            return in.Fail("frame end 5A expected");
        const unsigned char* p = in.Here() + 4;
        const uint32_t crc = p[len] | (p[len + 1] << 8) | (p[len + 2] << 16) |
                             (static_cast<uint32_t>(p[len + 3]) << 24);
        if (crc != static_cast<uint32_t>(crc32(0x35769521UL, p, static_cast<uInt>(len))))
            return in.Fail("bad CRC");
        if (len < 5 || p[0] != 0x05 || p[2] != 0x03)
            return in.Fail("command record expected");
        const unsigned char cmd = p[1];
        const unsigned char* data = p + 5;
        const size_t dlen = len - 5;
        if (cmd == 0x1C) {
            if (!tree.BuildFromRecord(data, dlen))
                return in.Fail("bad Huffman tree: " + tree.Error());
        } else if (cmd == 0x1B) {
            if (dlen < 12)
                return in.Fail("short bitmap record");
            const size_t stride = data[5] | (data[6] << 8);
            const size_t blockLen = data[10] | (data[11] << 8);
            if (stride == 0 || 12 + blockLen != dlen)
                return in.Fail("bitmap record lengths do not add up");
            std::vector<unsigned char> rows;
            if (!tree.DecodeBlock(data + 12, blockLen, rows) || rows.size() % stride)
                return in.Fail("bitmap block does not decode to whole rows");
            for (size_t r = 0; r < rows.size() / stride; ++r)
                ink.Row(0, y++, rows.data() + r * stride, stride);
        } else {
            char t[64];
            std::snprintf(t, sizeof t, "@%zu command %02X,", y, cmd);
            std::string m = t;
            for (size_t i = 0; i < dlen; ++i) {
                std::snprintf(t, sizeof t, " %02X", data[i]);
                m += t;
            }
            marks.push_back(m);
        }
        in.Skip(4 + len + 5);
    }
    marks.push_back("@" + std::to_string(y) + " end of stream");
    Emit(sheets, ink, marks, 1);
    return true;
}

} // namespace

bool ReadPrintout(PaperLanguage lang, const std::string& stream, std::vector<PaperSheet>& sheets,
                  std::string* error)
{
    sheets.clear();
    CReader in(stream, error);
    switch (lang) {
    case PaperLanguage::TSPL:
        return ReadTspl(in, sheets);
    case PaperLanguage::CPCL:
        return ReadCpcl(in, sheets);
    case PaperLanguage::ESCPOS:
        return ReadStrip(in, false, sheets);
    case PaperLanguage::PeriPage:
        return ReadStrip(in, true, sheets);
    case PaperLanguage::Paperang:
        return ReadPaperang(in, sheets);
    }
    return false;
}

std::string SheetPicture(const PaperSheet& sheet, int width)
{
    std::string out;
    for (const std::string& row : sheet.ink) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(x / 8);
            const bool dot = i < row.size() && (static_cast<unsigned char>(row[i]) >> (7 - x % 8)) & 1;
            out += dot ? 'X' : '.';
        }
        out += '\n';
    }
    return out;
}

} // namespace testing_support
