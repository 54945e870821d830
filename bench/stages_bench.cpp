// Page stages one by one on realistic pages: page intake, grey conversion,
// brightness and contrast, threshold, every dither method, white-edge crop,
// the rotations, inversion, padding clean-up, and the whole preparation.
//
// Operations that change the page image start every iteration from a fresh
// copy; the copy is made with the timer paused.
#include "BenchSupport.h"

#include <cstring>

#include <cups/raster.h>

#include "PageAssembler.h"

using namespace bench;

namespace {

void Intake1(benchmark::State& state, const PageShape& s)
{
    std::vector<uint8_t> lines = Lines(s, 1);
    CDibImage img(0);
    for (auto _ : state) {
        img.CreateFromArray(lines.data(), s.width, s.height, 1, BytesPerLine(s.width, 1), false);
        benchmark::DoNotOptimize(img.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Intake/CreateFromArray/1bit", Intake1);

void Intake8(benchmark::State& state, const PageShape& s)
{
    std::vector<uint8_t> lines = Lines(s, 8);
    CDibImage img(0);
    for (auto _ : state) {
        img.CreateFromArray(lines.data(), s.width, s.height, 8, s.width, false);
        benchmark::DoNotOptimize(img.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Intake/CreateFromArray/8bit", Intake8);

// An 8-bit page to its one-bit page with Burkes, the two ways: lines kept
// whole, then the page image and its dither; lines halftoned as they
// arrive by the page assembler.
void IntakeWholeBurkes(benchmark::State& state, const PageShape& s)
{
    std::vector<uint8_t> lines = Lines(s, 8);
    CDibImage img(0);
    for (auto _ : state) {
        img.CreateFromArray(lines.data(), s.width, s.height, 8, s.width, false);
        img.Dither(2);
        benchmark::DoNotOptimize(img.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Intake/WholePage+Dither/8bit/Burkes", IntakeWholeBurkes);

void IntakeBandedBurkes(benchmark::State& state, const PageShape& s)
{
    const std::vector<uint8_t>& lines = Lines(s, 8);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.cupsWidth = s.width;
    h.cupsHeight = s.height;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = s.width;
    h.HWResolution[0] = h.HWResolution[1] = s.dpi;
    tagREGSTRUCTWITHALFTONE ht;
    ht.iGrayMethod = 3;
    ht.iLiangdu = ht.iDuibidu = 0;
    CPageAssembler page;
    for (auto _ : state) {
        page.Begin(h, ht);
        for (unsigned y = 0; y < s.height; ++y)
            page.AddLine(lines.data() + static_cast<size_t>(y) * s.width);
        page.Finish();
        benchmark::DoNotOptimize(page.Image().GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Intake/Banded/8bit/Burkes", IntakeBandedBurkes);

// Grey conversion of an 8-bit page: the palette map every binarisation
// starts with. It leaves a grey page as it is, so it runs in place.
void Grey8(benchmark::State& state, const PageShape& s)
{
    CDibImage img = IntakeImage(s, 8);
    for (auto _ : state)
        benchmark::DoNotOptimize(img.GrayScale());
    PerPixel(state, s);
}
BENCH_PAGES("GrayScale/8bit", Grey8);

void Grey24(benchmark::State& state, const PageShape& s)
{
    const std::vector<uint8_t>& grey = Lines(s, 8);
    std::vector<uint8_t> rgb(grey.size() * 3);
    for (size_t i = 0; i < grey.size(); ++i) {
        rgb[3 * i] = grey[i];
        rgb[3 * i + 1] = static_cast<uint8_t>(grey[i] / 2 + 100);
        rgb[3 * i + 2] = static_cast<uint8_t>(255 - grey[i] / 3);
    }
    CDibImage src(0);
    src.CreateFromArray(rgb.data(), s.width, s.height, 24, 3 * s.width, false);
    CDibImage img(0);
    for (auto _ : state) {
        state.PauseTiming();
        img = src;
        state.ResumeTiming();
        benchmark::DoNotOptimize(img.GrayScale());
    }
    PerPixel(state, s);
}
BENCH_PAGES("GrayScale/24bit", Grey24);

void Light(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = IntakeImage(s, 8);
    CDibImage img(0);
    for (auto _ : state) {
        state.PauseTiming();
        img = src;
        state.ResumeTiming();
        benchmark::DoNotOptimize(img.Light(10, 20));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Light", Light);

void Threshold(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = IntakeImage(s, 8);
    CDibImage img(0);
    for (auto _ : state) {
        state.PauseTiming();
        img = src;
        state.ResumeTiming();
        benchmark::DoNotOptimize(img.Threshold(175));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Threshold", Threshold);

template <int Method>
void Dither(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = IntakeImage(s, 8);
    CDibImage img(0);
    for (auto _ : state) {
        state.PauseTiming();
        img = src;
        state.ResumeTiming();
        benchmark::DoNotOptimize(img.Dither(Method));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Dither/0-FloydSteinberg", Dither<0>);
BENCH_PAGES("Dither/1-Ordered4x4", Dither<1>);
BENCH_PAGES("Dither/2-Burkes", Dither<2>);
BENCH_PAGES("Dither/3-Stucki", Dither<3>);
BENCH_PAGES("Dither/4-JarvisJudiceNinke", Dither<4>);
BENCH_PAGES("Dither/5-Sierra", Dither<5>);
BENCH_PAGES("Dither/6-StevensonArce", Dither<6>);
BENCH_PAGES("Dither/7-Bayer4x4", Dither<7>);
BENCH_PAGES("Dither/8-Bayer8x8", Dither<8>);
BENCH_PAGES("Dither/9-Ordered16x16", Dither<9>);

// White-edge crop without limits on all four sides of the prepared label:
// four scans up to the frame, then the crop and the copy back.
void Crop(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = PreparedImage(s);
    CBaseRender render;
    render.m_iDpi = static_cast<int>(s.dpi);
    for (auto _ : state) {
        state.PauseTiming();
        render.m_image = src;
        state.ResumeTiming();
        render.CropWhiteEdge(-1, -1, -1, -1);
        benchmark::DoNotOptimize(render.m_image.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("CropWhiteEdge", Crop);

// The same on a blank page: every scan runs through the whole image.
void CropBlank(benchmark::State& state, const PageShape& s)
{
    CDibImage src(s.width, s.height, 1, 0);
    src.Clear(255);
    CBaseRender render;
    render.m_iDpi = static_cast<int>(s.dpi);
    for (auto _ : state) {
        state.PauseTiming();
        render.m_image = src;
        state.ResumeTiming();
        render.CropWhiteEdge(-1, -1, -1, -1);
        benchmark::DoNotOptimize(render.m_image.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("CropWhiteEdge/blank", CropBlank);

template <int Angle>
void Rotate(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = PreparedImage(s);
    CDibImage img(0);
    for (auto _ : state) {
        state.PauseTiming();
        img = src;
        state.ResumeTiming();
        benchmark::DoNotOptimize(img.Rotate(static_cast<float>(Angle), nullptr));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Rotate/90", Rotate<90>);
BENCH_PAGES("Rotate/180", Rotate<180>);
BENCH_PAGES("Rotate/270", Rotate<270>);

// Inverting twice restores the image, so it runs in place.
void Negative(benchmark::State& state, const PageShape& s)
{
    CBaseRender render;
    render.m_image = PreparedImage(s);
    for (auto _ : state) {
        render.Negative();
        benchmark::DoNotOptimize(render.m_image.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("Negative", Negative);

void EffWidthBits(benchmark::State& state, const PageShape& s)
{
    CBaseRender render;
    render.m_image = PreparedImage(s);
    for (auto _ : state) {
        render.AdjustEffWidthBits();
        benchmark::DoNotOptimize(render.m_image.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("AdjustEffWidthBits", EffWidthBits);

// The whole preparation with the default settings (Burkes), from the grey
// page as page intake builds it.
void AdjustDefault(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = IntakeImage(s, 8);
    CBaseRender render;
    render.m_iDpi = static_cast<int>(s.dpi);
    for (auto _ : state) {
        state.PauseTiming();
        render.m_image = src;
        state.ResumeTiming();
        render.AdjustImage();
        benchmark::DoNotOptimize(render.m_image.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("AdjustImage/8bit-defaults", AdjustDefault);

// A one-bit page through the preparation with the defaults: binarisation
// leaves it as it is, so only the padding clean-up acts.
void Adjust1(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = IntakeImage(s, 1);
    CBaseRender render;
    render.m_iDpi = static_cast<int>(s.dpi);
    for (auto _ : state) {
        state.PauseTiming();
        render.m_image = src;
        state.ResumeTiming();
        render.AdjustImage();
        benchmark::DoNotOptimize(render.m_image.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("AdjustImage/1bit-defaults", Adjust1);

// All preparation options at work: brightness and contrast, Floyd-Steinberg,
// crop on all sides, rotation by 90 degrees.
void AdjustAll(benchmark::State& state, const PageShape& s)
{
    const CDibImage src = IntakeImage(s, 8);
    CBaseRender render;
    render.m_iDpi = static_cast<int>(s.dpi);
    render.m_regHalftone.iLiangdu = 10;
    render.m_regHalftone.iDuibidu = 20;
    render.m_regHalftone.iGrayMethod = 1;
    render.m_regHalftone.iCropTopEdge = -1;
    render.m_regHalftone.iCropBottomEdge = -1;
    render.m_regHalftone.iCropLeftEdge = -1;
    render.m_regHalftone.iCropRightEdge = -1;
    render.m_reg.iRotate = 2;
    for (auto _ : state) {
        state.PauseTiming();
        render.m_image = src;
        state.ResumeTiming();
        render.AdjustImage();
        benchmark::DoNotOptimize(render.m_image.GetBits(0));
    }
    PerPixel(state, s);
}
BENCH_PAGES("AdjustImage/8bit-all-options", AdjustAll);

} // namespace

BENCHMARK_MAIN();
