#include "PdfPages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include "GreyImage.h"

namespace bandrill_app {

namespace {

// The pixels a rendered band may take.
const size_t kBandBytes = 4u << 20;
// The pixels the search for the ink renders a page at, at most.
const double kInkPixels = 4.0 * 1024 * 1024;

// poppler's complaints about a document go nowhere: the job says whether
// it could be printed.
void Quiet(const std::string&, void*) {}

void Renderer(poppler::page_renderer& r)
{
    r.set_image_format(poppler::image::format_gray8);
    r.set_paper_color(0xffffffff);
    r.set_render_hint(poppler::page_renderer::antialiasing, false);
    r.set_render_hint(poppler::page_renderer::text_antialiasing, false);
    r.set_render_hint(poppler::page_renderer::text_hinting, true);
    // Hairlines at least a dot wide.
    r.set_line_mode(poppler::page_renderer::line_solid);
}

poppler::rotation_enum Rotation(int quarterTurns)
{
    static const poppler::rotation_enum kTurns[] = {poppler::rotate_0, poppler::rotate_90,
                                                    poppler::rotate_180, poppler::rotate_270};
    return kTurns[quarterTurns & 3];
}

} // namespace

CPdfPages::CPdfPages() {}

CPdfPages::~CPdfPages() {}

bool CPdfPages::Load(const char* path, std::string& reason)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { poppler::set_debug_error_function(Quiet, nullptr); });
    m_document.reset(poppler::document::load_from_file(path));
    if (!m_document) {
        reason = "The PDF document is damaged or cannot be read.";
        return false;
    }
    if (m_document->is_locked()) {
        reason = "The PDF document is protected by a password.";
        return false;
    }
    if (m_document->pages() <= 0) {
        reason = "The PDF document has no pages.";
        return false;
    }
    return true;
}

int CPdfPages::Pages() const
{
    return m_document ? m_document->pages() : 0;
}

bool CPdfPages::SelectPage(int index)
{
    m_page.reset(m_document->create_page(index));
    if (!m_page)
        return false;
    const poppler::rectf box = m_page->page_rect(poppler::crop_box);
    m_width = std::fabs(box.width());
    m_height = std::fabs(box.height());
    const poppler::page::orientation_enum o = m_page->orientation();
    if (o == poppler::page::landscape || o == poppler::page::seascape)
        std::swap(m_width, m_height);
    return m_width > 0 && m_height > 0;
}

bool CPdfPages::FindInk(int dpi, Box& box) const
{
    double res = dpi;
    const double pixels = m_width * m_height * res * res / (72.0 * 72.0);
    if (pixels > kInkPixels)
        res *= std::sqrt(kInkPixels / pixels);
    poppler::page_renderer r;
    Renderer(r);
    // A page of whole dots stays whole: 240 dots at 203 dpi come back from
    // points as 240.0000001, which is not a 241st row.
    const int w = static_cast<int>(std::ceil(m_width * res / 72 - 1e-6));
    const int h = static_cast<int>(std::ceil(m_height * res / 72 - 1e-6));
    const poppler::image img = r.render_page(m_page.get(), res, res, 0, 0, w, h);
    if (!img.is_valid() || img.format() != poppler::image::format_gray8)
        return false;
    GreyImage grey;
    grey.width = img.width();
    grey.height = img.height();
    grey.pixels.resize(static_cast<size_t>(grey.width) * grey.height);
    for (int y = 0; y < grey.height; ++y)
        std::memcpy(&grey.pixels[static_cast<size_t>(y) * grey.width],
                    img.const_data() + static_cast<size_t>(y) * img.bytes_per_row(), grey.width);
    Box px;
    if (!bandrill_app::FindInk(grey, px))
        return false;
    // On the page: the last row or column may be a fraction of a dot.
    const double k = 72.0 / res;
    box = Box{px.x * k, px.y * k, std::min(px.w * k, m_width - px.x * k),
              std::min(px.h * k, m_height - px.y * k)};
    return true;
}

bool CPdfPages::Render(const Placement& p,
                       const std::function<bool(int, const unsigned char*)>& line) const
{
    poppler::page_renderer r;
    Renderer(r);
    // The resolution that makes the region exactly its size on the page.
    const double sx = p.regionWidth / p.region.w, sy = p.regionLength / p.region.h;
    const int px0 = static_cast<int>(std::lround(p.region.x * sx));
    const int py0 = static_cast<int>(std::lround(p.region.y * sy));
    const int x0 = std::max(0, p.left), x1 = std::min(p.width, p.left + p.regionWidth);
    const int y0 = std::max(0, p.top), y1 = std::min(p.length, p.top + p.regionLength);
    const int band = std::max<int>(16, static_cast<int>(kBandBytes / std::max(1, x1 - x0)));

    std::vector<unsigned char> out(static_cast<size_t>(p.width), 255);
    for (int y = 0; y < p.length;) {
        if (y < y0 || y >= y1 || x0 >= x1) {
            std::fill(out.begin(), out.end(), 255);
            if (!line(y++, out.data()))
                return false;
            continue;
        }
        const int rows = std::min(band, y1 - y);
        const poppler::image img =
            r.render_page(m_page.get(), sx * 72, sy * 72, px0 + x0 - p.left, py0 + y - p.top,
                          x1 - x0, rows, Rotation(p.quarterTurns));
        const bool ok = img.is_valid() && img.format() == poppler::image::format_gray8 &&
                        img.width() == x1 - x0 && img.height() == rows;
        for (int i = 0; i < rows; ++i, ++y) {
            std::fill(out.begin(), out.end(), 255);
            if (ok)
                std::memcpy(&out[x0],
                            img.const_data() + static_cast<size_t>(i) * img.bytes_per_row(),
                            x1 - x0);
            if (!line(y, out.data()))
                return false;
        }
        if (!ok)
            return false;
    }
    return true;
}

} // namespace bandrill_app
