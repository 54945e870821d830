// Back end for TSPL label printers: every page becomes one self-contained
// TSPL job (label size, media and print settings, one BITMAP, PRINT) handed
// to the printer in a single write.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterTSPL : public CBaseRender {
public:
    CPrinterTSPL();
    ~CPrinterTSPL() override;

    void OnPaintBmp() override;

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
    void cmdPRINT(int m, int n);

    CMyBuffer m_buffer;

protected:
    void AddLine(CMyBuffer& cmd);

    // Whether m_buffer takes the BITMAP text with `payload` bytes and CR LF
    // without emptying itself at its content limit; traces when it does not.
    bool BitmapFits(const CMyBuffer& text, long long payload);

    // Compresses len bytes into a zlib stream (zlib's default level). Returns
    // a malloc'ed block that the caller frees, with its length in *outLen, or
    // null when the block cannot be allocated or compression fails.
    virtual unsigned char* CompressBitmap(const void* data, int len, int* outLen);
};
