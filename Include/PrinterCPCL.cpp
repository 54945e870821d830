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

CPrinterCPCL::CPrinterCPCL() {}

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
    // resolution; quantity 1.
    CMyBuffer cmd;
    cmd.AddStringA("! ");
    cmd.AddInt(HeaderOffset());
    cmd.AddStringA(" 200 200 ");
    cmd.AddInt(static_cast<int>(m_image.GetHeight()));
    cmd.AddStringA(" 1");
    cmd.AddStringA(kCrLf);
    WriteSpool(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterCPCL::cmdPageWidth()
{
    // Page width in whole millimetres, truncated.
    CMyBuffer cmd;
    cmd.AddStringA("PAGE - WIDTH ");
    cmd.AddInt(TruncToInt(m_image.GetWidth() / (m_iDpi / 25.4)));
    cmd.AddStringA(kCrLf);
    WriteSpool(cmd.GetBuffer(), cmd.GetBufferLength());
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
    WriteSpool(cmd.GetBuffer(), cmd.GetBufferLength());
    WriteSpool(m_image.GetBits(0), static_cast<int>(stride * height));
}

void CPrinterCPCL::cmdFORM()
{
    // Only gap and black-line media are fed to the next form.
    if (m_reg.iGap[0] != MEDIA_GAP && m_reg.iGap[0] != MEDIA_BLACK_LINE)
        return;
    CMyBuffer cmd;
    cmd.AddStringA("FORM");
    cmd.AddStringA(kCrLf);
    WriteSpool(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterCPCL::cmdPrint()
{
    CMyBuffer cmd;
    cmd.AddStringA("PRINT");
    cmd.AddStringA(kCrLf);
    WriteSpool(cmd.GetBuffer(), cmd.GetBufferLength());
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
    cmdBegin();
    cmdPageWidth();
    cmdCG();
    cmdFORM();
    cmdPrint();
}
