// Where a document's page goes on the label or the roll: the quarter turn,
// the scale and the part of the page that is printed, and the size of the
// page the printer gets. Nothing here renders; the PDF, image and text
// pages follow what it says.
//
// Lengths on the document's page are in its own units (points for PDF,
// pixels for images), with the page as it is displayed: origin at the top
// left, y down.
#pragma once

#include "PrinterSettings.h"

namespace bandrill_app {

struct Box {
    double x = 0, y = 0, w = 0, h = 0;
};

struct PageRequest {
    double pageWidth = 0, pageHeight = 0; // the page, in its units
    // Its units per printer dot at its own size (PDF: 72 / dpi; an image:
    // its pixels per inch / dpi, or 1 when it does not say).
    double unitsPerDot = 1;
    bool hasInk = false;
    Box ink; // the bounding box of the ink, when hasInk
    FitChoice fit = kFitPage;
    // IPP orientation-requested: 3 to 6; anything else leaves the turn to
    // the fit (a label turns a page whose orientation is not its own).
    int orientation = 0;
    bool roll = false;
    int width = 0;  // the printable width, dots
    int length = 0; // the label's length, or the longest page of the roll, dots
};

struct Placement {
    int quarterTurns = 0; // clockwise turns of the page before it is placed
    double scale = 1;     // dots per unit of the page
    Box region;           // what is printed, on the turned page
    int width = 0, length = 0; // the page the printer gets, dots
    // Where the region lands and its size on that page (dots); the rest of
    // the page is white. The region may reach beyond the page: only the
    // part on it is printed.
    int left = 0, top = 0, regionWidth = 0, regionLength = 0;
};

// The turned page's size and a box on the page turned with it.
void TurnSize(double w, double h, int quarterTurns, double& tw, double& th);
Box TurnBox(const Box& box, double pageWidth, double pageHeight, int quarterTurns);

Placement PlacePage(const PageRequest& request);

} // namespace bandrill_app
