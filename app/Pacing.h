// How a link hands bytes to a printer that takes them slower than the
// link could send them: chunks with a pause between them, and at the end of
// a job a wait while the printer works off what it holds, so that the last
// lines print before the link is closed or the job is called completed.
#pragma once

#include "DeviceUri.h"

namespace bandrill_app {

struct Pacing {
    int chunk = 0;       // bytes per write; 0: as they come
    int pauseMs = 0;     // after each chunk
    int bufferBytes = 0; // what the printer holds once the link has drained
    int drainRate = 0;   // bytes a second it works that off
    int maxDrainMs = 0;  // the longest end-of-job wait
    int timeoutSec = 60; // a printer that takes no byte for this long fails the job

    // The end-of-job wait after sent bytes of the job have left the link.
    int DrainMs(long long sent) const;
};

// The family's defaults by model number (*cupsModelNumber); links to
// unknown models are not paced. (These belong in the family's row of the
// family table once it carries per-family data.)
Pacing PacingForModel(int model);

// The family's pacing with a printer's overrides from its device URI.
Pacing WithOverrides(Pacing pacing, const LinkOptions& link);

} // namespace bandrill_app
