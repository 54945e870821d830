// Error diffusion over bands of sixteen rows, for processors with AVX2:
// the band code of DibImageBands.h compiled for AVX2 with 256-bit lane
// operations. The rest of the program is built for the baseline
// instruction set; this code runs only after the processor has been found
// to have AVX2.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "DibImage.h"

#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

#include "DibImageBands.h"

namespace {

struct tagLanes16 {
    typedef int16_t V __attribute__((vector_size(32)));
    typedef uint16_t U __attribute__((vector_size(32)));
    static constexpr int kLanes = 16;

    static V AddSaturated(V a, V b)
    {
        return reinterpret_cast<V>(
            _mm256_adds_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
    }

    static unsigned Bits(V m)
    {
        // Packing works within each 128-bit half: lanes 0 to 7 land in
        // bytes 0 to 7, lanes 8 to 15 in bytes 16 to 23.
        const __m256i v = reinterpret_cast<__m256i>(m);
        const unsigned bits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_packs_epi16(v, v)));
        return (bits & 0xFFu) | ((bits >> 8) & 0xFF00u);
    }

    static V ShiftIn(V v, int16_t first)
    {
        // t: zero below, v's low half above; each half of the result is the
        // half of v behind the half before it, moved up one lane.
        const __m256i x = reinterpret_cast<__m256i>(v);
        const __m256i t = _mm256_permute2x128_si256(x, x, 0x08);
        return reinterpret_cast<V>(_mm256_insert_epi16(_mm256_alignr_epi8(x, t, 14), first, 0));
    }
};

bool DiffuseBandsAvx2(int method, const CDibImage& src, CDibImage& dst)
{
    return DiffuseBandsWith<tagLanes16>(method, src, dst);
}

std::unique_ptr<IBandDiffusion> NewBandDiffusionAvx2(int method, unsigned width, unsigned height,
                                                     const IGreyRows& src, CDibImage& dst)
{
    return NewBandDiffusionWith<tagLanes16>(method, width, height, src, dst);
}

} // namespace

#pragma GCC pop_options

namespace {

bool HasAvx2()
{
    static const bool kAvx2 = __builtin_cpu_supports("avx2");
    return kAvx2;
}

} // namespace

bool DiffuseBands16(int method, const CDibImage& src, CDibImage& dst)
{
    return HasAvx2() && DiffuseBandsAvx2(method, src, dst);
}

std::unique_ptr<IBandDiffusion> NewBandDiffusion16(int method, unsigned width, unsigned height,
                                                   const IGreyRows& src, CDibImage& dst)
{
    if (!HasAvx2())
        return nullptr;
    return NewBandDiffusionAvx2(method, width, height, src, dst);
}

#else

#include "DibImageBands.h"

bool DiffuseBands16(int, const CDibImage&, CDibImage&)
{
    return false;
}

std::unique_ptr<IBandDiffusion> NewBandDiffusion16(int, unsigned, unsigned, const IGreyRows&,
                                                   CDibImage&)
{
    return nullptr;
}

#endif
