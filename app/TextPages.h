// Plain text documents, set in a monospaced font at a size read on a
// thermal print: 1.5 mm a character, so 32 columns on a 58 mm roll and 48
// on an 80 mm one, whatever the resolution. Long lines wrap (at a space
// when there is one in their second half), tabs stop every 8 columns, a
// form feed starts a new page. UTF-8, or Latin-1 when the text is not
// UTF-8. A label takes as many lines as fit on it, the next lines go on
// the next label; a roll's page is as long as its lines.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bandrill_app {

class CTextPages {
public:
    CTextPages();
    ~CTextPages();
    CTextPages(const CTextPages&) = delete;
    CTextPages& operator=(const CTextPages&) = delete;

    // Reads the text; false with the reason for the user.
    bool Load(const char* path, std::string& reason);
    // Lays it out on pages width dots wide at dpi: labels of length dots, or
    // a roll whose pages are at most length dots long. False with the reason
    // when no font can be had.
    bool Layout(int width, int length, int dpi, bool roll, std::string& reason);

    int Columns() const { return m_columns; }
    int Pages() const { return static_cast<int>(m_pages.size()); }
    int PageLength(int page) const;
    // The page's lines, each width dots of 8-bit grey.
    bool Render(int page, const std::function<bool(int, const unsigned char*)>& line);

    // The text's lines as laid out (the tests read them).
    const std::vector<std::u32string>& Lines() const { return m_lines; }

    // Largest text document taken.
    static const size_t kMaxBytes = 8u << 20;

private:
    struct Page {
        size_t first, count; // lines
        int length;          // dots
    };
    struct Font;

    std::u32string m_text;
    std::vector<std::u32string> m_lines;
    std::vector<bool> m_pageBreakBefore; // per line
    std::vector<Page> m_pages;
    int m_width = 0, m_columns = 0, m_cell = 0, m_pitch = 0, m_margin = 0, m_left = 0;
    Font* m_font = nullptr;
};

// The text as code points: UTF-8, or Latin-1 when it is not valid UTF-8.
std::u32string DecodeText(const std::string& bytes);

} // namespace bandrill_app
