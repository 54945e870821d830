// Back end for ESC/POS receipt printers: each page is one raster image
// (GS v 0) between an initialise/centre prologue and a feed/cut epilogue,
// handed to the printer in one write.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterESCPOS : public CBaseRender {
public:
    // Largest width in bytes and height in rows one GS v 0 command carries.
    static constexpr int kMaxRasterWidthBytes = 0xFFFF;
    static constexpr int kMaxRasterRows = 0xFFFF;
    // Largest dot count one ESC J command feeds.
    static constexpr int kMaxFeedDots = 0xFF;
    // GS v 0 m xL xH yL yH: the bytes before each band's rows.
    static constexpr int kRasterHeaderBytes = 8;
    // Room kept for the short commands around a page's image (initialise,
    // align, feeds, cut): a few dozen bytes; more only saves a regrowth.
    static constexpr int kCommandRoom = 256;

    CPrinterESCPOS();
    ~CPrinterESCPOS() override;

    void OnInit() override;
    void OnDestroy() override;
    void OnPaintBmp() override;

    // Printer commands; each appends its bytes to m_buffer. The slot order
    // is fixed: derived back ends replace some of them.
    virtual void cmdInit();
    virtual void cmdAlignCenter();
    virtual void cmdCutPaper();
    // Feeds mm millimetres at the page resolution, in ESC J steps of at most
    // 255 dots.
    virtual void PrintAndFeedPaper(int mm);
    // GS v 0 raster image of height rows of widthBytes bytes each (a set bit
    // prints). Images taller than 65535 rows go out as several commands.
    virtual void PrintBMP(int xDpi, int yDpi, int widthBytes, int height, const void* data,
                          int len);
    virtual void cmdEndPrint();

    // The page's byte stream; empty between pages.
    CMyBuffer m_buffer;

protected:
    // Packs the first (width + 7) / 8 bytes of every row of the page image
    // into raster, dropping the row stride padding. Fails (with a trace)
    // when the rows are too wide for GS v 0 or the memory is not there.
    bool PackRaster(CMyBuffer& raster, int& widthBytes, int& height);
    // Makes room in m_buffer for a page carrying dataLen raster bytes in
    // height rows, so that the appends that follow cannot fail half-way.
    bool ReservePage(int dataLen, int height);
};
