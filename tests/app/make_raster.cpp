// Writes a raster test document: PWG raster (what IPP clients send the
// printer application) or CUPS raster (what the scheduler gives the
// filter), 8-bit grey, with the same pixels either way; or the same pixels
// as a PDF, each page an image of exactly the page's size at DPI.
//
//   bandrill-app-raster pwg|cups|pdf OUT WIDTH HEIGHT DPI [PAGES [BLOCK [COPIES]]]
//
// The pixels: a grey ramp across the page, a black frame and a diagonal,
// and a bar whose position depends on the page number, so that pages
// differ and every halftone method has grey to work on. With BLOCK (which
// divides WIDTH and HEIGHT) the pattern is drawn in blocks of BLOCK x BLOCK
// dots: the PDF's image has a pixel a block, and PDF renderers draw an
// image enlarged 4 times or more without smoothing it, dot for dot. COPIES
// puts that many collated copies in a CUPS raster's headers (NumCopies),
// as the converters leave them to the printer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

namespace {

// The pattern's value at (x, y) of a width x height page.
unsigned char Pixel(unsigned x, unsigned y, unsigned width, unsigned height, unsigned page)
{
    const unsigned barY = height / 4 + (page * 37) % (height / 2 + 1);
    unsigned char v = static_cast<unsigned char>(255 - 255 * x / (width ? width : 1));
    if (x < 3 || y < 3 || x + 3 >= width || y + 3 >= height)
        v = 0;
    else if (x * height / width == y)
        v = 0;
    else if (y >= barY && y < barY + 12)
        v = (x / 16) % 2 ? 0 : 255;
    return v;
}

// The pattern in blocks: the value of the block grid's pixel.
unsigned char BlockPixel(unsigned x, unsigned y, unsigned width, unsigned height, unsigned page,
                         unsigned block)
{
    return Pixel(x / block, y / block, width / block, height / block, page);
}

int WritePdf(const char* out, unsigned width, unsigned height, unsigned dpi, unsigned pages,
             unsigned block)
{
    const unsigned iw = width / block, ih = height / block;
    const double pw = width * 72.0 / dpi, ph = height * 72.0 / dpi;
    std::vector<std::string> objects(2); // catalog, pages
    std::string kids;
    for (unsigned p = 0; p < pages; ++p) {
        std::string pixels;
        for (unsigned y = 0; y < ih; ++y)
            for (unsigned x = 0; x < iw; ++x)
                pixels += static_cast<char>(Pixel(x, y, iw, ih, p));
        char text[512];
        std::snprintf(text, sizeof text,
                      "<< /Type /XObject /Subtype /Image /Width %u /Height %u /ColorSpace "
                      "/DeviceGray /BitsPerComponent 8 /Length %zu >>\nstream\n",
                      iw, ih, pixels.size());
        objects.push_back(text + pixels + "\nendstream");
        const size_t image = objects.size();
        std::snprintf(text, sizeof text, "q %.6f 0 0 %.6f 0 0 cm /Im0 Do Q", pw, ph);
        const std::string content = text;
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
                          content + "\nendstream");
        const size_t contents = objects.size();
        std::snprintf(text, sizeof text,
                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.6f %.6f] /Contents %zu 0 R "
                      "/Resources << /XObject << /Im0 %zu 0 R >> >> >>",
                      pw, ph, contents, image);
        objects.push_back(text);
        kids += std::to_string(objects.size()) + " 0 R ";
    }
    objects[0] = "<< /Type /Catalog /Pages 2 0 R >>";
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t o : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", o);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    FILE* f = std::fopen(out, "wb");
    if (!f || std::fwrite(pdf.data(), 1, pdf.size(), f) != pdf.size() || std::fclose(f) != 0) {
        std::perror(out);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s pwg|cups|pdf OUT WIDTH HEIGHT DPI [PAGES [BLOCK [COPIES]]]\n", argv[0]);
        return 2;
    }
    const bool pwg = std::strcmp(argv[1], "pwg") == 0;
    const unsigned width = static_cast<unsigned>(std::atoi(argv[3]));
    const unsigned height = static_cast<unsigned>(std::atoi(argv[4]));
    const unsigned dpi = static_cast<unsigned>(std::atoi(argv[5]));
    const unsigned pages = argc > 6 ? static_cast<unsigned>(std::atoi(argv[6])) : 1;
    const unsigned block = argc > 7 ? static_cast<unsigned>(std::atoi(argv[7])) : 1;
    // Copies left to the printer, collated, as cups-filters says them.
    const unsigned copies = argc > 8 ? static_cast<unsigned>(std::atoi(argv[8])) : 0;
    if (block == 0 || width % block || height % block) {
        std::fprintf(stderr, "%s: BLOCK must divide WIDTH and HEIGHT\n", argv[0]);
        return 2;
    }
    if (std::strcmp(argv[1], "pdf") == 0)
        return WritePdf(argv[2], width, height, dpi, pages, block);

    const int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(argv[2]);
        return 1;
    }
    cups_raster_t* ras = cupsRasterOpen(fd, pwg ? CUPS_RASTER_WRITE_PWG : CUPS_RASTER_WRITE);

    pwg_media_t media;
    std::memset(&media, 0, sizeof media);
    media.pwg = "custom_bandrill_test";
    media.ppd = "Custom";
    media.width = static_cast<int>((width * 2540 + dpi - 1) / dpi);
    media.length = static_cast<int>((height * 2540 + dpi - 1) / dpi);
    cups_page_header2_t h;
    cupsRasterInitPWGHeader(&h, &media, "sgray_8", static_cast<int>(dpi), static_cast<int>(dpi),
                            "one-sided", nullptr);
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBytesPerLine = width;
    h.cupsInteger[0] = pages; // total page count
    if (copies) {
        h.NumCopies = copies;
        h.Collate = CUPS_TRUE;
    }
    if (!pwg)
        h.cupsColorSpace = CUPS_CSPACE_W; // the filter's PPDs ask for 8-bit W

    std::vector<unsigned char> line(width);
    for (unsigned p = 0; p < pages; ++p) {
        if (!cupsRasterWriteHeader2(ras, &h))
            return 1;
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x)
                line[x] = BlockPixel(x, y, width, height, p, block);
            if (cupsRasterWritePixels(ras, line.data(), width) != width)
                return 1;
        }
    }
    cupsRasterClose(ras);
    close(fd);
    return 0;
}
