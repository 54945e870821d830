// The documents the printer application renders itself, without a server:
// what a document is by its bytes, where its page goes on the label or the
// roll, how an image is turned and scaled into the page's lines, the PNG,
// JPEG and PDF readers, and the text layout.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <zlib.h>

#include "DocumentFormat.h"
#include "GreyImage.h"
#include "PagePlacement.h"
#include "PdfPages.h"
#include "TempDir.h"
#include "TextPages.h"

using namespace bandrill_app;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// ---------------------------------------------------------------- formats

TEST(DocumentFormat, KnownByContent)
{
    struct Case {
        std::string bytes;
        const char* format;
    };
    const std::string jpegBare("\xFF\xD8\xFF\xDB\x00\x43\x00", 7); // no JFIF or Exif header
    const Case cases[] = {
        {"%PDF-1.7\n%\xE2\xE3\n", "application/pdf"},
        {std::string("junk before\r\n%PDF-1.4\n"), "application/pdf"},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "image/png"},
        {jpegBare, "image/jpeg"},
        {std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10), "image/jpeg"},
        {std::string("\xFF\xD8\xFF\xE1\x00\x10" "Exif", 10), "image/jpeg"},
        {std::string("RaS2PwgRaster\0", 14), "image/pwg-raster"},
        {std::string("UNIRAST\0\0\0\0\1", 12), "image/urf"},
        {"%!PS-Adobe-3.0\n", "application/postscript"},
        {"\x1b@\x1b" "a\x01hello\n", "application/vnd.bandrill-escpos"},
        {"SIZE 50 mm, 30 mm\r\nGAP 2 mm,0\r\nCLS\r\nPRINT 1\r\n", "application/vnd.bandrill-tspl"},
        {std::string("\r\nCLS\r\nBITMAP 0,0,2,1,0,\x00\x1f\r\nPRINT 1\r\n", 38), "application/vnd.bandrill-tspl"},
        {std::string("BITMAP 0,0,2,1,0,\x00\x1f\r\n", 22), nullptr}, // binary, and no set-up first
        {"! 0 200 200 240 1\r\nTEXT 4 0 30 40 Hello\r\nPRINT\r\n", "application/vnd.bandrill-cpcl"},
        {"size 2,1\nprint 1\n", "application/vnd.bandrill-tspl"},
        {"SIZE 384 dot , 240 dot\n", "application/vnd.bandrill-tspl"},
        {"BLINE 2 mm,0\n", "application/vnd.bandrill-tspl"},
        {"direction 1,0\n", "application/vnd.bandrill-tspl"},
        // Words a letter might start with are text.
        {"Size: large\n", "text/plain"},
        {"GAP year\n", "text/plain"},
        {"DIRECTION 2\n", "text/plain"},
        {"CLS of 2024\n", "text/plain"},
        {"! 0 200 200 240\n", "text/plain"},
        {"! 0 200 200 240 1 copies\n", "text/plain"},
        {"Total  12.50\nThank you\n", "text/plain"},
        {"Gr\xc3\xbc\xc3\x9f" "e\tTab\r\n\f", "text/plain"},
        {"Latin-1 \xe4\xf6\xfc\n", "text/plain"},
        {"Size matters, said nobody\n", "text/plain"},
        {std::string("text\0with a NUL", 15), nullptr},
        {"\x1b[1mterminal text\x1b[0m\n", nullptr},
        {std::string("\x00\x01\x02\x03", 4), nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const char* got = SniffFormat(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
        EXPECT_STREQ(got, c.format) << "for " << testing::PrintToString(c.bytes);
    }
}

// ---------------------------------------------------------------- placement

const double kPdfAt203 = 72.0 / 203;

PageRequest Label4x6(double w, double h, FitChoice fit)
{
    PageRequest r;
    r.pageWidth = w;
    r.pageHeight = h;
    r.unitsPerDot = kPdfAt203;
    r.fit = fit;
    r.width = 812;
    r.length = 1218;
    return r;
}

PageRequest Roll384(double w, double h, FitChoice fit, double unitsPerDot = kPdfAt203)
{
    PageRequest r;
    r.pageWidth = w;
    r.pageHeight = h;
    r.unitsPerDot = unitsPerDot;
    r.fit = fit;
    r.roll = true;
    r.width = 384;
    r.length = 24000;
    return r;
}

TEST(PagePlacement, LabelsAndRolls)
{
    struct Case {
        const char* what;
        PageRequest request;
        int turns, width, length, left, top, regionWidth, regionLength;
    };
    // A Letter page whose 4 x 6 label (its ink 3.8 x 5.8 in) sits at the top left.
    PageRequest letterLabel = Label4x6(612, 792, kFitCropToInk);
    letterLabel.hasInk = true;
    letterLabel.ink = Box{7.2, 7.2, 273.6, 417.6};
    // The same with a 6 x 4 label: turned to stand on the 4 x 6 label.
    PageRequest letterWide = letterLabel;
    letterWide.ink = Box{7.2, 7.2, 417.6, 273.6};
    PageRequest landscape = Label4x6(288, 432, kFitCropToInk);
    landscape.orientation = 4;
    PageRequest sameSize = Label4x6(288, 432, kFitCropToInk);
    sameSize.hasInk = true;
    sameSize.ink = Box{100, 100, 20, 20};
    PageRequest rollInk = Roll384(136.2, 300, kFitCropToInk);
    rollInk.hasInk = true;
    rollInk.ink = Box{10, 50, 50, 20};
    PageRequest rollWide = Roll384(600, 200, kFitPage, 1);
    const Case cases[] = {
        {"Letter label cut to its ink", letterLabel, 0, 812, 1218, 7, 0, 798, 1218},
        {"Letter wide label turned", letterWide, 3, 812, 1218, 7, 0, 798, 1218},
        {"Letter page fitted whole", Label4x6(612, 792, kFitPage), 0, 812, 1218, 0, 83, 812, 1051},
        {"a 4 x 6 page 1:1, all of it", sameSize, 0, 812, 1218, 0, 0, 812, 1218},
        {"a 4 x 6 page asked landscape", landscape, 3, 812, 1218, 0, 338, 812, 541},
        {"Letter page as it is: its top left", Label4x6(612, 792, kFitNone), 0, 812, 1218, 0, 0, 1725, 2233},
        {"Letter page on a roll: its length", Roll384(612, 792, kFitPage), 0, 384, 497, 0, 0, 384, 497},
        {"a page made for the roll: 1:1, blank rows gone", rollInk, 0, 384, 56, 0, 0, 384, 56},
        {"a very long page: the roll's longest", Roll384(100, 10000, kFitPage), 0, 384, 24000, 72, 0, 240, 24000},
        {"a wide image on a roll is not turned", rollWide, 0, 384, 128, 0, 0, 384, 128},
    };
    for (const Case& c : cases) {
        const Placement p = PlacePage(c.request);
        EXPECT_EQ(p.quarterTurns, c.turns) << c.what;
        EXPECT_EQ(p.width, c.width) << c.what;
        EXPECT_EQ(p.length, c.length) << c.what;
        EXPECT_EQ(p.left, c.left) << c.what;
        EXPECT_EQ(p.top, c.top) << c.what;
        EXPECT_EQ(p.regionWidth, c.regionWidth) << c.what;
        EXPECT_EQ(p.regionLength, c.regionLength) << c.what;
    }
}

TEST(PagePlacement, TurnsMoveBoxesWithThePage)
{
    // The top left corner of a 30 x 20 page, turned a quarter at a time
    // clockwise: top right, bottom right, bottom left, back.
    const Box corner{0, 0, 3, 2};
    const Box cw = TurnBox(corner, 30, 20, 1);
    EXPECT_EQ(cw.x, 18);
    EXPECT_EQ(cw.y, 0);
    EXPECT_EQ(cw.w, 2);
    EXPECT_EQ(cw.h, 3);
    const Box half = TurnBox(corner, 30, 20, 2);
    EXPECT_EQ(half.x, 27);
    EXPECT_EQ(half.y, 18);
    const Box ccw = TurnBox(corner, 30, 20, 3);
    EXPECT_EQ(ccw.x, 0);
    EXPECT_EQ(ccw.y, 27);
    Box b{4, 5, 6, 7};
    double w = 30, h = 20;
    for (int i = 0; i < 4; ++i) {
        b = TurnBox(b, w, h, 1);
        std::swap(w, h);
    }
    EXPECT_EQ(b.x, 4);
    EXPECT_EQ(b.y, 5);
    EXPECT_EQ(b.w, 6);
    EXPECT_EQ(b.h, 7);
}

// ---------------------------------------------------------------- image lines

GreyImage Image(int w, int h, std::vector<unsigned char> pixels)
{
    GreyImage img;
    img.width = w;
    img.height = h;
    img.pixels = std::move(pixels);
    return img;
}

Placement Place(const GreyImage& img, int turns, double scale, Box region, int width, int length,
                int left = 0, int top = 0)
{
    Placement p;
    p.quarterTurns = turns;
    p.scale = scale;
    p.region = region;
    p.width = width;
    p.length = length;
    p.left = left;
    p.top = top;
    p.regionWidth = static_cast<int>(std::lround(region.w * scale));
    p.regionLength = static_cast<int>(std::lround(region.h * scale));
    (void)img;
    return p;
}

std::vector<std::vector<int>> Lines(const GreyImage& img, const Placement& p)
{
    std::vector<std::vector<int>> rows;
    EXPECT_TRUE(RenderPlaced(img, p, [&](int y, const unsigned char* line) {
        EXPECT_EQ(y, static_cast<int>(rows.size()));
        rows.emplace_back(line, line + p.width);
        return true;
    }));
    return rows;
}

TEST(RenderPlaced, TurnsScalesAndCrops)
{
    const GreyImage img = Image(3, 2, {1, 2, 3, 4, 5, 6});
    using R = std::vector<std::vector<int>>;
    EXPECT_EQ(Lines(img, Place(img, 0, 1, {0, 0, 3, 2}, 3, 2)), (R{{1, 2, 3}, {4, 5, 6}}));
    // Clockwise: the left column becomes the top row.
    EXPECT_EQ(Lines(img, Place(img, 1, 1, {0, 0, 2, 3}, 2, 3)), (R{{4, 1}, {5, 2}, {6, 3}}));
    EXPECT_EQ(Lines(img, Place(img, 2, 1, {0, 0, 3, 2}, 3, 2)), (R{{6, 5, 4}, {3, 2, 1}}));
    EXPECT_EQ(Lines(img, Place(img, 3, 1, {0, 0, 2, 3}, 2, 3)), (R{{3, 6}, {2, 5}, {1, 4}}));
    // The turns agree with the boxes: the corner pixel 1 lands where
    // TurnBox puts the corner.
    const Box corner = TurnBox({0, 0, 1, 1}, 3, 2, 1);
    EXPECT_EQ(Lines(img, Place(img, 1, 1, {0, 0, 2, 3}, 2, 3))[static_cast<int>(corner.y)][static_cast<int>(corner.x)], 1);

    // Twice as large: each pixel a 2 x 2 block, edges kept.
    const GreyImage bars = Image(2, 1, {0, 200});
    EXPECT_EQ(Lines(bars, Place(bars, 0, 2, {0, 0, 2, 1}, 4, 2)), (R{{0, 0, 200, 200}, {0, 0, 200, 200}}));
    // Half: the mean of each 2 x 2 block.
    const GreyImage fine = Image(4, 2, {0, 100, 200, 255, 0, 100, 200, 255});
    EXPECT_EQ(Lines(fine, Place(fine, 0, 0.5, {0, 0, 4, 2}, 2, 1)), (R{{50, 228}}));
    // A region beyond the image, and a page beyond the region, are paper.
    const GreyImage black = Image(2, 1, {0, 0});
    EXPECT_EQ(Lines(black, Place(black, 0, 1, {-1, 0, 3, 1}, 5, 2, 1, 1)),
              (R{{255, 255, 255, 255, 255}, {255, 255, 0, 0, 255}}));
}

// ---------------------------------------------------------------- PNG, JPEG

void Put32(std::string& s, unsigned v)
{
    for (int i = 3; i >= 0; --i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data)
{
    Put32(png, static_cast<unsigned>(data.size()));
    const std::string body = std::string(type, 4) + data;
    png += body;
    Put32(png, static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// A PNG of colour type type (0 grey, 2 RGB, 4 grey + alpha, 6 RGBA), 8 bits,
// rows as given (each channels * width bytes); pHYs when ppm.
std::string Png(int w, int h, int type, const std::string& rows, unsigned ppm = 0)
{
    const int channels = type == 0 ? 1 : type == 2 ? 3 : type == 4 ? 2 : 4;
    std::string raw;
    for (int y = 0; y < h; ++y)
        raw += '\0' + rows.substr(static_cast<size_t>(y) * w * channels, static_cast<size_t>(w) * channels);
    uLongf size = compressBound(raw.size());
    std::string z(size, '\0');
    compress(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    z.resize(size);
    std::string png = "\x89PNG\r\n\x1a\n", ihdr;
    Put32(ihdr, static_cast<unsigned>(w));
    Put32(ihdr, static_cast<unsigned>(h));
    ihdr += std::string{'\x08', static_cast<char>(type), 0, 0, 0};
    Chunk(png, "IHDR", ihdr);
    if (ppm) {
        std::string phys;
        Put32(phys, ppm);
        Put32(phys, ppm);
        phys += '\x01';
        Chunk(png, "pHYs", phys);
    }
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", "");
    return png;
}

// A grey baseline JPEG without a JFIF header (it starts FF D8 FF DB).
std::string Jpeg(int w, int h, unsigned char value)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    c.write_JFIF_header = FALSE;
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(w), value);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::string data(reinterpret_cast<char*>(out), size);
    jpeg_destroy_compress(&c);
    free(out);
    return data;
}

struct Decoded {
    bool ok;
    GreyImage image;
    std::string reason;
};

Decoded Decode(const std::string& bytes, bool png, ImageLimits limits = ImageLimits())
{
    TempDir dir;
    const std::string path = dir.Path("doc");
    WriteFile(path, bytes);
    Decoded d;
    d.ok = png ? DecodePng(path.c_str(), limits, nullptr, d.image, d.reason)
               : DecodeJpeg(path.c_str(), limits, nullptr, d.image, d.reason);
    return d;
}

TEST(ImageReaders, PngToGrey)
{
    // Grey as it is, with its resolution (11811 dots a metre: 300 dpi).
    const Decoded grey = Decode(Png(3, 1, 0, std::string("\x00\x80\xff", 3), 11811), true);
    ASSERT_TRUE(grey.ok) << grey.reason;
    EXPECT_EQ(grey.image.pixels, (std::vector<unsigned char>{0, 128, 255}));
    EXPECT_NEAR(grey.image.ppi, 300, 0.1);
    // Colour to its luminance; transparency over white paper.
    const Decoded rgba = Decode(Png(3, 1, 6, std::string("\x00\x00\x00\xff" "\x00\x00\x00\x00" "\xff\xff\xff\x80", 12)), true);
    ASSERT_TRUE(rgba.ok) << rgba.reason;
    EXPECT_EQ(rgba.image.pixels, (std::vector<unsigned char>{0, 255, 255}));
    const Decoded half = Decode(Png(1, 1, 4, std::string("\x00\x80", 2)), true);
    ASSERT_TRUE(half.ok) << half.reason;
    EXPECT_NEAR(half.image.pixels[0], 127, 1);
}

TEST(ImageReaders, LargeImagesAreReducedDamagedOnesRefused)
{
    // Over the memory limit: decoded at half its size, each pixel the mean
    // of a 2 x 2 block.
    std::string rows;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 40; ++x)
            rows += static_cast<char>(x % 2 ? 200 : 100);
    ImageLimits small;
    small.maxPixels = 100;
    const Decoded reduced = Decode(Png(40, 10, 0, rows), true, small);
    ASSERT_TRUE(reduced.ok) << reduced.reason;
    EXPECT_EQ(reduced.image.width, 20);
    EXPECT_EQ(reduced.image.height, 5);
    EXPECT_EQ(reduced.image.pixels[7], 150);

    // Sides over the limit are refused, with the reason.
    const Decoded wide = Decode(Png(20000, 1, 0, std::string(20000, '\xff')), true);
    EXPECT_FALSE(wide.ok);
    EXPECT_NE(wide.reason.find("20000 x 1 pixels"), std::string::npos) << wide.reason;

    // Cut files: refused, never printed in part.
    const std::string png = Png(64, 64, 0, std::string(64 * 64, '\x40'));
    const Decoded cutPng = Decode(png.substr(0, png.size() / 2), true);
    EXPECT_FALSE(cutPng.ok);
    EXPECT_EQ(cutPng.reason, "The image document is damaged or incomplete.");
    const std::string jpeg = Jpeg(64, 64, 0x40);
    const Decoded cutJpeg = Decode(jpeg.substr(0, jpeg.size() / 2), false);
    EXPECT_FALSE(cutJpeg.ok);
    EXPECT_EQ(cutJpeg.reason, "The image document is damaged or incomplete.");
    EXPECT_FALSE(Decode("\x89PNG\r\n\x1a\nrubbish", true).ok);
    EXPECT_FALSE(Decode("\xFF\xD8\xFF\xDBrubbish", false).ok);
}

TEST(ImageReaders, JpegWithoutJfifHeader)
{
    const std::string jpeg = Jpeg(16, 8, 0x40);
    ASSERT_EQ(jpeg.substr(0, 4), std::string("\xFF\xD8\xFF\xDB", 4));
    EXPECT_STREQ(SniffFormat(reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size()), "image/jpeg");
    const Decoded d = Decode(jpeg, false);
    ASSERT_TRUE(d.ok) << d.reason;
    EXPECT_EQ(d.image.width, 16);
    EXPECT_EQ(d.image.height, 8);
    EXPECT_EQ(d.image.ppi, 0);
    for (unsigned char p : d.image.pixels)
        EXPECT_NEAR(p, 0x40, 2);
}

TEST(ImageReaders, InkBox)
{
    GreyImage img = Image(6, 4, std::vector<unsigned char>(24, 255));
    Box b;
    EXPECT_FALSE(FindInk(img, b));
    img.pixels[1 * 6 + 2] = 0;
    img.pixels[2 * 6 + 4] = kPaperLevel - 1;
    img.pixels[3 * 6 + 0] = kPaperLevel; // light enough to be paper
    ASSERT_TRUE(FindInk(img, b));
    EXPECT_EQ(b.x, 2);
    EXPECT_EQ(b.y, 1);
    EXPECT_EQ(b.w, 3);
    EXPECT_EQ(b.h, 2);
}

// ---------------------------------------------------------------- PDF

// A one-page PDF of w x h points with the content stream (PDF coordinates)
// and the page's /Rotate.
std::string Pdf(double w, double h, const std::string& content, int rotate = 0)
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(w) + " " + std::to_string(h) +
            "] /Rotate " + std::to_string(rotate) + " /Contents 4 0 R /Resources << >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"};
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (size_t o : offsets) {
        char e[32];
        std::snprintf(e, sizeof e, "%010zu 00000 n \n", o);
        pdf += e;
    }
    return pdf + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

TEST(PdfPages, InkFoundAndRegionRenderedAtScale)
{
    TempDir dir;
    const std::string path = dir.Path("page.pdf");
    // 200 x 100 points, a black box 40 x 30 at 20, 10 from the top left.
    WriteFile(path, Pdf(200, 100, "0 g 20 60 40 30 re f"));
    CPdfPages pdf;
    std::string reason;
    ASSERT_TRUE(pdf.Load(path.c_str(), reason)) << reason;
    ASSERT_EQ(pdf.Pages(), 1);
    ASSERT_TRUE(pdf.SelectPage(0));
    EXPECT_EQ(pdf.Width(), 200);
    EXPECT_EQ(pdf.Height(), 100);
    Box ink;
    ASSERT_TRUE(pdf.FindInk(144, ink));
    EXPECT_NEAR(ink.x, 20, 0.5);
    EXPECT_NEAR(ink.y, 10, 0.5);
    EXPECT_NEAR(ink.w, 40, 1);
    EXPECT_NEAR(ink.h, 30, 1);

    // The box alone, 4 dots a point, turned clockwise, on a page with a
    // margin of 10 dots: drawn from the vector content, edges exact.
    Placement p;
    p.quarterTurns = 1;
    p.scale = 4;
    p.region = TurnBox({20, 10, 40, 30}, 200, 100, 1);
    p.regionWidth = 120;
    p.regionLength = 160;
    p.width = 140;
    p.length = 180;
    p.left = p.top = 10;
    int x0 = p.width, x1 = -1, y0 = p.length, y1 = -1, grey = 0;
    ASSERT_TRUE(pdf.Render(p, [&](int y, const unsigned char* line) {
        for (int x = 0; x < p.width; ++x) {
            if (line[x] == 0) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            } else if (line[x] != 255) {
                ++grey;
            }
        }
        return true;
    }));
    EXPECT_EQ(x0, 10);
    EXPECT_EQ(x1, 129);
    EXPECT_EQ(y0, 10);
    EXPECT_EQ(y1, 169);
    EXPECT_EQ(grey, 0) << "no antialiasing: dots are ink or paper";

    // A page of whole dots inked to its edges (384 x 240 dots at 203 dpi,
    // as a raster made into PDF is): its ink is the page, not a dot more,
    // or a roll's page grows a row and its bytes are not the raster's.
    const double w = 384 * 72.0 / 203, h = 240 * 72.0 / 203;
    const std::string full = dir.Path("full.pdf");
    WriteFile(full, Pdf(w, h, "0 g 0 0 " + std::to_string(w) + " " + std::to_string(h) + " re f"));
    CPdfPages edges;
    ASSERT_TRUE(edges.Load(full.c_str(), reason)) << reason;
    ASSERT_TRUE(edges.SelectPage(0));
    ASSERT_TRUE(edges.FindInk(203, ink));
    EXPECT_LE(ink.x + ink.w, edges.Width());
    EXPECT_LE(ink.y + ink.h, edges.Height());
    EXPECT_EQ(std::lround(ink.w * 203 / 72), 384);
    EXPECT_EQ(std::lround(ink.h * 203 / 72), 240);
}

TEST(PdfPages, RotatedPagesAndDamagedFiles)
{
    TempDir dir;
    const std::string path = dir.Path("rotated.pdf");
    WriteFile(path, Pdf(200, 100, "0 g 20 60 40 30 re f", 90));
    CPdfPages pdf;
    std::string reason;
    ASSERT_TRUE(pdf.Load(path.c_str(), reason)) << reason;
    ASSERT_TRUE(pdf.SelectPage(0));
    // Displayed turned clockwise: 100 x 200, the box near the top right.
    EXPECT_EQ(pdf.Width(), 100);
    EXPECT_EQ(pdf.Height(), 200);
    Box ink;
    ASSERT_TRUE(pdf.FindInk(144, ink));
    EXPECT_NEAR(ink.x, 60, 0.5);
    EXPECT_NEAR(ink.y, 20, 0.5);
    EXPECT_NEAR(ink.w, 30, 1);
    EXPECT_NEAR(ink.h, 40, 1);

    const std::string blank = dir.Path("blank.pdf");
    WriteFile(blank, Pdf(100, 100, ""));
    CPdfPages empty;
    ASSERT_TRUE(empty.Load(blank.c_str(), reason));
    ASSERT_TRUE(empty.SelectPage(0));
    EXPECT_FALSE(empty.FindInk(72, ink));

    const std::string bad = dir.Path("bad.pdf");
    WriteFile(bad, "%PDF-1.4\nnothing else");
    CPdfPages damaged;
    EXPECT_FALSE(damaged.Load(bad.c_str(), reason));
    EXPECT_EQ(reason, "The PDF document is damaged or cannot be read.");
}

// ---------------------------------------------------------------- text

std::vector<std::u32string> Laid(const std::string& text, int width, int length, int dpi, bool roll,
                                 CTextPages& pages)
{
    TempDir dir;
    const std::string path = dir.Path("doc.txt");
    WriteFile(path, text);
    std::string reason;
    EXPECT_TRUE(pages.Load(path.c_str(), reason)) << reason;
    EXPECT_TRUE(pages.Layout(width, length, dpi, roll, reason)) << reason;
    return pages.Lines();
}

TEST(TextPages, ColumnsFollowTheWidth)
{
    struct Case {
        int width, dpi, columns;
    };
    for (const Case& c : {Case{384, 203, 32}, Case{576, 203, 48}, Case{576, 300, 32}, Case{399, 203, 33}}) {
        CTextPages t;
        Laid("x\n", c.width, 24000, c.dpi, true, t);
        EXPECT_EQ(t.Columns(), c.columns) << c.width << " dots at " << c.dpi;
    }
}

TEST(TextPages, LinesWrapTabsAndPages)
{
    CTextPages t;
    const std::string digits = "0123456789012345678901234567890123456789";
    const auto lines = Laid("Total:\t12.50\r\n" + digits + "\nthe quick brown fox jumps over the lazy dog\x07\n\fnext\n",
                            384, 24000, 203, true, t);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], U"Total:  12.50");
    EXPECT_EQ(lines[1], std::u32string(digits.begin(), digits.begin() + 32));
    EXPECT_EQ(lines[2], U"23456789");
    EXPECT_EQ(lines[3], U"the quick brown fox jumps over");
    EXPECT_EQ(lines[4], U"the lazy dog");
    EXPECT_EQ(lines[5], U"next");
    // The form feed: a second page; a roll's page is as long as its lines.
    ASSERT_EQ(t.Pages(), 2);
    EXPECT_GT(t.PageLength(0), 5 * t.PageLength(1) / 2);

    // A label takes what fits on it: 30 lines on 240-dot labels.
    CTextPages labels;
    std::string many;
    for (int i = 0; i < 30; ++i)
        many += "line " + std::to_string(i) + "\n";
    Laid(many, 400, 240, 203, false, labels);
    ASSERT_GE(labels.Pages(), 3);
    EXPECT_EQ(labels.PageLength(0), 240);
    int inked = 0;
    ASSERT_TRUE(labels.Render(0, [&](int, const unsigned char* line) {
        for (int x = 0; x < 400; ++x)
            inked += line[x] == 0;
        return true;
    }));
    EXPECT_GT(inked, 100);

    CTextPages empty;
    Laid("", 384, 24000, 203, true, empty);
    EXPECT_EQ(empty.Pages(), 0);
}

TEST(TextPages, Utf8ElseLatin1)
{
    EXPECT_EQ(DecodeText("a\xc3\xa4\xe2\x82\xac"), U"a\u00e4\u20ac");
    EXPECT_EQ(DecodeText("a\xe4"), U"a\u00e4");         // not UTF-8: Latin-1
    EXPECT_EQ(DecodeText("\xc0\xaf"), U"\u00c0\u00af"); // overlong: not UTF-8
    EXPECT_EQ(DecodeText("\xed\xa0\x80"), U"\u00ed\u00a0\u0080"); // a surrogate
}

} // namespace
