// Geometric transforms: resampling, mirror, rotation and crop.
#include "DibImage.h"

bool CDibImage::Resample(int, int, int, CDibImage*) { return false; }
bool CDibImage::Mirror(bool, bool) { return false; }
bool CDibImage::Rotate(float, CDibImage*) { return false; }
bool CDibImage::Rotate180(CDibImage*) { return false; }
bool CDibImage::Crop(int, int, int, int, CDibImage*) { return false; }
bool CDibImage::Crop(const tagRECT& r, CDibImage* dst) { return Crop(r.left, r.top, r.right, r.bottom, dst); }
