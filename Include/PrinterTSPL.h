// Back end for TSPL label printers: every page becomes one self-contained
// TSPL job (label size, media and print settings, one BITMAP, PRINT) handed
// to the printer in a single write.
#pragma once

#include "BaseRender.h"
#include "InkAreas.h"
#include "MyBuffer.h"

class CPrinterTSPL : public CBaseRender {
public:
    CPrinterTSPL();
    ~CPrinterTSPL() override;

    void OnPaintBmp() override;
    // Collated copies: the held PRINT line, then the further sets.
    void OnEndDoc() override;

    // What a BITMAP command costs besides its rows, for choosing the areas
    // of ink (m_reg.bInkOnly): "BITMAP ", four commas, the mode "1," and
    // CR LF are 15 bytes, the four numbers about ten digits.
    static constexpr int kBitmapCommandBytes = 25;

    // Unit codes of the length-carrying commands.
    enum { UNIT_MM = 1, UNIT_DOT = 2 };

    // Each command appends its text line(s) to m_buffer; none writes to the
    // printer. Integers are written as "%d", reals as "%.2lf" with a '.'
    // point, items separated by ',' and every line ends in CR LF.
    void cmdSIZE(double w, double h, int unit);
    void cmdSetRibbon(bool on);
    void cmdSetPeel(bool on);
    void cmdREFERENCE(int x, int y);
    // REFERENCE x,y in dots, as given.
    void cmdREFERENCEDots(int x, int y);
    // SHIFT y: moves where the printer starts printing the label, y dots
    // down the paper (negative: up).
    void cmdSHIFT(int y);
    void cmdGAP(int m, int n, int unit);
    void cmdBLINE(int m, int n, int unit);
    void cmdOFFSET(int n, int unit);
    void cmdDENSITY(int n);
    void cmdSPEED(int n);
    void setcAutoDotted(bool on);
    void setcPauseKey(bool on);
    void setcWaterMark(bool on);
    void cmdCLS();
    // Returns false, appending nothing, when m_buffer would have to grow
    // past its content limit to take the command with its payload (traced).
    bool cmdBITMAP(int x, int y, int widthBytes, int height, const void* data, int len);
    // The same for one area of the page image, placed where it is on the
    // page; the image itself is left as it is.
    bool cmdBITMAP(const tagInkRect& area);
    void cmdPRINT(int m, int n);

    CMyBuffer m_buffer;

protected:
    void AddLine(CMyBuffer& cmd);
    void BitmapText(CMyBuffer& cmd, int x, int y, int widthBytes, int height);
    // Appends cmd (the BITMAP text with its mode), len payload bytes and
    // CR LF, or nothing when they do not fit (false).
    bool AddBitmap(CMyBuffer& cmd, const void* payload, int len);
    // Mode 3 of len bytes in which a set bit prints: false when there is no
    // compressed block (nothing appended); otherwise sent says whether the
    // command fitted.
    bool AddCompressed(CMyBuffer& cmd, const void* inkHigh, int len, bool& sent);
    // Every area of the page image that carries ink, one BITMAP each.
    bool SendInk();
    void ReleaseHeldPrint(int copies);

    // Whether m_buffer takes the BITMAP text with `payload` bytes and CR LF
    // without emptying itself at its content limit; traces when it does not.
    bool BitmapFits(const CMyBuffer& text, long long payload);

    // Compresses len bytes into a zlib stream (zlib's default level, or with
    // m_regHalftone.bFastCompress its fastest form of it). Returns
    // a malloc'ed block that the caller frees, with its length in *outLen, or
    // null when the block cannot be allocated or compression fails.
    virtual unsigned char* CompressBitmap(const void* data, int len, int* outLen);
    // The fast form (RowDeflate), with the rows m_iBitmapRowBytes long.
    unsigned char* CompressFast(const unsigned char* data, unsigned long len, int* outLen);
    size_t m_iBitmapRowBytes = 0;

    // Collated copies: the last page's PRINT line is still to be written.
    bool m_bPrintHeld = false;
    int m_iPagesKept = 0;
};
