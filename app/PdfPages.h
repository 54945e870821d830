// PDF documents, rendered with poppler at the printer's resolution in 8-bit
// grey, a band of lines at a time (the memory a page takes is bounded
// whatever its size), straight from the page's vector content at the scale
// the placement asks for: a label cut from a larger page is drawn at full
// resolution, not enlarged from a bitmap. Without antialiasing: the head
// prints dots, and bars and text keep sharp edges.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "PagePlacement.h"

namespace poppler {
class document;
class page;
}

namespace bandrill_app {

class CPdfPages {
public:
    CPdfPages();
    ~CPdfPages();
    CPdfPages(const CPdfPages&) = delete;
    CPdfPages& operator=(const CPdfPages&) = delete;

    // False with the reason for the user.
    bool Load(const char* path, std::string& reason);
    int Pages() const;

    // Selects a page (0-based); false if it cannot be read.
    bool SelectPage(int index);
    // The selected page as it is displayed (its own rotation applied), in
    // points.
    double Width() const { return m_width; }
    double Height() const { return m_height; }
    // The bounding box of its ink, in points on the displayed page, found at
    // up to dpi; false when the page is blank.
    bool FindInk(int dpi, Box& box) const;
    // The placed page, line by line (see RenderPlaced in GreyImage.h).
    bool Render(const Placement& placement,
                const std::function<bool(int, const unsigned char*)>& line) const;

private:
    std::unique_ptr<poppler::document> m_document;
    std::unique_ptr<poppler::page> m_page;
    double m_width = 0, m_height = 0;
};

} // namespace bandrill_app
