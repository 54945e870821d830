#include "PrinterCPCL.h"

#include <climits>
#include <cstdint>

namespace {

const char kCrLf[] = "\r\n";

// Truncates toward zero. A value outside int (or not a number, as a zero
// resolution gives) yields INT_MIN, the x86 conversion's out-of-range
// result, instead of undefined behaviour.
int TruncToInt(double v)
{
    if (!(v > -2147483649.0 && v < 2147483648.0))
        return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

CPrinterCPCL::CPrinterCPCL()
{
    // A held label is a whole page; the image core bounds it.
    m_held.SetMaxBufferSize(0);
}

CPrinterCPCL::~CPrinterCPCL() {}

int CPrinterCPCL::HeaderOffset() const
{
    // The stored reference (already eight times the PPD value) times 8
    // again, as a wrapping 32-bit product: 64 dots a step.
    const uint32_t offset = static_cast<uint32_t>(m_reg.iReference[0]) * 8u;
    int dots = static_cast<int>(static_cast<int32_t>(offset));
    if (m_reg.bFineOffset[0] || m_reg.bFineOffset[1]) {
        dots += FineOffsetDots(m_reg.iFineOffset[0]);
        if (dots < 0)
            dots = 0;
    }
    return dots;
}

void CPrinterCPCL::cmdBegin()
{
    // The resolution fields are always "200 200", whatever the page
    // resolution. The quantity is the number of copies the printer makes of
    // the label.
    CMyBuffer cmd;
    cmd.AddStringA("! ");
    cmd.AddInt(HeaderOffset());
    cmd.AddStringA(" 200 200 ");
    cmd.AddInt(static_cast<int>(m_image.GetHeight()));
    cmd.AddStringA(" ");
    cmd.AddInt(m_iQuantity);
    cmd.AddStringA(kCrLf);
    Out(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterCPCL::cmdPageWidth()
{
    // Page width in whole millimetres, truncated.
    CMyBuffer cmd;
    cmd.AddStringA("PAGE - WIDTH ");
    cmd.AddInt(TruncToInt(m_image.GetWidth() / (m_iDpi / 25.4)));
    cmd.AddStringA(kCrLf);
    Out(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterCPCL::cmdCG()
{
    // Header text without a line end, then the full-stride rows (padding
    // included) directly behind it. The image core caps pixel storage at
    // 256 MiB, so the sizes fit an int.
    const unsigned stride = m_image.GetEffWidth();
    const unsigned height = m_image.GetHeight();
    CMyBuffer cmd;
    cmd.AddStringA("CG ");
    cmd.AddInt(static_cast<int>(stride));
    cmd.AddStringA(" ");
    cmd.AddInt(static_cast<int>(height));
    cmd.AddStringA(" 0 0");
    Out(cmd.GetBuffer(), cmd.GetBufferLength());
    Out(m_image.GetBits(0), static_cast<int>(stride * height));
}

void CPrinterCPCL::cmdFORM()
{
    // Only gap and black-line media are fed to the next form.
    if (m_reg.iGap[0] != MEDIA_GAP && m_reg.iGap[0] != MEDIA_BLACK_LINE)
        return;
    CMyBuffer cmd;
    cmd.AddStringA("FORM");
    cmd.AddStringA(kCrLf);
    Out(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterCPCL::cmdPrint()
{
    CMyBuffer cmd;
    cmd.AddStringA("PRINT");
    cmd.AddStringA(kCrLf);
    Out(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterCPCL::cmdCG(const tagInkRect& area)
{
    // The standard form: a space between the last number and the data, and
    // a line end after the data, so that a data byte that is a digit
    // cannot be read as part of the y field. The page image bounds the
    // area; the buffer's content limit must not empty it half-way.
    CMyBuffer cmd;
    cmd.SetMaxBufferSize(0);
    cmd.AddStringA("CG ");
    cmd.AddInt(area.iBytes);
    cmd.AddStringA(" ");
    cmd.AddInt(area.iRows);
    cmd.AddStringA(" ");
    cmd.AddInt(area.iByte * 8);
    cmd.AddStringA(" ");
    cmd.AddInt(area.iRow);
    cmd.AddStringA(" ");
    for (int r = 0; r < area.iRows; ++r)
        cmd.AddBuffer(m_image.GetBits(static_cast<unsigned>(area.iRow + r)) + area.iByte,
                      area.iBytes);
    cmd.AddStringA(kCrLf);
    Out(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterCPCL::Out(const void* data, int length)
{
    if (m_pCollect)
        m_pCollect->AddBuffer(data, length);
    else
        WriteSpool(data, length);
}

void CPrinterCPCL::PaintLabel()
{
    cmdBegin();
    cmdPageWidth();
    if (m_reg.bInkOnly) {
        // The label starts blank: only the areas with ink are sent.
        const int stride = static_cast<int>(m_image.GetEffWidth());
        for (const tagInkRect& a : FindInkRects(m_image, stride, 0x00, kCgCommandBytes))
            cmdCG(a);
    } else {
        cmdCG();
    }
    cmdFORM();
    cmdPrint();
}

void CPrinterCPCL::OnPaintBmp()
{
    if (m_reg.bFineOffset[0] || m_reg.bFineOffset[1]) {
        // The label header offsets the label to the right only, and has no
        // vertical offset: the image itself moves by the rest.
        const uint32_t steps = static_cast<uint32_t>(m_reg.iReference[0]) * 8u;
        const int x = static_cast<int>(static_cast<int32_t>(steps)) +
                      FineOffsetDots(m_reg.iFineOffset[0]);
        ShiftImage(x < 0 ? x : 0, FineOffsetDots(m_reg.iFineOffset[1]));
    }
    // CG prints a set bit; the prepared image has set bits for paper and
    // white padding, which become 0 here.
    Negative();
    if (Copies() < 2 || !Collate()) {
        m_iQuantity = Copies();
        PaintLabel();
        return;
    }

    // Collated copies: a job of one label is printed with the quantity of
    // its header, a longer one by repeating its labels. Which it is is
    // known at the next label or the end of the job, so each label waits
    // for the next one.
    WriteHeldLabel();
    m_iQuantity = 1;
    m_pCollect = &m_held;
    PaintLabel();
    m_pCollect = nullptr;
    KeepForCopies(m_held.GetBuffer(), m_held.GetBufferLength());
    ++m_iLabelsKept;
}

void CPrinterCPCL::WriteHeldLabel()
{
    if (m_held.GetBufferLength() > 0)
        WriteSpool(m_held.GetBuffer(), m_held.GetBufferLength());
    m_held.InitBuffer(0);
}

void CPrinterCPCL::OnEndDoc()
{
    if (m_iLabelsKept == 1 && !IsJobCanceled() && m_held.GetBufferLength() > 0) {
        // The header line ends in " 1" CR LF: the one label goes with the
        // quantity of all copies instead.
        const unsigned char* p = m_held.GetBuffer();
        const int len = m_held.GetBufferLength();
        int eol = 0;
        while (eol + 1 < len && !(p[eol] == '\r' && p[eol + 1] == '\n'))
            ++eol;
        CMyBuffer header;
        header.AddBuffer(p, eol - 1);
        header.AddInt(Copies());
        WriteSpool(header.GetBuffer(), header.GetBufferLength());
        WriteSpool(p + eol, len - eol);
        m_held.InitBuffer(0);
        DropKeptCopies();
    } else {
        WriteHeldLabel();
        WriteKeptCopies();
    }
    m_iLabelsKept = 0;
    CBaseRender::OnEndDoc();
}
