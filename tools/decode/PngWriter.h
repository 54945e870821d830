// Writes a decoded page as a one-bit greyscale PNG: ink black, paper white.
#pragma once

#include <string>

#include "DecodeTypes.h"

namespace NS_DECODE {

// Fails with the reason in `why` when the file cannot be written or the
// page has no pixels (a PNG cannot be 0 × 0).
bool WritePagePng(const tagDecodedPage& page, const std::string& path, std::string& why);

} // namespace NS_DECODE
