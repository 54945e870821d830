#include "StreamCheck.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "HfmDecoder.h"

namespace testing_support {

namespace {

// A cursor over the stream with the small parsers the three languages need.
class CReader {
public:
    explicit CReader(const std::string& s) : m_s(s) {}

    bool AtEnd() const { return m_pos >= m_s.size(); }
    size_t Pos() const { return m_pos; }
    size_t Left() const { return m_s.size() - m_pos; }

    bool Skip(const char* text)
    {
        const size_t n = std::strlen(text);
        if (m_s.compare(m_pos, n, text) != 0)
            return false;
        m_pos += n;
        return true;
    }
    bool LooksAt(const char* text, size_t ahead = 0) const
    {
        return m_pos + ahead <= m_s.size() &&
               m_s.compare(m_pos + ahead, std::strlen(text), text) == 0;
    }
    // Decimal integer as "%d" writes it.
    bool Int(long long* v)
    {
        size_t p = m_pos;
        bool neg = false;
        if (p < m_s.size() && m_s[p] == '-') {
            neg = true;
            ++p;
        }
        const size_t digits = p;
        long long r = 0;
        while (p < m_s.size() && m_s[p] >= '0' && m_s[p] <= '9' && p - digits < 12)
            r = r * 10 + (m_s[p++] - '0');
        if (p == digits || (p < m_s.size() && m_s[p] >= '0' && m_s[p] <= '9'))
            return false;
        m_pos = p;
        *v = neg ? -r : r;
        return true;
    }
    bool Count(long long* v) { return Int(v) && *v >= 0; }
    // A text line of printable ASCII ending in CR LF; the line without it.
    bool Line(std::string* line)
    {
        const size_t end = m_s.find("\r\n", m_pos);
        if (end == std::string::npos)
            return false;
        for (size_t i = m_pos; i < end; ++i)
            if (m_s[i] < 0x20 || m_s[i] > 0x7E)
                return false;
        *line = m_s.substr(m_pos, end - m_pos);
        m_pos = end + 2;
        return true;
    }
    const unsigned char* Bytes(size_t n)
    {
        if (n > Left())
            return nullptr;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(m_s.data()) + m_pos;
        m_pos += n;
        return p;
    }

private:
    const std::string& m_s;
    size_t m_pos = 0;
};

int Fail(std::string* error, size_t at, const std::string& what)
{
    if (error)
        *error = what + " at byte " + std::to_string(at);
    return -1;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Page images never exceed the image core's storage limit.
const long long kMaxBitmap = 1LL << 29;

} // namespace

int CheckTsplStream(const std::string& out, std::string* error)
{
    static const char* const kSetup[] = {"SET RIBBON ", "SET PEEL ", "REFERENCE ", "GAP ",
                                         "BLINE ",      "OFFSET ",   "DENSITY ",   "SPEED ",
                                         "SETC "};
    CReader r(out);
    int pages = 0;
    while (!r.AtEnd()) {
        std::string line;
        if (!r.LooksAt("SIZE ") || !r.Line(&line))
            return Fail(error, r.Pos(), "page does not start with a SIZE line");
        std::string last = line;
        while (!r.LooksAt("BITMAP ") && !r.LooksAt("PRINT ")) {
            const size_t at = r.Pos();
            if (!r.Line(&line))
                return Fail(error, at, "setup line without CR LF or with binary bytes");
            bool known = line == "CLS";
            for (const char* prefix : kSetup)
                known = known || StartsWith(line, prefix);
            if (!known)
                return Fail(error, at, "unexpected line '" + line + "'");
            last = line;
        }
        if (last != "CLS")
            return Fail(error, r.Pos(), "BITMAP does not follow CLS");
        // One bitmap of the whole label, or one for each area with ink (none
        // on a blank label), each ended by CR LF.
        while (r.LooksAt("BITMAP ")) {
            long long x = 0, y = 0, stride = 0, height = 0, mode = 0;
            if (!r.Skip("BITMAP ") || !r.Count(&x) || !r.Skip(",") || !r.Count(&y) ||
                !r.Skip(",") || !r.Count(&stride) || !r.Skip(",") || !r.Count(&height) ||
                !r.Skip(",") || !r.Count(&mode) || !r.Skip(","))
                return Fail(error, r.Pos(), "malformed BITMAP fields");
            if (stride * height > kMaxBitmap)
                return Fail(error, r.Pos(), "BITMAP size out of bounds");
            const size_t raw = static_cast<size_t>(stride * height);
            if (mode == 1) {
                if (!r.Bytes(raw))
                    return Fail(error, r.Pos(), "mode 1 payload cut short");
            } else if (mode == 3) {
                long long packedLen = 0;
                if (!r.Count(&packedLen) || !r.Skip(","))
                    return Fail(error, r.Pos(), "malformed mode 3 length");
                const unsigned char* packed = r.Bytes(static_cast<size_t>(packedLen));
                if (!packed)
                    return Fail(error, r.Pos(), "mode 3 payload cut short");
                std::vector<unsigned char> plain(raw + 1);
                uLongf plainLen = static_cast<uLongf>(plain.size());
                if (uncompress(plain.data(), &plainLen, packed, static_cast<uLong>(packedLen)) !=
                        Z_OK ||
                    plainLen != raw)
                    return Fail(error, r.Pos(),
                                "mode 3 payload is not a zlib stream of the bitmap");
            } else {
                return Fail(error, r.Pos(), "unknown BITMAP mode");
            }
            if (!r.Skip("\r\n"))
                return Fail(error, r.Pos(), "bitmap not ended by CR LF");
        }
        if (!r.Skip("PRINT 1,1\r\n"))
            return Fail(error, r.Pos(), "bitmaps not followed by PRINT 1,1");
        ++pages;
    }
    return pages;
}

int CheckCpclStream(const std::string& out, std::string* error)
{
    CReader r(out);
    int pages = 0;
    while (!r.AtEnd()) {
        long long offset = 0, height = 0, width = 0, stride = 0, cgHeight = 0;
        if (!r.Skip("! ") || !r.Int(&offset) || !r.Skip(" 200 200 ") || !r.Count(&height) ||
            !r.Skip(" 1\r\n"))
            return Fail(error, r.Pos(), "malformed page header line");
        if (!r.Skip("PAGE - WIDTH ") || !r.Int(&width) || !r.Skip("\r\n"))
            return Fail(error, r.Pos(), "malformed PAGE - WIDTH line");
        // One graphic of the whole page (its rows straight after "0 0"),
        // or one for each area with ink in the standard form (a space
        // before the rows, CR LF after them), none on a blank label.
        while (r.LooksAt("CG ")) {
            long long x = 0, y = 0;
            if (!r.Skip("CG ") || !r.Count(&stride) || !r.Skip(" ") || !r.Count(&cgHeight) ||
                !r.Skip(" ") || !r.Count(&x) || !r.Skip(" "))
                return Fail(error, r.Pos(), "malformed CG command");
            if (stride * cgHeight > kMaxBitmap)
                return Fail(error, r.Pos(), "CG payload out of bounds");
            const size_t bytes = static_cast<size_t>(stride * cgHeight);
            // (The whole page's rows follow its "0" at once, so the first
            // of them may be a digit.)
            const bool whole = x == 0 && cgHeight == height && stride % 4 == 0 &&
                               r.LooksAt("0") &&
                               (r.LooksAt("FORM\r\n", 1 + bytes) ||
                                r.LooksAt("PRINT\r\n", 1 + bytes));
            if (whole) {
                r.Skip("0");
                r.Bytes(bytes);
                break;
            }
            if (!r.Count(&y))
                return Fail(error, r.Pos(), "malformed CG command");
            if (!r.Skip(" ") || !r.Bytes(bytes) || !r.Skip("\r\n"))
                return Fail(error, r.Pos(), "CG payload cut short or not ended by CR LF");
            if (y + cgHeight > height)
                return Fail(error, r.Pos(), "CG below the page");
        }
        r.Skip("FORM\r\n");
        if (!r.Skip("PRINT\r\n"))
            return Fail(error, r.Pos(), "page does not end with PRINT");
        ++pages;
    }
    return pages;
}

namespace {

unsigned Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Record {
    unsigned command;
    const unsigned char* data;  // the record's data, after its 5-byte head
    size_t length;
};

} // namespace

int CheckPaperangStream(const std::string& out, std::string* error)
{
    // Frames first: start, type, length, payload, CRC of the payload, end.
    std::vector<Record> records;
    std::vector<size_t> offsets;
    CReader r(out);
    while (!r.AtEnd()) {
        const size_t at = r.Pos();
        const unsigned char* head = r.Bytes(4);
        if (!head || head[0] != 0xA5 || head[1] != 0x01)
            return Fail(error, at, "frame does not start with A5 01");
        const unsigned len = Le16(head + 2);
        const unsigned char* payload = r.Bytes(len);
        const unsigned char* tail = r.Bytes(5);
        if (!payload || !tail)
            return Fail(error, at, "frame cut short");
        // The standard CRC-32 continued from 0x35769521.
        const uint32_t crc = static_cast<uint32_t>(crc32(0x35769521u, payload, len));
        if (Le32(tail) != crc || tail[4] != 0x5A)
            return Fail(error, at, "frame CRC or end byte wrong");
        if (len < 5 || payload[0] != 0x05 || payload[2] != 0x03 || Le16(payload + 3) != len - 5)
            return Fail(error, at, "malformed command record");
        records.push_back({payload[1], payload + 5, len - 5u});
        offsets.push_back(at);
    }

    // Then the page sequence: begin, tree, blocks 0..n-1, end, feed or locate.
    int pages = 0;
    size_t i = 0;
    while (i < records.size()) {
        if (records[i].command != 0x19 || records[i].length != 0)
            return Fail(error, offsets[i], "page does not start with begin printing");
        if (++i >= records.size() || records[i].command != 0x1C)
            return Fail(error, i < offsets.size() ? offsets[i] : out.size(),
                        "begin printing not followed by the tree");
        CHfmDecoder decoder;
        if (!decoder.BuildFromRecord(records[i].data, records[i].length))
            return Fail(error, offsets[i], "tree does not rebuild: " + decoder.Error());
        ++i;
        unsigned stride = 0;
        for (unsigned index = 0; i < records.size() && records[i].command == 0x1B; ++i, ++index) {
            const Record& b = records[i];
            if (b.length < 12)
                return Fail(error, offsets[i], "bitmap record too short");
            const unsigned len = Le16(b.data + 10);
            if (Le16(b.data) != index || Le16(b.data + 2) != 8 + len || b.data[4] != 0x01 ||
                b.data[7] != 0 || b.data[8] != 0 || b.data[9] != 0x01 || b.length != 12 + len)
                return Fail(error, offsets[i], "bitmap record fields inconsistent");
            const unsigned s = Le16(b.data + 5);
            if (s == 0 || (stride != 0 && s != stride))
                return Fail(error, offsets[i], "bitmap stride zero or changing within a page");
            stride = s;
            std::vector<unsigned char> rows;
            if (!decoder.DecodeBlock(b.data + 12, len, rows))
                return Fail(error, offsets[i], "block does not decode: " + decoder.Error());
            if (rows.empty() || rows.size() % stride != 0)
                return Fail(error, offsets[i], "block does not hold whole rows");
        }
        if (i >= records.size() || records[i].command != 0x1A || records[i].length != 0)
            return Fail(error, i < offsets.size() ? offsets[i] : out.size(),
                        "page does not end with end printing");
        ++i;
        if (i < records.size() && records[i].command == 0x21) {
            if (records[i].length != 4)
                return Fail(error, offsets[i], "paper locate record malformed");
            ++i;
        } else if (i < records.size() && records[i].command == 0x16) {
            if (records[i].length != 2)
                return Fail(error, offsets[i], "feed record malformed");
            ++i;
        }
        ++pages;
    }
    return pages;
}

} // namespace testing_support
