#include "BenchPages.h"

#include <algorithm>
#include <cmath>

namespace bench {

const PageShape kShapes[4] = {
    {"Receipt58", 384, 1000, 203},
    {"Receipt80", 576, 1400, 203},
    {"Label203", 812, 1218, 203},
    {"Label300", 1200, 1800, 300},
};

namespace {

class CRandom {
public:
    explicit CRandom(uint32_t seed) : m_state(seed * 2654435761u + 0x9E3779B9u) {}
    uint32_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    unsigned Below(unsigned n) { return n ? Next() % n : 0; }

private:
    uint32_t m_state;
};

class CCanvas {
public:
    explicit CCanvas(GreyPage& page) : m_page(page) {}

    void Fill(long x0, long y0, long x1, long y1, uint8_t level)
    {
        x0 = std::max(0L, x0);
        y0 = std::max(0L, y0);
        x1 = std::min(static_cast<long>(m_page.width), x1);
        y1 = std::min(static_cast<long>(m_page.height), y1);
        for (long y = y0; y < y1; ++y)
            for (long x = x0; x < x1; ++x)
                m_page.pixels[static_cast<size_t>(y) * m_page.width + static_cast<size_t>(x)] = level;
    }

    void Frame(long x0, long y0, long x1, long y1, long t)
    {
        Fill(x0, y0, x1, y0 + t, 0);
        Fill(x0, y1 - t, x1, y1, 0);
        Fill(x0, y0, x0 + t, y1, 0);
        Fill(x1 - t, y0, x1, y1, 0);
    }

    unsigned Width() const { return m_page.width; }
    unsigned Height() const { return m_page.height; }
    void Set(unsigned x, unsigned y, uint8_t level)
    {
        if (x < m_page.width && y < m_page.height)
            m_page.pixels[static_cast<size_t>(y) * m_page.width + x] = level;
    }

private:
    GreyPage& m_page;
};

// A fixed alphabet of 5 x 7 glyphs, so that text repeats its letters the way
// real text does.
struct tagGlyphs {
    uint8_t rows[48][7];
    tagGlyphs()
    {
        CRandom r(7);
        for (auto& g : rows)
            for (uint8_t& row : g)
                row = static_cast<uint8_t>(r.Next() & 0x1F);
    }
};

const tagGlyphs& Glyphs()
{
    static const tagGlyphs glyphs;
    return glyphs;
}

// Lines of words from x0 to x1, glyph cells of 6 x 9 units of `scale` dots.
// Returns the y below the last line.
long Text(CCanvas& c, CRandom& r, long x0, long x1, long y, unsigned lines, long scale)
{
    const tagGlyphs& g = Glyphs();
    for (unsigned line = 0; line < lines; ++line) {
        long x = x0;
        const long lineEnd = x0 + (x1 - x0) * (60 + static_cast<long>(r.Below(40))) / 100;
        while (x + 6 * scale <= lineEnd) {
            const unsigned letters = 2 + r.Below(8);
            for (unsigned k = 0; k < letters && x + 6 * scale <= lineEnd; ++k, x += 6 * scale) {
                const auto& glyph = g.rows[r.Below(48)];
                for (long gy = 0; gy < 7; ++gy)
                    for (long gx = 0; gx < 5; ++gx)
                        if (glyph[gy] & (0x10 >> gx))
                            c.Fill(x + gx * scale, y + gy * scale, x + (gx + 1) * scale,
                                   y + (gy + 1) * scale, 0);
            }
            x += 6 * scale;  // word gap
        }
        y += 10 * scale;
    }
    return y;
}

void Barcode(CCanvas& c, CRandom& r, long x0, long x1, long y0, long y1, long module)
{
    long x = x0;
    bool bar = true;
    while (x < x1) {
        const long w = module * (1 + static_cast<long>(r.Below(4)));
        if (bar)
            c.Fill(x, y0, std::min(x + w, x1), y1, 0);
        x += w;
        bar = !bar;
    }
}

void MatrixCode(CCanvas& c, CRandom& r, long x0, long y0, long modules, long module)
{
    for (long my = 0; my < modules; ++my)
        for (long mx = 0; mx < modules; ++mx) {
            const bool finder = (mx < 7 && my < 7) || (mx >= modules - 7 && my < 7) ||
                                (mx < 7 && my >= modules - 7);
            bool dark;
            if (finder) {
                const long fx = mx < 7 ? mx : mx - (modules - 7);
                const long fy = my < 7 ? my : my - (modules - 7);
                const long ring = std::min(std::min(fx, fy), std::min(6 - fx, 6 - fy));
                dark = ring != 1;
            } else {
                dark = r.Below(2) != 0;
            }
            if (dark)
                c.Fill(x0 + mx * module, y0 + my * module, x0 + (mx + 1) * module,
                       y0 + (my + 1) * module, 0);
        }
}

// A shaded picture (a logo or a product photo): smooth grey levels.
void Picture(CCanvas& c, long x0, long y0, long x1, long y1, uint32_t seed)
{
    const double phase = (seed % 17) * 0.37;
    const double cx = (x0 + x1) / 2.0, cy = (y0 + y1) / 2.0;
    const double radius = std::max(1.0, std::min(x1 - x0, y1 - y0) / 2.0);
    for (long y = std::max(0L, y0); y < y1 && y < static_cast<long>(c.Height()); ++y)
        for (long x = std::max(0L, x0); x < x1 && x < static_cast<long>(c.Width()); ++x) {
            const double d = std::hypot(x - cx, y - cy) / radius;
            double v = 235.0 - 150.0 * std::max(0.0, 1.0 - d) +
                       40.0 * std::sin(x / 23.0 + phase) * std::cos(y / 17.0);
            v += 30.0 * (x - x0) / std::max(1L, x1 - x0);
            c.Set(static_cast<unsigned>(x), static_cast<unsigned>(y),
                  static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)));
        }
}

GreyPage WhitePage(unsigned width, unsigned height)
{
    GreyPage page;
    page.width = width;
    page.height = height;
    page.pixels.assign(static_cast<size_t>(width) * height, 255);
    return page;
}

} // namespace

GreyPage DrawLabel(unsigned width, unsigned height, uint32_t seed)
{
    GreyPage page = WhitePage(width, height);
    CCanvas c(page);
    CRandom r(seed);

    const long w = width, h = height;
    const long margin = std::max(8L, w / 40);
    const long line = std::max(2L, w / 200);
    c.Frame(margin, margin, w - margin, h - margin, line);

    const long inner = margin + 3 * line;
    long y = inner + margin / 2;
    // Sender and service lines in large type, then a rule.
    y = Text(c, r, inner, w - inner, y, 2, std::max(2L, w / 160));
    c.Fill(margin, y, w - margin, y + line, 0);
    y += 3 * line;
    // Recipient address block in small type.
    y = Text(c, r, inner, w - inner, y, 6, std::max(1L, w / 320));
    c.Fill(margin, y, w - margin, y + line, 0);
    y += 4 * line;
    // A linear barcode across most of the width.
    const long barHeight = h / 8;
    Barcode(c, r, inner + w / 20, w - inner - w / 20, y, y + barHeight, std::max(2L, w / 300));
    y += barHeight + 2 * line;
    y = Text(c, r, w / 3, w - inner, y, 1, std::max(1L, w / 320));
    y += 2 * line;
    // Matrix code at the left, a shaded picture at the right.
    const long module = std::max(3L, w / 100);
    const long modules = 25;
    const long bottom = h - inner - margin / 2;
    const long codeTop = std::min(y, bottom - modules * module);
    MatrixCode(c, r, inner, codeTop, modules, module);
    Picture(c, inner + modules * module + 2 * margin, y, w - inner, std::min(bottom, y + h / 3),
            seed);
    // Small print along the bottom.
    Text(c, r, inner, w - inner, std::max(y + h / 3, codeTop + modules * module) + 2 * line, 3,
         std::max(1L, w / 400));
    return page;
}

GreyPage DrawReceipt(unsigned width, unsigned height, uint32_t seed)
{
    GreyPage page = WhitePage(width, height);
    CCanvas c(page);
    CRandom r(seed);

    const long w = width, h = height;
    const long margin = std::max(4L, w / 48);
    // A logo, the shop's name in large type, then sections of item lines
    // in small type (a line of glyphs 14 rows high every 24 rows, as a
    // receipt's line spacing leaves them) between dashed rules and blank
    // space, a barcode and the small print; a last rule at the bottom edge
    // keeps the page its full length.
    long y = 24;
    Picture(c, w / 4, y, 3 * w / 4, y + 96, seed);
    y += 96 + 30;
    y = Text(c, r, margin, w - margin, y, 2, 3) + 20;
    while (y + 200 < h) {
        for (long x = margin; x < w - margin; x += 12)
            c.Fill(x, y, x + 6, y + 2, 0);
        y += 30;
        const unsigned items = 3 + r.Below(6);
        for (unsigned i = 0; i < items && y + 120 < h; ++i) {
            Text(c, r, margin, w - margin, y, 1, 2);
            y += 24;
        }
        y += 26;
    }
    Barcode(c, r, margin * 3, w - margin * 3, y, y + 60, 2);
    y += 80;
    Text(c, r, margin, w - margin, y, 2, 1);
    c.Fill(0, h - 2, w, h, 0);
    return page;
}

std::vector<uint8_t> RasterLines8(const GreyPage& page)
{
    return page.pixels;
}

std::vector<uint8_t> RasterLines1(const GreyPage& page, bool inkHigh)
{
    static const uint8_t kBayer[4][4] = {
        {8, 136, 40, 168}, {200, 72, 232, 104}, {56, 184, 24, 152}, {248, 120, 216, 88}};
    const unsigned bpl = BytesPerLine(page.width, 1);
    std::vector<uint8_t> out(static_cast<size_t>(bpl) * page.height, 0);
    for (unsigned y = 0; y < page.height; ++y) {
        const uint8_t* src = page.pixels.data() + static_cast<size_t>(y) * page.width;
        uint8_t* dst = out.data() + static_cast<size_t>(y) * bpl;
        for (unsigned x = 0; x < page.width; ++x) {
            const bool white = src[x] > kBayer[y & 3][x & 3];
            if (white != inkHigh)
                dst[x >> 3] = static_cast<uint8_t>(dst[x >> 3] | (0x80 >> (x & 7)));
        }
    }
    return out;
}

} // namespace bench
