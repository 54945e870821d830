// Back end for ESC/POS receipt printers: each page is one raster image
// (GS v 0, or bands of m_reg.iBandRows rows) between an initialise/centre
// prologue and a feed/cut epilogue, handed to the printer in one write.
// With one cut per job the pages follow one another on one slip and the
// feed and cut are written at the end of the job; a cash drawer kick goes
// with the first page or after the last.
#pragma once

#include "BaseRender.h"
#include "InkAreas.h"
#include "MyBuffer.h"

// The rows of a page as GS v 0 sends them: the page image's own storage
// when its rows carry no padding bytes, otherwise a packed copy.
class CPackedRaster {
public:
    const unsigned char* GetBuffer() const { return m_data; }
    int GetBufferLength() const { return m_length; }

private:
    friend class CPrinterESCPOS;
    CMyBuffer m_copy;
    const unsigned char* m_data = nullptr;
    int m_length = 0;
};

class CPrinterESCPOS : public CBaseRender {
public:
    // Largest width in bytes and height in rows one GS v 0 command carries.
    static constexpr int kMaxRasterWidthBytes = 0xFFFF;
    static constexpr int kMaxRasterRows = 0xFFFF;
    // Largest dot count one ESC J command feeds.
    static constexpr int kMaxFeedDots = 0xFF;
    // GS v 0 m xL xH yL yH: the bytes before each band's rows.
    static constexpr int kRasterHeaderBytes = 8;
    // ESC J n: one feed command.
    static constexpr int kFeedBytes = 3;
    // ESC p m t1 t2: the drawer kick.
    static constexpr int kCashDrawerBytes = 5;
    // Room kept for the short commands around a page's image (initialise,
    // align, feeds, cut): a few dozen bytes; more only saves a regrowth.
    static constexpr int kCommandRoom = 256;

    CPrinterESCPOS();
    ~CPrinterESCPOS() override;

    void OnInit() override;
    void OnDestroy() override;
    void OnPaintBmp() override;
    // The end of a job cut once (m_reg.iCutMode CUT_JOB): the feed and cut,
    // also when the job was cancelled; then a cash drawer kick that is to
    // follow the last page, unless the job was cancelled.
    void OnEndDoc() override;

    // Printer commands; each appends its bytes to m_buffer. The slot order
    // is fixed: derived back ends replace some of them.
    virtual void cmdInit();
    virtual void cmdAlignCenter();
    // GS V 49 (partial cut where the paper stands), or with m_reg.bCutFeed
    // GS V 66 0 (feed to the cutter, then cut).
    virtual void cmdCutPaper();
    // Feeds mm millimetres at the page resolution, in ESC J steps of at most
    // 255 dots.
    virtual void PrintAndFeedPaper(int mm);
    // GS v 0 raster image of height rows of widthBytes bytes each (a set bit
    // prints). Images taller than BandRows() go out as several commands.
    virtual void PrintBMP(int xDpi, int yDpi, int widthBytes, int height, const void* data,
                          int len);
    virtual void cmdEndPrint();
    // ESC p: pulse to open cash drawer 1 or 2 (50 ms on, 500 ms off).
    void cmdCashDrawer(int drawer);
    // Rows per GS v 0 command: m_reg.iBandRows, at most 65535; 0 is 65535.
    int BandRows() const;
    // A slip per page when the paper is cut after every page, else the
    // job's pages follow one another on one slip.
    SlipBreak Slips() const override;
    // Feeds the paper over `rows` blank raster rows (ESC J, at most 255
    // dots each); nothing for 0 or fewer.
    void FeedRows(int rows);
    // The raster rows of the page (m_reg.bInkOnly): the bands of rows that
    // carry ink, the paper fed over the blank rows between, before and
    // after them. rows holds height rows of widthBytes bytes, the page image
    // inverted (a set bit prints).
    void PrintInk(int widthBytes, int height, const unsigned char* rows);

    // The page's byte stream; empty between pages.
    CMyBuffer m_buffer;

protected:
    // Packs the first (width + 7) / 8 bytes of every row of the page image
    // into raster, dropping the row stride padding. Fails (with a trace)
    // when the rows are too wide for GS v 0 or the memory is not there.
    bool PackRaster(CMyBuffer& raster, int& widthBytes, int& height);
    // The same without a copy where the image rows are packed already; the
    // image must stay as it is while raster is in use.
    bool PackRaster(CPackedRaster& raster, int& widthBytes, int& height);
    // Makes room in m_buffer for a page carrying dataLen raster bytes in
    // height rows, so that the appends that follow cannot fail half-way.
    bool ReservePage(int dataLen, int height);
    // Dots the paper moves for one raster row: 2 in the double-height mode
    // of a 100 dpi page, otherwise 1.
    int RowDots() const;
    // Writes the page's stream in m_buffer with its copies; the drawer kick
    // at kickAt (-1: none) goes with the first copy only.
    void WritePage(int kickAt);

    // Pages written in this job.
    int m_pagesSent = 0;
};
