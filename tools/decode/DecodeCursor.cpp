#include "DecodeCursor.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace NS_DECODE {

namespace {

std::string FormatV(const char* fmt, va_list ap)
{
    char buf[512];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(buf, sizeof buf, fmt, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof buf)
        return std::string(buf, static_cast<size_t>(n));
    std::string s(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&s[0], s.size(), fmt, ap);
    s.resize(static_cast<size_t>(n));
    return s;
}

} // namespace

CDecodeCursor::CDecodeCursor(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                             const tagDecodeLimits& limits)
    : m_pData(pData), m_nSize(pData ? nSize : 0), m_nPos(0), m_result(result), m_limits(limits),
      m_nBooked(0), m_bFailed(false)
{
}

bool CDecodeCursor::StartsWith(const char* psz) const
{
    size_t n = strlen(psz);
    return Left() >= n && memcmp(Here(), psz, n) == 0;
}

bool CDecodeCursor::ReadU8(uint8_t& v, const char* what)
{
    if (AtEnd())
        return Fail(m_nPos, "expected %s, found end of stream", what);
    v = m_pData[m_nPos++];
    return true;
}

bool CDecodeCursor::ReadU16(uint16_t& v, const char* what)
{
    if (Left() < 2)
        return Fail(m_nPos, "expected %s (2 bytes), found %s", what,
                    Left() ? "1 byte before the end of stream" : "end of stream");
    v = static_cast<uint16_t>(m_pData[m_nPos] | (m_pData[m_nPos + 1] << 8));
    m_nPos += 2;
    return true;
}

bool CDecodeCursor::ReadU32(uint32_t& v, const char* what)
{
    if (Left() < 4)
        return Fail(m_nPos, "expected %s (4 bytes), found %zu bytes before the end of stream", what,
                    Left());
    v = static_cast<uint32_t>(m_pData[m_nPos]) | static_cast<uint32_t>(m_pData[m_nPos + 1]) << 8
        | static_cast<uint32_t>(m_pData[m_nPos + 2]) << 16
        | static_cast<uint32_t>(m_pData[m_nPos + 3]) << 24;
    m_nPos += 4;
    return true;
}

bool CDecodeCursor::ReadBytes(size_t n, const unsigned char*& p, const char* what)
{
    if (Left() < n)
        return Fail(m_nPos, "expected %s (%zu bytes), found %zu bytes before the end of stream",
                    what, n, Left());
    p = m_pData + m_nPos;
    m_nPos += n;
    return true;
}

bool CDecodeCursor::ExpectByte(uint8_t b, const char* what)
{
    if (AtEnd() || m_pData[m_nPos] != b)
        return Fail(m_nPos, "expected %s (%02X), found %s", what, b, DescribeAt(m_nPos).c_str());
    ++m_nPos;
    return true;
}

bool CDecodeCursor::ReadLine(std::string& line)
{
    size_t i = m_nPos;
    while (i < m_nSize && m_pData[i] >= 0x20 && m_pData[i] <= 0x7E)
        ++i;
    if (i >= m_nSize)
        return Fail(i, "expected CR LF to end the command line, found end of stream");
    if (m_pData[i] != '\r')
        return Fail(i, "expected a printable command character or CR LF, found %s",
                    DescribeAt(i).c_str());
    if (i + 1 >= m_nSize || m_pData[i + 1] != '\n')
        return Fail(i + 1, "expected LF after CR, found %s", DescribeAt(i + 1).c_str());
    line.assign(reinterpret_cast<const char*>(m_pData + m_nPos), i - m_nPos);
    m_nPos = i + 2;
    return true;
}

bool CDecodeCursor::Fail(size_t nOffset, const char* fmt, ...)
{
    if (m_bFailed)
        return false;
    m_bFailed = true;
    va_list ap;
    va_start(ap, fmt);
    std::string text = FormatV(fmt, ap);
    va_end(ap);
    m_result.bOk = false;
    m_result.nErrorOffset = nOffset;
    m_result.strError = "offset " + std::to_string(nOffset) + ": " + text;
    return false;
}

void CDecodeCursor::Warn(size_t nOffset, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = "offset " + std::to_string(nOffset) + ": " + FormatV(fmt, ap);
    va_end(ap);
    m_result.strListing += "  warning: " + text + "\n";
    m_result.vWarnings.push_back(text);
}

void CDecodeCursor::List(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    m_result.strListing += FormatV(fmt, ap);
    va_end(ap);
    m_result.strListing += '\n';
}

std::string CDecodeCursor::DescribeAt(size_t nOffset) const
{
    if (nOffset >= m_nSize)
        return "end of stream";
    unsigned char c = m_pData[nOffset];
    char buf[32];
    if (c >= 0x20 && c <= 0x7E)
        snprintf(buf, sizeof buf, "byte 0x%02X ('%c')", c, c);
    else
        snprintf(buf, sizeof buf, "byte 0x%02X", c);
    return buf;
}

bool CDecodeCursor::ReserveImage(size_t nBytes, size_t nOffset)
{
    if (nBytes > m_limits.nMaxImageBytes)
        return Fail(nOffset, "expected an image of at most %zu bytes, the size fields give %zu bytes",
                    m_limits.nMaxImageBytes, nBytes);
    if (nBytes > m_limits.nMaxTotalBytes - m_nBooked)
        return Fail(nOffset,
                    "expected the images of the stream to stay within %zu bytes in all, this "
                    "image of %zu bytes goes beyond",
                    m_limits.nMaxTotalBytes, nBytes);
    m_nBooked += nBytes;
    return true;
}

void CDecodeCursor::AddPage(tagDecodedPage&& page)
{
    m_result.vPages.push_back(std::move(page));
}

bool FinishRun(CDecodeCursor& cur, tagDecodeResult& result)
{
    if (cur.Failed())
        return false;
    if (result.vPages.empty())
        return cur.Fail(cur.Pos(), "expected at least one page, found %s",
                        cur.Pos() == 0 ? "an empty stream" : "none before the end of stream");
    result.bOk = true;
    return true;
}

bool AddCopies(CDecodeCursor& cur, size_t nOffset, tagDecodedPage&& page, long copies)
{
    if (copies > kMaxCopies)
        return cur.Fail(nOffset, "expected at most %ld copies of a page, found more", kMaxCopies);
    if (copies < 1) {
        cur.Warn(nOffset, "a copy count of %ld, page drawn once", copies);
        copies = 1;
    }
    if (copies > 1)
        cur.List("  printed %ld times: pages %d to %ld", copies, cur.PageCount() + 1,
                 cur.PageCount() + copies);
    for (long i = 1; i < copies; ++i) {
        if (!cur.ReserveImage(page.vBits.size(), nOffset))
            return false;
        tagDecodedPage copy = page;
        cur.AddPage(std::move(copy));
    }
    cur.AddPage(std::move(page));
    return true;
}

} // namespace NS_DECODE
