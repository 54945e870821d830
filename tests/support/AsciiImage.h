// One-bit images written as ASCII art: 'X' is ink (bit 0), '.' is paper
// (bit 1), one string per storage row, storage row 0 first.
#pragma once

#include <string>
#include <vector>

#include "DibImage.h"

namespace testing_support {

// Builds a one-bit image with the black/white palette (index 0 black,
// index 1 white). Row padding bits are set to paper.
void MakeAsciiImage(CDibImage& img, const std::vector<std::string>& rows);

// The pixels of a one-bit image as ASCII art (index 0 -> 'X', 1 -> '.').
std::vector<std::string> ToAscii(const CDibImage& img);

// The same picture joined with '\n', for readable test failures.
std::string AsciiPicture(const std::vector<std::string>& rows);

// A 400 x 240 label: a 2-dot frame, a diagonal from the top left corner and
// a solid block at the top right, so that any flip or shift shows.
std::vector<std::string> LabelArt();

} // namespace testing_support
