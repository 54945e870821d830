// Decoders for the printer byte streams: each reads a whole stream of one
// language and returns its pages, a listing of the commands and fields it
// saw, or the offset where the stream stops making sense. The decoders
// never read outside the given bytes and allocate no more than the limits
// allow, whatever the input.
#pragma once

#include <cstddef>
#include <string>

#include "DecodeTypes.h"

namespace NS_DECODE {

bool DecodeTSPL(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                const tagDecodeLimits& limits = tagDecodeLimits());
bool DecodeESCPOS(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                  const tagDecodeLimits& limits = tagDecodeLimits());
bool DecodePeriPage(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                    const tagDecodeLimits& limits = tagDecodeLimits());
bool DecodeCPCL(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                const tagDecodeLimits& limits = tagDecodeLimits());
bool DecodePaperang(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                    const tagDecodeLimits& limits = tagDecodeLimits());

// The printer languages are the family table's (PrinterFamily::language:
// "tspl", "escpos", "cpcl", "paperang", "peripage"); each has a decoder.

// Runs the decoder of the given language. result is reset first; the
// return value is result.bOk.
bool DecodeStream(const std::string& strLanguage, const unsigned char* pData, size_t nSize,
                  tagDecodeResult& result, const tagDecodeLimits& limits = tagDecodeLimits());

// Guesses the language from the first bytes of a stream: A5 Paperang,
// 10 FF PeriPage, 1B or 1D ESC/POS, "! " CPCL, an upper-case letter TSPL.
// Returns false when none fits.
bool DetectLanguage(const unsigned char* pData, size_t nSize, std::string& strLanguage);

// Whether a language of the family table has a decoder here.
bool IsDecodedLanguage(const std::string& strLanguage);

// The languages of the family table, in its order, joined with sep.
std::string LanguageList(const char* pszSep);

// The closing line of a listing: the page count, the warnings, and the
// error offset when the run failed.
std::string SummaryLine(const tagDecodeResult& result);

} // namespace NS_DECODE
