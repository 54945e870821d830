#include "PrinterTSPL.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <vector>

#include <zlib.h>

#include "RowDeflate.h"

namespace {

const char kCrLf[] = "\r\n";

// Appends v in the form of "%.2lf" with a '.' decimal point. to_chars
// ignores the process locale, so a comma-decimal locale cannot change the
// command text.
void AddReal(CMyBuffer& buf, double v)
{
    // Large enough for the longest fixed-point double (309 digits, sign,
    // point and two decimals).
    char text[400];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 2);
    if (r.ec == std::errc())
        buf.AddBuffer(text, static_cast<int>(r.ptr - text));
}

// Unit suffix of the length-carrying commands: 1 millimetres, 2 dots,
// anything else no suffix.
void AddUnit(CMyBuffer& buf, int unit)
{
    if (unit == CPrinterTSPL::UNIT_MM)
        buf.AddStringA(" mm");
    else if (unit == CPrinterTSPL::UNIT_DOT)
        buf.AddStringA(" dot");
}

// Reference point in dots: v x dpi as a 32-bit product, then / 25.4
// truncated. The product wraps for huge values instead of overflowing.
int ReferenceDots(int v, int dpi)
{
    const uint32_t product = static_cast<uint32_t>(v) * static_cast<uint32_t>(dpi);
    return static_cast<int>(static_cast<int32_t>(product) / 25.4);
}

} // namespace

CPrinterTSPL::CPrinterTSPL() {}

// Ends a command line with CR LF and appends it to the page's commands.
void CPrinterTSPL::AddLine(CMyBuffer& cmd)
{
    cmd.AddStringA(kCrLf);
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

CPrinterTSPL::~CPrinterTSPL() {}

void CPrinterTSPL::cmdSIZE(double w, double h, int unit)
{
    CMyBuffer cmd;
    cmd.AddStringA("SIZE ");
    AddReal(cmd, w);
    AddUnit(cmd, unit);
    cmd.AddStringA(",");
    AddReal(cmd, h);
    AddUnit(cmd, unit);
    AddLine(cmd);
}

void CPrinterTSPL::cmdSetRibbon(bool on)
{
    CMyBuffer cmd;
    cmd.AddStringA(on ? "SET RIBBON ON" : "SET RIBBON OFF");
    AddLine(cmd);
}

void CPrinterTSPL::cmdSetPeel(bool on)
{
    CMyBuffer cmd;
    cmd.AddStringA(on ? "SET PEEL ON" : "SET PEEL OFF");
    AddLine(cmd);
}

void CPrinterTSPL::cmdREFERENCE(int x, int y)
{
    CMyBuffer cmd;
    cmd.AddStringA("REFERENCE ");
    cmd.AddInt(ReferenceDots(x, m_iDpi));
    cmd.AddStringA(",");
    cmd.AddInt(ReferenceDots(y, m_iDpi));
    AddLine(cmd);
}

void CPrinterTSPL::cmdREFERENCEDots(int x, int y)
{
    CMyBuffer cmd;
    cmd.AddStringA("REFERENCE ");
    cmd.AddInt(x);
    cmd.AddStringA(",");
    cmd.AddInt(y);
    AddLine(cmd);
}

void CPrinterTSPL::cmdSHIFT(int y)
{
    CMyBuffer cmd;
    cmd.AddStringA("SHIFT ");
    cmd.AddInt(y);
    AddLine(cmd);
}

void CPrinterTSPL::cmdGAP(int m, int n, int unit)
{
    CMyBuffer cmd;
    cmd.AddStringA("GAP ");
    cmd.AddInt(m);
    AddUnit(cmd, unit);
    cmd.AddStringA(",");
    cmd.AddInt(n);
    AddUnit(cmd, unit);
    AddLine(cmd);
}

void CPrinterTSPL::cmdBLINE(int m, int n, int unit)
{
    CMyBuffer cmd;
    cmd.AddStringA("BLINE ");
    cmd.AddInt(m);
    AddUnit(cmd, unit);
    cmd.AddStringA(",");
    cmd.AddInt(n);
    AddUnit(cmd, unit);
    AddLine(cmd);
}

void CPrinterTSPL::cmdOFFSET(int n, int unit)
{
    CMyBuffer cmd;
    cmd.AddStringA("OFFSET ");
    cmd.AddInt(n);
    AddUnit(cmd, unit);
    AddLine(cmd);
}

void CPrinterTSPL::cmdDENSITY(int n)
{
    // Negative: leave the printer's own darkness.
    if (n < 0)
        return;
    CMyBuffer cmd;
    cmd.AddStringA("DENSITY ");
    cmd.AddInt(n);
    AddLine(cmd);
}

void CPrinterTSPL::cmdSPEED(int n)
{
    // Negative: leave the printer's own speed. 0 and speeds above 12 are
    // out of range and replaced by 4.
    if (n < 0)
        return;
    if (n == 0 || n > 12)
        n = 4;
    CMyBuffer cmd;
    cmd.AddStringA("SPEED ");
    cmd.AddInt(n);
    AddLine(cmd);
}

void CPrinterTSPL::setcAutoDotted(bool on)
{
    CMyBuffer cmd;
    cmd.AddStringA(on ? "SETC AUTODOTTED ON" : "SETC AUTODOTTED OFF");
    AddLine(cmd);
}

void CPrinterTSPL::setcPauseKey(bool on)
{
    CMyBuffer cmd;
    cmd.AddStringA(on ? "SETC PAUSEKEY ON" : "SETC PAUSEKEY OFF");
    AddLine(cmd);
}

void CPrinterTSPL::setcWaterMark(bool on)
{
    CMyBuffer cmd;
    cmd.AddStringA(on ? "SETC WATERMARK ON" : "SETC WATERMARK OFF");
    AddLine(cmd);
}

void CPrinterTSPL::cmdCLS()
{
    CMyBuffer cmd;
    cmd.AddStringA("CLS");
    AddLine(cmd);
}

unsigned char* CPrinterTSPL::CompressBitmap(const void* data, int len, int* outLen)
{
    if (len < 0)
        return nullptr;
    static const unsigned char kNoBytes = 0;
    const Bytef* source = data ? static_cast<const Bytef*>(data) : &kNoBytes;
    const uLong sourceLen = data ? static_cast<uLong>(len) : 0;

    if (m_regHalftone.bFastCompress)
        return CompressFast(source, sourceLen, outLen);

    const uLong bound = compressBound(sourceLen);
    unsigned char* block = static_cast<unsigned char*>(std::malloc(bound));
    if (!block) {
        AddLog("BITMAP: cannot allocate %lu bytes to compress the image", bound);
        return nullptr;
    }
    uLongf packedLen = bound;
    const int rc = compress(block, &packedLen, source, sourceLen);
    if (rc != Z_OK || packedLen > static_cast<uLongf>(INT_MAX)) {
        AddLog("BITMAP: compress failed (%d)", rc);
        std::free(block);
        return nullptr;
    }
    *outLen = static_cast<int>(packedLen);
    return block;
}

unsigned char* CPrinterTSPL::CompressFast(const unsigned char* data, unsigned long len,
                                          int* outLen)
{
    const size_t bound = RowDeflateBound(len);
    unsigned char* block = static_cast<unsigned char*>(std::malloc(bound));
    if (!block) {
        AddLog("BITMAP: cannot allocate %zu bytes to compress the image", bound);
        return nullptr;
    }
    const size_t packed = RowDeflate(data, len, m_iBitmapRowBytes, block);
    if (packed > static_cast<size_t>(INT_MAX)) {
        std::free(block);
        return nullptr;
    }
    *outLen = static_cast<int>(packed);
    return block;
}

bool CPrinterTSPL::BitmapFits(const CMyBuffer& text, long long payload)
{
    // The command text, the payload and its CR LF. The buffer empties
    // itself when an append has to grow it past its limit.
    const long long more = text.GetBufferLength() + payload + 2;
    if (!m_buffer.CanAppend(more)) {
        const long long needed = static_cast<long long>(m_buffer.GetBufferLength()) + more;
        const int maxSize = m_buffer.GetMaxBufferSize();
        AddLog("BITMAP: %lld bytes of commands exceed the output limit of %d", needed, maxSize);
        return false;
    }
    return true;
}

// "BITMAP x,y,widthBytes,height," without the mode.
void CPrinterTSPL::BitmapText(CMyBuffer& cmd, int x, int y, int widthBytes, int height)
{
    cmd.AddStringA("BITMAP ");
    cmd.AddInt(x);
    cmd.AddStringA(",");
    cmd.AddInt(y);
    cmd.AddStringA(",");
    cmd.AddInt(widthBytes);
    cmd.AddStringA(",");
    cmd.AddInt(height);
    cmd.AddStringA(",");
}

bool CPrinterTSPL::AddBitmap(CMyBuffer& cmd, const void* payload, int len)
{
    if (!BitmapFits(cmd, len))
        return false;
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
    m_buffer.AddBuffer(payload, len);
    m_buffer.AddStringA(kCrLf);
    return true;
}

bool CPrinterTSPL::AddCompressed(CMyBuffer& cmd, const void* inkHigh, int len, bool& sent)
{
    int packedLen = 0;
    unsigned char* packed = CompressBitmap(inkHigh, len, &packedLen);
    if (!packed)
        return false;
    cmd.AddStringA("3,");
    cmd.AddInt(packedLen);
    cmd.AddStringA(",");
    sent = AddBitmap(cmd, packed, packedLen);
    std::free(packed);
    return true;
}

bool CPrinterTSPL::cmdBITMAP(int x, int y, int widthBytes, int height, const void* data, int len)
{
    CMyBuffer cmd;
    BitmapText(cmd, x, y, widthBytes, height);

    if (m_regHalftone.ImageCompress) {
        // Mode 3 wants a set bit to print: complement the page image in
        // place (data points into it) and send a zlib stream of it. The page
        // image stays complemented.
        Negative();
        m_iBitmapRowBytes = static_cast<size_t>(widthBytes > 0 ? widthBytes : 0);
        bool sent = false;
        if (AddCompressed(cmd, data, len, sent))
            return sent;
        // The length field must match the bytes that follow, so without a
        // compressed block the page goes out in mode 1: restore the image
        // as prepared (a clear bit prints) and send it as it is.
        AddLog("BITMAP: compression failed, bitmap sent uncompressed");
        Negative();
    }
    cmd.AddStringA("1,");
    return AddBitmap(cmd, data, len);
}

bool CPrinterTSPL::cmdBITMAP(const tagInkRect& area)
{
    // The rows of the area, copied out of the page image (a clear bit
    // prints).
    const long long bytes = static_cast<long long>(area.iBytes) * area.iRows;
    CMyBuffer rows;
    // The page image bounds the area; the buffer's content limit must not
    // empty it half-way.
    rows.SetMaxBufferSize(0);
    if (bytes > INT_MAX || !rows.SetBufferSize(static_cast<int>(bytes))) {
        AddLog("BITMAP: no memory for %lld bytes of bitmap", bytes);
        return false;
    }
    for (int r = 0; r < area.iRows; ++r)
        rows.AddBuffer(m_image.GetBits(static_cast<unsigned>(area.iRow + r)) + area.iByte,
                       area.iBytes);
    const int len = rows.GetBufferLength();

    CMyBuffer cmd;
    BitmapText(cmd, area.iByte * 8, area.iRow, area.iBytes, area.iRows);
    if (m_regHalftone.ImageCompress) {
        unsigned char* p = rows.GetBuffer();
        for (int i = 0; i < len; ++i)
            p[i] = static_cast<unsigned char>(~p[i]);
        m_iBitmapRowBytes = static_cast<size_t>(area.iBytes);
        bool sent = false;
        if (AddCompressed(cmd, p, len, sent))
            return sent;
        AddLog("BITMAP: compression failed, bitmap sent uncompressed");
        for (int i = 0; i < len; ++i)
            p[i] = static_cast<unsigned char>(~p[i]);
    }
    cmd.AddStringA("1,");
    return AddBitmap(cmd, rows.GetBuffer(), len);
}

bool CPrinterTSPL::SendInk()
{
    // The label is cleared by CLS: only the areas with ink are sent. A
    // compressed bitmap's blank rows cost next to nothing, so with
    // compression the ink's bounding box goes as one bitmap.
    const int stride = static_cast<int>(m_image.GetEffWidth());
    std::vector<tagInkRect> areas = FindInkRects(m_image, stride, 0xFF, kBitmapCommandBytes);
    if (m_regHalftone.ImageCompress && areas.size() > 1) {
        int left = stride, top = INT_MAX, right = 0, bottom = 0;
        for (const tagInkRect& a : areas) {
            left = std::min(left, a.iByte);
            right = std::max(right, a.iByte + a.iBytes);
            top = std::min(top, a.iRow);
            bottom = std::max(bottom, a.iRow + a.iRows);
        }
        areas.assign(1, tagInkRect{left, top, right - left, bottom - top});
    }
    for (const tagInkRect& a : areas)
        if (!cmdBITMAP(a))
            return false;
    return true;
}

void CPrinterTSPL::cmdPRINT(int m, int n)
{
    CMyBuffer cmd;
    cmd.AddStringA("PRINT ");
    cmd.AddInt(m);
    cmd.AddStringA(",");
    cmd.AddInt(n);
    AddLine(cmd);
}

void CPrinterTSPL::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    m_buffer.InitBuffer(0);

    const unsigned width = m_image.GetWidth();
    const unsigned height = m_image.GetHeight();
    const unsigned stride = m_image.GetEffWidth();

    // Both sizes use the horizontal resolution, the height included.
    cmdSIZE(width / (m_iDpi / 25.4), height / (m_iDpi / 25.4), UNIT_MM);

    if (m_reg.iPrinttype == 0)
        cmdSetRibbon(false);
    else if (m_reg.iPrinttype == 1)
        cmdSetRibbon(true);

    if (m_reg.iPeelMode == 1)
        cmdSetPeel(false);
    else if (m_reg.iPeelMode == 3)
        cmdSetPeel(true);

    if (m_reg.bFineOffset[0] || m_reg.bFineOffset[1]) {
        // The 8 mm steps and the fine offset in dots. REFERENCE gets what
        // is not negative (printers differ on negative coordinates, many
        // take none); the image itself moves by the rest. The fine vertical
        // offset is SHIFT's, which moves the start of the label against
        // its gap or mark both ways; its one-value form is the one every
        // TSPL printer takes (SHIFT x,y is newer firmware's).
        const int x = ReferenceDots(m_reg.iReference[0], m_iDpi) +
                      FineOffsetDots(m_reg.iFineOffset[0]);
        const int y = ReferenceDots(m_reg.iReference[1], m_iDpi);
        ShiftImage(x < 0 ? x : 0, y < 0 ? y : 0);
        cmdREFERENCEDots(x > 0 ? x : 0, y > 0 ? y : 0);
        if (m_reg.bFineOffset[1])
            cmdSHIFT(FineOffsetDots(m_reg.iFineOffset[1]));
    } else {
        cmdREFERENCE(m_reg.iReference[0], m_reg.iReference[1]);
    }

    // Media: continuous paper is declared as a zero gap; perforated, roll
    // and recording paper get no media line. The gap and the mark are as
    // high as given, else 3 mm and 0 as they always were.
    switch (m_reg.iGap[0]) {
    case MEDIA_CONTINUOUS:
        cmdGAP(0, 0, UNIT_MM);
        break;
    case MEDIA_GAP:
        cmdGAP(m_reg.iGapHeight >= 0 ? m_reg.iGapHeight : m_reg.iGap[1], m_reg.iGap[2], UNIT_MM);
        break;
    case MEDIA_BLACK_LINE:
        cmdBLINE(m_reg.iMarkHeight >= 0 ? m_reg.iMarkHeight : m_reg.iGap[1], m_reg.iGap[2],
                 UNIT_MM);
        break;
    default:
        break;
    }

    cmdOFFSET(m_reg.iOffset, UNIT_MM);
    cmdDENSITY(m_reg.iDensity);
    cmdSPEED(m_reg.iSpeed);
    if (m_reg.bSetcCommands) {
        setcAutoDotted(m_reg.iDottedline);
        setcPauseKey(m_reg.bPauseKey);
        setcWaterMark(m_reg.bWaterMark);
    }
    cmdCLS();

    // The whole page as one bitmap at 0,0, full stride with its padding.
    // The image core caps pixel storage at 256 MiB, so the size fits an int.
    // Past the output buffer's limit the buffer would drop the commands
    // collected so far, and the printer would get the bitmap bytes without
    // the BITMAP line: such a page is not sent at all.
    const unsigned bytes = stride * height;
    bool whole = m_reg.bInkOnly ? SendInk()
                                : cmdBITMAP(0, 0, static_cast<int>(stride), static_cast<int>(height),
                                            m_image.GetBits(0), static_cast<int>(bytes));
    // Copies: PRINT 1,n prints the label n times. Collated copies of a job
    // of several pages repeat the pages instead; which it is is known at the
    // next page or the end of the job, so the PRINT line waits till then.
    const bool collated = Copies() > 1 && Collate();
    const int printAt = m_buffer.GetBufferLength();
    if (whole) {
        // An append past the limit leaves only itself in the buffer.
        const int before = m_buffer.GetBufferLength();
        cmdPRINT(1, collated ? 1 : Copies());
        whole = m_buffer.GetBufferLength() > before;
    }
    if (!whole) {
        AddLog("OnPaintBmp: page not sent, its commands exceed the output limit of %d",
               m_buffer.GetMaxBufferSize());
        RefusePage("its commands exceed the output limit of %d bytes", m_buffer.GetMaxBufferSize());
        m_buffer.InitBuffer(0);
        return;
    }

    if (collated) {
        ReleaseHeldPrint(1);
        WriteSpool(m_buffer.GetBuffer(), printAt);
        KeepForCopies(m_buffer.GetBuffer(), m_buffer.GetBufferLength());
        m_bPrintHeld = true;
        ++m_iPagesKept;
    } else {
        WriteSpool(m_buffer.GetBuffer(), m_buffer.GetBufferLength());
    }
    m_buffer.InitBuffer(0);
}

void CPrinterTSPL::ReleaseHeldPrint(int copies)
{
    if (!m_bPrintHeld)
        return;
    m_bPrintHeld = false;
    CMyBuffer line;
    line.AddStringA("PRINT 1,");
    line.AddInt(copies);
    line.AddStringA(kCrLf);
    WriteSpool(line.GetBuffer(), line.GetBufferLength());
}

void CPrinterTSPL::OnEndDoc()
{
    if (m_bPrintHeld) {
        if (m_iPagesKept == 1 && !IsJobCanceled()) {
            // A job of one label prints all its copies from the one bitmap.
            ReleaseHeldPrint(Copies());
            DropKeptCopies();
        } else {
            ReleaseHeldPrint(1);
            WriteKeptCopies();
        }
    }
    m_iPagesKept = 0;
    CBaseRender::OnEndDoc();
}
