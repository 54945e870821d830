#include "Pacing.h"

#include "PrinterFamilies.h"

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
    switch (model) {
    case kModelPaperang:
    case kModelPeriPage:
        // Pocket printers print a few centimetres a second and show white
        // lines when data comes faster: 256-byte chunks 20 ms apart (50 ms
        // for PeriPage), and the link kept open until the printer has
        // printed what it holds.
        p.chunk = 256;
        p.pauseMs = model == kModelPeriPage ? 50 : 20;
        p.bufferBytes = 8192;
        p.drainRate = 2048;
        p.maxDrainMs = 5000;
        break;
    case kModelESCPOS:
    case kModelTSPL:
    case kModelCPCL:
        // Receipt printers take data as fast as a serial link brings it
        // and print 50 to 100 mm a second; label printers take a whole
        // label into memory before printing it.
        p.chunk = 4096;
        p.bufferBytes = 4096;
        p.drainRate = 16384;
        p.maxDrainMs = 2000;
        break;
    default:
        break;
    }
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
