// The render object every printer back end is: page image, settings, the
// lent page header and PPD handle, the per-document and per-page hooks, and
// the page image preparation shared by all back ends. Output and traces go
// to the job the front end attached (none: both are dropped).
#pragma once

#include <string>
#include <vector>

#include "DibImage.h"
#include "MyBuffer.h"
#include "MyPrinterData.h"
#include "RenderJob.h"
#include "StdRefPtr.h"

struct ppd_file_s;
struct cups_page_header2_s;
class CPageAssembler;

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
    virtual void AddLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual void GetPrinterParameters();

    // Tells the user, through the job, what they should know about the job
    // (formatted as printf; nothing without a job).
    void Report(CRenderJob::Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Tells the user that the job's current page is not printed, and why
    // (formatted as printf): an error naming the page, the job goes on.
    void RefusePage(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The job this object prints for; not owned, may be null.
    void SetJob(CRenderJob* job) { m_job = job; }
    CRenderJob* GetJob() const { return m_job; }

    // Copies the back end makes itself, set by the front end before the
    // first page: each page `copies` times in a row, or with collate the
    // pages of the job in order, `copies` times over. Below 1 counts as 1.
    void SetCopies(int copies, bool collate);
    int Copies() const { return m_iCopies; }
    bool Collate() const { return m_bCollate; }

    void SetModelName(const char* name);
    const std::string& GetModelName() const { return m_strModelName; }

    // Millimetres to dots at the page's horizontal resolution, rounded up
    // (a fraction below 0.0001 dot is dropped).
    int mm_2_dots(int mm) const;
    // A length in hundredths of a millimetre (a fine offset) in dots at the
    // page's horizontal resolution, rounded to the nearest dot.
    int FineOffsetDots(int hundredths) const;

    // A page as a front end hands it over: header, then the page's lines
    // (cupsHeight rows of cupsBytesPerLine bytes, white high). Returns false
    // when no page image could be made of them; the image is then empty
    // unless the lines were complete.
    bool LoadPage(cups_page_header2_s* header, const CMyBuffer& lines);
    // The same for a finished page of the assembler (PageAssembler.h has the
    // call sequence): a one-bit page becomes the page image, whose tone
    // steps AdjustImage then leaves out; lines kept as they came are loaded
    // as above. A refused page loads nothing and returns false.
    bool LoadPage(cups_page_header2_s* header, CPageAssembler& page);
    // The page hooks for the loaded page: start, prepare, paint, end.
    void PrintPage();

    // Page image preparation: the once-per-job OnInit, then AdjustImage and
    // FitHeadWidth.
    void PreparePage();
    void AdjustImage();
    // Cuts a page image wider than the print head (m_reg.iHeadDots) to the
    // head's width, keeping its left part, and warns the user the first
    // time in the job.
    void FitHeadWidth();
    void CropWhiteEdge(int top, int bottom, int left, int right);
    // Moves what the one-bit page image shows dx dots to the right and dy
    // dots down (negative: left, up), keeping the image's size: what leaves
    // it is dropped, what comes in is white. Other depths are left alone.
    void ShiftImage(int dx, int dy);

    // How the pages of a job follow one another on the paper, for the
    // blank above a slip's first ink (m_reg.iTopMargin): labels (no slips:
    // pages are left alone), one slip for the whole job, or a slip per page
    // (cut or torn after each).
    enum SlipBreak { kNoSlips, kSlipPerJob, kSlipPerPage };
    virtual SlipBreak Slips() const { return kNoSlips; }
    // Brings the page to the top margin of its slip: the first page of a
    // slip loses its blank rows above the first ink beyond the margin; a
    // later page of the same slip gets back the blank the page before it
    // lost below its last ink, so the pages keep their spacing.
    void FitSlip();
    void Negative();
    void AdjustEffWidthBits();

    CDibImage m_image;
    // The page image came one bit a dot from intake, its grey conversion,
    // tone table and halftone done with the job's settings.
    bool m_bToneDone = false;
    int m_iDpi;
    tagREGSTRUCT m_reg;
    tagREGSTRUCTWITHALFTONE m_regHalftone;
    tagWaterMarkConfig m_waterMark;
    ppd_file_s* m_ppd;
    cups_page_header2_s* m_header;
    bool m_bInit;
    std::string m_strModelName;

protected:
    // Copies for the back ends that repeat a page's stream: writes it as
    // many times as uncollated copies ask, or once and keeps it for the
    // further sets of collated copies (WriteKeptCopies).
    void WritePageCopies(const void* data, int length);
    // Copies made as whole sets: keeps a page's stream for the sets after
    // the first.
    // A job whose kept streams would pass kMaxKeptCopies keeps nothing more
    // and its further sets are not printed (the user is told).
    void KeepForCopies(const void* data, int length);
    // Writes the kept pages Copies() - 1 more times, each set followed by
    // the tail bytes, and lets them go. Nothing when the job was cancelled.
    void WriteKeptCopies(const void* tail = nullptr, int tailLength = 0);
    void DropKeptCopies();
    bool HasKeptCopies() const { return !m_keptCopies.empty(); }
    bool IsJobCanceled() const { return m_job && m_job->IsCanceled(); }

    static const long long kMaxKeptCopies = 256LL << 20;

    CRenderJob* m_job = nullptr;
    bool m_bHeadWarned = false;
    // Rows and columns the last CropWhiteEdge removed: top, bottom, left, right.
    long m_cropped[4] = {0, 0, 0, 0};
    // Pages of the current slip so far, and the blank rows the last one
    // lost below its ink.
    int m_slipPages = 0;
    long m_slipCarry = 0;
    int m_iCopies = 1;
    bool m_bCollate = false;
    std::vector<unsigned char> m_keptCopies;
    bool m_bKeptTooMuch = false;
};
