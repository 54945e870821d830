// Back end for CPCL printers: every page becomes one CPCL label (header,
// page width, one CG graphic, FORM on gap or black-line media, PRINT). Each
// command goes to the printer in its own write.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterCPCL : public CBaseRender {
public:
    CPrinterCPCL();
    ~CPrinterCPCL() override;

    void OnPaintBmp() override;

    // The label header's horizontal offset in dots: 64 a step of
    // AdjustHorizontal, plus the fine offset where one is given (then
    // never below 0).
    int HeaderOffset() const;
    void cmdBegin();
    void cmdPageWidth();
    void cmdCG();
    void cmdFORM();
    void cmdPrint();
};
