// The page loop every front end runs: begin the job; for each page take its
// lines into the page assembler (halftoned as they arrive, with the back
// end's settings), then refuse the page with the reason the user sees, or
// load it, prepare it (the head width is fitted once, after rotation) and
// print it; count the pages; end the job. Cancellation is the job's.
//
// A front end that reads its pages itself hands over an IRasterSource and
// calls Run. One that is handed its pages a line at a time (the printer
// application) calls the steps: Begin, then per page BeginPage, AddLine
// for each line, EndPage, and End.
//
// The back end's settings must be read before Begin and stay as they are
// until End.
#pragma once

#include <string>

#include <cups/raster.h>

#include "BaseRender.h"
#include "MyBuffer.h"
#include "PageAssembler.h"
#include "RenderJob.h"

// A raster stream as the page loop reads it.
class IRasterSource {
public:
    virtual ~IRasterSource() {}
    // The next page's header; false at the end of the stream.
    virtual bool ReadHeader(cups_page_header2_t& header) = 0;
    // The next line of the page (bytes long); false when no more lines come.
    virtual bool ReadLine(unsigned char* line, unsigned bytes) = 0;
    // Drops the pixel data of a page whose lines are not taken.
    virtual void SkipPage(const cups_page_header2_t& header) = 0;
};

class CPrintJob {
public:
    // render prints for job; job counts the pages, takes the traces and
    // page messages and says whether the job was cancelled. Neither is
    // owned. Reports about the page go through render's own job.
    CPrintJob(CBaseRender& render, CRenderJob& job);
    CPrintJob(const CPrintJob&) = delete;
    CPrintJob& operator=(const CPrintJob&) = delete;

    // The whole job from source: Begin, the pages until the stream ends or
    // the job is cancelled (tested after each header and after each page,
    // so a started page is always finished), End.
    void Run(IRasterSource& source);

    void Begin();
    // Counts the page and starts taking its lines. Returns false when the
    // page is refused before any of its lines (a depth or size the core
    // cannot take): its lines are then dropped, and EndPage reports it.
    bool BeginPage(const cups_page_header2_t& header);
    // The page's next line; false when the page takes no more.
    bool AddLine(const void* line);
    // Finishes the page (missing lines are white, with a warning), refuses
    // it or prints it, and ends it. Returns whether it was printed.
    bool EndPage();
    // Whether the last page ended before all its lines came.
    bool PageCut() const;
    void End();

    int Pages() const { return m_job.Pages(); }
    bool IsCanceled() const { return m_job.IsCanceled(); }

    // One page whose lines were taken elsewhere: traces the header, loads
    // the page and prints it, or refuses it with the reason. Returns
    // whether it was printed.
    bool PrintPage(cups_page_header2_t& header, CPageAssembler& page);
    bool PrintPage(cups_page_header2_t& header, const CMyBuffer& lines);

    // Why a page whose image could not be made is not printed, for the
    // user ("its raster has 16 bits per pixel; ...").
    static std::string RefusalReason(const cups_page_header2_t& header);

private:
    template <class Load>
    bool PrintLoaded(cups_page_header2_t& header, const Load& load);
    void TraceHeader(const cups_page_header2_t& header);
    void ReportCutPage();

    CBaseRender& m_render;
    CRenderJob& m_job;
    cups_page_header2_t m_header;
    CPageAssembler m_page;
    int m_pageNumber = 0;
};
