#include "DocumentFormat.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "PrinterFamilies.h"

namespace bandrill_app {

namespace {

bool Starts(const unsigned char* d, size_t n, const char* magic, size_t len)
{
    return n >= len && std::memcmp(d, magic, len) == 0;
}

const char* RawFormat(const char* language)
{
    const PrinterFamily* f = FindPrinterFamilyByLanguage(language);
    return f ? f->rawFormat : nullptr;
}

// Text: no NUL and no control characters but tab, line feed, carriage
// return and form feed (and escape, which only printer commands have).
bool IsText(const unsigned char* d, size_t n, bool& escape)
{
    escape = false;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = d[i];
        if (c == 0x1B)
            escape = true;
        else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F)
            return false;
    }
    return n > 0;
}

// The first line that is not blank.
std::string FirstLine(const unsigned char* d, size_t n)
{
    size_t i = 0;
    while (i < n && std::isspace(d[i]))
        ++i;
    size_t j = i;
    while (j < n && d[j] != '\n' && d[j] != '\r')
        ++j;
    return std::string(reinterpret_cast<const char*>(d) + i, j - i);
}

// A line read from left to right, as the printer reads a command.
class CLineScan {
public:
    explicit CLineScan(const std::string& line) : m_line(line) {}

    bool End() const { return m_at == m_line.size(); }
    // The word, in any case.
    bool Word(const char* word)
    {
        const size_t n = std::strlen(word);
        if (m_line.size() - m_at < n)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (std::toupper(static_cast<unsigned char>(m_line[m_at + i])) != word[i])
                return false;
        m_at += n;
        return true;
    }
    // As many of the characters as there are; false when there is none.
    bool Some(const char* chars)
    {
        const size_t from = m_at;
        while (m_at < m_line.size() && m_line[m_at] != '\0' && std::strchr(chars, m_line[m_at]))
            ++m_at;
        return m_at > from;
    }
    void Any(const char* chars) { Some(chars); }

private:
    const std::string& m_line;
    size_t m_at = 0;
};

// CPCL starts a label "! offset dpi dpi height quantity".
bool IsCpclStart(const std::string& line)
{
    CLineScan s(line);
    if (!s.Word("!"))
        return false;
    for (int i = 0; i < 5; ++i)
        if (!s.Some(" ") || !s.Some("0123456789"))
            return false;
    s.Any(" \t\v\f");
    return s.End();
}

// TSPL sets the label up before anything else: SIZE w[ mm| dot], ...;
// GAP or BLINE and a number; CLS; DIRECTION 0 or 1.
bool IsTsplStart(const std::string& line)
{
    CLineScan cls(line);
    if (cls.Word("CLS") && cls.End())
        return true;
    CLineScan s(line);
    if (s.Word("SIZE")) {
        if (!s.Some(" ") || !s.Some("0123456789."))
            return false;
        s.Any(" ");
        if (!s.Word("MM"))
            s.Word("DOT");
        s.Any(" ");
        return s.Word(",");
    }
    if (s.Word("GAP") || s.Word("BLINE"))
        return s.Some(" ") && s.Some("0123456789.");
    if (s.Word("DIRECTION"))
        return s.Some(" ") && s.Some("01");
    return false;
}

} // namespace

const char* SniffFormat(const unsigned char* d, size_t n)
{
    if (!d || n == 0)
        return nullptr;
    // PDF readers accept the header anywhere in the first kilobyte.
    const size_t head = n < 1024 ? n : 1024;
    for (size_t i = 0; i + 5 <= head; ++i)
        if (std::memcmp(d + i, "%PDF-", 5) == 0)
            return "application/pdf";
    if (Starts(d, n, "\x89PNG\r\n\x1a\n", 8))
        return "image/png";
    // Any JPEG: start of image, then a marker (JFIF and Exif are only two
    // of the headers it may start with; baseline files often have none).
    if (n >= 4 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF && d[3] >= 0xC0 && d[3] != 0xFF)
        return "image/jpeg";
    if (Starts(d, n, "RaS2PwgR", 8))
        return "image/pwg-raster";
    if (Starts(d, n, "UNIRAST", 8))
        return "image/urf";
    if (Starts(d, n, "%!", 2))
        return "application/postscript";
    // ESC/POS: initialise, or another command, first.
    if (n >= 2 && d[0] == 0x1B && (d[1] == '@' || d[1] == 'a' || d[1] == '!'))
        return RawFormat("escpos");

    // TSPL and CPCL: the first line says; bitmaps may follow in binary.
    const std::string first = FirstLine(d, n);
    if (IsCpclStart(first))
        return RawFormat("cpcl");
    if (IsTsplStart(first))
        return RawFormat("tspl");
    bool escape = false;
    if (!IsText(d, n, escape))
        return nullptr;
    return escape ? nullptr : "text/plain";
}

const char* SniffFileFormat(const char* path)
{
    FILE* fp = path ? std::fopen(path, "rb") : nullptr;
    if (!fp)
        return nullptr;
    unsigned char head[8192];
    const size_t n = std::fread(head, 1, sizeof head, fp);
    std::fclose(fp);
    return SniffFormat(head, n);
}

std::string FormatName(const char* mime)
{
    if (!mime)
        return "a document of no known format";
    const std::string m = mime;
    if (m == "application/pdf")
        return "PDF";
    if (m == "image/png")
        return "a PNG image";
    if (m == "image/jpeg")
        return "a JPEG image";
    if (m == "image/pwg-raster")
        return "PWG raster";
    if (m == "image/urf")
        return "Apple raster";
    if (m == "application/postscript")
        return "PostScript";
    if (m == "text/plain")
        return "plain text";
    for (const PrinterFamily& f : PrinterFamilies())
        if (m == f.rawFormat)
            return std::string(f.name) + " printer commands";
    return m;
}

} // namespace bandrill_app
