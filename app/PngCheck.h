// Image documents are checked before PAPPL decodes them: PAPPL 1.3.1's PNG
// reader never returns on a damaged file (its job stays "processing" and
// the printer takes no other job), and its JPEG reader prints a truncated
// file as far as it goes and reports the job completed.
#pragma once

#include <pappl/pappl.h>

namespace bandrill_app {

// Whether the PNG file reads to its end without an error.
bool PngIsWhole(const char* path);

// Whether the JPEG file has its end: an end-of-image marker after the last
// start-of-scan marker (in the compressed data a 0xFF byte is always
// followed by 0x00 or a restart marker, so neither can occur there).
bool JpegIsWhole(const char* path);

// A PNG of one white pixel, which PAPPL decodes without fault.
extern const unsigned char kBlankPng[];
extern const unsigned kBlankPngSize;

} // namespace bandrill_app
