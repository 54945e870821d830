#include "FieldScanner.h"

#include <cstring>

namespace NS_DECODE {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool CFieldScanner::Int(long& v)
{
    size_t i = m_nPos;
    bool bNeg = false;
    if (i < m_line.size() && m_line[i] == '-') {
        bNeg = true;
        ++i;
    }
    size_t nStart = i;
    long n = 0;
    while (i < m_line.size() && IsDigit(m_line[i]) && i - nStart < 9)
        n = n * 10 + (m_line[i++] - '0');
    if (i == nStart || (i < m_line.size() && IsDigit(m_line[i])))
        return false;
    v = bNeg ? -n : n;
    m_nPos = i;
    return true;
}

bool CFieldScanner::Real(std::string& text)
{
    size_t i = m_nPos;
    if (i < m_line.size() && m_line[i] == '-')
        ++i;
    size_t nDigits = i;
    while (i < m_line.size() && IsDigit(m_line[i]))
        ++i;
    if (i == nDigits)
        return false;
    if (i < m_line.size() && m_line[i] == '.') {
        size_t nFrac = ++i;
        while (i < m_line.size() && IsDigit(m_line[i]))
            ++i;
        if (i == nFrac)
            return false;
    }
    text = m_line.substr(m_nPos, i - m_nPos);
    m_nPos = i;
    return true;
}

bool CFieldScanner::Literal(const char* psz)
{
    size_t n = strlen(psz);
    if (m_line.size() - m_nPos < n || m_line.compare(m_nPos, n, psz) != 0)
        return false;
    m_nPos += n;
    return true;
}

bool CFieldScanner::OneOf(const char* const* words, int& index)
{
    // Longest match first, so that "ON" does not take the start of "ONE".
    int nBest = -1;
    size_t nBestLen = 0;
    for (int i = 0; words[i]; ++i) {
        size_t n = strlen(words[i]);
        if (n > nBestLen && m_line.size() - m_nPos >= n && m_line.compare(m_nPos, n, words[i]) == 0) {
            nBest = i;
            nBestLen = n;
        }
    }
    if (nBest < 0)
        return false;
    index = nBest;
    m_nPos += nBestLen;
    return true;
}

} // namespace NS_DECODE
