// Back end for PeriPage pocket printers: ESC/POS raster images wrapped in
// the printer's own start, density, media and end commands (prefix 0x10).
#pragma once

#include "PrinterESCPOS.h"

class CPrinterPeriPage : public CPrinterESCPOS {
public:
    // Highest density the printer takes.
    static constexpr int kMaxDensity = 5;

    CPrinterPeriPage();
    ~CPrinterPeriPage() override;

    void OnInit() override;
    void OnDestroy() override;
    void OnPaintBmp() override;
    // No cutter and no cash drawer: nothing is sent at the end of a job
    // but the further sets of collated copies.
    void OnEndDoc() override;

    // Start of job with the media mode of iGap[0], then ESC @.
    void cmdInit() override;
    void PrintBMP(int xDpi, int yDpi, int widthBytes, int height, const void* data,
                  int len) override;
    void cmdEndPrint() override;

    // Print density 0 to 5; nothing for a negative density (printer default),
    // anything above 5 is sent as 5.
    void cmdDENSITY(int density);
    // Continuous paper and rolls: tear-off line after the image.
    void cmdCutLine();
    // Continuous paper and rolls are torn off after every page; labels and
    // recording paper (trimmed at both ends anyway) have no slips.
    SlipBreak Slips() const override;
};
