// TSPL: text command lines ended by CR LF; a page runs from its first
// command to PRINT. BITMAP carries a binary payload inside its line:
// mode 1 is the raw rows with 0 = ink, mode 3 a zlib stream of the
// complemented rows (1 = ink).
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "DecodeCursor.h"
#include "FieldScanner.h"
#include "PageCanvas.h"
#include "StreamDecode.h"

namespace NS_DECODE {

namespace {

const char* const kUnits[] = {" mm", " dot", nullptr};
const char* const kOnOff[] = {"ON", "OFF", nullptr};

// A length with its optional unit: "3 mm", "12 dot" or a bare "12".
bool Measure(CFieldScanner& s, std::string& text)
{
    std::string num;
    if (!s.Real(num))
        return false;
    int u = 0;
    if (s.OneOf(kUnits, u))
        text = num + kUnits[u];
    else
        text = num + " (no unit)";
    return true;
}

// Decimal field of the BITMAP header, read from the stream and ended by ','.
bool ReadBitmapField(CDecodeCursor& cur, const char* name, long& v)
{
    size_t nStart = cur.Pos();
    size_t n = 0;
    v = 0;
    while (n < cur.Left() && cur.PeekAt(n) >= '0' && cur.PeekAt(n) <= '9') {
        if (n == 9)
            return cur.Fail(nStart + n, "expected ',' after at most 9 digits of the BITMAP field %s, "
                            "found another digit", name);
        v = v * 10 + (cur.PeekAt(n) - '0');
        ++n;
    }
    if (n == 0)
        return cur.Fail(nStart, "expected the BITMAP field %s (decimal digits), found %s", name,
                        cur.DescribeAt(nStart).c_str());
    cur.Skip(n);
    if (cur.AtEnd() || cur.PeekAt(0) != ',')
        return cur.Fail(cur.Pos(), "expected ',' after the BITMAP field %s, found %s", name,
                        cur.DescribeAt(cur.Pos()).c_str());
    cur.Skip(1);
    return true;
}

// Inflates exactly nExpect bytes from the zlib stream at p (nLen bytes);
// the output grows with what the stream really holds, so a tiny stream
// cannot claim a huge allocation.
bool Inflate(CDecodeCursor& cur, size_t nDataOffset, const unsigned char* p, size_t nLen,
             size_t nExpect, std::vector<unsigned char>& out)
{
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK)
        return cur.Fail(nDataOffset, "expected to start zlib inflation, zlib refused");
    unsigned char chunk[65536];
    zs.next_in = const_cast<unsigned char*>(p);
    int rc = Z_OK;
    size_t nFed = 0;
    while (rc != Z_STREAM_END) {
        if (zs.avail_in == 0 && nFed < nLen) {
            size_t n = nLen - nFed;
            if (n > (1u << 30))
                n = 1u << 30;
            zs.avail_in = static_cast<uInt>(n);
            nFed += n;
        }
        zs.next_out = chunk;
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        size_t nGot = sizeof chunk - zs.avail_out;
        if (nGot > nExpect - out.size()) {
            inflateEnd(&zs);
            return cur.Fail(nDataOffset, "expected the zlib data to give %zu bytes, it gives more",
                            nExpect);
        }
        out.insert(out.end(), chunk, chunk + nGot);
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && nFed >= nLen) {
            size_t nAt = nDataOffset + nLen;
            inflateEnd(&zs);
            return cur.Fail(nAt, "expected the rest of the zlib stream, its %zu bytes end before it "
                            "is complete", nLen);
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            size_t nAt = nDataOffset + (nFed - zs.avail_in);
            std::string why = zs.msg ? zs.msg : "error " + std::to_string(rc);
            inflateEnd(&zs);
            return cur.Fail(nAt, "expected valid zlib data, zlib reports: %s", why.c_str());
        }
    }
    size_t nUsed = nFed - zs.avail_in;
    inflateEnd(&zs);
    if (nUsed != nLen)
        return cur.Fail(nDataOffset + nUsed, "expected the zlib stream to fill all %zu bytes of the "
                        "field, it ends after %zu", nLen, nUsed);
    if (out.size() != nExpect)
        return cur.Fail(nDataOffset + nLen, "expected the zlib data to give %zu bytes, it gives %zu",
                        nExpect, out.size());
    return true;
}

class CTsplDecoder {
public:
    explicit CTsplDecoder(CDecodeCursor& cur) : m_cur(cur) {}

    bool Run()
    {
        while (!m_cur.AtEnd()) {
            size_t nOffset = m_cur.Pos();
            if (!m_bInPage) {
                m_bInPage = true;
                m_nPageStart = nOffset;
                m_cur.List("page %d (offset %zu)", m_cur.PageCount() + 1, nOffset);
            }
            if (m_cur.StartsWith("BITMAP ")) {
                if (!Bitmap(nOffset))
                    return false;
                continue;
            }
            std::string line;
            if (!m_cur.ReadLine(line) || !Command(nOffset, line))
                return false;
        }
        if (m_bInPage)
            return m_cur.Fail(m_cur.Pos(), "expected PRINT to end page %d (begun at offset %zu), "
                              "found end of stream", m_cur.PageCount() + 1, m_nPageStart);
        return true;
    }

private:
    bool Malformed(size_t nOffset, const std::string& line, const char* form)
    {
        return m_cur.Fail(nOffset, "expected %s, found \"%s\"", form, line.c_str());
    }

    bool Command(size_t nOffset, const std::string& line)
    {
        const char* raw = line.c_str();
        CFieldScanner s(line);
        std::string a, b;
        long m = 0, n = 0;
        int k = 0;
        if (s.Literal("SIZE ")) {
            if (!Measure(s, a) || !s.Literal(",") || !Measure(s, b) || !s.AtEnd())
                return Malformed(nOffset, line, "SIZE width,height");
            m_cur.List("  @%zu %s: label size, width %s, height %s", nOffset, raw, a.c_str(), b.c_str());
        } else if (s.Literal("SET RIBBON ") || s.Literal("SET PEEL ")) {
            bool bRibbon = line.compare(4, 6, "RIBBON") == 0;
            if (!s.OneOf(kOnOff, k) || !s.AtEnd())
                return Malformed(nOffset, line, bRibbon ? "SET RIBBON ON|OFF" : "SET PEEL ON|OFF");
            if (bRibbon)
                m_cur.List("  @%zu %s: ribbon %s", nOffset, raw,
                           k == 0 ? "on (thermal transfer)" : "off (direct thermal)");
            else
                m_cur.List("  @%zu %s: peel mode %s", nOffset, raw, kOnOff[k]);
        } else if (s.Literal("SET ")) {
            m_cur.List("  @%zu %s: printer setting %s", nOffset, raw, s.Rest().c_str());
        } else if (s.Literal("REFERENCE ")) {
            if (!s.Int(m) || !s.Literal(",") || !s.Int(n) || !s.AtEnd())
                return Malformed(nOffset, line, "REFERENCE x,y");
            m_cur.List("  @%zu %s: reference point x %ld dots, y %ld dots", nOffset, raw, m, n);
        } else if (s.Literal("SHIFT ")) {
            // SHIFT y, or newer firmware's SHIFT x,y.
            if (!s.Int(m))
                return Malformed(nOffset, line, "SHIFT [x,]y");
            if (s.Literal(",")) {
                if (!s.Int(n) || !s.AtEnd())
                    return Malformed(nOffset, line, "SHIFT [x,]y");
                m_cur.List("  @%zu %s: label start shifted x %ld dots, y %ld dots", nOffset, raw, m, n);
            } else {
                if (!s.AtEnd())
                    return Malformed(nOffset, line, "SHIFT [x,]y");
                m_cur.List("  @%zu %s: label start shifted %ld dots down the paper", nOffset, raw, m);
            }
        } else if (s.Literal("GAP ") || s.Literal("BLINE ")) {
            bool bGap = line[0] == 'G';
            if (!Measure(s, a) || !s.Literal(",") || !Measure(s, b) || !s.AtEnd())
                return Malformed(nOffset, line, bGap ? "GAP m,n" : "BLINE m,n");
            if (bGap && a.compare(0, 2, "0 ") == 0 && b.compare(0, 2, "0 ") == 0)
                m_cur.List("  @%zu %s: media continuous (no gap)", nOffset, raw);
            else if (!bGap && a.compare(0, 2, "0 ") == 0)
                m_cur.List("  @%zu %s: media black line of height 0 (printers take it for "
                           "continuous media)", nOffset, raw);
            else
                m_cur.List("  @%zu %s: media %s, %s %s, offset %s", nOffset, raw,
                           bGap ? "gap" : "black line", bGap ? "gap" : "line height", a.c_str(),
                           b.c_str());
        } else if (s.Literal("OFFSET ")) {
            if (!Measure(s, a) || !s.AtEnd())
                return Malformed(nOffset, line, "OFFSET n");
            m_cur.List("  @%zu %s: feed offset %s", nOffset, raw, a.c_str());
        } else if (s.Literal("DENSITY ")) {
            if (!s.Int(n) || !s.AtEnd())
                return Malformed(nOffset, line, "DENSITY n");
            m_cur.List("  @%zu %s: density %ld", nOffset, raw, n);
        } else if (s.Literal("SPEED ")) {
            if (!s.Real(a) || !s.AtEnd())
                return Malformed(nOffset, line, "SPEED n");
            m_cur.List("  @%zu %s: speed %s", nOffset, raw, a.c_str());
        } else if (s.Literal("SETC ")) {
            std::string word;
            size_t nSpace = line.rfind(' ');
            if (nSpace <= 5 || nSpace == std::string::npos)
                return Malformed(nOffset, line, "SETC NAME ON|OFF");
            CFieldScanner v(line, nSpace + 1);
            if (!v.OneOf(kOnOff, k) || !v.AtEnd())
                return Malformed(nOffset, line, "SETC NAME ON|OFF");
            word = line.substr(5, nSpace - 5);
            m_cur.List("  @%zu %s: setting %s %s", nOffset, raw, word.c_str(), kOnOff[k]);
        } else if (line == "CLS") {
            m_cur.List("  @%zu %s: clear the image buffer", nOffset, raw);
        } else if (s.Literal("PRINT ")) {
            bool bCopies = false;
            if (!s.Int(m))
                return Malformed(nOffset, line, "PRINT m[,n]");
            if (!s.AtEnd()) {
                if (!s.Literal(",") || !s.Int(n) || !s.AtEnd())
                    return Malformed(nOffset, line, "PRINT m[,n]");
                bCopies = true;
            }
            if (bCopies)
                m_cur.List("  @%zu %s: print %ld set(s), %ld copies each", nOffset, raw, m, n);
            else
                m_cur.List("  @%zu %s: print %ld set(s)", nOffset, raw, m);
            const long copies = m <= 0 || (bCopies && n <= 0) ? 0
                                : bCopies && m > kMaxCopies / n ? kMaxCopies + 1
                                                                : m * (bCopies ? n : 1);
            return EndPage(nOffset, copies);
        } else {
            m_cur.Warn(nOffset, "unknown TSPL command \"%s\"", raw);
        }
        return true;
    }

    bool Bitmap(size_t nOffset)
    {
        m_cur.Skip(7);
        long x = 0, y = 0, w = 0, h = 0, mode = 0, len = 0;
        if (!ReadBitmapField(m_cur, "x", x) || !ReadBitmapField(m_cur, "y", y)
            || !ReadBitmapField(m_cur, "width", w) || !ReadBitmapField(m_cur, "height", h))
            return false;
        size_t nModeAt = m_cur.Pos();
        if (!ReadBitmapField(m_cur, "mode", mode))
            return false;
        if (mode != 1 && mode != 3)
            return m_cur.Fail(nModeAt, "expected BITMAP mode 1 (raw) or 3 (zlib), found %ld", mode);
        if (mode == 3 && !ReadBitmapField(m_cur, "compressed length", len))
            return false;
        size_t nBytes = static_cast<size_t>(w) * static_cast<size_t>(h);
        size_t nDataAt = m_cur.Pos();
        std::vector<unsigned char> ink;
        const unsigned char* p = nullptr;
        if (mode == 1) {
            char what[96];
            snprintf(what, sizeof what, "bitmap data of %ld × %ld bytes", w, h);
            if (!m_cur.ReadBytes(nBytes, p, what) || !m_cur.ReserveImage(nBytes, nOffset))
                return false;
            ink.resize(nBytes);
            for (size_t i = 0; i < nBytes; ++i)
                ink[i] = static_cast<unsigned char>(~p[i]);  // mode 1: a 0 bit prints
            m_cur.List("  @%zu BITMAP %ld,%ld,%ld,%ld,1,: bitmap at x %ld, y %ld, %ld bytes (%ld dots) "
                       "× %ld rows, mode 1 (raw, 0 = ink), %zu data bytes",
                       nOffset, x, y, w, h, x, y, w, w * 8, h, nBytes);
        } else {
            if (!m_cur.ReadBytes(static_cast<size_t>(len), p, "zlib data of the length field")
                || !m_cur.ReserveImage(nBytes, nOffset))
                return false;
            if (!Inflate(m_cur, nDataAt, p, static_cast<size_t>(len), nBytes, ink))
                return false;
            m_cur.List("  @%zu BITMAP %ld,%ld,%ld,%ld,3,%ld,: bitmap at x %ld, y %ld, %ld bytes (%ld "
                       "dots) × %ld rows, mode 3 (zlib, 1 = ink), %ld compressed bytes give %zu",
                       nOffset, x, y, w, h, len, x, y, w, w * 8, h, len, nBytes);
        }
        if (!m_cur.ExpectByte('\r', "CR after the bitmap data") || !m_cur.ExpectByte('\n', "LF after CR"))
            return false;
        m_canvas.Add(static_cast<size_t>(x), static_cast<size_t>(y), static_cast<size_t>(w),
                     static_cast<size_t>(h), std::move(ink));
        return true;
    }

    bool EndPage(size_t nOffset, long copies)
    {
        tagDecodedPage page;
        if (!m_canvas.Compose(m_cur, nOffset, page))
            return false;
        if (page.iHeight == 0)
            m_cur.List("  page %d: no bitmap, blank label", m_cur.PageCount() + 1);
        else
            m_cur.List("  page %d: image %d × %d dots", m_cur.PageCount() + 1, page.iWidth, page.iHeight);
        m_bInPage = false;
        return AddCopies(m_cur, nOffset, std::move(page), copies);
    }

    CDecodeCursor& m_cur;
    CPageCanvas m_canvas;
    bool m_bInPage = false;
    size_t m_nPageStart = 0;
};

} // namespace

bool DecodeTSPL(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                const tagDecodeLimits& limits)
{
    result = tagDecodeResult();
    CDecodeCursor cur(pData, nSize, result, limits);
    CTsplDecoder dec(cur);
    if (!dec.Run())
        return false;
    return FinishRun(cur, result);
}

} // namespace NS_DECODE
