// The pages in a printer stream, read back for the fuzz targets' checks.
#pragma once

#include <string>

namespace fuzz_support {

// The number of whole pages in a stream of the language of PPD model
// number `model` (a family of the table), as both readers see it: the
// structural check of the test support (TSPL, CPCL, Paperang) and
// bandrill-decode's decoder (every language, when it is built). -1 with the reason in *error when
// a reader rejects the stream or the two disagree.
int PagesInStream(int model, const std::string& out, std::string* error);

} // namespace fuzz_support
