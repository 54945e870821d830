// Reads the fields of one text command line (TSPL, CPCL): decimal numbers,
// fixed words and separators, left to right.
#pragma once

#include <cstddef>
#include <string>

namespace NS_DECODE {

class CFieldScanner {
public:
    explicit CFieldScanner(const std::string& line, size_t nPos = 0) : m_line(line), m_nPos(nPos) {}

    size_t Pos() const { return m_nPos; }
    bool AtEnd() const { return m_nPos >= m_line.size(); }
    std::string Rest() const { return m_line.substr(m_nPos < m_line.size() ? m_nPos : m_line.size()); }

    // An integer: optional '-', 1 to 9 digits.
    bool Int(long& v);
    // A number as text: optional '-', digits, optionally '.' and digits.
    bool Real(std::string& text);
    // The exact text psz.
    bool Literal(const char* psz);
    // One of the words in the null-terminated list; index of the match.
    bool OneOf(const char* const* words, int& index);

private:
    const std::string& m_line;
    size_t m_nPos;
};

} // namespace NS_DECODE
