// Geometric transforms: resampling, mirror, rotation and crop.
//
// Every transform builds its result in a local image and moves it into the
// destination (or into this image) with Transfer, so the caller's image
// object stays the same object and the pixels are never copied twice.
#include "DibImage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Transposes an 8 x 8 bit block. Byte r of the input is row r, its most
// significant bit column 0; row 0 sits in the most significant byte.
inline uint64_t Transpose8x8(uint64_t x)
{
    uint64_t t;
    t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x = x ^ t ^ (t << 28);
    return x;
}

inline uint8_t ReverseBits(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

// Mask of the bits of the last used byte of a one-bit row that hold pixels.
inline uint8_t LastByteMask(unsigned width)
{
    const unsigned rem = width & 7;
    return rem ? static_cast<uint8_t>(0xFF << (8 - rem)) : 0xFF;
}

inline uint8_t ClampByte(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<uint8_t>(v);
}

// Cubic B-spline kernel.
float KernelBSpline(float t)
{
    if (t > 2.0f)
        return 0.0f;
    auto p3 = [](float u) { return u > 0.0f ? u * u * u : 0.0f; };
    return (p3(t + 2.0f) - 4.0f * p3(t + 1.0f) + 6.0f * p3(t) - 4.0f * p3(t - 1.0f)) / 6.0f;
}

// One source span of an area-averaging result pixel: source index and its
// overlap in sub-units (1000 per source pixel).
struct tagSpan {
    unsigned uSource;
    uint64_t uWeight;
};

// For every result index, the source pixels it covers and by how much.
// Result pixel i covers sub-units [i * src * 1000 / dst, (i + 1) * src * 1000 / dst).
void BuildSpans(unsigned src, unsigned dst, std::vector<std::vector<tagSpan>>& spans)
{
    spans.assign(dst, {});
    const uint64_t total = static_cast<uint64_t>(src) * 1000u;
    for (unsigned i = 0; i < dst; ++i) {
        const uint64_t start = total * i / dst;
        const uint64_t end = total * (i + 1) / dst;
        for (uint64_t s = start / 1000u; s * 1000u < end && s < src; ++s) {
            const uint64_t lo = std::max(start, s * 1000u);
            const uint64_t hi = std::min(end, (s + 1) * 1000u);
            if (hi > lo)
                spans[i].push_back({static_cast<unsigned>(s), hi - lo});
        }
    }
}

} // namespace

bool CDibImage::Resample(int newx, int newy, int mode, CDibImage* dst)
{
    if (newx == 0 || newy == 0)
        return false;
    if (dst == this)
        dst = nullptr;

    const int width = static_cast<int>(GetWidth());
    const int height = static_cast<int>(GetHeight());
    if (newx == width && newy == height) {
        if (dst)
            dst->Copy(*this, true, true, true);
        return true;
    }

    const float xscale = static_cast<float>(width) / static_cast<float>(newx);
    const float yscale = static_cast<float>(height) / static_cast<float>(newy);

    CDibImage res(0);
    res.CopyInfo(*this);
    res.Create(static_cast<unsigned>(newx), static_cast<unsigned>(newy), GetBpp(), GetType());
    if (!res.IsValid()) {
        SetError(res.GetLastError());
        return false;
    }
    res.SetPalette(GetPalette(), 256);

    if (mode == 1) {
        // Nearest pixel. Indexed images: the nearest palette index of the
        // source colour, the source index itself for a palette without
        // duplicate colours.
        const bool alpha = AlphaIsValid() && res.AlphaCreate();
        for (int y = 0; y < newy; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * y / newy);
            if (m_info.iAbortRequest)
                break;
            const float fy = static_cast<float>(y) * yscale;
            const long sy = static_cast<long>(fy);
            for (int x = 0; x < newx; ++x) {
                const float fx = static_cast<float>(x) * xscale;
                const long sx = static_cast<long>(fx);
                res.SetPixelColor(x, y, GetPixelColor(sx, sy, true), false);
                if (alpha)
                    res.AlphaSet(x, y, AlphaGet(sx, sy));
            }
        }
    } else if (mode == 2) {
        // Bicubic: cubic B-spline over the 4 x 4 neighbourhood, coordinates
        // clamped to the image.
        const long maxX = width - 1;
        const long maxY = height - 1;
        for (int y = 0; y < newy; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * y / newy);
            if (m_info.iAbortRequest)
                break;
            const float fy = static_cast<float>(y) * yscale - 0.5f;
            const float iy = std::floor(fy);
            const float dy = fy - iy;
            for (int x = 0; x < newx; ++x) {
                const float fx = static_cast<float>(x) * xscale - 0.5f;
                const float ix = std::floor(fx);
                const float dx = fx - ix;
                float r = 0.0f, g = 0.0f, b = 0.0f;
                for (int m = -1; m <= 2; ++m) {
                    const float ky = KernelBSpline(static_cast<float>(m) - dy);
                    const long sy = std::clamp(static_cast<long>(iy) + m, 0L, std::max(0L, maxY));
                    for (int n = -1; n <= 2; ++n) {
                        const float k = ky * KernelBSpline(dx - static_cast<float>(n));
                        const long sx =
                            std::clamp(static_cast<long>(ix) + n, 0L, std::max(0L, maxX));
                        const tagRGBQUAD c = GetPixelColor(sx, sy, true);
                        r += c.rgbRed * k;
                        g += c.rgbGreen * k;
                        b += c.rgbBlue * k;
                    }
                }
                tagRGBQUAD out = {ClampByte(b), ClampByte(g), ClampByte(r), 0};
                res.SetPixelColor(x, y, out, false);
            }
        }
    } else if (GetBpp() == 24 && IsValid() && newx < width && newy < height) {
        // Area-averaging shrink: each result pixel is the mean of the source
        // area it covers, weighted in sub-units of 1/1000 source pixel.
        std::vector<std::vector<tagSpan>> colSpans, rowSpans;
        BuildSpans(static_cast<unsigned>(width), static_cast<unsigned>(newx), colSpans);
        BuildSpans(static_cast<unsigned>(height), static_cast<unsigned>(newy), rowSpans);
        std::vector<uint64_t> acc(static_cast<size_t>(newx) * 3);
        for (int y = 0; y < newy; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * y / newy);
            if (m_info.iAbortRequest)
                break;
            std::fill(acc.begin(), acc.end(), 0);
            uint64_t rowWeight = 0;
            for (const tagSpan& rs : rowSpans[static_cast<size_t>(y)]) {
                rowWeight += rs.uWeight;
                const uint8_t* src = GetBits(rs.uSource);
                for (int x = 0; x < newx; ++x) {
                    uint64_t* a = &acc[static_cast<size_t>(x) * 3];
                    for (const tagSpan& cs : colSpans[static_cast<size_t>(x)]) {
                        const uint64_t w = rs.uWeight * cs.uWeight;
                        const uint8_t* p = src + static_cast<size_t>(cs.uSource) * 3;
                        a[0] += w * p[0];
                        a[1] += w * p[1];
                        a[2] += w * p[2];
                    }
                }
            }
            uint8_t* out = res.GetBits(static_cast<unsigned>(y));
            for (int x = 0; x < newx; ++x) {
                uint64_t colWeight = 0;
                for (const tagSpan& cs : colSpans[static_cast<size_t>(x)])
                    colWeight += cs.uWeight;
                const uint64_t total = rowWeight * colWeight;
                for (int c = 0; c < 3; ++c) {
                    const uint64_t v = total ? (acc[static_cast<size_t>(x) * 3 + c] + total / 2) / total : 0;
                    out[static_cast<size_t>(x) * 3 + c] = static_cast<uint8_t>(std::min<uint64_t>(v, 255));
                }
            }
        }
    } else {
        // Bilinear.
        for (int y = 0; y < newy; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * y / newy);
            if (m_info.iAbortRequest)
                break;
            const float fy = static_cast<float>(y) * yscale;
            const long iy = static_cast<long>(fy);
            const long iy1 = std::min<long>(height - 1, iy + 1);
            const float dy = fy - static_cast<float>(iy);
            for (int x = 0; x < newx; ++x) {
                const float fx = static_cast<float>(x) * xscale;
                const long ix = static_cast<long>(fx);
                const long ix1 = std::min<long>(width - 1, ix + 1);
                const float dx = fx - static_cast<float>(ix);
                const tagRGBQUAD c1 = GetPixelColor(ix, iy, true);
                const tagRGBQUAD c2 = GetPixelColor(ix1, iy, true);
                const tagRGBQUAD c3 = GetPixelColor(ix, iy1, true);
                const tagRGBQUAD c4 = GetPixelColor(ix1, iy1, true);
                auto lerp = [&](uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4) {
                    const float a = v1 + (v3 - v1) * dy;
                    const float b = v2 + (v4 - v2) * dy;
                    return ClampByte(a + (b - a) * dx);
                };
                tagRGBQUAD out = {lerp(c1.rgbBlue, c2.rgbBlue, c3.rgbBlue, c4.rgbBlue),
                                  lerp(c1.rgbGreen, c2.rgbGreen, c3.rgbGreen, c4.rgbGreen),
                                  lerp(c1.rgbRed, c2.rgbRed, c3.rgbRed, c4.rgbRed), 0};
                res.SetPixelColor(x, y, out, false);
            }
        }
    }

    if (mode != 1 && AlphaIsValid()) {
        // The alpha plane goes through the same resampling as a gray image.
        CDibImage plane(GetWidth(), GetHeight(), 8, 0);
        if (plane.IsValid()) {
            plane.SetGrayPalette();
            for (unsigned y = 0; y < GetHeight(); ++y)
                std::memcpy(plane.GetBits(y), m_pAlphaPlane + static_cast<size_t>(y) * GetWidth(),
                            GetWidth());
            if (plane.Resample(newx, newy, mode, nullptr) && res.AlphaCreate()) {
                for (int y = 0; y < newy; ++y)
                    std::memcpy(res.m_pAlphaPlane + static_cast<size_t>(y) * newx,
                                plane.GetBits(static_cast<unsigned>(y)), static_cast<size_t>(newx));
            }
        }
    }

    return (dst ? *dst : *this).Transfer(res, true);
}

bool CDibImage::Mirror(bool mirrorselection, bool mirroralpha)
{
    if (!IsValid())
        return false;

    CDibImage tmp(*this, false, true, true);
    if (!tmp.IsValid())
        return false;

    const unsigned width = GetWidth();
    const unsigned height = GetHeight();
    const unsigned bpp = GetBpp();
    if (bpp == 8) {
        for (unsigned y = 0; y < height; ++y) {
            const uint8_t* src = GetBits(y);
            uint8_t* out = tmp.GetBits(y);
            for (unsigned x = 0; x < width; ++x)
                out[x] = src[width - 1 - x];
        }
    } else if (bpp == 24) {
        // Pixels move as whole blue, green, red triples.
        const unsigned w = (width - 1) * 3;
        for (unsigned y = 0; y < height; ++y) {
            const uint8_t* src = GetBits(y);
            uint8_t* out = tmp.GetBits(y);
            for (unsigned x = 0; x <= w; x += 3) {
                out[x] = src[w - x];
                out[x + 1] = src[w - x + 1];
                out[x + 2] = src[w - x + 2];
            }
        }
    } else {
        const long w = static_cast<long>(width) - 1;
        for (long y = 0; y < static_cast<long>(height); ++y)
            for (long x = 0; x <= w; ++x)
                tmp.SetPixelIndex(x, y, GetPixelIndex(w - x, y));
    }

    if (mirrorselection)
        tmp.SelectionMirror();
    if (mirroralpha)
        tmp.AlphaMirror();

    return Transfer(tmp, true);
}

bool CDibImage::Rotate(float angle, CDibImage* dst)
{
    if (!IsValid())
        return false;
    if (!std::isfinite(angle))
        return false;
    if (dst == this)
        dst = nullptr;

    const float turn = std::fmod(angle, 360.0f);
    if (std::fmod(angle, 180.0f) == 0.0f && turn != 0.0f)
        return Rotate180(dst);

    const long W = static_cast<long>(GetWidth());
    const long H = static_cast<long>(GetHeight());
    const bool indexed = GetBpp() < 24;

    // Quarter turns move every source pixel exactly once, without the
    // rounding of the general path (which would drop a source line and
    // fill another with the out-of-range pixel).
    const bool quarter90 = (turn == 90.0f || turn == -270.0f);
    const bool quarter270 = (turn == 270.0f || turn == -90.0f);
    if (quarter90 || quarter270) {
        CDibImage res(0);
        res.CopyInfo(*this);
        res.Create(static_cast<unsigned>(H), static_cast<unsigned>(W), GetBpp(), GetType());
        if (!res.IsValid()) {
            SetError(res.GetLastError());
            return false;
        }
        res.SetPalette(GetPalette(), 256);
        const bool alpha = AlphaIsValid() && res.AlphaCreate();

        if (GetBpp() == 1) {
            // Result row ny is a source column read along the rows; 8 x 8
            // bit blocks are transposed at once. Rows past the height read
            // as 0 so that the result's padding bits stay clear.
            const unsigned srcBytes = (static_cast<unsigned>(W) + 7) / 8;
            const unsigned outBytes = (static_cast<unsigned>(H) + 7) / 8;
            for (unsigned j = 0; j < outBytes; ++j) {
                m_info.iProgressPercent = static_cast<int32_t>(100ULL * j / outBytes);
                if (m_info.iAbortRequest)
                    break;
                const uint8_t* rows[8];
                for (unsigned r = 0; r < 8; ++r) {
                    const long nx = static_cast<long>(j * 8 + r);
                    const long sy = quarter90 ? nx : H - 1 - nx;
                    rows[r] = (nx < H) ? GetBits(static_cast<unsigned>(sy)) : nullptr;
                }
                for (unsigned bx = 0; bx < srcBytes; ++bx) {
                    uint64_t block = 0;
                    for (unsigned r = 0; r < 8; ++r)
                        block = (block << 8) | (rows[r] ? rows[r][bx] : 0u);
                    block = Transpose8x8(block);
                    for (unsigned c = 0; c < 8; ++c) {
                        const long sx = static_cast<long>(bx * 8 + c);
                        if (sx >= W)
                            break;
                        const long ny = quarter90 ? W - 1 - sx : sx;
                        res.GetBits(static_cast<unsigned>(ny))[j] =
                            static_cast<uint8_t>(block >> (8 * (7 - c)));
                    }
                }
            }
        } else {
            for (long ny = 0; ny < W; ++ny) {
                m_info.iProgressPercent = static_cast<int32_t>(100LL * ny / W);
                if (m_info.iAbortRequest)
                    break;
                for (long nx = 0; nx < H; ++nx) {
                    const long sx = quarter90 ? W - 1 - ny : ny;
                    const long sy = quarter90 ? nx : H - 1 - nx;
                    if (indexed)
                        res.SetPixelIndex(nx, ny, GetPixelIndex(sx, sy));
                    else
                        res.SetPixelColor(nx, ny, GetPixelColor(sx, sy, true), false);
                }
            }
        }
        if (alpha) {
            for (long ny = 0; ny < W; ++ny)
                for (long nx = 0; nx < H; ++nx)
                    res.AlphaSet(nx, ny, quarter90 ? AlphaGet(W - 1 - ny, nx)
                                                   : AlphaGet(ny, H - 1 - nx));
        }
        return (dst ? *dst : *this).Transfer(res, true);
    }

    // General path: nearest source pixel of every result position.
    const float a = (-angle * std::acos(0.0f)) / 90.0f;
    const double cosa = std::cos(static_cast<double>(a));
    const double sina = std::sin(static_cast<double>(a));

    const double cx[4] = {0.0, static_cast<double>(W), 0.0, static_cast<double>(W)};
    const double cy[4] = {0.0, 0.0, static_cast<double>(H), static_cast<double>(H)};
    float left = 0, top = 0, right = 0, bottom = 0;
    for (int i = 0; i < 4; ++i) {
        const float px = static_cast<float>(cx[i] * cosa - cy[i] * sina);
        const float py = static_cast<float>(cx[i] * sina + cy[i] * cosa);
        if (i == 0 || px < left)
            left = px;
        if (i == 0 || px > right)
            right = px;
        if (i == 0 || py < top)
            top = py;
        if (i == 0 || py > bottom)
            bottom = py;
    }
    const float newW = std::floor(right + 0.5f - left);
    const float newH = std::floor(bottom + 0.5f - top);

    CDibImage res(0);
    res.CopyInfo(*this);
    if (newW >= 1.0f && newH >= 1.0f && newW < 4294967296.0f && newH < 4294967296.0f)
        res.Create(static_cast<unsigned>(newW), static_cast<unsigned>(newH), GetBpp(), GetType());
    else
        res.Create(0, 0, GetBpp(), GetType());
    if (!res.IsValid()) {
        // Keep this image rather than replacing it by an empty one.
        SetError(res.GetLastError());
        return false;
    }
    res.SetPalette(GetPalette(), 256);
    if (AlphaIsValid() && res.AlphaCreate())
        res.AlphaClear();

    const long y0 = static_cast<long>(top), y1 = static_cast<long>(bottom);
    const long x0 = static_cast<long>(left), x1 = static_cast<long>(right);
    const long rows = static_cast<long>(res.GetHeight());
    long ny = 0;
    for (long y = y0; y <= y1; ++y, ++ny) {
        m_info.iProgressPercent = static_cast<int32_t>(100LL * ny / rows);
        if (m_info.iAbortRequest)
            break;
        long nx = 0;
        for (long x = x0; x <= x1; ++x, ++nx) {
            const long ox = static_cast<long>(x * cosa + y * sina + 0.5);
            const long oy = static_cast<long>(y * cosa - x * sina + 0.5);
            if (indexed)
                res.SetPixelIndex(nx, ny, GetPixelIndex(ox, oy));
            else
                res.SetPixelColor(nx, ny, GetPixelColor(ox, oy, true), false);
            res.AlphaSet(nx, ny, AlphaGet(ox, oy));
        }
    }

    return (dst ? *dst : *this).Transfer(res, true);
}

bool CDibImage::Rotate180(CDibImage* dst)
{
    if (!IsValid())
        return false;
    if (dst == this)
        dst = nullptr;

    const long W = static_cast<long>(GetWidth());
    const long H = static_cast<long>(GetHeight());

    CDibImage res(0);
    res.CopyInfo(*this);
    res.Create(static_cast<unsigned>(W), static_cast<unsigned>(H), GetBpp(), GetType());
    if (!res.IsValid()) {
        // Keep this image rather than replacing it by an empty one.
        SetError(res.GetLastError());
        return false;
    }
    res.SetPalette(GetPalette(), 256);
    const bool alpha = AlphaIsValid() && res.AlphaCreate();

    if (GetBpp() == 1) {
        // Result row H - 1 - y is source row y with its pixels reversed:
        // reverse the bytes and the bits within them, then shift out the
        // source's padding bits, which land at the front.
        const unsigned n = (static_cast<unsigned>(W) + 7) / 8;
        const unsigned shift = n * 8 - static_cast<unsigned>(W);
        std::vector<uint8_t> rev(n + 1);
        for (long y = 0; y < H; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * y / H);
            const uint8_t* src = GetBits(static_cast<unsigned>(y));
            uint8_t* out = res.GetBits(static_cast<unsigned>(H - 1 - y));
            for (unsigned k = 0; k < n; ++k)
                rev[k] = ReverseBits(src[n - 1 - k]);
            rev[n] = 0;
            for (unsigned k = 0; k < n; ++k)
                out[k] = shift ? static_cast<uint8_t>((rev[k] << shift) | (rev[k + 1] >> (8 - shift)))
                               : rev[k];
        }
    } else {
        const bool indexed = GetBpp() < 24;
        for (long y = 0; y < H; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * y / H);
            for (long x = 0; x < W; ++x) {
                if (indexed)
                    res.SetPixelIndex(W - 1 - x, H - 1 - y, GetPixelIndex(x, y));
                else
                    res.SetPixelColor(W - 1 - x, H - 1 - y, GetPixelColor(x, y, true), false);
            }
        }
    }
    if (alpha) {
        for (long y = 0; y < H; ++y)
            for (long x = 0; x < W; ++x)
                res.AlphaSet(W - 1 - x, H - 1 - y, AlphaGet(x, y));
    }

    return (dst ? *dst : *this).Transfer(res, true);
}

bool CDibImage::Crop(int left, int top, int right, int bottom, CDibImage* dst)
{
    if (!IsValid())
        return false;
    if (dst == this)
        dst = nullptr;

    const long W = static_cast<long>(GetWidth());
    const long H = static_cast<long>(GetHeight());
    // Top and bottom count rows back from the end of storage.
    long startx = std::max(0L, std::min<long>(left, W));
    long endx = std::max(0L, std::min<long>(right, W));
    long starty = H - std::max(0L, std::min<long>(top, H));
    long endy = H - std::max(0L, std::min<long>(bottom, H));
    if (startx == endx || starty == endy)
        return false;
    if (startx > endx)
        std::swap(startx, endx);
    if (starty > endy)
        std::swap(starty, endy);

    const unsigned newW = static_cast<unsigned>(endx - startx);
    const unsigned newH = static_cast<unsigned>(endy - starty);
    const unsigned bpp = GetBpp();

    CDibImage res(0);
    res.CopyInfo(*this);
    res.Create(newW, newH, bpp, GetType());
    if (!res.IsValid()) {
        SetError(res.GetLastError());
        return false;
    }
    res.SetPalette(GetPalette(), GetNumColors());
    res.m_info.iTransparentIndex = m_info.iTransparentIndex;
    res.m_info.rgbTransparentColor = m_info.rgbTransparentColor;

    if (bpp == 1) {
        // Whole bytes shifted into place; a start column that is not a
        // multiple of 8 straddles two source bytes. Bits past the width
        // are cleared, as a pixel-by-pixel copy would leave them.
        const unsigned srcBytes = (static_cast<unsigned>(W) + 7) / 8;
        const unsigned outBytes = (newW + 7) / 8;
        const unsigned first = static_cast<unsigned>(startx) / 8;
        const unsigned shift = static_cast<unsigned>(startx) % 8;
        const uint8_t lastMask = LastByteMask(newW);
        for (long y = starty; y < endy; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * (y - starty) / (endy - starty));
            const uint8_t* src = GetBits(static_cast<unsigned>(y));
            uint8_t* out = res.GetBits(static_cast<unsigned>(y - starty));
            for (unsigned k = 0; k < outBytes; ++k) {
                const unsigned i = first + k;
                unsigned v = static_cast<unsigned>(src[i]) << shift;
                if (shift && i + 1 < srcBytes)
                    v |= static_cast<unsigned>(src[i + 1]) >> (8 - shift);
                out[k] = static_cast<uint8_t>(v);
            }
            out[outBytes - 1] &= lastMask;
        }
    } else if (bpp == 4) {
        for (long y = starty; y < endy; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * (y - starty) / (endy - starty));
            for (long x = startx; x < endx; ++x)
                res.SetPixelIndex(x - startx, y - starty, GetPixelIndex(x, y));
        }
    } else {
        const size_t bytes = static_cast<size_t>(newW) * bpp / 8;
        const size_t offset = static_cast<size_t>(startx) * bpp / 8;
        for (long y = starty; y < endy; ++y) {
            m_info.iProgressPercent = static_cast<int32_t>(100LL * (y - starty) / (endy - starty));
            std::memcpy(res.GetBits(static_cast<unsigned>(y - starty)),
                        GetBits(static_cast<unsigned>(y)) + offset, bytes);
        }
    }

    if (AlphaIsValid()) {
        if (!res.AlphaCreate())
            return false;
        for (long y = starty; y < endy; ++y)
            std::memcpy(res.m_pAlphaPlane + static_cast<size_t>(y - starty) * newW,
                        m_pAlphaPlane + static_cast<size_t>(y) * static_cast<size_t>(W) +
                            static_cast<size_t>(startx),
                        newW);
    }

    return (dst ? *dst : *this).Transfer(res, true);
}

bool CDibImage::Crop(const tagRECT& r, CDibImage* dst)
{
    return Crop(r.left, r.top, r.right, r.bottom, dst);
}
