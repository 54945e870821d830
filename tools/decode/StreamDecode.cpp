#include "StreamDecode.h"

#include <cstring>

namespace NS_DECODE {

namespace {

struct tagLanguageName {
    ELanguage lang;
    const char* psz;
};

const tagLanguageName kNames[] = {
    {LANG_TSPL, "tspl"},
    {LANG_ESCPOS, "escpos"},
    {LANG_PERIPAGE, "peripage"},
    {LANG_CPCL, "cpcl"},
    {LANG_PAPERANG, "paperang"},
};

} // namespace

bool DecodeStream(ELanguage lang, const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                  const tagDecodeLimits& limits)
{
    switch (lang) {
    case LANG_TSPL:
        return DecodeTSPL(pData, nSize, result, limits);
    case LANG_ESCPOS:
        return DecodeESCPOS(pData, nSize, result, limits);
    case LANG_PERIPAGE:
        return DecodePeriPage(pData, nSize, result, limits);
    case LANG_CPCL:
        return DecodeCPCL(pData, nSize, result, limits);
    case LANG_PAPERANG:
        return DecodePaperang(pData, nSize, result, limits);
    }
    result = tagDecodeResult();
    result.strError = "offset 0: unknown printer language";
    return false;
}

bool DetectLanguage(const unsigned char* pData, size_t nSize, ELanguage& lang)
{
    if (!pData || nSize == 0)
        return false;
    unsigned char c = pData[0];
    if (c == 0xA5)
        lang = LANG_PAPERANG;
    else if (c == 0x10 && nSize >= 2 && pData[1] == 0xFF)
        lang = LANG_PERIPAGE;
    else if (c == 0x1B || c == 0x1D)
        lang = LANG_ESCPOS;
    else if (c == '!' && nSize >= 2 && pData[1] == ' ')
        lang = LANG_CPCL;
    else if (c >= 'A' && c <= 'Z')
        lang = LANG_TSPL;
    else
        return false;
    return true;
}

bool ParseLanguageName(const std::string& name, ELanguage& lang)
{
    for (const tagLanguageName& n : kNames) {
        if (name == n.psz) {
            lang = n.lang;
            return true;
        }
    }
    return false;
}

const char* LanguageName(ELanguage lang)
{
    for (const tagLanguageName& n : kNames)
        if (n.lang == lang)
            return n.psz;
    return "unknown";
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
