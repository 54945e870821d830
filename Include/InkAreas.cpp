#include "InkAreas.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "DibImage.h"

namespace {

// Tallest strip the rectangle search weighs at once. Taller blocks of the
// same columns still come out as one rectangle: the rectangles of
// neighbouring strips are joined afterwards.
const int kMaxStripLines = 32;

// A bit matrix: `lines` lines of `positions` bits each, here a line per
// row of the page and a position per byte column (bit set: the byte
// carries ink).
class CInkMatrix {
public:
    CInkMatrix(int lines, int positions)
        : m_lines(lines), m_words((positions + 63) / 64),
          m_bits(static_cast<size_t>(lines) * static_cast<size_t>(m_words), 0),
          m_inked(static_cast<size_t>(lines), 0)
    {
    }

    int Lines() const { return m_lines; }
    int Words() const { return m_words; }
    bool Inked(int line) const { return m_inked[static_cast<size_t>(line)] != 0; }
    const uint64_t* Line(int line) const
    {
        return &m_bits[static_cast<size_t>(line) * static_cast<size_t>(m_words)];
    }
    // Sets the positions of line whose byte of row (positions bytes)
    // differs from blank.
    void SetRow(int line, const unsigned char* row, int positions, unsigned char blank)
    {
        uint64_t* m = &m_bits[static_cast<size_t>(line) * static_cast<size_t>(m_words)];
        uint64_t any = 0;
        int c = 0;
#if defined(__SSE2__)
        const __m128i b = _mm_set1_epi8(static_cast<char>(blank));
        for (; c + 16 <= positions; c += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c));
            const uint64_t inked = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, b))) & 0xFFFFu;
            m[c >> 6] |= inked << (c & 63);
            any |= inked;
        }
#endif
        for (; c < positions; ++c) {
            const uint64_t inked = row[c] != blank ? 1 : 0;
            m[c >> 6] |= inked << (c & 63);
            any |= inked;
        }
        m_inked[static_cast<size_t>(line)] = any != 0;
    }

    // Whether line has a set bit in positions [from, to).
    bool HasInk(int line, int from, int to) const
    {
        const uint64_t* m = Line(line);
        for (int w = from >> 6; w <= (to - 1) >> 6; ++w) {
            uint64_t x = m[w];
            if (w == from >> 6)
                x &= ~uint64_t(0) << (from & 63);
            if (w == (to - 1) >> 6 && (to & 63))
                x &= (uint64_t(1) << (to & 63)) - 1;
            if (x)
                return true;
        }
        return false;
    }

private:
    int m_lines;
    int m_words;
    std::vector<uint64_t> m_bits;
    std::vector<unsigned char> m_inked;
};

// A rectangle of a matrix: lines [line, line + lines), positions [pos,
// pos + poss).
struct tagBlock {
    int line;
    int lines;
    int pos;
    int poss;
};

long long BlockCost(const tagBlock& b, int commandBytes)
{
    return commandBytes + static_cast<long long>(b.lines) * b.poss;
}

// Set bits of x (without the processor's own count, which the baseline
// instruction set lacks and the library call costs more than this).
inline int BitCount(uint64_t x)
{
    x -= (x >> 1) & 0x5555555555555555ULL;
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
}

// The first position at or after `from` whose bit is `set`; words * 64
// when there is none.
inline int NextBit(const uint64_t* mask, int words, int from, bool set)
{
    int w = from >> 6;
    if (w >= words)
        return words * 64;
    uint64_t x = (set ? mask[w] : ~mask[w]) & (~uint64_t(0) << (from & 63));
    while (!x) {
        if (++w >= words)
            return words * 64;
        x = set ? mask[w] : ~mask[w];
    }
    return w * 64 + __builtin_ctzll(x);
}

// Calls f(from, to) for each run of set positions [from, to) of mask, left
// to right: the words' bit changes, found a word at a time.
template <class F>
inline void ForEachInkRun(const uint64_t* mask, int words, F f)
{
    uint64_t carry = 0;  // the bit before the word's first
    int from = 0;
    for (int w = 0; w < words; ++w) {
        const uint64_t x = mask[w];
        uint64_t changes = x ^ ((x << 1) | carry);
        carry = x >> 63;
        while (changes) {
            const int at = w * 64 + __builtin_ctzll(changes);
            changes &= changes - 1;
            if ((x >> (at & 63)) & 1)
                from = at;
            else
                f(from, at);
        }
    }
    if (carry)
        f(from, words * 64);
}

// Calls f(from, to) for each run of positions [from, to) of a strip
// `lines` long whose mask is `mask`. Two runs of ink stay one when the
// blank positions between them cost no more than a command of their own:
// gap x lines <= commandBytes.
template <class F>
void ForEachRun(const uint64_t* mask, int words, long long lines, int commandBytes, F f)
{
    int from = NextBit(mask, words, 0, true);
    while (from < words * 64) {
        int to = NextBit(mask, words, from, false);
        for (;;) {
            const int next = NextBit(mask, words, to, true);
            if (next >= words * 64 || (next - to) * lines > commandBytes)
                break;
            to = NextBit(mask, words, next, false);
        }
        f(from, to);
        from = NextBit(mask, words, to, true);
    }
}

// Bytes sent for a strip of ink: what ForEachRun makes of it, from the
// strip's mask taken apart once. Every run costs a command and its bytes,
// so a strip `lines` long costs one command, its inked positions times
// lines, and for each blank gap between two of them the cheaper of sending
// the gap (gap x lines) and a command of its own. A gap of commandBytes
// positions or more always costs the command. The short gaps are counted
// by width: those of at most commandBytes / lines positions cost their
// width, the others a command, and for a strip of more than one line that
// is at most half of them.
class CStripCost {
public:
    explicit CStripCost(int commandBytes)
        : m_command(commandBytes), m_count(static_cast<size_t>(std::max(commandBytes, 1)), 0)
    {
    }

    void Take(const uint64_t* mask, int words)
    {
        m_inked = 0;
        m_longGaps = 0;
        m_shortGaps = 0;
        m_shortWidth = 0;
        std::fill(m_count.begin(), m_count.end(), 0);
        int last = -1;  // the end of the run before
        ForEachInkRun(mask, words, [&](int from, int to) {
            m_inked += to - from;
            if (last >= 0) {
                const int gap = from - last;
                if (gap < m_command) {
                    ++m_count[static_cast<size_t>(gap)];
                    ++m_shortGaps;
                    m_shortWidth += gap;
                } else {
                    ++m_longGaps;
                }
            }
            last = to;
        });
    }

    long long Cost(long long lines) const
    {
        long long cost = m_command * (1 + m_longGaps) + m_inked * lines;
        if (m_shortGaps == 0)
            return cost;
        if (lines == 1)
            return cost + m_shortWidth;
        const long long fit = std::min<long long>(m_command / lines, static_cast<long long>(m_count.size()) - 1);
        long long count = 0, width = 0;
        for (long long g = 1; g <= fit; ++g) {
            count += m_count[static_cast<size_t>(g)];
            width += m_count[static_cast<size_t>(g)] * g;
        }
        return cost + width * lines + m_command * (m_shortGaps - count);
    }

private:
    long long m_command;
    long long m_inked = 0;
    long long m_longGaps = 0;
    long long m_shortGaps = 0;
    long long m_shortWidth = 0;
    std::vector<int> m_count;
};

// The matrix is cut into strips of whole lines, and each strip into runs of
// positions; every run becomes a block, trimmed to the lines of its strip
// that have ink in its positions. Which strips is found by dynamic
// programming over the lines: best[b] is the fewest bytes that send lines
// 0 .. b - 1, a blank line costs nothing, and a strip of h lines costs, for
// each run of its positions, commandBytes plus its width times h. Blocks of
// the same positions in neighbouring strips are then joined where the blank
// lines between them cost no more than the command saved.
std::vector<tagBlock> CutInStrips(const CInkMatrix& ink, int commandBytes)
{
    std::vector<tagBlock> blocks;
    const int lines = ink.Lines();
    const int words = ink.Words();
    if (lines == 0 || words == 0)
        return blocks;

    // start[b]: the first line of the strip that ends before line b, or -1
    // when line b - 1 is blank and belongs to no strip.
    std::vector<long long> best(static_cast<size_t>(lines) + 1, 0);
    std::vector<int> start(static_cast<size_t>(lines) + 1, -1);
    std::vector<uint64_t> acc(static_cast<size_t>(words));
    CStripCost stripCost(commandBytes);
    for (int b = 1; b <= lines; ++b) {
        if (!ink.Inked(b - 1)) {
            best[b] = best[b - 1];
            continue;
        }
        std::fill(acc.begin(), acc.end(), 0);
        long long least = std::numeric_limits<long long>::max();
        const int lowest = std::max(0, b - kMaxStripLines);
        // A strip costs no less when it gains lines or positions, and no
        // less than a command and its inked positions on every line; best[]
        // does not fall towards the top. So a strip whose floor loses is not
        // weighed, and where it loses even after the least best[] of the
        // window, no taller one can win. acc may then hold positions
        // stripCost has not taken yet.
        const bool prune = commandBytes >= 0;
        const long long leastBefore = best[static_cast<size_t>(lowest)];
        long long floor = 0;
        long long inked = 0;  // positions set in acc
        bool taken = true;
        for (int a = b - 1; a >= lowest; --a) {
            // A strip that starts on a blank line costs more than the one
            // that starts after it.
            if (!ink.Inked(a))
                continue;
            const uint64_t* m = ink.Line(a);
            bool added = false;
            for (int w = 0; w < words; ++w) {
                if (const uint64_t fresh = m[w] & ~acc[w]) {
                    added = true;
                    inked += BitCount(fresh);
                    acc[w] |= fresh;
                }
            }
            if (added)
                taken = false;
            if (prune) {
                floor = std::max(floor, commandBytes + inked * (b - a));
                if (leastBefore + floor >= least)
                    break;
                if (best[a] + floor >= least)
                    continue;
            }
            if (!taken) {
                stripCost.Take(acc.data(), words);
                taken = true;
            }
            floor = stripCost.Cost(b - a);
            const long long cost = best[a] + floor;
            if (cost < least) {
                least = cost;
                start[b] = a;
            }
        }
        best[b] = least;
    }

    std::vector<std::pair<int, int>> strips;
    for (int b = lines; b > 0;) {
        if (start[b] < 0) {
            --b;
            continue;
        }
        strips.emplace_back(start[b], b);
        b = start[b];
    }
    std::reverse(strips.begin(), strips.end());

    // Indices in blocks of the previous strip's blocks, to join with.
    std::vector<size_t> previous, current;
    for (const auto& strip : strips) {
        const int a = strip.first, b = strip.second;
        std::fill(acc.begin(), acc.end(), 0);
        for (int r = a; r < b; ++r)
            for (int w = 0; w < words; ++w)
                acc[w] |= ink.Line(r)[w];
        current.clear();
        ForEachRun(acc.data(), words, b - a, commandBytes, [&](int from, int to) {
            int top = a, bottom = b - 1;
            while (!ink.HasInk(top, from, to))
                ++top;
            while (!ink.HasInk(bottom, from, to))
                --bottom;
            for (size_t i : previous) {
                tagBlock& p = blocks[i];
                const long long gap = top - (p.line + p.lines);
                if (p.pos == from && p.poss == to - from && gap * (to - from) <= commandBytes) {
                    p.lines = bottom + 1 - p.line;
                    current.push_back(i);
                    return;
                }
            }
            blocks.push_back(tagBlock{top, bottom + 1 - top, from, to - from});
            current.push_back(blocks.size() - 1);
        });
        previous.swap(current);
    }
    return blocks;
}

} // namespace

std::vector<tagInkRect> FindInkRects(const CDibImage& image, int rowBytes, unsigned char blank,
                                     int commandBytes)
{
    const int rows = image.IsValid() ? static_cast<int>(image.GetHeight()) : 0;
    const int cols = std::max(0, std::min(rowBytes, static_cast<int>(image.GetEffWidth())));
    CInkMatrix ink(rows, cols);
    for (int r = 0; r < rows; ++r)
        ink.SetRow(r, image.GetBits(static_cast<unsigned>(r)), cols, blank);
    std::vector<tagBlock> blocks = CutInStrips(ink, commandBytes);
    // Strips are at most kMaxStripLines high: on a page that is ink all
    // over, the ink's bounding box in one piece may still cost less.
    if (blocks.size() > 1) {
        tagBlock box = blocks[0];
        long long cost = 0;
        for (const tagBlock& b : blocks) {
            const int end = std::max(box.line + box.lines, b.line + b.lines);
            const int right = std::max(box.pos + box.poss, b.pos + b.poss);
            box.line = std::min(box.line, b.line);
            box.pos = std::min(box.pos, b.pos);
            box.lines = end - box.line;
            box.poss = right - box.pos;
            cost += BlockCost(b, commandBytes);
        }
        if (BlockCost(box, commandBytes) <= cost)
            blocks.assign(1, box);
    }
    std::vector<tagInkRect> rects;
    for (const tagBlock& b : blocks)
        rects.push_back(tagInkRect{b.pos, b.line, b.poss, b.lines});
    std::stable_sort(rects.begin(), rects.end(), [](const tagInkRect& l, const tagInkRect& r) {
        return l.iRow != r.iRow ? l.iRow < r.iRow : l.iByte < r.iByte;
    });
    return rects;
}

std::vector<tagInkBand> FindInkBands(const CDibImage& image, int rowBytes, unsigned char blank,
                                     int bandBytes, int feedBytes, int feedDots)
{
    std::vector<tagInkBand> bands;
    const int rows = image.IsValid() ? static_cast<int>(image.GetHeight()) : 0;
    const int cols = std::max(0, std::min(rowBytes, static_cast<int>(image.GetEffWidth())));
    std::vector<bool> inked(static_cast<size_t>(rows), false);
    for (int r = 0; r < rows; ++r) {
        const unsigned char* p = image.GetBits(static_cast<unsigned>(r));
        for (int c = 0; c < cols && !inked[static_cast<size_t>(r)]; ++c)
            inked[static_cast<size_t>(r)] = p[c] != blank;
    }
    const long long perRow = cols;
    if (feedDots < 1)
        feedDots = 1;
    for (int r = 0; r < rows;) {
        if (!inked[static_cast<size_t>(r)]) {
            ++r;
            continue;
        }
        int end = r + 1;
        while (end < rows && inked[static_cast<size_t>(end)])
            ++end;
        // A gap stays in the band when its rows cost no more than the feed
        // over it and the next band's header.
        if (!bands.empty()) {
            tagInkBand& last = bands.back();
            const long long gap = r - (last.iRow + last.iRows);
            const long long feeds = (gap + feedDots - 1) / feedDots;
            if (gap * perRow <= bandBytes + feeds * feedBytes) {
                last.iRows = end - last.iRow;
                r = end;
                continue;
            }
        }
        bands.push_back(tagInkBand{r, end - r});
        r = end;
    }
    return bands;
}
