// Readers of the printer streams the back ends write: they check that what
// reached the printer is a run of whole, well-formed pages, whatever the
// page content. Used by the robustness tests and the fuzz targets. Each
// returns the number of pages, or -1 with the reason in *error.
#pragma once

#include <string>

namespace testing_support {

// TSPL: per page the setup lines from SIZE to CLS, one BITMAP with its
// payload (mode 1: stride x height bytes; mode 3: a zlib stream of that
// many bytes), then PRINT 1,1.
int CheckTsplStream(const std::string& out, std::string* error);

// CPCL: per page the "! " header, the PAGE - WIDTH line, CG with stride x
// height bytes, an optional FORM line and PRINT.
int CheckCpclStream(const std::string& out, std::string* error);

// Paperang: frames with a correct length and CRC; per page begin, tree,
// numbered bitmap blocks that decode with that tree to whole rows, end and
// at most one feed or locate frame.
int CheckPaperangStream(const std::string& out, std::string* error);

} // namespace testing_support
