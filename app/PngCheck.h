// PNG documents are checked before PAPPL decodes them: PAPPL 1.3.1's PNG
// reader never returns on a damaged file (its job stays "processing" and
// the printer takes no other job).
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

// Whether the PNG file reads to its end without an error.
bool PngIsWhole(const char* path);

// A PNG of one white pixel, which PAPPL decodes without fault.
extern const unsigned char kBlankPng[];
extern const unsigned kBlankPngSize;

} // namespace bandrill_app
