// Image documents measured by their headers before PAPPL decodes them.
// PAPPL refuses an image wider or longer than its limit (16,384 dots by
// default), or larger in memory than its limit, or a PNG whose pixels are
// not square, and in the PNG case its reader then loops in libpng's error
// path for ever: the job never ends and the printer takes no other. Such a
// document is refused here, with the reason, before PAPPL sees it.
#pragma once

#include <cstddef>
#include <string>

namespace bandrill_app {

struct ImageLimits {
    int maxWidth = 16384;
    int maxHeight = 16384;
    size_t maxBytes = 0; // width * height * (1 or 3 components); 0: no limit
};

// "" when PAPPL can decode the image within the limits; else why not, for
// the user. Documents whose header cannot be read are left to the whole-file
// checks (PngIsWhole, JpegIsWhole).
std::string ImageRefusal(const char* path, bool png, const ImageLimits& limits);

} // namespace bandrill_app
