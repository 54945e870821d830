#include "BenchSupport.h"

#include <map>
#include <utility>

namespace bench {

const std::vector<uint8_t>& Lines(const PageShape& shape, unsigned bpp)
{
    static std::map<std::pair<std::string, unsigned>, std::vector<uint8_t>> cache;
    auto key = std::make_pair(std::string(shape.name), bpp);
    auto it = cache.find(key);
    if (it == cache.end()) {
        const GreyPage page = DrawLabel(shape.width, shape.height, 1);
        it = cache.emplace(key, bpp == 8 ? RasterLines8(page) : RasterLines1(page, false)).first;
    }
    return it->second;
}

CDibImage IntakeImage(const PageShape& shape, unsigned bpp)
{
    CDibImage img(0);
    std::vector<uint8_t> lines = Lines(shape, bpp);
    img.CreateFromArray(lines.data(), shape.width, shape.height, bpp,
                        BytesPerLine(shape.width, bpp), false);
    img.SetXDPI(static_cast<int>(shape.dpi));
    img.SetYDPI(static_cast<int>(shape.dpi));
    return img;
}

CDibImage PreparedImage(const PageShape& shape)
{
    CBaseRender render;
    render.m_iDpi = static_cast<int>(shape.dpi);
    render.m_image = IntakeImage(shape, 8);
    render.AdjustImage();
    return render.m_image;
}

void PerPixel(benchmark::State& state, const PageShape& shape)
{
    const double pixels = static_cast<double>(shape.width) * shape.height;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pixels));
    state.counters["t/px"] = benchmark::Counter(
        pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

int RegisterPages(const std::string& name, PageBenchFn fn)
{
    for (const PageShape& shape : kShapes)
        benchmark::RegisterBenchmark((name + "/" + shape.name).c_str(), fn, shape)
            ->Unit(benchmark::kMicrosecond);
    return 0;
}

} // namespace bench
