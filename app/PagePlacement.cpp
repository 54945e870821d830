#include "PagePlacement.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace bandrill_app {

namespace {

// A page within this much of the label's size (or of the roll's width) was
// made for it: it prints at its own size, not rescaled by a few per cent.
const double kSameSize = 0.03;

bool SameSize(double dots, int target)
{
    return std::fabs(dots - target) <= kSameSize * target;
}

// The turn orientation-requested asks for, or -1 for none.
int AskedTurns(int orientation)
{
    switch (orientation) {
    case 3: // portrait
        return 0;
    case 4: // landscape: the page's top to the left
        return 3;
    case 5: // reverse landscape
        return 1;
    case 6: // reverse portrait
        return 2;
    default:
        return -1;
    }
}

} // namespace

void TurnSize(double w, double h, int quarterTurns, double& tw, double& th)
{
    const bool side = quarterTurns % 2 != 0;
    tw = side ? h : w;
    th = side ? w : h;
}

Box TurnBox(const Box& b, double pw, double ph, int quarterTurns)
{
    Box t;
    switch (quarterTurns & 3) {
    case 0:
        t = b;
        break;
    case 1: // clockwise: the left edge becomes the top
        t.x = ph - (b.y + b.h);
        t.y = b.x;
        t.w = b.h;
        t.h = b.w;
        break;
    case 2:
        t.x = pw - (b.x + b.w);
        t.y = ph - (b.y + b.h);
        t.w = b.w;
        t.h = b.h;
        break;
    case 3: // counter-clockwise: the top edge becomes the left
        t.x = b.y;
        t.y = pw - (b.x + b.w);
        t.w = b.h;
        t.h = b.w;
        break;
    }
    return t;
}

Placement PlacePage(const PageRequest& r)
{
    Placement p;
    const double pw = r.pageWidth > 0 ? r.pageWidth : 1;
    const double ph = r.pageHeight > 0 ? r.pageHeight : 1;
    const int width = std::max(r.width, 1);
    const int length = std::max(r.length, 1);
    const double natural = r.unitsPerDot > 0 ? 1 / r.unitsPerDot : 1;
    const int asked = AskedTurns(r.orientation);
    const bool crop = r.fit == kFitCropToInk && r.hasInk && r.ink.w > 0 && r.ink.h > 0;

    // A page made for this label (its size within a few per cent, either
    // way up unless a turn is asked for) prints as it is, all of it; so
    // does one made for the roll's width, less the blank above and below
    // its ink.
    bool made = false;
    if (r.fit != kFitNone) {
        std::vector<int> turns = {0, 3};
        if (asked >= 0 || r.roll)
            turns = {asked >= 0 ? asked : 0};
        for (int t : turns) {
            double tw, th;
            TurnSize(pw, ph, t, tw, th);
            if (!made && SameSize(tw * natural, width) && (r.roll || SameSize(th * natural, length))) {
                made = true;
                p.quarterTurns = t;
            }
        }
    }

    Box region{0, 0, pw, ph};
    if (crop && (!made || r.roll))
        region = r.ink;
    if (!made) {
        // A label turns what it prints when its orientation is not the
        // label's; a roll has none, and a page printed as it is is not
        // turned.
        p.quarterTurns = asked >= 0 ? asked : 0;
        if (asked < 0 && !r.roll && r.fit != kFitNone && region.w != region.h && width != length &&
            (region.w > region.h) != (width > length))
            p.quarterTurns = 3;
    }
    double tpw, tph;
    TurnSize(pw, ph, p.quarterTurns, tpw, tph);
    region = TurnBox(region, pw, ph, p.quarterTurns);

    if (r.fit == kFitNone || made) {
        p.scale = natural;
        if (made && r.roll) {
            region.x = 0;
            region.w = tpw;
        }
    } else if (!r.roll) {
        p.scale = std::min(width / region.w, length / region.h);
    } else {
        p.scale = width / region.w;
        if (region.h * p.scale > length)
            p.scale = length / region.h;
    }
    p.region = region;
    p.regionWidth = std::max(1, static_cast<int>(std::lround(region.w * p.scale)));
    p.regionLength = std::max(1, static_cast<int>(std::lround(region.h * p.scale)));

    p.width = width;
    p.length = r.roll ? std::min(p.regionLength, length) : length;
    // Centred where it is smaller than the page; where it is larger (only
    // as it is), its top left part is printed.
    p.left = p.regionWidth < p.width ? (p.width - p.regionWidth) / 2 : 0;
    p.top = p.regionLength < p.length ? (p.length - p.regionLength) / 2 : 0;
    return p;
}

} // namespace bandrill_app
