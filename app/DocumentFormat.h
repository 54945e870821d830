// What a document is, by its first bytes, whatever the client called it:
// PDF, PNG, JPEG (with or without a JFIF or Exif header), PWG and Apple
// raster, PostScript, a printer language of the families (TSPL, CPCL and
// ESC/POS commands), or plain text.
#pragma once

#include <cstddef>
#include <string>

namespace bandrill_app {

// The MIME type of the document that starts with these bytes (at most the
// first few kilobytes of it), or null when it is none of those above.
const char* SniffFormat(const unsigned char* data, size_t size);

// The same for a file's first 8 KiB; null when it cannot be read.
const char* SniffFileFormat(const char* path);

// A name people know for a MIME type ("PDF", "PNG image", "TSPL commands").
std::string FormatName(const char* mime);

} // namespace bandrill_app
