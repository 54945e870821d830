// Encoding of the prepared page by every back end (OnPaintBmp with an
// output that discards the bytes), and the Huffman coder on its own.
//
// Each iteration starts from the prepared one-bit page image, copied in with
// the timer paused, since several back ends invert the image in place.
#include <cstdlib>

#include "BenchSupport.h"
#include "HfmCode.h"
#include "InkAreas.h"
#include "PrinterCPCL.h"
#include "PrinterESCPOS.h"
#include "PrinterPaperang.h"
#include "PrinterPeriPage.h"
#include "PrinterTSPL.h"

using namespace bench;

namespace {

template <class T>
void Paint(benchmark::State& state, const PageShape& s, T& printer)
{
    const CDibImage src = PreparedImage(s);
    printer.m_iDpi = static_cast<int>(s.dpi);
    for (auto _ : state) {
        state.PauseTiming();
        printer.m_image = src;
        state.ResumeTiming();
        printer.OnPaintBmp();
    }
    benchmark::DoNotOptimize(printer.m_llBytes);
    state.counters["bytes/page"] =
        static_cast<double>(printer.m_llBytes) / static_cast<double>(state.iterations());
    PerPixel(state, s);
}

void Tspl(benchmark::State& state, const PageShape& s)
{
    CDiscardRender<CPrinterTSPL> printer;
    Paint(state, s, printer);
}
BENCH_PAGES("Encode/TSPL", Tspl);

void TsplCompressed(benchmark::State& state, const PageShape& s)
{
    CDiscardRender<CPrinterTSPL> printer;
    printer.m_regHalftone.ImageCompress = true;
    Paint(state, s, printer);
}
BENCH_PAGES("Encode/TSPL-compressed", TsplCompressed);

void Cpcl(benchmark::State& state, const PageShape& s)
{
    CDiscardRender<CPrinterCPCL> printer;
    Paint(state, s, printer);
}
BENCH_PAGES("Encode/CPCL", Cpcl);

void Escpos(benchmark::State& state, const PageShape& s)
{
    CDiscardRender<CPrinterESCPOS> printer;
    printer.OnInit();
    Paint(state, s, printer);
}
BENCH_PAGES("Encode/ESCPOS", Escpos);

void PeriPage(benchmark::State& state, const PageShape& s)
{
    CDiscardRender<CPrinterPeriPage> printer;
    printer.OnInit();
    Paint(state, s, printer);
}
BENCH_PAGES("Encode/PeriPage", PeriPage);

// Recording paper: the white rows above and below the picture are cropped
// before the page is sent.
void PeriPageRecording(benchmark::State& state, const PageShape& s)
{
    CDiscardRender<CPrinterPeriPage> printer;
    printer.m_reg.iGap[0] = MEDIA_RECORDING;
    printer.OnInit();
    Paint(state, s, printer);
}
BENCH_PAGES("Encode/PeriPage-recording", PeriPageRecording);

void Paperang(benchmark::State& state, const PageShape& s)
{
    CDiscardRender<CPrinterPaperang> printer;
    Paint(state, s, printer);
}
BENCH_PAGES("Encode/Paperang", Paperang);

// The areas of ink a label language sends (InkOnly): on the label the
// default preparation makes, and on the one-bit label a converter dithered
// (dots all over its picture), with a TSPL bitmap command's cost.
void InkRects(benchmark::State& state, const CDibImage& img, const PageShape& s)
{
    const int stride = static_cast<int>((s.width + 7) / 8);
    for (auto _ : state) {
        std::vector<tagInkRect> rects = FindInkRects(img, stride, 0xFF, 25);
        benchmark::DoNotOptimize(rects.data());
        state.counters["areas"] = static_cast<double>(rects.size());
    }
    PerPixel(state, s);
}

void InkRectsPrepared(benchmark::State& state, const PageShape& s)
{
    InkRects(state, PreparedImage(s), s);
}
BENCH_PAGES("InkAreas/Rects-prepared", InkRectsPrepared);

void InkRectsDithered(benchmark::State& state, const PageShape& s)
{
    InkRects(state, IntakeImage(s, 1), s);
}
BENCH_PAGES("InkAreas/Rects-dithered", InkRectsDithered);

// The coder's two passes over the inverted page, as the Paperang back end
// runs them.
CDibImage InvertedPage(const PageShape& s)
{
    CBaseRender render;
    render.m_image = PreparedImage(s);
    render.Negative();
    return render.m_image;
}

void HfmTree(benchmark::State& state, const PageShape& s)
{
    CDibImage img = InvertedPage(s);
    const int bytes = static_cast<int>(img.GetEffWidth() * img.GetHeight());
    CHfmCode hfm;
    for (auto _ : state) {
        int nodes = 0;
        CHfmCode::HGMRNCODENODE* tree = hfm.GetHfmTree(img.GetBits(0), bytes, &nodes, 0, 0);
        benchmark::DoNotOptimize(tree);
        std::free(tree);
    }
    PerPixel(state, s);
}
BENCH_PAGES("Huffman/GetHfmTree", HfmTree);

void HfmEncode(benchmark::State& state, const PageShape& s)
{
    CDibImage img = InvertedPage(s);
    const int stride = static_cast<int>(img.GetEffWidth());
    const int rows = static_cast<int>(img.GetHeight());
    CHfmCode hfm;
    int nodes = 0;
    CHfmCode::HGMRNCODENODE* tree = hfm.GetHfmTree(img.GetBits(0), stride * rows, &nodes, 0, 0);
    for (auto _ : state) {
        int blocks = 0;
        HFMCODEBLOCK* coded =
            hfm.HFMDGencoding(tree, nodes, img.GetBits(0), stride, rows, 256, &blocks);
        benchmark::DoNotOptimize(coded);
        std::free(coded);
    }
    std::free(tree);
    PerPixel(state, s);
}
BENCH_PAGES("Huffman/HFMDGencoding", HfmEncode);

} // namespace

BENCHMARK_MAIN();
