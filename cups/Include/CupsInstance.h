// The print job: arguments, raster stream, PPD, the back end chosen by the
// model number, the page loop, cancellation and the exit status.
#pragma once

#include <csignal>
#include <functional>

#include "BaseRender.h"
#include "MyBuffer.h"
#include "StdRefPtr.h"

struct ppd_file_s;
struct cups_page_header2_s;
class CPageAssembler;

// The one back end of this job; released at process exit.
extern CStdRefPtr<CBaseRender> g_pRender;
extern int ModelNumber;
extern int Page;
extern volatile sig_atomic_t Canceled;

void CancelJob(int signal);

class CCupsInstance {
public:
    CCupsInstance() {}
    virtual ~CCupsInstance() {}

    int Run(int argc, char** argv);
    void StartPage(ppd_file_s* ppd, cups_page_header2_s* header, const CMyBuffer& lines);
    void StartPage(ppd_file_s* ppd, cups_page_header2_s* header, CPageAssembler& page);
    void EndPage(ppd_file_s* ppd, cups_page_header2_s* header);

private:
    // Traces the header, loads the page with load and prints it.
    void StartPage(ppd_file_s* ppd, cups_page_header2_s* header,
                   const std::function<bool(CBaseRender&)>& load);
};
