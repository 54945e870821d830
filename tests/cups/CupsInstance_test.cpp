// Page intake and the CUPS binding, driven in-process with a probe back end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "CupsInstance.h"
#include "CupsLog.h"
#include "CupsRender.h"
#include "PageAssembler.h"

namespace {

std::vector<std::string> g_calls;

// Records every hook in order, and what the page image looked like when the
// back end was asked to paint it.
class ProbePrinter : public CBaseRender {
public:
    void OnInit() override { g_calls.push_back("OnInit"); }
    void OnStartPage() override { g_calls.push_back("OnStartPage"); }
    void OnEndPage() override { g_calls.push_back("OnEndPage"); }
    void OnEndBmp() override { g_calls.push_back("OnEndBmp"); }
    void OnPaintBmp() override
    {
        g_calls.push_back("OnPaintBmp bpp=" + std::to_string(m_image.GetBpp()));
    }
};

class ProbeRender : public CCupsRender<ProbePrinter> {
public:
    void OnBeginBmp() override
    {
        g_calls.push_back("OnBeginBmp");
        CCupsRender<ProbePrinter>::OnBeginBmp();
    }
};

void Quiet(int, const char*) {}

class Intake : public testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        oldSink = SetLogSink(Quiet);
        g_pRender = MakeRefPtr<CBaseRender>(new ProbeRender());
        // The binding prepares images only with a PPD handle; any non-null
        // handle will do, nothing reads it during a page.
        g_pRender->m_ppd = reinterpret_cast<ppd_file_s*>(&fakePpd);
    }
    void TearDown() override
    {
        g_pRender = MakeRefPtr<CBaseRender>(nullptr);
        SetLogSink(oldSink);
    }

    static cups_page_header2_t Header(unsigned w, unsigned h, unsigned bpp, unsigned dpi = 203)
    {
        cups_page_header2_t hd;
        std::memset(&hd, 0, sizeof hd);
        hd.cupsWidth = w;
        hd.cupsHeight = h;
        hd.cupsBitsPerPixel = bpp;
        hd.cupsBytesPerLine = (w * bpp + 7) / 8;
        hd.HWResolution[0] = dpi;
        hd.HWResolution[1] = dpi;
        return hd;
    }

    void Page(cups_page_header2_t& hd)
    {
        CMyBuffer lines;
        std::vector<unsigned char> data(static_cast<size_t>(hd.cupsBytesPerLine) * hd.cupsHeight, 0xFF);
        lines.AddBuffer(data.data(), static_cast<int>(data.size()));
        instance.StartPage(nullptr, &hd, lines);
        instance.EndPage(nullptr, &hd);
    }

    // The same white page through the page assembler with the render
    // object's halftone settings, as the filter reads it.
    void AssembledPage(cups_page_header2_t& hd)
    {
        std::vector<unsigned char> line(hd.cupsBytesPerLine, 0xFF);
        ASSERT_TRUE(assembler.Begin(hd, g_pRender->m_regHalftone));
        for (unsigned y = 0; y < hd.cupsHeight; ++y)
            ASSERT_TRUE(assembler.AddLine(line.data()));
        assembler.Finish();
        instance.StartPage(nullptr, &hd, assembler);
        instance.EndPage(nullptr, &hd);
    }

    CCupsInstance instance;
    CPageAssembler assembler;
    LogSinkFn oldSink = nullptr;
    int fakePpd = 0;
};

TEST_F(Intake, HooksRunInPageOrderAndInitOnce)
{
    cups_page_header2_t a = Header(384, 200, 1), b = Header(16, 4, 8);
    Page(a);
    EXPECT_EQ(g_pRender->m_iDpi, 203);
    EXPECT_EQ(g_pRender->m_image.GetXDPI(), 203);
    EXPECT_EQ(g_pRender->m_image.GetYDPI(), 203);
    EXPECT_EQ(g_pRender->m_image.GetWidth(), 384u);
    Page(b);
    const std::vector<std::string> expected = {
        "OnStartPage", "OnBeginBmp", "OnInit", "OnPaintBmp bpp=1", "OnEndBmp", "OnEndPage",
        "OnStartPage", "OnBeginBmp", "OnPaintBmp bpp=1", "OnEndBmp", "OnEndPage"};
    EXPECT_EQ(g_calls, expected);
}

TEST_F(Intake, AssembledPagesRunTheSameHooksOneBitADot)
{
    // The 8-bit page is one bit a dot before OnInit runs; OnInit still runs
    // once, at the first page's preparation.
    cups_page_header2_t a = Header(16, 4, 8, 300), b = Header(384, 200, 1);
    AssembledPage(a);
    EXPECT_EQ(g_pRender->m_iDpi, 300);
    EXPECT_EQ(g_pRender->m_image.GetWidth(), 16u);
    AssembledPage(b);
    EXPECT_EQ(g_pRender->m_image.GetXDPI(), 203);
    const std::vector<std::string> expected = {
        "OnStartPage", "OnBeginBmp", "OnInit", "OnPaintBmp bpp=1", "OnEndBmp", "OnEndPage",
        "OnStartPage", "OnBeginBmp", "OnPaintBmp bpp=1", "OnEndBmp", "OnEndPage"};
    EXPECT_EQ(g_calls, expected);

    // A refused page only ends.
    g_calls.clear();
    cups_page_header2_t bad = Header(16, 4, 16);
    EXPECT_FALSE(assembler.Begin(bad, g_pRender->m_regHalftone));
    instance.StartPage(nullptr, &bad, assembler);
    instance.EndPage(nullptr, &bad);
    EXPECT_EQ(g_calls, std::vector<std::string>{"OnEndPage"});
    EXPECT_FALSE(g_pRender->m_image.IsValid());
}

TEST_F(Intake, PageWhoseImageFailsOnlyEndsAndInitWaitsForTheNextPage)
{
    cups_page_header2_t bad = Header(16, 4, 16), good = Header(16, 4, 8);
    Page(bad);
    EXPECT_EQ(g_pRender->m_header, &bad);
    EXPECT_FALSE(g_pRender->m_image.IsValid());
    Page(good);
    const std::vector<std::string> expected = {"OnEndPage",  "OnStartPage",     "OnBeginBmp", "OnInit",
                                               "OnPaintBmp bpp=1", "OnEndBmp", "OnEndPage"};
    EXPECT_EQ(g_calls, expected);
}

TEST_F(Intake, ShortBufferIsRefusedInsteadOfRead)
{
    cups_page_header2_t hd = Header(64, 100, 8);
    CMyBuffer lines; // holds no lines at all
    instance.StartPage(nullptr, &hd, lines);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_FALSE(g_pRender->m_image.IsValid());
}

TEST_F(Intake, BindingWithoutPpdOrHeaderLeavesTheImageAsBuilt)
{
    g_pRender->m_ppd = nullptr;
    cups_page_header2_t hd = Header(16, 4, 8);
    Page(hd);
    // The image was not prepared: still 8 bits, and OnInit never ran.
    const std::vector<std::string> expected = {"OnStartPage", "OnBeginBmp", "OnPaintBmp bpp=8",
                                               "OnEndBmp", "OnEndPage"};
    EXPECT_EQ(g_calls, expected);
}

} // namespace
