#include "PrinterStream.h"

#include <cstring>

#include "PrinterFamilies.h"
#include "StreamCheck.h"
#ifdef BANDRILL_FUZZ_DECODE
#include "StreamDecode.h"
#endif

namespace fuzz_support {

int PagesInStream(int model, const std::string& out, std::string* error)
{
    const PrinterFamily* family = FindPrinterFamily(model);
    if (!family) {
        *error = "no printer language for model " + std::to_string(model);
        return -1;
    }
    // The structural checks of the test support, where there is one.
    static const struct {
        const char* language;
        int (*check)(const std::string&, std::string*);
    } kChecks[] = {
        {"tspl", testing_support::CheckTsplStream},
        {"cpcl", testing_support::CheckCpclStream},
        {"paperang", testing_support::CheckPaperangStream},
    };
    int checked = -2;  // no structural check for this language
    for (const auto& c : kChecks)
        if (std::strcmp(c.language, family->language) == 0)
            checked = c.check(out, error);
    if (checked == -1)
        return -1;
#ifdef BANDRILL_FUZZ_DECODE
    // The decoder wants at least one page; no output is no page.
    if (out.empty())
        return checked >= 0 ? checked : 0;
    NS_DECODE::tagDecodeResult result;
    if (!NS_DECODE::DecodeStream(family->language, reinterpret_cast<const unsigned char*>(out.data()),
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
