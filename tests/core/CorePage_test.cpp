// The render core on its own, as a front end without CUPS drives it: a page
// handed over line by line to the page assembler, settings from a plain map
// of keyword choices, the back end from the family table. The result must
// be the filter's stream, byte for byte, for the same page and settings.
// This program links the render core only, not libcups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

#include "BaseRender.h"
#include "PageAssembler.h"
#include "PpdWriter.h"
#include "PrinterFamilies.h"
#include "PrinterSettings.h"
#include "PrintJob.h"
#include "RenderJob.h"
#include "TempDir.h"

using testing_support::PpdModel;
using testing_support::PpdOption;
using testing_support::TempDir;

namespace {

// Keyword choices from a map, as a printer application keeps them.
class MapChoices : public ISettingChoices {
public:
    explicit MapChoices(std::map<std::string, std::string> values) : m_values(std::move(values)) {}
    std::string Choice(const char* keyword) override
    {
        const auto it = m_values.find(keyword);
        return it == m_values.end() ? std::string() : it->second;
    }

private:
    std::map<std::string, std::string> m_values;
};

// Collects the printer stream and the user-facing reports.
class StringJob : public CRenderJob {
public:
    bool Write(const void* data, int length) override
    {
        out.append(static_cast<const char*>(data), static_cast<size_t>(length));
        return true;
    }
    void Report(Level, const char* text) override { reports.push_back(text); }
    std::string out;
    std::vector<std::string> reports;
};

// A grey page: white paper, a dark frame, a ramp and a few dots, so that
// every halftone, crop and rotation has something to do.
cups_page_header2_t Header(unsigned w, unsigned h, unsigned bpp, cups_cspace_t space, unsigned dpi)
{
    cups_page_header2_t hd;
    std::memset(&hd, 0, sizeof hd);
    hd.cupsWidth = w;
    hd.cupsHeight = h;
    hd.cupsBitsPerColor = bpp == 24 ? 8 : bpp;
    hd.cupsBitsPerPixel = bpp;
    hd.cupsBytesPerLine = (w * bpp + 7) / 8;
    hd.cupsColorSpace = space;
    hd.cupsColorOrder = CUPS_ORDER_CHUNKED;
    hd.HWResolution[0] = hd.HWResolution[1] = dpi;
    hd.PageSize[0] = w * 72 / dpi;
    hd.PageSize[1] = h * 72 / dpi;
    return hd;
}

std::vector<unsigned char> Lines(const cups_page_header2_t& hd)
{
    std::vector<unsigned char> data(static_cast<size_t>(hd.cupsBytesPerLine) * hd.cupsHeight);
    unsigned seed = hd.cupsWidth * 31 + hd.cupsHeight;
    for (unsigned y = 0; y < hd.cupsHeight; ++y)
        for (unsigned b = 0; b < hd.cupsBytesPerLine; ++b) {
            seed = seed * 1103515245u + 12345u;
            const bool margin = y < 3 || y + 3 >= hd.cupsHeight || b == 0;
            const bool frame = y == 4 || y + 5 == hd.cupsHeight || b == 1;
            unsigned char v = static_cast<unsigned char>(255 - (b * 255) / hd.cupsBytesPerLine);
            if (margin)
                v = 0xFF;
            else if (frame)
                v = 0x00;
            else if ((seed >> 16) % 17 == 0)
                v = static_cast<unsigned char>(seed >> 8);
            if (hd.cupsColorSpace == CUPS_CSPACE_K)
                v = static_cast<unsigned char>(~v);
            data[static_cast<size_t>(y) * hd.cupsBytesPerLine + b] = v;
        }
    return data;
}

// The pages as an uncompressed version 3 raster stream: the sync word in
// this machine's byte order, then each page's header as libcups lays it out
// and its lines.
std::string RasterStream(const std::vector<cups_page_header2_t>& headers)
{
    const unsigned sync = CUPS_RASTER_SYNC;
    std::string s(reinterpret_cast<const char*>(&sync), sizeof sync);
    for (const cups_page_header2_t& hd : headers) {
        s.append(reinterpret_cast<const char*>(&hd), sizeof hd);
        const std::vector<unsigned char> data = Lines(hd);
        s.append(reinterpret_cast<const char*>(data.data()), data.size());
    }
    return s;
}

// Runs the built filter as CUPS does; returns its standard output.
std::string RunFilter(const std::string& ppd, const std::string& raster, const TempDir& dir)
{
    const std::string in = dir.Path("job.ras"), out = dir.Path("job.out");
    testing_support::WriteFile(in, raster);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int devnull = open("/dev/null", O_WRONLY);
        if (fd < 0 || devnull < 0)
            _exit(127);
        dup2(fd, 1);
        dup2(devnull, 2);
        setenv("PPD", ppd.c_str(), 1);
        execl(BANDRILL_BINARY, "bandrill", "1", "user", "title", "1", "", in.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "filter status " << status;
    return testing_support::ReadFile(out);
}

// The same job through the core alone.
std::string RunCore(int model, const std::map<std::string, std::string>& choices,
                    const std::vector<cups_page_header2_t>& headers, StringJob& job)
{
    const PrinterFamily* family = FindPrinterFamily(model);
    if (!family)
        return std::string();
    CStdRefPtr<CBaseRender> render;
    render = MakeRefPtr<CBaseRender>(family->create());
    render->SetJob(&job);
    MapChoices map(choices);
    ReadPrinterSettings(*render, map);
    CPrintJob print(*render, job);
    print.Begin();
    for (const cups_page_header2_t& hd : headers) {
        const std::vector<unsigned char> data = Lines(hd);
        // Line by line, as a line-fed front end receives them.
        if (print.BeginPage(hd))
            for (unsigned y = 0; y < hd.cupsHeight; ++y)
                print.AddLine(&data[static_cast<size_t>(y) * hd.cupsBytesPerLine]);
        print.EndPage();
    }
    print.End();
    return job.out;
}

TEST(CorePage, SameBytesAsTheFilterInEveryFamily)
{
    struct Setting {
        const char* what;
        std::map<std::string, std::string> choices;
    };
    const Setting settings[] = {
        {"defaults", {}},
        {"threshold, crops, rotation",
         {{"ImageFilter", "0"}, {"Threshold", "96"}, {"CropEdgeTop", "-1"},
          {"CropEdgeBottom", "2"}, {"CropEdgeLeft", "1"}, {"Rotate", "2"}}},
        {"dither with tone, media and feed",
         {{"ImageFilter", "5"}, {"Brightness", "20"}, {"Contrast", "-20"},
          {"zeMediaTracking", "Gap"}, {"FeedOffset", "3"}, {"Darkness", "7"}, {"zePrintRate", "3"},
          {"ImageCompress", "1"}, {"AdjustHoriaontal", "2"}}},
    };
    const std::vector<cups_page_header2_t> pages = {
        Header(61, 40, 8, CUPS_CSPACE_SW, 203),
        Header(33, 17, 1, CUPS_CSPACE_K, 203),
        Header(24, 30, 24, CUPS_CSPACE_RGB, 300),
    };
    TempDir dir;
    for (const PrinterFamily& family : PrinterFamilies())
        for (const Setting& s : settings) {
            SCOPED_TRACE(std::string(family.name) + ", " + s.what);
            PpdModel ppdModel;
            ppdModel.modelNumber = family.model;
            for (const auto& kv : s.choices)
                ppdModel.options.push_back(PpdOption{kv.first, kv.second, {}});
            const std::string ppd = testing_support::WritePpd(dir.Path("printer.ppd"), ppdModel);
            const std::string filtered = RunFilter(ppd, RasterStream(pages), dir);
            StringJob job;
            const std::string core = RunCore(family.model, s.choices, pages, job);
            ASSERT_FALSE(core.empty());
            EXPECT_TRUE(core == filtered) << core.size() << " bytes from the core, "
                                          << filtered.size() << " from the filter";
        }
}

// Jobs of a long-running front end run side by side: each has its own
// back end, assembler and job state, and none may see another's output,
// pages or cancellation.
TEST(CorePage, JobsInTwoThreadsKeepTheirOwnOutputAndState)
{
    const std::vector<cups_page_header2_t> a = {Header(61, 40, 8, CUPS_CSPACE_SW, 203),
                                                Header(33, 17, 1, CUPS_CSPACE_K, 203)};
    const std::vector<cups_page_header2_t> b = {Header(200, 90, 8, CUPS_CSPACE_SW, 203)};
    const std::map<std::string, std::string> dither = {{"ImageFilter", "1"}};
    const std::map<std::string, std::string> threshold = {{"ImageFilter", "0"}, {"Rotate", "2"}};
    StringJob soloA, soloB;
    const std::string expectA = RunCore(kModelESCPOS, dither, a, soloA);
    const std::string expectB = RunCore(kModelPaperang, threshold, b, soloB);

    for (int round = 0; round < 20; ++round) {
        StringJob jobA, jobB;
        jobB.Cancel();
        std::string outA, outB;
        std::thread ta([&] { outA = RunCore(kModelESCPOS, dither, a, jobA); });
        std::thread tb([&] { outB = RunCore(kModelPaperang, threshold, b, jobB); });
        ta.join();
        tb.join();
        ASSERT_TRUE(outA == expectA) << "round " << round;
        ASSERT_TRUE(outB == expectB) << "round " << round;
        EXPECT_FALSE(jobA.IsCanceled());
        EXPECT_TRUE(jobB.IsCanceled());
    }
}

// What the user is told goes through the job, whichever front end it is:
// a refused page with its reason, a page whose lines stopped coming.
TEST(CorePage, RefusedAndCutPagesAreReportedThroughTheJob)
{
    const PrinterFamily* family = FindPrinterFamily(kModelESCPOS);
    CStdRefPtr<CBaseRender> render;
    render = MakeRefPtr<CBaseRender>(family->create());
    StringJob job;
    render->SetJob(&job);
    CPrintJob print(*render, job);
    print.Begin();
    cups_page_header2_t deep = Header(16, 4, 16, CUPS_CSPACE_SW, 203);
    EXPECT_FALSE(print.BeginPage(deep));
    print.EndPage();
    cups_page_header2_t cut = Header(40, 10, 8, CUPS_CSPACE_SW, 203);
    ASSERT_TRUE(print.BeginPage(cut));
    const std::vector<unsigned char> grey(40, 0x80);
    for (int y = 0; y < 4; ++y)
        EXPECT_TRUE(print.AddLine(grey.data()));
    print.EndPage();
    print.End();
    render->SetJob(nullptr);

    EXPECT_EQ(print.Pages(), 2);
    const std::vector<std::string> expected = {
        "Page 1 not printed: its raster has 16 bits per pixel; 1, 4, 8, 24 and 32 can be printed.",
        "Page 2 is incomplete: the raster data ended after 4 of its 10 lines; the rest is printed "
        "blank."};
    EXPECT_EQ(job.reports, expected);
    EXPECT_FALSE(job.out.empty());
}

TEST(CorePage, AssemblerWhitensMissingLinesAndRefusesBeforeAllocating)
{
    cups_page_header2_t hd = Header(16, 4, 1, CUPS_CSPACE_K, 203);
    CPageAssembler a;
    ASSERT_TRUE(a.Begin(hd));
    const unsigned char ink[2] = {0xFF, 0x00};  // K: a set bit is ink
    EXPECT_TRUE(a.AddLine(ink));
    a.Finish();
    EXPECT_EQ(a.LinesReceived(), 1u);
    const CMyBuffer& lines = a.Lines();
    ASSERT_EQ(lines.GetBufferLength(), 8);
    // The first line complemented to white high; the three missing lines white.
    const unsigned char expected[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(lines.GetBuffer(), expected, 8), 0);
    EXPECT_FALSE(a.AddLine(ink) && a.AddLine(ink) && a.AddLine(ink) && a.AddLine(ink));

    // A header that claims gigabytes for a tiny image is refused outright.
    cups_page_header2_t huge = Header(4, 60000, 8, CUPS_CSPACE_SW, 203);
    huge.cupsBytesPerLine = 30000;
    EXPECT_FALSE(a.Begin(huge));
    EXPECT_EQ(a.Lines().GetBufferLength(), 0);
    EXPECT_EQ(a.NextLine(), nullptr);
    EXPECT_FALSE(a.AddLine(ink));
}

TEST(CorePage, FamilyTableNamesEveryModelAndDriverOnce)
{
    std::vector<int> models;
    std::vector<std::string> drivers;
    for (const PrinterFamily& f : PrinterFamilies()) {
        EXPECT_EQ(FindPrinterFamily(f.model), &f);
        models.push_back(f.model);
        CStdRefPtr<CBaseRender> render;
        render = MakeRefPtr<CBaseRender>(f.create());
        EXPECT_NE(static_cast<CBaseRender*>(render), nullptr);
        EXPECT_EQ(FindPrinterFamilyByLanguage(f.language), &f);
        for (const PrinterDriver& d : f.drivers) {
            EXPECT_EQ(FindPrinterFamilyByDriver(d.name), &f) << d.name;
            drivers.push_back(d.name);
        }
        // Every setting a family offers is a row of the settings table, its
        // default one of its choices.
        for (const OfferedSetting& o : f.settings) {
            ASSERT_NE(o.row, nullptr);
            EXPECT_EQ(FindSetting(o.row->keyword), o.row);
            EXPECT_TRUE(o.Offers(o.defaultChoice)) << f.name << " " << o.row->keyword;
        }
    }
    // In model number order, each model and driver once.
    EXPECT_TRUE(std::is_sorted(models.begin(), models.end()));
    EXPECT_EQ(std::set<int>(models.begin(), models.end()).size(), models.size());
    EXPECT_EQ(std::set<std::string>(drivers.begin(), drivers.end()).size(), drivers.size());
    EXPECT_NE(FindPrinterFamily(kModelTSPL), nullptr);
    EXPECT_EQ(FindPrinterFamily(19), nullptr);
    EXPECT_EQ(FindPrinterFamilyByDriver("bandrill-tspl-203"), nullptr);
    EXPECT_EQ(FindPrinterFamilyByDriver(nullptr), nullptr);
}

} // namespace
