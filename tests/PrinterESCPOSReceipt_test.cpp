// Receipt printing on ESC/POS: raster bands, where the cuts go, the cut
// with a feed to the cutter, the cash drawer kick, and a job cancelled
// half-way. The PeriPage dialect takes the bands and nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AsciiImage.h"
#include "PrinterESCPOS.h"
#include "PrinterPeriPage.h"
#include "RecordingPrinter.h"

namespace {

using testing_support::AsciiPicture;
using testing_support::Bytes;
using testing_support::Cat;
using testing_support::DecodeRaster;
using testing_support::MakeAsciiImage;

class RecordingESCPOS : public testing_support::TRecordingPrinter<CPrinterESCPOS> {};
class RecordingPeriPage : public testing_support::TRecordingPrinter<CPrinterPeriPage> {};

const Bytes kInit = {0x1B, 0x40, 0x00};           // ESC @, 00
const Bytes kCenter = {0x1B, 0x61, 0x01};         // ESC a 1
const Bytes kCut = {0x1D, 0x56, 0x31};            // GS V 49
const Bytes kFeedCut = {0x1D, 0x56, 0x42, 0x00};  // GS V 66 0
const Bytes kFeed10mm = {0x1B, 0x4A, 0x4F};       // 79 dots at 203 dpi
const Bytes kDrawer1 = {0x1B, 0x70, 0x00, 0x19, 0xFA};
const Bytes kDrawer2 = {0x1B, 0x70, 0x01, 0x19, 0xFA};

// A page of width dots whose row y has a pattern of its own, so that a
// lost, repeated or reordered row shows in the decoded picture.
std::vector<std::string> RowPicture(int width, int height)
{
    std::vector<std::string> rows;
    for (int y = 0; y < height; ++y) {
        std::string row(width, '.');
        for (int x = 0; x < width; ++x)
            if (x == 0 || ((x * 7 + y * 13) ^ (y >> 3)) % 11 == 0)
                row[x] = 'X';
        rows.push_back(row);
    }
    return rows;
}

struct Band {
    unsigned char mode;
    int widthBytes;
    int rows;
    Bytes data;
};

// The GS v 0 commands of a stream, in order; fails the test on bytes
// between them that are not one of the page's short commands.
std::vector<Band> Bands(const Bytes& out, size_t from, size_t to)
{
    std::vector<Band> bands;
    size_t i = from;
    while (i + 8 <= to && out[i] == 0x1D && out[i + 1] == 0x76 && out[i + 2] == 0x30) {
        Band b;
        b.mode = out[i + 3];
        b.widthBytes = out[i + 4] | out[i + 5] << 8;
        b.rows = out[i + 6] | out[i + 7] << 8;
        const size_t n = static_cast<size_t>(b.widthBytes) * b.rows;
        EXPECT_LE(i + 8 + n, to);
        b.data.assign(out.begin() + static_cast<long>(i + 8),
                      out.begin() + static_cast<long>(std::min(i + 8 + n, to)));
        bands.push_back(b);
        i += 8 + n;
    }
    EXPECT_EQ(i, to) << "bytes after the raster commands";
    return bands;
}

// BandRows splits the page into complete GS v 0 commands of at most that
// many rows, each with the page's mode and width; stacked, they are the
// page the unbanded stream carries.
TEST(ReceiptBands, PageIsSplitIntoCompleteRasterCommands)
{
    const struct {
        int bandRows;
        int height;
        std::vector<int> bands;
    } kCases[] = {
        {24, 10, {10}},
        {24, 24, {24}},
        {24, 25, {24, 1}},
        {24, 72, {24, 24, 24}},  // exact multiple: no empty band
        {24, 73, {24, 24, 24, 1}},
        {255, 254, {254}},
        {255, 510, {255, 255}},
        {255, 511, {255, 255, 1}},
        {2303, 2303, {2303}},
        {2303, 4606, {2303, 2303}},
        {2303, 4607, {2303, 2303, 1}},
        {100, 250, {100, 100, 50}},  // any positive count is honoured
        {1, 3, {1, 1, 1}},
    };
    for (int width : {20, 384}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE("BandRows " + std::to_string(c.bandRows) + ", " + std::to_string(width) +
                         " x " + std::to_string(c.height));
            const auto picture = RowPicture(width, c.height);
            const int widthBytes = (width + 7) / 8;

            RecordingESCPOS whole;
            whole.m_iDpi = 203;
            MakeAsciiImage(whole.m_image, picture);
            whole.OnPaintBmp();

            RecordingESCPOS banded;
            banded.m_iDpi = 203;
            banded.m_reg.iBandRows = c.bandRows;
            MakeAsciiImage(banded.m_image, picture);
            banded.OnPaintBmp();

            ASSERT_EQ(whole.writes.size(), 1u);
            ASSERT_EQ(banded.writes.size(), 1u);
            const Bytes& out = banded.writes[0];
            ASSERT_GT(out.size(), 6 + kCut.size());
            EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), Cat({kInit, kCenter}));
            EXPECT_EQ(Bytes(out.end() - 3, out.end()), kCut);

            const std::vector<Band> bands = Bands(out, 6, out.size() - 3);
            const std::vector<Band> one = Bands(whole.writes[0], 6, whole.writes[0].size() - 3);
            ASSERT_EQ(one.size(), 1u);
            std::vector<int> heights;
            Bytes stacked;
            for (const Band& b : bands) {
                heights.push_back(b.rows);
                EXPECT_EQ(b.mode, 0);
                EXPECT_EQ(b.widthBytes, widthBytes);
                stacked.insert(stacked.end(), b.data.begin(), b.data.end());
            }
            EXPECT_EQ(heights, c.bands);
            EXPECT_EQ(stacked, one[0].data);
            EXPECT_EQ(AsciiPicture(DecodeRaster(stacked, widthBytes, width)), AsciiPicture(picture));
            EXPECT_TRUE(banded.logs.empty());
        }
    }
}

// 0 and counts the command cannot carry mean the command's own limit of
// 65535 rows: the stream is the unbanded one.
TEST(ReceiptBands, ZeroAndOversizedCountsKeepTheCommandLimit)
{
    for (int bandRows : {0, 65535, 65536, 1000000}) {
        SCOPED_TRACE(bandRows);
        RecordingESCPOS p;
        p.m_iDpi = 100;  // mode 3
        p.m_reg.iBandRows = bandRows;
        ASSERT_TRUE(p.m_image.Create(8, 65537, 1, 0));
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const std::vector<Band> bands = Bands(p.writes[0], 6, p.writes[0].size() - 3);
        ASSERT_EQ(bands.size(), 2u);
        EXPECT_EQ(bands[0].rows, 65535);
        EXPECT_EQ(bands[1].rows, 2);
        EXPECT_EQ(bands[1].mode, 3);
    }
}

// PeriPage sends its image with the same bands, inside its own page frame.
TEST(ReceiptBands, PeriPageSendsBandsToo)
{
    const auto picture = RowPicture(384, 60);
    RecordingPeriPage p;
    p.m_iDpi = 203;
    p.m_reg.iDensity = -1;
    p.m_reg.iBandRows = 24;
    MakeAsciiImage(p.m_image, picture);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    const Bytes& out = p.writes[0];
    // Start, paper type continuous, ESC @ 00, centre; then the bands; then
    // the tear-off line and the end.
    const Bytes head = {0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, 0x01,
                        0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01};
    const Bytes tail = {0x10, 0x50, 0x10, 0xFF, 0xFE, 0x45};
    ASSERT_GT(out.size(), head.size() + tail.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(head.size())), head);
    EXPECT_EQ(Bytes(out.end() - static_cast<long>(tail.size()), out.end()), tail);
    const std::vector<Band> bands = Bands(out, head.size(), out.size() - tail.size());
    std::vector<int> heights;
    Bytes stacked;
    for (const Band& b : bands) {
        heights.push_back(b.rows);
        stacked.insert(stacked.end(), b.data.begin(), b.data.end());
    }
    EXPECT_EQ(heights, std::vector<int>({24, 24, 12}));
    EXPECT_EQ(AsciiPicture(DecodeRaster(stacked, 48, 384)), AsciiPicture(picture));
}

// The job around its pages: OnStartDoc, each page painted, OnEndDoc, as
// the filter's job loop calls them. Page i is a 1-byte-wide image of i + 1
// rows, so every page's bytes are distinct.
template <class P>
void RunJob(P& p, int pages, CRenderJob* job = nullptr, int cancelAfter = -1)
{
    if (job)
        p.SetJob(job);
    p.OnStartDoc(0);
    for (int i = 0; i < pages; ++i) {
        std::vector<std::string> rows;
        for (int y = 0; y <= i; ++y)
            rows.push_back(std::string(static_cast<size_t>(y + 1), 'X') + std::string(7 - y, '.'));
        MakeAsciiImage(p.m_image, rows);
        p.OnPaintBmp();
        if (job && i + 1 == cancelAfter) {
            job->Cancel();
            break;
        }
    }
    p.OnEndDoc();
}

// The printer commands of page i as RunJob makes it (no init or centre).
Bytes Image(int i)
{
    Bytes b = {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, static_cast<unsigned char>(i + 1), 0x00};
    for (int y = 0; y <= i; ++y)
        b.push_back(static_cast<unsigned char>(0xFF00 >> (y + 1)));
    return b;
}
Bytes Page(int i) { return Cat({kInit, kCenter, Image(i)}); }

Bytes Joined(const std::vector<Bytes>& writes)
{
    Bytes all;
    for (const Bytes& w : writes)
        all.insert(all.end(), w.begin(), w.end());
    return all;
}

// Where the feed and the cut go for each cut mode, over one and three
// pages; pages are written one by one, and what the end of the job adds
// is a write of its own.
TEST(ReceiptCutting, FeedAndCutByCutMode)
{
    const struct {
        const char* name;
        int cutMode;
        bool cutFeed;
        int feedMm;
        int pages;
        std::vector<Bytes> writes;
    } kCases[] = {
        {"page, 1", CUT_PAGE, false, 10, 1, {Cat({Page(0), kFeed10mm, kCut})}},
        {"page, 3",
         CUT_PAGE,
         false,
         10,
         3,
         {Cat({Page(0), kFeed10mm, kCut}), Cat({Page(1), kFeed10mm, kCut}),
          Cat({Page(2), kFeed10mm, kCut})}},
        {"page, 3, feed to cutter",
         CUT_PAGE,
         true,
         0,
         3,
         {Cat({Page(0), kFeedCut}), Cat({Page(1), kFeedCut}), Cat({Page(2), kFeedCut})}},
        {"job, 1", CUT_JOB, false, 10, 1, {Page(0), Cat({kFeed10mm, kCut})}},
        {"job, 3", CUT_JOB, false, 10, 3, {Page(0), Page(1), Page(2), Cat({kFeed10mm, kCut})}},
        {"job, 3, no feed", CUT_JOB, false, 0, 3, {Page(0), Page(1), Page(2), kCut}},
        {"job, 3, feed to cutter",
         CUT_JOB,
         true,
         10,
         3,
         {Page(0), Page(1), Page(2), Cat({kFeed10mm, kFeedCut})}},
        {"job, no pages", CUT_JOB, true, 10, 0, {}},
        {"none, 1", CUT_NONE, true, 10, 1, {Cat({Page(0), kFeed10mm})}},
        {"none, 3",
         CUT_NONE,
         false,
         10,
         3,
         {Cat({Page(0), kFeed10mm}), Cat({Page(1), kFeed10mm}), Cat({Page(2), kFeed10mm})}},
        {"none, 3, no feed", CUT_NONE, false, 0, 3, {Page(0), Page(1), Page(2)}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        RecordingESCPOS p;
        p.m_iDpi = 203;
        p.m_reg.iCutMode = c.cutMode;
        p.m_reg.bCutFeed = c.cutFeed;
        p.m_reg.iFeedAfter = c.feedMm;
        RunJob(p, c.pages);
        EXPECT_EQ(p.writes, c.writes);
        EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);
    }
}

// The drawer kick goes once per job: right after the first page's
// initialise, or at the very end, after the cut.
TEST(ReceiptCutting, CashDrawerBeforeTheFirstPageOrAfterTheLast)
{
    const Bytes first1 = Cat({kInit, kDrawer1, kCenter, Image(0)});
    const Bytes first2 = Cat({kInit, kDrawer2, kCenter, Image(0)});
    const struct {
        const char* name;
        int drawer;
        int cutMode;
        std::vector<Bytes> writes;
    } kCases[] = {
        {"1 before, page cut",
         1,
         CUT_PAGE,
         {Cat({first1, kCut}), Cat({Page(1), kCut}), Cat({Page(2), kCut})}},
        {"2 before, job cut", 2, CUT_JOB, {first2, Page(1), Page(2), kCut}},
        {"1 after, page cut",
         1 | CASH_DRAWER_AFTER,
         CUT_PAGE,
         {Cat({Page(0), kCut}), Cat({Page(1), kCut}), Cat({Page(2), kCut}), kDrawer1}},
        {"2 after, job cut",
         2 | CASH_DRAWER_AFTER,
         CUT_JOB,
         {Page(0), Page(1), Page(2), Cat({kCut, kDrawer2})}},
        {"2 after, no cut", 2 | CASH_DRAWER_AFTER, CUT_NONE, {Page(0), Page(1), Page(2), kDrawer2}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        RecordingESCPOS p;
        p.m_iDpi = 203;
        p.m_reg.iCashDrawer = c.drawer;
        p.m_reg.iCutMode = c.cutMode;
        RunJob(p, 3);
        EXPECT_EQ(p.writes, c.writes);
    }

    // A job that prints nothing opens no drawer.
    for (int drawer : {1, 2 | CASH_DRAWER_AFTER}) {
        RecordingESCPOS p;
        p.m_reg.iCashDrawer = drawer;
        RunJob(p, 0);
        EXPECT_TRUE(p.writes.empty());
    }
}

// Cancelled after its second page: the slip still gets its feed and cut,
// but a drawer meant to open after the sale stays shut.
TEST(ReceiptCutting, CancelledJobIsStillFedAndCut)
{
    const struct {
        const char* name;
        int cutMode;
        int drawer;
        Bytes stream;
    } kCases[] = {
        {"job cut", CUT_JOB, CASH_DRAWER_NONE,
         Cat({Page(0), Page(1), kFeed10mm, kFeedCut})},
        {"job cut, drawer after", CUT_JOB, 1 | CASH_DRAWER_AFTER,
         Cat({Page(0), Page(1), kFeed10mm, kFeedCut})},
        {"job cut, drawer before", CUT_JOB, 2,
         Cat({kInit, kDrawer2, kCenter, Image(0), Page(1), kFeed10mm, kFeedCut})},
        {"page cut", CUT_PAGE, 1 | CASH_DRAWER_AFTER,
         Cat({Page(0), kFeed10mm, kFeedCut, Page(1), kFeed10mm, kFeedCut})},
        {"no cut", CUT_NONE, CASH_DRAWER_NONE, Cat({Page(0), kFeed10mm, Page(1), kFeed10mm})},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        CRenderJob job;
        RecordingESCPOS p;
        p.m_iDpi = 203;
        p.m_reg.iCutMode = c.cutMode;
        p.m_reg.bCutFeed = true;
        p.m_reg.iFeedAfter = 10;
        p.m_reg.iCashDrawer = c.drawer;
        RunJob(p, 3, &job, 2);
        EXPECT_EQ(Joined(p.writes), c.stream);
    }
}

// PeriPage has no cutter and no drawer: the receipt keywords leave its
// stream as it is, and the end of the job adds nothing.
TEST(ReceiptCutting, PeriPageIgnoresCuttingAndDrawer)
{
    RecordingPeriPage plain;
    plain.m_iDpi = 203;
    RunJob(plain, 3);

    RecordingPeriPage receipt;
    receipt.m_iDpi = 203;
    receipt.m_reg.iCutMode = CUT_JOB;
    receipt.m_reg.bCutFeed = true;
    receipt.m_reg.iCashDrawer = 1 | CASH_DRAWER_AFTER;
    RunJob(receipt, 3);
    ASSERT_EQ(plain.writes.size(), 3u);
    EXPECT_EQ(receipt.writes, plain.writes);

    RecordingPeriPage before;
    before.m_iDpi = 203;
    before.m_reg.iCashDrawer = 2;
    RunJob(before, 3);
    EXPECT_EQ(before.writes, plain.writes);
}

} // namespace
