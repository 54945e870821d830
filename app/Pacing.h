// How a link hands bytes to a printer that takes them slower than the
// link could send them: chunks with a pause between them, and at the end of
// a job a wait while the printer works off what it holds, so that the last
// lines print before the link is closed or the job is called completed.
#pragma once

#include "DeviceUri.h"
#include "PrinterFamilies.h"

namespace bandrill_app {

// The family's pacing (chunk, pause, what the printer holds) and the
// link's deadline.
struct Pacing : LinkPacing {
    int timeoutSec = 60; // a printer that takes no byte for this long fails the job

    // The end-of-job wait after sent bytes of the job have left the link.
    int DrainMs(long long sent) const;
};

// The defaults of the family of a model number (*cupsModelNumber), from
// its row in the family table; links to unknown models are not paced.
Pacing PacingForModel(int model);

// The family's pacing with a printer's overrides from its device URI.
Pacing WithOverrides(Pacing pacing, const LinkOptions& link);

} // namespace bandrill_app
