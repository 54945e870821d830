#include "PrinterESCPOS.h"

#include <climits>
#include <cstdint>

namespace {

// GS v 0 density mode: 0 normal, 1 double width, 2 double height, 3 both,
// chosen from the horizontal and vertical resolution.
unsigned char RasterMode(int xDpi, int yDpi)
{
    if (xDpi >= 203 && yDpi >= 203)
        return 0;
    if (xDpi >= 203 && yDpi == 100)
        return 1;
    if (xDpi == 100 && yDpi >= 203)
        return 2;
    if (xDpi == 100 && yDpi == 100)
        return 3;
    return 0;
}

// Dots fed for mm millimetres: the product mm x dpi is taken in 32 bits
// (wrapping, never overflowing), then divided by 25.4 and truncated.
int FeedDots(int mm, int dpi)
{
    const uint32_t product = static_cast<uint32_t>(mm) * static_cast<uint32_t>(dpi);
    const int32_t wrapped = static_cast<int32_t>(product);
    return static_cast<int>(static_cast<double>(wrapped) / 25.4);
}

} // namespace

CPrinterESCPOS::CPrinterESCPOS()
{
    // A page's stream is bounded by the page image itself; the buffer's
    // content limit would silently drop the start of a very large page.
    m_buffer.SetMaxBufferSize(0);
}

CPrinterESCPOS::~CPrinterESCPOS() {}

void CPrinterESCPOS::OnInit() {}
void CPrinterESCPOS::OnDestroy() {}

void CPrinterESCPOS::cmdInit()
{
    // ESC @, then one 00 byte.
    static const unsigned char kCmd[] = {0x1B, 0x40, 0x00};
    CMyBuffer cmd;
    cmd.AddBuffer(kCmd, sizeof kCmd);
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterESCPOS::cmdAlignCenter()
{
    // ESC a 1
    static const unsigned char kCmd[] = {0x1B, 0x61, 0x01};
    CMyBuffer cmd;
    cmd.AddBuffer(kCmd, sizeof kCmd);
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterESCPOS::cmdCutPaper()
{
    static const unsigned char kCut[] = {0x1D, 0x56, 0x31};
    static const unsigned char kFeedCut[] = {0x1D, 0x56, 0x42, 0x00};
    CMyBuffer cmd;
    if (m_reg.bCutFeed)
        cmd.AddBuffer(kFeedCut, sizeof kFeedCut);
    else
        cmd.AddBuffer(kCut, sizeof kCut);
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterESCPOS::cmdCashDrawer(int drawer)
{
    // ESC p m t1 t2: m 0 is pin 2 (drawer 1), 1 pin 5 (drawer 2); on and
    // off times in 2 ms units.
    const unsigned char cmd[] = {0x1B, 0x70, static_cast<unsigned char>(drawer == 2 ? 1 : 0),
                                 0x19, 0xFA};
    m_buffer.AddBuffer(cmd, sizeof cmd);
}

int CPrinterESCPOS::BandRows() const
{
    const int rows = m_reg.iBandRows;
    return rows > 0 && rows < kMaxRasterRows ? rows : kMaxRasterRows;
}

CBaseRender::SlipBreak CPrinterESCPOS::Slips() const
{
    return m_reg.iCutMode == CUT_PAGE ? kSlipPerPage : kSlipPerJob;
}

void CPrinterESCPOS::PrintAndFeedPaper(int mm)
{
    // ESC J n feeds n dots, n at most 255: longer feeds are sent as several
    // full steps and the remainder. A count that came out negative (a
    // negative length, or a product that wrapped) feeds nothing; a count of
    // 0 still sends ESC J 0.
    int dots = FeedDots(mm, m_iDpi);
    if (dots < 0)
        dots = 0;
    CMyBuffer cmd;
    cmd.SetBufferSize(3 * (dots / kMaxFeedDots + 1));
    while (dots > kMaxFeedDots) {
        cmd.AddByte(0x1B);
        cmd.AddByte(0x4A);
        cmd.AddByte(kMaxFeedDots);
        dots -= kMaxFeedDots;
    }
    if (dots > 0 || cmd.GetBufferLength() == 0) {
        cmd.AddByte(0x1B);
        cmd.AddByte(0x4A);
        cmd.AddByte(static_cast<unsigned char>(dots));
    }
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterESCPOS::PrintBMP(int xDpi, int yDpi, int widthBytes, int height, const void* data,
                              int len)
{
    if (widthBytes < 0 || widthBytes > kMaxRasterWidthBytes || height < 0 || len < 0 ||
        (len > 0 && data == nullptr)) {
        AddLog("PrintBMP: cannot send a raster of %d x %d bytes (%d bytes of data)", widthBytes,
               height, len);
        return;
    }
    // A taller image is cut into bands of whole rows, so the data must be
    // exactly the rows.
    const int band = BandRows();
    if (height > band &&
        static_cast<long long>(widthBytes) * height != static_cast<long long>(len)) {
        AddLog("PrintBMP: %d bytes of data do not fill %d rows of %d bytes", len, height,
               widthBytes);
        return;
    }

    const unsigned char mode = RasterMode(xDpi, yDpi);
    const unsigned char* src = static_cast<const unsigned char*>(data);
    int rowsLeft = height;
    int bytesLeft = len;
    do {
        const int rows = rowsLeft > band ? band : rowsLeft;
        const int bytes = rowsLeft > band ? rows * widthBytes : bytesLeft;
        // GS v 0 m xL xH yL yH: width in bytes and height in rows, each
        // 16-bit little-endian.
        CMyBuffer cmd;
        cmd.AddByte(0x1D);
        cmd.AddByte(0x76);
        cmd.AddByte(0x30);
        cmd.AddByte(mode);
        cmd.AddByte(static_cast<unsigned char>(widthBytes & 0xFF));
        cmd.AddByte(static_cast<unsigned char>((widthBytes >> 8) & 0xFF));
        cmd.AddByte(static_cast<unsigned char>(rows & 0xFF));
        cmd.AddByte(static_cast<unsigned char>((rows >> 8) & 0xFF));
        m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
        m_buffer.AddBuffer(src, bytes);
        if (src)
            src += bytes;
        rowsLeft -= rows;
        bytesLeft -= bytes;
    } while (rowsLeft > 0);
}

void CPrinterESCPOS::FeedRows(int rows)
{
    // A row of a double-height raster (100 dpi) is two dots high.
    int dots = rows * RowDots();
    while (dots > 0) {
        const int n = dots > kMaxFeedDots ? kMaxFeedDots : dots;
        const unsigned char cmd[] = {0x1B, 0x4A, static_cast<unsigned char>(n)};
        m_buffer.AddBuffer(cmd, sizeof cmd);
        dots -= n;
    }
}

int CPrinterESCPOS::RowDots() const
{
    return (RasterMode(m_iDpi, m_iDpi) & 2) ? 2 : 1;
}

void CPrinterESCPOS::PrintInk(int widthBytes, int height, const unsigned char* rows)
{
    // Bands start and end on ink; the paper is fed over the blank rows
    // around them, so that it moves as far as the whole raster would move
    // it and a cut or the next page lands where it always did.
    const int feedRows = kMaxFeedDots / RowDots();
    int row = 0;
    for (const tagInkBand& b :
         FindInkBands(m_image, widthBytes, 0x00, kRasterHeaderBytes, kFeedBytes, feedRows)) {
        FeedRows(b.iRow - row);
        const size_t at = static_cast<size_t>(b.iRow) * static_cast<size_t>(widthBytes);
        PrintBMP(m_iDpi, m_iDpi, widthBytes, b.iRows, rows + at, b.iRows * widthBytes);
        row = b.iRow + b.iRows;
    }
    FeedRows(height - row);
}

void CPrinterESCPOS::WritePage(int kickAt)
{
    const unsigned char* p = m_buffer.GetBuffer();
    const int len = m_buffer.GetBufferLength();
    WriteSpool(p, len);
    if (Copies() < 2)
        return;
    // The further copies leave out the drawer kick: the drawer opens once.
    const int head = kickAt >= 0 ? kickAt : len;
    const int tail = kickAt >= 0 ? head + kCashDrawerBytes : len;
    // Copies go as whole sets when collated, and always when the job is one
    // slip cut once.
    if (Collate() || m_reg.iCutMode == CUT_JOB) {
        KeepForCopies(p, head);
        KeepForCopies(p + tail, len - tail);
        return;
    }
    for (int i = 1; i < Copies() && !IsJobCanceled(); ++i) {
        WriteSpool(p, head);
        if (tail < len)
            WriteSpool(p + tail, len - tail);
    }
}

void CPrinterESCPOS::cmdEndPrint() {}

bool CPrinterESCPOS::PackRaster(CMyBuffer& raster, int& widthBytes, int& height)
{
    const unsigned w = m_image.IsValid() ? m_image.GetWidth() : 0;
    const unsigned h = m_image.IsValid() ? m_image.GetHeight() : 0;
    // Whole bytes per row; the bits beyond the width in the last byte are
    // the row's padding bits, which carry no ink after Negative.
    const unsigned long long b = (static_cast<unsigned long long>(w) + 7) / 8;
    if (b > static_cast<unsigned long long>(kMaxRasterWidthBytes)) {
        AddLog("OnPaintBmp: rows of %llu bytes are wider than a raster image can be, page not sent",
               b);
        RefusePage("its rows of %llu bytes exceed the raster command's 16-bit width of %d bytes", b,
                   kMaxRasterWidthBytes);
        return false;
    }
    const unsigned long long total = b * h;
    if (total > static_cast<unsigned long long>(INT_MAX) ||
        !raster.SetBufferSize(static_cast<int>(total))) {
        AddLog("OnPaintBmp: no memory for %llu raster bytes, page not sent", total);
        RefusePage("no memory for its %llu bytes of raster", total);
        return false;
    }
    for (unsigned r = 0; r < h; ++r)
        raster.AddBuffer(m_image.GetBits(r), static_cast<int>(b));
    widthBytes = static_cast<int>(b);
    height = static_cast<int>(h);
    return true;
}

bool CPrinterESCPOS::PackRaster(CPackedRaster& raster, int& widthBytes, int& height)
{
    const unsigned w = m_image.IsValid() ? m_image.GetWidth() : 0;
    const unsigned h = m_image.IsValid() ? m_image.GetHeight() : 0;
    const unsigned long long total = static_cast<unsigned long long>(m_image.GetEffWidth()) * h;
    if (h > 0 && (w + 7ull) / 8 == m_image.GetEffWidth() &&
        m_image.GetEffWidth() <= static_cast<unsigned>(kMaxRasterWidthBytes) &&
        total <= static_cast<unsigned long long>(INT_MAX)) {
        raster.m_data = m_image.GetBits(0);
        raster.m_length = static_cast<int>(total);
        widthBytes = static_cast<int>(m_image.GetEffWidth());
        height = static_cast<int>(h);
        return true;
    }
    if (!PackRaster(raster.m_copy, widthBytes, height))
        return false;
    raster.m_data = raster.m_copy.GetBuffer();
    raster.m_length = raster.m_copy.GetBufferLength();
    return true;
}

bool CPrinterESCPOS::ReservePage(int dataLen, int height)
{
    // The raster bytes, one 8-byte header per band, and room for the short
    // commands around them.
    const long long band = BandRows();
    const long long bands = height > 0 ? (static_cast<long long>(height) + band - 1) / band : 1;
    const long long need = static_cast<long long>(dataLen) + kRasterHeaderBytes * bands +
                           kCommandRoom;
    if (!m_buffer.Reserve(need)) {
        AddLog("OnPaintBmp: no memory for a page of %lld bytes, page not sent", need);
        RefusePage("no memory for its %lld bytes of printer commands", need);
        return false;
    }
    return true;
}

void CPrinterESCPOS::OnPaintBmp()
{
    // The prepared image has 1 = white; GS v 0 prints a set bit.
    Negative();
    m_buffer.InitBuffer(0);

    CPackedRaster raster;
    int widthBytes = 0;
    int height = 0;
    if (!PackRaster(raster, widthBytes, height) ||
        !ReservePage(raster.GetBufferLength(), height))
        return;

    const int drawer = m_reg.iCashDrawer;
    cmdInit();
    int kickAt = -1;
    if (m_pagesSent == 0 && drawer != CASH_DRAWER_NONE && !(drawer & CASH_DRAWER_AFTER)) {
        kickAt = m_buffer.GetBufferLength();
        cmdCashDrawer(drawer & 0x0F);
    }
    cmdAlignCenter();
    if (m_reg.bInkOnly)
        PrintInk(widthBytes, height, raster.GetBuffer());
    else
        PrintBMP(m_iDpi, m_iDpi, widthBytes, height, raster.GetBuffer(),
                 raster.GetBufferLength());
    // Cut once per job: the next page follows on the same slip, with no
    // feed in between; the feed and cut come in OnEndDoc.
    if (m_reg.iCutMode != CUT_JOB) {
        if (m_reg.iFeedAfter > 0)
            PrintAndFeedPaper(m_reg.iFeedAfter);
        if (m_reg.iCutMode != CUT_NONE)
            cmdCutPaper();
    }
    cmdEndPrint();

    WritePage(kickAt);
    m_buffer.InitBuffer(0);
    ++m_pagesSent;
}

void CPrinterESCPOS::OnEndDoc()
{
    if (m_pagesSent > 0) {
        m_buffer.InitBuffer(0);
        if (m_reg.iCutMode == CUT_JOB) {
            if (m_reg.iFeedAfter > 0)
                PrintAndFeedPaper(m_reg.iFeedAfter);
            cmdCutPaper();
        }
        // Copies as whole sets: each with the job's end (its feed and cut).
        if (HasKeptCopies()) {
            if (m_buffer.GetBufferLength() > 0)
                WriteSpool(m_buffer.GetBuffer(), m_buffer.GetBufferLength());
            WriteKeptCopies(m_buffer.GetBuffer(), m_buffer.GetBufferLength());
            m_buffer.InitBuffer(0);
        }
        // A cancelled sale opens no drawer.
        const int drawer = m_reg.iCashDrawer;
        const bool canceled = m_job && m_job->IsCanceled();
        if ((drawer & CASH_DRAWER_AFTER) && !canceled)
            cmdCashDrawer(drawer & 0x0F);
        if (m_buffer.GetBufferLength() > 0)
            WriteSpool(m_buffer.GetBuffer(), m_buffer.GetBufferLength());
        m_buffer.InitBuffer(0);
    }
    CBaseRender::OnEndDoc();
}
