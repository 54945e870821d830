// bandrill-decode's stream decoders on arbitrary bytes, for each printer
// language. Whatever the bytes claim, a run must stay inside the input and
// its memory limits, and what it returns must be self-consistent: pages
// whose bit arrays match their sizes, or an error with an offset inside the
// input.
//
// Input layout:
//   byte 0   language: % (families + 1) = the family table's row, or the
//            last value: guessed from the stream's first bytes
//   byte 1   memory limit per page: 1 KiB << (b % 13), the total four times
//            that (small, so that claimed sizes cost little)
//   rest     the stream
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PngWriter.h"
#include "PrinterFamilies.h"
#include "StreamDecode.h"

using namespace fuzz_support;
using namespace NS_DECODE;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    const std::vector<PrinterFamily>& families = PrinterFamilies();
    const size_t choice = in.Byte() % (families.size() + 1);
    tagDecodeLimits limits;
    limits.nMaxImageBytes = size_t(1024) << (in.Byte() % 13);
    limits.nMaxTotalBytes = 4 * limits.nMaxImageBytes;
    const unsigned char* stream = in.Rest();
    const size_t length = in.RestSize();

    std::string lang;
    if (choice < families.size())
        lang = families[choice].language;
    else if (!DetectLanguage(stream, length, lang))
        return 0;

    tagDecodeResult result;
    const bool ok = DecodeStream(lang, stream, length, result, limits);
    FUZZ_CHECK(ok == result.bOk, "return value %d, bOk %d", ok, result.bOk);
    if (!ok) {
        FUZZ_CHECK(result.nErrorOffset <= length && !result.strError.empty(),
                   "error '%s' at %zu of %zu bytes", result.strError.c_str(), result.nErrorOffset,
                   length);
    }

    size_t total = 0;
    for (const tagDecodedPage& page : result.vPages) {
        FUZZ_CHECK(page.iWidth >= 0 && page.iHeight >= 0 && page.iStride == (page.iWidth + 7) / 8 &&
                       page.vBits.size() == static_cast<size_t>(page.iStride) * page.iHeight,
                   "page of %d x %d, stride %d, %zu bytes", page.iWidth, page.iHeight, page.iStride,
                   page.vBits.size());
        FUZZ_CHECK(page.vBits.size() <= limits.nMaxImageBytes, "page of %zu bytes over the limit %zu",
                   page.vBits.size(), limits.nMaxImageBytes);
        total += page.vBits.size();
    }
    FUZZ_CHECK(total <= limits.nMaxTotalBytes, "pages of %zu bytes over the limit %zu", total,
               limits.nMaxTotalBytes);
    SummaryLine(result);

    // The tool writes each page as a PNG; a small one goes through libpng.
    if (!result.vPages.empty() && result.vPages.front().vBits.size() <= 8192) {
        const tagDecodedPage& page = result.vPages.front();
        std::string why;
        const bool written = WritePagePng(page, "/dev/null", why);
        FUZZ_CHECK(written == (page.iWidth > 0 && page.iHeight > 0), "PNG of %d x %d: %s",
                   page.iWidth, page.iHeight, why.c_str());
    }
    return 0;
}
