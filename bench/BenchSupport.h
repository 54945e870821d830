// Helpers of the benchmark programs: page images as page intake builds
// them, back ends whose output is discarded, per-page and per-pixel figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BaseRender.h"
#include "BenchPages.h"
#include "DibImage.h"

namespace bench {

// Raster lines of the shape's label (seed 1), 1 bit (set bit white, as page
// intake stores a colour space K page after inverting it) or 8 bits grey.
// Built once per shape and depth.
const std::vector<uint8_t>& Lines(const PageShape& shape, unsigned bpp);

// The page image page intake builds from those lines.
CDibImage IntakeImage(const PageShape& shape, unsigned bpp);

// The one-bit page image the default preparation (Burkes) makes of the grey
// label, as the back ends receive it.
CDibImage PreparedImage(const PageShape& shape);

// Reports the figures per page (the iteration time) and per pixel: items
// per second and the time per pixel ("t/px", in seconds with an SI prefix).
void PerPixel(benchmark::State& state, const PageShape& shape);

// A back end whose output goes nowhere; the bytes are counted so that the
// encoding cannot be optimised away.
template <class T>
class CDiscardRender : public T {
public:
    void WriteSpool(const void* data, int length) override
    {
        if (data && length > 0)
            m_llBytes += length;
    }
    void AddLog(const char*, ...) override {}
    long long m_llBytes = 0;
};

// Registers fn once per page shape, named "<name>/<shape>".
using PageBenchFn = void (*)(benchmark::State&, const PageShape&);
int RegisterPages(const std::string& name, PageBenchFn fn);

} // namespace bench

// Registers a benchmark function for every page shape.
#define BENCH_CONCAT2(a, b) a##b
#define BENCH_CONCAT(a, b) BENCH_CONCAT2(a, b)
#define BENCH_PAGES(name, fn) \
    static const int BENCH_CONCAT(bench_registered_, __LINE__) = ::bench::RegisterPages(name, fn)
