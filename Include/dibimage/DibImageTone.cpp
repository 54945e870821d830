// Tone transforms: grey conversion, brightness and contrast, threshold and
// dithering. Every one-bit result has palette index 0 black and 1 white.
#include "DibImage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "DibImageBands.h"
#include "DibImageRows.h"

namespace {

inline uint8_t GrayOf(unsigned blue, unsigned green, unsigned red)
{
    return DibGreyOf(blue, green, red);
}

inline uint8_t GrayOf(const tagRGBQUAD& c) { return GrayOf(c.rgbBlue, c.rgbGreen, c.rgbRed); }

// A heap copy of a width x height plane (selection mask), or null.
uint8_t* CopyPlane(const uint8_t* plane, unsigned width, unsigned height)
{
    if (!plane)
        return nullptr;
    const std::size_t n = std::size_t{width} * height;
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(n));
    if (copy)
        std::memcpy(copy, plane, n);
    return copy;
}

inline uint8_t Clamp255(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void SetBlackWhitePalette(CDibImage& img)
{
    img.SetPaletteColor(0, 0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255, 0);
}

// Row loops report their progress and stop when an abort has been requested.
inline bool RowStart(tagImageInfo& info, unsigned y, unsigned height)
{
    info.iProgressPercent = static_cast<int32_t>(uint64_t{100} * y / height);
    return info.iAbortRequest == 0;
}

// Packs one-bit pixels into a result row, most significant bit first. The
// bits after the last pixel of the row are written as 0.
class CBitPacker {
public:
    explicit CBitPacker(uint8_t* row) : m_pOut(row) {}
    void Put(bool white)
    {
        m_uAcc = (m_uAcc << 1) | (white ? 1u : 0u);
        if (++m_uCount == 8) {
            *m_pOut++ = static_cast<uint8_t>(m_uAcc);
            m_uAcc = 0;
            m_uCount = 0;
        }
    }
    void Flush()
    {
        if (m_uCount)
            *m_pOut = static_cast<uint8_t>(m_uAcc << (8 - m_uCount));
    }

private:
    uint8_t* m_pOut;
    unsigned m_uAcc = 0;
    unsigned m_uCount = 0;
};

// Binarises row y of w grey levels s into the one-bit row d, eight pixels to
// a byte: white(level, x, y) decides each bit. The bits after the last
// pixel are 0.
template <class White>
inline void BinariseRow8(const uint8_t* s, uint8_t* d, unsigned w, unsigned y, White white)
{
    unsigned x = 0;
    for (; x + 8 <= w; x += 8) {
        unsigned byte = 0;
        for (unsigned i = 0; i < 8; ++i)
            byte = (byte << 1) | (white(s[x + i], x + i, y) ? 1u : 0u);
        d[x / 8] = static_cast<uint8_t>(byte);
    }
    if (x < w) {
        unsigned byte = 0;
        for (unsigned i = 0; i < 8; ++i)
            byte = (byte << 1) | (x + i < w && white(s[x + i], x + i, y) ? 1u : 0u);
        d[x / 8] = static_cast<uint8_t>(byte);
    }
}

// Binarises the source one pixel at a time: white(level, x, y) decides the
// result bit from the pixel's grey level. Reads 8-bit rows directly and any
// other depth through the checked accessor.
template <class White>
void BinariseRows(const CDibImage& src, CDibImage& dst, tagImageInfo& info, White white)
{
    const unsigned w = src.GetWidth();
    const unsigned h = src.GetHeight();
    const bool bDirect = src.GetBpp() == 8;
    for (unsigned y = 0; y < h; ++y) {
        if (!RowStart(info, y, h))
            break;
        if (bDirect) {
            BinariseRow8(src.GetBits(y), dst.GetBits(y), w, y, white);
            continue;
        }
        CBitPacker out(dst.GetBits(y));
        for (unsigned x = 0; x < w; ++x)
            out.Put(white(src.GetPixelIndex(x, y), x, y));
        out.Flush();
    }
}

// ---------------------------------------------------------------------------
// Error diffusion

// Columns a kernel reaches on either side of the pixel.
constexpr unsigned kDiffusePad = 3;

// White above 128 (128 itself is black); err is the difference left to spread.
inline bool DiffuseDecide(int level, int& err)
{
    if (level > 128) {
        err = level - 255;
        return true;
    }
    err = level;
    return false;
}

// Weight of the kernel's tap at (dx, 0) on the current row; 0 when it has none.
template <std::size_t N>
constexpr int RowWeight(const tagTap (&taps)[N], int dx)
{
    for (std::size_t i = 0; i < N; ++i)
        if (taps[i].dy == 0 && taps[i].dx == dx)
            return taps[i].weight;
    return 0;
}

template <std::size_t N>
constexpr std::size_t CountBelow(const tagTap (&taps)[N])
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < N; ++i)
        n += taps[i].dy > 0 ? 1 : 0;
    return n;
}

// Adds one neighbour's share on a row below. The division truncates toward
// zero and is done for each neighbour on its own; the cell is clamped to
// 0..255 after every share.
template <class K, std::size_t I>
inline void SpreadBelow(uint8_t* const* rows, unsigned x, int err)
{
    constexpr tagTap t = K::kTaps[I];
    if constexpr (t.dy > 0) {
        uint8_t* p = rows[t.dy] + static_cast<std::ptrdiff_t>(x) + t.dx;
        *p = Clamp255(*p + err * t.weight / K::kDivisor);
    }
}

template <class K, std::size_t... I>
inline void SpreadBelowAll(uint8_t* const* rows, unsigned x, int err, std::index_sequence<I...>)
{
    (SpreadBelow<K, I>(rows, x, err), ...);
}

// Error diffusion of an 8-bit grey source through a ring of kRows working
// rows, each with kDiffusePad spare columns on both sides. Shares pushed
// into the spare columns, or into rows below the image, land in working
// memory that is never read back, which is exactly what skipping neighbours
// outside the image does; so the inner loop needs no bounds checks. The
// source itself is left untouched (the caller discards it).
//
// The two pixels to the right on the current row are carried in registers
// (next1, next2), so a pixel's level never waits on a store of the pixel
// before it. Every cell still receives its shares in the same order and is
// clamped after each one.
template <class K>
void DiffuseRows8(const CDibImage& src, CDibImage& dst, tagImageInfo& info, uint8_t* ring)
{
    constexpr unsigned R = K::kRows;
    constexpr int kW1 = RowWeight(K::kTaps, 1);
    constexpr int kW2 = RowWeight(K::kTaps, 2);
    static_assert(CountBelow(K::kTaps) + (kW1 != 0) + (kW2 != 0) ==
                      sizeof(K::kTaps) / sizeof(tagTap),
                  "the current row may only reach x+1 and x+2");
    const unsigned w = src.GetWidth();
    const unsigned h = src.GetHeight();
    const std::size_t stride = std::size_t{w} + 2 * kDiffusePad;
    std::memset(ring, 0, R * stride);
    for (unsigned r = 0; r < R && r < h; ++r)
        std::memcpy(ring + r * stride + kDiffusePad, src.GetBits(r), w);

    constexpr auto kTapIndex = std::make_index_sequence<sizeof(K::kTaps) / sizeof(tagTap)>{};
    for (unsigned y = 0; y < h; ++y) {
        if (!RowStart(info, y, h))
            break;
        uint8_t* rows[R];
        for (unsigned dy = 0; dy < R; ++dy)
            rows[dy] = ring + ((y + dy) % R) * stride + kDiffusePad;
        const uint8_t* cur = rows[0];
        CBitPacker out(dst.GetBits(y));
        int next1 = cur[0];
        int next2 = cur[1];  // spare column when w == 1
        for (unsigned x = 0; x < w; ++x) {
            int err;
            out.Put(DiffuseDecide(next1, err));
            next1 = Clamp255(next2 + err * kW1 / K::kDivisor);
            next2 = Clamp255(cur[x + 2] + err * kW2 / K::kDivisor);
            SpreadBelowAll<K>(rows, x, err, kTapIndex);
        }
        out.Flush();
        // Row y is done; its slot takes the next row that comes into reach.
        if (y + R < h)
            std::memcpy(rows[0], src.GetBits(y + R), w);
    }
}

// The same diffusion through the checked accessors, in place on the source.
// Serves sources that are not 8-bit (the grey conversion failed) and the case
// where the working rows cannot be allocated.
template <class K>
void DiffuseRowsIndexed(CDibImage& src, CDibImage& dst, tagImageInfo& info)
{
    const unsigned w = src.GetWidth();
    const unsigned h = src.GetHeight();
    for (unsigned y = 0; y < h; ++y) {
        if (!RowStart(info, y, h))
            break;
        CBitPacker out(dst.GetBits(y));
        for (unsigned x = 0; x < w; ++x) {
            int err;
            out.Put(DiffuseDecide(src.GetPixelIndex(x, y), err));
            for (const tagTap& t : K::kTaps) {
                const long nx = static_cast<long>(x) + t.dx;
                const long ny = static_cast<long>(y) + t.dy;
                if (!src.IsInside(nx, ny))
                    continue;
                src.SetPixelIndex(nx, ny,
                                  Clamp255(src.GetPixelIndex(nx, ny) + err * t.weight / K::kDivisor));
            }
        }
        out.Flush();
    }
}

// ---------------------------------------------------------------------------
// Error diffusion over bands of eight rows (DibImageBands.h), with SSE2 where
// the processor has it and plain vector code elsewhere.

struct tagLanes8 {
    typedef int16_t V __attribute__((vector_size(16)));
    typedef uint16_t U __attribute__((vector_size(16)));
    static constexpr int kLanes = 8;

    static V AddSaturated(V a, V b)
    {
#if defined(__SSE2__)
        return reinterpret_cast<V>(
            _mm_adds_epi16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#else
        V r;
        for (int j = 0; j < kLanes; ++j) {
            const int v = a[j] + b[j];
            r[j] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
        }
        return r;
#endif
    }

    static unsigned Bits(V m)
    {
#if defined(__SSE2__)
        const __m128i v = reinterpret_cast<__m128i>(m);
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(v, v))) & 0xFFu;
#else
        unsigned bits = 0;
        for (int j = 0; j < kLanes; ++j)
            bits |= (static_cast<unsigned>(m[j]) & 1u) << j;
        return bits;
#endif
    }

    static V ShiftIn(V v, int16_t first)
    {
        const V zero = {};
        V r = __builtin_shufflevector(v, zero, 8, 0, 1, 2, 3, 4, 5, 6);
        r[0] = first;
        return r;
    }
};

} // namespace

bool DiffuseBands8(int method, const CDibImage& src, CDibImage& dst)
{
    return DiffuseBandsWith<tagLanes8>(method, src, dst);
}

std::unique_ptr<IBandDiffusion> NewBandDiffusion8(int method, unsigned width, unsigned height,
                                                  const IGreyRows& src, CDibImage& dst)
{
    return NewBandDiffusionWith<tagLanes8>(method, width, height, src, dst);
}

namespace {

template <class K>
void DiffuseRows(int method, CDibImage& src, CDibImage& dst, tagImageInfo& info)
{
    if (src.GetBpp() == 8) {
        // The bands leave the progress where the last row of the row loop
        // leaves it; a pending abort goes the row-by-row way, which obeys it.
        if (info.iAbortRequest == 0 &&
            (DiffuseBands16(method, src, dst) || DiffuseBands8(method, src, dst))) {
            const unsigned h = src.GetHeight();
            info.iProgressPercent = static_cast<int32_t>(uint64_t{100} * (h - 1) / h);
            return;
        }
        const std::size_t bytes = K::kRows * (std::size_t{src.GetWidth()} + 2 * kDiffusePad);
        uint8_t* ring = new (std::nothrow) uint8_t[bytes];
        if (ring) {
            DiffuseRows8<K>(src, dst, info, ring);
            delete[] ring;
            return;
        }
    }
    DiffuseRowsIndexed<K>(src, dst, info);
}

// ---------------------------------------------------------------------------
// Ordered dither tables

// 4 x 4 Bayer index matrix, [y & 3][x & 3].
constexpr uint8_t kOrder4[4][4] = {
    {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// 8 x 8 Bayer matrix, [x & 7][y & 7] (column first).
constexpr uint8_t kOrder8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},  {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

// 16 x 16 ordered matrix holding every level 0..255 once, [x & 15][y & 15].
constexpr uint8_t kOrder16[16][16] = {
    {1, 235, 59, 219, 15, 231, 55, 215, 2, 232, 56, 216, 12, 228, 52, 212},
    {129, 65, 187, 123, 143, 79, 183, 119, 130, 66, 184, 120, 140, 76, 180, 116},
    {33, 193, 17, 251, 47, 207, 31, 247, 34, 194, 18, 248, 44, 204, 28, 244},
    {161, 97, 145, 81, 175, 111, 159, 95, 162, 98, 146, 82, 172, 108, 156, 92},
    {9, 225, 49, 209, 5, 239, 63, 223, 10, 226, 50, 210, 6, 236, 60, 220},
    {137, 73, 177, 113, 133, 69, 191, 127, 138, 74, 178, 114, 134, 70, 188, 124},
    {41, 201, 25, 241, 37, 197, 21, 255, 42, 202, 26, 242, 38, 198, 22, 252},
    {169, 105, 153, 89, 165, 101, 149, 85, 170, 106, 154, 90, 166, 102, 150, 86},
    {3, 233, 57, 217, 13, 229, 53, 213, 0, 234, 58, 218, 14, 230, 54, 214},
    {131, 67, 185, 121, 141, 77, 181, 117, 128, 64, 186, 122, 142, 78, 182, 118},
    {35, 195, 19, 249, 45, 205, 29, 245, 32, 192, 16, 250, 46, 206, 30, 246},
    {163, 99, 147, 83, 173, 109, 157, 93, 160, 96, 144, 80, 174, 110, 158, 94},
    {11, 227, 51, 211, 7, 237, 61, 221, 8, 224, 48, 208, 4, 238, 62, 222},
    {139, 75, 179, 115, 135, 71, 189, 125, 136, 72, 176, 112, 132, 68, 190, 126},
    {43, 203, 27, 243, 39, 199, 23, 253, 40, 200, 24, 240, 36, 196, 20, 254},
    {171, 107, 155, 91, 167, 103, 151, 87, 168, 104, 152, 88, 164, 100, 148, 84}};

// Bayer table of the given order (2^(2 x order) entries), built by
// interleaving the bits of the row and column numbers.
void MakeBayerTable(uint8_t* table, unsigned order)
{
    const unsigned n = 1u << (2 * order);
    for (unsigned i = 0; i < n; ++i) {
        unsigned a = i / order;
        unsigned b = i % order;
        unsigned value = 0;
        for (unsigned k = 0; k < order; ++k) {
            value = (((value << 1) | ((a & 1) ^ (b & 1))) << 1) | (b & 1);
            a >>= 1;
            b >>= 1;
        }
        table[i] = static_cast<uint8_t>(value);
    }
}

// The Bayer table of order 4 (only its first 16 entries are reached,
// indexed (x mod 4) + 4 (y mod 4)).
const uint8_t* Bayer4()
{
    static const struct tagBayer {
        uint8_t v[256];
        tagBayer() { MakeBayerTable(v, 4); }
    } kTable;
    return kTable.v;
}

// The pixel rule white(level, x, y) of Threshold(level).
inline auto ThresholdRule(unsigned char level)
{
    return [level](unsigned v, unsigned, unsigned) { return v > level; };
}

// The bits of a byte in reverse order.
struct tagBitReversal {
    uint8_t v[256];
    constexpr tagBitReversal() : v()
    {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = 0;
            for (unsigned b = 0; b < 8; ++b)
                r |= ((i >> b) & 1u) << (7 - b);
            v[i] = static_cast<uint8_t>(r);
        }
    }
};
constexpr tagBitReversal kBitReversal;

// Threshold of a row of w grey levels: white above level, as BinariseRow8
// with the threshold rule, sixteen pixels a step where the vector unit
// compares them at once.
void ThresholdRow8(const uint8_t* s, uint8_t* d, unsigned w, unsigned char level)
{
    unsigned x = 0;
#if defined(__SSE2__)
    // Unsigned comparison as a signed one of the levels less 128.
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i limit = _mm_set1_epi8(static_cast<char>(level ^ 0x80));
    for (; x + 16 <= w; x += 16) {
        const __m128i v = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x)), bias);
        // Bit i: pixel x + i is white; the row wants pixel x first, in the
        // most significant bit.
        const unsigned white = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(v, limit)));
        d[x / 8] = kBitReversal.v[white & 0xFF];
        d[x / 8 + 1] = kBitReversal.v[white >> 8];
    }
#endif
    BinariseRow8(s + x, d + x / 8, w - x, 0, ThresholdRule(level));
}

// Calls f with the pixel rule white(level, x, y) of an ordered Dither
// method (1, 7, 8, 9) and returns true; false, without calling f, for the
// error diffusion methods.
template <class F>
bool WithOrderedRule(int method, F f)
{
    switch (method) {
    case 1:
        // 4 x 4 ordered: d = level x 16 / 255 against the index matrix.
        f([](unsigned v, unsigned x, unsigned y) {
            return v == 255 || kOrder4[y & 3][x & 3] < (v * 16 / 255) % 16;
        });
        return true;
    case 7: {
        const uint8_t* bayer = Bayer4();
        f([bayer](unsigned v, unsigned x, unsigned y) { return v > bayer[(x & 3) + 4 * (y & 3)]; });
        return true;
    }
    case 8:
        f([](unsigned v, unsigned x, unsigned y) {
            const unsigned q = v >> 2;
            return q != 0 && q >= kOrder8[x & 7][y & 7];
        });
        return true;
    case 9:
        // The matrix holds 255 once; full white is kept white so that a
        // blank page gets no stray dot in every 16 x 16 tile.
        f([](unsigned v, unsigned x, unsigned y) {
            return v == 255 || v > kOrder16[x & 15][y & 15];
        });
        return true;
    default:
        return false;
    }
}

} // namespace

bool CDibImage::GrayScale()
{
    if (!m_pBlock)
        return false;
    const unsigned w = GetWidth();
    const unsigned h = GetHeight();
    const unsigned bpp = GetBpp();

    // The 8-bit result of a 24-, 4- or 1-bit image, with this image's
    // information record, the grey ramp, and copies of selection and alpha.
    CDibImage gray;
    auto makeGray = [&]() -> bool {
        gray.CopyInfo(*this);
        if (!gray.Create(w, h, 8, GetType()))
            return false;
        gray.SetGrayPalette();
        gray.m_pSelectionMask = CopyPlane(m_pSelectionMask, w, h);
        if (AlphaIsValid())
            gray.AlphaCopy(*this);
        return true;
    };

    if (bpp == 24) {
        if (!makeGray())
            return false;
        if (m_info.iTransparentIndex >= 0)
            gray.SetTransIndex(GrayOf(GetTransColor()));
        for (unsigned y = 0; y < h; ++y) {
            const uint8_t* s = GetBits(y);
            uint8_t* d = gray.GetBits(y);
            for (unsigned x = 0; x < w; ++x, s += 3)
                d[x] = GrayOf(s[0], s[1], s[2]);
        }
        Transfer(gray, true);
        return true;
    }

    tagRGBQUAD* pal = GetPalette();
    const unsigned colours = GetNumColors();
    if (!pal)
        return false;
    // The grey of every entry goes into its blue byte; pixels are then
    // mapped through the blue bytes.
    uint8_t blue[256] = {};
    for (unsigned j = 0; j < colours; ++j) {
        pal[j].rgbBlue = GrayOf(pal[j]);
        blue[j] = pal[j].rgbBlue;
    }
    ClearNearestCache();
    if (m_info.iTransparentIndex >= 0)
        m_info.iTransparentIndex = static_cast<unsigned>(m_info.iTransparentIndex) < colours
                                       ? blue[m_info.iTransparentIndex]
                                       : 0;

    if (bpp == 8) {
        // A grey ramp maps every index to itself (the weights sum to 1024),
        // and so does any palette whose blue bytes now count 0..255: then
        // the pixels stay as they are.
        bool identity = colours == 256;
        for (unsigned j = 0; j < colours && identity; ++j)
            identity = blue[j] == j;
        uint8_t* p = m_info.pPixels;
        const std::size_t n = m_dibHeader.biSizeImage;
        if (!identity)
            for (std::size_t i = 0; i < n; ++i)
                p[i] = blue[p[i]];
        SetGrayPalette();
        return true;
    }

    if (!makeGray())
        return false;
    for (unsigned y = 0; y < h; ++y) {
        const uint8_t* s = GetBits(y);
        uint8_t* d = gray.GetBits(y);
        if (bpp == 4) {
            for (unsigned x = 0; x < w; ++x)
                d[x] = blue[(s[x >> 1] >> (4 * (1 - (x & 1)))) & 15];
        } else {
            for (unsigned x = 0; x < w; ++x)
                d[x] = blue[(s[x >> 3] >> (7 - (x & 7))) & 1];
        }
    }
    Transfer(gray, true);
    return true;
}

bool CDibImage::Light(int brightness, int contrast)
{
    if (!m_pBlock)
        return false;
    // The sums are taken in 64 bits: settings near the int limits (from the
    // PPD or the job options) must not overflow them.
    const float c = static_cast<float>(static_cast<long long>(contrast) + 100) / 100.0f;
    const long long b = static_cast<long long>(brightness) + 128;
    unsigned char table[256];
    for (int i = 0; i < 256; ++i) {
        // Single precision, left to right; the product is rounded on its own
        // (no fused multiply-add).
        volatile float product = static_cast<float>(i - 128) * c;
        const float v = product + static_cast<float>(b) + 0.5f;
        // Truncated and clamped to 0..255; clamped before the conversion,
        // which is undefined for values outside int.
        table[i] = v >= 255.0f ? 255 : (v <= 0.0f ? 0 : Clamp255(static_cast<int>(v)));
    }
    return Lut(table);
}

bool CDibImage::Lut(const unsigned char* table)
{
    if (!m_pBlock || !table)
        return false;
    const unsigned w = GetWidth();
    const unsigned h = GetHeight();
    const unsigned bpp = GetBpp();

    // The selection's bounding box clipped to the image, for the selective
    // paths; false when it is empty.
    unsigned x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    auto selectionBox = [&]() -> bool {
        const tagRECT& r = m_info.rcSelection;
        if (r.right == r.left || r.top == r.bottom)
            return false;
        auto clip = [](long v, unsigned limit) -> unsigned {
            return v < 0 ? 0u : (static_cast<unsigned long>(v) > limit ? limit : static_cast<unsigned>(v));
        };
        x0 = clip(r.left < r.right ? r.left : r.right, w);
        x1 = clip(r.left < r.right ? r.right : r.left, w);
        y0 = clip(r.bottom < r.top ? r.bottom : r.top, h);
        y1 = clip(r.bottom < r.top ? r.top : r.bottom, h);
        return true;
    };

    if (bpp <= 8) {
        if (m_pSelectionMask && bpp == 8 && IsGrayScale()) {
            if (!selectionBox())
                return false;
            for (unsigned y = y0; y < y1; ++y) {
                uint8_t* row = GetBits(y);
                const uint8_t* mask = m_pSelectionMask + std::size_t{y} * w;
                for (unsigned x = x0; x < x1; ++x)
                    if (mask[x])
                        row[x] = table[row[x]];
            }
            return true;
        }
        const bool bWasGray = IsGrayScale();
        tagRGBQUAD* pal = GetPalette();
        const unsigned colours = GetNumColors();
        if (pal) {
            for (unsigned j = 0; j < colours; ++j) {
                tagRGBQUAD& e = pal[j];
                const bool bWhite = e.rgbRed == 255 && e.rgbGreen == 255 && e.rgbBlue == 255;
                const bool bBlack = e.rgbRed == 0 && e.rgbGreen == 0 && e.rgbBlue == 0;
                if (bWhite || bBlack)
                    continue;
                e.rgbRed = table[e.rgbRed];
                e.rgbGreen = table[e.rgbGreen];
                e.rgbBlue = table[e.rgbBlue];
            }
            ClearNearestCache();
        }
        if (bWasGray)
            GrayScale();
        return true;
    }

    if (m_pSelectionMask) {
        if (!selectionBox())
            return false;
        for (unsigned y = y0; y < y1; ++y) {
            uint8_t* row = GetBits(y);
            const uint8_t* mask = m_pSelectionMask + std::size_t{y} * w;
            for (unsigned x = x0; x < x1; ++x) {
                if (!mask[x])
                    continue;
                uint8_t* px = row + 3 * std::size_t{x};
                px[0] = table[px[0]];
                px[1] = table[px[1]];
                px[2] = table[px[2]];
            }
        }
        return true;
    }

    uint8_t* p = m_info.pPixels;
    const std::size_t n = m_dibHeader.biSizeImage;
    for (std::size_t i = 0; i < n; ++i)
        p[i] = table[p[i]];
    return true;
}

bool CDibImage::Threshold(unsigned char level)
{
    if (!m_pBlock)
        return false;
    if (GetBpp() == 1)
        return true;
    GrayScale();

    CDibImage result(GetWidth(), GetHeight(), 1, 0);
    if (!result.IsValid()) {
        SetError(result.GetLastError());
        return false;
    }
    BinariseRows(*this, result, m_info, ThresholdRule(level));
    SetBlackWhitePalette(result);
    Transfer(result, true);
    return true;
}

bool CDibImage::Dither(int method)
{
    if (!m_pBlock)
        return false;
    if (GetBpp() == 1)
        return true;
    GrayScale();

    CDibImage result;
    result.CopyInfo(*this);
    result.Create(GetWidth(), GetHeight(), 1, GetType());
    if (!result.IsValid()) {
        SetError(result.GetLastError());
        return false;
    }
    result.m_pSelectionMask = CopyPlane(m_pSelectionMask, GetWidth(), GetHeight());
    if (AlphaIsValid())
        result.AlphaCopy(*this);

    if (!WithOrderedRule(method, [&](auto white) { BinariseRows(*this, result, m_info, white); })) {
        switch (method) {
        case 2:
            DiffuseRows<CBurkes>(method, *this, result, m_info);
            break;
        case 3:
            DiffuseRows<CStucki>(method, *this, result, m_info);
            break;
        case 4:
            DiffuseRows<CJarvisJudiceNinke>(method, *this, result, m_info);
            break;
        case 5:
            DiffuseRows<CSierra>(method, *this, result, m_info);
            break;
        case 6:
            DiffuseRows<CStevensonArce>(method, *this, result, m_info);
            break;
        default:
            DiffuseRows<CFloydSteinberg>(method, *this, result, m_info);
            break;
        }
    }

    SetBlackWhitePalette(result);
    Transfer(result, true);
    return true;
}

// ---------------------------------------------------------------------------
// Row-at-a-time tone transforms (DibImageRows.h)

bool DibToneLevels(unsigned bpp, bool light, int brightness, int contrast, uint8_t* levels)
{
    const unsigned n = bpp == 4 ? 16 : 256;
    CDibImage probe(n, 1, bpp == 4 ? 4 : 8, 0);
    if (!probe.IsValid())
        return false;
    probe.SetGrayPalette();
    for (unsigned v = 0; v < n; ++v)
        probe.SetPixelIndex(static_cast<long>(v), 0, static_cast<unsigned char>(v));
    if (light)
        probe.Light(brightness, contrast);
    if (!probe.GrayScale() || probe.GetBpp() != 8)
        return false;
    std::memcpy(levels, probe.GetBits(0), n);
    return true;
}

// The rows the page is halftoned from: one row for the pixel rules, a ring
// of rows (row y in slot y mod count) for a band diffusion.
struct CHalftoneRows::tagState final : public IGreyRows {
    const uint8_t* Row(unsigned y) const override
    {
        return rows.get() + static_cast<std::size_t>(y % count) * width;
    }

    int method = 0;
    unsigned char level = 0;
    std::size_t width = 0;
    unsigned count = 1;
    std::unique_ptr<uint8_t[]> rows;
    std::unique_ptr<IBandDiffusion> diffusion;
    unsigned nextBand = 0;
};

CHalftoneRows::CHalftoneRows() = default;
CHalftoneRows::~CHalftoneRows() = default;

void CHalftoneRows::Clear()
{
    m_state.reset();
    m_result.Destroy();
    m_width = 0;
    m_height = 0;
    m_rows = 0;
}

bool CHalftoneRows::Begin(unsigned width, unsigned height, int method, unsigned char level,
                          int xdpi, int ydpi)
{
    Clear();
    m_width = width;
    m_height = height;

    // The result as Threshold (a new image) or Dither (a new image with its
    // source's record) creates it.
    CDibImage result;
    if (method != kThreshold) {
        CDibImage source;
        source.SetXDPI(xdpi);
        source.SetYDPI(ydpi);
        result.CopyInfo(source);
    }
    if (!result.Create(width, height, 1, 0))
        return false;
    SetBlackWhitePalette(result);
    m_result.Transfer(result, true);

    std::unique_ptr<tagState> st(new (std::nothrow) tagState);
    if (!st) {
        m_result.Destroy();
        return false;
    }
    st->method = method;
    st->level = level;
    st->width = width;
    if (method != kThreshold && !WithOrderedRule(method, [](auto) {})) {
        st->diffusion = NewBandDiffusion16(method, width, height, *st, m_result);
        if (!st->diffusion)
            st->diffusion = NewBandDiffusion8(method, width, height, *st, m_result);
        if (!st->diffusion) {
            m_result.Destroy();
            return false;
        }
        st->count = st->diffusion->BandRows() + st->diffusion->RowsBelow();
    }
    st->rows.reset(new (std::nothrow) uint8_t[st->count * st->width]);
    if (!st->rows) {
        m_result.Destroy();
        return false;
    }
    m_state = std::move(st);
    return true;
}

uint8_t* CHalftoneRows::NextRow()
{
    if (!m_state || m_rows >= m_height)
        return nullptr;
    return const_cast<uint8_t*>(m_state->Row(m_rows));
}

void CHalftoneRows::RowDone()
{
    if (!m_state || m_rows >= m_height)
        return;
    tagState& st = *m_state;
    const unsigned y = m_rows++;
    if (!st.diffusion) {
        const uint8_t* levels = st.Row(y);
        uint8_t* out = m_result.GetBits(y);
        if (st.method == kThreshold)
            ThresholdRow8(levels, out, m_width, st.level);
        else
            WithOrderedRule(st.method, [&](auto white) { BinariseRow8(levels, out, m_width, y, white); });
        return;
    }
    // A band is diffused once the rows below it that it reads are in.
    const unsigned long long reach = st.diffusion->BandRows() + st.diffusion->RowsBelow();
    while (st.nextBand < m_height &&
           m_rows >= std::min<unsigned long long>(m_height, st.nextBand + reach)) {
        st.diffusion->Band(st.nextBand);
        st.nextBand += st.diffusion->BandRows();
    }
}
