// A one-pass zlib encoder for one-bit page images: the zlib format (RFC
// 1950: header, one deflate block, Adler-32), which any inflater reads back
// to the same bytes. It looks for two kinds of repeat only, the byte before
// (runs of white or black) and the same bytes one row up (rules, bars,
// frames, blank rows), and codes with deflate's fixed Huffman codes, so it
// needs no tables of its own and touches each byte about once. It trades
// some size against zlib's own levels for several times their speed.
#pragma once

#include <cstddef>

// The most bytes RowDeflate writes for len bytes.
size_t RowDeflateBound(size_t len);

// Writes the zlib stream of len bytes at data, whose rows are rowBytes long
// (0, or more than deflate's 32 KiB window: no row repeats), to out, which
// holds RowDeflateBound(len) bytes; returns its length.
size_t RowDeflate(const unsigned char* data, size_t len, size_t rowBytes, unsigned char* out);
