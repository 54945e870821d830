#include "PrinterPeriPage.h"

namespace {

// Media tracking modes of iGap[0].
enum {
    kMediaContinuous = 0,
    kMediaGap = 1,
    kMediaBlackLine = 2,
    kMediaPerforated = 3,
    kMediaRoll = 4,
    kMediaRecording = 5,
};

} // namespace

CPrinterPeriPage::CPrinterPeriPage() {}
CPrinterPeriPage::~CPrinterPeriPage() {}

void CPrinterPeriPage::OnInit() {}
void CPrinterPeriPage::OnEndDoc()
{
    WriteKeptCopies();
    CBaseRender::OnEndDoc();
}
void CPrinterPeriPage::OnDestroy() {}

void CPrinterPeriPage::cmdInit()
{
    CMyBuffer cmd;
    static const unsigned char kStart[] = {0x10, 0xFF, 0xFE, 0x01};
    cmd.AddBuffer(kStart, sizeof kStart);

    // Paper type: 00 black line, 01 continuous (also roll and recording
    // paper), 02 gap, 03 perforated. Other modes leave the printer's own.
    int paper = -1;
    switch (m_reg.iGap[0]) {
    case kMediaBlackLine:
        paper = 0x00;
        break;
    case kMediaContinuous:
    case kMediaRoll:
    case kMediaRecording:
        paper = 0x01;
        break;
    case kMediaGap:
        paper = 0x02;
        break;
    case kMediaPerforated:
        paper = 0x03;
        break;
    default:
        break;
    }
    if (paper >= 0) {
        static const unsigned char kPaper[] = {0x10, 0xFF, 0x10, 0x03};
        cmd.AddBuffer(kPaper, sizeof kPaper);
        cmd.AddByte(static_cast<unsigned char>(paper));
    }

    // ESC @, then one 00 byte.
    static const unsigned char kInit[] = {0x1B, 0x40, 0x00};
    cmd.AddBuffer(kInit, sizeof kInit);
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterPeriPage::PrintBMP(int xDpi, int yDpi, int widthBytes, int height, const void* data,
                                int len)
{
    // The printer takes the plain GS v 0 raster.
    CPrinterESCPOS::PrintBMP(xDpi, yDpi, widthBytes, height, data, len);
}

void CPrinterPeriPage::cmdEndPrint()
{
    static const unsigned char kCmd[] = {0x10, 0xFF, 0xFE, 0x45};
    CMyBuffer cmd;
    cmd.AddBuffer(kCmd, sizeof kCmd);
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterPeriPage::cmdDENSITY(int density)
{
    if (density < 0)
        return;
    if (density > kMaxDensity)
        density = kMaxDensity;
    static const unsigned char kCmd[] = {0x10, 0xFF, 0x10, 0x00};
    CMyBuffer cmd;
    cmd.AddBuffer(kCmd, sizeof kCmd);
    cmd.AddByte(static_cast<unsigned char>(density));
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

void CPrinterPeriPage::cmdCutLine()
{
    static const unsigned char kCmd[] = {0x10, 0x50};
    CMyBuffer cmd;
    cmd.AddBuffer(kCmd, sizeof kCmd);
    m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
}

CBaseRender::SlipBreak CPrinterPeriPage::Slips() const
{
    const int media = m_reg.iGap[0];
    return media == kMediaContinuous || media == kMediaRoll ? kSlipPerPage : kNoSlips;
}

void CPrinterPeriPage::OnPaintBmp()
{
    const int media = m_reg.iGap[0];

    // Recording paper prints only what is drawn: every blank row above and
    // below the content goes, the sides stay. The crop leaves fresh row
    // padding, which is whitened again before the inversion.
    if (media == kMediaRecording) {
        CropWhiteEdge(-1, -1, 0, 0);
        AdjustEffWidthBits();
    }

    // The prepared image has 1 = white; GS v 0 prints a set bit.
    Negative();
    m_buffer.InitBuffer(0);

    CMyBuffer raster;
    int widthBytes = 0;
    int height = 0;
    if (!PackRaster(raster, widthBytes, height) ||
        !ReservePage(raster.GetBufferLength(), height))
        return;

    cmdInit();
    cmdDENSITY(m_reg.iDensity);
    cmdAlignCenter();
    if (m_reg.iFeedBefore > 0)
        PrintAndFeedPaper(m_reg.iFeedBefore);
    if (m_reg.bInkOnly)
        PrintInk(widthBytes, height, raster.GetBuffer());
    else
        PrintBMP(m_iDpi, m_iDpi, widthBytes, height, raster.GetBuffer(),
                 raster.GetBufferLength());

    // Marked paper: GS FF moves to the next print start position.
    if (media == kMediaGap || media == kMediaBlackLine || media == kMediaPerforated) {
        static const unsigned char kNextMark[] = {0x1D, 0x0C};
        CMyBuffer cmd;
        cmd.AddBuffer(kNextMark, sizeof kNextMark);
        m_buffer.AddBuffer(cmd.GetBuffer(), cmd.GetBufferLength());
    }
    if (m_reg.iFeedAfter > 0)
        PrintAndFeedPaper(m_reg.iFeedAfter);
    if (media == kMediaContinuous || media == kMediaRoll)
        cmdCutLine();
    cmdEndPrint();

    WritePageCopies(m_buffer.GetBuffer(), m_buffer.GetBufferLength());
    m_buffer.InitBuffer(0);
}
