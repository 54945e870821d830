#include "PrinterStream.h"

#include "StreamCheck.h"
#ifdef BANDRILL_FUZZ_DECODE
#include "StreamDecode.h"
#endif

namespace fuzz_support {

int PagesInStream(int model, const std::string& out, std::string* error)
{
    int checked = -2;  // no structural check for this language
    switch (model) {
    case 20:
        checked = testing_support::CheckTsplStream(out, error);
        break;
    case 22:
        checked = testing_support::CheckCpclStream(out, error);
        break;
    case 23:
        checked = testing_support::CheckPaperangStream(out, error);
        break;
    default:
        break;
    }
    if (checked == -1)
        return -1;
#ifdef BANDRILL_FUZZ_DECODE
    static const NS_DECODE::ELanguage kLang[] = {NS_DECODE::LANG_TSPL, NS_DECODE::LANG_ESCPOS,
                                                 NS_DECODE::LANG_CPCL, NS_DECODE::LANG_PAPERANG,
                                                 NS_DECODE::LANG_PERIPAGE};
    if (model < 20 || model > 24) {
        *error = "no printer language for model " + std::to_string(model);
        return -1;
    }
    // The decoder wants at least one page; no output is no page.
    if (out.empty())
        return checked >= 0 ? checked : 0;
    NS_DECODE::tagDecodeResult result;
    if (!NS_DECODE::DecodeStream(kLang[model - 20], reinterpret_cast<const unsigned char*>(out.data()),
                                 out.size(), result)) {
        *error = "decoder: " + result.strError;
        return -1;
    }
    const int decoded = static_cast<int>(result.vPages.size());
    if (checked >= 0 && checked != decoded) {
        *error = "the decoder reads " + std::to_string(decoded) + " pages, the check " +
                 std::to_string(checked);
        return -1;
    }
    return decoded;
#else
    if (checked == -2)
        *error = "no reader for model " + std::to_string(model);
    return checked < 0 ? -1 : checked;
#endif
}

} // namespace fuzz_support
