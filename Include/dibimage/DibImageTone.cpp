// Tone transforms: grey conversion, brightness and contrast, threshold and
// dithering.
#include "DibImage.h"

bool CDibImage::GrayScale() { return false; }
bool CDibImage::Light(int, int) { return false; }
bool CDibImage::Lut(const unsigned char*) { return false; }
bool CDibImage::Threshold(unsigned char) { return false; }
bool CDibImage::Dither(int) { return false; }
