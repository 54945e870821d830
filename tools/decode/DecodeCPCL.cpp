// CPCL: a label starts with the header line "! offset xres yres height
// qty" and ends with PRINT, which prints it qty times. CG carries the image
// as raw rows (1 = ink), either right after its last field without a
// separator or a line end (one graphic for the whole label), or in the
// standard form with a space before the data and CR LF after it (one
// graphic per area of ink).
#include <cstdio>

#include "DecodeCursor.h"
#include "FieldScanner.h"
#include "PageCanvas.h"
#include "StreamDecode.h"

namespace NS_DECODE {

namespace {

// Decimal field of the CG header, read from the stream. The fields are
// separated by one space; the last one (y) is followed directly by the
// image data, so it ends at the first non-digit, and a leading 0 is the
// whole field (the filter writes y as 0, and an image byte may be a digit).
bool ReadCgField(CDecodeCursor& cur, const char* name, long& v, bool bLast)
{
    size_t nStart = cur.Pos();
    size_t n = 0;
    v = 0;
    while (n < cur.Left() && cur.PeekAt(n) >= '0' && cur.PeekAt(n) <= '9') {
        if (n == 9)
            return cur.Fail(nStart + n, "expected at most 9 digits in the CG field %s", name);
        v = v * 10 + (cur.PeekAt(n) - '0');
        ++n;
        if (bLast && v == 0)
            break;
    }
    if (n == 0)
        return cur.Fail(nStart, "expected the CG field %s (decimal digits), found %s", name,
                        cur.DescribeAt(nStart).c_str());
    cur.Skip(n);
    if (bLast)
        return true;
    if (cur.AtEnd() || cur.PeekAt(0) != ' ')
        return cur.Fail(cur.Pos(), "expected a space after the CG field %s, found %s", name,
                        cur.DescribeAt(cur.Pos()).c_str());
    cur.Skip(1);
    return true;
}

class CCpclDecoder {
public:
    explicit CCpclDecoder(CDecodeCursor& cur) : m_cur(cur) {}

    bool Run()
    {
        while (!m_cur.AtEnd()) {
            size_t nOffset = m_cur.Pos();
            if (m_bInPage && m_cur.StartsWith("CG ")) {
                if (!Graphic(nOffset))
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
    bool Command(size_t nOffset, const std::string& line)
    {
        const char* raw = line.c_str();
        CFieldScanner s(line);
        long v[5] = {0, 0, 0, 0, 0};
        if (s.Literal("! ")) {
            if (m_bInPage)
                return m_cur.Fail(nOffset, "expected PRINT to end page %d before the next header "
                                  "line", m_cur.PageCount() + 1);
            for (int i = 0; i < 5; ++i)
                if ((i > 0 && !s.Literal(" ")) || !s.Int(v[i]))
                    return m_cur.Fail(nOffset, "expected the header \"! offset xres yres height "
                                      "quantity\", found \"%s\"", raw);
            if (!s.AtEnd())
                return m_cur.Fail(nOffset, "expected the header \"! offset xres yres height "
                                  "quantity\", found \"%s\"", raw);
            m_bInPage = true;
            m_nPageStart = nOffset;
            m_nQuantity = v[4];
            m_cur.List("page %d (offset %zu)", m_cur.PageCount() + 1, nOffset);
            m_cur.List("  @%zu %s: label header, offset %ld, resolution %ld × %ld, height %ld rows, "
                       "quantity %ld", nOffset, raw, v[0], v[1], v[2], v[3], v[4]);
            return true;
        }
        if (!m_bInPage)
            return m_cur.Fail(nOffset, "expected a header line \"! ...\" to start a label, found "
                              "\"%s\"", raw);
        if (s.Literal("PAGE - WIDTH ") || s.Literal("PAGE-WIDTH ") || s.Literal("PW ")) {
            if (!s.Int(v[0]) || !s.AtEnd())
                return m_cur.Fail(nOffset, "expected \"PAGE - WIDTH n\", found \"%s\"", raw);
            m_cur.List("  @%zu %s: page width %ld", nOffset, raw, v[0]);
        } else if (line == "FORM") {
            m_cur.List("  @%zu FORM: feed to the next label (gap or black line media)", nOffset);
        } else if (line == "PRINT") {
            m_cur.List("  @%zu PRINT: print the label", nOffset);
            return EndPage(nOffset);
        } else {
            m_cur.Warn(nOffset, "unknown CPCL command \"%s\"", raw);
        }
        return true;
    }

    bool Graphic(size_t nOffset)
    {
        m_cur.Skip(3);
        long w = 0, h = 0, x = 0, y = 0;
        if (!ReadCgField(m_cur, "width", w, false) || !ReadCgField(m_cur, "height", h, false)
            || !ReadCgField(m_cur, "x", x, false) || !ReadCgField(m_cur, "y", y, true))
            return false;
        size_t nBytes = static_cast<size_t>(w) * static_cast<size_t>(h);
        // The standard form: a space, the data, CR LF. The filter's form for
        // a whole label puts the data straight after y, so its first byte may
        // be a space too; only the CR LF right behind the data tells them
        // apart.
        bool bSpaced = m_cur.Left() >= nBytes + 3 && m_cur.PeekAt(0) == ' ' &&
                       m_cur.PeekAt(nBytes + 1) == '\r' && m_cur.PeekAt(nBytes + 2) == '\n';
        if (bSpaced)
            m_cur.Skip(1);
        char what[80];
        snprintf(what, sizeof what, "graphics data of %ld × %ld bytes", w, h);
        const unsigned char* p = nullptr;
        if (!m_cur.ReadBytes(nBytes, p, what) || !m_cur.ReserveImage(nBytes, nOffset))
            return false;
        if (bSpaced)
            m_cur.Skip(2);
        m_cur.List("  @%zu CG %ld %ld %ld %ld: graphics at x %ld, y %ld, %ld bytes (%ld dots) × %ld "
                   "rows (1 = ink), %zu data bytes", nOffset, w, h, x, y, x, y, w, w * 8, h, nBytes);
        m_canvas.Add(static_cast<size_t>(x), static_cast<size_t>(y), static_cast<size_t>(w),
                     static_cast<size_t>(h), std::vector<unsigned char>(p, p + nBytes));
        return true;
    }

    bool EndPage(size_t nOffset)
    {
        tagDecodedPage page;
        if (!m_canvas.Compose(m_cur, nOffset, page))
            return false;
        if (page.iHeight == 0)
            m_cur.List("  page %d: no graphics, blank label", m_cur.PageCount() + 1);
        else
            m_cur.List("  page %d: image %d × %d dots", m_cur.PageCount() + 1, page.iWidth, page.iHeight);
        m_bInPage = false;
        return AddCopies(m_cur, nOffset, std::move(page), m_nQuantity);
    }

    CDecodeCursor& m_cur;
    CPageCanvas m_canvas;
    bool m_bInPage = false;
    size_t m_nPageStart = 0;
    long m_nQuantity = 1;
};

} // namespace

bool DecodeCPCL(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                const tagDecodeLimits& limits)
{
    result = tagDecodeResult();
    CDecodeCursor cur(pData, nSize, result, limits);
    CCpclDecoder dec(cur);
    if (!dec.Run())
        return false;
    return FinishRun(cur, result);
}

} // namespace NS_DECODE
