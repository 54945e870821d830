// The print job: arguments, raster stream, PPD, the back end chosen by the
// model number and the exit status; the page loop is the core's
// (CPrintJob), cancellation the SIGTERM flag.
#pragma once

#include <csignal>

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
};
