// The settings as the filter reads them: PPD text and a job options string
// go through ppdOpen, ppdMarkDefaults, cupsParseOptions and cupsMarkOptions
// into the back end's GetPrinterParameters, the way the job loop does it;
// then one small page is rendered with those settings, and the printer
// stream it gives must be one whole page (or none, traced as not sent).
//
// Input layout: the options string, a 0 byte, the PPD text. Without a 0
// byte the whole input is the PPD and there are no options.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "CupsInstance.h"
#include "CupsLog.h"
#include "CupsOutput.h"
#include "CupsJob.h"
#include "FuzzSupport.h"
#include "PrinterFamilies.h"
#include "PrinterStream.h"

using namespace fuzz_support;

namespace {

int g_built = 0;
int g_notSent = 0;

void CountTrace(int, const char* text)
{
    if (std::strncmp(text, "create image width=", 19) == 0)
        ++g_built;
    if (IsPageNotSent(text))
        ++g_notSent;
}

// The back end the PPD's model number selects; an unknown number still
// has its settings read, by the TSPL back end.
CBaseRender* MakeBackEnd(int model)
{
    const PrinterFamily* family = FindPrinterFamily(model);
    if (!family)
        family = FindPrinterFamily(kModelTSPL);
    return family->create();
}

// The job the filter's back end prints for: standard output, system log.
CCupsJob g_job;

// A 40 x 24 grey page at 203 dpi: a white margin around a dark frame and a
// ramp, so that threshold, dither and every crop side have work to do.
struct SamplePage {
    cups_page_header2_t header;
    std::vector<unsigned char> lines;

    SamplePage()
    {
        std::memset(&header, 0, sizeof header);
        header.HWResolution[0] = header.HWResolution[1] = 203;
        header.cupsWidth = 40;
        header.cupsHeight = 24;
        header.cupsBitsPerPixel = 8;
        header.cupsBitsPerColor = 8;
        header.cupsBytesPerLine = 40;
        lines.assign(40 * 24, 0xFF);
        for (unsigned y = 4; y < 20; ++y)
            for (unsigned x = 6; x < 34; ++x) {
                const bool frame = y == 4 || y == 19 || x == 6 || x == 33;
                lines[y * 40 + x] = frame ? 0 : static_cast<unsigned char>(x * 7 + y * 3);
            }
    }
};

CMemFile& OutFile()
{
    static CMemFile out("out");
    return out;
}

CMemFile& PpdFile()
{
    static CMemFile ppd("ppd");
    return ppd;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetLogSink(CountTrace);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    std::string options;
    const uint8_t* ppdText = data;
    size_t ppdSize = size;
    if (nul) {
        options.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(nul - data));
        ppdText = nul + 1;
        ppdSize = size - static_cast<size_t>(ppdText - data);
    }

    CMemFile& ppdFile = PpdFile();
    ppdFile.Set(ppdText, ppdSize);
    FILE* fp = fdopen(dup(ppdFile.Fd()), "r");
    if (!fp)
        return 0;
    ppd_file_t* ppd = ppdOpen(fp);
    std::fclose(fp);
    if (!ppd) {
        int line = 0;
        const ppd_status_t status = ppdLastError(&line);
        FUZZ_CHECK(ppdErrorString(status) != nullptr, "no text for PPD error %d", status);
        return 0;
    }

    ppdMarkDefaults(ppd);
    cups_option_t* parsed = nullptr;
    const int count = cupsParseOptions(options.c_str(), 0, &parsed);
    cupsMarkOptions(ppd, count, parsed);

    std::string modelName;
    if (ppd_attr_t* attr = ppdFindAttr(ppd, "ModelName", nullptr))
        modelName = attr->value ? attr->value : "";
    const int model = ppd->model_number;

    g_built = g_notSent = 0;
    CMemFile& out = OutFile();
    out.Clear();
    CupsResetOutput();
    CupsSetOutputFd(out.Fd());

    g_pRender = MakeRefPtr<CBaseRender>(MakeBackEnd(model));
    g_pRender->SetJob(&g_job);
    g_pRender->m_ppd = ppd;
    CupsReadSettings(*g_pRender);
    // An ESC/POS slip that is never cut ends with its page uncut; the
    // stream readers count a page at its cut.
    const bool uncut = model == kModelESCPOS && g_pRender->m_reg.iCutMode == CUT_NONE;
    g_pRender->SetModelName(modelName.c_str());
    g_pRender->OnStartDoc(0);

    SamplePage page;
    CMyBuffer lines;
    lines.AddBuffer(page.lines.data(), static_cast<int>(page.lines.size()));
    CCupsInstance instance;
    instance.StartPage(ppd, &page.header, lines);
    instance.EndPage(ppd, &page.header);
    g_pRender->OnEndDoc();
    g_pRender = MakeRefPtr<CBaseRender>(nullptr);

    ppdClose(ppd);
    cupsFreeOptions(count, parsed);

    FUZZ_CHECK(g_built == 1, "the sample page was not built");
    std::string stream = out.Get();
    if (uncut && !stream.empty())
        stream += "\x1D\x56\x31";
    CupsResetOutput();
    std::string error;
    const int pages = PagesInStream(model >= 20 && model <= 24 ? model : 20, stream, &error);
    FUZZ_CHECK(pages == 1 - g_notSent, "model %d: stream holds %d pages, %d not sent (%s)", model,
               pages, g_notSent, error.c_str());
    return 0;
}
