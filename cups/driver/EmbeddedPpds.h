// The shipped PPD files, built into the driver program at build time so
// that it prints them without depending on where they were installed.
#pragma once

struct EmbeddedPpd {
    const char* file;  // "bandrill-tspl-203.ppd"
    const char* text;
};

extern const EmbeddedPpd kEmbeddedPpds[];
extern const int kEmbeddedPpdCount;
