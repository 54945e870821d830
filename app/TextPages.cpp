#include "TextPages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

namespace bandrill_app {

namespace {

const double kCellMm = 1.5;
const int kTabStop = 8;
const int kMinColumns = 8;

// The monospaced font's file, looked up once.
bool MonospacedFont(std::string& path, int& index)
{
    static std::once_flag once;
    static std::string file;
    static int face = 0;
    std::call_once(once, [] {
        if (!FcInit())
            return;
        for (const char* name : {"DejaVu Sans Mono", "monospace"}) {
            FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(name));
            if (!pattern)
                continue;
            FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
            FcDefaultSubstitute(pattern);
            FcResult result;
            FcPattern* match = FcFontMatch(nullptr, pattern, &result);
            FcChar8* f = nullptr;
            int spacing = 0;
            if (match && FcPatternGetString(match, FC_FILE, 0, &f) == FcResultMatch &&
                FcPatternGetInteger(match, FC_SPACING, 0, &spacing) == FcResultMatch &&
                spacing == FC_MONO) {
                file = reinterpret_cast<const char*>(f);
                FcPatternGetInteger(match, FC_INDEX, 0, &face);
            }
            if (match)
                FcPatternDestroy(match);
            FcPatternDestroy(pattern);
            if (!file.empty())
                break;
        }
    });
    path = file;
    index = face;
    return !file.empty();
}

bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

} // namespace

struct CTextPages::Font {
    struct Glyph {
        int left = 0, top = 0, width = 0, rows = 0;
        std::vector<unsigned char> ink; // width * rows, 1 for ink
    };
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int ascender = 0;
    std::map<char32_t, Glyph> glyphs;

    ~Font()
    {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }

    const Glyph& Get(char32_t c)
    {
        auto it = glyphs.find(c);
        if (it != glyphs.end())
            return it->second;
        Glyph& g = glyphs[c];
        // One bit a dot, hinted: what a thermal head prints best.
        if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0)
            return g;
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& b = slot->bitmap;
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.width = static_cast<int>(b.width);
        g.rows = static_cast<int>(b.rows);
        g.ink.assign(static_cast<size_t>(g.width) * g.rows, 0);
        for (int y = 0; y < g.rows; ++y) {
            const unsigned char* row = b.buffer + static_cast<ptrdiff_t>(y) * b.pitch;
            for (int x = 0; x < g.width; ++x) {
                const bool on = b.pixel_mode == FT_PIXEL_MODE_MONO ? (row[x >> 3] >> (7 - (x & 7))) & 1
                                                                   : row[x] >= 128;
                g.ink[static_cast<size_t>(y) * g.width + x] = on;
            }
        }
        return g;
    }
};

std::u32string DecodeText(const std::string& s)
{
    std::u32string out;
    out.reserve(s.size());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        char32_t cp = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
        bool valid = extra >= 0 && i + extra < n;
        for (int k = 1; valid && k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            valid = (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
        static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        valid = valid && cp >= kLeast[extra] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (!valid) {
            // Not UTF-8: every byte is a Latin-1 character.
            out.clear();
            for (unsigned char b : s)
                out.push_back(b);
            return out;
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

CTextPages::CTextPages() {}

CTextPages::~CTextPages()
{
    delete m_font;
}

bool CTextPages::Load(const char* path, std::string& reason)
{
    FILE* fp = std::fopen(path, "rb");
    if (!fp) {
        reason = "The document cannot be read.";
        return false;
    }
    std::string bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, fp)) > 0 && bytes.size() <= kMaxBytes)
        bytes.append(buffer, n);
    std::fclose(fp);
    if (bytes.size() > kMaxBytes) {
        char text[120];
        std::snprintf(text, sizeof text, "The text document is larger than %zu MiB.", kMaxBytes >> 20);
        reason = text;
        return false;
    }
    m_text = DecodeText(bytes);
    return true;
}

bool CTextPages::Layout(int width, int length, int dpi, bool roll, std::string& reason)
{
    m_width = std::max(width, 1);
    m_columns = std::max(kMinColumns, static_cast<int>(m_width * 25.4 / dpi / kCellMm + 1e-6));
    m_cell = std::max(1, m_width / m_columns);
    m_left = (m_width - m_cell * m_columns) / 2;

    std::string file;
    int index = 0;
    if (!m_font) {
        m_font = new Font;
        if (!MonospacedFont(file, index) || FT_Init_FreeType(&m_font->library) != 0 ||
            FT_New_Face(m_font->library, file.c_str(), index, &m_font->face) != 0) {
            reason = "No monospaced font is installed to print text with.";
            return false;
        }
    }
    FT_Face face = m_font->face;
    m_font->glyphs.clear();
    // The size whose advance is one cell.
    const double advance = face->max_advance_width > 0 ? face->max_advance_width : face->units_per_EM * 0.6;
    const double em = m_cell * face->units_per_EM / advance;
    FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(em * 64), 72, 72);
    m_pitch = std::max(1, static_cast<int>((face->size->metrics.height + 32) >> 6));
    m_font->ascender = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
    m_margin = m_pitch / 4;

    // Lines: tabs expanded, control characters dropped, wrapped.
    m_lines.clear();
    m_pageBreakBefore.clear();
    bool pageBreak = false;
    std::u32string logical;
    auto emit = [&]() {
        std::u32string rest = logical;
        do {
            size_t cut = rest.size();
            size_t next = cut;
            if (rest.size() > static_cast<size_t>(m_columns)) {
                cut = next = m_columns;
                for (size_t i = m_columns; i > static_cast<size_t>(m_columns / 2); --i)
                    if (rest[i] == U' ') {
                        cut = i;
                        next = i + 1;
                        break;
                    }
            }
            std::u32string visual = rest.substr(0, cut);
            while (!visual.empty() && visual.back() == U' ')
                visual.pop_back();
            m_lines.push_back(visual);
            m_pageBreakBefore.push_back(pageBreak);
            pageBreak = false;
            rest.erase(0, next);
        } while (!rest.empty());
        logical.clear();
    };
    for (size_t i = 0; i < m_text.size(); ++i) {
        const char32_t c = m_text[i];
        if (c == U'\r' && i + 1 < m_text.size() && m_text[i + 1] == U'\n')
            continue;
        if (c == U'\n' || c == U'\r') {
            emit();
        } else if (c == U'\f') {
            if (!logical.empty())
                emit();
            pageBreak = !m_lines.empty();
        } else if (c == U'\t') {
            logical.append(kTabStop - logical.size() % kTabStop, U' ');
        } else if (!IsControl(c)) {
            logical.push_back(c);
        }
    }
    if (!logical.empty())
        emit();

    // Pages.
    m_pages.clear();
    const int perPage = std::max(1, (length - 2 * m_margin) / m_pitch);
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (m_pages.empty() || m_pageBreakBefore[i] || m_pages.back().count == static_cast<size_t>(perPage))
            m_pages.push_back(Page{i, 0, roll ? 0 : length});
        ++m_pages.back().count;
    }
    if (roll)
        for (Page& p : m_pages)
            p.length = 2 * m_margin + static_cast<int>(p.count) * m_pitch;
    return true;
}

int CTextPages::PageLength(int page) const
{
    return m_pages[page].length;
}

bool CTextPages::Render(int page, const std::function<bool(int, const unsigned char*)>& line)
{
    const Page& p = m_pages[page];
    std::vector<unsigned char> strip(static_cast<size_t>(m_width) * m_pitch);
    std::vector<unsigned char> blank(static_cast<size_t>(m_width), 255);
    int y = 0;
    for (; y < m_margin && y < p.length; ++y)
        if (!line(y, blank.data()))
            return false;
    for (size_t l = 0; l < p.count && y < p.length; ++l) {
        std::fill(strip.begin(), strip.end(), 255);
        const std::u32string& text = m_lines[p.first + l];
        for (size_t k = 0; k < text.size() && k < static_cast<size_t>(m_columns); ++k) {
            if (text[k] == U' ')
                continue;
            const Font::Glyph& g = m_font->Get(text[k]);
            const int gx = m_left + static_cast<int>(k) * m_cell + g.left;
            const int gy = m_font->ascender - g.top;
            for (int r = 0; r < g.rows; ++r) {
                const int sy = gy + r;
                if (sy < 0 || sy >= m_pitch)
                    continue;
                for (int c = 0; c < g.width; ++c) {
                    const int sx = gx + c;
                    if (sx >= 0 && sx < m_width && g.ink[static_cast<size_t>(r) * g.width + c])
                        strip[static_cast<size_t>(sy) * m_width + sx] = 0;
                }
            }
        }
        for (int r = 0; r < m_pitch && y < p.length; ++r, ++y)
            if (!line(y, &strip[static_cast<size_t>(r) * m_width]))
                return false;
    }
    for (; y < p.length; ++y)
        if (!line(y, blank.data()))
            return false;
    return true;
}

} // namespace bandrill_app
