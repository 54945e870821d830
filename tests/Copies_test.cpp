// Copies the printer makes: TSPL prints a label n times with PRINT 1,n,
// CPCL with the label quantity, the paper-strip printers get the page's
// stream again. Uncollated copies repeat each page; collated ones repeat
// the job's pages in order, and a job of one label still goes as one
// bitmap. What comes out is compared, as printed, with the plain stream of
// the pages written out copy by copy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AsciiImage.h"
#include "PaperModel.h"
#include "PrinterCPCL.h"
#include "PrinterESCPOS.h"
#include "PrinterPaperang.h"
#include "PrinterPeriPage.h"
#include "PrinterTSPL.h"
#include "RecordingPrinter.h"
#include "StreamDecode.h"

namespace {

using testing_support::CRecordingJob;
using testing_support::MakeAsciiImage;
using testing_support::PaperLanguage;
using testing_support::PaperSheet;
using Rows = std::vector<std::string>;

Rows PageNumbered(int n)
{
    Rows rows(24, std::string(40, '.'));
    for (int i = 0; i <= n; ++i)
        rows[static_cast<size_t>(2 + 2 * i)].replace(4, 20, std::string(20, 'X'));
    return rows;
}

struct JobRun {
    int copies = 1;
    bool collate = false;
    int cutMode = CUT_PAGE;
    int drawer = CASH_DRAWER_NONE;
    int cancelAfterPage = 0;  // 0: not cancelled
};

template <class T>
std::string Print(const std::vector<Rows>& pages, const JobRun& run)
{
    CRecordingJob job;
    testing_support::TRecordingPrinter<T, std::string> p;
    p.SetJob(&job);
    p.m_iDpi = 203;
    p.m_reg.iGap[0] = MEDIA_GAP;
    p.m_reg.iCutMode = run.cutMode;
    p.m_reg.iCashDrawer = run.drawer;
    p.SetCopies(run.copies, run.collate);
    int n = 0;
    for (const Rows& page : pages) {
        MakeAsciiImage(p.m_image, page);
        p.AdjustEffWidthBits();
        p.OnPaintBmp();
        if (++n == run.cancelAfterPage)
            job.Cancel();
    }
    p.OnEndDoc();
    return p.Joined();
}

std::vector<PaperSheet> Printout(PaperLanguage lang, const std::string& stream)
{
    std::vector<PaperSheet> sheets;
    std::string error;
    EXPECT_TRUE(testing_support::ReadPrintout(lang, stream, sheets, &error)) << error;
    return sheets;
}

// The pages in the order the copies should come out.
std::vector<Rows> Order(const std::vector<Rows>& pages, int copies, bool collate)
{
    std::vector<Rows> out;
    if (collate) {
        for (int c = 0; c < copies; ++c)
            out.insert(out.end(), pages.begin(), pages.end());
    } else {
        for (const Rows& p : pages)
            for (int c = 0; c < copies; ++c)
                out.push_back(p);
    }
    return out;
}

const std::vector<Rows> kJob = {PageNumbered(0), PageNumbered(1), PageNumbered(2)};

TEST(Copies, LabelLanguagesPrintTheCopiesInOrder)
{
    for (bool collate : {false, true})
        for (size_t pages : {size_t(1), size_t(3)}) {
            SCOPED_TRACE(std::string(collate ? "collated, " : "uncollated, ") +
                         std::to_string(pages) + " pages");
            const std::vector<Rows> job(kJob.begin(), kJob.begin() + static_cast<long>(pages));
            JobRun run;
            run.copies = 3;
            run.collate = collate;
            EXPECT_EQ(Printout(PaperLanguage::TSPL, Print<CPrinterTSPL>(job, run)),
                      Printout(PaperLanguage::TSPL, Print<CPrinterTSPL>(Order(job, 3, collate), JobRun())));
            EXPECT_EQ(Printout(PaperLanguage::CPCL, Print<CPrinterCPCL>(job, run)),
                      Printout(PaperLanguage::CPCL, Print<CPrinterCPCL>(Order(job, 3, collate), JobRun())));
        }
}

// One label, three copies: the label's bitmap goes once, whatever the
// collation, and the stream is that of one copy but for the count.
TEST(Copies, OneLabelGoesOnceWithItsCount)
{
    const std::vector<Rows> label = {PageNumbered(5)};
    const std::string one = Print<CPrinterTSPL>(label, JobRun());
    std::string three = one;
    three.replace(three.rfind("PRINT 1,1"), 9, "PRINT 1,3");
    const std::string cpclOne = Print<CPrinterCPCL>(label, JobRun());
    std::string cpclThree = cpclOne;
    cpclThree.replace(cpclThree.find(" 1\r\n"), 4, " 3\r\n");
    for (bool collate : {false, true}) {
        JobRun run;
        run.copies = 3;
        run.collate = collate;
        EXPECT_EQ(Print<CPrinterTSPL>(label, run), three);
        EXPECT_EQ(Print<CPrinterCPCL>(label, run), cpclThree);
        EXPECT_LE(three.size() * 10, one.size() * 11);
    }
    NS_DECODE::tagDecodeResult r;
    ASSERT_TRUE(NS_DECODE::DecodeTSPL(reinterpret_cast<const unsigned char*>(three.data()),
                                      three.size(), r));
    EXPECT_EQ(r.vPages.size(), 3u);
    ASSERT_TRUE(NS_DECODE::DecodeCPCL(reinterpret_cast<const unsigned char*>(cpclThree.data()),
                                      cpclThree.size(), r));
    EXPECT_EQ(r.vPages.size(), 3u);
}

// The paper-strip printers get each page's stream again: uncollated at
// once, collated as whole sets after the last page.
TEST(Copies, StripPrintersRepeatThePages)
{
    for (bool collate : {false, true}) {
        SCOPED_TRACE(collate ? "collated" : "uncollated");
        JobRun run;
        run.copies = 2;
        run.collate = collate;
        const std::vector<Rows> order = Order(kJob, 2, collate);
        EXPECT_EQ(Print<CPrinterESCPOS>(kJob, run), Print<CPrinterESCPOS>(order, JobRun()));
        EXPECT_EQ(Print<CPrinterPeriPage>(kJob, run), Print<CPrinterPeriPage>(order, JobRun()));
        EXPECT_EQ(Print<CPrinterPaperang>(kJob, run), Print<CPrinterPaperang>(order, JobRun()));
    }
}

// A receipt printer's cash drawer opens once, however many copies; a job
// cut once comes out as one slip per copy, each with its cut.
TEST(Copies, DrawerOpensOnceAndEachSlipIsCut)
{
    JobRun before;
    before.copies = 3;
    before.drawer = 1;
    const std::string kick("\x1B\x70\x00\x19\xFA", 5);
    auto count = [](const std::string& s, const std::string& what) {
        size_t n = 0;
        for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
            ++n;
        return n;
    };
    std::string out = Print<CPrinterESCPOS>(kJob, before);
    EXPECT_EQ(count(out, kick), 1u);
    EXPECT_EQ(out.find(kick), 3u);  // behind ESC @ 00 of the first page
    EXPECT_EQ(count(out, std::string("\x1D\x76\x30", 3)), 9u);

    JobRun after = before;
    after.drawer = 1 | CASH_DRAWER_AFTER;
    after.cutMode = CUT_JOB;
    out = Print<CPrinterESCPOS>(kJob, after);
    EXPECT_EQ(count(out, kick), 1u);
    EXPECT_EQ(out.rfind(kick), out.size() - kick.size());
    // Three slips of the three pages, each ending in its cut.
    const std::string cut("\x1D\x56\x31", 3);
    EXPECT_EQ(count(out, cut), 3u);
    JobRun oneSlip;
    oneSlip.cutMode = CUT_JOB;
    const std::string slip = Print<CPrinterESCPOS>(kJob, oneSlip);
    EXPECT_EQ(out.substr(0, slip.size()), slip);
    EXPECT_EQ(out.substr(slip.size(), slip.size()), slip);
    EXPECT_EQ(out.substr(2 * slip.size()), slip + kick);
}

// A cancelled job prints no further copies.
TEST(Copies, CancelledJobStopsAfterTheCopiesSent)
{
    JobRun run;
    run.copies = 3;
    run.collate = true;
    run.cancelAfterPage = 3;
    EXPECT_EQ(Printout(PaperLanguage::TSPL, Print<CPrinterTSPL>(kJob, run)),
              Printout(PaperLanguage::TSPL, Print<CPrinterTSPL>(kJob, JobRun())));
    EXPECT_EQ(Print<CPrinterESCPOS>(kJob, run), Print<CPrinterESCPOS>(kJob, JobRun()));
    // Cancelled after the one label: one copy, not three.
    run.cancelAfterPage = 1;
    EXPECT_EQ(Printout(PaperLanguage::TSPL, Print<CPrinterTSPL>({kJob[0]}, run)).size(), 1u);
    EXPECT_EQ(Printout(PaperLanguage::CPCL, Print<CPrinterCPCL>({kJob[0]}, run)).size(), 1u);
}

} // namespace
