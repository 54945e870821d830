#include "StreamDecode.h"

#include <cstring>

#include "PrinterFamilies.h"

namespace NS_DECODE {

namespace {

typedef bool (*DecodeFn)(const unsigned char*, size_t, tagDecodeResult&, const tagDecodeLimits&);

// One decoder per language of the family table: the decoder and the first
// bytes of a stream in that language.
struct tagDecoder {
    const char* pszLanguage;
    DecodeFn pfnDecode;
    bool (*pfnLooksLike)(const unsigned char* pData, size_t nSize);
};

const tagDecoder kDecoders[] = {
    {"tspl", DecodeTSPL, [](const unsigned char* p, size_t) { return p[0] >= 'A' && p[0] <= 'Z'; }},
    {"escpos", DecodeESCPOS, [](const unsigned char* p, size_t) { return p[0] == 0x1B || p[0] == 0x1D; }},
    {"cpcl", DecodeCPCL, [](const unsigned char* p, size_t n) { return p[0] == '!' && n >= 2 && p[1] == ' '; }},
    {"paperang", DecodePaperang, [](const unsigned char* p, size_t) { return p[0] == 0xA5; }},
    {"peripage", DecodePeriPage,
     [](const unsigned char* p, size_t n) { return p[0] == 0x10 && n >= 2 && p[1] == 0xFF; }},
};

const tagDecoder* FindDecoder(const std::string& strLanguage)
{
    if (!FindPrinterFamilyByLanguage(strLanguage.c_str()))
        return nullptr;
    for (const tagDecoder& d : kDecoders)
        if (strLanguage == d.pszLanguage)
            return &d;
    return nullptr;
}

} // namespace

bool DecodeStream(const std::string& strLanguage, const unsigned char* pData, size_t nSize,
                  tagDecodeResult& result, const tagDecodeLimits& limits)
{
    if (const tagDecoder* d = FindDecoder(strLanguage))
        return d->pfnDecode(pData, nSize, result, limits);
    result = tagDecodeResult();
    result.strError = "offset 0: unknown printer language";
    return false;
}

bool DetectLanguage(const unsigned char* pData, size_t nSize, std::string& strLanguage)
{
    if (!pData || nSize == 0)
        return false;
    for (const PrinterFamily& f : PrinterFamilies()) {
        const tagDecoder* d = FindDecoder(f.language);
        if (d && d->pfnLooksLike(pData, nSize)) {
            strLanguage = f.language;
            return true;
        }
    }
    return false;
}

bool IsDecodedLanguage(const std::string& strLanguage)
{
    return FindDecoder(strLanguage) != nullptr;
}

std::string LanguageList(const char* pszSep)
{
    std::string s;
    for (const PrinterFamily& f : PrinterFamilies())
        s += (s.empty() ? "" : pszSep) + std::string(f.language);
    return s;
}

std::string SummaryLine(const tagDecodeResult& result)
{
    size_t n = result.vPages.size();
    std::string s = "summary: " + std::to_string(n) + (n == 1 ? " page" : " pages") + ", " +
                    std::to_string(result.vWarnings.size()) +
                    (result.vWarnings.size() == 1 ? " warning" : " warnings");
    if (!result.bOk)
        s += ", error at offset " + std::to_string(result.nErrorOffset);
    return s;
}

} // namespace NS_DECODE
