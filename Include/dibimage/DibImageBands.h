// Error diffusion over bands of rows, one row to a vector lane. Private to
// the image core: DibImageTone.cpp builds it with eight lanes for any
// processor and DibImageBandsAvx2.cpp with sixteen for processors with
// AVX2; the tests run both against a pixel-by-pixel model.
//
// The kernels and the band template sit in an unnamed namespace, so that
// each file compiles its own copy for its own instruction set; the AVX2
// file includes the standard headers before it switches the instruction
// set, so that nothing shared with other files is built for AVX2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "DibImage.h"

// Diffuses the 8-bit grey source into the one-bit result with the error
// diffusion method `method` (2 Burkes, 3 Stucki, 4 Jarvis-Judice-Ninke,
// 5 Sierra, 6 Stevenson-Arce, anything else Floyd-Steinberg), writing
// every row of the result. False, with nothing written, when the page is
// too wide for the bands or memory runs out; the AVX2 one also when the
// processor lacks AVX2 or the build has no such code.
bool DiffuseBands8(int method, const CDibImage& src, CDibImage& dst);
bool DiffuseBands16(int method, const CDibImage& src, CDibImage& dst);

// The grey rows a band diffusion reads: width levels each.
class IGreyRows {
public:
    virtual const uint8_t* Row(unsigned y) const = 0;

protected:
    ~IGreyRows() = default;
};

// The same diffusion one band at a time, for a page whose rows arrive one
// after another. Band(y0) is called for y0 = 0, BandRows(), 2 BandRows()
// ... in that order; it reads the source rows from y0 + RowsBelow() up to
// y0 + BandRows() + RowsBelow() - 1 (the first band also rows 0 to
// RowsBelow() - 1), those within the page, each exactly once, and writes
// result rows y0 to y0 + BandRows() - 1. What the rows below a band get
// from it is kept in the diffusion between calls.
class IBandDiffusion {
public:
    virtual ~IBandDiffusion() = default;
    virtual unsigned BandRows() const = 0;
    virtual unsigned RowsBelow() const = 0;
    virtual void Band(unsigned y0) = 0;
};

// A band diffusion of a width x height page into dst (one-bit, at least
// that size), or null for the same reasons as DiffuseBands8/16 fail.
std::unique_ptr<IBandDiffusion> NewBandDiffusion8(int method, unsigned width, unsigned height,
                                                  const IGreyRows& src, CDibImage& dst);
std::unique_ptr<IBandDiffusion> NewBandDiffusion16(int method, unsigned width, unsigned height,
                                                   const IGreyRows& src, CDibImage& dst);

namespace {

struct tagTap {
    int dx;
    int dy;
    int weight;
};

// Each kernel: the divisor, the neighbours with their weights, and the rows
// it reaches (the current one included).
struct CFloydSteinberg {
    static constexpr int kDivisor = 16;
    static constexpr unsigned kRows = 2;
    static constexpr tagTap kTaps[] = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
};

struct CBurkes {
    static constexpr int kDivisor = 32;
    static constexpr unsigned kRows = 2;
    static constexpr tagTap kTaps[] = {{1, 0, 8},  {2, 0, 4},  {-2, 1, 2}, {-1, 1, 4},
                                       {0, 1, 8},  {1, 1, 4},  {2, 1, 2}};
};

struct CStucki {
    static constexpr int kDivisor = 42;
    static constexpr unsigned kRows = 3;
    static constexpr tagTap kTaps[] = {{1, 0, 8},  {2, 0, 4},  {-2, 1, 2}, {-1, 1, 4},
                                       {0, 1, 8},  {1, 1, 4},  {2, 1, 2},  {-2, 2, 1},
                                       {-1, 2, 2}, {0, 2, 4},  {1, 2, 2},  {2, 2, 1}};
};

struct CJarvisJudiceNinke {
    static constexpr int kDivisor = 48;
    static constexpr unsigned kRows = 3;
    static constexpr tagTap kTaps[] = {{1, 0, 7},  {2, 0, 5},  {-2, 1, 3}, {-1, 1, 5},
                                       {0, 1, 7},  {1, 1, 5},  {2, 1, 3},  {-2, 2, 1},
                                       {-1, 2, 3}, {0, 2, 5},  {1, 2, 3},  {2, 2, 1}};
};

struct CSierra {
    static constexpr int kDivisor = 32;
    static constexpr unsigned kRows = 3;
    static constexpr tagTap kTaps[] = {{1, 0, 5},  {2, 0, 3},  {-2, 1, 2}, {-1, 1, 4},
                                       {0, 1, 5},  {1, 1, 4},  {2, 1, 2},  {-1, 2, 2},
                                       {0, 2, 3},  {1, 2, 2}};
};

struct CStevensonArce {
    static constexpr int kDivisor = 200;
    static constexpr unsigned kRows = 4;
    static constexpr tagTap kTaps[] = {{2, 0, 32},  {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30},
                                       {3, 1, 16},  {-2, 2, 12}, {0, 2, 26},  {2, 2, 12},
                                       {-3, 3, 5},  {-1, 3, 12}, {1, 3, 12},  {3, 3, 5}};
};

// ---------------------------------------------------------------------------
// Error diffusion over bands of rows
//
// Row y0 + j of a band is lane j of 16-bit vectors. Lane j works N = 2a + 1
// columns behind lane j - 1 (a being the kernel's reach to either side), so
// that the rows advance in a wavefront: when lane j reaches a pixel, the
// lanes above have finished pushing their shares into it and into every cell
// it will push to, and it pushes its own shares after theirs, in the same
// order as the row-by-row walk. Every cell therefore sees the same sequence
// of shares, each one clamped as it comes, and every decision is the same.
//
// Each lane holds, for the current row and the R - 1 rows below it, a window
// of the N cells around its pixel (columns c - a .. c + a). After a step the
// leftmost cell of each lower window has received its last share from this
// lane and passes to the lane below, whose window for the row above it
// takes it in as its rightmost cell: with the lag of N columns this is the
// very step at which that lane needs it. Lane 0 takes these cells from the
// carry rows (the rows below the previous band as its last lane left them),
// and every lane takes the deepest row's cells straight from the source.
// Lanes outside the image (columns before 0 or from the width on, rows from
// the height on) run with an error of 0, which pushes nothing.
//
// A cell of level v (0..255) is held as 257 v - 32768, which spans the whole
// 16-bit range: adding a share d as 257 d with 16-bit saturation then gives
// exactly 257 clamp(v + d, 0, 255) - 32768, the clamp of every share in a
// single instruction. Shares are never larger than 56 in size, so 257 d
// fits. The level comes back as (cell XOR 0x8000) >> 8.
//
// The lane operations that differ by instruction set come from T: the
// vector types V (signed) and U (unsigned), kLanes, AddSaturated(a, b),
// Bits(mask) (bit j from lane j) and ShiftIn(v, first) (every lane moved
// one up, first into lane 0).

// The band columns are 16-bit lane values; wider pages go row by row.
constexpr unsigned kBandMaxWidth = 16384;

template <std::size_t N>
constexpr int Reach(const tagTap (&taps)[N])
{
    int a = 0;
    for (std::size_t i = 0; i < N; ++i)
        a = taps[i].dx > a ? taps[i].dx : (-taps[i].dx > a ? -taps[i].dx : a);
    return a;
}

constexpr bool IsPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

constexpr int Log2(int v) { return v > 1 ? 1 + Log2(v / 2) : 0; }

inline int16_t CellOf(uint8_t level)
{
    return static_cast<int16_t>(257 * level - 32768);
}

// The byte with its bits in the opposite order.
inline uint8_t ReverseBitsOf(uint8_t b)
{
    static const struct tagTable {
        uint8_t v[256];
        constexpr tagTable() : v()
        {
            for (int i = 0; i < 256; ++i)
                for (int k = 0; k < 8; ++k)
                    v[i] = static_cast<uint8_t>(v[i] | (((i >> k) & 1) << (7 - k)));
        }
    } kTable;
    return kTable.v[b];
}

template <class K, class T>
class CBandDiffuser final : public IBandDiffusion {
public:
    typedef typename T::V V;
    typedef typename T::U U;
    static constexpr int kBandRows = T::kLanes;
    static constexpr int A = Reach(K::kTaps);
    static constexpr int N = 2 * A + 1;  // window width and lag between lanes
    static constexpr int R = static_cast<int>(K::kRows);

    static std::unique_ptr<IBandDiffusion> New(unsigned w, unsigned h, const IGreyRows& src,
                                               CDibImage& dst)
    {
        if (w > kBandMaxWidth)
            return nullptr;
        std::unique_ptr<CBandDiffuser> d(new (std::nothrow) CBandDiffuser(w, h, src, dst));
        if (!d || !d->m_pBlock)
            return nullptr;
        return d;
    }

    unsigned BandRows() const override { return kBandRows; }
    unsigned RowsBelow() const override { return R - 1; }

    void Band(unsigned y0) override
    {
        if (y0 == 0)
            StartPage();
        Feed(y0);
        V win[R][N];
        for (auto& row : win)
            for (auto& cell : row)
                cell = V{};
        V laneStart;
        for (int j = 0; j < kBandRows; ++j)
            laneStart[j] = static_cast<int16_t>(-N * j);
        const int w = static_cast<int>(m_w);
        const int last = Steps() - N;
        // From step N (kBandRows - 1) until step w - 1 every lane is inside.
        const int inner0 = N * (kBandRows - 1);
        const int inner1 = w > inner0 ? w : inner0;
        int s = -N;
        for (; s < inner0; ++s)
            Step<true>(s, win, laneStart);
        for (; s < inner1; ++s)
            Step<false>(s, win, laneStart);
        for (; s < last; ++s)
            Step<true>(s, win, laneStart);
        WriteBits(y0);
    }

    ~CBandDiffuser() override { delete[] m_pBlock; }

private:
    // Steps of a band: from N before lane 0 reaches column 0 (its windows
    // fill up meanwhile) until the last lane has passed on the cells of its
    // last column.
    int Steps() const { return N + static_cast<int>(m_w) + N * (kBandRows - 1) + A + 1; }
    // Columns before 0 that the carry rows hold: a band's last lane passes
    // cells on from step -N on, for columns down to -N - N (kBandRows - 1) - A.
    static constexpr std::ptrdiff_t CarryPad() { return N + N * (kBandRows - 1) + A; }
    std::size_t FeedSteps() const { return (static_cast<std::size_t>(Steps()) + 7) & ~std::size_t{7}; }
    // One mask byte a step for each eight lanes; WriteBits reads sixteen at
    // a time, up to 15 past the last.
    std::size_t MaskStride() const { return static_cast<std::size_t>(Steps()) + 32; }

    CBandDiffuser(unsigned w, unsigned h, const IGreyRows& src, CDibImage& dst)
        : m_src(src), m_dst(dst), m_w(w), m_h(h)
    {
        // Carry rows are read up to A + 1 columns past the last step.
        m_carryStride = CarryPad() + static_cast<std::size_t>(Steps()) + A + 2;
        const std::size_t feedBytes = sizeof(V) * FeedSteps();
        const std::size_t laneBytes = kBandRows * FeedSteps();
        const std::size_t carryBytes = sizeof(int16_t) * m_carryStride * (R - 1);
        const std::size_t maskBytes = MaskStride() * (kBandRows / 8);
        // A plain block aligned by hand: an over-aligned allocation would
        // sit in the heap differently and keep page-sized holes from being
        // reused by the next page.
        m_pBlock = new (std::nothrow) uint8_t[feedBytes + laneBytes + carryBytes + maskBytes + sizeof(V)];
        if (!m_pBlock)
            return;
        const std::uintptr_t misalign = reinterpret_cast<std::uintptr_t>(m_pBlock) % sizeof(V);
        m_pFeed = reinterpret_cast<V*>(m_pBlock + (misalign ? sizeof(V) - misalign : 0));
        m_pLaneRows = reinterpret_cast<uint8_t*>(m_pFeed) + feedBytes;
        m_pCarry = reinterpret_cast<int16_t*>(m_pLaneRows + laneBytes);
        m_pMasks = reinterpret_cast<uint8_t*>(m_pCarry) + carryBytes;
        std::memset(m_pMasks, 0, maskBytes);
    }

    // The first band's carry rows are the source rows: nothing above them
    // pushes into them.
    void StartPage()
    {
        for (int k = 0; k < R - 1; ++k) {
            int16_t* carry = m_pCarry + k * m_carryStride;
            for (std::size_t i = 0; i < m_carryStride; ++i)
                carry[i] = 0;
            if (static_cast<unsigned>(k) < m_h) {
                const uint8_t* s = m_src.Row(static_cast<unsigned>(k));
                for (unsigned x = 0; x < m_w; ++x)
                    carry[CarryPad() + x] = CellOf(s[x]);
            }
        }
    }

    // The deepest row's cells as the lanes take them in: at step s (from
    // -N), lane j takes column s - N j + A + 1 of row y0 + j + R - 1. Each
    // lane's row is first laid out by step, then eight steps of eight lanes
    // at a time are turned into lane vectors.
    void Feed(unsigned y0)
    {
        const std::size_t steps = FeedSteps();
        for (int j = 0; j < kBandRows; ++j) {
            uint8_t* lane = m_pLaneRows + static_cast<std::size_t>(j) * steps;
            std::memset(lane, 0, steps);
            const unsigned row = y0 + static_cast<unsigned>(j + R - 1);
            // Column x enters at step x + N j - A - 1, index s + N.
            if (row < m_h)
                std::memcpy(lane + (N * j - A - 1 + N), m_src.Row(row), m_w);
        }
        int16_t* feed = reinterpret_cast<int16_t*>(m_pFeed);
        for (std::size_t i = 0; i < steps; i += 8)
            for (int g = 0; g < kBandRows / 8; ++g)
                Transpose8(m_pLaneRows + 8 * g * steps + i, steps, feed + i * kBandRows + 8 * g);
    }

    // Eight bytes of eight rows `stride` apart into eight groups of eight
    // cells, kBandRows cells apart: group i holds byte i of every row.
    static void Transpose8(const uint8_t* rows, std::size_t stride, int16_t* out)
    {
#if defined(__SSE2__)
        __m128i q[8];
        for (int j = 0; j < 8; ++j)
            q[j] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows + j * stride));
        const __m128i a0 = _mm_unpacklo_epi8(q[0], q[1]), a1 = _mm_unpacklo_epi8(q[2], q[3]);
        const __m128i a2 = _mm_unpacklo_epi8(q[4], q[5]), a3 = _mm_unpacklo_epi8(q[6], q[7]);
        const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
        const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
        // Bytes 0 to 7 of c hold one column of the eight rows, bytes 8 to 15
        // the next.
        const __m128i c[4] = {_mm_unpacklo_epi32(b0, b2), _mm_unpackhi_epi32(b0, b2),
                              _mm_unpacklo_epi32(b1, b3), _mm_unpackhi_epi32(b1, b3)};
        const __m128i sign = _mm_set1_epi16(static_cast<int16_t>(0x8000));
        for (int i = 0; i < 4; ++i) {
            // A byte v paired with itself is 257 v.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (2 * i) * kBandRows),
                             _mm_xor_si128(_mm_unpacklo_epi8(c[i], c[i]), sign));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (2 * i + 1) * kBandRows),
                             _mm_xor_si128(_mm_unpackhi_epi8(c[i], c[i]), sign));
        }
#else
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 8; ++j)
                out[i * kBandRows + j] = CellOf(rows[j * stride + i]);
#endif
    }

    // The level (0..255) of cells held as 257 v - 32768.
    static V LevelOf(V cell)
    {
        const U u = reinterpret_cast<U>(cell) ^ static_cast<uint16_t>(0x8000);
        return reinterpret_cast<V>(u >> 8);
    }

    // 257 d, as the cells hold levels.
    static V Times257(V d)
    {
        const U u = reinterpret_cast<U>(d);
        return reinterpret_cast<V>((u << 8) + u);
    }

    // err x W / D, truncated toward zero. A white pixel leaves an error of
    // 0 or less and a black one 0 or more, so where the division is a shift
    // the rounding toward zero is a bias added for white lanes only.
    template <int W, int D>
    static V Share(V err, V white)
    {
        constexpr int m = D / W;
        if constexpr (D % W == 0 && IsPowerOfTwo(m))
            return (err + (white & static_cast<int16_t>(m - 1))) >> Log2(m);
        else if constexpr (IsPowerOfTwo(D))
            return (err * static_cast<int16_t>(W) + (white & static_cast<int16_t>(D - 1))) >>
                   Log2(D);
        else
            return (err * static_cast<int16_t>(W)) / static_cast<int16_t>(D);
    }

    template <int I>
    static void Spread(V (&win)[R][N], V err, V white)
    {
        constexpr tagTap t = K::kTaps[I];
        V& cell = win[t.dy][A + t.dx];
        static_assert(128 * t.weight / K::kDivisor < 128, "257 x share fits 16 bits");
        cell = T::AddSaturated(cell, Times257(Share<t.weight, K::kDivisor>(err, white)));
    }

    template <std::size_t... I>
    static void SpreadAll(V (&win)[R][N], V err, V white, std::index_sequence<I...>)
    {
        (Spread<static_cast<int>(I)>(win, err, white), ...);
    }

    template <std::size_t... I>
    static void ShiftRow(V (&row)[N], std::index_sequence<I...>)
    {
        ((row[I] = row[I + 1]), ...);
    }

    // One step of every lane: decide the pixel, push its shares, pass the
    // leftmost cells on and take column s + A + 1 in. kEdge: some lane is
    // outside the image and must push nothing; laneStart holds -N j.
    template <bool kEdge>
    __attribute__((always_inline)) void Step(int s, V (&win)[R][N], V laneStart)
    {
        constexpr auto kTapIndex = std::make_index_sequence<sizeof(K::kTaps) / sizeof(tagTap)>{};
        constexpr auto kShift = std::make_index_sequence<N - 1>{};
        const V zero = {};
        // Above 128 is above the cell value 257 x 128 - 32768 = 128.
        const V white = win[0][A] > 128;
        const V level = LevelOf(win[0][A]);
        // White leaves level - 255 to spread, black the level itself.
        V err = level - (white & 255);
        if (kEdge) {
            // Lane j is at column s - N j.
            const V column = laneStart + static_cast<int16_t>(s);
            err &= (column >= zero) & (column < static_cast<int16_t>(m_w));
        }
        SpreadAll(win, err, white, kTapIndex);
        const unsigned bits = T::Bits(white);
        for (int g = 0; g < kBandRows / 8; ++g)
            m_pMasks[g * MaskStride() + static_cast<std::size_t>(s + N)] =
                static_cast<uint8_t>(bits >> (8 * g));

        // The carry rows are offset so that the columns a band passes
        // before 0 land in padding.
        const std::ptrdiff_t enter = s + A + 1 + CarryPad();
        const std::ptrdiff_t leave = s - (N * (kBandRows - 1) + A) + CarryPad();
        for (int k = 0; k < R - 1; ++k) {
            const V out = win[k + 1][0];
            int16_t* carry = m_pCarry + k * m_carryStride;
            carry[leave] = out[kBandRows - 1];
            const V in = T::ShiftIn(out, carry[enter]);
            ShiftRow(win[k], kShift);
            win[k][N - 1] = in;
        }
        ShiftRow(win[R - 1], kShift);
        win[R - 1][N - 1] = m_pFeed[s + N];
    }

    // Row y0 + j's pixel at column x was decided at step x + N j; its bit is
    // bit j % 8 of that step's mask byte for lanes j - j % 8 onward.
    void WriteBits(unsigned y0)
    {
        const unsigned bytes = (m_w + 7) / 8;
        for (int j = 0; j < kBandRows && y0 + j < m_h; ++j) {
            uint8_t* out = m_dst.GetBits(y0 + static_cast<unsigned>(j));
            const uint8_t* masks = m_pMasks + (j / 8) * MaskStride() + N + N * j;
            const int bit = j % 8;
            unsigned b = 0;
#if defined(__SSE2__)
            // Sixteen masks at a time: the bit moved to the top of its byte
            // and gathered, the first mask in bit 0.
            for (; b + 2 <= bytes; b += 2) {
                const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + 8 * b));
                const unsigned gathered =
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(m, 7 - bit)));
                out[b] = ReverseBitsOf(static_cast<uint8_t>(gathered));
                out[b + 1] = ReverseBitsOf(static_cast<uint8_t>(gathered >> 8));
            }
#endif
            for (; b < bytes; ++b) {
                uint64_t eight;
                std::memcpy(&eight, masks + 8 * b, 8);
                // The bit of eight mask bytes, the first mask in the high bit.
                eight = (eight >> bit) & 0x0101010101010101ull;
                out[b] = static_cast<uint8_t>((eight * 0x8040201008040201ull) >> 56);
            }
            if (m_w % 8)
                out[bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - m_w % 8));
        }
    }

    const IGreyRows& m_src;
    CDibImage& m_dst;
    unsigned m_w;
    unsigned m_h;
    std::size_t m_carryStride = 0;
    uint8_t* m_pBlock = nullptr;
    V* m_pFeed = nullptr;
    uint8_t* m_pLaneRows = nullptr;
    int16_t* m_pCarry = nullptr;
    uint8_t* m_pMasks = nullptr;
};

// The band diffusion of a method number with the lane operations T.
template <class T>
std::unique_ptr<IBandDiffusion> NewBandDiffusionWith(int method, unsigned w, unsigned h,
                                                     const IGreyRows& src, CDibImage& dst)
{
    switch (method) {
    case 2:
        return CBandDiffuser<CBurkes, T>::New(w, h, src, dst);
    case 3:
        return CBandDiffuser<CStucki, T>::New(w, h, src, dst);
    case 4:
        return CBandDiffuser<CJarvisJudiceNinke, T>::New(w, h, src, dst);
    case 5:
        return CBandDiffuser<CSierra, T>::New(w, h, src, dst);
    case 6:
        return CBandDiffuser<CStevensonArce, T>::New(w, h, src, dst);
    default:
        return CBandDiffuser<CFloydSteinberg, T>::New(w, h, src, dst);
    }
}

// The rows of a whole 8-bit page image.
class CImageRows final : public IGreyRows {
public:
    explicit CImageRows(const CDibImage& img) : m_img(img) {}
    const uint8_t* Row(unsigned y) const override { return m_img.GetBits(y); }

private:
    const CDibImage& m_img;
};

// The whole page, band after band.
template <class T>
bool DiffuseBandsWith(int method, const CDibImage& src, CDibImage& dst)
{
    const CImageRows rows(src);
    const unsigned h = src.GetHeight();
    std::unique_ptr<IBandDiffusion> d = NewBandDiffusionWith<T>(method, src.GetWidth(), h, rows, dst);
    if (!d)
        return false;
    for (unsigned y0 = 0; y0 < h; y0 += d->BandRows())
        d->Band(y0);
    return true;
}

} // namespace
