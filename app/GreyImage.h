// Images the printer application prints itself: PNG and JPEG decoded to
// 8-bit grey (255 white; transparency over white), with their resolution
// when they give one. The memory an image may take is bounded: a larger one
// is decoded at a whole fraction of its size (the printer has far fewer
// dots than such an image). A damaged or truncated file is refused, never
// printed in part.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "PagePlacement.h"

namespace bandrill_app {

struct GreyImage {
    int width = 0, height = 0;
    double ppi = 0; // pixels per inch, 0 when the file does not say
    std::vector<unsigned char> pixels; // width * height, rows top down

    unsigned char At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct ImageLimits {
    int maxWidth = 16384, maxHeight = 16384; // sides beyond these are refused
    size_t maxPixels = 32u << 20;            // decoded beyond this at a fraction
};

// Whether the job was cancelled: asked now and then while decoding.
using CancelCheck = std::function<bool()>;

// Decodes the file into image; false with the reason for the user.
bool DecodePng(const char* path, const ImageLimits& limits, const CancelCheck& canceled,
               GreyImage& image, std::string& reason);
bool DecodeJpeg(const char* path, const ImageLimits& limits, const CancelCheck& canceled,
                GreyImage& image, std::string& reason);

// The darkest value that is not ink: lighter grey is paper to the fit.
const unsigned char kPaperLevel = 232;

// The bounding box of the ink (pixels darker than kPaperLevel); false when
// the image has none.
bool FindInk(const GreyImage& image, Box& box);

// Lines of the placed page: each output dot the mean of the image's area it
// covers (so bars keep their edges when scaled up, and detail averages when
// scaled down). line(y, pixels) gets each of the page's lines in turn and
// returns false to stop.
bool RenderPlaced(const GreyImage& image, const Placement& placement,
                  const std::function<bool(int, const unsigned char*)>& line);

} // namespace bandrill_app
