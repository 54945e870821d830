// The render object every printer back end is: page image, settings, the
// lent CUPS handles, the per-document and per-page hooks, and the page image
// preparation shared by all back ends.
#pragma once

#include <string>

#include "DibImage.h"
#include "MyPrinterData.h"
#include "StdRefPtr.h"

struct ppd_file_s;
struct cups_page_header2_s;

class CBaseRender : public TObjRefImpl<IObjRef> {
public:
    CBaseRender();
    ~CBaseRender() override;

    virtual void OnStartDoc(unsigned long flags);
    virtual void OnEndDoc();
    virtual void OnInit();
    virtual void OnDestroy();
    virtual void OnStartPage();
    virtual void OnEndPage();
    virtual void OnBeginBmp();
    virtual void OnEndBmp();
    virtual void OnPaintBmp();
    virtual void WriteSpool(const void* data, int length);
    virtual void AddLog(const char* format, ...);
    virtual void GetPrinterParameters();

    void SetModelName(const char* name);
    const std::string& GetModelName() const { return m_strModelName; }

    // Millimetres to dots at the page's horizontal resolution, rounded up
    // (a fraction below 0.0001 dot is dropped).
    int mm_2_dots(int mm) const;

    // Page image preparation.
    void AdjustImage();
    void CropWhiteEdge(int top, int bottom, int left, int right);
    void Negative();
    void AdjustEffWidthBits();

    CDibImage m_image;
    int m_iDpi;
    tagREGSTRUCT m_reg;
    tagREGSTRUCTWITHALFTONE m_regHalftone;
    tagWaterMarkConfig m_waterMark;
    ppd_file_s* m_ppd;
    cups_page_header2_s* m_header;
    bool m_bInit;
    std::string m_strModelName;
};
