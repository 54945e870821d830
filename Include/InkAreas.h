// Where a one-bit page image carries ink, for the back ends that send only
// that: rectangles of whole bytes for the label languages, which place a
// bitmap anywhere on a label that was cleared first, and bands of whole
// rows for the raster printers, which feed the paper over the rows between
// them. A byte carries ink when it differs from `blank`, the byte of eight
// white dots as the image stands (0xFF as prepared, 0x00 after Negative);
// only the first rowBytes bytes of each row count, the ones the back end
// would send.
#pragma once

#include <vector>

class CDibImage;

// A block of whole bytes: columns iByte .. iByte + iBytes - 1, rows iRow ..
// iRow + iRows - 1.
struct tagInkRect {
    int iByte;
    int iRow;
    int iBytes;
    int iRows;
};

// Rectangles that together hold every byte of the page that carries ink,
// none overlapping another, chosen to keep the bytes sent small when every
// rectangle costs commandBytes besides its own bytes (the bitmap command's
// text). Top to bottom by first row. An all-blank page gives none.
std::vector<tagInkRect> FindInkRects(const CDibImage& image, int rowBytes, unsigned char blank,
                                     int commandBytes);

// A run of rows sent as raster, starting and ending on a row with ink.
struct tagInkBand {
    int iRow;
    int iRows;
};

// Bands of rows holding every row with ink, top to bottom. A run of blank
// rows between two bands is fed over instead of sent; it stays inside a band
// where its rows cost no more than what it saves: a band header
// (bandBytes) and the feeds (feedBytes per feedDots rows or part of them).
std::vector<tagInkBand> FindInkBands(const CDibImage& image, int rowBytes, unsigned char blank,
                                     int bandBytes, int feedBytes, int feedDots);
