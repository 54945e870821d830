// Back end for CPCL printers: every page becomes one CPCL label (header,
// page width, one CG graphic, FORM on gap or black-line media, PRINT). Each
// command goes to the printer in its own write.
#pragma once

#include "BaseRender.h"
#include "InkAreas.h"
#include "MyBuffer.h"

class CPrinterCPCL : public CBaseRender {
public:
    CPrinterCPCL();
    ~CPrinterCPCL() override;

    void OnPaintBmp() override;
    // Collated copies: the held label, then the further sets.
    void OnEndDoc() override;

    // What a CG command of an area costs besides its rows, for choosing the
    // areas of ink (m_reg.bInkOnly): "CG ", four spaces and the one before
    // the data, CR LF, and about ten digits.
    static constexpr int kCgCommandBytes = 20;

    // The label header's horizontal offset in dots: 64 a step of
    // AdjustHorizontal, plus the fine offset where one is given (then
    // never below 0).
    int HeaderOffset() const;
    void cmdBegin();
    void cmdPageWidth();
    void cmdCG();
    // One area of the page image, placed where it is on the label.
    void cmdCG(const tagInkRect& area);
    void cmdFORM();
    void cmdPrint();

private:
    void PaintLabel();
    // Every command goes through here: to the printer, or into m_pCollect.
    void Out(const void* data, int length);
    void WriteHeldLabel();

    int m_iQuantity = 1;
    CMyBuffer* m_pCollect = nullptr;
    // Collated copies: the last label, written when the next one comes.
    CMyBuffer m_held;
    int m_iLabelsKept = 0;
};
