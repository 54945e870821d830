#include "Pacing.h"

namespace bandrill_app {

int Pacing::DrainMs(long long sent) const
{
    if (drainRate <= 0 || sent <= 0)
        return 0;
    const long long held = sent < bufferBytes ? sent : bufferBytes;
    const long long ms = held * 1000 / drainRate;
    return static_cast<int>(ms < maxDrainMs ? ms : maxDrainMs);
}

Pacing PacingForModel(int model)
{
    Pacing p;
    if (const PrinterFamily* family = FindPrinterFamily(model))
        static_cast<LinkPacing&>(p) = family->pacing;
    return p;
}

Pacing WithOverrides(Pacing pacing, const LinkOptions& link)
{
    if (link.chunk >= 0)
        pacing.chunk = link.chunk;
    if (link.pauseMs >= 0)
        pacing.pauseMs = link.pauseMs;
    if (link.drainMs >= 0) {
        pacing.maxDrainMs = link.drainMs;
        // A wait asked for where the family has no estimate: the printer's
        // buffer is taken as the bytes sent, worked off at 2 KiB a second.
        if (pacing.drainRate <= 0) {
            pacing.bufferBytes = 1 << 30;
            pacing.drainRate = 2048;
        }
    }
    if (link.timeoutSec > 0)
        pacing.timeoutSec = link.timeoutSec;
    return pacing;
}

} // namespace bandrill_app
