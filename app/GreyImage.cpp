#include "GreyImage.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

namespace bandrill_app {

namespace {

std::string TooLarge(long long w, long long h, const ImageLimits& limits)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "The image is too large: %lld x %lld pixels; at most %d x %d pixels can be printed.", w, h,
                  limits.maxWidth, limits.maxHeight);
    return text;
}

const char* const kDamaged = "The image document is damaged or incomplete.";

// The least whole fraction 1/f of the image that fits the memory limit.
int Reduction(long long w, long long h, const ImageLimits& limits)
{
    int f = 1;
    while (((w + f - 1) / f) * ((h + f - 1) / f) > static_cast<long long>(limits.maxPixels))
        ++f;
    return f;
}

// Grey over white by the alpha.
inline unsigned char OverWhite(unsigned grey, unsigned alpha)
{
    return static_cast<unsigned char>((grey * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Rows of f x f blocks averaged into one row of the image.
class CRowReducer {
public:
    CRowReducer(GreyImage& image, int sourceWidth, int factor)
        : m_image(image), m_sourceWidth(sourceWidth), m_factor(factor),
          m_sum(static_cast<size_t>(image.width), 0), m_count(static_cast<size_t>(image.width), 0)
    {
    }
    void Add(const unsigned char* grey)
    {
        if (m_factor == 1) {
            // The row is a row of the image, as its average of one.
            if (m_y < m_image.height)
                std::memcpy(&m_image.pixels[static_cast<size_t>(m_y++) * m_image.width], grey,
                            static_cast<size_t>(m_image.width));
            return;
        }
        for (int x = 0, block = 0, left = m_factor; x < m_sourceWidth; ++x) {
            m_sum[block] += grey[x];
            ++m_count[block];
            if (--left == 0) {
                ++block;
                left = m_factor;
            }
        }
        if (++m_rows == m_factor)
            Flush();
    }
    void Flush()
    {
        if (m_rows == 0 || m_y >= m_image.height)
            return;
        unsigned char* out = &m_image.pixels[static_cast<size_t>(m_y++) * m_image.width];
        for (int x = 0; x < m_image.width; ++x) {
            out[x] = static_cast<unsigned char>(m_count[x] ? (m_sum[x] + m_count[x] / 2) / m_count[x] : 255);
            m_sum[x] = m_count[x] = 0;
        }
        m_rows = 0;
    }

private:
    GreyImage& m_image;
    int m_sourceWidth, m_factor;
    std::vector<unsigned> m_sum, m_count;
    int m_rows = 0, m_y = 0;
};

// ---------------------------------------------------------------- PNG

struct PngError {
    jmp_buf jump;
    char message[200];
};

void PngFail(png_structp png, png_const_charp message)
{
    PngError* e = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(e->message, sizeof e->message, "%s", message ? message : "");
    longjmp(e->jump, 1);
}

void PngWarn(png_structp, png_const_charp) {}

// ---------------------------------------------------------------- JPEG

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    bool truncated;
};

void JpegFail(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void JpegMessage(j_common_ptr cinfo, int level)
{
    // libjpeg makes up the missing end of a cut file and only warns.
    JpegError* e = reinterpret_cast<JpegError*>(cinfo->err);
    if (level < 0 && e->mgr.msg_code == JWRN_JPEG_EOF)
        e->truncated = true;
}

// What a decoder fills in, outside the frame that libpng's and libjpeg's
// errors jump back to.
struct DecodeState {
    const ImageLimits& limits;
    const CancelCheck& canceled;
    GreyImage& image;
    std::string& reason;
    std::vector<unsigned char> row, grey, whole;
    std::vector<png_bytep> rows;
    std::unique_ptr<CRowReducer> reducer;
    bool stopped = false;
};

// The decoding after the header: false with the reason (the jump lands in
// the callers below, which only return).
void ReadPngRows(png_structp png, png_infop info, DecodeState& s)
{
    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    if (w == 0 || h == 0 || w > static_cast<png_uint_32>(s.limits.maxWidth) ||
        h > static_cast<png_uint_32>(s.limits.maxHeight)) {
        s.reason = TooLarge(w, h, s.limits);
        return;
    }
    const int type = png_get_color_type(png, info);
    png_set_strip_16(png);
    png_set_packing(png);
    if (type == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (type & PNG_COLOR_MASK_COLOR)
        png_set_rgb_to_gray_fixed(png, 1, -1, -1);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    GreyImage& image = s.image;
    png_uint_32 xres = 0, yres = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &xres, &yres, &unit) && unit == PNG_RESOLUTION_METER &&
        xres == yres && xres > 0)
        image.ppi = xres * 0.0254;

    const int f = Reduction(w, h, s.limits);
    if (passes > 1 && f > 1) {
        // Interlaced rows come in passes over the whole image.
        s.reason = TooLarge(w, h, s.limits);
        return;
    }
    image.width = static_cast<int>((w + f - 1) / f);
    image.height = static_cast<int>((h + f - 1) / f);
    image.ppi /= f;
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
    const size_t rowBytes = png_get_rowbytes(png, info);
    s.grey.resize(w);
    if (passes > 1) {
        s.whole.resize(rowBytes * h);
        s.rows.resize(h);
        for (png_uint_32 y = 0; y < h; ++y)
            s.rows[y] = &s.whole[rowBytes * y];
        png_read_image(png, s.rows.data());
    }
    s.row.resize(rowBytes);
    s.reducer.reset(new CRowReducer(image, static_cast<int>(w), f));
    for (png_uint_32 y = 0; y < h && !s.stopped; ++y) {
        const unsigned char* src = s.rows.empty() ? s.row.data() : s.rows[y];
        if (s.rows.empty())
            png_read_row(png, s.row.data(), nullptr);
        if (channels == 2) {
            for (png_uint_32 x = 0; x < w; ++x)
                s.grey[x] = OverWhite(src[2 * x], src[2 * x + 1]);
            src = s.grey.data();
        }
        s.reducer->Add(src);
        s.stopped = (y & 63) == 63 && s.canceled && s.canceled();
    }
    s.reducer->Flush();
    if (s.stopped) {
        s.reason = "The job was canceled.";
        return;
    }
    png_read_end(png, nullptr);
}

bool ReadPng(FILE* fp, png_structp png, png_infop info, PngError& err, DecodeState& s)
{
    if (setjmp(err.jump))
        return false;
    png_init_io(png, fp);
    // The sides are checked with a reason for the user.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    ReadPngRows(png, info, s);
    return true;
}

void ReadJpegRows(jpeg_decompress_struct& cinfo, DecodeState& s)
{
    jpeg_read_header(&cinfo, TRUE);
    const long long w = cinfo.image_width, h = cinfo.image_height;
    if (w == 0 || h == 0 || w > s.limits.maxWidth || h > s.limits.maxHeight) {
        s.reason = TooLarge(w, h, s.limits);
        return;
    }
    GreyImage& image = s.image;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
    if (cinfo.saw_JFIF_marker && cinfo.X_density == cinfo.Y_density && cinfo.X_density > 0)
        image.ppi = cinfo.density_unit == 1   ? cinfo.X_density
                    : cinfo.density_unit == 2 ? cinfo.X_density * 2.54
                                              : 0;
    // libjpeg reduces by 1/2, 1/4 or 1/8 at little cost; any more by
    // averaging.
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    while (cinfo.scale_denom < 8 &&
           Reduction(w / cinfo.scale_denom, h / cinfo.scale_denom, s.limits) > 1)
        cinfo.scale_denom *= 2;
    jpeg_start_decompress(&cinfo);
    const int ow = static_cast<int>(cinfo.output_width), oh = static_cast<int>(cinfo.output_height);
    const int f = Reduction(ow, oh, s.limits);
    image.width = (ow + f - 1) / f;
    image.height = (oh + f - 1) / f;
    image.ppi = image.ppi * ow / w / f;
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
    s.row.resize(static_cast<size_t>(ow) * cinfo.output_components);
    s.grey.resize(ow);
    s.reducer.reset(new CRowReducer(image, ow, f));
    // Adobe writes CMYK inverted (255: no ink), as almost every CMYK JPEG is.
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height && !s.stopped) {
        JSAMPROW rows[1] = {s.row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
        if (cmyk) {
            for (int x = 0; x < ow; ++x) {
                unsigned v[4];
                for (int c = 0; c < 4; ++c)
                    v[c] = inverted ? s.row[4 * x + c] : 255u - s.row[4 * x + c];
                const unsigned r = v[0] * v[3] / 255, g = v[1] * v[3] / 255, b = v[2] * v[3] / 255;
                s.grey[x] = static_cast<unsigned char>((299 * r + 587 * g + 114 * b + 500) / 1000);
            }
            s.reducer->Add(s.grey.data());
        } else {
            s.reducer->Add(s.row.data());
        }
        s.stopped = (cinfo.output_scanline & 63) == 0 && s.canceled && s.canceled();
    }
    s.reducer->Flush();
    if (s.stopped) {
        s.reason = "The job was canceled.";
        jpeg_abort_decompress(&cinfo);
        return;
    }
    jpeg_finish_decompress(&cinfo);
}

bool ReadJpeg(FILE* fp, jpeg_decompress_struct& cinfo, JpegError& err, DecodeState& s)
{
    if (setjmp(err.jump))
        return false;
    jpeg_stdio_src(&cinfo, fp);
    ReadJpegRows(cinfo, s);
    return true;
}

} // namespace

bool DecodePng(const char* path, const ImageLimits& limits, const CancelCheck& canceled,
               GreyImage& image, std::string& reason)
{
    reason.clear();
    FILE* fp = std::fopen(path, "rb");
    if (!fp) {
        reason = "The document cannot be read.";
        return false;
    }
    PngError err;
    err.message[0] = '\0';
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngFail, PngWarn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    DecodeState state{limits, canceled, image, reason, {}, {}, {}, {}, {}, false};
    bool ok = false;
    if (!png || !info)
        reason = "No memory to read the image.";
    else if (!ReadPng(fp, png, info, err, state))
        reason = kDamaged;
    else
        ok = reason.empty();
    if (png)
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    std::fclose(fp);
    return ok;
}

bool DecodeJpeg(const char* path, const ImageLimits& limits, const CancelCheck& canceled,
                GreyImage& image, std::string& reason)
{
    reason.clear();
    FILE* fp = std::fopen(path, "rb");
    if (!fp) {
        reason = "The document cannot be read.";
        return false;
    }
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegFail;
    err.mgr.emit_message = JpegMessage;
    err.truncated = false;
    jpeg_create_decompress(&cinfo);
    DecodeState state{limits, canceled, image, reason, {}, {}, {}, {}, {}, false};
    bool ok = false;
    if (!ReadJpeg(fp, cinfo, err, state) || err.truncated)
        reason = kDamaged;
    else
        ok = reason.empty();
    jpeg_destroy_decompress(&cinfo);
    std::fclose(fp);
    return ok;
}

bool FindInk(const GreyImage& image, Box& box)
{
    int x0 = image.width, x1 = -1, y0 = image.height, y1 = -1;
    for (int y = 0; y < image.height; ++y) {
        const unsigned char* p = &image.pixels[static_cast<size_t>(y) * image.width];
        int first = -1, last = -1;
        for (int x = 0; x < image.width; ++x)
            if (p[x] < kPaperLevel) {
                if (first < 0)
                    first = x;
                last = x;
            }
        if (first < 0)
            continue;
        x0 = std::min(x0, first);
        x1 = std::max(x1, last);
        y0 = std::min(y0, y);
        y1 = y;
    }
    if (x1 < 0)
        return false;
    box = Box{static_cast<double>(x0), static_cast<double>(y0), static_cast<double>(x1 - x0 + 1),
              static_cast<double>(y1 - y0 + 1)};
    return true;
}

namespace {

// The image's pixels that an output dot covers along one side, with the
// share of each: the dot spans [from, from + span) in image pixels, and
// what lies beyond the image is paper.
struct Span {
    int first = 0;
    std::vector<float> weight; // per pixel from first, each / span
    float paper = 0;           // the share of white beyond the image
};

Span Cover(double from, double span, int size)
{
    Span s;
    const double to = from + span;
    const double a = std::max(from, 0.0), b = std::min(to, static_cast<double>(size));
    double inside = 0;
    if (a < b) {
        s.first = static_cast<int>(std::floor(a));
        const int last = std::min(size - 1, static_cast<int>(std::ceil(b)) - 1);
        for (int i = s.first; i <= last; ++i) {
            const double w = std::min(b, i + 1.0) - std::max(a, static_cast<double>(i));
            s.weight.push_back(static_cast<float>(w > 0 ? w / span : 0));
            inside += w > 0 ? w : 0;
        }
    }
    s.paper = static_cast<float>(std::max(0.0, 1 - inside / span));
    return s;
}

} // namespace

bool RenderPlaced(const GreyImage& image, const Placement& p,
                  const std::function<bool(int, const unsigned char*)>& line)
{
    double tw, th;
    TurnSize(image.width, image.height, p.quarterTurns, tw, th);
    const int turnedWidth = static_cast<int>(tw), turnedHeight = static_cast<int>(th);
    // The turned image's pixel (u, v) in the image.
    const int q = p.quarterTurns & 3;
    auto at = [&](int u, int v) -> unsigned char {
        switch (q) {
        case 1:
            return image.At(v, image.height - 1 - u);
        case 2:
            return image.At(image.width - 1 - u, image.height - 1 - v);
        case 3:
            return image.At(image.width - 1 - v, u);
        default:
            return image.At(u, v);
        }
    };

    const double sx = p.regionWidth / p.region.w, sy = p.regionLength / p.region.h;
    const int x0 = std::max(0, p.left), x1 = std::min(p.width, p.left + p.regionWidth);
    std::vector<Span> columns;
    int u0 = turnedWidth, u1 = 0; // the turned image's columns the page takes
    for (int x = x0; x < x1; ++x) {
        columns.push_back(Cover(p.region.x + (x - p.left) / sx, 1 / sx, turnedWidth));
        const Span& c = columns.back();
        if (!c.weight.empty()) {
            u0 = std::min(u0, c.first);
            u1 = std::max(u1, c.first + static_cast<int>(c.weight.size()));
        }
    }
    std::vector<unsigned char> out(static_cast<size_t>(p.width), 255);
    std::vector<float> mean(static_cast<size_t>(std::max(u1 - u0, 0)));
    for (int y = 0; y < p.length; ++y) {
        std::fill(out.begin(), out.end(), 255);
        if (y >= p.top && y < p.top + p.regionLength && x0 < x1) {
            const Span r = Cover(p.region.y + (y - p.top) / sy, 1 / sy, turnedHeight);
            for (int u = u0; u < u1; ++u) {
                float v = 255 * r.paper;
                for (size_t j = 0; j < r.weight.size(); ++j)
                    v += r.weight[j] * at(u, r.first + static_cast<int>(j));
                mean[u - u0] = v;
            }
            for (int x = x0; x < x1; ++x) {
                const Span& c = columns[x - x0];
                float v = 255 * c.paper;
                for (size_t i = 0; i < c.weight.size(); ++i)
                    v += c.weight[i] * mean[c.first + i - u0];
                out[x] = static_cast<unsigned char>(std::min(255.0f, std::max(0.0f, v + 0.5f)));
            }
        }
        if (!line(y, out.data()))
            return false;
    }
    return true;
}

} // namespace bandrill_app
